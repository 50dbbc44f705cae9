#pragma once
// The run from start to exit: command line, files, one pass of the pack
// loop, the final flush and the exit status.

#include <string>
#include <vector>

#include "demux/sector_source.hpp"
#include "front/outputs.hpp"
#include "front/stream_report.hpp"

namespace packrift {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;

// What one split reads: a file read whole, or a title's runs of sectors
// over the VOB files of its title set.
struct SplitInput {
    std::string name;  // as typed: the last line of a stopped run names it
    OutputNaming naming;
    std::vector<NamedFile*> files;  // open; closed by the split
    bool whole_file = false;        // the first of files, from its start to its end
    std::vector<SourceFile> source_files;  // otherwise these files' runs of sectors
    std::vector<SectorRun> runs;
    std::vector<StreamLanguage> languages;  // for the stream report
    SubpictureDisc subpictures;             // for a subpicture output's .idx
    bool drive = false;  // the runs lie on a drive read as a block device
    bool through_libdvdcss = false;  // which authenticates the drive
    // A title: its number, per run whether its timestamps may restart
    // there, and per chapter its first run and its start by the IFO's
    // cell times, in milliseconds.
    int title = 0;
    std::vector<bool> may_join;
    std::vector<std::size_t> chapter_runs;
    std::vector<std::uint64_t> chapter_milliseconds;
};

// Whether what was printed on standard output reached it; when it did not
// (a full disc, a closed pipe), says so. For runs whose result is what they
// print: the listing, the help.
bool standard_output_written();

// Opens the outputs that the options ask for, runs the pack loop over the
// input, finishes the outputs and tells what went wrong; returns the exit
// status, or ends the process by the stop signal that stopped the run.
int split(int argc, char** argv, const SplitInput& input);

// Returns 0 when every requested output was opened and written in full (or
// none was requested) and the input was read to its end; 1 otherwise.
int run_packrift(int argc, char** argv);

}  // namespace packrift
