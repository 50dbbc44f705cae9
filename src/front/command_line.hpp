#pragma once
// The command line: the options, the number after an option and the names
// of the outputs, derived from the input's name.

#include <optional>
#include <string>

#include "demux/demux_common.hpp"

namespace packrift {

inline constexpr const char* STREAMS_OPTION = "-streams";
inline constexpr const char* INPUT_EXTENSION = ".vob";

// Options are recognised anywhere inside an argument, case-sensitively.
bool contains_option(const char* argument, const char* option);

// Whether any argument after the input contains option.
bool option_given(int argc, char** argv, const char* option);

// The argument read as a decimal int in the manner of atoi (leading white
// space, an optional sign, digits up to the first non-digit, none giving 0),
// clamped to the int range instead of overflowing.
int parse_audio_number(const char* text);

// The number after the option at argv[i]: the next argument read as above,
// or 0 when the option is the last argument.
int number_after(int argc, char** argv, int i);

// What follows the stem in the name of kind's output for "option number":
// ".m2v", "-stream2.ac3", "-lpcm2.wav" and so on.
std::string output_suffix(StreamKind kind, int number);

// "0xA2": a stream id or substream number as the messages and reports show it.
std::string hex_id(int id);

// The input path with its first ".vob" and all after it replaced, or nothing
// when the path holds no lower-case ".vob".
std::optional<std::string> output_name(const std::string& input_path, const std::string& replacement);

}  // namespace packrift
