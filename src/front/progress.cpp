#include "front/progress.hpp"

#include <chrono>
#include <cinttypes>
#include <cstdio>

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

double start_time = 0.0;
bool line_open = false;  // a progress line printed and not yet ended
double (*progress_clock)() = &wall_seconds;

char* put_two_digits(char* text, int value) {
    text[0] = static_cast<char>('0' + value / 10);
    text[1] = static_cast<char>('0' + value % 10);
    return text + 2;
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

void report_progress() {
    const double elapsed = progress_clock() - start_time;
    const std::uint32_t kilobytes_read = pack_count * KILOBYTES_PER_PACK;
    // No time passed yet (or a coarse clock): show 0.0 rather than inf or nan.
    const double rate = elapsed > 0.0 ? static_cast<double>(kilobytes_read) / elapsed : 0.0;
    char text[HMS_TEXT_SIZE];
    format_hms(static_cast<int>(elapsed), text);
    std::printf("LBA = %u (%0.1fK/s), OUT = %" PRIu64 "Kb, TimeSoFar=%s      \r", pack_count, rate,
                out_bytes >> KILOBYTE_SHIFT, text);
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
