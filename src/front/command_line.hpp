#pragma once
// The command line: the options, the number after "-audio" and the names of
// the outputs, derived from the input's name.

#include <optional>
#include <string>

namespace packrift {

inline constexpr const char* VIDEO_OPTION = "-video";
inline constexpr const char* AUDIO_OPTION = "-audio";
inline constexpr const char* STREAMS_OPTION = "-streams";
inline constexpr const char* INPUT_EXTENSION = ".vob";
inline constexpr const char* VIDEO_EXTENSION = ".m2v";

// Options are recognised anywhere inside an argument, case-sensitively.
bool contains_option(const char* argument, const char* option);

// Whether any argument after the input contains option.
bool option_given(int argc, char** argv, const char* option);

// The argument read as a decimal int in the manner of atoi (leading white
// space, an optional sign, digits up to the first non-digit, none giving 0),
// clamped to the int range instead of overflowing.
int parse_audio_number(const char* text);

// "-stream%d.ac3" for audio_no.
std::string audio_replacement(int audio_no);

// The input path with its first ".vob" and all after it replaced, or nothing
// when the path holds no lower-case ".vob".
std::optional<std::string> output_name(const std::string& input_path, const std::string& replacement);

}  // namespace packrift
