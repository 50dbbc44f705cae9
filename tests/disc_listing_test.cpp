// The listing of a disc's titles, end to end: the built packrift on crafted
// VIDEO_TS folders, names in any case, damaged IFO files and their backups.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "support/disc_builder.hpp"
#include "support/run_binary.hpp"

namespace {

namespace fs = std::filesystem;
using namespace packtest;
using namespace packtest::disc;

using DiscFiles = std::map<std::string, Bytes>;

// Units of ten blank sectors behind their navigation pack, one a cell.
TitleSet with_units(int count) {
    TitleSet set;
    for (int i = 1; i <= count; ++i) {
        set.vobus.push_back({std::vector<Bytes>(9, Bytes(SECTOR)), 0, 1, static_cast<std::uint8_t>(i)});
    }
    return set;
}

TitleSet film_set() {
    TitleSet set = with_units(3);
    set.video = {true, true};  // PAL, 16:9, 720 wide
    set.audio = {{AudioCoding::ac3, 6, 48000, 16, "en"}, {AudioCoding::ac3, 2, 48000, 16, "fr"},
                 {AudioCoding::lpcm, 2, 48000, 16, ""}, {AudioCoding::dts, 6, 96000, 16, "it"},
                 {AudioCoding::ac3, 2, 48000, 16, "es"}};
    set.subpictures = {{"de"}};
    ProgramChain film;
    film.cells = {cell_of_vobus(set, 0, 0, {1, 0, 0, 0}), cell_of_vobus(set, 1, 1, {0, 32, 5, 7})};
    film.program_first_cells = {1, 2};
    // The Spanish track is not in this chain; the subpicture's 16:9 stream is 1.
    film.audio_streams = {0, 1, 0, 1, -1};
    film.subpicture_streams = {{0, 1, 0, 0}};
    ProgramChain extra;
    extra.cells = {cell_of_vobus(set, 2, 2, {0, 0, 10, 0})};
    extra.audio_streams = {0};
    set.program_chains = {film, extra};
    set.titles = {{{{1, 1}, {1, 2}}, 1}, {{{2, 1}}, 2}};
    return set;
}

TitleSet ntsc_set() {
    TitleSet set = with_units(1);
    set.video = {false, false, 3};  // NTSC, 4:3, 352 wide at half height
    set.audio = {{AudioCoding::mpeg1, 2, 48000, 16, "de"}};
    set.subpictures = {{"nl"}};
    ProgramChain chain;
    chain.cells = {cell_of_vobus(set, 0, 0, {0, 0, 59, 29, true})};
    chain.audio_streams = {2};
    chain.subpicture_streams = {{3, 1, 0, 0}};
    set.program_chains = {chain};
    set.titles = {{{{1, 1}}, 1}};
    return set;
}

// Each IFO file with its backup, and a VOB file per title set; the title
// table takes title set 2's title between those of title set 1.
DiscFiles crafted_disc() {
    Disc disc;
    disc.title_sets = {film_set(), ntsc_set()};
    disc.title_order = {{1, 1}, {2, 1}, {1, 2}};
    const Bytes manager = video_manager_ifo(disc);
    const Bytes film = title_set_ifo(disc, 0);
    const Bytes ntsc = title_set_ifo(disc, 1);
    return {{"VIDEO_TS.IFO", manager}, {"VIDEO_TS.BUP", manager}, {"VTS_01_0.IFO", film},
            {"VTS_01_0.BUP", film},    {"VTS_02_0.IFO", ntsc},    {"VTS_02_0.BUP", ntsc},
            {"VTS_01_1.VOB", title_set_vobs(disc.title_sets[0])}, {"VTS_02_1.VOB", title_set_vobs(disc.title_sets[1])}};
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
    "  subpicture 0x21 de (-sub 1)\n";
const std::string TITLE_2 =
    "title 2: 0:00:59.967, 1 chapter, 1 angle, title set 2\n"
    "  video MPEG-2 352x240 NTSC 4:3\n"
    "  audio 0xC2 MPEG audio 2ch 48 kHz de (-mpa 2)\n"
    "  subpicture 0x23 nl (-sub 3)\n";
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
         "disc: choose a title with -title N, -title all or -title main\n"},
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
        packtest::remove_scratch_dir(dir);
    }
}

}  // namespace
