#pragma once
// Playback times as the IFO files write them: hours, minutes, seconds and
// frames in BCD, the frame rate in the frame byte's two high bits. Kept as
// these parts, so that times can be added exactly and turned into
// milliseconds once.

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/byte_view.hpp"

namespace packrift {

enum class FrameRate : std::uint8_t { unknown, pal_25, ntsc_29_97 };

struct PlaybackTime {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
    FrameRate rate = FrameRate::unknown;
};

// The four bytes of a time at offset in view.
PlaybackTime read_playback_time(ByteView& view, std::size_t offset);

// Whole seconds and frames at each rate kept apart, so that a sum of cell
// times is exact until it is turned into milliseconds.
struct TimeSum {
    std::uint64_t seconds = 0;
    std::uint64_t frames_25 = 0;
    std::uint64_t frames_29_97 = 0;
};

void add_time(TimeSum& sum, const PlaybackTime& time);

// The frames turned into milliseconds at 25 or 30000/1001 frames a second,
// rounded down, as lsdvd prints a time; frames of an unknown rate count nothing.
std::uint64_t milliseconds_of(const TimeSum& sum);
std::uint64_t milliseconds_of(const PlaybackTime& time);

// "1:32:05.233": hours as they come, minutes and seconds in two digits.
std::string listing_clock(std::uint64_t milliseconds);

// "01:32:05.233", as mkvmerge's simple chapter format writes a start.
std::string chapter_clock(std::uint64_t milliseconds);

}  // namespace packrift
