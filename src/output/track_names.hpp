#pragma once
// The name a muxer gives an output's track: its kind and, where its stream
// says them, its channels ("AC-3 5.1", "LPCM 2.0").

#include <string>

#include "demux/demux_common.hpp"

namespace packrift {

// Of a finished output: an audio file's first whole frame header is read
// back from its start (a DVD stream may begin with the end of a frame); a
// WAV's format is its first packet's.
std::string track_name(const Output& output);

}  // namespace packrift
