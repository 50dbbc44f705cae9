#pragma once
// The clock of a title read in play order: where each part (the stretch
// between two places where the title's timestamps restart) lies on it.
// The title's clock starts at the first part's video start, and each part's
// video starts where the part before it ended by its picture count.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "output/media_ticks.hpp"

namespace packrift {

struct PartClock {
    // The part's video start on its own PTS clock: its first video PTS in
    // stream order, or until that is met the start time of its first VOBU.
    bool started = false;
    bool provisional = false;
    std::uint64_t start_pts = 0;
    Ticks video_start;  // where that start lies on the title's clock
    bool has_highest = false;
    Ticks highest;      // the latest video PTS of the part so far, on the title's clock
};

struct TitleClock {
    std::vector<PartClock> parts;
    // Cuts and fills follow the clock only while every part's video could
    // be counted; from a part that could not, the rest is left as it comes.
    bool following = false;
};

// pts of part, after ticks later, on the title's clock: the PTS difference
// to the part's start taken the shorter way round the 33-bit clock.
Ticks title_time(const PartClock& part, std::uint64_t pts, const Ticks& after);

// Whether the times of part are known yet.
inline bool part_started(const TitleClock& clock, std::size_t part) {
    return part < clock.parts.size() && clock.parts[part].started;
}

}  // namespace packrift
