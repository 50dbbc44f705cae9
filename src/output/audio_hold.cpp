#include "output/audio_hold.hpp"

#include <algorithm>
#include <array>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "output/audio_frames.hpp"
#include "output/lpcm_wav.hpp"
#include "output/silence_frames.hpp"
#include "output/staging_writer.hpp"
#include "output/wav_output.hpp"

namespace packrift {

namespace {

// A queue that grows past this writes its oldest frames as they came: the
// video it waits for is not there (a part without pictures), and a part's
// last VOBUs never carry so much audio ahead of their video.
constexpr std::size_t HOLD_LIMIT = 2 * STAGE_CAPACITY;
// Held bytes are moved to the front of the queue's buffer only once this
// many have been written out, so that a frame costs no move of the rest.
constexpr std::size_t COMPACT_AFTER = 65536;
// DVD's LPCM frame: 1/600 s.
constexpr int LPCM_FRAMES_PER_SECOND = 600;
constexpr int BITS_PER_BYTE = 8;

struct HeldFrame {
    std::size_t size = 0;
    bool timed = false;  // false: bytes of no frame found, written as they came
    std::size_t part = 0;
    std::uint64_t pts = 0;  // of the packet that times it
    Ticks after;            // its time after that PTS
};

// A packet's PTS and where it applies: the frame that starts at position
// (exact), or for MPEG audio the first frame that starts at or after it.
struct Anchor {
    std::uint64_t position = 0;
    std::uint64_t pts = 0;
    std::size_t part = 0;
    bool exact = true;
};

struct Hold {
    bool on = false;
    AudioCoding coding = AudioCoding::ac3;
    Output* output = nullptr;
    // The bytes held, from stream position base at bytes[head] to received.
    std::vector<unsigned char> bytes;
    std::size_t head = 0;
    std::uint64_t base = 0;
    std::uint64_t received = 0;
    std::uint64_t parsed_to = 0;  // frames covers [base, parsed_to)
    // The frame whose header at parsed_to was read before the frame was
    // whole, so that each header is read once; none once those bytes go.
    std::optional<AudioFrame> read_ahead;
    std::deque<HeldFrame> frames;
    std::deque<Anchor> anchors;
    bool in_sync = false;
    HeldFrame next;  // the time of the frame that starts at parsed_to
    Ticks duration;
    Ticks half_duration;  // found once: release looks at it for every frame, at every video PTS
    bool known_duration = false;
    // After a join, until the next part's first frame is written.
    bool entering = false;
    Ticks lead;
    // How far the file stays behind the title's clock after gaps left
    // unfilled: each later join finds that lag again, and counts only what
    // it adds.
    Ticks behind;
    // Whether anything was written; the first frame written, and the
    // frames written from it on.
    bool begun = false;
    bool wrote_timed = false;
    HeldFrame first;
    std::int64_t frames_written = 0;
    // LPCM: the stream's format and a header in it, for the samples held.
    LpcmStreamFormat format;
    std::array<unsigned char, LPCM_HEADER_SIZE> lpcm_header{};
    std::uint64_t samples_taken = 0;
    HoldReport report;
};

std::vector<Hold> audio_holds;  // by output slot

std::size_t held_bytes(const Hold& hold) {
    return hold.bytes.size() - hold.head;
}

const unsigned char* at_position(const Hold& hold, std::uint64_t position) {
    return hold.bytes.data() + hold.head + (position - hold.base);
}

// The frame that starts at position, when its header is sound.
bool frame_at(const Hold& hold, std::uint64_t position, AudioFrame& frame) {
    if (hold.coding == AudioCoding::lpcm) {
        const LpcmFormat& format = hold.format.format;
        frame.sample_rate = format.sample_rate;
        frame.samples = format.sample_rate / LPCM_FRAMES_PER_SECOND;
        frame.size = static_cast<std::size_t>(frame.samples * format.channels * format.bits / BITS_PER_BYTE);
        return frame.size > 0;
    }
    const ByteView view = view_of(at_position(hold, position), static_cast<std::size_t>(hold.received - position));
    return read_audio_frame(hold.coding, view, 0, frame) && frame.size > 0;
}

FrameCheck confirmed_frame_at(const Hold& hold, std::uint64_t position, AudioFrame& frame) {
    const ByteView view = view_of(at_position(hold, position), static_cast<std::size_t>(hold.received - position));
    return confirmed_frame(hold.coding, view, 0, frame);
}

// Stages size bytes of the stream, in pieces no longer than a packet's.
void put(Hold& hold, const unsigned char* data, std::size_t size) {
    while (size > 0 && !hold.output->file.failed) {
        if (hold.coding == AudioCoding::lpcm) {
            const std::size_t piece = std::min(size, SECTOR_SIZE - LPCM_HEADER_SIZE);
            // The WAV knows the held header's format from the stream's first
            // packet: the samples go as they lie, the header not read again.
            std::optional<int> made = stage_wav_samples(*hold.output, hold.format.format, data, piece);
            if (!made) {
                std::array<unsigned char, SECTOR_SIZE> packet;
                std::copy(hold.lpcm_header.begin(), hold.lpcm_header.end(), packet.begin());
                std::copy_n(data, piece, packet.begin() + LPCM_HEADER_SIZE);
                made = stage_payload(*hold.output, packet.data(), static_cast<int>(piece + LPCM_HEADER_SIZE));
            }
            hold.report.bytes += static_cast<std::uint64_t>(*made);
            data += piece;
            size -= piece;
        } else {
            const std::size_t piece = std::min(size, SECTOR_SIZE);
            hold.report.bytes += static_cast<std::uint64_t>(
                stage_payload(*hold.output, data, static_cast<int>(piece)));
            data += piece;
            size -= piece;
        }
    }
}

void pop_front(Hold& hold) {
    hold.head += hold.frames.front().size;
    hold.base += hold.frames.front().size;
    hold.frames.pop_front();
    if (hold.head >= COMPACT_AFTER && hold.head * 2 >= hold.bytes.size()) {
        hold.bytes.erase(hold.bytes.begin(), hold.bytes.begin() + static_cast<std::ptrdiff_t>(hold.head));
        hold.head = 0;
    }
}

void write_front(Hold& hold) {
    const HeldFrame& frame = hold.frames.front();
    hold.begun = true;
    put(hold, at_position(hold, hold.base), frame.size);
    if (frame.timed) {
        if (!hold.wrote_timed) {
            hold.wrote_timed = true;
            hold.first = frame;
        }
        ++hold.frames_written;
    }
    pop_front(hold);
}

void pass_over_front(Hold& hold) {
    hold.report.passed_over += hold.frames.front().timed ? 1 : 0;
    pop_front(hold);
}

// Bytes from parsed_to up to position belong to no frame found.
void add_loose(Hold& hold, std::uint64_t position) {
    if (position > hold.parsed_to) {
        hold.frames.push_back({static_cast<std::size_t>(position - hold.parsed_to), false, 0, 0, {}});
        hold.parsed_to = position;
        hold.read_ahead.reset();
    }
}

// The next anchor whose position has a sound frame header: the frames are
// followed from there. MPEG audio carries no pointer: its packet's first
// frame header is looked for. False when more bytes are needed.
bool resync(Hold& hold) {
    while (!hold.anchors.empty()) {
        const Anchor anchor = hold.anchors.front();
        if (anchor.position < hold.parsed_to) {
            hold.anchors.pop_front();
            continue;
        }
        std::uint64_t start = anchor.position;
        AudioFrame frame;
        if (!anchor.exact) {
            // A header the next one confirms: a false sync may lie in the bytes.
            FrameCheck check = FrameCheck::none;
            while (start + FRAME_HEADER_BYTES <= hold.received &&
                   (check = confirmed_frame_at(hold, start, frame)) == FrameCheck::none) {
                ++start;
            }
            // The search goes on from here when more bytes come: each byte is looked at once.
            hold.anchors.front().position = start;
            if (check == FrameCheck::needs_more) {
                return false;
            }
        }
        if (start + FRAME_HEADER_BYTES > hold.received) {
            return false;
        }
        hold.anchors.pop_front();
        if (!frame_at(hold, start, frame)) {
            continue;
        }
        add_loose(hold, start);
        hold.in_sync = true;
        hold.next = {0, true, anchor.part, anchor.pts, {}};
        return true;
    }
    return false;
}

// Cuts the bytes received into frames, each timed from the anchor before it.
void parse(Hold& hold) {
    for (;;) {
        if (!hold.in_sync && !resync(hold)) {
            return;
        }
        while (!hold.anchors.empty() && hold.anchors.front().position <= hold.parsed_to) {
            const Anchor& anchor = hold.anchors.front();
            if (anchor.position == hold.parsed_to || !anchor.exact) {
                hold.next = {0, true, anchor.part, anchor.pts, {}};
            }
            hold.anchors.pop_front();
        }
        AudioFrame frame;
        if (hold.received - hold.parsed_to < FRAME_HEADER_BYTES && hold.coding != AudioCoding::lpcm) {
            return;
        }
        if (hold.read_ahead) {
            frame = *std::exchange(hold.read_ahead, std::nullopt);
        } else if (!frame_at(hold, hold.parsed_to, frame)) {
            hold.in_sync = false;
            continue;
        }
        if (frame.size > hold.received - hold.parsed_to) {
            hold.read_ahead = frame;
            return;
        }
        if (!hold.known_duration) {
            hold.duration = frame_duration(frame);
            hold.half_duration = ticks_half(hold.duration);
            hold.known_duration = true;
        }
        hold.next.size = frame.size;
        hold.frames.push_back(hold.next);
        hold.parsed_to += frame.size;
        hold.next.after = ticks_plus(hold.next.after, hold.duration);
    }
}

Ticks time_of(const HeldFrame& frame, const TitleClock& clock) {
    return title_time(clock.parts[frame.part], frame.pts, frame.after);
}

// Where the output's file ends on the title's clock: its first frame's time
// and what it holds, less the lead of a part whose video could not hold it.
Ticks file_end(const Hold& hold, const TitleClock& clock) {
    return ticks_minus(ticks_plus(time_of(hold.first, clock), ticks_times(hold.duration, hold.frames_written)),
                       hold.lead);
}

// Silence of the front frame's kind, count frames of it; false where none
// can be made (DTS, MPEG audio Layer III).
bool write_silence(Hold& hold, std::int64_t count) {
    std::vector<unsigned char> frame;
    const HeldFrame& model = hold.frames.front();
    const ByteView view = view_of(at_position(hold, hold.base), model.size);
    bool made = true;
    switch (hold.coding) {
    case AudioCoding::ac3:
        made = ac3_silence_frame(view, 0, frame);
        break;
    case AudioCoding::mpeg_audio:
        made = mpeg_audio_silence_frame(view, 0, frame);
        break;
    case AudioCoding::lpcm:
        frame.assign(model.size, 0);
        break;
    case AudioCoding::dts:
        made = false;
        break;
    }
    if (!made) {
        return false;
    }
    for (std::int64_t i = 0; i < count; ++i) {
        put(hold, frame.data(), frame.size());
    }
    hold.frames_written += count;
    hold.report.filled += static_cast<std::uint64_t>(count);
    hold.report.filled_time = ticks_plus(hold.report.filled_time, ticks_times(hold.duration, count));
    return true;
}

// A part's sound that starts this long after its picture comes of broken
// timestamps, not of authoring (a join's gap is a fraction of a second):
// filled, a damaged disc's title could take hours of silence. It is left
// unfilled and named, as a DTS stream's gap is.
const Ticks MOST_SILENCE_AT_A_JOIN = whole(10 * TICKS_PER_SECOND);

// The next part's first frame at time t: passed over where the file
// already reaches half a frame past it, else written after the silence
// that puts it within a frame of its time.
void enter_part(Hold& hold, const Ticks& time, const TitleClock& clock) {
    const Ticks half = hold.half_duration;
    const Ticks end = file_end(hold, clock);
    if (!ticks_before(end, ticks_plus(time, half))) {
        pass_over_front(hold);
        return;
    }
    const Ticks gap = ticks_minus(time, end);
    Ticks behind;
    if (!ticks_before(gap, hold.duration)) {
        const std::int64_t count = ticks_floor(Ticks{gap.numerator * hold.duration.denominator,
                                                      gap.denominator * hold.duration.numerator});
        if (ticks_before(MOST_SILENCE_AT_A_JOIN, gap) || !write_silence(hold, count)) {
            // Less than a frame further behind is kept for a later join to count.
            const Ticks further = ticks_minus(gap, hold.behind);
            behind = ticks_before(gap, hold.behind) ? gap : hold.behind;
            if (!ticks_before(further, hold.duration)) {
                hold.report.missing = ticks_plus(hold.report.missing, further);
                ++hold.report.joins_missing;
                behind = gap;
            }
        }
    }
    hold.behind = behind;
    hold.entering = false;
}

// Bytes before the first whole frame of the title are the tail of one
// cut at its start, once a frame is found after them; false while that
// cannot be told yet.
bool pass_over_start(Hold& hold) {
    if (hold.begun || hold.frames.size() < 2 || hold.frames[0].timed || !hold.frames[1].timed) {
        return false;
    }
    hold.report.edges.start = true;
    pop_front(hold);
    return true;
}

// Writes the front frames that no join can cut any more.
void release(Hold& hold, const TitleClock& clock) {
    while (!hold.frames.empty()) {
        const HeldFrame& frame = hold.frames.front();
        if (!clock.following) {
            write_front(hold);
            continue;
        }
        if (!frame.timed && !hold.begun) {
            if (!pass_over_start(hold)) {
                return;
            }
            continue;
        }
        if (!frame.timed) {
            hold.entering ? pop_front(hold) : write_front(hold);
            continue;
        }
        if (!part_started(clock, frame.part)) {
            return;
        }
        const Ticks time = time_of(frame, clock);
        if (hold.entering) {
            enter_part(hold, time, clock);
            continue;
        }
        const PartClock& part = clock.parts[frame.part];
        if (!part.has_highest || !ticks_before(ticks_plus(time, hold.half_duration), part.highest)) {
            return;
        }
        write_front(hold);
    }
}

// A queue that has outgrown its bound writes its oldest frames as they came.
void keep_bound(Hold& hold) {
    if (held_bytes(hold) <= HOLD_LIMIT) {
        return;
    }
    if (hold.frames.empty()) {
        add_loose(hold, hold.received);
        hold.in_sync = false;
    }
    while (!hold.frames.empty() && held_bytes(hold) > HOLD_LIMIT / 2) {
        write_front(hold);
        hold.entering = false;
    }
}

// The packet's payload as stream bytes, and where its PTS applies.
struct Taken {
    const unsigned char* data = nullptr;
    std::size_t length = 0;
    std::optional<std::size_t> anchor;  // offset in data
    bool exact = true;
};

Taken take_lpcm(Hold& hold, const unsigned char* sector, std::size_t start, const unsigned char* payload,
                std::size_t length, int& accepted) {
    const bool first = !hold.format.known;
    if (!in_stream_format(hold.format, payload, length)) {
        accepted = stage_payload(*hold.output, payload, static_cast<int>(length));  // passed over, counted
        return {};
    }
    if (first) {
        // The WAV takes its format and header from the stream's first packet, as without a hold.
        std::copy_n(payload, LPCM_HEADER_SIZE, hold.lpcm_header.begin());
        stage_payload(*hold.output, payload, static_cast<int>(LPCM_HEADER_SIZE));
    }
    const std::size_t samples = length - LPCM_HEADER_SIZE;
    const std::uint64_t before = lpcm_converted_size(hold.format.format, hold.samples_taken);
    hold.samples_taken += samples;
    accepted = static_cast<int>(lpcm_converted_size(hold.format.format, hold.samples_taken) - before);
    Taken taken{payload + LPCM_HEADER_SIZE, samples, std::nullopt, true};
    const std::optional<std::size_t> unit = first_access_unit(view_of(sector + start, SUBSTREAM_HEADER_SIZE), length);
    if (unit && *unit >= LPCM_HEADER_SIZE) {
        taken.anchor = *unit - LPCM_HEADER_SIZE;
    }
    return taken;
}

Taken take_packet(Hold& hold, const unsigned char* sector, std::size_t start, const unsigned char* payload,
                  std::size_t length, int& accepted) {
    if (hold.coding == AudioCoding::lpcm) {
        return take_lpcm(hold, sector, start, payload, length, accepted);
    }
    accepted = static_cast<int>(length);
    if (hold.coding == AudioCoding::mpeg_audio) {
        return {payload, length, length > 0 ? std::optional<std::size_t>{0} : std::nullopt, false};
    }
    return {payload, length, first_access_unit(view_of(sector + start, SUBSTREAM_HEADER_SIZE), length), true};
}

}  // namespace

void start_audio_holds(const std::vector<bool>& held) {
    audio_holds.assign(held.size(), Hold{});
    for (std::size_t slot = 0; slot < held.size(); ++slot) {
        audio_holds[slot].on = held[slot];
    }
}

bool audio_held(const Output& output) {
    return output.slot < audio_holds.size() && audio_holds[output.slot].on;
}

int hold_audio_packet(Output& output, const unsigned char* sector, std::size_t start, std::size_t payload_offset,
                      int length, std::optional<std::uint64_t> pts, std::size_t part, const TitleClock& clock) {
    Hold& hold = audio_holds[output.slot];
    hold.output = &output;
    hold.coding = frame_coding(output.kind);
    int accepted = 0;
    const Taken taken =
        take_packet(hold, sector, start, sector + payload_offset, static_cast<std::size_t>(length), accepted);
    if (taken.data == nullptr) {
        return accepted;
    }
    if (pts && taken.anchor) {
        hold.anchors.push_back({hold.received + *taken.anchor, *pts, part, taken.exact});
    }
    hold.bytes.insert(hold.bytes.end(), taken.data, taken.data + taken.length);
    hold.received += taken.length;
    parse(hold);
    release(hold, clock);
    keep_bound(hold);
    return accepted;
}

void release_audio_holds(const TitleClock& clock) {
    for (Hold& hold : audio_holds) {
        if (hold.on && !hold.frames.empty()) {
            release(hold, clock);
        }
    }
}

// The bytes after the last whole frame parsed, when the frames were being
// followed: a frame cut short by a part's end or the title's.
bool cut_last_frame(Hold& hold) {
    if (!hold.in_sync || hold.received <= hold.parsed_to) {
        return false;
    }
    hold.bytes.resize(hold.bytes.size() - static_cast<std::size_t>(hold.received - hold.parsed_to));
    hold.received = hold.parsed_to;
    hold.read_ahead.reset();
    return true;
}

void end_part_of_audio_holds(std::size_t part, const Ticks& video_end, bool cut, const Ticks& lead,
                             const TitleClock& clock) {
    for (Hold& hold : audio_holds) {
        if (!hold.on) {
            continue;
        }
        // The part's last frame, cut short by its end; bytes of no frame
        // found are written as they came.
        if (cut && cut_last_frame(hold)) {
            ++hold.report.passed_over;
        }
        add_loose(hold, hold.received);
        while (!hold.frames.empty()) {
            const HeldFrame& frame = hold.frames.front();
            const bool past_end = cut && frame.timed && frame.part <= part && part_started(clock, frame.part) &&
                                  !ticks_before(time_of(frame, clock),
                                                ticks_minus(video_end, hold.half_duration));
            past_end ? pass_over_front(hold) : write_front(hold);
        }
        hold.in_sync = false;
        hold.anchors.clear();
        hold.entering = hold.wrote_timed;
        hold.lead = lead;
    }
}

void flush_audio_holds() {
    for (Hold& hold : audio_holds) {
        if (!hold.on) {
            continue;
        }
        add_loose(hold, hold.received);
        pass_over_start(hold);
        while (!hold.frames.empty()) {
            write_front(hold);
        }
        hold.in_sync = false;
        hold.anchors.clear();
        hold.entering = false;
    }
}

void end_audio_holds() {
    for (Hold& hold : audio_holds) {
        // LPCM's WAV conversion keeps whole sample groups itself.
        if (hold.on && hold.coding != AudioCoding::lpcm && cut_last_frame(hold)) {
            hold.report.edges.end = true;
        }
    }
    flush_audio_holds();
}

const HoldReport& hold_report(const Output& output) {
    static const HoldReport none;
    return audio_held(output) ? audio_holds[output.slot].report : none;
}

}  // namespace packrift
