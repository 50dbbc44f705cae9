#include "front/whole_disc.hpp"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "disc/playback_time.hpp"
#include "front/command_line.hpp"
#include "front/disc_listing.hpp"
#include "front/progress.hpp"
#include "front/run_control.hpp"
#include "io/platform.hpp"

namespace packrift {

namespace {

constexpr const char* ALL_TITLES = "all";
constexpr const char* MAIN_TITLE = "main";
constexpr std::uint64_t MILLISECONDS_PER_SECOND = 1000;

enum class TitleWord : std::uint8_t { number, all, main };

// What follows the last -title: all or main where it is exactly that word.
TitleWord title_word(int argc, char** argv) {
    TitleWord word = TitleWord::number;
    for (int i = 2; i < argc; ++i) {
        if (contains_option(argv[i], TITLE_OPTION)) {
            const std::string next = i + 1 < argc ? argv[i + 1] : "";
            word = next == ALL_TITLES ? TitleWord::all : next == MAIN_TITLE ? TitleWord::main : TitleWord::number;
        }
    }
    return word;
}

// A line of the run on standard output, after the last title's progress line.
void say(const std::string& line) {
    end_progress_line();
    std::printf("%s\n", line.c_str());
}

int refuse(const DiscRun& disc, const std::string& what) {
    end_progress_line();
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", disc.argument.c_str(), what.c_str());
    return EXIT_FAILED;
}

// -minlength S, S whole seconds; no minimum without the option.
struct Minimum {
    bool given = false;
    int seconds = 0;
    bool shorter(std::uint64_t milliseconds) const {
        return given && milliseconds < static_cast<std::uint64_t>(seconds) * MILLISECONDS_PER_SECOND;
    }
};

Minimum minimum_length(int argc, char** argv) {
    return {option_given(argc, argv, MINLENGTH_OPTION), std::max(last_number_of(argc, argv, MINLENGTH_OPTION, 0), 0)};
}

// The title set of a title, where it can be read and holds the title;
// quietly: the title's own run tells what is wrong with it.
std::optional<TitleSetInfo> title_set_of(const DiscRun& disc, const DiscTitle& title) {
    LoadedIfo<TitleSetInfo> loaded = load_title_set(disc.folder, title.title_set);
    if (!loaded.failure.empty() || title.title_in_set < 1 ||
        static_cast<std::size_t>(title.title_in_set) > loaded.record.titles.size()) {
        return std::nullopt;
    }
    return std::move(loaded.record);
}

// The playing time the listing gives the title: its first program chain's.
std::uint64_t listed_milliseconds(const DiscTitle& title, const TitleSetInfo& set) {
    return milliseconds_of(first_program_chain(title, set).playback_time);
}

// "title 3", or "title 3, angle 2" for a second or later angle.
std::string title_name(int number, int angle) {
    std::string name = "title " + std::to_string(number);
    if (angle > FIRST_ANGLE) {
        name += ", angle " + std::to_string(angle);
    }
    return name;
}

// The run of a title closes an image with its VOB files: the next title
// opens it anew, as its own run would.
bool image_open(const DiscRun& disc) {
    NamedFile* image = disc.folder.image;
    return image == nullptr || image->stream != nullptr || open_unbuffered_for_reading(*image, image->name);
}

struct TitleRun {
    PlayedCells cells;
    int number = 0;
    int angle = FIRST_ANGLE;
};

// The cells the angle of a title plays, where its plan can be made (its
// run tells why not, otherwise).
std::optional<PlayedCells> cells_of(const DiscTitle& title, const TitleSetInfo& set, int angle) {
    const CellPlan plan = title_cells(set, title.title_in_set, angle);
    if (!plan.problem.empty()) {
        return std::nullopt;
    }
    return played_cells(title.title_set, plan);
}

const TitleRun* same_cells(const std::vector<TitleRun>& runs, const PlayedCells& cells, int angle) {
    const auto found = std::find_if(runs.begin(), runs.end(),
                                    [&](const TitleRun& run) { return run.angle == angle && run.cells == cells; });
    return found == runs.end() ? nullptr : &*found;
}

// Every title in the listing's order, each angle as -title N -angle A
// reads it; a title shorter than the minimum, or one that plays the cells
// of a title read before it, is left out with a line.
int run_every_title(const DiscRun& disc, int argc, char** argv, const Minimum& minimum) {
    if (option_given(argc, argv, ANGLE_OPTION)) {
        return refuse(disc, "-angle cannot be given with -title all, which reads every angle of each title");
    }
    keep_blocks_mapped();
    std::vector<TitleRun> runs;
    bool ok = true;
    for (std::size_t i = 0; i < disc.manager.titles.size(); ++i) {
        const int number = static_cast<int>(i + 1);
        const DiscTitle& title = disc.manager.titles[i];
        if (!image_open(disc)) {
            return EXIT_FAILED;
        }
        const std::optional<TitleSetInfo> set = title_set_of(disc, title);
        if (set && minimum.shorter(listed_milliseconds(title, *set))) {
            say(title_name(number, FIRST_ANGLE) + ": " + listing_clock(listed_milliseconds(title, *set)) +
                " is shorter than " + MINLENGTH_OPTION + " " + std::to_string(minimum.seconds) + "; left out");
            continue;
        }
        for (int angle = FIRST_ANGLE; angle <= std::max(title.angles, FIRST_ANGLE); ++angle) {
            const std::optional<PlayedCells> cells = set ? cells_of(title, *set, angle) : std::nullopt;
            const TitleRun* earlier = cells ? same_cells(runs, *cells, angle) : nullptr;
            if (earlier != nullptr) {
                say(title_name(number, angle) + ": plays the same cells as title " + std::to_string(earlier->number) +
                    "; left out");
                continue;
            }
            // A stop between two titles ends the run as it would have ended the title.
            if (stop_requested()) {
                return end_stopped_run();
            }
            if (!image_open(disc)) {
                return EXIT_FAILED;
            }
            say(title_name(number, angle) + ":");
            const int status = run_disc_title(disc, argc, argv, {number, angle});
            if (stop_requested()) {
                // Stopped in its pass (the status says so), or while it was
                // being planned: the run ends as the signal ends it.
                return status == EXIT_FAILED || status == EXIT_OK ? end_stopped_run() : status;
            }
            ok = status == EXIT_OK && ok;
            runs.push_back({cells.value_or(PlayedCells{}), number, angle});
        }
    }
    if (runs.empty()) {
        return refuse(disc, disc.manager.titles.empty() ? "the disc has no titles" : "every title is left out");
    }
    return ok ? EXIT_OK : EXIT_FAILED;
}

// The longest title by its listed playing time, the lowest number among
// equals, read as -title N would read it.
int run_main_title(const DiscRun& disc, int argc, char** argv, const Minimum& minimum) {
    int longest = 0;
    std::uint64_t longest_milliseconds = 0;
    for (std::size_t i = 0; i < disc.manager.titles.size(); ++i) {
        const std::optional<TitleSetInfo> set = title_set_of(disc, disc.manager.titles[i]);
        if (!set) {
            continue;
        }
        const std::uint64_t milliseconds = listed_milliseconds(disc.manager.titles[i], *set);
        if (longest == 0 || milliseconds > longest_milliseconds) {
            longest = static_cast<int>(i + 1);
            longest_milliseconds = milliseconds;
        }
    }
    if (longest == 0) {
        return refuse(disc, disc.manager.titles.empty() ? "the disc has no titles"
                                                        : "no title's playing time can be read");
    }
    const std::string length = listing_clock(longest_milliseconds);
    if (minimum.shorter(longest_milliseconds)) {
        return refuse(disc, "no title is as long as " + std::string(MINLENGTH_OPTION) + " " +
                                std::to_string(minimum.seconds) + " (the longest, title " + std::to_string(longest) +
                                ", is " + length + ")");
    }
    say("title main: title " + std::to_string(longest) + ", " + length);
    return run_disc_title(disc, argc, argv, {longest, last_number_of(argc, argv, ANGLE_OPTION, FIRST_ANGLE)});
}

}  // namespace

PlayedCells played_cells(int title_set, const CellPlan& plan) {
    PlayedCells played{title_set, {}};
    for (const PlannedCell& cell : plan.cells) {
        played.cells.emplace_back(cell.first_sector, cell.last_sector);
    }
    return played;
}

bool whole_disc_asked(int argc, char** argv) {
    return title_word(argc, argv) != TitleWord::number;
}

int run_disc_titles(const DiscRun& disc, int argc, char** argv) {
    switch (title_word(argc, argv)) {
    case TitleWord::all:
        return run_every_title(disc, argc, argv, minimum_length(argc, argv));
    case TitleWord::main:
        return run_main_title(disc, argc, argv, minimum_length(argc, argv));
    case TitleWord::number:
        break;
    }
    return run_disc_title(disc, argc, argv, chosen_by_options(argc, argv));
}

}  // namespace packrift
