// End to end: the built packrift in a scratch folder, checked by exit
// status, both output streams and the bytes of every file.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>

#ifndef _WIN32
#include <thread>

#include <sys/stat.h>
#endif

#include "support/disc_builder.hpp"
#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

namespace {

namespace fs = std::filesystem;
using packtest::Bytes;
using packtest::concat;
using packtest::path_from_utf8;
using packtest::pattern;
using packtest::run_packrift;
using packtest::scrambled;

const Bytes VIDEO = pattern(1500, 1);
const Bytes AUDIO_0 = pattern(1200, 2);
const Bytes AUDIO_1 = pattern(1100, 3);
const Bytes AUDIO_2 = pattern(1000, 4);

Bytes small_movie() {
    return concat({packtest::video_pack(VIDEO), packtest::ac3_pack(0x80, AUDIO_0),
                   packtest::ac3_pack(0x81, AUDIO_1), packtest::ac3_pack(0x82, AUDIO_2)});
}

// The single progress line of an input of fewer than 100 packs.
const std::string FIRST_PROGRESS = "LBA = 0 (0.0K/s), OUT = 0Kb, TimeSoFar=00:00:00      \r";

// Ends every line that names a stream the input never held.
const std::string SEE_STREAMS = " (-streams lists what it holds)\n";

std::string opened(const std::string& name) {
    return "opened " + name + " for writing\n";
}

std::string perror_line(const std::string& name, int error_number) {
    return name + ": " + std::strerror(error_number) + "\n";
}

std::string from_utf8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

// Windows reaches a path past MAX_PATH only as the "\\?\" form of its full path.
fs::path beyond_max_path(const fs::path& path) {
#ifdef _WIN32
    return fs::path(L"\\\\?\\" + fs::absolute(path).make_preferred().wstring());
#else
    return path;
#endif
}

// Opening a folder as a file fails with the system's own error.
#ifdef _WIN32
constexpr int FOLDER_OPEN_ERROR = EACCES;
#else
constexpr int FOLDER_OPEN_ERROR = EISDIR;
#endif

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir = packtest::scratch_dir("cli");
        packtest::write_file((dir / "movie.vob").string(), small_movie());
    }
    void TearDown() override { packtest::remove_scratch_dir(dir); }
    Bytes file(const std::string& name) { return packtest::read_file(dir / path_from_utf8(name)); }
    // The names in the folder other than the input.
    std::vector<std::string> outputs(const std::string& input = "movie.vob") {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const auto name = packtest::utf8_of(entry.path().filename());
            if (name != input) {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    fs::path dir;
};

TEST_F(Cli, WithoutArgumentsPrintsTheUsageText) {
    const auto result = run_packrift(dir, {});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Packrift V1.0\nusage: " + packtest::packrift_path() +
                              " VOBFile [-video 0] [-audio 0...8]\n");
}

// Help and version answer only as the first argument exactly; a file of
// such a name is still reached as ./--help.
TEST_F(Cli, HelpAndVersionAnswerOnStandardOutput) {
    const std::string usage = "usage: " + packtest::packrift_path() + " VOBFile [options]\n";
    for (const std::string first : {"--help", "-h"}) {
        const auto result = run_packrift(dir, {first, "movie.vob"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_NE(result.out.find(usage), std::string::npos) << result.out;
        for (const char* option : {"-video", "-audio", "-lpcm", "-mpa", "-dts", "-streams", "-title", "-angle",
                                   "-chapters", "--version"}) {
            EXPECT_NE(result.out.find("\n  " + std::string(option)), std::string::npos) << option;
        }
    }
    auto result = run_packrift(dir, {"--version"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Packrift 1.0\n");
    EXPECT_EQ(result.err, "");

    result = run_packrift(dir, {"movie.vob", "--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, FIRST_PROGRESS);
    result = run_packrift(dir, {"./--help"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, perror_line("./--help", ENOENT));
}

TEST_F(Cli, AnInputThatCannotBeOpenedCreatesNoOutput) {
    const auto result = run_packrift(dir, {"missing.vob", "-video", "0", "-audio", "1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, perror_line("missing.vob", ENOENT));
    EXPECT_EQ(outputs(), std::vector<std::string>{});
}

// A VOB file holds one stream of packs, no titles to leave out: the option
// that leaves out titles is refused before anything is opened.
TEST_F(Cli, MinlengthOnAVobFileIsRefusedAndCreatesNoOutput) {
    const auto result = run_packrift(dir, {"movie.vob", "-video", "0", "-minlength", "5"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "movie.vob: -minlength is for -title all and -title main of a disc\n");
    EXPECT_EQ(outputs(), std::vector<std::string>{});
}

TEST_F(Cli, SplitsVideoAndTheChosenSubstream) {
    const auto result = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "1"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened("movie.m2v") + opened("movie-stream1.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(file("movie.m2v"), VIDEO);
    EXPECT_EQ(file("movie-stream1.ac3"), AUDIO_1);
}

// The report comes after everything else and changes none of it.
TEST_F(Cli, TheStreamReportFollowsTheSplitAndChangesNothingOfIt) {
    const auto plain = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
    const auto reported = run_packrift(dir, {"movie.vob", "-video", "0", "-streams", "-audio", "0"});
    EXPECT_EQ(reported.status, plain.status);
    EXPECT_EQ(reported.err, plain.err);
    EXPECT_EQ(reported.out, plain.out +
                                "\n"
                                "stream 0xE0 MPEG video: 1 pack, 1500 bytes\n"
                                "stream 0xBD 0x80 AC-3 (-audio 0): 1 pack, 1200 bytes\n"
                                "stream 0xBD 0x81 AC-3 (-audio 1): 1 pack, 1100 bytes\n"
                                "stream 0xBD 0x82 AC-3 (-audio 2): 1 pack, 1000 bytes\n");
    EXPECT_EQ(file("movie.m2v"), VIDEO);
    EXPECT_EQ(file("movie-stream0.ac3"), AUDIO_0);
}

TEST_F(Cli, WithoutOptionsReadsTheInputAndWritesNothing) {
    const auto result = run_packrift(dir, {"movie.vob", "ignored", "0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, FIRST_PROGRESS);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(outputs(), std::vector<std::string>{});
}

// Every option opens its own output, in the order of the options, and all
// are written in the one pass; options that name one file make one output.
TEST_F(Cli, OptionsAreExaminedInOrderAndEachWritesItsOwnOutput) {
    const Bytes lpcm_0 = concat({{0x00, 0x01, 0x80}, pattern(400, 21)});
    const Bytes lpcm_1 = concat({{0x00, 0x01, 0x80}, pattern(800, 22)});
    packtest::write_file(dir / "movie.vob", concat({small_movie(), packtest::ac3_pack(0xA0, lpcm_0),
                                                    packtest::ac3_pack(0xA1, lpcm_1)}));
    struct Repeated {
        std::vector<std::string> args;
        std::vector<std::string> opened;  // in order
        std::vector<std::pair<std::string, Bytes>> files;
    };
    const std::vector<Repeated> cases = {
        {{"-audio", "1", "-audio", "2"},
         {"movie-stream1.ac3", "movie-stream2.ac3"},
         {{"movie-stream1.ac3", AUDIO_1}, {"movie-stream2.ac3", AUDIO_2}}},
        {{"-audio", "0", "-audio", "0"}, {"movie-stream0.ac3"}, {{"movie-stream0.ac3", AUDIO_0}}},
        {{"-audio", "0", "-audio", "1"},
         {"movie-stream0.ac3", "movie-stream1.ac3"},
         {{"movie-stream0.ac3", AUDIO_0}, {"movie-stream1.ac3", AUDIO_1}}},
        {{"-video", "0", "-video", "5"}, {"movie.m2v"}, {{"movie.m2v", VIDEO}}},
        {{"-lpcm", "1", "-lpcm", "0"}, {"movie-lpcm1.wav", "movie-lpcm0.wav"}, {}},
        // -audio 0 opens before the pass; -all opens the rest as they are met.
        {{"-all", "-audio", "0"},
         {"movie-stream0.ac3", "movie.m2v", "movie-stream1.ac3", "movie-stream2.ac3", "movie-lpcm0.wav",
          "movie-lpcm1.wav"},
         {{"movie.m2v", VIDEO}, {"movie-stream0.ac3", AUDIO_0}, {"movie-stream1.ac3", AUDIO_1},
          {"movie-stream2.ac3", AUDIO_2}}},
        {{"-audio", "1", "-video", "0"}, {"movie-stream1.ac3", "movie.m2v"}, {{"movie.m2v", VIDEO}}},
    };
    for (const Repeated& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.at(1) + " " + c.args.at(2));
        for (const auto& name : {"movie.m2v", "movie-stream0.ac3", "movie-stream1.ac3", "movie-lpcm0.wav"}) {
            fs::remove(dir / name);
        }
        std::vector<std::string> args = {"movie.vob"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = run_packrift(dir, args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        std::string expected;
        for (const std::string& name : c.opened) {
            expected += opened(name);
        }
        // -all on a file opens each stream as it is met, on a line of its own in the pass.
        const bool all = c.args.front() == "-all";
        const std::string in_the_pass = expected.substr(opened(c.opened.front()).size());
        EXPECT_EQ(result.out, all ? opened(c.opened.front()) + FIRST_PROGRESS + "\n" + in_the_pass
                                  : expected + FIRST_PROGRESS);
        for (const auto& [name, bytes] : c.files) {
            EXPECT_EQ(file(name), bytes) << name;
        }
        if (c.opened.back() == "movie-lpcm1.wav") {
            // Each WAV holds its own substream's samples.
            EXPECT_EQ(fs::file_size(dir / "movie-lpcm1.wav") - fs::file_size(dir / "movie-lpcm0.wav"), 400U);
        }
    }

    // "-video" then "-audio" with "1" as its number; "1" itself matches nothing.
    fs::remove(dir / "movie.m2v");
    const auto result = run_packrift(dir, {"movie.vob", "-video", "-audio", "1"});
    EXPECT_EQ(result.out, opened("movie.m2v") + opened("movie-stream1.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(file("movie.m2v"), VIDEO);
}

// Each kind's option opens its own output, named after the input, in the
// order of the options, and all are written in the one pass.
TEST_F(Cli, EveryAudioKindHasItsOwnOptionAndOutput) {
    const Bytes mpa = pattern(1300, 11);
    const Bytes dts = pattern(900, 12);
    packtest::write_file(dir / "movie.vob", concat({small_movie(), packtest::pack(0x1C3, mpa),
                                                    packtest::ac3_pack(0x88, dts)}));
    const auto result = run_packrift(dir, {"movie.vob", "-dts", "0", "--mpa", "3", "-video", "0", "-audio", "8"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened("movie-dts0.dts") + opened("movie-mpa3.mp2") + opened("movie.m2v") +
                              opened("movie-stream8.ac3") + FIRST_PROGRESS + "\n");
    EXPECT_EQ(result.err, "movie-stream8.ac3: substream 0x88 is DTS, not AC-3 (-dts 0 writes it as DTS)\n");
    EXPECT_EQ(file("movie-dts0.dts"), dts);
    EXPECT_EQ(file("movie-mpa3.mp2"), mpa);
    EXPECT_EQ(file("movie.m2v"), VIDEO);
    EXPECT_EQ(file("movie-stream8.ac3"), dts);
}

// The little-endian value of four bytes of a file.
std::uint32_t le32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
                                      bytes.at(at + 3) << 24);
}

// 16-bit DVD samples are big-endian; a WAV's are little-endian.
Bytes swapped_pairs(const Bytes& samples) {
    Bytes out = samples;
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) {
        std::swap(out[i], out[i + 1]);
    }
    return out;
}

// -lpcm writes a WAV whose sizes are filled in at the end, or left as a
// stream's when the output is a FIFO read by an encoder.
TEST_F(Cli, LpcmBecomesAWavFileOrAWavStream) {
    const Bytes header_16_bit_stereo = {0x00, 0x01, 0x80};
    const Bytes samples_1 = pattern(1600, 21);
    const Bytes samples_2 = pattern(1200, 22);
    packtest::write_file(dir / "movie.vob", concat({packtest::ac3_pack(0xA1, concat({header_16_bit_stereo, samples_1})),
                                                    packtest::video_pack(VIDEO),
                                                    packtest::ac3_pack(0xA1, concat({header_16_bit_stereo, samples_2}))}));
    const Bytes samples = swapped_pairs(concat({samples_1, samples_2}));
    auto result = run_packrift(dir, {"movie.vob", "-lpcm", "1"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, opened("movie-lpcm1.wav") + FIRST_PROGRESS);
    Bytes wav = file("movie-lpcm1.wav");
    ASSERT_GT(wav.size(), samples.size());
    const std::size_t data_at = wav.size() - samples.size();
    EXPECT_EQ(Bytes(wav.begin() + static_cast<std::ptrdiff_t>(data_at), wav.end()), samples);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(std::string(wav.begin() + static_cast<std::ptrdiff_t>(data_at) - 8,
                          wav.begin() + static_cast<std::ptrdiff_t>(data_at) - 4),
              "data");
    EXPECT_EQ(le32(wav, data_at - 4), samples.size());
#ifndef _WIN32
    fs::remove(dir / "movie-lpcm1.wav");
    ASSERT_EQ(::mkfifo((dir / "movie-lpcm1.wav").c_str(), 0600), 0);
    std::thread reader([&] { wav = packtest::read_file(dir / "movie-lpcm1.wav"); });
    result = run_packrift(dir, {"movie.vob", "-lpcm", "1"});
    reader.join();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    ASSERT_EQ(wav.size(), data_at + samples.size());
    EXPECT_EQ(le32(wav, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(wav, data_at - 4), 0xFFFFFFFFu);
#endif
}

// A subpicture track becomes VobSub: its packs whole in the .sub, and the
// .idx with the video's picture size, a palette and a line per unit, timed
// from the video's first PTS.
TEST_F(Cli, SubpicturesBecomeVobSubWithThePaletteOfTheirTitleSet) {
    const Bytes sequence_header_352x240 = {0x00, 0x00, 0x01, 0xB3, 0x16, 0x00, 0xF0, 0x13};
    const Bytes long_unit = packtest::subpicture_unit(3000, false);
    const std::vector<Bytes> taken = {
        packtest::subpicture_pack(0x21, packtest::subpicture_unit(10, true), 135000),
        packtest::subpicture_pack(0x21, Bytes(long_unit.begin(), long_unit.begin() + 2000), 202500),
        packtest::subpicture_pack(0x21, Bytes(long_unit.begin() + 2000, long_unit.end()))};
    const Bytes movie = concat({packtest::with_pts(packtest::pack(packtest::VIDEO_0, concat({sequence_header_352x240, VIDEO}), 5), 90000),
                                taken[0], packtest::ac3_pack(0x80, AUDIO_0), taken[1],
                                packtest::subpicture_pack(0x20, packtest::subpicture_unit(10, false), 90000), taken[2]});
    packtest::write_file(dir / "movie.vob", movie);
    const std::string units = "langidx: 1\nid: --, index: 1\n"
                              "timestamp: 00:00:00:500, filepos: 000000000\n"
                              "timestamp: 00:00:01:250, filepos: 000000800\n";
    auto result = run_packrift(dir, {"movie.vob", "-sub", "1", "-streams"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "movie-sub1.idx: no IFO file beside the input, so the palette is a grey scale\n");
    EXPECT_EQ(result.out, opened("movie-sub1.sub") + opened("movie-sub1.idx") + FIRST_PROGRESS + "\n" +
                              "stream 0xE0 MPEG video: 1 pack, 1508 bytes, first PTS 1.000 s\n"
                              "stream 0xBD 0x21 subpicture (-sub 1): 3 packs, 6144 bytes, 2 subpictures (1 forced), "
                              "first PTS 1.500 s, delay +500 ms\n"
                              "stream 0xBD 0x80 AC-3 (-audio 0): 1 pack, 1200 bytes\n"
                              "stream 0xBD 0x20 subpicture (-sub 0): 1 pack, 2048 bytes, 1 subpicture (0 forced), "
                              "first PTS 1.000 s, delay +0 ms\n");
    const std::string grey_index = "# VobSub index file, v7 (do not modify this line!)\nsize: 352x240\n"
                                   "palette: 000000, 111111, 222222, 333333, 444444, 555555, 666666, 777777, "
                                   "888888, 999999, aaaaaa, bbbbbb, cccccc, dddddd, eeeeee, ffffff\n" + units;
    EXPECT_EQ(file("movie-sub1.sub"), concat(taken));
    EXPECT_EQ(packtest::read_text(dir / "movie-sub1.idx"), grey_index);

    // -all opens each subpicture output when its first pack is met, after
    // the video's first: its units are timed from the video's first PTS all
    // the same.
    fs::remove(dir / "movie-sub1.idx");
    result = run_packrift(dir, {"movie.vob", "-all"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(file("movie-sub1.sub"), concat(taken));
    EXPECT_EQ(packtest::read_text(dir / "movie-sub1.idx"), grey_index);

    // -all opens the track when its first packet comes, after the video's:
    // its .idx is the same, timed from the video's first PTS all the same;
    // and it opens it also where -audio takes the substream as it is.
    const std::string index = packtest::read_text(dir / "movie-sub1.idx");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"movie.vob", "-all"},
                                                 std::vector<std::string>{"movie.vob", "-audio", "-95", "-all"}}) {
        fs::remove(dir / "movie-sub1.idx");
        EXPECT_EQ(run_packrift(dir, args).status, 0);
        EXPECT_EQ(packtest::read_text(dir / "movie-sub1.idx"), index) << args.back();
        EXPECT_EQ(file("movie-sub1.sub"), concat(taken)) << args.back();
    }

    // Beside its title set's IFO file the VOB file takes the set's palette,
    // also through a link of another name.
    packtest::disc::Disc disc = packtest::disc::two_titles_one_set();
    disc.title_sets[0].program_chains[0].palette[1] = 0x00EB8080;
    packtest::disc::write_disc(disc, dir / "disc");
    packtest::write_file(dir / "disc" / "vts_01_1.vob", movie);
    const std::string palette = "palette: 008700, ffffff, 008700, 008700, 008700, 008700, 008700, 008700, 008700, "
                                "008700, 008700, 008700, 008700, 008700, 008700, 008700\n";
    std::vector<std::string> inputs = {packtest::utf8_of(fs::path("disc") / "vts_01_1.vob")};
#ifndef _WIN32
    fs::create_symlink(fs::path("disc") / "vts_01_1.vob", dir / "film.vob");
    inputs.push_back("film.vob");
#endif
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input);
        result = run_packrift(dir, {input, "-sub", "1"});
        const std::string stem = input.substr(0, input.size() - 4);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(packtest::read_text(dir / packtest::path_from_utf8(stem + "-sub1.idx")),
                  "# VobSub index file, v7 (do not modify this line!)\nsize: 352x240\n" + palette + units);
    }
}

TEST_F(Cli, OptionTextsMatchAnywhereInAnArgument) {
    // One argument with both texts opens both; the next is the number.
    const auto result = run_packrift(dir, {"movie.vob", "x-video-audioy", "2"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened("movie.m2v") + opened("movie-stream2.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(file("movie-stream2.ac3"), AUDIO_2);
}

TEST_F(Cli, AudioNumbersReadLikeAtoiAndAloneAtTheEndMean0) {
    auto result = run_packrift(dir, {"movie.vob", "-audio", "x"});
    EXPECT_EQ(result.out, opened("movie-stream0.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(file("movie-stream0.ac3"), AUDIO_0);

    fs::remove(dir / "movie-stream0.ac3");
    result = run_packrift(dir, {"movie.vob", "-audio"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened("movie-stream0.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(file("movie-stream0.ac3"), AUDIO_0);

    result = run_packrift(dir, {"movie.vob", "-audio", "99999999999"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened("movie-stream2147483647.ac3") + FIRST_PROGRESS + "\n");
    EXPECT_EQ(result.err, "movie-stream2147483647.ac3: no substream number matches -audio 2147483647" + SEE_STREAMS);
    EXPECT_EQ(file("movie-stream2147483647.ac3"), Bytes{});
}

TEST_F(Cli, NamesComeFromTheFirstLowerCaseVob) {
    fs::create_directory(dir / "dir.vob");
    packtest::write_file((dir / "dir.vob" / "movie.vob").string(), small_movie());
    auto result = run_packrift(dir, {"dir.vob/movie.vob", "-video", "0"});
    EXPECT_EQ(result.out, opened("dir.m2v") + FIRST_PROGRESS);
    EXPECT_EQ(file("dir.m2v"), VIDEO);

    fs::copy_file(dir / "movie.vob", dir / "movie.vob.bak");
    result = run_packrift(dir, {"movie.vob.bak", "-audio", "1"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(file("movie-stream1.ac3"), AUDIO_1);

    // A name of any length the system takes is used whole: here over 300
    // characters, past Windows' MAX_PATH for the full path too.
    const std::string top = std::string(150, 'A');
    const std::string folder = top + "/" + std::string(150, 'B');
    const fs::path deep = beyond_max_path(dir / folder);
    fs::create_directories(deep);
    fs::copy_file(dir / "movie.vob", deep / "movie.vob");
    result = run_packrift(dir, {folder + "/movie.vob", "-audio", "-2147483648"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened(folder + "/movie-stream-2147483648.ac3") + FIRST_PROGRESS + "\n");
    EXPECT_EQ(result.err,
              folder + "/movie-stream-2147483648.ac3: no substream number matches -audio -2147483648" + SEE_STREAMS);
    EXPECT_EQ(packtest::read_file(deep / "movie-stream-2147483648.ac3"), Bytes{});
    // Removed one by one: a recursive removal lists the folders, and listing
    // one this deep fails in MinGW's runtime.
    fs::remove(deep / "movie-stream-2147483648.ac3");
    fs::remove(deep / "movie.vob");
    fs::remove(deep);
    fs::remove(dir / top);
}

TEST_F(Cli, AnUpperCaseVobNamesNoOutputAndTheRunFails) {
    fs::rename(dir / "movie.vob", dir / "VTS_01_1.VOB");
    const auto result = run_packrift(dir, {"VTS_01_1.VOB", "-video", "0", "-audio", "1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, FIRST_PROGRESS);
    EXPECT_EQ(result.err,
              "VTS_01_1.VOB: no \".vob\" in the name to replace with \".m2v\"\n"
              "VTS_01_1.VOB: no \".vob\" in the name to replace with \"-stream1.ac3\"\n");
    EXPECT_EQ(outputs("VTS_01_1.VOB"), std::vector<std::string>{});
}

TEST_F(Cli, AnOutputThatCannotBeOpenedFailsTheRunButNotTheOtherOutput) {
    fs::create_directory(dir / "movie.m2v");
    const auto result = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, opened("movie-stream0.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, perror_line("movie.m2v", FOLDER_OPEN_ERROR));
    EXPECT_EQ(file("movie-stream0.ac3"), AUDIO_0);
}

// How an output name is made to reach a file that is open already.
enum class Link { symbolic, hard };

void link_to(Link kind, const fs::path& target, const fs::path& name) {
    if (kind == Link::symbolic) {
        fs::create_symlink(target.filename(), name);
    } else {
        fs::create_hard_link(target, name);  // CreateHardLinkW on Windows
    }
}

struct SameFileCase {
    const char* label;
    Link link;
    std::string linked;  // the output name made a link
    std::string target;  // to this file
    std::vector<std::string> args;
    std::string refused_line;
    std::string kept;  // the output that is written
};

// An output that turns out to be the input, or the other output, is left
// untouched; the rest of the run goes on and fails.
TEST_F(Cli, AnOutputThatIsTheInputOrTheOtherOutputIsLeftUntouched) {
    const std::vector<std::string> both = {"movie.vob", "-video", "0", "-audio", "0"};
    const std::string as_input = "; left untouched\n";
    const std::vector<SameFileCase> cases = {
        {"video as a symbolic link to the input", Link::symbolic, "movie.m2v", "movie.vob", both,
         "movie.m2v: is the same file as the input movie.vob" + as_input, "movie-stream0.ac3"},
        {"video as a hard link to the input", Link::hard, "movie.m2v", "movie.vob", both,
         "movie.m2v: is the same file as the input movie.vob" + as_input, "movie-stream0.ac3"},
        {"audio as a symbolic link to the input", Link::symbolic, "movie-stream0.ac3", "movie.vob", both,
         "movie-stream0.ac3: is the same file as the input movie.vob" + as_input, "movie.m2v"},
        {"audio as a hard link to the input", Link::hard, "movie-stream0.ac3", "movie.vob", both,
         "movie-stream0.ac3: is the same file as the input movie.vob" + as_input, "movie.m2v"},
        {"audio as a link to the video", Link::symbolic, "movie-stream0.ac3", "movie.m2v", both,
         "movie-stream0.ac3: is the same file as the output movie.m2v" + as_input, "movie.m2v"},
        {"video as a link to the audio opened first", Link::hard, "movie.m2v", "movie-stream0.ac3",
         {"movie.vob", "-audio", "0", "-video", "0"},
         "movie.m2v: is the same file as the output movie-stream0.ac3" + as_input, "movie-stream0.ac3"},
    };
    const Bytes earlier = pattern(5000, 9);  // what an earlier run left in an output
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
#ifdef _WIN32
        if (c.link == Link::symbolic) {
            continue;  // a privilege on Windows, and MinGW's runtime makes none; hard links take the same path
        }
#endif
        for (const auto& name : outputs()) {
            fs::remove(dir / name);
        }
        if (c.target != "movie.vob") {
            packtest::write_file(dir / c.target, earlier);
        }
        link_to(c.link, dir / c.target, dir / c.linked);
        const auto result = run_packrift(dir, c.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, opened(c.kept) + FIRST_PROGRESS);
        EXPECT_EQ(result.err, c.refused_line);
        EXPECT_EQ(file("movie.vob"), small_movie());
        EXPECT_EQ(file(c.kept), c.kept == "movie.m2v" ? VIDEO : AUDIO_0);
    }

    // The first ".vob" is a folder's, and the name it gives is the input's own.
    fs::create_directory(dir / "dir.vob");
    fs::copy_file(dir / "movie.vob", dir / "dir.m2v");
    const auto result = run_packrift(dir, {"dir.vob/../dir.m2v", "-video", "0", "-audio", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, opened("dir-stream0.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, "dir.m2v: is the same file as the input dir.vob/../dir.m2v" + as_input);
    EXPECT_EQ(file("dir.m2v"), small_movie());
    EXPECT_EQ(file("dir-stream0.ac3"), AUDIO_0);
}

// Nothing to empty in a device or a FIFO: both outputs may even be one.
TEST_F(Cli, OutputsThatAreNotRegularFilesAreWrittenAsEver) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no link to its NUL device and no FIFO among its files";
#else
    fs::create_symlink("/dev/null", dir / "movie.m2v");
    fs::create_symlink("/dev/null", dir / "movie-stream0.ac3");
    auto result = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened("movie.m2v") + opened("movie-stream0.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, "");

    // The video piped into another program as it is split.
    fs::remove(dir / "movie.m2v");
    ASSERT_EQ(::mkfifo((dir / "movie.m2v").c_str(), 0600), 0);
    Bytes piped;
    std::thread reader([&] { piped = packtest::read_file(dir / "movie.m2v"); });
    result = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "1"});
    reader.join();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(piped, VIDEO);
    EXPECT_EQ(file("movie-stream1.ac3"), AUDIO_1);
#endif
}

std::string grey_palette_line(const std::string& index) {
    return index + ": no IFO file beside the input, so the palette is a grey scale\n";
}

struct AbsentCase {
    const char* label;
    Bytes input;
    std::vector<std::string> args;
    std::string err;
    int status = 0;
};

// A requested stream the input never held is named (the status stays 0), as
// is an output that holds packs no player can use (the status is then 1).
TEST_F(Cli, AStreamTheInputNeverHeldIsNamed) {
    const Bytes padding_at_once = {0x00, 0x00, 0x01, 0xBE, 0x00, 0x10};
    const std::vector<AbsentCase> cases = {
        {"an AC-3 substream", small_movie(), {"movie.vob", "-audio", "5"},
         "movie-stream5.ac3: the input holds no AC-3 substream 0x85" + SEE_STREAMS},
        {"video", concat({packtest::ac3_pack(0x80, AUDIO_0)}), {"movie.vob", "-video", "0", "-audio", "0"},
         "movie.m2v: the input holds no MPEG video stream 0xE0" + SEE_STREAMS},
        {"two outputs of a kind", small_movie(), {"movie.vob", "-audio", "5", "-audio", "1"},
         "movie-stream5.ac3: the input holds no AC-3 substream 0x85" + SEE_STREAMS},
        {"video trimmed to nothing", packtest::video_pack(padding_at_once), {"movie.vob", "-video", "0"}, ""},
        {"an LPCM substream", small_movie(), {"movie.vob", "-lpcm", "2"},
         "movie-lpcm2.wav: the input holds no LPCM substream 0xA2" + SEE_STREAMS},
        {"an MPEG audio stream", small_movie(), {"movie.vob", "-mpa", "31"},
         "movie-mpa31.mp2: the input holds no MPEG audio stream 0xDF" + SEE_STREAMS},
        {"-mpa 32, which would be video", small_movie(), {"movie.vob", "-mpa", "32"},
         "movie-mpa32.mp2: no stream number matches -mpa 32" + SEE_STREAMS},
        {"-dts 8, which would be LPCM", small_movie(), {"movie.vob", "-dts", "8"},
         "movie-dts8.dts: no substream number matches -dts 8" + SEE_STREAMS},
        {"a subpicture substream, and -sub 32", small_movie(), {"movie.vob", "-sub", "2", "-sub", "32"},
         "movie-sub2.sub: the input holds no subpicture substream 0x22" + SEE_STREAMS +
             grey_palette_line("movie-sub2.idx") + "movie-sub32.sub: no substream number matches -sub 32" +
             SEE_STREAMS + grey_palette_line("movie-sub32.idx")},
        {"two subpicture outputs, each with its .idx", packtest::subpicture_pack(0x22, VIDEO),
         {"movie.vob", "-sub", "5", "-sub", "2"},
         "movie-sub5.sub: the input holds no subpicture substream 0x25" + SEE_STREAMS +
             grey_palette_line("movie-sub5.idx") + grey_palette_line("movie-sub2.idx")},
        // -audio writes any substream as it is, and says what writes it properly.
        {"-audio on LPCM", packtest::ac3_pack(0xA2, AUDIO_0), {"movie.vob", "-audio", "34"},
         "movie-stream34.ac3: substream 0xA2 is LPCM, not AC-3 (-lpcm 2 writes it as WAV)\n"},
        {"-audio on DTS", packtest::ac3_pack(0x89, AUDIO_0), {"movie.vob", "-audio", "9"},
         "movie-stream9.ac3: substream 0x89 is DTS, not AC-3 (-dts 1 writes it as DTS)\n"},
        {"-audio on a subpicture", packtest::ac3_pack(0x20, AUDIO_0), {"movie.vob", "-audio", "-96"},
         "movie-stream-96.ac3: substream 0x20 is subpicture, not AC-3 (-sub 0 writes it as VobSub)\n"},
        {"-audio on a substream of no kind", packtest::ac3_pack(0x40, AUDIO_0), {"movie.vob", "-audio", "-64"},
         "movie-stream-64.ac3: substream 0x40 is not AC-3\n"},
        {"LPCM packets in another format than the first",
         concat({packtest::ac3_pack(0xA0, concat({{0x00, 0x01, 0x80}, AUDIO_0})),
                 packtest::ac3_pack(0xA0, concat({{0x00, 0x91, 0x80}, AUDIO_1})),
                 packtest::ac3_pack(0xA0, concat({{0x00, 0xC1, 0x80}, AUDIO_1}))}),
         {"movie.vob", "-lpcm", "0"},
         "movie-lpcm0.wav: 2 packets in another format than the first (16-bit, 48 kHz, 2 channels) were passed "
         "over\n",
         1},
        {"scrambling control 01", concat({scrambled(packtest::video_pack(VIDEO), 1), packtest::video_pack(VIDEO)}),
         {"movie.vob", "-video", "0"},
         "movie.m2v: 1 of its 2 packs is scrambled (CSS); the output cannot be played: decrypt the disc first\n", 1},
        {"scrambling control 10", scrambled(packtest::ac3_pack(0x80, AUDIO_0), 2), {"movie.vob", "-audio", "0"},
         "movie-stream0.ac3: 1 of its 1 pack is scrambled (CSS); the output cannot be played: decrypt the disc first\n",
         1},
        {"scrambling control 11", concat({scrambled(packtest::pack(0x1C1, VIDEO), 3), scrambled(packtest::pack(0x1C1, VIDEO), 3)}),
         {"movie.vob", "-mpa", "1"},
         "movie-mpa1.mp2: 2 of its 2 packs are scrambled (CSS); the output cannot be played: decrypt the disc first\n",
         1},
        {"scrambling control 00, and scrambled packs of another stream", concat({packtest::video_pack(VIDEO),
                                                                                 scrambled(packtest::ac3_pack(0x80, AUDIO_0), 1)}),
         {"movie.vob", "-video", "0"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        packtest::write_file(dir / "movie.vob", c.input);
        const auto result = run_packrift(dir, c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
        // The progress line is ended before the message, so that a terminal shows both.
        const std::string end = FIRST_PROGRESS + (c.err.empty() ? "" : "\n");
        EXPECT_EQ(result.out.substr(result.out.size() - std::min(result.out.size(), end.size())), end);
    }
}

TEST_F(Cli, AWriteFailureIsReportedOnceAndFailsTheRun) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no device like /dev/full that opens and then refuses every write; "
                    "StagingWriter.AFailedWriteIsReportedOnceAndEndsWritingThatFile covers the failure in process";
#else
    fs::create_symlink("/dev/full", dir / "movie.m2v");
    const auto result = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, opened("movie.m2v") + opened("movie-stream0.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, perror_line("movie.m2v", ENOSPC));
    EXPECT_EQ(file("movie-stream0.ac3"), AUDIO_0);
#endif
}

TEST_F(Cli, AReadErrorIsReportedAndFailsTheRun) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no file that opens and then fails its first read; "
                    "PackLoopFaults.AReadErrorEndsTheInputAfterTheSectorsAlreadyRead covers it in process";
#else
    // A process's own memory opens for reading, and a read at offset 0, which
    // nothing is mapped at, fails. Neither the stream report nor a line for
    // the missing video follows it. (A folder is no longer read as a file:
    // it names a disc.)
    fs::create_symlink("/proc/self/mem", dir / "memory.vob");
    const auto result = run_packrift(dir, {"memory.vob", "-video", "0", "-streams"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, opened("memory.m2v"));
    EXPECT_EQ(result.err, perror_line("memory.vob", EIO));
    EXPECT_EQ(file("memory.m2v"), Bytes{});
#endif
}

// Text mode would turn LF into CR LF on writing, and on reading drop the CR
// of CR LF and stop at the first 1A (Ctrl-Z).
TEST_F(Cli, FilesAreBinaryLineEndsAndCtrlZPassUnchanged) {
    const Bytes control = {0x0A, 0x0D, 0x0A, 0x1A, 0x0D, 0x0D, 0x0A, 0x0A, 0x1A};
    const Bytes video = concat({control, pattern(400, 5), control, pattern(300, 6), control});
    const Bytes audio = concat({{0x1A}, pattern(200, 7), control, {0x0D}});
    packtest::write_file(dir / "movie.vob",
                         concat({packtest::video_pack(video), packtest::ac3_pack(0x80, audio),
                                 packtest::video_pack(control), packtest::ac3_pack(0x80, control)}));
    const auto result = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(file("movie.m2v"), concat({video, control}));
    EXPECT_EQ(file("movie-stream0.ac3"), concat({audio, control}));
}

// "Cafe" with an acute e, an en dash and "Tokyo" in kanji: no ANSI code page
// holds them all.
const std::string WIDE_NAME = from_utf8(u8"Caf\u00e9 \u2013 \u6771\u4eac");

TEST_F(Cli, NamesOutsideTheAnsiCodePageOpenAndArePrintedAsUtf8) {
    const std::string input = WIDE_NAME + ".vob";
    fs::rename(dir / "movie.vob", dir / path_from_utf8(input));
    auto result = run_packrift(dir, {input, "-video", "0", "-audio", "2"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened(WIDE_NAME + ".m2v") + opened(WIDE_NAME + "-stream2.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(file(WIDE_NAME + ".m2v"), VIDEO);
    EXPECT_EQ(file(WIDE_NAME + "-stream2.ac3"), AUDIO_2);

    result = run_packrift(dir, {WIDE_NAME + " 2.vob", "-video", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, perror_line(WIDE_NAME + " 2.vob", ENOENT));
}

// A name with spaces, quotes, a tab, a backslash and a non-ASCII letter, as
// typed and as a JSON string holds it. Windows names hold neither quotes
// nor tabs, and a backslash there is the folder separator.
#ifdef _WIN32
const std::string ODD_STEM = from_utf8(u8"my dir\\my film \u00e9");
const std::string ODD_STEM_IN_JSON = from_utf8(u8"my dir\\\\my film \u00e9");
#else
const std::string ODD_STEM = from_utf8(u8"my \"film\"\t\\ \u00e9");
const std::string ODD_STEM_IN_JSON = from_utf8(u8"my \\\"film\\\"\\t\\\\ \u00e9");
#endif

struct MkvmergeCase {
    const char* label;
    std::string stem;  // of the VOB file, as typed
    std::vector<std::string> options;
    std::string err;
    int status;
    std::optional<std::string> json;  // STEM.mkvmerge.json, none when not written
};

// -mkvmerge names every output that holds data, by the name it was written
// under, JSON-escaped; an empty one is left out and named at the end; a name
// that JSON cannot hold keeps the file from being written and fails the run.
TEST_F(Cli, TheMkvmergeOptionsFileNamesWhatWasWritten) {
    const std::vector<std::string> video_and_audio_1 = {"-video", "0", "-audio", "1", "-mkvmerge"};
    std::vector<MkvmergeCase> cases = {
        {"a name to escape", ODD_STEM, video_and_audio_1, "", 0,
         "[\n  \"--output\",\n  \"" + ODD_STEM_IN_JSON + ".mkv\",\n  \"" + ODD_STEM_IN_JSON + ".m2v\",\n"
         "  \"--language\",\n  \"0:und\",\n  \"--track-name\",\n  \"0:AC-3\",\n  \"" + ODD_STEM_IN_JSON +
             "-stream1.ac3\"\n]\n"},
        {"an empty output", "movie", {"-video", "0", "-audio", "5", "-mkvmerge"},
         "movie-stream5.ac3: the input holds no AC-3 substream 0x85" + SEE_STREAMS +
             "movie.mkvmerge.json: movie-stream5.ac3 is empty and left out\n",
         0, "[\n  \"--output\",\n  \"movie.mkv\",\n  \"movie.m2v\"\n]\n"},
        {"only an empty output", "movie", {"-audio", "5", "-mkvmerge"},
         "movie-stream5.ac3: the input holds no AC-3 substream 0x85" + SEE_STREAMS +
             "movie.mkvmerge.json: movie-stream5.ac3 is empty and left out\n"
             "movie.mkvmerge.json: no output holds data, so there is nothing to mux and it is not written\n",
         0, std::nullopt},
    };
#ifndef _WIN32
    // Latin-1's e acute, a byte that begins no UTF-8 sequence; Windows names are UTF-16.
    const std::string latin_1 = "movie\xE9";
    cases.push_back({"a name that is not UTF-8", latin_1, {"-video", "0", "-mkvmerge"},
                     latin_1 + ".mkv: the name is not valid UTF-8, which mkvmerge's JSON options file cannot hold\n" +
                         latin_1 + ".mkvmerge.json: not written\n",
                     1, std::nullopt});
#endif
    for (const MkvmergeCase& c : cases) {
        SCOPED_TRACE(c.label);
        // Raw bytes for the names: on Windows UTF-8, elsewhere as the system takes them.
#ifdef _WIN32
        const fs::path stem = path_from_utf8(c.stem);
#else
        const fs::path stem = fs::path(c.stem);
#endif
        fs::path input = dir / stem;
        input += ".vob";
        fs::create_directories(input.parent_path());
        packtest::write_file(input, small_movie());
        std::vector<std::string> args = {c.stem + ".vob"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        fs::path json = dir / stem;
        json += ".mkvmerge.json";
        fs::remove(json);  // an earlier row's
        const auto result = run_packrift(dir, args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err, c.err);
        if (c.json) {
            EXPECT_EQ(packtest::read_text(json), *c.json);
        } else {
            EXPECT_FALSE(fs::exists(json));
        }
        fs::path video = dir / stem;
        video += ".m2v";
        if (c.options.front() == "-video") {
            EXPECT_EQ(packtest::read_file(video), VIDEO);  // the outputs are written all the same
        }
    }
}

}  // namespace

// A title fills several VOB files: split part by part, the outputs joined in
// order are exactly those of the whole (whose digests the sample check
// compares with the recorded ones). The bundled sample, cut at two sector
// boundaries into three parts of unequal size, stands for the title.
TEST(CliJoin, PartsSplitOneByOneJoinInOrderToTheWholeSplit) {
    namespace fs = std::filesystem;
    using packtest::Bytes;
    const Bytes sample = packtest::read_file(PACKRIFT_SAMPLE_VOB);
    ASSERT_EQ(sample.size() % packtest::SECTOR, 0u);
    const std::size_t sectors = sample.size() / packtest::SECTOR;
    ASSERT_GE(sectors, 12u);
    const std::vector<std::size_t> cuts = {0, sectors / 4 * packtest::SECTOR,
                                           sectors * 2 / 3 * packtest::SECTOR, sample.size()};
    const std::vector<std::string> parts = {"part1", "part2", "part3"};

    const fs::path dir = packtest::scratch_dir("join");
    packtest::write_file(dir / "whole.vob", sample);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto begin = sample.begin() + static_cast<std::ptrdiff_t>(cuts[i]);
        const auto end = sample.begin() + static_cast<std::ptrdiff_t>(cuts[i + 1]);
        packtest::write_file(dir / (parts[i] + ".vob"), Bytes(begin, end));
    }
    std::vector<std::string> names = parts;
    names.push_back("whole");
    for (const auto& name : names) {
        for (const std::vector<std::string>& options : {std::vector<std::string>{"-video", "0", "-audio", "0"},
                                                        std::vector<std::string>{"-audio", "1"}}) {
            std::vector<std::string> args = {name + ".vob"};
            args.insert(args.end(), options.begin(), options.end());
            const auto result = packtest::run_packrift(dir, args);
            EXPECT_EQ(result.status, 0) << name << ": " << result.err;
        }
    }

    for (const std::string suffix : {".m2v", "-stream0.ac3", "-stream1.ac3"}) {
        Bytes joined;
        for (const auto& part : parts) {
            const Bytes output = packtest::read_file(dir / (part + suffix));
            EXPECT_FALSE(output.empty()) << part << suffix;
            joined.insert(joined.end(), output.begin(), output.end());
        }
        const Bytes whole = packtest::read_file(dir / ("whole" + suffix));
        EXPECT_FALSE(whole.empty()) << "whole" << suffix;
        // Compared whole, not printed: the outputs run to megabytes.
        EXPECT_TRUE(joined == whole) << suffix << ": the parts joined give " << joined.size()
                                     << " bytes, the whole " << whole.size();
    }
    packtest::remove_scratch_dir(dir);
}
