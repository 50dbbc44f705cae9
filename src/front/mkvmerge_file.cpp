#include "front/mkvmerge_file.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

#include "front/mkvmerge_options.hpp"
#include "front/outputs.hpp"
#include "front/progress.hpp"
#include "front/stream_report.hpp"
#include "output/track_names.hpp"

namespace packrift {

namespace {

constexpr const char* MATROSKA_EXTENSION = ".mkv";

std::string language_of(const SplitInput& input, bool substream, int id) {
    for (const StreamLanguage& stream : input.languages) {
        if (stream.substream == substream && stream.id == id) {
            return stream.language;
        }
    }
    return {};
}

// Where a stream comes among the audio and subtitles: the listing's order
// of a title, the order met in a file.
std::size_t rank_of(const SplitInput& input, const Output& output) {
    const bool substream = row_of(output.kind).substream;
    if (input.title > 0) {
        for (std::size_t i = 0; i < input.languages.size(); ++i) {
            if (input.languages[i].substream == substream && input.languages[i].id == output.id) {
                return i;
            }
        }
        return input.languages.size();
    }
    return first_met(substream, output.id);
}

MuxTrack track_of(const SplitInput& input, const Output& output) {
    MuxTrack track;
    track.file = output.file.name;
    const bool substream = row_of(output.kind).substream;
    if (output.kind == StreamKind::video) {
        track.role = MuxTrack::Role::video;
        return track;
    }
    track.language = language_of(input, substream, output.id);
    track.track_name = track_name(output);
    if (output.kind == StreamKind::subpicture) {
        track.role = MuxTrack::Role::subtitles;
        track.file = index_name(track.file);
        return track;
    }
    track.delay_ms = reported_delay(substream, output.id);
    return track;
}

// The outputs that hold data: the video first, then the rest in rank order.
std::vector<const Output*> muxed_outputs(const SplitInput& input) {
    std::vector<const Output*> muxed;
    for (std::size_t i = 0; i < output_count; ++i) {
        if (outputs[i].holds_data) {
            muxed.push_back(&outputs[i]);
        }
    }
    std::stable_sort(muxed.begin(), muxed.end(), [&input](const Output* a, const Output* b) {
        const bool a_video = a->kind == StreamKind::video;
        const bool b_video = b->kind == StreamKind::video;
        if (a_video != b_video) {
            return a_video;
        }
        return !a_video && rank_of(input, *a) < rank_of(input, *b);
    });
    return muxed;
}

void tell_left_out(const std::string& options_name) {
    for (std::size_t i = 0; i < output_count; ++i) {
        if (!outputs[i].holds_data && !outputs[i].file.failed) {
            end_progress_line();
            std::fprintf(stderr, "%s: %s is empty and left out\n", options_name.c_str(), outputs[i].file.name.c_str());
        }
    }
}

}  // namespace

bool write_mkvmerge_file(const SplitInput& input, bool chapters_written) {
    if (!input.naming.stem) {
        return true;  // no output could be named either, and that was told
    }
    MuxOptions options;
    options.output = *input.naming.stem + MATROSKA_EXTENSION;
    bool first_audio = true;
    for (const Output* output : muxed_outputs(input)) {
        MuxTrack track = track_of(input, *output);
        track.default_track = track.role == MuxTrack::Role::video || (track.role == MuxTrack::Role::audio && first_audio);
        first_audio = first_audio && track.role != MuxTrack::Role::audio;
        options.tracks.push_back(track);
    }
    const std::string name = *input.naming.stem + MKVMERGE_SUFFIX;
    if (options.tracks.empty()) {
        tell_left_out(name);
        end_progress_line();
        std::fprintf(stderr, "%s: no output holds data, so there is nothing to mux and it is not written\n",
                     name.c_str());
        return true;
    }
    if (chapters_written) {
        options.chapters = *input.naming.stem + CHAPTERS_SUFFIX;
    }
    std::string problem;
    const std::optional<std::string> json = mkvmerge_json(options, problem);
    if (!json) {
        end_progress_line();
        // The name's own line, then the file it keeps from being written.
        std::fprintf(stderr, "%s\n%s: not written\n", problem.c_str(), name.c_str());
        return false;
    }
    NamedFile file;
    if (!open_for_writing(file, name)) {
        return false;
    }
    write_block(file, json->data(), json->size());
    close_file(file);
    tell_left_out(name);
    return !file.failed;
}

}  // namespace packrift
