#include "front/command_line.hpp"

#include <algorithm>
#include <climits>
#include <cstdio>
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

int number_after(int argc, char** argv, int i) {
    // As the last argument the number is empty, which reads as 0.
    return parse_audio_number(i + 1 < argc ? argv[i + 1] : "");
}

std::string output_suffix(StreamKind kind, int number) {
    // Room for the longest suffix with the longest int.
    char text[sizeof "-stream" + sizeof "-2147483648" + sizeof ".ac3"];
    std::snprintf(text, sizeof text, row_of(kind).suffix, number);
    return text;
}

std::string hex_id(int id) {
    constexpr unsigned BYTE_MASK = 0xFF;  // stream ids and substream numbers are one byte
    char text[sizeof "0xFF"];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(id) & BYTE_MASK);
    return text;
}

std::optional<std::string> output_name(const std::string& input_path, const std::string& replacement) {
    const std::size_t position = input_path.find(INPUT_EXTENSION);
    if (position == std::string::npos) {
        return std::nullopt;
    }
    return input_path.substr(0, position) + replacement;
}

}  // namespace packrift
