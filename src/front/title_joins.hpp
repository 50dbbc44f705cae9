#pragma once
// A title's joins as a run sees them: whether the reading follows the
// video's clock, and at its end what that changed (the chapters, the
// report's lines, the audio that could not be filled).

#include "demux/pack_loop.hpp"
#include "front/run_control.hpp"

namespace packrift {

// Starts the title's timeline when the title's timestamps may restart
// somewhere after its first cell and an output or the report reads the
// clock: audio, subpictures, chapters, -streams. Otherwise none runs.
void follow_title_joins(int argc, char** argv, const SplitInput& input);

// After the reading: the chapters file written again on the video's clock
// when there were joins, a line per audio output that could not be filled
// (false then), and the report's lines when report.
bool tell_title_joins(int argc, char** argv, const SplitInput& input, bool report);

}  // namespace packrift
