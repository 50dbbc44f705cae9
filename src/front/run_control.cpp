#include "front/run_control.hpp"

#include <cstdio>
#include <string>

#include "demux/demux_common.hpp"
#include "demux/pack_loop.hpp"
#include "front/command_line.hpp"
#include "front/outputs.hpp"
#include "front/progress.hpp"
#include "front/stream_report.hpp"
#include "output/wav_output.hpp"

namespace packrift {

namespace {

constexpr int NO_NUMBER = -1;

void print_usage(const char* program) {
    std::fprintf(stderr, "Packrift V" PACKRIFT_VERSION "\nusage: %s VOBFile [-video 0] [-audio 0...8]\n", program);
}

// The stream report, on lines of its own after the progress line.
void print_stream_report() {
    end_progress_line();
    std::fputs(stream_report().c_str(), stdout);
}

// Nothing of an earlier run in the same process (its failures) carries over.
void forget_earlier_runs() {
    input_file = NamedFile{};
    for (NamedFile& output : outputs) {
        output = NamedFile{};
    }
    reset_wav_output();
}

}  // namespace

int run_packrift(int argc, char** argv) {
    if (argc < 2) {
        print_usage(argc > 0 ? argv[0] : "packrift");
        return EXIT_FAILED;
    }
    forget_earlier_runs();
    if (!open_for_reading(input_file, argv[1])) {
        return EXIT_FAILED;
    }
    OutputNumbers numbers;
    numbers.fill(NO_NUMBER);
    bool ok = open_requested_outputs(argc, argv, naming_of_file(argv[1]), {&input_file}, numbers);
    const bool report = option_given(argc, argv, STREAMS_OPTION);
    const PackLoopHooks hooks = report ? with_stream_report(progress_hooks()) : progress_hooks();
    const StreamsFound found = demux_packs(numbers, hooks);
    ok = finish_outputs(numbers, found, !input_file.failed) && ok;
    close_file(input_file);
    if (report && !input_file.failed) {
        print_stream_report();
    }
    return ok && !input_file.failed ? EXIT_OK : EXIT_FAILED;
}

}  // namespace packrift
