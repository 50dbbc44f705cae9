#include "front/run_control.hpp"

#include <cstdio>
#include <string>

#include "demux/demux_common.hpp"
#include "demux/pack_loop.hpp"
#include "front/command_line.hpp"
#include "front/progress.hpp"
#include "output/staging_writer.hpp"

namespace packrift {

namespace {

constexpr int NO_AUDIO = -1;

void print_usage(const char* program) {
    std::fprintf(stderr, "Packrift V" PACKRIFT_VERSION "\nusage: %s VOBFile [-video 0] [-audio 0...8]\n", program);
}

// Opens output under the name the input's name gives with replacement. A
// later option of the same kind replaces the output; the earlier file is
// closed at once and stays empty.
bool open_output(NamedFile& output, const std::string& input_path, const std::string& replacement) {
    close_file(output);
    const bool replaced_one_closed_cleanly = !output.failed;
    const std::optional<std::string> name = output_name(input_path, replacement);
    if (!name) {
        std::fprintf(stderr, "%s: no \"%s\" in the name to replace with \"%s\"\n", input_path.c_str(),
                     INPUT_EXTENSION, replacement.c_str());
        return false;
    }
    if (!open_for_writing(output, *name)) {
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
            ok = open_output(video_output, argv[1], VIDEO_EXTENSION) && ok;
        }
        if (contains_option(argv[i], AUDIO_OPTION)) {
            // As the last argument the number is empty, which reads as 0.
            audio_no = parse_audio_number(i + 1 < argc ? argv[i + 1] : "");
            ok = open_output(audio_output, argv[1], audio_replacement(audio_no)) && ok;
        }
    }
    return ok;
}

bool finish_output(StreamKind kind, NamedFile& output) {
    if (output.stream != nullptr) {
        flush_stream(kind, output);
        close_file(output);
    }
    return !output.failed;
}

}  // namespace

int run_packrift(int argc, char** argv) {
    if (argc < 2) {
        print_usage(argc > 0 ? argv[0] : "packrift");
        return EXIT_FAILED;
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
    demux_packs(audio_no, progress_hooks());
    ok = finish_output(StreamKind::video, video_output) && ok;
    ok = finish_output(StreamKind::ac3_audio, audio_output) && ok;
    close_file(input_file);
    return ok && !input_file.failed ? EXIT_OK : EXIT_FAILED;
}

}  // namespace packrift
