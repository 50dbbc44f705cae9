#include "front/progress.hpp"

#include <charconv>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace packrift {

std::uint32_t pack_count = 0;
std::uint64_t out_bytes = 0;

namespace {

constexpr int SECONDS_PER_MINUTE = 60;
constexpr int SECONDS_PER_HOUR = 3600;
constexpr int HOURS_PER_DAY = 24;
constexpr std::uint32_t KILOBYTES_PER_PACK = 2;
constexpr int KILOBYTE_SHIFT = 10;
constexpr double SECONDS_PER_MILLISECOND = 0.001;

// A double's significand bits, the leading one included. Rates are written
// here below 2^52 (16 digits), where a double still has a bit after the point.
constexpr int SIGNIFICAND_BITS = 53;
constexpr double LARGEST_RATE_WRITTEN = 4503599627370496.0;  // 2^52
constexpr std::uint64_t TENTHS_PER_UNIT = 10;
// Shifted this far or further, the significand times ten is under half a
// tenth: the rate shows as 0.0.
constexpr int WIDEST_SHIFT = 60;
// The line's fixed text and its widest fields: a 32-bit and a 64-bit count
// (10 and 20 digits), the rate and HH:MM:SS (each with room for a zero).
constexpr std::size_t PROGRESS_LINE_SIZE = sizeof "LBA = " + 10 + sizeof " (" + RATE_TEXT_SIZE + sizeof "K/s), OUT = " +
                                           20 + sizeof "Kb, TimeSoFar=" + HMS_TEXT_SIZE + sizeof "      \r";

double start_time = 0.0;
bool line_open = false;  // a progress line printed and not yet ended
double (*progress_clock)() = &wall_seconds;

char* put_two_digits(char* text, int value) {
    text[0] = static_cast<char>('0' + value / 10);
    text[1] = static_cast<char>('0' + value % 10);
    return text + 2;
}

// Copies text without its terminating zero; returns the end of the copy.
char* put_text(char* at, const char* text) {
    const std::size_t length = std::strlen(text);
    std::memcpy(at, text, length);
    return at + length;
}

void on_run_begins() {
    start_time = progress_clock();
    line_open = false;
    pack_count = 0;
    out_bytes = 0;
}

void on_pack_found() {
    if (pack_count % PROGRESS_EVERY == 0) {
        report_progress();
    }
}

void on_payload_accepted(int length) {
    out_bytes += static_cast<std::uint64_t>(length);
}

void on_pack_handled() {
    ++pack_count;
}

}  // namespace

double wall_seconds() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(since);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since - whole);
    return static_cast<double>(whole.count()) + static_cast<double>(millis.count()) * SECONDS_PER_MILLISECOND;
}

void set_progress_clock(double (*clock)()) {
    progress_clock = clock != nullptr ? clock : &wall_seconds;
}

void format_hms(int seconds, char* text) {
    char* at = put_two_digits(text, seconds / SECONDS_PER_HOUR % HOURS_PER_DAY);
    *at++ = ':';
    at = put_two_digits(at, seconds / SECONDS_PER_MINUTE % SECONDS_PER_MINUTE);
    *at++ = ':';
    at = put_two_digits(at, seconds % SECONDS_PER_MINUTE);
    *at = '\0';
}

// The line is put together here and written at once: printf's way with a
// double (a multiple-precision division) cost more than the rest of the
// line, and as much as a twentieth of a split's user time.
bool format_rate(double rate, char* text) {
    // The sign bit, not a comparison: printf shows a negative zero as -0.0.
    if (std::signbit(rate) || !(rate < LARGEST_RATE_WRITTEN)) {
        return false;
    }
    // rate = significand / 2^shift exactly, shift at least 1; times ten,
    // rounded to the nearest whole number of tenths as printf rounds the
    // exact value. Exactly half way, systems may differ: printf decides.
    int exponent = 0;
    const double fraction = std::frexp(rate, &exponent);
    const auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, SIGNIFICAND_BITS));
    const int shift = SIGNIFICAND_BITS - exponent;
    std::uint64_t tenths = 0;
    if (shift < WIDEST_SHIFT) {
        const std::uint64_t tenfold = significand * TENTHS_PER_UNIT;
        const std::uint64_t rest = tenfold & ((std::uint64_t{1} << shift) - 1);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest == half) {
            return false;
        }
        tenths = (tenfold >> shift) + (rest > half ? 1 : 0);
    }
    char* const end = text + RATE_TEXT_SIZE - 1;
    char* at = std::to_chars(text, end, tenths / TENTHS_PER_UNIT).ptr;
    *at++ = '.';
    *at++ = static_cast<char>('0' + tenths % TENTHS_PER_UNIT);
    *at = '\0';
    return true;
}

void report_progress() {
    const double elapsed = progress_clock() - start_time;
    const std::uint32_t kilobytes_read = pack_count * KILOBYTES_PER_PACK;
    // No time passed yet (or a coarse clock): show 0.0 rather than inf or nan.
    const double rate = elapsed > 0.0 ? static_cast<double>(kilobytes_read) / elapsed : 0.0;
    char text[HMS_TEXT_SIZE];
    format_hms(static_cast<int>(elapsed), text);
    char rate_text[RATE_TEXT_SIZE];
    if (format_rate(rate, rate_text)) {
        char line[PROGRESS_LINE_SIZE];
        char* const end = line + sizeof line;
        char* at = put_text(line, "LBA = ");
        at = std::to_chars(at, end, pack_count).ptr;
        at = put_text(put_text(put_text(at, " ("), rate_text), "K/s), OUT = ");
        at = std::to_chars(at, end, out_bytes >> KILOBYTE_SHIFT).ptr;
        at = put_text(put_text(put_text(at, "Kb, TimeSoFar="), text), "      \r");
        std::fwrite(line, 1, static_cast<std::size_t>(at - line), stdout);
    } else {
        std::printf("LBA = %u (%0.1fK/s), OUT = %" PRIu64 "Kb, TimeSoFar=%s      \r", pack_count, rate,
                    out_bytes >> KILOBYTE_SHIFT, text);
    }
    // The carriage return flushes nothing on a line-buffered console.
    std::fflush(stdout);
    line_open = true;
}

void end_progress_line() {
    if (line_open) {
        std::fputs("\n", stdout);
        std::fflush(stdout);
        line_open = false;
    }
}

PackLoopHooks progress_hooks() {
    PackLoopHooks hooks;
    hooks.run_begins = &on_run_begins;
    hooks.pack_found = &on_pack_found;
    hooks.payload_accepted = &on_payload_accepted;
    hooks.pack_handled = &on_pack_handled;
    return hooks;
}

}  // namespace packrift
