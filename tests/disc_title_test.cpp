// Reading one title of a disc, end to end: the built packrift on crafted
// VIDEO_TS folders must give what it gives for the title's sectors laid
// out in play order as one file, and name its outputs after the disc.

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "output/silence_frames.hpp"
#include "support/disc_builder.hpp"
#include "support/run_binary.hpp"
#include "support/timed_units.hpp"

namespace {

namespace fs = std::filesystem;
using packtest::Bytes;
using packtest::read_file;
using packtest::run_packrift;

struct TitleCase {
    const char* label;
    packtest::disc::Disc disc;
    int title;
    int angle;
};

// Whether a stream's bytes hold a payload tagged with another angle than its own.
bool holds_other_angle(const Bytes& stream, int angle, int angles) {
    const std::string text(stream.begin(), stream.end());
    for (int other = 1; other <= angles; ++other) {
        if (other != angle && text.find("angle " + std::to_string(other) + " ") != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(DiscTitle, ATitleGivesWhatItsSectorsInPlayOrderGive) {
    const std::vector<TitleCase> cases = {
        {"cells played in another order than they lie", packtest::disc::cells_out_of_order(), 1, 1},
        {"the second title of a set that holds two", packtest::disc::two_titles_one_set(), 2, 1},
        {"a title across two VOB files", packtest::disc::title_across_files(), 1, 1},
        {"angle 1 of 2, interleaved", packtest::disc::multi_angle(2), 1, 1},
        {"angle 2 of 2, interleaved", packtest::disc::multi_angle(2), 1, 2},
        {"angle 3 of 3, interleaved", packtest::disc::multi_angle(3), 1, 3},
    };
    const fs::path dir = packtest::scratch_dir("title");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(dir / "movie");
        packtest::disc::write_disc(c.disc, dir / "movie" / "VIDEO_TS");
        packtest::write_file(dir / "played.vob", packtest::disc::title_play_order(c.disc, c.title, c.angle));
        ASSERT_EQ(run_packrift(dir, {"played.vob", "-video", "0", "-audio", "0"}).status, 0);

        const std::string title = std::to_string(c.title);
        const std::string stem = "movie-title" + title + (c.angle > 1 ? "-angle" + std::to_string(c.angle) : "");
        const auto result = run_packrift(dir, {"movie/VIDEO_TS", "-title", title, "-angle", std::to_string(c.angle),
                                               "-video", "0", "-audio", "0"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.rfind("opened " + stem + ".m2v for writing\nopened " + stem +
                                       "-stream0.ac3 for writing\nLBA = 0 ",
                                   0),
                  0u)
            << result.out;
        const Bytes video = read_file(dir / (stem + ".m2v"));
        EXPECT_FALSE(video.empty());
        EXPECT_TRUE(video == read_file(dir / "played.m2v"));
        EXPECT_TRUE(read_file(dir / (stem + "-stream0.ac3")) == read_file(dir / "played-stream0.ac3"));
        EXPECT_FALSE(holds_other_angle(video, c.angle, 3));
    }
    packtest::remove_scratch_dir(dir);
}

// The report names each stream's language as the title's program chain
// gives it; an output that is one of the disc's files is left untouched.
TEST(DiscTitle, LanguagesReachTheReportAndTheDiscIsNeverWritten) {
    const fs::path dir = packtest::scratch_dir("title-report");
    const packtest::disc::Disc disc = packtest::disc::two_titles_one_set();
    packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");
    // Title 3 plays the French track as substream 0x80, the German one as 0x81.
    auto result = run_packrift(dir, {"dvd", "-title", "3", "-streams"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::string report =
        "stream 0xE0 MPEG video: 4 packs, 8100 bytes\nstream 0xBD 0x80 AC-3 fr (-audio 0): 2 packs, 4042 bytes\n";
    ASSERT_GE(result.out.size(), report.size());
    EXPECT_EQ(result.out.substr(result.out.size() - report.size()), report);

    const fs::path vob = dir / "dvd" / "VIDEO_TS" / "VTS_02_1.VOB";
    const Bytes before = read_file(vob);
    fs::create_hard_link(vob, dir / "dvd-title3.m2v");
    result = run_packrift(dir, {"dvd", "-title", "3", "-video", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("dvd-title3.m2v: is the same file as the input "), std::string::npos) << result.err;
    EXPECT_TRUE(read_file(vob) == before);
    packtest::remove_scratch_dir(dir);
}

// A subpicture track of a title: the .idx takes the picture size, the
// palette and the language from the title set's IFO file, and its index is
// the substream the title's stream control names.
TEST(DiscTitle, SubpicturesTakeTheTitleSetsSizePaletteAndLanguage) {
    const fs::path dir = packtest::scratch_dir("title-sub");
    packtest::disc::Disc disc = packtest::disc::two_titles_one_set();
    packtest::disc::TitleSet& set = disc.title_sets[1];  // title 3: NTSC 4:3, Italian as 0x23
    const Bytes subpicture = packtest::subpicture_pack(0x23, packtest::subpicture_unit(200, true), 4500);
    set.vobus[0].packs.push_back(subpicture);
    set.vobus[0].packs.push_back(packtest::subpicture_pack(0x20, packtest::subpicture_unit(200, false), 4500));
    packtest::disc::ProgramChain& chain = set.program_chains[0];
    chain.cells = {packtest::disc::cell_of_vobus(set, 0, 0, chain.cells[0].time)};
    chain.palette[0] = 0x00108080;
    chain.palette.back() = 0x00EB8080;
    packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");

    const auto result = run_packrift(dir, {"dvd", "-title", "3", "-sub", "3"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("opened dvd-title3-sub3.sub for writing\nopened dvd-title3-sub3.idx for writing\n", 0),
              0u);
    EXPECT_TRUE(read_file(dir / "dvd-title3-sub3.sub") == subpicture);
    // The title's video has no PTS: the unit's own time is its line's.
    EXPECT_EQ(packtest::read_text(dir / "dvd-title3-sub3.idx"),
              "# VobSub index file, v7 (do not modify this line!)\nsize: 720x480\n"
              "palette: 000000, 008700, 008700, 008700, 008700, 008700, 008700, 008700, 008700, 008700, 008700, "
              "008700, 008700, 008700, 008700, ffffff\n"
              "langidx: 3\nid: it, index: 3\ntimestamp: 00:00:00:050, filepos: 000000000\n");
    packtest::remove_scratch_dir(dir);
}

// The bundled sample disc, authored by dvdauthor: its listing, and its two
// titles of title set 1, which lie one after the other in VTS_01_1.VOB, read
// as titles give together what that file split whole gives.
TEST(DiscTitle, TheSampleDiscsTitlesJoinToTheSplitOfTheirVobFile) {
    const fs::path dir = packtest::scratch_dir("title-sample");
    // A copy in the scratch folder, which a Windows build under Wine reaches too.
    fs::copy(fs::path(PACKRIFT_SAMPLE_DISC), dir / "disc", fs::copy_options::recursive);
    const std::string disc = "disc";
    auto result = run_packrift(dir, {disc});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "title 1: 0:00:05.000, 2 chapters, 1 angle, title set 1\n"
              "  video MPEG-2 720x480 NTSC 4:3\n"
              "  audio 0x80 AC-3 2ch 48 kHz en (-audio 0)\n"
              "  audio 0x81 AC-3 2ch 48 kHz fr (-audio 1)\n"
              "  subpicture 0x20 en (-sub 0)\n"
              "title 2: 0:00:02.000, 1 chapter, 1 angle, title set 1\n"
              "  video MPEG-2 720x480 NTSC 4:3\n"
              "  audio 0x80 AC-3 2ch 48 kHz en (-audio 0)\n"
              "  audio 0x81 AC-3 2ch 48 kHz fr (-audio 1)\n"
              "  subpicture 0x20 en (-sub 0)\n"
              "title 3: 0:00:01.500, 1 chapter, 1 angle, title set 2\n"
              "  video MPEG-2 720x480 NTSC 4:3\n"
              "  audio 0xA0 LPCM 2ch 48 kHz 16-bit -- (-lpcm 0)\n");
    for (const char* title : {"1", "2"}) {
        result = run_packrift(dir, {disc, "-title", title, "-video", "0", "-audio", "1", "-sub", "0", "-chapters"});
        EXPECT_EQ(result.status, 0) << title;
        EXPECT_EQ(result.err, "") << title;
    }
    fs::copy_file(dir / "disc" / "VIDEO_TS" / "VTS_01_1.VOB", dir / "vts_01_1.vob");
    ASSERT_EQ(run_packrift(dir, {"vts_01_1.vob", "-video", "0", "-audio", "1", "-sub", "0"}).status, 0);
    for (const char* suffix : {".m2v", "-stream1.ac3", "-sub0.sub"}) {
        SCOPED_TRACE(suffix);
        const Bytes title_1 = read_file(dir / (std::string("disc-title1") + suffix));
        EXPECT_FALSE(title_1.empty());
        EXPECT_TRUE(packtest::concat({title_1, read_file(dir / (std::string("disc-title2") + suffix))}) ==
                    read_file(dir / (std::string("vts_01_1") + suffix)));
    }
    // Each part of title 1 starts a chapter and shows two subtitles. The
    // second part's timestamps start anew: it starts, its chapter and its
    // subtitles with it, after the first part's 90 pictures of 3003 ticks,
    // where the IFO's cell times say 3 s.
    EXPECT_NE(packtest::read_text(dir / "disc-title1.chapters.txt").find("CHAPTER02=00:00:03.003\n"), std::string::npos);
    const std::string index = packtest::read_text(dir / "disc-title1-sub0.idx");
    EXPECT_NE(index.find("langidx: 0\nid: en, index: 0\n"
                         "timestamp: 00:00:00:400, filepos: 000000000\n"
                         "timestamp: 00:00:01:200, filepos: 000000800\n"
                         "timestamp: 00:00:03:403, filepos: 000001000\n"
                         "timestamp: 00:00:04:203, filepos: 000001800\n"),
              std::string::npos)
        << index;
    // -all opens what the listing shows, in its order, before the pass; the
    // options file names them with the listing's languages, the first audio
    // track alone default, the report's delay, and the chapters.
    const Bytes french = read_file(dir / "disc-title1-stream1.ac3");
    result = run_packrift(dir, {disc, "-title", "1", "-all", "-chapters", "-mkvmerge"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.substr(0, result.out.find("LBA")),
              "opened disc-title1.m2v for writing\nopened disc-title1-stream0.ac3 for writing\n"
              "opened disc-title1-stream1.ac3 for writing\nopened disc-title1-sub0.sub for writing\n"
              "opened disc-title1-sub0.idx for writing\nopened disc-title1.chapters.txt for writing\n");
    const std::string audio = "\"--sync\",\n  \"0:-5\",\n  \"--track-name\",\n  \"0:AC-3 2.0\",\n";
    const std::string not_default = "  \"--default-track-flag\",\n  \"0:0\",\n";
    EXPECT_EQ(packtest::read_text(dir / "disc-title1.mkvmerge.json"),
              "[\n  \"--output\",\n  \"disc-title1.mkv\",\n  \"disc-title1.m2v\",\n"
              "  \"--language\",\n  \"0:en\",\n  " + audio + "  \"disc-title1-stream0.ac3\",\n"
              "  \"--language\",\n  \"0:fr\",\n  " + audio + not_default + "  \"disc-title1-stream1.ac3\",\n"
              "  \"--language\",\n  \"0:en\",\n  \"--track-name\",\n  \"0:subpicture\",\n" + not_default +
              "  \"disc-title1-sub0.idx\",\n  \"--chapters\",\n  \"disc-title1.chapters.txt\"\n]\n");
    EXPECT_TRUE(read_file(dir / "disc-title1-stream1.ac3") == french) << "as -audio 1 alone writes it";
    EXPECT_EQ(read_file(dir / "disc-title1-stream0.ac3").size(), french.size()) << "both tracks written";
    packtest::remove_scratch_dir(dir);
}

// A unit of an angle whose navigation pack is lost cannot say where the
// angle goes on: the rest of the cell is read in order, and that is told.
TEST(DiscTitle, AnAngleUnitWithoutItsNavigationPackIsReadOnInOrderAndSaidSo) {
    const fs::path dir = packtest::scratch_dir("title-unled");
    const packtest::disc::Disc disc = packtest::disc::multi_angle(2);
    packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");
    // Units: one before the block, then angle 1 and angle 2 in turn, three rounds.
    const std::size_t second_unit_of_angle_2 = packtest::disc::lay_out(disc.title_sets[0])[4].first;
    const fs::path vob = dir / "dvd" / "VIDEO_TS" / "VTS_01_1.VOB";
    Bytes bytes = read_file(vob);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(second_unit_of_angle_2 * packtest::SECTOR),
                packtest::SECTOR, 0);
    packtest::write_file(vob, bytes);

    const auto result = run_packrift(dir, {"dvd", "-title", "1", "-angle", "2", "-video", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, packtest::utf8_of(fs::path("dvd") / "VIDEO_TS" / "VTS_01_1.VOB") +
                              ": 1 interleaved unit had no navigation pack to lead to its angle's next unit (the first "
                              "at sector " +
                              std::to_string(second_unit_of_angle_2) +
                              "); the rest of the cell was read in order, other angles' packs with it\n");
    EXPECT_TRUE(holds_other_angle(read_file(dir / "dvd-title1-angle2.m2v"), 2, 2));
    packtest::remove_scratch_dir(dir);
}

// What the joins of a title do to one part's audio frames.
struct PartCut {
    int silence_before = 0;  // frames of silence due before its first frame (DTS: left missing)
    int drop_front = 0;      // its first frames, passed over
    int drop_back = 0;       // its last frames, passed over
};

struct JoinCase {
    const char* label;
    packtest::disc::TimedContent content;  // no parts: the plain disc, whose video has no pictures
    std::vector<PartCut> cuts;
    std::vector<std::string> args;  // after the disc's
    int status;
    std::string note;  // the report's line where the parts' clock is not followed
};

constexpr std::int64_t PICTURE_TICKS = 3600;  // 25 Hz
constexpr std::int64_t PART_TICKS = 2 * packtest::disc::TIMED_UNIT_PICTURES * PICTURE_TICKS;
constexpr std::int64_t AC3_FRAME_TICKS = 2880;  // 1536 samples at 48 kHz
constexpr std::int64_t DTS_FRAME_TICKS = 960;   // 512 samples at 48 kHz
constexpr std::int64_t TICKS_PER_MS = 90;
constexpr int IFO_FRAMES_PER_SECOND = 25;

// "00:00:01" and the milliseconds after sep, of a time in ticks.
std::string clock_text(std::int64_t ticks, char sep) {
    const std::int64_t ms = ticks / TICKS_PER_MS;
    char text[32];
    std::snprintf(text, sizeof text, "%02" PRId64 ":%02" PRId64 ":%02" PRId64 "%c%03" PRId64, ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, sep, ms % 1000);
    return text;
}

// Chapter starts: each part's video start on the picture count's clock; on
// a disc without pictures, the IFO's cell times added up.
std::string expected_chapters(const JoinCase& c) {
    const packtest::disc::Disc disc = packtest::disc::vob_per_chapter(c.content);
    const auto& cells = disc.title_sets[0].program_chains[0].cells;
    std::vector<std::int64_t> starts = {0, PART_TICKS, 2 * PART_TICKS};
    if (c.content.parts.empty()) {
        const auto frames = [&cells](std::size_t i) {
            return std::int64_t{cells[i].time.seconds} * IFO_FRAMES_PER_SECOND + cells[i].time.frames;
        };
        starts = {0, frames(0) * PICTURE_TICKS, (frames(0) + frames(1) + frames(2)) * PICTURE_TICKS};
    }
    std::string text;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const std::string n = "CHAPTER0" + std::to_string(i + 1);
        text += n + "=" + clock_text(starts[i], '.') + "\n" + n + "NAME=Chapter 0" + std::to_string(i + 1) + "\n";
    }
    return text;
}

bool is_dts(const JoinCase& c) {
    return c.content.coding == packtest::disc::AudioCoding::dts;
}

// The audio output as the cuts leave it: each part's frames but those
// passed over, AC-3 silence before them where due.
Bytes expected_audio(const JoinCase& c) {
    Bytes out;
    for (std::size_t p = 0; p < c.content.parts.size(); ++p) {
        const auto& part = c.content.parts[p];
        const Bytes frames = packtest::disc::timed_audio(part, c.content.coding, static_cast<int>(p) + 1);
        const auto size = static_cast<std::ptrdiff_t>(packtest::disc::timed_audio_frame_size(c.content.coding));
        std::vector<unsigned char> silence;
        if (!is_dts(c)) {
            EXPECT_TRUE(packrift::ac3_silence_frame(packrift::view_of(frames.data(), frames.size()), 0, silence));
        }
        for (int i = 0; i < c.cuts[p].silence_before; ++i) {
            out.insert(out.end(), silence.begin(), silence.end());
        }
        out.insert(out.end(), frames.begin() + size * c.cuts[p].drop_front, frames.end() - size * c.cuts[p].drop_back);
    }
    return out;
}

// The report's lines after the stream lines: the joins, then the audio's cuts.
std::string expected_join_lines(const JoinCase& c) {
    if (c.content.parts.empty()) {
        return c.note;
    }
    int passed = 0;
    int filled = 0;
    int gaps = 0;
    for (const PartCut& cut : c.cuts) {
        passed += cut.drop_front + cut.drop_back;
        filled += cut.silence_before;
        gaps += cut.silence_before > 0 ? 1 : 0;
    }
    const std::int64_t frame_ticks = is_dts(c) ? DTS_FRAME_TICKS : AC3_FRAME_TICKS;
    const std::string gap = std::to_string(filled * frame_ticks / TICKS_PER_MS) + " ms";
    return "title 1: timestamps restart at 2 joins\n" +
           std::string(is_dts(c) ? "stream 0xBD 0x88 DTS en (-dts 0): " : "stream 0xBD 0x80 AC-3 en (-audio 0): ") +
           std::to_string(passed) + (passed == 1 ? " frame" : " frames") + " passed over, " +
           (is_dts(c) ? gap + " missing at " + std::to_string(gaps) + " join, not filled\n"
                      : std::to_string(filled) + " filled (" + gap + ")\n");
}

// The byte count of the report's line for a stream ("stream 0xE0 MPEG video").
std::string reported_bytes(const std::string& out, const std::string& stream) {
    const std::string head = "\n" + stream + ": ";
    const std::size_t line = ("\n" + out).find(head);
    if (line == std::string::npos) {
        return "no line";
    }
    const std::size_t packs_end = out.find(", ", line + head.size() - 1);
    const std::size_t bytes_end = out.find(" bytes", packs_end);
    if (packs_end == std::string::npos || bytes_end == std::string::npos) {
        return "no line";
    }
    return out.substr(packs_end + 2, bytes_end - packs_end - 2);
}

// The .idx's lines with each filepos value left out.
std::string without_filepos(const std::string& index) {
    const std::string field = "filepos: ";
    std::string out;
    std::size_t at = 0;
    while (at < index.size()) {
        std::size_t end = index.find('\n', at);
        end = end == std::string::npos ? index.size() : end + 1;
        const std::string line = index.substr(at, end - at);
        const std::size_t place = line.find(field);
        out += place == std::string::npos ? line : line.substr(0, place + field.size());
        at = end;
    }
    return out;
}

// A title of three VOBs whose timestamps each start anew, read with the
// built packrift: the video is the parts' own one after the other; the
// audio ends with each part's video, cut or filled (by the rules of the cut,
// worked out in the rows' notes, each part's video 24 pictures, 0.96 s);
// chapters and subtitles follow the picture count's clock; the report
// tells it, its byte counts those of the files.
TEST(DiscTitle, AtJoinsTheAudioEndsWithEachPartsVideo) {
    using packtest::disc::AudioCoding;
    const std::vector<std::string> ac3 = {"-video", "0", "-audio", "0", "-chapters", "-streams"};
    constexpr std::int64_t HALF_SECOND = 45000;
    const std::vector<JoinCase> cases = {
        // Part 1's 32 frames (1.024 s) end 2 frames past its video: the
        // frames at 0.960 and 0.992 s go. Part 2's 27 end 3 frames short
        // of its video: 3 frames of silence before part 3's first.
        {"AC-3 longer, shorter, as long as the video",
         {{{2, 32}, {2, 27}, {2, 30}}, AudioCoding::ac3},
         {{0, 0, 2}, {0, 0, 0}, {3, 0, 0}}, ac3, 0, ""},
        // Part 2's audio starts a frame before its video: that frame lies
        // where part 1's file already reaches and goes; its 31 frames end
        // with its video. Part 3's starts 2 frames after its video: 2
        // frames of silence. Subtitles 0.5 s into each part.
        {"AC-3 starting before and after its video, with subtitles",
         {{{2, 30, 0, HALF_SECOND}, {2, 31, -AC3_FRAME_TICKS, HALF_SECOND}, {2, 29, 2 * AC3_FRAME_TICKS, HALF_SECOND}},
          AudioCoding::ac3},
         {{0, 0, 0}, {0, 1, 0}, {2, 0, 0}},
         {"-video", "0", "-audio", "0", "-sub", "0", "-chapters", "-streams"}, 0, ""},
        // DTS frames of 512 samples: part 1's 96 run 6 past its video and
        // go; part 2's 84 end 6 frames (64 ms) short, which DTS cannot fill.
        {"DTS longer and shorter than the video: the gap is named, status 1",
         {{{2, 96}, {2, 84}, {2, 90}}, AudioCoding::dts},
         {{0, 0, 6}, {0, 0, 0}, {6, 0, 0}},
         {"-video", "0", "-dts", "0", "-chapters", "-streams"}, 1, ""},
        {"no pictures to count: the title as its timestamps come, chapters by the IFO",
         {}, {}, ac3, 0,
         "title 1: the video of part 1 could not be counted (no pictures), so the rest of the title is left as its "
         "timestamps come\n"},
    };
    const fs::path dir = packtest::scratch_dir("title-joins");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        for (const auto& entry : fs::directory_iterator(dir)) {
            fs::remove_all(entry.path());
        }
        const packtest::disc::Disc disc = packtest::disc::vob_per_chapter(c.content);
        packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");
        std::vector<std::string> args = {"dvd", "-title", "1"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = run_packrift(dir, args);
        EXPECT_EQ(result.status, c.status);
        const std::string lines = expected_join_lines(c);
        ASSERT_GE(result.out.size(), lines.size());
        EXPECT_EQ(result.out.substr(result.out.size() - lines.size()), lines) << result.out;
        EXPECT_EQ(packtest::read_text(dir / "dvd-title1.chapters.txt"), expected_chapters(c));

        const Bytes video = read_file(dir / "dvd-title1.m2v");
        const Bytes audio = read_file(dir / (is_dts(c) ? "dvd-title1-dts0.dts" : "dvd-title1-stream0.ac3"));
        EXPECT_EQ(reported_bytes(result.out, "stream 0xE0 MPEG video"), std::to_string(video.size()));
        EXPECT_EQ(reported_bytes(result.out, is_dts(c) ? "stream 0xBD 0x88 DTS en (-dts 0)"
                                                        : "stream 0xBD 0x80 AC-3 en (-audio 0)"),
                  std::to_string(audio.size()));
        if (c.content.parts.empty()) {
            // Left as it comes: as packrift splits the title's sectors laid out as one file.
            packtest::write_file(dir / "played.vob", packtest::disc::title_play_order(disc, 1));
            ASSERT_EQ(run_packrift(dir, {"played.vob", "-video", "0", "-audio", "0"}).status, 0);
            EXPECT_TRUE(audio == read_file(dir / "played-stream0.ac3"));
            EXPECT_EQ(result.err, "");
            continue;
        }
        // DTS: its line on standard error too.
        EXPECT_EQ(result.err, is_dts(c) ? lines.substr(lines.find('\n') + 1) : "");
        Bytes parts_video;
        std::string subtitles;
        for (std::size_t p = 0; p < c.content.parts.size(); ++p) {
            const Bytes one = packtest::disc::timed_video(c.content.parts[p]);
            parts_video.insert(parts_video.end(), one.begin(), one.end());
            if (c.content.parts[p].subpicture_at >= 0) {
                const auto at = static_cast<std::int64_t>(p) * PART_TICKS + c.content.parts[p].subpicture_at;
                subtitles += "timestamp: " + clock_text(at, ':') + ", filepos: ";
            }
        }
        EXPECT_TRUE(video == parts_video);
        const Bytes cut_audio = expected_audio(c);
        EXPECT_EQ(audio.size(), cut_audio.size());
        EXPECT_TRUE(audio == cut_audio);
        if (!subtitles.empty()) {
            const std::string index = without_filepos(packtest::read_text(dir / "dvd-title1-sub0.idx"));
            EXPECT_NE(index.find(subtitles), std::string::npos) << index;
        }
    }
    packtest::remove_scratch_dir(dir);
}

// Titles that begin or end inside their VOB: each audio file begins with
// the first whole frame and ends with the last, the frame the cell cuts
// named in the report; the title that plays the whole VOB keeps every byte.
TEST(DiscTitle, TheAudioOfATitleInsideAVobBeginsAndEndsOnWholeFrames) {
    using packtest::disc::AudioCoding;
    struct Kind {
        AudioCoding coding;
        const char* option;
        const char* suffix;
        const char* line;
    };
    const std::vector<Kind> kinds = {
        {AudioCoding::ac3, "-audio", "-stream0.ac3", "stream 0xBD 0x80 AC-3 en (-audio 0): "},
        {AudioCoding::dts, "-dts", "-dts0.dts", "stream 0xBD 0x88 DTS en (-dts 0): "},
        {AudioCoding::mpeg1, "-mpa", "-mpa0.mp2", "stream 0xC0 MPEG audio en (-mpa 0): "},
    };
    const fs::path dir = packtest::scratch_dir("inside");
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.option);
        fs::remove_all(dir / "movie");
        packtest::disc::write_disc(packtest::disc::titles_inside_a_vob(kind.coding), dir / "movie" / "VIDEO_TS");
        packtest::disc::TimedPart part;
        part.units = 3;
        const Bytes whole = packtest::disc::timed_audio(part, kind.coding, 1);
        const std::size_t frame = packtest::disc::timed_audio_frame_size(kind.coding);
        std::vector<Bytes> files;
        std::vector<std::string> reports;
        for (int title = 1; title <= 4; ++title) {
            const auto run = run_packrift(dir, {"movie", "-title", std::to_string(title), kind.option, "0", "-streams"});
            ASSERT_EQ(run.status, 0) << run.err;
            files.push_back(read_file(dir / ("movie-title" + std::to_string(title) + kind.suffix)));
            reports.push_back(run.out);
        }
        const std::string start = "1 part frame passed over at the start";
        const std::string end = "1 part frame passed over at the end";
        EXPECT_EQ(files[0], whole);
        EXPECT_EQ(reports[0].find("part frame"), std::string::npos);
        // Title 2 from its first whole frame to the VOB's end, title 3 from
        // the VOB's start to its last whole one: the frame between is cut.
        ASSERT_EQ(files[1].size() % frame, 0U);
        ASSERT_EQ(files[2].size() % frame, 0U);
        EXPECT_EQ(files[2].size() + frame + files[1].size(), whole.size());
        EXPECT_TRUE(std::equal(files[1].rbegin(), files[1].rend(), whole.rbegin()));
        EXPECT_TRUE(std::equal(files[2].begin(), files[2].end(), whole.begin()));
        EXPECT_NE(reports[1].find(std::string(kind.line) + start + "\n"), std::string::npos) << reports[1];
        EXPECT_NE(reports[2].find(std::string(kind.line) + end + "\n"), std::string::npos) << reports[2];
        // Title 4 plays the VOB's third cell, then its first two: the VOB's
        // frames from the first whole one of the third cell, then from the
        // first to the last whole one of the second, which are all but the
        // frame across the cells' boundary where one is (there the report
        // names the two ends).
        ASSERT_EQ(files[3].size() % frame, 0U);
        const bool across = files[3].size() + frame == whole.size();
        ASSERT_TRUE(across || files[3].size() == whole.size());
        bool found = false;
        for (std::size_t head = frame; head < whole.size() && !found; head += frame) {
            const std::size_t tail = files[3].size() - head;
            found = std::equal(files[3].begin(), files[3].begin() + static_cast<std::ptrdiff_t>(head),
                               whole.end() - static_cast<std::ptrdiff_t>(head)) &&
                    std::equal(files[3].begin() + static_cast<std::ptrdiff_t>(head), files[3].end(), whole.begin()) &&
                    (tail + head + (across ? frame : 0) == whole.size());
        }
        EXPECT_TRUE(found);
        EXPECT_EQ(reports[3].find(std::string(kind.line) + start + ", " + end + "\n") != std::string::npos, across)
            << reports[3];
    }
    packtest::remove_scratch_dir(dir);
}

// The lines of a run without its progress lines, whose rates and times vary.
std::string without_progress(const std::string& out) {
    std::string lines;
    std::size_t at = 0;
    while (at < out.size()) {
        std::size_t end = out.find_first_of("\r\n", at);
        end = end == std::string::npos ? out.size() : end + 1;
        const std::string line = out.substr(at, end - at);
        if (line.rfind("LBA = ", 0) != 0 && line != "\n") {
            lines += line;
        }
        at = end;
    }
    return lines;
}

std::vector<std::string> joined(std::vector<std::string> first, const std::vector<std::string>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

// -title all gives, file for file, what a -title N -angle A run per title
// and angle gives, each run's lines after its "title N:".
TEST(DiscTitle, EveryTitleGivesWhatItsOwnRunGives) {
    struct EveryCase {
        const char* label;
        packtest::disc::Disc disc;
        std::vector<std::pair<int, int>> reads;  // title, angle
    };
    const packtest::disc::TimedContent parts{{{2, 30}, {2, 30}, {2, 30}}, packtest::disc::AudioCoding::ac3};
    const std::vector<EveryCase> cases = {
        {"two title sets", packtest::disc::two_titles_one_set(), {{1, 1}, {2, 1}, {3, 1}}},
        {"a title across two VOB files", packtest::disc::title_across_files(), {{1, 1}}},
        {"both angles of a title", packtest::disc::multi_angle(2), {{1, 1}, {1, 2}}},
        {"a title with joins", packtest::disc::vob_per_chapter(parts), {{1, 1}}},
    };
    const std::vector<std::string> options = {"-all", "-chapters", "-mkvmerge", "-streams"};
    const fs::path dir = packtest::scratch_dir("title-all");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(dir);
        packtest::disc::write_disc(c.disc, dir / "dvd" / "VIDEO_TS");
        fs::create_directories(dir / "all");
        fs::create_directories(dir / "one");
        const auto all = run_packrift(dir / "all", joined({"../dvd", "-title", "all"}, options));
        std::string out;
        std::string err;
        int status = 0;
        for (const auto& [title, angle] : c.reads) {
            const auto one = run_packrift(
                dir / "one", joined({"../dvd", "-title", std::to_string(title), "-angle", std::to_string(angle)}, options));
            status = std::max(status, one.status);
            err += one.err;
            out += "title " + std::to_string(title) + (angle > 1 ? ", angle " + std::to_string(angle) : "") + ":\n" +
                   one.out;
        }
        EXPECT_EQ(without_progress(all.out), without_progress(out));
        EXPECT_EQ(all.status, status);
        EXPECT_EQ(all.err, err);
        EXPECT_GT(packtest::files_named(dir / "all", "dvd-").size(), c.reads.size());
        EXPECT_EQ(packtest::files_named(dir / "all", "dvd-"), packtest::files_named(dir / "one", "dvd-"));
    }
    packtest::remove_scratch_dir(dir);
}

struct WholeDiscCase {
    const char* label;
    std::vector<std::pair<int, int>> title_order;  // empty: repeated_titles()'s
    std::vector<std::string> args;                 // after the disc's
    int status;
    std::vector<std::string> lines;  // on standard output, in order, progress lines left out
    std::string err;
    std::vector<int> titles_written;
};

TEST(DiscTitle, AWholeDiscLeavesOutRepeatsAndShortTitlesAndGoesOnPastAFailure) {
    const std::vector<WholeDiscCase> cases = {
        {"the listing marks the repeats", {}, {}, 0,
         {"title 3: 0:00:02.000, 1 chapter, 1 angle, title set 1", "  same cells as title 1",
          "title 5: 0:00:02.000, 2 chapters, 1 angle, title set 1", "  same cells as title 1"}, "", {}},
        {"-title all leaves the repeats out", {}, {"-video", "0"}, 0,
         {"title 1:", "title 2:", "title 3: plays the same cells as title 1; left out", "title 4:",
          "title 5: plays the same cells as title 1; left out"}, "", {1, 2, 4}},
        {"-minlength", {}, {"-video", "0", "-minlength", "2"}, 0,
         {"title 2:", "title 4: 0:00:01.500 is shorter than -minlength 2; left out",
          "title 5: plays the same cells as title 1; left out"}, "", {1, 2}},
        {"every title left out", {}, {"-video", "0", "-minlength", "4"}, 1,
         {"title 2: 0:00:03.000 is shorter than -minlength 4; left out"}, "dvd: every title is left out\n", {}},
        {"a title that fails between two that do not", {{1, 1}, {2, 1}, {1, 2}}, {"-video", "0"}, 1,
         {"title 1:", "title 2:", "title 3:"},
         "dvd: title 2, cell 1 lies past the end of the VOB files of title set 2\n", {1, 3}},
    };
    const fs::path dir = packtest::scratch_dir("title-whole");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(dir);
        packtest::disc::Disc disc = packtest::disc::repeated_titles();
        if (!c.title_order.empty()) {
            disc.title_order = c.title_order;
        }
        packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");
        if (!c.title_order.empty()) {
            fs::remove(dir / "dvd" / "VIDEO_TS" / "VTS_02_1.VOB");
        }
        const auto run = run_packrift(dir, joined({"dvd", "-title", "all"}, c.args));
        const auto listing = run_packrift(dir, {"dvd"});
        const auto& result = c.args.empty() ? listing : run;
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
        const std::string out = without_progress(result.out);
        std::size_t at = 0;
        for (const std::string& line : c.lines) {
            at = out.find(line + "\n", at);
            EXPECT_NE(at, std::string::npos) << line << " in\n" << out;
        }
        std::vector<int> written;
        for (int title = 1; title <= 5; ++title) {
            if (fs::exists(dir / ("dvd-title" + std::to_string(title) + ".m2v"))) {
                written.push_back(title);
            }
        }
        EXPECT_EQ(written, c.titles_written);
    }
    packtest::remove_scratch_dir(dir);
}

// -title main: the longest by the listed time, the lowest number of equals.
TEST(DiscTitle, TheMainTitleIsTheLongestAndTheFirstOfEquals) {
    const fs::path dir = packtest::scratch_dir("title-main");
    packtest::disc::Disc disc = packtest::disc::repeated_titles();
    packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");
    auto result = run_packrift(dir, {"dvd", "-title", "main", "-video", "0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind("title main: title 2, 0:00:03.000\nopened dvd-title2.m2v for writing\n", 0), 0u)
        << result.out;
    fs::create_directories(dir / "two");
    ASSERT_EQ(run_packrift(dir / "two", {"../dvd", "-title", "2", "-video", "0"}).status, 0);
    EXPECT_EQ(read_file(dir / "dvd-title2.m2v"), read_file(dir / "two" / "dvd-title2.m2v"));
    disc.title_order = {{2, 1}, {1, 3}, {1, 1}};
    fs::remove_all(dir / "dvd");
    packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");
    result = run_packrift(dir, {"dvd", "-title", "main", "-minlength", "2", "-video", "0"});
    EXPECT_EQ(result.out.rfind("title main: title 2, 0:00:02.000\n", 0), 0u) << result.out;
    result = run_packrift(dir, {"dvd", "-title", "main", "-minlength", "3"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "dvd: no title is as long as -minlength 3 (the longest, title 2, is 0:00:02.000)\n");
    packtest::remove_scratch_dir(dir);
}

struct RefusalCase {
    const char* label;
    packtest::disc::Disc disc;
    std::vector<std::string> args;
    std::string err;
};

// A title that cannot be read is named before any output is opened.
TEST(DiscTitle, WhatCannotBeReadIsNamedAndNothingIsOpened) {
    const std::vector<RefusalCase> cases = {
        {"no such title", packtest::disc::two_titles_one_set(), {"dvd", "-title", "4", "-video", "0"},
         "dvd: no title 4 (titles 1 to 3)\n"},
        {"title 0", packtest::disc::cells_out_of_order(), {"dvd", "-title", "0", "-video", "0"},
         "dvd: no title 0 (only title 1)\n"},
        {"no such angle", packtest::disc::multi_angle(2), {"dvd", "-title", "1", "-angle", "3", "-video", "0"},
         "dvd: title 1 has no angle 3 (angles 1 to 2)\n"},
        {"a cell past the VOB files", packtest::disc::cell_past_end(), {"dvd", "-title", "1", "-video", "0"},
         "dvd: title 1, cell 2 lies past the end of the VOB files of title set 1\n"},
        {"-angle with -title all", packtest::disc::multi_angle(2), {"dvd", "-title", "all", "-angle", "2", "-all"},
         "dvd: -angle cannot be given with -title all, which reads every angle of each title\n"},
        {"-minlength without all or main", packtest::disc::multi_angle(2),
         {"dvd", "-title", "1", "-minlength", "1", "-all"}, "dvd: -minlength is for -title all and -title main\n"},
    };
    const fs::path dir = packtest::scratch_dir("title-refused");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(dir / "dvd");
        packtest::disc::write_disc(c.disc, dir / "dvd" / "VIDEO_TS");
        const auto result = run_packrift(dir, c.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1) << "only the disc";
    }
    packtest::remove_scratch_dir(dir);
}

}  // namespace
