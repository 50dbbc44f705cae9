#include "demux/pack_loop.hpp"

#include "demux/demux_common.hpp"
#include "demux/sector_source.hpp"
#include "output/staging_writer.hpp"

namespace packrift {

namespace {

// A DVD pack header is 14 bytes (no pack stuffing); the first PES packet follows.
constexpr std::size_t PACKET_START_OFFSET = 14;
constexpr std::size_t PACKET_LENGTH_OFFSET = 18;
constexpr std::size_t PACKET_LENGTH_FIELD_END = 20;  // the length counts the bytes after it
constexpr std::size_t PES_HEADER_LENGTH_OFFSET = 22;
constexpr std::size_t PES_HEADER_DATA_OFFSET = 23;
// Private stream 1 payloads begin with substream number, frame count and
// first access unit pointer.
constexpr std::size_t SUBSTREAM_HEADER_SIZE = 4;

std::size_t payload_start(const unsigned char* sector) {
    return PES_HEADER_DATA_OFFSET + sector[PES_HEADER_LENGTH_OFFSET];
}

void stage_span(StreamKind kind, NamedFile& file, const unsigned char* sector,
                PayloadSpan span, const PackLoopHooks& hooks) {
    const int accepted = stage_payload(kind, file, sector + span.offset, span.length);
    if (hooks.payload_accepted != nullptr) {
        hooks.payload_accepted(accepted);
    }
}

// Substream 0x80 + audio_no; compared as a difference so that any int is safe.
void route_private_stream_1(const unsigned char* sector, int audio_no, const PackLoopHooks& hooks,
                            StreamsFound& found) {
    const std::size_t start = payload_start(sector);
    if (audio_output.stream == nullptr || sector[start] - AC3_SUBSTREAM_BASE != audio_no) {
        return;
    }
    found.audio = true;
    stage_span(StreamKind::ac3_audio, audio_output, sector,
               payload_span(sector, start + SUBSTREAM_HEADER_SIZE), hooks);
}

void route_video(const unsigned char* sector, const PackLoopHooks& hooks, StreamsFound& found) {
    if (video_output.stream == nullptr) {
        return;
    }
    found.video = true;
    stage_span(StreamKind::video, video_output, sector, payload_span(sector, payload_start(sector)),
               hooks);
}

void handle_pack(const unsigned char* sector, int audio_no, const PackLoopHooks& hooks, StreamsFound& found) {
    switch (get_be32(sector, PACKET_START_OFFSET)) {
    case PRIVATE_STREAM_1_START_CODE:
        route_private_stream_1(sector, audio_no, hooks, found);
        break;
    case VIDEO_STREAM_0_START_CODE:
        route_video(sector, hooks, found);
        break;
    default:
        break;  // system headers, padding, other streams: nothing to extract
    }
}

}  // namespace

PayloadSpan payload_span(const unsigned char* sector, std::size_t start) {
    const std::size_t packet_end =
        PACKET_LENGTH_FIELD_END + (static_cast<std::size_t>(sector[PACKET_LENGTH_OFFSET]) << 8 |
                                   sector[PACKET_LENGTH_OFFSET + 1]);
    const std::size_t end = packet_end <= SECTOR_SIZE && packet_end >= start ? packet_end : SECTOR_SIZE;
    return {start, static_cast<int>(end - start)};
}

StreamsFound demux_packs(int audio_no, const PackLoopHooks& hooks) {
    StreamsFound found;
    if (hooks.run_begins != nullptr) {
        hooks.run_begins();
    }
    while (const unsigned char* sector = next_sector()) {
        if (get_be32(sector, 0) != PACK_START_CODE) {
            continue;
        }
        if (hooks.pack_found != nullptr) {
            hooks.pack_found();
        }
        handle_pack(sector, audio_no, hooks, found);
        if (hooks.pack_handled != nullptr) {
            hooks.pack_handled();
        }
    }
    return found;
}

}  // namespace packrift
