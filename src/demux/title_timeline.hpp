#pragma once
// The timeline of a title read in play order. Where the title's timestamps
// restart (a join: a VOBU whose start time is not the end time of the VOBU
// read before it, at a cell that the plan says may start anew), the part
// before ends where its pictures, counted in fields, end; the next part's
// video is put there. A raw video cannot hold a picture, so each audio
// output is cut or filled at the join to end with its part's video, and
// subpictures and chapters are put on the same clock.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "demux/demux_common.hpp"
#include "demux/pack_loop.hpp"
#include "output/media_ticks.hpp"
#include "output/picture_count.hpp"

namespace packrift {

// Starts the timeline of a title: may_join per run of the reading (per
// planned cell, in order), and per output slot whether its frames are held
// for the joins (the audio outputs).
void start_timeline(const std::vector<bool>& may_join, const std::vector<bool>& held);

// A reading with no timeline (a file, a title where no join may come).
void stop_timeline();

bool timeline_running();

// The pack loop's points: a navigation pack, a packet of video stream 0
// (its payload cut before padding, with the marks its trim made), an audio
// packet of a held kind (its substream header at start); the input's end.
void timeline_nav_pack(const unsigned char* sector);
void timeline_video(const unsigned char* sector, const unsigned char* payload, int length, const PrefixMarks& marks);
int timeline_audio(Output& output, const unsigned char* sector, std::size_t start, PayloadSpan span);
void end_timeline();

// pts of the part being read on the title's clock, in whole ticks (rounded
// down), once the reading has passed its first join; nothing before.
std::optional<std::int64_t> title_ticks_after_a_join(std::uint64_t pts);

// What a part did to the title's clock that the report tells.
enum class PartEvent { held_pictures, not_counted };

struct PartNote {
    std::size_t part = 0;  // 0-based
    PartEvent event = PartEvent::held_pictures;
    Ticks drift;           // how far its video's PTS ran past its pictures
    bool scrambled = false;
};

struct TimelineSummary {
    std::size_t joins = 0;
    std::vector<PartNote> notes;
    // Per run, where its first VOBU starts on the title's clock (whole
    // ticks, rounded down); nothing for a run of which no VOBU was read whole.
    std::vector<std::optional<std::int64_t>> run_starts;
};

// Made at the end of the reading.
TimelineSummary timeline_summary();

}  // namespace packrift
