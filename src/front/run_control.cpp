#include "front/run_control.hpp"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "demux/demux_common.hpp"
#include "demux/pack_loop.hpp"
#include "demux/sector_source.hpp"
#include "disc/title_set_palette.hpp"
#include "front/command_line.hpp"
#include "disc/disc_folder.hpp"
#include "front/disc_listing.hpp"
#include "front/outputs.hpp"
#include "front/progress.hpp"
#include "front/stream_report.hpp"
#include "front/mkvmerge_file.hpp"
#include "front/title_joins.hpp"
#include "io/folder.hpp"
#include "io/platform.hpp"
#include "output/vobsub_output.hpp"
#include "output/wav_output.hpp"

namespace packrift {

namespace {

void print_usage(const char* program) {
    std::fprintf(stderr, "Packrift V" PACKRIFT_VERSION "\nusage: %s VOBFile [-video 0] [-audio 0...8]\n", program);
}

// --help: the usage and a line per option, on standard output.
void print_help(const char* program) {
    std::printf("Packrift " PACKRIFT_VERSION ": splits DVD-Video into raw elementary streams in one pass\n"
                "usage: %s VOBFile [options]\n"
                "       %s DISC [-title N|all|main [-angle A] [-chapters]] [options]\n"
                "DISC is a VIDEO_TS folder, a folder that holds one, a disc image (.iso) or a drive (/dev/sr0);\n"
                "without -title its titles are listed.\n"
                "options:\n"
                "  -video 0    MPEG video stream 0xE0, to NAME.m2v\n"
                "  -audio N    AC-3 substream 0x80+N, to NAME-streamN.ac3\n"
                "  -lpcm N     LPCM substream 0xA0+N (N 0 to 7), to NAME-lpcmN.wav\n"
                "  -mpa N      MPEG audio stream 0xC0+N (N 0 to 31), to NAME-mpaN.mp2\n"
                "  -dts N      DTS substream 0x88+N (N 0 to 7), to NAME-dtsN.dts\n"
                "  -sub N      subpicture substream 0x20+N (N 0 to 31), to NAME-subN.sub and NAME-subN.idx (VobSub)\n"
                "  -all        every stream of a kind: a title's listed streams, a file's as they are met\n"
                "  -streams    list the streams read, and each audio stream's delay against the video\n"
                "  -mkvmerge   mkvmerge's options file for the outputs, to NAME.mkvmerge.json (mkvmerge @FILE)\n"
                "  -title N    read title N of a disc, as the disc plays it; outputs go to the current folder\n"
                "  -title all  read every title, each as -title N, leaving out one that plays the cells of one read\n"
                "  -title main read the disc's longest title\n"
                "  -minlength S  with -title all or main, leave out titles shorter than S seconds\n"
                "  -angle A    the angle of a multi-angle title to read (1 unless given; every angle with all)\n"
                "  -chapters   the title's chapter starts, to NAME-titleN.chapters.txt (mkvmerge --chapters)\n"
                "  -h, --help  this text\n"
                "  --version   the version\n"
                "NAME is the input's name up to its first \".vob\", or for a title the disc's name and the title.\n",
                program, program);
}

// "--help", "-h" and "--version" as the first argument exactly; true when it was one.
bool answered_help_or_version(const char* program, const std::string& first) {
    if (first == "--help" || first == "-h") {
        print_help(program);
        return true;
    }
    if (first == "--version") {
        std::printf("Packrift " PACKRIFT_VERSION "\n");
        return true;
    }
    return false;
}

// The stream report, on lines of its own after the progress line.
void print_stream_report() {
    end_progress_line();
    std::fputs(stream_report().c_str(), stdout);
}

// One line per file whose damaged sectors were passed over, and one per file
// with interleaved units that could not be followed; false when there were
// any. A drive that refuses sectors most often does so for an encrypted
// disc: a drive hands out the sectors of CSS-scrambled cells only once it
// has been authenticated, and a disc that is not damaged seems so.
bool tell_unread_sectors(const SplitInput& input) {
    for (const UnreadSectors& unread : unread_sectors()) {
        end_progress_line();
        if (unread.count == 1) {
            std::fprintf(stderr, "%s: 1 sector could not be read and was passed over (at sector %" PRIu64 ")\n",
                         unread.name.c_str(), unread.first);
        } else {
            std::fprintf(stderr,
                         "%s: %" PRIu64 " sectors could not be read and were passed over (the first at sector %" PRIu64
                         ")\n",
                         unread.name.c_str(), unread.count, unread.first);
        }
    }
    // Read through libdvdcss, the drive was authenticated: what it refuses is damage.
    if (input.drive && !input.through_libdvdcss && !unread_sectors().empty()) {
        std::fprintf(stderr,
                     "%s: the drive refused these sectors; where it refuses whole cells the disc is most often "
                     "encrypted (CSS) and the drive not authenticated for it, rather than damaged; see \"Encrypted "
                     "discs\" in the README for how to install libdvdcss\n",
                     input.name.c_str());
    }
    for (const UnreadSectors& units : units_read_in_order()) {
        end_progress_line();
        std::fprintf(stderr,
                     "%s: %" PRIu64 " interleaved %s no navigation pack to lead to its angle's next unit (the "
                     "first at sector %" PRIu64 "); the rest of the cell was read in order, other angles' packs "
                     "with it\n",
                     units.name.c_str(), units.count, units.count == 1 ? "unit had" : "units had",
                     units.first);
    }
    return unread_sectors().empty() && units_read_in_order().empty();
}

// Whether the open input is a disc image, decided by its sectors: a regular
// file or a block device whose sector 16 begins a volume recognition
// sequence. Another input (a pipe) is not looked at, and a file is left at
// its start. A sector that cannot be read there leaves the input a VOB
// file, whose reading passes over the sector and names it, as it always
// has; a file that cannot be placed back at its start is told, failed set.
bool input_is_image(NamedFile& file, std::uint64_t& sectors, bool& failed) {
    const std::optional<std::uint64_t> size = image_size(file);
    failed = false;
    if (!size) {
        return false;
    }
    sectors = *size / SECTOR_SIZE;
    const ImageRecognition recognition = recognise_image(image_reader(file, sectors));
    if (recognition.error == 0 && recognition.kind == ImageKind::image) {
        return true;
    }
    errno = 0;
    if (!seek_file(file, 0)) {
        report_io_error(file, error_or_io_failure());
        failed = true;
    }
    return false;
}

// The last line of a run stopped from outside, after everything else.
int end_stopped(const char* input) {
    end_progress_line();
    std::fprintf(stderr, "%s: interrupted after %" PRIu32 " packs; the outputs hold the streams up to there\n", input,
                 pack_count);
    std::fflush(stderr);
    return end_stopped_run();
}

// Nothing of an earlier split in the same process (its outputs, a title's
// before the next one's with -title all) carries over.
void forget_earlier_outputs() {
    clear_outputs();
    reset_wav_output();
    reset_subpicture_output();
}

void forget_earlier_runs() {
    input_file = NamedFile{};
    forget_earlier_outputs();
}

}  // namespace

bool standard_output_written() {
    errno = 0;
    if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
        return true;
    }
    std::fprintf(stderr, "standard output: %s\n", std::strerror(error_or_io_failure()));
    return false;
}

int split(int argc, char** argv, const SplitInput& input) {
    forget_earlier_outputs();
    std::vector<const NamedFile*> inputs(input.files.begin(), input.files.end());
    const TitleStreams title{input.title > 0, input.languages};
    bool ok = open_requested_outputs(argc, argv, input.naming, inputs, title);
    const bool report = option_given(argc, argv, STREAMS_OPTION);
    const bool mkvmerge = option_given(argc, argv, MKVMERGE_OPTION);
    // The options file takes each audio stream's delay from the report's tally.
    PackLoopHooks hooks = report || mkvmerge ? with_stream_report(progress_hooks()) : progress_hooks();
    if (!title.listed && option_given(argc, argv, ALL_OPTION)) {
        open_streams_when_met(input.naming, inputs);
        hooks.stream_met = &open_met_stream;
    }
    // Also for the lines of audio that a title's joins left unfilled.
    name_stream_languages(input.languages);
    follow_title_joins(argc, argv, input);
    // From here on a stop has something to keep: before, the files are only
    // being opened, and the system's own ending of the process loses nothing.
    install_stop_handlers();
    if (input.whole_file) {
        read_whole_file(*input.files.front());
    } else {
        read_runs(input.source_files, input.runs);
    }
    const StreamsFound found = demux_packs(hooks);
    const bool stopped = source_interrupted();
    ok = tell_title_joins(argc, argv, input, report) && ok;
    ok = tell_unread_sectors(input) && ok;
    const bool read_failed = std::any_of(inputs.begin(), inputs.end(), [](const NamedFile* file) { return file->failed; });
    SubpictureDisc subpictures = input.subpictures;
    subpictures.languages = input.languages;
    ok = finish_outputs(found, !read_failed && !stopped, subpictures) && ok;
    if (mkvmerge) {
        const bool chapters_written = input.naming.chapters.has_value() && option_given(argc, argv, CHAPTERS_OPTION);
        ok = write_mkvmerge_file(input, chapters_written) && ok;
    }
    for (NamedFile* file : input.files) {
        close_file(*file);
    }
    // A stop that came while the outputs were finished decides the status too.
    if (stopped || stop_requested()) {
        return end_stopped(input.name.c_str());
    }
    if (report && !read_failed) {
        print_stream_report();
    }
    return ok && !read_failed ? EXIT_OK : EXIT_FAILED;
}

int run_packrift(int argc, char** argv) {
    if (argc < 2) {
        print_usage(argc > 0 ? argv[0] : "packrift");
        return EXIT_FAILED;
    }
    if (answered_help_or_version(argv[0], argv[1])) {
        return standard_output_written() ? EXIT_OK : EXIT_FAILED;
    }
    forget_earlier_runs();
    if (is_folder(argv[1])) {
        return run_disc(argc, argv);
    }
    if (!open_for_reading(input_file, argv[1])) {
        return EXIT_FAILED;
    }
    std::uint64_t image_sectors = 0;
    bool failed = false;
    if (input_is_image(input_file, image_sectors, failed)) {
        // Opened anew, unbuffered, before anything of it is read.
        close_file(input_file);
        if (!open_unbuffered_for_reading(input_file, argv[1])) {
            return EXIT_FAILED;
        }
        return run_disc_image(argc, argv, input_file, image_sectors);
    }
    if (failed) {
        close_file(input_file);
        return EXIT_FAILED;
    }
    if (option_given(argc, argv, "-minlength")) {
        std::fprintf(stderr, "%s: -minlength is for -title all and -title main of a disc\n", argv[1]);
        close_file(input_file);
        return EXIT_FAILED;
    }
    SplitInput input;
    input.name = argv[1];
    input.naming = naming_of_file(argv[1]);
    input.files = {&input_file};
    input.whole_file = true;
    // -all writes the subpictures it meets as -sub does.
    if (option_given(argc, argv, SUBPICTURE_ROW.option) || option_given(argc, argv, ALL_OPTION)) {
        input.subpictures.palette = palette_beside(argv[1]);
    }
    return split(argc, argv, input);
}

}  // namespace packrift
