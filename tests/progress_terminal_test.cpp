// The progress line must reach a terminal while the input is still being
// read, not only when the run ends: packrift on a pseudo-terminal, reading
// from a FIFO that is kept open.

#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

namespace {

constexpr int BATCH = 1000;  // one read's worth of packs
constexpr auto PATIENCE = std::chrono::seconds(30);

pid_t start_on_terminal(const std::string& terminal, const std::filesystem::path& dir) {
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        const int slave = open(terminal.c_str(), O_RDWR);
        if (slave < 0 || chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        dup2(slave, STDOUT_FILENO);
        dup2(slave, STDERR_FILENO);
        const std::string program = packtest::packrift_path();
        execl(program.c_str(), program.c_str(), "movie.vob", "-video", "0", static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// Reads the terminal until text shows up or time runs out; returns all read.
std::string read_until(int master, const std::string& text) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
    while (seen.find(text) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{master, POLLIN, 0};
        if (poll(&ready, 1, 100) > 0) {
            char buffer[4096];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            seen.append(buffer, static_cast<std::size_t>(got));
        }
    }
    return seen;
}

bool write_all(int fd, const packtest::Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

TEST(ProgressOnATerminal, ShowsPack900BeforeTheInputEnds) {
    const auto dir = packtest::scratch_dir("terminal");
    ASSERT_EQ(mkfifo((dir / "movie.vob").c_str(), 0600), 0);
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const pid_t child = start_on_terminal(ptsname(master), dir);
    ASSERT_GT(child, 0);

    // One whole batch, then the FIFO stays open: the input has not ended.
    const int fifo = open((dir / "movie.vob").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    packtest::Bytes batch;
    for (int i = 0; i < BATCH; ++i) {
        const auto pack = packtest::video_pack(packtest::pattern(100, static_cast<unsigned>(i)));
        batch.insert(batch.end(), pack.begin(), pack.end());
    }
    ASSERT_TRUE(write_all(fifo, batch));
    const std::string seen = read_until(master, "LBA = 900 ");
    EXPECT_NE(seen.find("LBA = 900 "), std::string::npos) << seen;

    close(fifo);
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(std::filesystem::file_size(dir / "movie.m2v"), BATCH * 100u);
    std::filesystem::remove_all(dir);
}

}  // namespace

#else

TEST(ProgressOnATerminal, ShowsPack900BeforeTheInputEnds) {
    GTEST_SKIP() << "needs a POSIX pseudo-terminal and FIFO";
}

#endif
