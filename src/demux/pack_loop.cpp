#include "demux/pack_loop.hpp"

#include <bit>

#include "demux/sector_source.hpp"
#include "demux/title_timeline.hpp"
#include "output/audio_edges.hpp"
#include "output/audio_hold.hpp"
#include "output/staging_writer.hpp"
#include "output/vobsub_output.hpp"

namespace packrift {

namespace {

constexpr std::size_t PACKET_LENGTH_OFFSET = 18;
constexpr std::size_t PACKET_LENGTH_FIELD_END = 20;  // the length counts the bytes after it
constexpr std::size_t IDS = 256;  // stream ids and substream numbers are one byte
constexpr std::size_t VIDEO_STREAM_0_ID = FIRST_MPEG_VIDEO_ID;
// A navigation pack's first packet is the system header.
constexpr std::size_t SYSTEM_HEADER_ID = SYSTEM_HEADER_START_CODE & 0xFF;

// Which outputs take the packets of each stream id and of each private
// stream 1 substream, one bit per output kind, and the slot of each kind's
// output of each id: made once per run, so that a pack costs one look-up
// whatever was asked for.
struct Routes {
    std::array<unsigned, IDS> by_stream_id{};
    std::array<unsigned, IDS> by_substream{};
    std::array<std::array<std::uint16_t, IDS>, OUTPUT_KINDS> slot_by_stream_id{};
    std::array<std::array<std::uint16_t, IDS>, OUTPUT_KINDS> slot_by_substream{};
    std::size_t routed = 0;  // the outputs routed so far, from the list's start
    // A subpicture output needs the video's first PTS and picture size,
    // whether or not the video is written.
    bool watch_video = false;
    // A title whose timestamps may restart: its navigation packs and video
    // go to the timeline, and the held outputs' packets to their queues.
    bool timeline = false;
    std::array<bool, MOST_OUTPUTS> held{};
    // A title's other audio outputs begin and end on whole frames.
    std::array<bool, MOST_OUTPUTS> edged{};
    // -all on a file: each stream that no output takes is offered once.
    bool offer = false;
    std::array<bool, IDS> offered_stream_id{};
    std::array<bool, IDS> offered_substream{};
};

// The start codes' prefixes in the payload of the last video pack, marked by
// its trim for the timeline's count of pictures, which then needs not read
// every byte again.
PrefixMarks video_marks;

// Routes the outputs added to the list since the last call.
void add_routes(Routes& routes) {
    for (; routes.routed < output_count; ++routes.routed) {
        Output& output = outputs[routes.routed];
        if (output.file.stream == nullptr || output.id < 0) {
            continue;
        }
        const std::size_t k = index_of(output.kind);
        const bool substream = row_of(output.kind).substream;
        const auto id = static_cast<std::size_t>(output.id);
        (substream ? routes.by_substream : routes.by_stream_id)[id] |= 1U << k;
        (substream ? routes.slot_by_substream : routes.slot_by_stream_id)[k][id] =
            static_cast<std::uint16_t>(output.slot);
        routes.watch_video = routes.watch_video || output.kind == StreamKind::subpicture;
        routes.held[output.slot] = routes.timeline && audio_held(output);
        routes.edged[output.slot] = audio_edged(output);
        // The video is gathered in the read block and written from there just
        // before the block is read into again or released.
        if (output.kind == StreamKind::video) {
            stage_video_in_block(output);
            call_before_batch_ends(&video_batch_ends);
        }
    }
}

int stage_span(Output& output, const unsigned char* sector, std::size_t start, PayloadSpan span,
               const Routes& routes, const PackLoopHooks& hooks) {
    const int accepted = routes.held[output.slot]    ? timeline_audio(output, sector, start, span)
                         : routes.edged[output.slot] ? edge_audio_packet(output, sector, start, span.offset, span.length)
                         : routes.timeline && output.kind == StreamKind::video
                             ? stage_video_payload(output, sector + span.offset, span.length, video_marks)
                         : row_of(output.kind).form == PayloadForm::whole_pack
                             ? stage_subpicture_pack(output, sector, span.offset, span.length, packet_pts(sector))
                             : stage_payload(output, sector + span.offset, span.length);
    if (hooks.payload_accepted != nullptr) {
        hooks.payload_accepted(accepted);
    }
    return accepted;
}

// A stream met for the first time that no output takes: -all may open its
// outputs now; the kinds that take it then.
unsigned offer_stream(Routes& routes, const PackLoopHooks& hooks, bool substream, std::size_t id) {
    bool& offered = (substream ? routes.offered_substream : routes.offered_stream_id)[id];
    if (offered) {
        return 0;
    }
    offered = true;
    if (!hooks.stream_met(substream, static_cast<int>(id))) {
        return 0;
    }
    add_routes(routes);
    return (substream ? routes.by_substream : routes.by_stream_id)[id];
}

// What the timeline reads of a title: its navigation packs, and its video
// whether or not it is written: the payload as the video output took it
// (trimmed is its length then, and video_marks its trim's), or cut before
// padding here.
void follow_timeline(const unsigned char* sector, std::size_t id, std::size_t start, int trimmed) {
    if (id == SYSTEM_HEADER_ID) {
        timeline_nav_pack(sector);
    } else if (id == VIDEO_STREAM_0_ID) {
        const PayloadSpan span = payload_span(sector, start);
        timeline_video(sector, sector + span.offset,
                       trimmed != NOTHING_STAGED ? trimmed
                                                 : trim_before_padding(sector + span.offset, span.length, video_marks),
                       video_marks);
    }
}

// Stages what the pack holds for each output that takes it; returns the
// length staged, or NOTHING_STAGED.
int handle_pack(const unsigned char* sector, Routes& routes, const PackLoopHooks& hooks,
                StreamsFound& found) {
    if (!has_packet_start(sector)) {
        return NOTHING_STAGED;
    }
    const std::size_t id = sector[STREAM_ID_OFFSET];
    const std::size_t start = payload_start(sector);
    const bool substream = id == PRIVATE_STREAM_1_ID;
    const std::size_t routed_id = substream ? sector[start] : id;
    // System headers, padding, navigation and streams nobody asked for have no taker.
    unsigned takers = (substream ? routes.by_substream : routes.by_stream_id)[routed_id];
    if (routes.offer) {
        // Offered even when an output of another kind takes it (-audio 8 is DTS as it is).
        takers |= offer_stream(routes, hooks, substream, routed_id);
    }
    if (routes.watch_video && id == VIDEO_STREAM_0_ID) {
        const PayloadSpan span = payload_span(sector, start);
        watch_video_packet(sector + span.offset, span.length, packet_pts(sector));
    }
    if (takers == 0) {
        if (routes.timeline) {
            follow_timeline(sector, id, start, NOTHING_STAGED);
        }
        return NOTHING_STAGED;
    }
    const unsigned scrambled = is_scrambled(sector) ? 1 : 0;
    int staged = NOTHING_STAGED;
    const auto& slots = substream ? routes.slot_by_substream : routes.slot_by_stream_id;
    do {
        const auto k = static_cast<std::size_t>(std::countr_zero(takers));
        takers &= takers - 1;
        Output& output = outputs[slots[k][routed_id]];
        ++found.packs[output.slot];
        found.scrambled[output.slot] += scrambled;
        staged = stage_span(output, sector, start, payload_span(sector, start + row_of(output.kind).skip), routes,
                            hooks);
    } while (takers != 0);
    if (routes.timeline) {
        // Only video stream 0 is taken by the video output, which stages it alone.
        follow_timeline(sector, id, start, id == VIDEO_STREAM_0_ID ? staged : NOTHING_STAGED);
    }
    return staged;
}

}  // namespace

std::optional<std::uint64_t> packet_pts(const unsigned char* sector) {
    if ((sector[PES_PTS_FLAGS_OFFSET] & PTS_PRESENT_BIT) == 0 || sector[PES_HEADER_LENGTH_OFFSET] < PTS_BYTES) {
        return std::nullopt;
    }
    // PTS[32..30], PTS[29..15] and PTS[14..0], each group followed by a
    // marker bit (ISO/IEC 13818-1, 2.4.3.7).
    const unsigned char* pts = sector + PES_HEADER_DATA_OFFSET;
    return (std::uint64_t{pts[0]} >> 1 & 0x07) << 30 | std::uint64_t{pts[1]} << 22 |
           (std::uint64_t{pts[2]} >> 1) << 15 | std::uint64_t{pts[3]} << 7 | std::uint64_t{pts[4]} >> 1;
}

PayloadSpan payload_span(const unsigned char* sector, std::size_t start) {
    const std::size_t packet_end =
        PACKET_LENGTH_FIELD_END + (static_cast<std::size_t>(sector[PACKET_LENGTH_OFFSET]) << 8 |
                                   sector[PACKET_LENGTH_OFFSET + 1]);
    const std::size_t end = packet_end <= SECTOR_SIZE && packet_end >= start ? packet_end : SECTOR_SIZE;
    return {start, static_cast<int>(end - start)};
}

StreamsFound demux_packs(const PackLoopHooks& given_hooks) {
    StreamsFound found;
    Routes routes;
    routes.timeline = timeline_running();
    routes.offer = given_hooks.stream_met != nullptr;
    // A subpicture output opened in the pass times its units from the video's start.
    routes.watch_video = routes.offer;
    // A copy of the loop's own, which no hook can reach: its pointers stay
    // in registers instead of being loaded again after every call.
    const PackLoopHooks hooks = given_hooks;
    if (hooks.run_begins != nullptr) {
        hooks.run_begins();
    }
    add_routes(routes);
    while (const unsigned char* sector = next_sector()) {
        if (get_be32(sector, 0) != PACK_START_CODE) {
            continue;
        }
        if (hooks.pack_found != nullptr) {
            hooks.pack_found();
        }
        const int staged = handle_pack(sector, routes, hooks, found);
        if (hooks.pack_handled != nullptr) {
            hooks.pack_handled();
        }
        if (hooks.pack_examined != nullptr) {
            hooks.pack_examined(sector, staged);
        }
    }
    call_before_batch_ends(nullptr);
    end_timeline();
    end_audio_edges();
    return found;
}

}  // namespace packrift
