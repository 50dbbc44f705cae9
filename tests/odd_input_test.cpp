// End to end with inputs that are not tidy VOBs: a pipe, a torn last
// sector, zeros, noise, less than one sector, and the longest PES headers.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <csignal>
#include <cstdio>

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
    void TearDown() override { packtest::remove_scratch_dir(dir); }
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

// One whole batch of sectors (1000), fed to a run that is then stopped, and
// the streams its packs hold.
struct FedBatch {
    Bytes sectors;
    Bytes video;
    Bytes audio;
    Bytes subpictures;  // the packs of substream 0x20, whole: a unit each, a second apart
};

FedBatch one_batch() {
    constexpr unsigned FED_PACKS = 1000;
    constexpr unsigned SUBPICTURE_EVERY = 100;
    constexpr std::uint64_t SECOND = 90000;
    FedBatch batch;
    for (unsigned i = 0; i < FED_PACKS; ++i) {
        if (i % SUBPICTURE_EVERY == SUBPICTURE_EVERY / 2) {
            const Bytes sector = packtest::subpicture_pack(0x20, packtest::subpicture_unit(100, i > FED_PACKS / 2),
                                                           i / SUBPICTURE_EVERY * SECOND);
            batch.subpictures.insert(batch.subpictures.end(), sector.begin(), sector.end());
            batch.sectors.insert(batch.sectors.end(), sector.begin(), sector.end());
            continue;
        }
        const Bytes payload = pattern(1500, i);
        const bool is_audio = i % 4 == 0;
        const Bytes sector = is_audio ? ac3_pack(0x80, payload) : video_pack(payload);
        Bytes& stream = is_audio ? batch.audio : batch.video;
        stream.insert(stream.end(), payload.begin(), payload.end());
        batch.sectors.insert(batch.sectors.end(), sector.begin(), sector.end());
    }
    return batch;
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
    const FedBatch batch = one_batch();
    const Bytes& fed = batch.sectors;
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        fs::remove(dir / "movie.vob");
        ASSERT_EQ(::mkfifo((dir / "movie.vob").c_str(), 0600), 0);
        const pid_t pid = start_packrift(dir, {"movie.vob", "-video", "0", "-audio", "0", "-sub", "0"});
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
                  "movie-sub0.idx: no IFO file beside the input, so the palette is a grey scale\n"
                  "movie.vob: interrupted after 1000 packs; the outputs hold the streams up to there\n");
        const std::string out = packtest::read_text(dir / ".stdout");
        EXPECT_EQ(out.substr(out.size() - 2), "\r\n") << "the progress line is ended";
        EXPECT_EQ(video(), batch.video);
        EXPECT_EQ(audio(), batch.audio);
        // The .idx is written too, with the units read; the video has no PTS,
        // so each unit's own time is its line's.
        EXPECT_EQ(packtest::read_file(dir / "movie-sub0.sub"), batch.subpictures);
        const std::string index = packtest::read_text(dir / "movie-sub0.idx");
        EXPECT_NE(index.find("timestamp: 00:00:00:000, filepos: 000000000\n"), std::string::npos) << index;
        EXPECT_NE(index.find("timestamp: 00:00:09:000, filepos: 000004800\n"), std::string::npos) << index;
    }
}
#else
TEST_F(OddInput, AFifoIsReadToItsEndWithoutSeekingOrKnowingItsSize) {
    GTEST_SKIP() << "Windows has no FIFO among its files; a named pipe would do, but the outputs, named "
                    "after the input, would then have to be pipes too";
}

// A named pipe that the test serves to packrift, its one client: the input,
// fed in batches and then ended, or an output, drained until packrift closes
// it. The serving thread closes the pipe when it is done.
class ServedPipe {
public:
    ServedPipe(const std::wstring& name, DWORD direction) : name_(name), direction_(direction) {
        constexpr DWORD PIPE_BUFFER = 64 * 1024;
        pipe_ = CreateNamedPipeW(name.c_str(), direction, PIPE_TYPE_BYTE | PIPE_WAIT, 1, PIPE_BUFFER, PIPE_BUFFER, 0,
                                 nullptr);
        go_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~ServedPipe() {
        finish();
        CloseHandle(go_);
    }
    bool made() const { return pipe_ != INVALID_HANDLE_VALUE; }
    // Writes first, and second once let go, then ends the input.
    void feed(const Bytes& first, const Bytes& second) {
        server_ = std::thread([this, first, second] {
            if (connect() && write(first) && WaitForSingleObject(go_, INFINITE) == WAIT_OBJECT_0 && write(second)) {
                FlushFileBuffers(pipe_);  // until packrift has read it all
            }
            CloseHandle(pipe_);  // the reader sees the end of its input
        });
    }
    void let_go() { SetEvent(go_); }
    void drain() {
        server_ = std::thread([this] {
            unsigned char block[4096];
            DWORD length = 0;
            while (connect() && ReadFile(pipe_, block, sizeof block, &length, nullptr) != 0) {
                received_.insert(received_.end(), block, block + length);
            }
            CloseHandle(pipe_);
        });
    }
    // What packrift wrote into it, once it has ended.
    const Bytes& received() {
        finish();
        return received_;
    }

private:
    bool connect() {
        if (!connected_) {
            connected_ = ConnectNamedPipe(pipe_, nullptr) != 0 || GetLastError() == ERROR_PIPE_CONNECTED;
        }
        return connected_;
    }
    bool write(const Bytes& bytes) {
        DWORD written = 0;
        return bytes.empty() ||
               WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0;
    }
    void finish() {
        if (!server_.joinable()) {
            if (made()) {
                CloseHandle(pipe_);
                pipe_ = INVALID_HANDLE_VALUE;
            }
            return;
        }
        SetEvent(go_);
        if (!connected_) {
            // Packrift never opened it: a client of the test's own lets the server go.
            const DWORD access = direction_ == PIPE_ACCESS_INBOUND ? GENERIC_WRITE : GENERIC_READ;
            const HANDLE client = CreateFileW(name_.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (client != INVALID_HANDLE_VALUE) {
                CloseHandle(client);
            }
        }
        server_.join();
    }
    std::wstring name_;
    DWORD direction_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE go_ = nullptr;
    std::atomic<bool> connected_{false};
    std::thread server_;
    Bytes received_;
};

// Starts packrift in dir in a console of its own that has no window, so that
// a Ctrl-C in it reaches packrift alone; standard output and error go into
// files there.
PROCESS_INFORMATION start_packrift_in_own_console(const fs::path& dir, const std::vector<std::string>& args) {
    std::wstring command = L"\"" + packtest::path_from_utf8(packtest::packrift_path()).wstring() + L"\"";
    for (const std::string& arg : args) {
        command += L" \"" + packtest::path_from_utf8(arg).wstring() + L"\"";
    }
    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const auto open = [&](const wchar_t* name, DWORD access, DWORD disposition) {
        return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, disposition, 0, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = open((dir / ".stdout").c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = open((dir / ".stderr").c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    // A Ctrl-C that the test itself ignores would be ignored by packrift too.
    SetConsoleCtrlHandler(nullptr, FALSE);
    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, dir.c_str(),
                       &startup, &started) == 0) {
        started = PROCESS_INFORMATION{};
    }
    for (const HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        CloseHandle(handle);
    }
    return started;
}

BOOL WINAPI take_ctrl_c(DWORD event) {
    return event == CTRL_C_EVENT ? TRUE : FALSE;
}

// Presses Ctrl-C in the console of process: the test joins that console for
// the moment (and takes the Ctrl-C it gets too), then goes back to its own.
bool press_ctrl_c_in_console_of(DWORD process_id) {
    SetConsoleCtrlHandler(&take_ctrl_c, TRUE);
    FreeConsole();
    const bool pressed = AttachConsole(process_id) != 0 && GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
    FreeConsole();
    AttachConsole(ATTACH_PARENT_PROCESS);
    return pressed;
}

// Ctrl-C does not cut short a read that waits on a pipe: the run stops at the
// next sector once the read has returned, whether with more sectors or at the
// end of the input, with its outputs finished and the status of a console
// program ended by Ctrl-C. Ctrl-Break and the closing of the window set the
// same flag, but Wine delivers neither, so only Ctrl-C is pressed here.
TEST_F(OddInput, AStopSignalEndsTheRunWithTheOutputsOfWhatWasRead) {
    const FedBatch batch = one_batch();
    const struct {
        const char* after_the_stop;
        Bytes sectors;
    } rows[] = {
        {"the input ends", {}},
        {"another batch comes", batch.sectors},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.after_the_stop);
        // Named after the input, the outputs are pipes too, which the test drains.
        const std::string base = "\\\\.\\pipe\\" + packtest::utf8_of(dir.filename()) + "-movie";
        const auto wide = [](const std::string& name) { return packtest::path_from_utf8(name).wstring(); };
        ServedPipe input(wide(base + ".vob"), PIPE_ACCESS_OUTBOUND);
        ServedPipe video_out(wide(base + ".m2v"), PIPE_ACCESS_INBOUND);
        ServedPipe audio_out(wide(base + "-stream0.ac3"), PIPE_ACCESS_INBOUND);
        ASSERT_TRUE(input.made() && video_out.made() && audio_out.made()) << GetLastError();
        input.feed(batch.sectors, row.sectors);
        video_out.drain();
        audio_out.drain();
        const PROCESS_INFORMATION run =
            start_packrift_in_own_console(dir, {base + ".vob", "-video", "0", "-audio", "0"});
        ASSERT_NE(run.hProcess, nullptr) << GetLastError();
        // The batch's last progress line, then the moment its last packs take,
        // and packrift waits for more in its next read.
        EXPECT_TRUE(wait_for_text(dir / ".stdout", "LBA = 900 "));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_TRUE(press_ctrl_c_in_console_of(run.dwProcessId)) << GetLastError();
        // The handler's thread sets the flag before the read returns.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        input.let_go();
        const bool ended = WaitForSingleObject(run.hProcess, 10000) == WAIT_OBJECT_0;
        SetConsoleCtrlHandler(&take_ctrl_c, FALSE);
        EXPECT_TRUE(ended) << "the stop did not end the run";
        if (!ended) {
            TerminateProcess(run.hProcess, 1);
            WaitForSingleObject(run.hProcess, INFINITE);
        }
        DWORD status = 0;
        GetExitCodeProcess(run.hProcess, &status);
        CloseHandle(run.hProcess);
        CloseHandle(run.hThread);
        EXPECT_EQ(status, static_cast<DWORD>(STATUS_CONTROL_C_EXIT));
        // Standard error and output in text mode, with CR LF line ends.
        EXPECT_EQ(packtest::read_text(dir / ".stderr"),
                  base + ".vob: interrupted after 1000 packs; the outputs hold the streams up to there\r\n");
        const std::string out = packtest::read_text(dir / ".stdout");
        EXPECT_EQ(out.substr(out.size() - 3), "\r\r\n") << "the progress line is ended";
        EXPECT_EQ(video_out.received(), batch.video);
        EXPECT_EQ(audio_out.received(), batch.audio);
    }
}
#endif

}  // namespace
