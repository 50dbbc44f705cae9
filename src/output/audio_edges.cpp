#include "output/audio_edges.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "output/audio_frames.hpp"
#include "output/lpcm_wav.hpp"
#include "output/staging_writer.hpp"

namespace packrift {

namespace {

// A stream whose first frame is not found in this many bytes is written
// as it came: no frame of any coding is that long (DTS's longest is 16 KB).
constexpr std::size_t MOST_BEFORE_A_FRAME = 65536;

struct Edge {
    bool on = false;
    AudioCoding coding = AudioCoding::ac3;
    Output* output = nullptr;
    bool begun = false;    // the first whole frame was found, or the stream is taken as it came
    bool in_sync = false;  // waiting begins on a frame header
    // Bytes of the stream from a frame's start (or, out of sync, as they
    // came) that are not yet known to be whole frames: less than a frame
    // between packets once in sync.
    std::vector<unsigned char> waiting;
    std::size_t searched = 0;  // MPEG audio: where the header search goes on
    // In sync, the size of the frame at waiting's start when its header was
    // read before the frame was whole (0: not read), so that the header of
    // each frame is read once.
    std::size_t known_size = 0;
    EdgeReport report;
};

std::vector<Edge> edges;  // by output slot

// Stages size bytes in pieces no longer than a packet's payload.
void put(Edge& edge, const unsigned char* data, std::size_t size) {
    while (size > 0 && !edge.output->file.failed) {
        const std::size_t piece = std::min(size, SECTOR_SIZE);
        edge.report.bytes += static_cast<std::uint64_t>(stage_payload(*edge.output, data, static_cast<int>(piece)));
        data += piece;
        size -= piece;
    }
}

bool frame_header_at(const Edge& edge, std::size_t position, AudioFrame& frame) {
    const ByteView view = view_of(edge.waiting.data() + position, edge.waiting.size() - position);
    return read_audio_frame(edge.coding, view, 0, frame) && frame.size > 0;
}

// MPEG audio carries no pointer: the first frame header in waiting that
// the next one confirms, each byte looked at once however the bytes come.
std::optional<std::size_t> find_frame_header(Edge& edge) {
    AudioFrame frame;
    const ByteView view = view_of(edge.waiting.data(), edge.waiting.size());
    for (; edge.searched + FRAME_HEADER_BYTES <= edge.waiting.size(); ++edge.searched) {
        switch (confirmed_frame(edge.coding, view, edge.searched, frame)) {
        case FrameCheck::found:
            return edge.searched;
        case FrameCheck::needs_more:
            return std::nullopt;
        case FrameCheck::none:
            break;
        }
    }
    return std::nullopt;
}

// The frame a packet's pointer names, when its header is sound or not yet
// all there (the frames that follow are checked as they come).
std::optional<std::size_t> pointed_frame(const Edge& edge, std::optional<std::size_t> anchor) {
    AudioFrame frame;
    if (!anchor || (*anchor + FRAME_HEADER_BYTES <= edge.waiting.size() && !frame_header_at(edge, *anchor, frame))) {
        return std::nullopt;
    }
    return anchor;
}

// The bytes before position leave waiting: before the first whole frame
// they are the tail of a frame cut at the title's start, passed over;
// later (out of sync) they are written as they came.
void let_go(Edge& edge, std::size_t position) {
    if (position == 0) {
        return;
    }
    edge.known_size = 0;
    if (edge.begun) {
        put(edge, edge.waiting.data(), position);
    } else {
        edge.report.cuts.start = true;
    }
    edge.waiting.erase(edge.waiting.begin(), edge.waiting.begin() + static_cast<std::ptrdiff_t>(position));
    edge.searched -= std::min(edge.searched, position);
}

// Out of sync: a frame begins where the packet's pointer names one
// (anchor, in waiting) or, for MPEG audio, at a sound header. Until one
// is found the bytes wait, those of a stream in which none is found
// written as they came; the bytes a header could still begin in stay.
void find_sync(Edge& edge, std::optional<std::size_t> anchor) {
    const std::optional<std::size_t> frame =
        edge.coding == AudioCoding::mpeg_audio ? find_frame_header(edge) : pointed_frame(edge, anchor);
    if (frame) {
        let_go(edge, *frame);
        edge.begun = true;
        edge.in_sync = true;
        return;
    }
    if (edge.begun || edge.waiting.size() > MOST_BEFORE_A_FRAME) {
        edge.begun = true;
        let_go(edge, edge.coding == AudioCoding::mpeg_audio ? edge.searched : edge.waiting.size());
    }
}

// Writes the whole frames at waiting's start; a header that is not sound
// puts the stream out of sync, all it holds then written as it came.
void write_whole_frames(Edge& edge) {
    std::size_t position = 0;
    std::size_t size = std::exchange(edge.known_size, 0);
    AudioFrame frame;
    while (edge.waiting.size() - position >= FRAME_HEADER_BYTES) {
        if (size == 0) {
            if (!frame_header_at(edge, position, frame)) {
                edge.in_sync = false;
                let_go(edge, edge.waiting.size());
                return;
            }
            size = frame.size;
        }
        if (size > edge.waiting.size() - position) {
            let_go(edge, position);
            edge.known_size = size;  // the frame now at waiting's start
            return;
        }
        position += size;
        size = 0;
    }
    let_go(edge, position);
}

// LPCM's units are a few hundred bytes, so its first packet names one;
// one that does not is taken as it came.
int edge_lpcm_packet(Edge& edge, const unsigned char* sector, std::size_t start, const unsigned char* payload,
                     std::size_t length) {
    const std::optional<std::size_t> unit =
        edge.begun ? std::nullopt : first_access_unit(view_of(sector + start, SUBSTREAM_HEADER_SIZE), length);
    edge.begun = true;
    if (!unit || *unit <= LPCM_HEADER_SIZE) {
        const int accepted = stage_payload(*edge.output, payload, static_cast<int>(length));
        edge.report.bytes += static_cast<std::uint64_t>(accepted);
        return accepted;
    }
    edge.report.cuts.start = true;
    // The samples from the first unit on, after the packet's own LPCM header.
    std::array<unsigned char, SECTOR_SIZE> packet;
    std::copy_n(payload, LPCM_HEADER_SIZE, packet.begin());
    std::copy(payload + *unit, payload + length, packet.begin() + LPCM_HEADER_SIZE);
    const int accepted =
        stage_payload(*edge.output, packet.data(), static_cast<int>(LPCM_HEADER_SIZE + length - *unit));
    edge.report.bytes += static_cast<std::uint64_t>(accepted);
    return accepted;
}

}  // namespace

void start_audio_edges(const std::vector<bool>& edged) {
    edges.assign(edged.size(), Edge{});
    for (std::size_t slot = 0; slot < edged.size(); ++slot) {
        edges[slot].on = edged[slot];
    }
}

bool audio_edged(const Output& output) {
    return output.slot < edges.size() && edges[output.slot].on;
}

int edge_audio_packet(Output& output, const unsigned char* sector, std::size_t start, std::size_t payload_offset,
                      int length) {
    Edge& edge = edges[output.slot];
    edge.output = &output;
    edge.coding = frame_coding(output.kind);
    const unsigned char* payload = sector + payload_offset;
    const auto size = static_cast<std::size_t>(std::max(length, 0));
    if (edge.coding == AudioCoding::lpcm) {
        return edge_lpcm_packet(edge, sector, start, payload, size);
    }
    std::optional<std::size_t> anchor;
    if (edge.coding != AudioCoding::mpeg_audio) {
        if (const std::optional<std::size_t> unit = first_access_unit(view_of(sector + start, SUBSTREAM_HEADER_SIZE), size)) {
            anchor = edge.waiting.size() + *unit;
        }
    }
    edge.waiting.insert(edge.waiting.end(), payload, payload + size);
    if (!edge.in_sync) {
        find_sync(edge, anchor);
    }
    if (edge.in_sync) {
        write_whole_frames(edge);
    }
    return length;
}

void end_audio_edges() {
    for (Edge& edge : edges) {
        // One pass: a later reading without a title cuts nothing.
        const bool on = std::exchange(edge.on, false);
        if (!on || edge.waiting.empty()) {
            continue;
        }
        if (edge.in_sync) {
            edge.report.cuts.end = true;
        } else {
            put(edge, edge.waiting.data(), edge.waiting.size());
        }
        edge.waiting.clear();
    }
}

const EdgeReport& edge_report(const Output& output) {
    static const EdgeReport none;
    return output.slot < edges.size() ? edges[output.slot].report : none;
}

}  // namespace packrift
