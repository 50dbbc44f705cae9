// End to end: the built packrift in a scratch folder, checked by exit
// status, both output streams and the bytes of every file.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

namespace {

namespace fs = std::filesystem;
using packtest::Bytes;
using packtest::concat;
using packtest::pattern;
using packtest::run_packrift;

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

std::string opened(const std::string& name) {
    return "opened " + name + " for writing\n";
}

std::string perror_line(const std::string& name, int error_number) {
    return name + ": " + std::strerror(error_number) + "\n";
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        dir = packtest::scratch_dir("cli");
        packtest::write_file((dir / "movie.vob").string(), small_movie());
    }
    void TearDown() override { fs::remove_all(dir); }
    Bytes file(const std::string& name) { return packtest::read_file((dir / name).string()); }
    // The names in the folder other than the input.
    std::vector<std::string> outputs(const std::string& input = "movie.vob") {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const auto name = entry.path().filename().string();
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

TEST_F(Cli, AnInputThatCannotBeOpenedCreatesNoOutput) {
    const auto result = run_packrift(dir, {"missing.vob", "-video", "0", "-audio", "1"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, perror_line("missing.vob", ENOENT));
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

TEST_F(Cli, WithoutOptionsReadsTheInputAndWritesNothing) {
    const auto result = run_packrift(dir, {"movie.vob", "ignored", "0"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, FIRST_PROGRESS);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(outputs(), std::vector<std::string>{});
}

TEST_F(Cli, OptionsAreExaminedInOrderAndALaterOneReplacesAnEarlier) {
    auto result = run_packrift(dir, {"movie.vob", "-audio", "1", "-audio", "2"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened("movie-stream1.ac3") + opened("movie-stream2.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(file("movie-stream1.ac3"), Bytes{});
    EXPECT_EQ(file("movie-stream2.ac3"), AUDIO_2);

    result = run_packrift(dir, {"movie.vob", "-audio", "1", "-video", "0"});
    EXPECT_EQ(result.out, opened("movie-stream1.ac3") + opened("movie.m2v") + FIRST_PROGRESS);

    // "-video" then "-audio" with "1" as its number; "1" itself matches nothing.
    fs::remove(dir / "movie.m2v");
    result = run_packrift(dir, {"movie.vob", "-video", "-audio", "1"});
    EXPECT_EQ(result.out, opened("movie.m2v") + opened("movie-stream1.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(file("movie.m2v"), VIDEO);
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
    EXPECT_EQ(result.out, opened("movie-stream2147483647.ac3") + FIRST_PROGRESS);
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

    // A name of any length the system takes is used whole: here over 300 characters.
    const std::string folder = std::string(150, 'A') + "/" + std::string(150, 'B');
    fs::create_directories(dir / folder);
    fs::copy_file(dir / "movie.vob", dir / folder / "movie.vob");
    result = run_packrift(dir, {folder + "/movie.vob", "-audio", "-2147483648"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened(folder + "/movie-stream-2147483648.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(file(folder + "/movie-stream-2147483648.ac3"), Bytes{});
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

#ifndef _WIN32
TEST_F(Cli, AnOutputThatCannotBeOpenedFailsTheRunButNotTheOtherOutput) {
    fs::create_directory(dir / "movie.m2v");
    const auto result = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, opened("movie-stream0.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, perror_line("movie.m2v", EISDIR));
    EXPECT_EQ(file("movie-stream0.ac3"), AUDIO_0);
}

TEST_F(Cli, AWriteFailureIsReportedOnceAndFailsTheRun) {
    fs::create_symlink("/dev/full", dir / "movie.m2v");
    const auto result = run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, opened("movie.m2v") + opened("movie-stream0.ac3") + FIRST_PROGRESS);
    EXPECT_EQ(result.err, perror_line("movie.m2v", ENOSPC));
    EXPECT_EQ(file("movie-stream0.ac3"), AUDIO_0);
}

TEST_F(Cli, AReadErrorIsReportedAndFailsTheRun) {
    fs::create_directory(dir / "folder.vob");
    const auto result = run_packrift(dir, {"folder.vob", "-video", "0"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, opened("folder.m2v"));
    EXPECT_EQ(result.err, perror_line("folder.vob", EISDIR));
    EXPECT_EQ(file("folder.m2v"), Bytes{});
}
#endif

}  // namespace
