#include "front/title_joins.hpp"

#include <algorithm>
#include <cstdio>

#include "demux/title_timeline.hpp"
#include "disc/title_plan.hpp"
#include "front/command_line.hpp"
#include "front/progress.hpp"
#include "output/audio_hold.hpp"

namespace packrift {

namespace {

constexpr std::int64_t TICKS_PER_MILLISECOND = static_cast<std::int64_t>(PTS_TICKS_PER_MILLISECOND);

bool is_audio(StreamKind kind) {
    return kind == StreamKind::ac3_audio || kind == StreamKind::lpcm_audio || kind == StreamKind::mpeg_audio ||
           kind == StreamKind::dts_audio;
}

// The audio outputs that are open, one bit per kind.
unsigned open_audio_outputs(const OutputNumbers& numbers) {
    unsigned kinds = 0;
    for (std::size_t k = 0; k < OUTPUT_KINDS; ++k) {
        const auto kind = static_cast<StreamKind>(k);
        if (is_audio(kind) && outputs[k].stream != nullptr && selected_id(kind, numbers[k]) >= 0) {
            kinds |= 1U << k;
        }
    }
    return kinds;
}

bool clock_read(int argc, char** argv, unsigned audio) {
    return audio != 0 || output_of(StreamKind::subpicture).stream != nullptr ||
           option_given(argc, argv, CHAPTERS_OPTION) || option_given(argc, argv, STREAMS_OPTION);
}

// Each chapter at its first run's start on the video's clock, where that
// run was read; by the IFO's cell times otherwise.
std::string chapters_on_the_clock(const SplitInput& input, const TimelineSummary& summary) {
    std::vector<std::uint64_t> starts = input.chapter_milliseconds;
    for (std::size_t i = 0; i < starts.size() && i < input.chapter_runs.size(); ++i) {
        const std::size_t run = input.chapter_runs[i];
        if (run < summary.run_starts.size() && summary.run_starts[run]) {
            starts[i] = static_cast<std::uint64_t>(std::max<std::int64_t>(*summary.run_starts[run], 0) /
                                                   TICKS_PER_MILLISECOND);
        }
    }
    return chapters_text(starts);
}

}  // namespace

void follow_title_joins(int argc, char** argv, const SplitInput& input, const OutputNumbers& numbers) {
    const bool may_restart = std::find(input.may_join.begin(), input.may_join.end(), true) != input.may_join.end();
    const unsigned audio = open_audio_outputs(numbers);
    if (input.whole_file || !may_restart || !clock_read(argc, argv, audio)) {
        stop_timeline();
        return;
    }
    start_timeline(input.may_join, audio);
}

bool tell_title_joins(int argc, char** argv, const SplitInput& input, const OutputNumbers& numbers, bool report) {
    if (!timeline_running()) {
        return true;
    }
    const TimelineSummary summary = timeline_summary();
    bool ok = true;
    if (summary.joins > 0 && input.naming.chapters && input.naming.stem && option_given(argc, argv, CHAPTERS_OPTION)) {
        ok = rewrite_chapters(input.naming, chapters_on_the_clock(input, summary));
    }
    if (report) {
        report_title_joins(input.title, summary);
    }
    for (std::size_t k = 0; k < OUTPUT_KINDS; ++k) {
        const auto kind = static_cast<StreamKind>(k);
        if (!audio_held(kind)) {
            continue;
        }
        const HoldReport& hold = hold_report(kind);
        const bool substream = row_of(kind).substream;
        const int id = selected_id(kind, numbers[k]);
        if (report) {
            report_held_output(substream, id, hold);
        }
        if (hold.joins_missing > 0) {
            end_progress_line();
            std::fprintf(stderr, "%s", held_output_line(substream, id, hold).c_str());
            ok = false;
        }
    }
    return ok;
}

}  // namespace packrift
