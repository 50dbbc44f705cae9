#include "front/command_line.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace packrift {

bool contains_option(const char* argument, const char* option) {
    return std::strstr(argument, option) != nullptr;
}

bool option_given(int argc, char** argv, const char* option) {
    for (int i = 2; i < argc; ++i) {
        if (contains_option(argv[i], option)) {
            return true;
        }
    }
    return false;
}

int parse_audio_number(const char* text) {
    // strtol reads what atoi reads and saturates instead of overflowing.
    constexpr int DECIMAL = 10;
    const long value = std::strtol(text, nullptr, DECIMAL);
    return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

std::string audio_replacement(int audio_no) {
    return "-stream" + std::to_string(audio_no) + ".ac3";
}

std::optional<std::string> output_name(const std::string& input_path, const std::string& replacement) {
    const std::size_t position = input_path.find(INPUT_EXTENSION);
    if (position == std::string::npos) {
        return std::nullopt;
    }
    return input_path.substr(0, position) + replacement;
}

}  // namespace packrift
