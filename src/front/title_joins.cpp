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

// The audio outputs that are open, by slot.
std::vector<bool> open_audio_outputs() {
    std::vector<bool> held(output_count, false);
    for (std::size_t i = 0; i < output_count; ++i) {
        held[i] = is_audio(outputs[i].kind) && outputs[i].file.stream != nullptr && outputs[i].id >= 0;
    }
    return held;
}

bool clock_read(int argc, char** argv, const std::vector<bool>& audio) {
    const bool subpictures = std::any_of(outputs.begin(), outputs.begin() + static_cast<std::ptrdiff_t>(output_count),
                                         [](const Output& output) { return output.kind == StreamKind::subpicture; });
    return std::find(audio.begin(), audio.end(), true) != audio.end() || subpictures ||
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

// What the edges of a title read without a hold cut from its audio, in
// the report.
void tell_audio_edges() {
    for (std::size_t i = 0; i < output_count; ++i) {
        const Output& output = outputs[i];
        if (!is_audio(output.kind) || output.id < 0) {
            continue;
        }
        const EdgeReport& edges = edge_report(output);
        HoldReport cut;
        cut.edges = edges.cuts;
        cut.bytes = edges.bytes;
        report_held_output(row_of(output.kind).substream, output.id, cut);
    }
}

}  // namespace

void follow_title_joins(int argc, char** argv, const SplitInput& input) {
    const bool may_restart = std::find(input.may_join.begin(), input.may_join.end(), true) != input.may_join.end();
    const std::vector<bool> audio = open_audio_outputs();
    if (input.whole_file || !may_restart || !clock_read(argc, argv, audio)) {
        stop_timeline();
        // A VOB file split on its own is written as it comes.
        start_audio_edges(input.whole_file ? std::vector<bool>{} : audio);
        return;
    }
    start_audio_edges({});
    start_timeline(input.may_join, audio);
}

bool tell_title_joins(int argc, char** argv, const SplitInput& input, bool report) {
    if (!timeline_running()) {
        if (report && !input.whole_file) {
            tell_audio_edges();
        }
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
    for (std::size_t i = 0; i < output_count; ++i) {
        const Output& output = outputs[i];
        if (!audio_held(output)) {
            continue;
        }
        const HoldReport& hold = hold_report(output);
        const bool substream = row_of(output.kind).substream;
        const int id = output.id;
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
