// The disc layer in process: the IFO parsers on damaged files, the plan of
// a title's cells and chapter starts, the VOB files' address space and the
// navigation pack's DSI.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "disc/disc_folder.hpp"
#include "disc/ifo_tables.hpp"
#include "disc/nav_pack.hpp"
#include "disc/title_plan.hpp"
#include "disc/vob_set.hpp"
#include "support/disc_builder.hpp"
#include "support/run_binary.hpp"

namespace {

using namespace packrift;
using packtest::Bytes;
using packtest::disc::put_be16_at;
using packtest::disc::put_be32_at;

ByteView view(const Bytes& bytes) {
    return view_of(bytes.data(), bytes.size());
}

// Two chains, the first of two cells and two programs, the second of one,
// and two titles, in title set 1 of 2.
packtest::disc::Disc two_chains() {
    packtest::disc::TitleSet set;
    set.program_chains.resize(2);
    set.program_chains[0].cells = {{0, 9, {}}, {10, 19, {}}};
    set.program_chains[0].program_first_cells = {1, 2};
    set.program_chains[1].cells.resize(1);
    set.titles = {{{{1, 1}, {1, 2}}}, {{{2, 1}}}};
    packtest::disc::Disc disc;
    disc.title_sets = {set, {}};
    return disc;
}

struct DamageCase {
    const char* label;
    bool title_set;  // VTS_nn_0.IFO, otherwise VIDEO_TS.IFO
    std::function<void(Bytes&)> damage;
    std::string problem;
};

TEST(IfoParsers, EveryDamagedFileGivesItsReason) {
    const packtest::disc::Disc disc = two_chains();
    const Bytes manager = packtest::disc::video_manager_ifo(disc);
    const Bytes title_set = packtest::disc::title_set_ifo(disc, 0);
    const packtest::disc::IfoPlaces vts = packtest::disc::ifo_places(title_set);
    const std::size_t titles = packtest::disc::ifo_places(manager).title_table;
    const std::size_t title_2 = titles + 8 + 12;
    const std::size_t chain_1 = vts.chains.at(0);
    const std::size_t chain_2 = vts.chains.at(1);
    const std::size_t chapters = vts.chapter_table + 8 + 4 * 2;  // title 1's first chapter
    const std::size_t chains = vts.chain_table;
    const std::vector<DamageCase> cases = {
        {"a title table cut short", false, [](Bytes& b) { b.resize(100); }, "truncated"},
        {"not a video manager", false, [](Bytes& b) { b[9] = 'X'; }, "no DVDVIDEO-VMG at its start"},
        {"no title table", false, [](Bytes& b) { put_be32_at(b, 196, 0); }, "no title table"},
        {"a title table offset past the end", false, [](Bytes& b) { put_be32_at(b, 196, 9); },
         "title table past the end of the file"},
        {"a title table longer than the file", false, [=](Bytes& b) { put_be32_at(b, titles + 4, 4096); },
         "title table runs past the end of the file"},
        {"more titles than the table holds", false, [=](Bytes& b) { put_be16_at(b, titles, 3); },
         "title table lists 3 titles, more than it holds"},
        {"a title of a title set the disc has not", false, [=](Bytes& b) { b[title_2 + 6] = 3; },
         "title 2 names title set 3 of 2"},
        // Files are named VTS_01 to VTS_99: set 150 would read set 50's.
        {"more title sets than a disc may hold", false, [](Bytes& b) { put_be16_at(b, 62, 150); },
         "counts 150 title sets, more than the 99 a disc may hold"},
        {"a title numbered 0 in its set", false, [=](Bytes& b) { b[title_2 + 7] = 0; },
         "title 2 has no number in its title set"},
        {"a management table cut short", true, [](Bytes& b) { b.resize(700); }, "truncated"},
        {"not a title set", true, [](Bytes& b) { b[0] = 'X'; }, "no DVDVIDEO-VTS at its start"},
        {"more audio tracks than there is room for", true, [](Bytes& b) { b[515] = 9; },
         "9 audio and 0 subpicture tracks, more than a title set has room for"},
        {"a chapter table offset past the end", true, [](Bytes& b) { put_be32_at(b, 200, 40); },
         "chapter table past the end of the file"},
        {"more titles than the chapter table holds", true,
         [=](Bytes& b) { put_be16_at(b, vts.chapter_table, 600); },
         "chapter table lists 600 titles, more than it holds"},
        {"a title's chapters outside the chapter table", true,
         [=](Bytes& b) { put_be32_at(b, vts.chapter_table + 8, 0x10000); },
         "the chapters of title 1 lie outside the chapter table"},
        {"a chapter of a chain the set has not", true, [=](Bytes& b) { put_be16_at(b, chapters, 3); },
         "chapter 1 of title 1 names program chain 3 of 2"},
        {"a chapter of a program its chain has not", true, [=](Bytes& b) { put_be16_at(b, chapters + 6, 4); },
         "chapter 2 of title 1 names program 4 of program chain 1, which has 2"},
        {"more chains than the table holds", true, [=](Bytes& b) { put_be16_at(b, chains, 400); },
         "program chain table lists 400 chains, more than it holds"},
        {"a chain past the end of its table", true, [=](Bytes& b) { put_be32_at(b, chains + 8 + 8 + 4, 0x7000); },
         "program chain 2 lies past the end of its table"},
        {"a table that ends inside a chain's cells", true,
         [=](Bytes& b) { put_be32_at(b, chains + 4, static_cast<std::uint32_t>(chain_2 + 240 - chains)); },
         "the cells of program chain 2 lie past the end of its table"},
        {"more cells than the chain's table holds", true, [=](Bytes& b) { b[chain_1 + 3] = 200; },
         "the cells of program chain 1 lie past the end of its table"},
        {"a program map past the end", true, [=](Bytes& b) { put_be16_at(b, chain_1 + 230, 0xFFF0); },
         "the program map of program chain 1 lies past the end of its table"},
        {"a program that starts at a cell the chain has not", true, [=](Bytes& b) { b[chain_1 + 237] = 3; },
         "program 2 of program chain 1 starts at cell 3 of 2"},
        {"a cell that ends before it begins", true,
         [=](Bytes& b) { put_be32_at(b, chain_1 + 236 + 2 + 24 + 20, 5); },
         "cell 2 of program chain 1 ends before it begins"},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.label);
        Bytes file = c.title_set ? title_set : manager;
        // Sound as made.
        ASSERT_EQ(c.title_set ? parse_title_set(view(file)).problem : parse_video_manager(view(file)).problem, "");
        c.damage(file);
        EXPECT_EQ(c.title_set ? parse_title_set(view(file)).problem : parse_video_manager(view(file)).problem,
                  c.problem);
    }
}

// Records made directly: a cell of a given time, plain or in an angle block.
Cell cell(std::uint32_t first, std::uint32_t last, int seconds, int frames = 0,
          FrameRate rate = FrameRate::pal_25, BlockMode mode = BlockMode::not_in_block) {
    Cell c;
    c.first_sector = first;
    c.last_sector = last;
    c.playback_time = {0, 0, seconds, frames, rate};
    c.block_mode = mode;
    c.angle_block = mode != BlockMode::not_in_block;
    c.interleaved = c.angle_block;
    return c;
}

// The cell in the given VOB, flagged or not as where the clock restarts.
Cell in_vob(Cell c, int vob_id, bool stc_discontinuity = false) {
    c.vob_id = vob_id;
    c.stc_discontinuity = stc_discontinuity;
    return c;
}

ProgramChain chain(std::vector<Cell> cells, std::vector<int> programs) {
    ProgramChain pgc;
    pgc.cells = std::move(cells);
    pgc.program_entry_cells = std::move(programs);
    return pgc;
}

struct PlanCase {
    const char* label;
    TitleSetInfo set;
    int title;
    int angle;
    std::vector<std::uint32_t> first_sectors;  // of the cells read, in order
    std::vector<std::uint64_t> chapter_starts;
    std::vector<std::size_t> chapter_first_cells;  // in the plan
    std::vector<std::size_t> joins;  // the cells of the plan at which the timestamps may restart
    std::string problem;
};

// A crafted disc's title set as its IFO file gives it.
TitleSetInfo read_back(const packtest::disc::Disc& disc) {
    const Bytes ifo = packtest::disc::title_set_ifo(disc, 0);
    Parsed<TitleSetInfo> parsed = parse_title_set(view(ifo));
    EXPECT_EQ(parsed.problem, "");
    return parsed.record;
}

TEST(TitlePlan, CellsInPlayOrderAndChapterStarts) {
    const FrameRate ntsc = FrameRate::ntsc_29_97;
    TitleSetInfo plain;
    plain.program_chains = {chain({cell(0, 9, 2), cell(10, 19, 3), cell(20, 29, 4)}, {1, 3})};
    plain.titles = {{{1, 1}, {1, 2}}};

    // Title 2's chapters name chain 2 first, then chain 1, then chain 2 again;
    // title 1 reads chain 1 alone.
    TitleSetInfo reordered;
    reordered.program_chains = {chain({cell(100, 109, 5)}, {1}),
                                chain({cell(50, 59, 1), cell(0, 9, 2)}, {1, 2})};
    reordered.titles = {{{1, 1}}, {{2, 1}, {1, 1}, {2, 2}}};

    TitleSetInfo angles;
    // Interleaved angle cells span the same sectors, each from its own first unit.
    angles.program_chains = {chain({cell(0, 9, 1), cell(10, 99, 7, 0, FrameRate::pal_25, BlockMode::first),
                                    cell(11, 99, 8, 0, FrameRate::pal_25, BlockMode::middle),
                                    cell(12, 99, 9, 0, FrameRate::pal_25, BlockMode::last), cell(100, 109, 1)},
                                   {1, 2, 5})};
    angles.titles = {{{1, 1}, {1, 2}, {1, 3}}};

    // Three cells of 29 frames at 29.97: 87 frames are 2902.9 ms, where
    // each cell's time cut to whole milliseconds first would give 2901.
    TitleSetInfo ntsc_frames;
    ntsc_frames.program_chains = {chain({cell(0, 0, 0, 29, ntsc), cell(1, 1, 0, 29, ntsc), cell(2, 2, 0, 29, ntsc),
                                         cell(3, 3, 1, 24), cell(4, 4, 0)},
                                        {1, 4, 5})};
    ntsc_frames.titles = {{{1, 1}, {1, 2}, {1, 3}}};

    // An angle block whose angles are VOBs of their own, each flagged, as
    // is the title's first cell; the cell after it in a VOB of its own, not
    // flagged. Chain 2 runs on in that VOB.
    TitleSetInfo angle_vobs;
    angle_vobs.program_chains = {
        chain({in_vob(cell(0, 9, 1), 1, true),
               in_vob(cell(10, 99, 2, 0, FrameRate::pal_25, BlockMode::first), 2, true),
               in_vob(cell(11, 99, 2, 0, FrameRate::pal_25, BlockMode::last), 3, true),
               in_vob(cell(100, 109, 1), 4)},
              {1, 2}),
        chain({in_vob(cell(110, 119, 1), 4)}, {1})};
    angle_vobs.titles = {{{1, 1}, {1, 2}, {2, 1}}};

    // The clock flagged as restarting at VOB 2's second cell too.
    packtest::disc::Disc flagged = packtest::disc::vob_per_chapter();
    flagged.title_sets[0].program_chains[0].cells[2].stc_discontinuity = true;

    const std::vector<PlanCase> cases = {
        {"one chain in order", plain, 1, 1, {0, 10, 20}, {0, 5000}, {0, 2}, {}, ""},
        {"chains in the order the chapters first name them", reordered, 2, 1, {50, 0, 100}, {0, 3000, 1000},
         {0, 2, 1}, {}, ""},
        {"the other title of the set", reordered, 1, 1, {100}, {0}, {0}, {}, ""},
        {"angle 1 of the block", angles, 1, 1, {0, 10, 100}, {0, 1000, 8000}, {0, 1, 2}, {}, ""},
        {"angle 2 reads the block's second cell", angles, 1, 2, {0, 11, 100}, {0, 1000, 9000}, {0, 1, 2}, {}, ""},
        {"angle 3", angles, 1, 3, {0, 12, 100}, {0, 1000, 10000}, {0, 1, 2}, {}, ""},
        {"frames added exactly, turned into milliseconds once", ntsc_frames, 1, 1, {0, 1, 2, 3, 4},
         {0, 2902, 4862}, {0, 3, 4}, {}, ""},  // 2902.9 ms, then that and 1 s and 24 frames at 25
        {"angles in VOBs of their own: angle 1", angle_vobs, 1, 1, {0, 10, 100, 110}, {0, 1000, 4000},
         {0, 1, 3}, {1, 2}, ""},
        {"angles in VOBs of their own: angle 2", angle_vobs, 1, 2, {0, 11, 100, 110}, {0, 1000, 4000},
         {0, 1, 3}, {1, 2}, ""},
        // VOBs 1, 2 (two cells) and 3, each VOB's first cell flagged.
        {"a VOB per chapter, through its IFO file", read_back(packtest::disc::vob_per_chapter()), 1, 1,
         {0, 8, 12, 16}, {0, 960, 1920}, {0, 1, 3}, {1, 3}, ""},
        {"a cell flagged inside its VOB, through its IFO file", read_back(flagged), 1, 1, {0, 8, 12, 16},
         {0, 960, 1920}, {0, 1, 3}, {1, 2, 3}, ""},
        // The interleaved, seamless play and seamless angle flags beside the
        // STC discontinuity flag are not taken for it.
        {"an angle block in one VOB, through its IFO file", read_back(packtest::disc::multi_angle(2)), 1, 2,
         {0, 9, 34}, {0, 1000, 3200}, {0, 1, 2}, {}, ""},
        {"an angle the block has not", angles, 1, 4, {}, {}, {}, {},
         "the angle block at cell 2 of program chain 1 has 3 angles, no angle 4"},
        {"a title the set has not", plain, 2, 1, {}, {}, {}, {}, "no title 2 in the title set's chapter table"},
    };
    for (const PlanCase& c : cases) {
        SCOPED_TRACE(c.label);
        const CellPlan plan = title_cells(c.set, c.title, c.angle);
        EXPECT_EQ(plan.problem, c.problem);
        std::vector<std::uint32_t> firsts;
        std::vector<std::size_t> joins;
        for (std::size_t i = 0; i < plan.cells.size(); ++i) {
            firsts.push_back(plan.cells[i].first_sector);
            if (plan.cells[i].may_join) {
                joins.push_back(i);
            }
        }
        EXPECT_EQ(firsts, c.first_sectors);
        EXPECT_EQ(joins, c.joins);
        const ChapterStarts starts = chapter_starts(c.set, c.title, c.angle);
        EXPECT_EQ(starts.problem, c.problem);
        EXPECT_EQ(starts.milliseconds, c.chapter_starts);
        EXPECT_EQ(starts.first_cells, c.chapter_first_cells);
    }
}

TEST(TitlePlan, AngleCellsKeepTheirPlaceInTheirChainForMessages) {
    TitleSetInfo set;
    set.program_chains = {chain({cell(0, 9, 1), in_vob(cell(10, 19, 1, 0, FrameRate::pal_25, BlockMode::first), 2),
                                 in_vob(cell(20, 29, 1, 0, FrameRate::pal_25, BlockMode::last), 3, true)},
                                {1})};
    set.titles = {{{1, 1}}};
    const CellPlan plan = title_cells(set, 1, 2);
    ASSERT_EQ(plan.cells.size(), 2u);
    EXPECT_EQ(plan.cells[1].cell, 3);
    EXPECT_EQ(plan.cells[1].program_chain, 1);
    EXPECT_EQ(plan.cells[1].last_sector, 29u);
    EXPECT_TRUE(plan.cells[1].interleaved);
    EXPECT_EQ(plan.cells[1].vob_id, 3);
    EXPECT_TRUE(plan.cells[1].stc_discontinuity);
}

TEST(TitlePlan, ChaptersInMkvmergesSimpleFormat) {
    EXPECT_EQ(chapters_text({0, 2902, 3723004}),
              "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Chapter 01\n"
              "CHAPTER02=00:00:02.902\nCHAPTER02NAME=Chapter 02\n"
              "CHAPTER03=01:02:03.004\nCHAPTER03NAME=Chapter 03\n");
}

// Outputs are named after the disc: its folder, or the folder above a
// VIDEO_TS folder, and "dvd" for a drive's root.
TEST(DiscName, TheFolderAboveVideoTsOrTheFolderItself) {
    const std::pair<std::string, std::string> rows[] = {
        {"/media/dvd/VIDEO_TS", "dvd"}, {"/media/Film/", "Film"}, {"/media/Film/video_ts/", "Film"},
        {"/media/Film/VIDEO_TS/../VIDEO_TS", "Film"}, {"/", "dvd"}, {"/VIDEO_TS", "dvd"},
#ifdef _WIN32
        {"D:\\", "dvd"}, {"D:\\VIDEO_TS", "dvd"}, {"E:\\Discs\\Film", "Film"},
#endif
    };
    for (const auto& [path, name] : rows) {
        EXPECT_EQ(packrift::disc_name(path), name) << path;
    }
    EXPECT_EQ(packrift::disc_name("."), packtest::utf8_of(std::filesystem::current_path().filename()));
}

// An image's outputs are named after its file, less its last extension; a
// drive's after its volume, in lower case and fit for a Windows file name.
TEST(DiscName, AnImagesFileOrADrivesVolume) {
    struct Row {
        const char* path;
        const char* volume;
        bool device;
        const char* name;
    };
    const Row rows[] = {
        {"film.iso", "FILM_DISC", false, "film"},
        {"/discs/Film.Backup.ISO", "", false, "Film.Backup"},
        {"noextension", "", false, "noextension"},
        {"/dev/sr0", "MY_FILM", true, "my_film"},
        {"/dev/sr0", "A:B<C>D\"E/F\\G|H?I*J", true, "a_b_c_d_e_f_g_h_i_j"},
        {"/dev/sr0", "", true, "dvd"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(packrift::image_disc_name(row.path, row.volume, row.device), row.name) << row.path;
    }
}

TEST(VobSet, SectorsRunOnFromFileToFileInNumberOrder) {
    DiscFolder folder{"disc", {{"vts_01_2.vob", false, 2 * 2048 + 100},
                               {"VTS_01_1.VOB", false, 3 * 2048},
                               {"VTS_01_4.VOB", false, 2048},  // after a gap: not part of the run
                               {"VTS_02_1.VOB", false, 2048},
                               {"VTS_01_3.VOB", true, 0}},  // a folder of that name is no file
                      nullptr, 0, {}, {}};
    const VobSet set = find_vob_files(folder, 1);
    ASSERT_EQ(set.files.size(), 2u);
    EXPECT_EQ(set.files[0].path, packtest::utf8_of(std::filesystem::path("disc") / "VTS_01_1.VOB"));
    EXPECT_EQ(set.files[1].name, "vts_01_2.vob");
    EXPECT_EQ(set.sectors, 5u);
    struct Place {
        std::uint64_t sector;
        bool found;
        std::size_t file;
        std::uint64_t in_file;
    };
    for (const Place& p : std::vector<Place>{{0, true, 0, 0}, {2, true, 0, 2}, {3, true, 1, 0}, {4, true, 1, 1},
                                             {5, false, 0, 0}, {0xFFFFFFFF, false, 0, 0}}) {
        SCOPED_TRACE(p.sector);
        const std::optional<SectorPlace> place = place_of_sector(set, p.sector);
        ASSERT_EQ(place.has_value(), p.found);
        if (place) {
            EXPECT_EQ(place->file, p.file);
            EXPECT_EQ(place->sector, p.in_file);
        }
    }
    EXPECT_TRUE(lies_within(set, 0, 4));
    EXPECT_FALSE(lies_within(set, 3, 5));
    EXPECT_FALSE(lies_within(set, 4, 3));
}

// A navigation pack as DVD lays it out: pack header, system header, PCI
// packet and DSI packet (private stream 2), filling the sector.
Bytes nav_pack(int stuffing = 0) {
    Bytes sector = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3,
                    static_cast<unsigned char>(0xF8 | stuffing)};
    sector.insert(sector.end(), static_cast<std::size_t>(stuffing), 0xFF);
    const auto packet = [&sector](unsigned char id, std::size_t length, int substream) {
        sector.insert(sector.end(), {0x00, 0x00, 0x01, id, static_cast<unsigned char>(length >> 8),
                                     static_cast<unsigned char>(length)});
        const std::size_t start = sector.size();
        sector.resize(start + length);
        if (substream >= 0) {
            sector[start] = static_cast<unsigned char>(substream);
        }
    };
    packet(0xBB, 18, -1);
    packet(0xBF, 980, 0x00);
    packet(0xBF, 2048 - sector.size() - 6, 0x01);
    return sector;
}

// Fills the DSI's fields: this pack's sector, its VOBU's end, the seamless
// category, the unit's end and the next unit's start.
Bytes with_dsi(Bytes sector, std::uint32_t category, std::uint32_t unit_end, std::uint32_t next_unit,
               std::size_t stuffing = 0) {
    const std::size_t dsi = 1031 + stuffing;  // after the substream byte
    put_be32_at(sector, dsi + 4, 1234);
    put_be32_at(sector, dsi + 8, 17);
    put_be16_at(sector, dsi + 32, category);
    put_be32_at(sector, dsi + 34, unit_end);
    put_be32_at(sector, dsi + 38, next_unit);
    return sector;
}

struct DsiCase {
    const char* label;
    Bytes sector;
    std::size_t size;
    NavPackReading status;
    InterleavedUnit unit;
};

TEST(NavPack, TheDsiOfAnInterleavedUnit) {
    Bytes long_pci = nav_pack();
    long_pci[38 + 4] = 0x07;  // the PCI's length now runs past the DSI
    Bytes pci_alone = nav_pack();
    pci_alone[1024 + 6] = 0x00;  // the second private stream 2 packet is a PCI too
    const Bytes video = packtest::video_pack(packtest::pattern(100, 1));
    Bytes mpeg_1_pack = with_dsi(nav_pack(), 0x4000, 40, 100);
    mpeg_1_pack[4] = 0x21;
    const std::vector<DsiCase> cases = {
        {"a unit with a next one", with_dsi(nav_pack(), 0x6000, 40, 100), 2048, NavPackReading::dsi_found,
         {1234, 17, false, true, true, false, 40, 100, false}},
        {"the angle's last unit", with_dsi(nav_pack(), 0x5000, 40, 0), 2048, NavPackReading::dsi_found,
         {1234, 17, false, true, false, true, 40, 0, true}},
        {"a next unit of all ones", with_dsi(nav_pack(), 0x4000, 40, 0xFFFFFFFF), 2048,
         NavPackReading::dsi_found, {1234, 17, false, true, false, false, 40, 0, true}},
        {"before an interleaved block, behind pack stuffing", with_dsi(nav_pack(3), 0x8000, 0, 0, 3), 2048,
         NavPackReading::dsi_found, {1234, 17, true, false, false, false, 0, 0, true}},
        {"a video pack", video, 2048, NavPackReading::not_a_nav_pack, {}},
        {"an MPEG-1 pack header", mpeg_1_pack, 2048, NavPackReading::not_a_nav_pack, {}},
        {"a packet length past the sector", long_pci, 2048, NavPackReading::no_dsi, {}},
        {"no DSI packet", pci_alone, 2048, NavPackReading::no_dsi, {}},
        {"a sector cut inside the DSI", with_dsi(nav_pack(), 0x4000, 40, 100), 1060, NavPackReading::no_dsi, {}},
        {"a sector cut inside the pack header", nav_pack(), 10, NavPackReading::not_a_nav_pack, {}},
    };
    for (const DsiCase& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(c.sector.size(), 2048u);
        // Only the bytes read are handed over, so that ASan sees any read beyond them.
        const Bytes read(c.sector.begin(), c.sector.begin() + static_cast<std::ptrdiff_t>(c.size));
        const DsiReading reading = read_dsi(read.data(), read.size());
        EXPECT_EQ(reading.status, c.status);
        if (c.status == NavPackReading::dsi_found) {
            EXPECT_EQ(reading.unit.nav_pack_sector, c.unit.nav_pack_sector);
            EXPECT_EQ(reading.unit.vobu_end, c.unit.vobu_end);
            EXPECT_EQ(reading.unit.pre_unit, c.unit.pre_unit);
            EXPECT_EQ(reading.unit.interleaved, c.unit.interleaved);
            EXPECT_EQ(reading.unit.unit_start, c.unit.unit_start);
            EXPECT_EQ(reading.unit.unit_end_here, c.unit.unit_end_here);
            EXPECT_EQ(reading.unit.unit_end, c.unit.unit_end);
            EXPECT_EQ(reading.unit.next_unit_start, c.unit.next_unit_start);
            EXPECT_EQ(reading.unit.last_unit, c.unit.last_unit);
        }
    }
}

// Fills the PCI's VOBU start and end times.
Bytes with_times(Bytes sector, std::uint32_t start, std::uint32_t end, std::size_t stuffing = 0) {
    const std::size_t pci = 45 + stuffing;  // after the substream byte
    put_be32_at(sector, pci + 12, start);
    put_be32_at(sector, pci + 16, end);
    return sector;
}

struct TimesCase {
    const char* label;
    Bytes sector;
    std::size_t size;
    std::optional<VobuTimes> times;
};

TEST(NavPack, TheVobuTimesOfThePci) {
    Bytes short_pci = with_times(nav_pack(), 9000, 52200);
    put_be16_at(short_pci, 38 + 4, 20);  // the PCI ends one byte before the end time's last
    Bytes two_dsis = with_times(nav_pack(), 9000, 52200);
    two_dsis[38 + 6] = 0x01;  // the first private stream 2 packet is a DSI too
    // The test discs' writer puts them where the reader looks.
    const packtest::disc::Disc joins = packtest::disc::vob_per_chapter();
    const Bytes written = packtest::disc::navigation_pack(joins.title_sets[0], 3);
    const std::vector<TimesCase> cases = {
        {"start and end, all 32 bits", with_times(nav_pack(), 0x80000001, 0xFFFFFFFE), 2048,
         VobuTimes{0x80000001, 0xFFFFFFFE}},
        {"behind pack stuffing", with_times(nav_pack(5), 9000, 52200, 5), 2048, VobuTimes{9000, 52200}},
        {"as the test discs write them", written, 2048, VobuTimes{52200, 95400}},
        {"a PCI cut short of its end time", short_pci, 2048, std::nullopt},
        {"a sector cut inside the PCI, after its times", with_times(nav_pack(), 9000, 52200), 65, std::nullopt},
        {"no PCI packet", two_dsis, 2048, std::nullopt},
        {"a video pack", packtest::video_pack(packtest::pattern(100, 1)), 2048, std::nullopt},
    };
    for (const TimesCase& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(c.sector.size(), 2048u);
        const Bytes read(c.sector.begin(), c.sector.begin() + static_cast<std::ptrdiff_t>(c.size));
        const std::optional<VobuTimes> times = read_vobu_times(read.data(), read.size());
        ASSERT_EQ(times.has_value(), c.times.has_value());
        if (times) {
            EXPECT_EQ(times->start_ptm, c.times->start_ptm);
            EXPECT_EQ(times->end_ptm, c.times->end_ptm);
        }
    }
}

}  // namespace
