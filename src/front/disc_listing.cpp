#include "front/disc_listing.hpp"

#include <cstdio>
#include <map>
#include <optional>

#include "disc/playback_time.hpp"
#include "front/command_line.hpp"
#include "front/disc_title.hpp"
#include "front/whole_disc.hpp"
#include "front/outputs.hpp"
#include "front/run_control.hpp"

namespace packrift {

namespace {

constexpr int KILOHERTZ = 1000;
constexpr const char* NO_LANGUAGE = "--";

std::string plural(int count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string language_of(const std::string& language) {
    return language.empty() ? NO_LANGUAGE : language;
}

// The kind of output that writes an audio coding, or none (SDDS, unknown).
std::optional<StreamKind> kind_of_coding(AudioCoding coding) {
    switch (coding) {
    case AudioCoding::ac3:
        return StreamKind::ac3_audio;
    case AudioCoding::mpeg1:
    case AudioCoding::mpeg2:
        return StreamKind::mpeg_audio;
    case AudioCoding::lpcm:
        return StreamKind::lpcm_audio;
    case AudioCoding::dts:
        return StreamKind::dts_audio;
    case AudioCoding::sdds:
    case AudioCoding::unknown:
        break;
    }
    return std::nullopt;
}

const char* audio_kind(AudioCoding coding) {
    const std::optional<StreamKind> kind = kind_of_coding(coding);
    if (kind) {
        return row_of(*kind).name;
    }
    return coding == AudioCoding::sdds ? "SDDS" : "unknown coding";
}

std::string video_line(const VideoAttributes& video) {
    const std::string coding = video.mpeg_version == 0 ? "MPEG video" : "MPEG-" + std::to_string(video.mpeg_version);
    return "  video " + coding + " " + std::to_string(video.width) + "x" + std::to_string(video.height) +
           (video.pal ? " PAL" : " NTSC") + (video.wide ? " 16:9" : " 4:3") + "\n";
}

std::string audio_line(const AudioAttributes& audio, std::uint16_t control) {
    const int number = audio_stream_number(control);
    const AudioTrackStream stream = audio_track_stream(audio.coding, number);
    // Built by appending: GCC 12 at -O3 warns falsely of overlapping copies
    // in "literal" + std::string.
    std::string line = "  audio ";
    if (stream.id == NO_STREAM_ID) {
        line += '#';
        line += std::to_string(number);
    } else {
        line += hex_id(stream.id);
    }
    line += std::string(" ") + audio_kind(audio.coding) + " " + std::to_string(audio.channels) + "ch";
    if (audio.sample_rate != 0) {
        line += std::string(" ") + std::to_string(audio.sample_rate / KILOHERTZ) + " kHz";
    }
    if (audio.lpcm_bits != 0) {
        line += std::string(" ") + std::to_string(audio.lpcm_bits) + "-bit";
    }
    return line + " " + language_of(audio.language) + " (" +
           (stream.option.empty() ? "no option extracts it" : stream.option) + ")\n";
}

int subpicture_id(std::uint32_t control, bool wide) {
    return SUBPICTURE_ROW.first + subpicture_stream_number(control, wide);
}

std::string subpicture_line(const SubpictureAttributes& subpicture, std::uint32_t control, bool wide) {
    const int id = subpicture_id(control, wide);
    return "  subpicture " + hex_id(id) + " " + language_of(subpicture.language) + " (" + SUBPICTURE_ROW.option +
           " " + std::to_string(id - SUBPICTURE_ROW.first) + ")\n";
}

// The title sets the titles name, each read once, in the order first named;
// the line of one that cannot be read is printed, and it is left out.
std::map<int, std::optional<TitleSetInfo>> read_title_sets(const DiscFolder& folder, const VideoManager& manager,
                                                          bool& ok) {
    std::map<int, std::optional<TitleSetInfo>> sets;
    for (const DiscTitle& title : manager.titles) {
        if (sets.count(title.title_set) != 0) {
            continue;
        }
        LoadedIfo<TitleSetInfo> loaded = load_title_set(folder, title.title_set);
        if (!loaded.failure.empty()) {
            std::fprintf(stderr, "%s\n", loaded.failure.c_str());
            ok = false;
            sets[title.title_set] = std::nullopt;
        } else {
            sets[title.title_set] = std::move(loaded.record);
        }
    }
    return sets;
}

// The first title listed before that plays the cells the title's first
// angle plays, or 0; the title's cells are kept for the titles after it.
int note_played_cells(std::vector<std::pair<PlayedCells, int>>& listed, int number, const DiscTitle& title,
                      const TitleSetInfo& set) {
    const CellPlan plan = title_cells(set, title.title_in_set, FIRST_ANGLE);
    if (!plan.problem.empty()) {
        return 0;
    }
    PlayedCells cells = played_cells(title.title_set, plan);
    for (const auto& [earlier, earlier_number] : listed) {
        if (earlier == cells) {
            return earlier_number;
        }
    }
    listed.emplace_back(std::move(cells), number);
    return 0;
}

bool print_listing(const DiscFolder& folder, const VideoManager& manager) {
    std::vector<std::pair<PlayedCells, int>> listed;
    bool ok = true;
    const std::map<int, std::optional<TitleSetInfo>> sets = read_title_sets(folder, manager, ok);
    for (std::size_t i = 0; i < manager.titles.size(); ++i) {
        const DiscTitle& title = manager.titles[i];
        const std::optional<TitleSetInfo>& set = sets.at(title.title_set);
        if (!set) {
            continue;
        }
        if (static_cast<std::size_t>(title.title_in_set) > set->titles.size()) {
            std::fprintf(stderr, "%s: no title %d in its chapter table, so title %s is left out\n",
                         title_set_file_name(title.title_set, 0, ".IFO").c_str(), title.title_in_set,
                         std::to_string(i + 1).c_str());
            ok = false;
            continue;
        }
        std::string listing = title_listing(static_cast<int>(i + 1), title, *set);
        const int earlier = note_played_cells(listed, static_cast<int>(i + 1), title, *set);
        if (earlier != 0) {
            // Under the title's own line, where a user choosing reads.
            listing.insert(listing.find('\n') + 1, "  same cells as title " + std::to_string(earlier) + "\n");
        }
        std::fputs(listing.c_str(), stdout);
    }
    return ok;
}

}  // namespace

AudioTrackStream audio_track_stream(AudioCoding coding, int stream_number) {
    const std::optional<StreamKind> kind = kind_of_coding(coding);
    if (!kind) {
        return {};
    }
    const StreamKindRow& row = row_of(*kind);
    return {row.first + stream_number, std::string(row.option) + " " + std::to_string(stream_number), row.substream};
}

std::vector<StreamLanguage> title_languages(const TitleSetInfo& set, const ProgramChain& chain) {
    std::vector<StreamLanguage> languages;
    for (std::size_t i = 0; i < set.audio.size(); ++i) {
        const AudioTrackStream stream =
            audio_track_stream(set.audio[i].coding, audio_stream_number(chain.audio_control[i]));
        if (audio_present(chain.audio_control[i]) && stream.id != NO_STREAM_ID) {
            languages.push_back({stream.substream, stream.id, language_of(set.audio[i].language)});
        }
    }
    for (std::size_t i = 0; i < set.subpictures.size(); ++i) {
        if (subpicture_present(chain.subpicture_control[i])) {
            languages.push_back({true, subpicture_id(chain.subpicture_control[i], set.video.wide),
                                 language_of(set.subpictures[i].language)});
        }
    }
    return languages;
}

const ProgramChain& first_program_chain(const DiscTitle& title, const TitleSetInfo& set) {
    // The parser has checked that the title's chapters name chains of the set.
    const std::vector<Chapter>& chapters = set.titles.at(static_cast<std::size_t>(title.title_in_set) - 1);
    return set.program_chains.at(static_cast<std::size_t>(chapters.front().program_chain) - 1);
}

std::string title_listing(int number, const DiscTitle& title, const TitleSetInfo& set) {
    const ProgramChain& chain = first_program_chain(title, set);
    std::string text = "title " + std::to_string(number) + ": " + listing_clock(milliseconds_of(chain.playback_time)) +
                       ", " + plural(title.chapters, "chapter") + ", " + plural(title.angles, "angle") +
                       ", title set " + std::to_string(title.title_set) + "\n";
    text += video_line(set.video);
    for (std::size_t i = 0; i < set.audio.size(); ++i) {
        if (audio_present(chain.audio_control[i])) {
            text += audio_line(set.audio[i], chain.audio_control[i]);
        }
    }
    for (std::size_t i = 0; i < set.subpictures.size(); ++i) {
        if (subpicture_present(chain.subpicture_control[i])) {
            text += subpicture_line(set.subpictures[i], chain.subpicture_control[i], set.video.wide);
        }
    }
    return text;
}

namespace {

// The listing, or with -title one title, of the disc found.
int run_found_disc(int argc, char** argv, const std::string& disc, const DiscFolder& folder) {
    LoadedIfo<VideoManager> manager = load_video_manager(folder);
    if (!manager.failure.empty()) {
        std::fprintf(stderr, "%s\n", manager.failure.c_str());
        return EXIT_FAILED;
    }
    if (option_given(argc, argv, MINLENGTH_OPTION) && !whole_disc_asked(argc, argv)) {
        std::fprintf(stderr, "%s: %s is for -title all and -title main\n", disc.c_str(), MINLENGTH_OPTION);
        return EXIT_FAILED;
    }
    if (option_given(argc, argv, TITLE_OPTION)) {
        return run_disc_titles(DiscRun{disc, folder, std::move(manager.record)}, argc, argv);
    }
    bool ok = print_listing(folder, manager.record);
    if (any_output_requested(argc, argv)) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: choose a title with -title N, -title all or -title main\n", disc.c_str());
        ok = false;
    }
    return standard_output_written() && ok ? EXIT_OK : EXIT_FAILED;
}

}  // namespace

int run_disc(int argc, char** argv) {
    const std::string disc = argv[1];
    const std::optional<DiscFolder> folder = find_disc_folder(disc);
    if (!folder) {
        std::fprintf(stderr, "%s: no VIDEO_TS.IFO here, so not a DVD-Video folder\n", disc.c_str());
        return EXIT_FAILED;
    }
    return run_found_disc(argc, argv, disc, *folder);
}

int run_disc_image(int argc, char** argv, NamedFile& image, std::uint64_t sectors) {
    const OpenedImage opened = open_disc_image(image, sectors, is_block_device(image));
    int status = EXIT_FAILED;
    if (!opened.failure.empty()) {
        std::fprintf(stderr, "%s\n", opened.failure.c_str());
    } else {
        status = run_found_disc(argc, argv, argv[1], opened.folder);
    }
    // A title's run has closed the image itself; a close that fails is told.
    if (image.stream != nullptr) {
        close_file(image);
        status = image.failed ? EXIT_FAILED : status;
    }
    return status;
}

}  // namespace packrift
