#include "support/run_binary.hpp"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace packtest {

namespace {

std::string quoted(const std::string& text) {
#ifdef _WIN32
    return "\"" + text + "\"";
#else
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
#endif
}

int exit_status(int system_result) {
#ifdef _WIN32
    return system_result;
#else
    return WIFEXITED(system_result) ? WEXITSTATUS(system_result) : -1;
#endif
}

}  // namespace

std::filesystem::path scratch_dir(const std::string& name) {
    std::random_device random;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("packrift-" + name + "-" + std::to_string(random()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

std::string packrift_path() {
    return PACKRIFT_BINARY;
}

RunResult run_packrift(const std::filesystem::path& dir, const std::vector<std::string>& args) {
    const auto out_path = dir / ".stdout";
    const auto err_path = dir / ".stderr";
    std::string command = "cd " + quoted(dir.string()) + " && " + quoted(packrift_path());
    for (const auto& arg : args) {
        command += " " + quoted(arg);
    }
    command += " > " + quoted(out_path.string()) + " 2> " + quoted(err_path.string()) + " < /dev/null";
    RunResult result;
    result.status = exit_status(std::system(command.c_str()));
    result.out = read_text(out_path);
    result.err = read_text(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return result;
}

std::string read_text(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace packtest
