// End to end with inputs that are not tidy VOBs: a pipe, a torn last
// sector, zeros, noise, less than one sector, and the longest PES headers.

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

#ifndef _WIN32
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using packtest::ac3_pack;
using packtest::Bytes;
using packtest::concat;
using packtest::pattern;
using packtest::video_pack;

constexpr std::size_t LONGEST_PES_HEADER = 255;

const std::string FIRST_PROGRESS = "LBA = 0 (0.0K/s), OUT = 0Kb, TimeSoFar=00:00:00      \r";
// An input that holds no pack at all holds neither requested stream.
const std::string NEITHER_STREAM =
    "movie.m2v: the input holds no MPEG video stream 0xE0 (-streams lists what it holds)\n"
    "movie-stream0.ac3: the input holds no AC-3 substream 0x80 (-streams lists what it holds)\n";

Bytes head(const Bytes& bytes, std::size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

class OddInput : public ::testing::Test {
protected:
    void SetUp() override {
        dir = packtest::scratch_dir("odd");
        opened = "opened movie.m2v for writing\nopened movie-stream0.ac3 for writing\n";
    }
    void TearDown() override { fs::remove_all(dir); }
    packtest::RunResult split(const Bytes& input) {
        packtest::write_file((dir / "movie.vob").string(), input);
        return split_written();
    }
    packtest::RunResult split_written() {
        return packtest::run_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
    }
    Bytes video() { return packtest::read_file((dir / "movie.m2v").string()); }
    Bytes audio() { return packtest::read_file((dir / "movie-stream0.ac3").string()); }
    fs::path dir;
    std::string opened;
};

TEST_F(OddInput, ALastSectorCutShortIsNeverExamined) {
    const Bytes v = pattern(1000, 1);
    const Bytes a = pattern(900, 2);
    const Bytes torn = video_pack(pattern(1500, 3));
    for (std::size_t kept : {std::size_t{1}, std::size_t{100}, packtest::SECTOR - 1}) {
        const auto result = split(concat({video_pack(v), ac3_pack(0x80, a), head(torn, kept)}));
        EXPECT_EQ(result.status, 0) << kept;
        EXPECT_EQ(result.err, "") << kept;
        EXPECT_EQ(video(), v) << kept;
        EXPECT_EQ(audio(), a) << kept;
    }
}

TEST_F(OddInput, ASinglePartialSectorIsAnEmptyInput) {
    const auto result = split(head(video_pack(pattern(2000, 4)), packtest::SECTOR - 1));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened);  // not one pack, so not one progress line
    EXPECT_EQ(result.err, NEITHER_STREAM);
    EXPECT_EQ(video(), Bytes{});
    EXPECT_EQ(audio(), Bytes{});
}

TEST_F(OddInput, SectorsOfZerosArePassedOver) {
    const Bytes v = pattern(packtest::VIDEO_ROOM, 5);
    const Bytes a = pattern(packtest::AC3_ROOM, 6);
    const Bytes zeros(packtest::SECTOR, 0);
    const auto result = split(concat({zeros, video_pack(v), zeros, zeros, ac3_pack(0x80, a), zeros}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened + FIRST_PROGRESS);
    EXPECT_EQ(video(), v);
    EXPECT_EQ(audio(), a);
}

TEST_F(OddInput, AFileOfRandomBytesGivesEmptyOutputs) {
    std::mt19937 random(20240611);
    Bytes noise(300 * packtest::SECTOR + 777);
    for (auto& byte : noise) {
        byte = static_cast<unsigned char>(random());
    }
    const auto result = split(noise);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, opened);
    EXPECT_EQ(result.err, NEITHER_STREAM);
    EXPECT_EQ(video(), Bytes{});
    EXPECT_EQ(audio(), Bytes{});
}

TEST_F(OddInput, ThePesHeaderDataLengthOf255InBothKindsOfPack) {
    const int h = static_cast<int>(LONGEST_PES_HEADER);
    const Bytes v1 = pattern(packtest::VIDEO_ROOM - LONGEST_PES_HEADER, 7);  // to the end of the sector
    const Bytes v2 = pattern(300, 8);  // followed by a padding packet
    const Bytes a1 = pattern(packtest::AC3_ROOM - LONGEST_PES_HEADER, 9);
    const Bytes a2 = pattern(500, 10);
    const auto result = split(concat({video_pack(v1, h), ac3_pack(0x80, a1, h), video_pack(v2, h),
                                      ac3_pack(0x81, pattern(400, 11), h), ac3_pack(0x80, a2, h)}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(video(), concat({v1, v2}));
    EXPECT_EQ(audio(), concat({a1, a2}));
}

#ifndef _WIN32
// Writes bytes into a FIFO from a thread; if the reader never drains it,
// drain() lets the writer finish so that the test cannot hang.
class FifoFeeder {
public:
    FifoFeeder(const fs::path& path, const Bytes& bytes) : path_(path) {
        std::signal(SIGPIPE, SIG_IGN);
        writer_ = std::thread([this, bytes] {
            if (std::FILE* fifo = std::fopen(path_.c_str(), "wb")) {  // waits for the reader
                std::fwrite(bytes.data(), 1, bytes.size(), fifo);
                std::fclose(fifo);
            }
            done_ = true;
        });
    }
    ~FifoFeeder() {
        if (!done_) {
            drain();
        }
        writer_.join();
    }

private:
    void drain() {
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        char sink[4096];
        while (!done_) {
            if (fd < 0 || ::read(fd, sink, sizeof sink) <= 0) {
                std::this_thread::yield();
            }
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    fs::path path_;
    std::atomic<bool> done_{false};
    std::thread writer_;
};

TEST_F(OddInput, AFifoIsReadToItsEndWithoutSeekingOrKnowingItsSize) {
    // More than two batches of sectors, and a torn one at the end.
    Bytes input;
    Bytes v;
    Bytes a;
    for (unsigned i = 0; i < 2300; ++i) {
        const Bytes payload = pattern(1000 + i % 900, i);
        const bool is_audio = i % 3 == 0;
        const Bytes sector = is_audio ? ac3_pack(0x80, payload) : video_pack(payload);
        Bytes& stream = is_audio ? a : v;
        stream.insert(stream.end(), payload.begin(), payload.end());
        input.insert(input.end(), sector.begin(), sector.end());
    }
    const Bytes torn = video_pack(pattern(800, 9999));
    input.insert(input.end(), torn.begin(), torn.begin() + 1500);

    ASSERT_EQ(::mkfifo((dir / "movie.vob").c_str(), 0600), 0);
    packtest::RunResult result;
    {
        FifoFeeder feeder(dir / "movie.vob", input);
        result = split_written();
    }
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind(opened + FIRST_PROGRESS, 0), 0u) << result.out.substr(0, 200);
    EXPECT_EQ(video(), v);
    EXPECT_EQ(audio(), a);
}

// Starts packrift in dir with args, standard output and error into files
// there, and returns at once with its process id.
pid_t start_packrift(const fs::path& dir, const std::vector<std::string>& args) {
    std::vector<std::string> storage = {packtest::packrift_path()};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const std::string out = (dir / ".stdout").string();
    const std::string err = (dir / ".stderr").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::chdir(dir.c_str()) == 0 && std::freopen(out.c_str(), "w", stdout) != nullptr &&
            std::freopen(err.c_str(), "w", stderr) != nullptr) {
            ::execv(argv[0], argv.data());
        }
        ::_exit(127);
    }
    return pid;
}

// Waits until the file holds text, for a few seconds at the most.
bool wait_for_text(const fs::path& path, const std::string& text) {
    for (int i = 0; i < 500; ++i) {
        if (fs::exists(path) && packtest::read_text(path).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Waits a few seconds at the most for the process to end; status is -1 if it did not.
bool wait_for_exit(pid_t pid, int& status) {
    status = -1;
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return true;
        }
        status = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// A run stopped from outside writes what it staged, finishes its outputs and
// then ends by the signal, so that a shell sees it and a loop stops.
TEST_F(OddInput, AStopSignalEndsTheRunWithTheOutputsOfWhatWasRead) {
    constexpr int FED_PACKS = 1000;  // one whole batch
    Bytes fed;
    Bytes v;
    Bytes a;
    for (int i = 0; i < FED_PACKS; ++i) {
        const Bytes payload = pattern(1500, static_cast<unsigned>(i));
        const bool is_audio = i % 4 == 0;
        const Bytes sector = is_audio ? ac3_pack(0x80, payload) : video_pack(payload);
        Bytes& stream = is_audio ? a : v;
        stream.insert(stream.end(), payload.begin(), payload.end());
        fed.insert(fed.end(), sector.begin(), sector.end());
    }
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        fs::remove(dir / "movie.vob");
        ASSERT_EQ(::mkfifo((dir / "movie.vob").c_str(), 0600), 0);
        const pid_t pid = start_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0"});
        ASSERT_GT(pid, 0);
        std::FILE* fifo = std::fopen((dir / "movie.vob").c_str(), "wb");  // waits for packrift
        ASSERT_NE(fifo, nullptr);
        ASSERT_EQ(std::fwrite(fed.data(), 1, fed.size(), fifo), fed.size());
        std::fflush(fifo);
        // The batch's last progress line, then the moment its last packs take,
        // and packrift waits for more in its next read.
        EXPECT_TRUE(wait_for_text(dir / ".stdout", "LBA = 900 "));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ::kill(pid, signal_number);
        int status = 0;
        EXPECT_TRUE(wait_for_exit(pid, status)) << "the signal did not end the waiting read";
        std::fclose(fifo);  // an end of input, should the read have gone on waiting
        if (status == -1) {
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        }
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        EXPECT_EQ(packtest::read_text(dir / ".stderr"),
                  "movie.vob: interrupted after 1000 packs; the outputs hold the streams up to there\n");
        const std::string out = packtest::read_text(dir / ".stdout");
        EXPECT_EQ(out.substr(out.size() - 2), "\r\n") << "the progress line is ended";
        EXPECT_EQ(video(), v);
        EXPECT_EQ(audio(), a);
    }
}
#else
TEST_F(OddInput, AFifoIsReadToItsEndWithoutSeekingOrKnowingItsSize) {
    GTEST_SKIP() << "Windows has no FIFO among its files; a named pipe would do, but the outputs, named "
                    "after the input, would then have to be pipes too";
}
#endif

}  // namespace
