#include "front/disc_title.hpp"

#include <array>
#include <cstdio>

#include "disc/title_plan.hpp"
#include "disc/vob_set.hpp"
#include "front/command_line.hpp"
#include "front/disc_listing.hpp"
#include "front/encrypted_disc.hpp"
#include "front/run_control.hpp"
#include "io/platform.hpp"

namespace packrift {

namespace {

// "(titles 1 to 5)", "(only title 1)".
std::string range_of(const char* noun, std::size_t count) {
    if (count == 1) {
        return std::string("(only ") + noun + " 1)";
    }
    return std::string("(") + noun + "s 1 to " + std::to_string(count) + ")";
}

bool fail(const DiscRun& disc, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", disc.argument.c_str(), what.c_str());
    return false;
}

// What a title read needs, found and checked before any output is opened.
struct TitleRead {
    int number = 0;
    int angle = FIRST_ANGLE;
    DiscTitle title;
    TitleSetInfo set;
    CellPlan plan;
    VobSet vobs;
};

// Whether the title and angle chosen are on the disc.
bool choose_title(const DiscRun& disc, const TitleChoice& choice, TitleRead& read) {
    read.number = choice.number;
    read.angle = choice.angle;
    const std::size_t titles = disc.manager.titles.size();
    if (read.number < 1 || static_cast<std::size_t>(read.number) > titles) {
        return fail(disc, "no title " + std::to_string(read.number) + " " +
                              (titles == 0 ? std::string("(the disc has none)") : range_of("title", titles)));
    }
    read.title = disc.manager.titles[static_cast<std::size_t>(read.number) - 1];
    if (read.angle < 1 || read.angle > read.title.angles) {
        return fail(disc, "title " + std::to_string(read.number) + " has no angle " + std::to_string(read.angle) +
                              " " + range_of("angle", static_cast<std::size_t>(std::max(read.title.angles, 1))));
    }
    return true;
}

bool plan_title(const DiscRun& disc, TitleRead& read) {
    LoadedIfo<TitleSetInfo> loaded = load_title_set(disc.folder, read.title.title_set);
    if (!loaded.failure.empty()) {
        std::fprintf(stderr, "%s\n", loaded.failure.c_str());
        return false;
    }
    read.set = std::move(loaded.record);
    read.plan = title_cells(read.set, read.title.title_in_set, read.angle);
    if (!read.plan.problem.empty()) {
        return fail(disc, "title " + std::to_string(read.number) + ": " + read.plan.problem);
    }
    read.vobs = find_vob_files(disc.folder, read.title.title_set);
    for (const PlannedCell& cell : read.plan.cells) {
        if (!lies_within(read.vobs, cell.first_sector, cell.last_sector)) {
            // The cell reaches a VOB file whose entry is damaged: told as
            // the damage, not as a copy cut short.
            if (!read.vobs.damage.empty()) {
                return fail(disc, image_damage(read.vobs.damage));
            }
            return fail(disc, "title " + std::to_string(read.number) + ", cell " + std::to_string(cell.cell) +
                                  " lies past the end of the VOB files of title set " +
                                  std::to_string(read.title.title_set));
        }
    }
    return true;
}

// "dvd-title2", or "dvd-title2-angle3" for an angle after the first.
std::string stem_of(const DiscRun& disc, const TitleRead& read) {
    std::string stem = (disc.folder.image != nullptr ? disc.folder.name : disc_name(disc.argument)) + "-title" + std::to_string(read.number);
    if (read.angle > FIRST_ANGLE) {
        stem += "-angle" + std::to_string(read.angle);
    }
    return stem;
}

// Opens the title set's VOB files, each one file of the address space.
bool open_vob_files(const VobSet& vobs, std::array<NamedFile, MOST_VOB_FILES>& vob_files, SplitInput& input) {
    for (std::size_t i = 0; i < vobs.files.size(); ++i) {
        if (!open_for_reading(vob_files[i], vobs.files[i].path)) {
            for (NamedFile& opened : vob_files) {
                close_file(opened);
            }
            return false;
        }
        input.files.push_back(&vob_files[i]);
        input.source_files.push_back({&vob_files[i], vobs.files[i].sectors, 0, {}, 0});
    }
    return true;
}

// On an image the address space is the VOB files' extents, in order; with
// css, read through libdvdcss.
std::vector<SourceFile> image_extents(const VobSet& vobs, NamedFile& image, CssDisc* css) {
    std::vector<SourceFile> source_files;
    for (const VobFile& vob : vobs.files) {
        std::uint64_t first_of_file = 0;
        for (const ImageExtent& extent : vob.extents) {
            const std::uint64_t sectors = extent.bytes / SECTOR_SIZE;
            source_files.push_back({&image, sectors, extent.sector, vob.path, first_of_file, css});
            first_of_file += sectors;
        }
    }
    return source_files;
}

std::vector<SectorRun> runs_of(const CellPlan& plan) {
    std::vector<SectorRun> runs;
    for (const PlannedCell& cell : plan.cells) {
        runs.push_back({cell.first_sector, cell.last_sector, cell.interleaved});
    }
    return runs;
}

// An image whose title holds scrambled packs is read anew through
// libdvdcss, from its file system on; the title then found is read, its
// title set's key sought first. False, having said why.
bool read_through_libdvdcss(const DiscRun& disc, CssDisc& css, DiscRun& through, TitleRead& read) {
    const TitleChoice choice{read.number, read.angle};
    read = TitleRead{};
    return open_through_libdvdcss(disc, css, through) && choose_title(through, choice, read) &&
           plan_title(through, read) && seek_key_of_title_set(through, css, read.vobs, read.title.title_set);
}

// The chapters by the IFO's cell times, and what the reading needs to put
// them on the video's clock where the title's timestamps restart.
std::string chapters_of(const TitleRead& read, SplitInput& input) {
    const ChapterStarts starts = chapter_starts(read.set, read.title.title_in_set, read.angle);
    input.chapter_runs = starts.first_cells;
    input.chapter_milliseconds = starts.milliseconds;
    return chapters_text(starts.milliseconds);
}

// Whether the folder of disc is the mounted file system of a drive that is
// to be read instead: the title's first packs are scrambled or refused,
// libdvdcss loads and the device can be opened (a user in the cdrom group
// can); drive is then open. Otherwise the folder is read as it always was.
bool mounted_drive_to_read(const DiscRun& disc, const TitleRead& read, const SplitInput& input, NamedFile& drive) {
    const std::optional<std::string> device = drive_of_folder(disc.folder.path);
    if (!device || probe_runs_for_scrambling(input.source_files, runs_of(read.plan)) == ProbedPacks::clear ||
        !libdvdcss_loads()) {
        return false;
    }
    // Quietly: a device that cannot be opened leaves the folder as it is.
    drive = NamedFile{open_binary_file(device->c_str(), "rb"), *device, false};
    if (drive.stream == nullptr || !image_size(drive)) {
        close_file(drive);
        return false;
    }
    std::setvbuf(drive.stream, nullptr, _IONBF, 0);
    // Only a drive that holds a DVD-Video (a hard disk holding a copy of a
    // scrambled folder does not): its file system is never scrambled.
    if (!open_disc_image(drive, image_size(drive).value_or(0) / SECTOR_SIZE, true).failure.empty()) {
        close_file(drive);
        return false;
    }
    return true;
}

// Whether the folder of disc is a Windows drive's root or its VIDEO_TS, to
// be read as the drive through libdvdcss whenever it loads: a drive hands
// out scrambled sectors only after the authentication that libdvdcss makes.
// libdvdcss opens it by its name ("D:"): drive has no stream. Otherwise
// the folder is read as it always was.
bool drive_root_to_read(const DiscRun& disc, NamedFile& drive) {
    const std::optional<std::string> device = drive_of_root(disc.folder.path);
    if (!device || !libdvdcss_loads()) {
        return false;
    }
    drive = NamedFile{nullptr, *device, false};
    return true;
}

// The drive as a disc whose listing is read through libdvdcss, its outputs
// named after the folder.
DiscRun drive_of(const DiscRun& folder_disc, NamedFile& drive) {
    DiscRun disc;
    disc.argument = folder_disc.argument;
    disc.folder.image = &drive;
    disc.folder.image_sectors = image_size(drive).value_or(0) / SECTOR_SIZE;
    disc.folder.name = disc_name(folder_disc.argument);
    return disc;
}

}  // namespace

int last_number_of(int argc, char** argv, const char* option, int fallback) {
    int number = fallback;
    for (int i = 2; i < argc; ++i) {
        if (contains_option(argv[i], option)) {
            number = number_after(argc, argv, i);
        }
    }
    return number;
}

TitleChoice chosen_by_options(int argc, char** argv) {
    return {last_number_of(argc, argv, TITLE_OPTION, 0), last_number_of(argc, argv, ANGLE_OPTION, FIRST_ANGLE)};
}

int run_disc_title(const DiscRun& first_read, int argc, char** argv, const TitleChoice& choice) {
    TitleRead read;
    if (!choose_title(first_read, choice, read) || !plan_title(first_read, read)) {
        return EXIT_FAILED;
    }
    // The VOB files stay open for the run, so that no output can be one of them.
    std::array<NamedFile, MOST_VOB_FILES> vob_files;
    SplitInput input;
    input.name = first_read.argument;
    CssDisc css;
    DiscRun through;
    NamedFile drive;  // a mounted folder's, when it is read instead
    const DiscRun* read_disc = &first_read;
    if (first_read.folder.image != nullptr) {
        NamedFile& image = *first_read.folder.image;
        input.files.push_back(&image);
        input.drive = is_block_device(image);
        input.source_files = image_extents(read.vobs, image, nullptr);
        // A drive hands out scrambled sectors only after the authentication
        // that libdvdcss makes: where it loads, a drive is read through it.
        if (input.drive ? libdvdcss_loads()
                        : probe_runs_for_scrambling(input.source_files, runs_of(read.plan)) == ProbedPacks::scrambled) {
            if (!read_through_libdvdcss(first_read, css, through, read)) {
                close_css_disc(css);
                return EXIT_FAILED;
            }
            input.source_files = image_extents(read.vobs, image, &css);
            input.through_libdvdcss = true;
            read_disc = &through;
        }
    } else if (!open_vob_files(read.vobs, vob_files, input)) {
        return EXIT_FAILED;
    } else if (drive_root_to_read(first_read, drive) || mounted_drive_to_read(first_read, read, input, drive)) {
        // A Windows drive's root, or a mounted disc's folder whose title the
        // drive refuses or hands out scrambled: read as that drive, through
        // libdvdcss, named as the folder.
        const DiscRun drive_disc = drive_of(first_read, drive);
        if (!read_through_libdvdcss(drive_disc, css, through, read)) {
            close_css_disc(css);
            close_file(drive);
            for (NamedFile* file : input.files) {
                close_file(*file);
            }
            return EXIT_FAILED;
        }
        input.files.push_back(&drive);
        input.drive = true;
        input.through_libdvdcss = true;
        input.source_files = image_extents(read.vobs, drive, &css);
        read_disc = &through;
    }
    const DiscRun& disc = *read_disc;
    input.runs = runs_of(read.plan);
    for (const PlannedCell& cell : read.plan.cells) {
        input.may_join.push_back(cell.may_join);
    }
    input.title = read.number;
    input.naming = {disc.argument, stem_of(disc, read), chapters_of(read, input)};
    const ProgramChain& chain = first_program_chain(read.title, read.set);
    input.languages = title_languages(read.set, chain);
    input.subpictures.width = read.set.video.width;
    input.subpictures.height = read.set.video.height;
    input.subpictures.palette = chain.palette;
    const int status = split(argc, argv, input);
    close_css_disc(css);
    return status;
}

}  // namespace packrift
