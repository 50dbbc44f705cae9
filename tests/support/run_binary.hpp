#pragma once
// Runs the built packrift in a scratch folder and captures what it did.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace packtest {

struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};

// A new, empty folder for one test, below the system's temporary folder.
std::filesystem::path scratch_dir(const std::string& name);

// Removes a scratch folder, trying again for a few seconds while a file in it
// is still held: under Wine the console host of a run started in a console of
// its own keeps the run's inherited output files open a moment after the run
// has ended.
void remove_scratch_dir(const std::filesystem::path& dir);

// The path of the packrift executable under test.
std::string packrift_path();

// Runs packrift with args (the input first) with dir as the working folder.
RunResult run_packrift(const std::filesystem::path& dir, const std::vector<std::string>& args);

// The same with environment variables set for the run (NAME, value), an
// empty value unsetting NAME.
using Environment = std::vector<std::pair<std::string, std::string>>;
RunResult run_packrift(const std::filesystem::path& dir, const std::vector<std::string>& args,
                       const Environment& environment);

// The same with another copy of packrift: program, a full path.
RunResult run_packrift_at(const std::string& program, const std::filesystem::path& dir,
                          const std::vector<std::string>& args, const Environment& environment);

std::string read_text(const std::filesystem::path& path);

// The files of dir whose names begin with stem, by the rest of their names, with their bytes.
std::vector<std::pair<std::string, std::vector<unsigned char>>> files_named(const std::filesystem::path& dir,
                                                                            const std::string& stem);

// Names travel as UTF-8 strings, as packrift takes and prints them; these
// convert without the system's narrow code page in between.
std::filesystem::path path_from_utf8(const std::string& text);
std::string utf8_of(const std::filesystem::path& path);

}  // namespace packtest
