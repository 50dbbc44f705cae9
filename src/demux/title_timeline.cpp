#include "demux/title_timeline.hpp"

#include "demux/sector_source.hpp"
#include "disc/nav_pack.hpp"
#include "output/audio_hold.hpp"
#include "output/picture_count.hpp"
#include "output/title_clock.hpp"
#include "output/vobsub_output.hpp"

namespace packrift {

namespace {

constexpr std::size_t NO_RUN = static_cast<std::size_t>(-1);

// The first VOBU read whole of a run: its start time and its part.
struct RunStart {
    bool known = false;
    std::size_t part = 0;
    std::uint32_t start_ptm = 0;
};

struct Timeline {
    bool running = false;
    std::vector<bool> may_join;
    TitleClock clock;
    std::size_t part = 0;
    PictureCounter pictures;   // of the part being read
    bool scrambled = false;    // video packs of the part that cannot be counted
    Ticks lead;                // how far the audio runs ahead of the clock
    // The VOBU read before: whether its navigation pack was read whole, its
    // end time, and how many sectors had been passed over by then.
    bool last_whole = false;
    std::uint32_t last_end = 0;
    std::uint64_t passed_at_last = 0;
    std::size_t run = NO_RUN;
    std::vector<RunStart> run_starts;
    std::size_t joins = 0;
    std::vector<PartNote> notes;
};

Timeline timeline;

PartClock& current_part() {
    return timeline.clock.parts[timeline.part];
}

// The offset that puts the subpictures of the part being read on the
// title's clock, as the .idx takes it: from the first part's video start.
void place_subpictures() {
    const PartClock& first = timeline.clock.parts.front();
    const PartClock& part = current_part();
    // Until a join is declared the subpictures keep to the video as in a
    // file: a restart that is no join (sectors passed over) moves them still.
    if (timeline.part == 0 || !first.started || first.provisional) {
        return;
    }
    const std::int64_t offset = ticks_floor(part.video_start) - static_cast<std::int64_t>(part.start_pts) +
                                static_cast<std::int64_t>(first.start_pts);
    set_subpicture_part_offset(static_cast<std::uint64_t>(offset) % PTS_MODULUS);
}

// The rest of the title is left as it comes: its video cannot be counted.
void stop_following() {
    timeline.notes.push_back({timeline.part, PartEvent::not_counted, {}, timeline.scrambled});
    timeline.clock.following = false;
    flush_audio_holds();
    follow_own_subpicture_clock();
}

// The part being read ends; the next starts with the VOBU that starts at start_ptm.
void join(std::uint32_t start_ptm) {
    PartClock& part = current_part();
    Ticks period;
    if (timeline.scrambled || timeline.pictures.pictures == 0 || !part.started ||
        !frame_period(timeline.pictures, period)) {
        stop_following();
        return;
    }
    const Ticks video_end =
        ticks_plus(part.video_start, fields_duration(period, counted_fields(timeline.pictures)));
    bool cut = true;
    if (part.has_highest) {
        // Pictures held past their count (a still, a slideshow): the raw
        // video cannot hold them, and the audio is left to run on.
        const Ticks drift = ticks_minus(ticks_plus(part.highest, period), video_end);
        if (ticks_before(period, drift)) {
            cut = false;
            timeline.lead = ticks_plus(timeline.lead, drift);
            timeline.notes.push_back({timeline.part, PartEvent::held_pictures, drift, false});
        }
    }
    end_part_of_audio_holds(timeline.part, video_end, cut, timeline.lead, timeline.clock);
    ++timeline.joins;
    timeline.clock.parts.push_back({true, true, start_ptm, video_end, false, {}});
    ++timeline.part;
    timeline.pictures = PictureCounter{};
    place_subpictures();
}

bool joins_here(const VobuTimes& times, bool new_run, std::uint64_t passed) {
    return new_run && timeline.run < timeline.may_join.size() && timeline.may_join[timeline.run] &&
           timeline.last_whole && passed == timeline.passed_at_last && times.start_ptm != timeline.last_end &&
           timeline.clock.following;
}

}  // namespace

void start_timeline(const std::vector<bool>& may_join, const std::vector<bool>& held) {
    timeline = Timeline{};
    timeline.running = true;
    timeline.may_join = may_join;
    timeline.run_starts.resize(may_join.size());
    timeline.clock.parts.resize(1);
    timeline.clock.following = true;
    start_audio_holds(held);
}

void stop_timeline() {
    timeline = Timeline{};
    start_audio_holds({});
}

bool timeline_running() {
    return timeline.running;
}

void timeline_nav_pack(const unsigned char* sector) {
    const std::optional<VobuTimes> times = read_vobu_times(sector, SECTOR_SIZE);
    const std::size_t run = run_being_read();
    const std::uint64_t passed = sectors_passed_over();
    const bool new_run = run != timeline.run;
    timeline.run = run;
    if (times && joins_here(*times, new_run, passed)) {
        join(times->start_ptm);
    }
    PartClock& part = current_part();
    if (times && !part.started) {
        part.started = true;
        part.provisional = true;
        part.start_pts = times->start_ptm;
    }
    // A chapter starts with its cell's first VOBU: one read later would be
    // at another time, perhaps of the part before an undeclared restart.
    if (times && new_run && run < timeline.run_starts.size() && !timeline.run_starts[run].known) {
        timeline.run_starts[run] = {true, timeline.part, times->start_ptm};
    }
    timeline.last_whole = times.has_value();
    timeline.last_end = times ? times->end_ptm : 0;
    timeline.passed_at_last = passed;
}

void timeline_video(const unsigned char* sector, const unsigned char* payload, int length, const PrefixMarks& marks) {
    if (is_scrambled(sector)) {
        timeline.scrambled = true;
        return;
    }
    count_pictures_marked(timeline.pictures, view_of(payload, static_cast<std::size_t>(length)), marks);
    const std::optional<std::uint64_t> pts = packet_pts(sector);
    if (!pts) {
        return;
    }
    PartClock& part = current_part();
    if (!part.started || part.provisional) {
        part.started = true;
        part.provisional = false;
        part.start_pts = *pts;
        place_subpictures();
    }
    const Ticks time = title_time(part, *pts, {});
    if (!part.has_highest || ticks_before(part.highest, time)) {
        part.has_highest = true;
        part.highest = time;
        release_audio_holds(timeline.clock);
    }
}

int timeline_audio(Output& output, const unsigned char* sector, std::size_t start, PayloadSpan span) {
    return hold_audio_packet(output, sector, start, span.offset, span.length, packet_pts(sector), timeline.part,
                             timeline.clock);
}

void end_timeline() {
    if (timeline.running) {
        end_audio_holds();
    }
}

std::optional<std::int64_t> title_ticks_after_a_join(std::uint64_t pts) {
    if (!timeline.running || timeline.part == 0 || !timeline.clock.following) {
        return std::nullopt;
    }
    return ticks_floor(title_time(current_part(), pts, {}));
}

TimelineSummary timeline_summary() {
    TimelineSummary summary;
    summary.joins = timeline.joins;
    summary.notes = timeline.notes;
    for (const RunStart& start : timeline.run_starts) {
        std::optional<std::int64_t> ticks;
        if (start.known && part_started(timeline.clock, start.part)) {
            ticks = ticks_floor(title_time(timeline.clock.parts[start.part], start.start_ptm, {}));
        }
        summary.run_starts.push_back(ticks);
    }
    return summary;
}

}  // namespace packrift
