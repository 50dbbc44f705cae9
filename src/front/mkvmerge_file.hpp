#pragma once
// -mkvmerge: at the end of a run, the options file that muxes what the run
// wrote into one Matroska file, NAME.mkvmerge.json making NAME.mkv.

#include "front/run_control.hpp"

namespace packrift {

inline constexpr const char* MKVMERGE_SUFFIX = ".mkvmerge.json";

// Writes the options file for the outputs that hold data, the video first,
// then audio and subtitles in the title's listing order (a file's: the
// order met), each with its language, delay, name and default flag; a line
// names each output left out because it is empty. False when the file
// cannot be written, or a name cannot go into JSON.
bool write_mkvmerge_file(const SplitInput& input, bool chapters_written);

}  // namespace packrift
