#include "front/command_line.hpp"

#include <climits>
#include <cstring>

namespace packrift {

namespace {

bool is_white_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool contains_option(const char* argument, const char* option) {
    return std::strstr(argument, option) != nullptr;
}

int parse_audio_number(const char* text) {
    while (is_white_space(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    // Accumulate the magnitude in a wider type and stop growing it past the
    // int range, so that any number of digits is safe.
    constexpr long long LIMIT = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (; is_digit(*text); ++text) {
        if (magnitude <= LIMIT) {
            magnitude = magnitude * 10 + (*text - '0');
        }
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
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
