// The listing of a disc's titles, end to end: the built packrift on crafted
// VIDEO_TS folders, names in any case, damaged IFO files and their backups.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/crafted_ifo.hpp"
#include "support/run_binary.hpp"

namespace {

namespace fs = std::filesystem;
using namespace packtest;

using DiscFiles = std::map<std::string, Bytes>;

CraftedTitleSet film_set() {
    CraftedTitleSet set;
    set.video = {0x5C, 0x00};  // MPEG-2, PAL, 16:9, 720 wide
    set.audio = {audio_attributes(0, 6, 0, 0, "en"), audio_attributes(0, 2, 0, 0, "fr"),
                 audio_attributes(4, 2, 0, 0, ""), audio_attributes(6, 6, 0, 1, "it"),
                 audio_attributes(0, 2, 0, 0, "es")};
    set.subpictures = {subpicture_attributes("de")};
    CraftedChain film;
    film.time = playback_time(1, 32, 5, 7, 25);
    film.cells = {CraftedCell{0, 9, playback_time(1, 0, 0, 0, 25)},
                  CraftedCell{10, 19, playback_time(0, 32, 5, 7, 25)}};
    film.program_entry_cells = {1, 2};
    // The Spanish track is not in this chain; the subpicture's 16:9 stream is 1.
    film.audio_control = {0x8000, 0x8100, 0x8000, 0x8100, 0x0000};
    film.subpicture_control = {0x80010000};
    CraftedChain extra;
    extra.time = playback_time(0, 0, 10, 0, 25);
    extra.cells = {CraftedCell{20, 29, playback_time(0, 0, 10, 0, 25)}};
    extra.audio_control = {0x8000};
    set.chains = {film, extra};
    set.titles = {{{1, 1}, {1, 2}}, {{2, 1}}};
    return set;
}

CraftedTitleSet ntsc_set() {
    CraftedTitleSet set;
    set.video = {0x40, 0x0C};  // MPEG-2, NTSC, 4:3, 352 wide at half height
    set.audio = {audio_attributes(2, 2, 0, 0, "de")};
    set.subpictures = {subpicture_attributes("nl")};
    CraftedChain chain;
    chain.time = playback_time(0, 0, 59, 29, 30);
    chain.cells = {CraftedCell{0, 9, playback_time(0, 0, 59, 29, 30)}};
    chain.audio_control = {0x8200};
    chain.subpicture_control = {0x83010000};  // 4:3 stream 3, 16:9 stream 1
    set.chains = {chain};
    return set;
}

// Each IFO file with its backup, and a VOB file per title set.
DiscFiles crafted_disc() {
    const Bytes manager = video_manager_ifo(2, {{1, 1, 2, 1}, {2, 1, 1, 1}, {1, 2, 1, 2}});
    const Bytes film = title_set_ifo(film_set());
    const Bytes ntsc = title_set_ifo(ntsc_set());
    return {{"VIDEO_TS.IFO", manager}, {"VIDEO_TS.BUP", manager}, {"VTS_01_0.IFO", film},
            {"VTS_01_0.BUP", film},    {"VTS_02_0.IFO", ntsc},    {"VTS_02_0.BUP", ntsc},
            {"VTS_01_1.VOB", Bytes(30 * SECTOR)}, {"VTS_02_1.VOB", Bytes(10 * SECTOR)}};
}

// What the crafted disc holds, as the listing must say it: times from the
// chains' BCD times (7 frames at 25 are 280 ms, 29 at 29.97 are 967 ms),
// stream ids from the chains' stream controls.
const std::string TITLE_1 =
    "title 1: 1:32:05.280, 2 chapters, 1 angle, title set 1\n"
    "  video MPEG-2 720x576 PAL 16:9\n"
    "  audio 0x80 AC-3 6ch 48 kHz en (-audio 0)\n"
    "  audio 0x81 AC-3 2ch 48 kHz fr (-audio 1)\n"
    "  audio 0xA0 LPCM 2ch 48 kHz 16-bit -- (-lpcm 0)\n"
    "  audio 0x89 DTS 6ch 96 kHz it (-dts 1)\n"
    "  subpicture 0x21 de\n";
const std::string TITLE_2 =
    "title 2: 0:00:59.967, 1 chapter, 1 angle, title set 2\n"
    "  video MPEG-2 352x240 NTSC 4:3\n"
    "  audio 0xC2 MPEG audio 2ch 48 kHz de (-mpa 2)\n"
    "  subpicture 0x23 nl\n";
const std::string TITLE_3 =
    "title 3: 0:00:10.000, 1 chapter, 2 angles, title set 1\n"
    "  video MPEG-2 720x576 PAL 16:9\n"
    "  audio 0x80 AC-3 6ch 48 kHz en (-audio 0)\n";
const std::string LISTING = TITLE_1 + TITLE_2 + TITLE_3;

std::string from_utf8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

struct ListingCase {
    const char* label;
    std::string folder;    // where the files go, below the scratch folder
    std::vector<std::string> args;
    bool lower_case_names;
    std::function<void(DiscFiles&)> change;
    int status;
    std::string out;
    std::string err;
};

TEST(DiscListing, EveryTitleWithItsStreamsWhateverTheNamesAndTheDamage) {
    const std::string wide = from_utf8(u8"Caf\u00e9 \u2013 \u6771\u4eac");
    const auto nothing = [](DiscFiles&) {};
    const auto truncate = [](const std::string& name) { return [name](DiscFiles& f) { f[name].resize(700); }; };
    const std::vector<ListingCase> cases = {
        {"upper-case names, the folder above VIDEO_TS given", "disc/VIDEO_TS", {"disc"}, false, nothing, 0, LISTING,
         ""},
        {"lower-case names, the VIDEO_TS folder itself given", "disc/video_ts", {"disc/video_ts"}, true, nothing, 0,
         LISTING, ""},
        {"a folder named outside every ANSI code page", wide + "/VIDEO_TS", {wide}, false, nothing, 0, LISTING, ""},
        {"-streams alone lists the titles", "disc/VIDEO_TS", {"disc", "-streams"}, false, nothing, 0, LISTING, ""},
        {"an output option without -title", "disc/VIDEO_TS", {"disc", "-audio", "0"}, false, nothing, 1, LISTING,
         "disc: choose a title with -title N\n"},
        {"damaged IFO files whose backups are sound", "disc/VIDEO_TS", {"disc"}, false,
         [](DiscFiles& f) {
             f["VIDEO_TS.IFO"].resize(100);
             f["VTS_02_0.IFO"][0] = 'X';
         },
         0, LISTING, ""},
        {"VIDEO_TS.IFO missing, its backup there", "disc/VIDEO_TS", {"disc"}, true,
         [](DiscFiles& f) { f.erase("VIDEO_TS.IFO"); }, 0, LISTING, ""},
        {"a title set whose copies are both damaged is left out", "disc/VIDEO_TS", {"disc"}, true,
         [&](DiscFiles& f) {
             truncate("VTS_02_0.IFO")(f);
             truncate("VTS_02_0.BUP")(f);
         },
         1, TITLE_1 + TITLE_3, "vts_02_0.ifo: not a sound IFO file (truncated)\n"},
        {"a title set whose file is missing and whose backup is damaged", "disc/VIDEO_TS", {"disc"}, false,
         [&](DiscFiles& f) {
             f.erase("VTS_01_0.IFO");
             f["VTS_01_0.BUP"][0] = 'X';
         },
         1, TITLE_2, "VTS_01_0.BUP: not a sound IFO file (no DVDVIDEO-VTS at its start)\n"},
        {"a video manager damaged in both copies", "disc/VIDEO_TS", {"disc"}, false,
         [](DiscFiles& f) {
             f["VIDEO_TS.IFO"][1] = 'X';
             f["VIDEO_TS.BUP"].resize(2048);
         },
         1, "", "VIDEO_TS.IFO: not a sound IFO file (no DVDVIDEO-VMG at its start)\n"},
        {"no VIDEO_TS.IFO at all", "disc/VIDEO_TS", {"disc"}, false,
         [](DiscFiles& f) {
             f.erase("VIDEO_TS.IFO");
             f.erase("VIDEO_TS.BUP");
         },
         1, "", "disc: no VIDEO_TS.IFO here, so not a DVD-Video folder\n"},
    };
    for (const ListingCase& c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path dir = scratch_dir("disc-listing");
        const fs::path folder = dir / path_from_utf8(c.folder);
        fs::create_directories(folder);
        DiscFiles files = crafted_disc();
        c.change(files);
        for (const auto& [name, bytes] : files) {
            write_file(folder / (c.lower_case_names ? lower(name) : name), bytes);
        }
        const RunResult result = run_packrift(dir, c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        EXPECT_EQ(result.err, c.err);
        fs::remove_all(dir);
    }
}

}  // namespace
