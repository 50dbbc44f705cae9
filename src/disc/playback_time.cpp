#include "disc/playback_time.hpp"

#include <cinttypes>
#include <cstdio>

namespace packrift {

namespace {

// The frame byte of a time: the rate in bits 7 and 6 (01 for 25, 11 for
// 29.97 frames a second), the frames in BCD below them.
constexpr unsigned FRAME_RATE_SHIFT = 6;
constexpr unsigned FRAME_RATE_25 = 1;
constexpr unsigned FRAME_RATE_29_97 = 3;
constexpr unsigned FRAME_BCD_MASK = 0x3F;
constexpr unsigned BCD_TENS_SHIFT = 4;
constexpr unsigned BCD_UNITS_MASK = 0x0F;
constexpr unsigned BCD_BASE = 10;

constexpr std::size_t HOURS_OFFSET = 0;
constexpr std::size_t MINUTES_OFFSET = 1;
constexpr std::size_t SECONDS_OFFSET = 2;
constexpr std::size_t FRAMES_OFFSET = 3;

constexpr std::uint64_t SECONDS_PER_MINUTE = 60;
constexpr std::uint64_t SECONDS_PER_HOUR = 3600;
constexpr std::uint64_t MILLISECONDS_PER_SECOND = 1000;
constexpr std::uint64_t MILLISECONDS_PER_MINUTE = 60 * MILLISECONDS_PER_SECOND;
constexpr std::uint64_t MILLISECONDS_PER_HOUR = 60 * MILLISECONDS_PER_MINUTE;
// A frame lasts 40 ms at 25 frames a second, 1001/30 ms at 30000/1001.
constexpr std::uint64_t MILLISECONDS_PER_PAL_FRAME = 40;
constexpr std::uint64_t NTSC_FRAME_NUMERATOR = 1001;
constexpr std::uint64_t NTSC_FRAME_DENOMINATOR = 30;

int from_bcd(unsigned value) {
    return static_cast<int>((value >> BCD_TENS_SHIFT) * BCD_BASE + (value & BCD_UNITS_MASK));
}

}  // namespace

PlaybackTime read_playback_time(ByteView& view, std::size_t offset) {
    PlaybackTime time;
    time.hours = from_bcd(read_u8(view, offset + HOURS_OFFSET));
    time.minutes = from_bcd(read_u8(view, offset + MINUTES_OFFSET));
    time.seconds = from_bcd(read_u8(view, offset + SECONDS_OFFSET));
    const unsigned frame_byte = read_u8(view, offset + FRAMES_OFFSET);
    time.frames = from_bcd(frame_byte & FRAME_BCD_MASK);
    const unsigned rate = frame_byte >> FRAME_RATE_SHIFT;
    time.rate = rate == FRAME_RATE_25      ? FrameRate::pal_25
                : rate == FRAME_RATE_29_97 ? FrameRate::ntsc_29_97
                                           : FrameRate::unknown;
    return time;
}

void add_time(TimeSum& sum, const PlaybackTime& time) {
    sum.seconds += static_cast<std::uint64_t>(time.hours) * SECONDS_PER_HOUR +
                   static_cast<std::uint64_t>(time.minutes) * SECONDS_PER_MINUTE +
                   static_cast<std::uint64_t>(time.seconds);
    if (time.rate == FrameRate::pal_25) {
        sum.frames_25 += static_cast<std::uint64_t>(time.frames);
    } else if (time.rate == FrameRate::ntsc_29_97) {
        sum.frames_29_97 += static_cast<std::uint64_t>(time.frames);
    }
}

std::uint64_t milliseconds_of(const TimeSum& sum) {
    return sum.seconds * MILLISECONDS_PER_SECOND + sum.frames_25 * MILLISECONDS_PER_PAL_FRAME +
           sum.frames_29_97 * NTSC_FRAME_NUMERATOR / NTSC_FRAME_DENOMINATOR;
}

std::uint64_t milliseconds_of(const PlaybackTime& time) {
    TimeSum sum;
    add_time(sum, time);
    return milliseconds_of(sum);
}

std::string listing_clock(std::uint64_t milliseconds) {
    char text[sizeof "18446744073709551615:00:00.000"];  // the largest count of hours
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ".%03" PRIu64,
                  milliseconds / MILLISECONDS_PER_HOUR, milliseconds % MILLISECONDS_PER_HOUR / MILLISECONDS_PER_MINUTE,
                  milliseconds % MILLISECONDS_PER_MINUTE / MILLISECONDS_PER_SECOND,
                  milliseconds % MILLISECONDS_PER_SECOND);
    return text;
}

std::string chapter_clock(std::uint64_t milliseconds) {
    // Appended, not "literal" + string: GCC 12 at -O3 warns falsely of overlapping copies there.
    std::string clock = milliseconds < 10 * MILLISECONDS_PER_HOUR ? "0" : "";
    return clock += listing_clock(milliseconds);
}

}  // namespace packrift
