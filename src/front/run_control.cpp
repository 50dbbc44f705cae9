#include "front/run_control.hpp"

#include <cstdint>
#include <cstdio>
#include <string>

#include "demux/demux_common.hpp"
#include "demux/pack_loop.hpp"
#include "front/command_line.hpp"
#include "front/disc_listing.hpp"
#include "front/progress.hpp"
#include "front/stream_report.hpp"
#include "io/folder.hpp"
#include "output/staging_writer.hpp"

namespace packrift {

namespace {

constexpr int NO_AUDIO = -1;
constexpr std::uint32_t STREAM_ID_MASK = 0xFF;  // the last byte of a start code
constexpr int MAX_SUBSTREAM = 0xFF;  // substream numbers are one byte
constexpr const char* SEE_STREAMS = " (-streams lists what it holds)";

void print_usage(const char* program) {
    std::fprintf(stderr, "Packrift V" PACKRIFT_VERSION "\nusage: %s VOBFile [-video 0] [-audio 0...8]\n", program);
}

// An output that is already open as the input or as the other output is
// closed again untouched: emptying it would destroy that file.
bool refuse_if_same(NamedFile& output, const NamedFile& open, const char* role) {
    if (!same_file(output, open)) {
        return false;
    }
    std::fprintf(stderr, "%s: is the same file as the %s %s; left untouched\n", output.name.c_str(), role,
                 open.name.c_str());
    close_file(output);
    output.failed = true;
    return true;
}

// Opens output under the name the input's name gives with replacement. A
// later option of the same kind replaces the output; the earlier file is
// closed at once and stays empty.
bool open_output(NamedFile& output, const NamedFile& other_output, const std::string& input_path,
                 const std::string& replacement) {
    close_file(output);
    const bool replaced_one_closed_cleanly = !output.failed;
    const std::optional<std::string> name = output_name(input_path, replacement);
    if (!name) {
        std::fprintf(stderr, "%s: no \"%s\" in the name to replace with \"%s\"\n", input_path.c_str(),
                     INPUT_EXTENSION, replacement.c_str());
        return false;
    }
    if (!open_untruncated(output, *name) || refuse_if_same(output, input_file, "input") ||
        refuse_if_same(output, other_output, "output") || !start_output(output)) {
        return false;
    }
    std::printf("opened %s for writing\n", name->c_str());
    // Keeps the "opened" lines and the error lines in option order when both
    // streams go to one file.
    std::fflush(stdout);
    return replaced_one_closed_cleanly;
}

// Examines every argument after the input, in order, each whole; returns
// false when an output could not be named or opened.
bool open_requested_outputs(int argc, char** argv, int& audio_no) {
    bool ok = true;
    for (int i = 2; i < argc; ++i) {
        if (contains_option(argv[i], VIDEO_OPTION)) {
            ok = open_output(video_output, audio_output, argv[1], VIDEO_EXTENSION) && ok;
        }
        if (contains_option(argv[i], AUDIO_OPTION)) {
            // As the last argument the number is empty, which reads as 0.
            audio_no = parse_audio_number(i + 1 < argc ? argv[i + 1] : "");
            ok = open_output(audio_output, video_output, argv[1], audio_replacement(audio_no)) && ok;
        }
    }
    return ok;
}

// What the user is told of an output that took everything and still stayed
// empty, because the input never held its stream: a wrong number must not
// look like a broken tool. The progress line is ended first, so that the
// message does not overwrite it on a terminal.
std::string absent_stream(StreamKind kind, int audio_no) {
    char number[sizeof "0xFF"];
    if (kind == StreamKind::video) {
        std::snprintf(number, sizeof number, "0x%02X", VIDEO_STREAM_0_START_CODE & STREAM_ID_MASK);
        return std::string("the input holds no MPEG video stream ") + number;
    }
    // Compared as a difference, as the pack loop does, so that any int is safe.
    if (audio_no < -AC3_SUBSTREAM_BASE || audio_no > MAX_SUBSTREAM - AC3_SUBSTREAM_BASE) {
        return "no substream number matches -audio " + std::to_string(audio_no);
    }
    const int substream = AC3_SUBSTREAM_BASE + audio_no;
    const std::string kind_name = substream_kind(substream);
    std::snprintf(number, sizeof number, "0x%02X", static_cast<unsigned>(substream));
    return "the input holds no " + (kind_name == "other" ? "" : kind_name + " ") + "substream " + number;
}

void tell_absent_stream(StreamKind kind, const NamedFile& output, int audio_no) {
    end_progress_line();
    std::fprintf(stderr, "%s: %s%s\n", output.name.c_str(), absent_stream(kind, audio_no).c_str(), SEE_STREAMS);
}

// Writes what output still holds and closes it; false when it has failed.
bool finish_output(StreamKind kind, NamedFile& output, bool stream_found, int audio_no) {
    if (output.stream == nullptr) {
        return !output.failed;
    }
    flush_stream(kind, output);
    close_file(output);
    // After a read error the input was not read to its end: its stream may lie beyond.
    if (!output.failed && !stream_found && !input_file.failed) {
        tell_absent_stream(kind, output, audio_no);
    }
    return !output.failed;
}

// The stream report, on lines of its own after the progress line.
void print_stream_report() {
    end_progress_line();
    std::fputs(stream_report().c_str(), stdout);
}

}  // namespace

int run_packrift(int argc, char** argv) {
    if (argc < 2) {
        print_usage(argc > 0 ? argv[0] : "packrift");
        return EXIT_FAILED;
    }
    if (is_folder(argv[1])) {
        return run_disc(argc, argv);
    }
    // Nothing of an earlier run in the same process (its failures) carries over.
    input_file = NamedFile{};
    video_output = NamedFile{};
    audio_output = NamedFile{};
    if (!open_for_reading(input_file, argv[1])) {
        return EXIT_FAILED;
    }
    int audio_no = NO_AUDIO;
    bool ok = open_requested_outputs(argc, argv, audio_no);
    const bool report = option_given(argc, argv, STREAMS_OPTION);
    const PackLoopHooks hooks = report ? with_stream_report(progress_hooks()) : progress_hooks();
    const StreamsFound found = demux_packs(audio_no, hooks);
    ok = finish_output(StreamKind::video, video_output, found.video, audio_no) && ok;
    ok = finish_output(StreamKind::ac3_audio, audio_output, found.audio, audio_no) && ok;
    close_file(input_file);
    if (report && !input_file.failed) {
        print_stream_report();
    }
    return ok && !input_file.failed ? EXIT_OK : EXIT_FAILED;
}

}  // namespace packrift
