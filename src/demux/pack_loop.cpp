#include "demux/pack_loop.hpp"

#include "demux/demux_common.hpp"
#include "demux/sector_source.hpp"
#include "output/staging_writer.hpp"

namespace packrift {

namespace {

constexpr std::size_t PACKET_LENGTH_OFFSET = 18;
constexpr std::size_t PACKET_LENGTH_FIELD_END = 20;  // the length counts the bytes after it

int stage_span(StreamKind kind, NamedFile& file, const unsigned char* sector, PayloadSpan span,
               const PackLoopHooks& hooks) {
    const int accepted = stage_payload(kind, file, sector + span.offset, span.length);
    if (hooks.payload_accepted != nullptr) {
        hooks.payload_accepted(accepted);
    }
    return accepted;
}

// Substream 0x80 + audio_no; compared as a difference so that any int is safe.
int route_private_stream_1(const unsigned char* sector, int audio_no, const PackLoopHooks& hooks,
                           StreamsFound& found) {
    const std::size_t start = payload_start(sector);
    if (audio_output.stream == nullptr || sector[start] - AC3_SUBSTREAM_BASE != audio_no) {
        return NOTHING_STAGED;
    }
    found.audio = true;
    return stage_span(StreamKind::ac3_audio, audio_output, sector,
                      payload_span(sector, start + SUBSTREAM_HEADER_SIZE), hooks);
}

int route_video(const unsigned char* sector, const PackLoopHooks& hooks, StreamsFound& found) {
    if (video_output.stream == nullptr) {
        return NOTHING_STAGED;
    }
    found.video = true;
    return stage_span(StreamKind::video, video_output, sector, payload_span(sector, payload_start(sector)),
                      hooks);
}

// Stages what the pack holds for an output; returns its length or NOTHING_STAGED.
int handle_pack(const unsigned char* sector, int audio_no, const PackLoopHooks& hooks, StreamsFound& found) {
    switch (get_be32(sector, PACKET_START_OFFSET)) {
    case PRIVATE_STREAM_1_START_CODE:
        return route_private_stream_1(sector, audio_no, hooks, found);
    case VIDEO_STREAM_0_START_CODE:
        return route_video(sector, hooks, found);
    default:
        return NOTHING_STAGED;  // system headers, padding, other streams: nothing to extract
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
        const int staged = handle_pack(sector, audio_no, hooks, found);
        if (hooks.pack_handled != nullptr) {
            hooks.pack_handled();
        }
        if (hooks.pack_examined != nullptr) {
            hooks.pack_examined(sector, staged);
        }
    }
    return found;
}

}  // namespace packrift
