#pragma once
// The audio outputs of a title whose timestamps restart: each output's
// frames are held back, in a queue of its own, until the video shows that
// no join can cut them (the video's latest PTS has passed them), so that
// at a join the ending part's frames past its video's end can still be
// passed over and the next part's first frames be put in place, passed
// over or preceded by silence. A stage writes itself out when full; it
// cannot hold frames back, so the queue lies before it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "demux/demux_common.hpp"
#include "io/file_io.hpp"
#include "output/audio_edges.hpp"
#include "output/media_ticks.hpp"
#include "output/title_clock.hpp"

namespace packrift {

// What an output was given by the cuts and fills of a title.
struct HoldReport {
    std::uint64_t passed_over = 0;  // frames, a frame cut short by its part's end included
    std::uint64_t filled = 0;       // frames of silence
    Ticks filled_time;
    Ticks missing;                  // gaps that could not be filled (DTS) or not believed (too long)
    int joins_missing = 0;
    EdgeCuts edges;                 // at the title's start and end
    std::uint64_t bytes = 0;        // what the output holds: silence in, a WAV's sample bytes
};

// Forgets every hold of an earlier run; the outputs whose slot is set in
// held are held from now on.
void start_audio_holds(const std::vector<bool>& held);

// Whether output's packets go to its hold.
bool audio_held(const Output& output);

// Takes output's packet whose substream header (or, for MPEG audio,
// payload) begins at start in sector, its payload span given, read in
// part. Returns what stage_payload would have: the bytes taken.
int hold_audio_packet(Output& output, const unsigned char* sector, std::size_t start, std::size_t payload_offset,
                      int length, std::optional<std::uint64_t> pts, std::size_t part, const TitleClock& clock);

// Writes the held frames that no join can cut any more: those of the part
// being read that lie half a frame or more before its video's latest PTS.
void release_audio_holds(const TitleClock& clock);

// At a join: part ended, its video at video_end on the title's clock. With
// cut, its frames from video_end less half a frame on and a frame cut short
// are passed over; without (a part whose video PTS run past its pictures),
// all is written as it came, and lead is how far the audio runs ahead of
// the title's clock from there. The next part's first frames are put in
// place as they come.
void end_part_of_audio_holds(std::size_t part, const Ticks& video_end, bool cut, const Ticks& lead,
                             const TitleClock& clock);

// Writes all that is held, as it came, when the clock stops being followed.
void flush_audio_holds();

// The title's end: a last frame cut short by it is passed over, the rest
// written as it came.
void end_audio_holds();

const HoldReport& hold_report(const Output& output);

}  // namespace packrift
