#include "support/run_binary.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace packtest {

namespace {

#ifdef _WIN32
// Run through cmd.exe: double quotes, NUL for no input, and cd /d so that
// the drive changes too.
constexpr const char* CHANGE_DIRECTORY = "cd /d ";
constexpr const char* NO_INPUT = "NUL";

std::string quoted(const std::string& text) {
    // Backslashes before the closing quote would make the program take it
    // as a quote of its argument ("D:\\"): doubled, they stand for themselves.
    const std::size_t last = text.find_last_not_of('\\');
    const std::size_t trailing = last == std::string::npos ? text.size() : text.size() - last - 1;
    return "\"" + text + std::string(trailing, '\\') + "\"";
}

int exit_status(int system_result) {
    return system_result;  // the status of the command cmd.exe ran last
}

// The command line goes to _wsystem in UTF-16: std::system would pass it
// through the ANSI code page and lose every name outside it.
int run_command(const std::string& command) {
    return _wsystem(path_from_utf8(command).wstring().c_str());
}

// The C runtime writes text-mode line ends, CR LF, as a Windows console
// program should. Each must be whole; the tests then see the plain LF.
std::string plain_line_ends(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            throw std::runtime_error("a line end without its carriage return in: " + text);
        }
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out += text[i];
    }
    return out;
}
#else
constexpr const char* CHANGE_DIRECTORY = "cd ";
constexpr const char* NO_INPUT = "/dev/null";

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

int exit_status(int system_result) {
    return WIFEXITED(system_result) ? WEXITSTATUS(system_result) : -1;
}

int run_command(const std::string& command) {
    return std::system(command.c_str());
}

std::string plain_line_ends(const std::string& text) {
    return text;
}
#endif

}  // namespace

std::filesystem::path path_from_utf8(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::filesystem::path scratch_dir(const std::string& name) {
    std::random_device random;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("packrift-" + name + "-" + std::to_string(random()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

void remove_scratch_dir(const std::filesystem::path& dir) {
    constexpr int TRIES = 50;
    constexpr auto PAUSE = std::chrono::milliseconds(100);
    for (int i = 1; i < TRIES; ++i) {
        std::error_code error;
        std::filesystem::remove_all(dir, error);
        if (!error) {
            return;
        }
        std::this_thread::sleep_for(PAUSE);
    }
    std::filesystem::remove_all(dir);  // the last try reports why it failed
}

std::string packrift_path() {
    // Made absolute where the tests run: under Wine a Unix path is not yet
    // one that cmd.exe can start.
    return utf8_of(std::filesystem::absolute(PACKRIFT_BINARY));
}

RunResult run_packrift(const std::filesystem::path& dir, const std::vector<std::string>& args) {
    return run_packrift(dir, args, {});
}

RunResult run_packrift(const std::filesystem::path& dir, const std::vector<std::string>& args,
                       const Environment& environment) {
    return run_packrift_at(packrift_path(), dir, args, environment);
}

RunResult run_packrift_at(const std::string& program, const std::filesystem::path& dir,
                          const std::vector<std::string>& args, const Environment& environment) {
    const auto out_path = dir / ".stdout";
    const auto err_path = dir / ".stderr";
    std::string command = CHANGE_DIRECTORY + quoted(utf8_of(dir)) + " && ";
    for (const auto& [name, value] : environment) {
#ifdef _WIN32
        // cmd.exe: set "NAME=" unsets it.
        command += "set \"" + name + "=" + value + "\" && ";
#else
        command += value.empty() ? "unset " + name + " && " : "export " + name + "=" + quoted(value) + " && ";
#endif
    }
    command += quoted(program);
    for (const auto& arg : args) {
        command += " " + quoted(arg);
    }
    command += " > " + quoted(utf8_of(out_path)) + " 2> " + quoted(utf8_of(err_path)) + " < " + NO_INPUT;
    // The shell makes the output file before it starts packrift. A shell that
    // returns without having made it (seen once under Wine, not reproduced)
    // says nothing about packrift: it is run again, once, and said so.
    int system_result = run_command(command);
    if (!std::filesystem::exists(out_path)) {
        std::fprintf(stderr, "the shell returned %d without running the command; once more: %s\n",
                     system_result, command.c_str());
        system_result = run_command(command);
    }
    if (!std::filesystem::exists(out_path)) {
        throw std::runtime_error("the shell returned " + std::to_string(system_result) +
                                 " without running: " + command);
    }
    RunResult result;
    result.status = exit_status(system_result);
    result.out = plain_line_ends(read_text(out_path));
    result.err = plain_line_ends(read_text(err_path));
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return result;
}

std::string read_text(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + utf8_of(path));
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::vector<std::pair<std::string, std::vector<unsigned char>>> files_named(const std::filesystem::path& dir,
                                                                            const std::string& stem) {
    std::vector<std::pair<std::string, std::vector<unsigned char>>> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = utf8_of(entry.path().filename());
        if (name.rfind(stem, 0) == 0) {
            const std::string text = read_text(entry.path());
            files.emplace_back(name.substr(stem.size()), std::vector<unsigned char>(text.begin(), text.end()));
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace packtest
