#pragma once
// The progress line: packs handled, average rate, kilobytes accepted for
// output and time elapsed, rewritten in place every 100 packs.

#include <cstdint>

#include "demux/pack_loop.hpp"

namespace packrift {

inline constexpr std::uint32_t PROGRESS_EVERY = 100;
inline constexpr int HMS_TEXT_SIZE = 9;  // "HH:MM:SS" and its terminating zero

extern std::uint32_t pack_count;
extern std::uint64_t out_bytes;  // wide enough for a whole dual-layer disc

// Seconds since an arbitrary fixed point, at millisecond resolution, from a
// clock that never goes back.
double wall_seconds();

// Lets tests drive the clock; null restores wall_seconds.
void set_progress_clock(double (*clock)());

// Writes seconds as HH:MM:SS, hours wrapping at 24, into text (HMS_TEXT_SIZE bytes).
void format_hms(int seconds, char* text);

// Room for a rate of up to 16 digits before the point, one after it, and
// the terminating zero: far beyond any rate a run can reach.
inline constexpr int RATE_TEXT_SIZE = 19;

// Writes the rate as printf's "%0.1f" shows it into text (RATE_TEXT_SIZE
// bytes) and returns true; false, with nothing written, for a rate exactly
// half way between two tenths and for one that is negative (a negative zero
// too) or too large, which printf is left to show.
bool format_rate(double rate, char* text);

// Prints the progress line from the counters and the start of the run.
void report_progress();

// Ends the last progress line with a line feed, when one was printed, so
// that what follows starts on a line of its own.
void end_progress_line();

// The hooks of the progress report in the pack loop.
PackLoopHooks progress_hooks();

}  // namespace packrift
