#pragma once
// The .idx beside a VobSub .sub: the picture size, the palette in RGB, the
// track's language and substream, and a line per subpicture unit with its
// time and where its first pack lies in the .sub.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disc/ifo_tables.hpp"
#include "output/subpicture_units.hpp"

namespace packrift {

struct VobSubFacts {
    int width = 0;
    int height = 0;
    std::optional<Palette> palette;  // as the program chain holds it; none: a grey scale
    std::string language;            // two letters, or "--"
    int number = 0;                  // of the substream after 0x20, as -sub gives it
};

// An entry of 0, Y, Cr, Cb as 0xRRGGBB, by ITU-R BT.601 for 8-bit studio range.
std::uint32_t rgb_of(std::uint32_t ycrcb);

struct VobSubIndex {
    std::string text;
    std::size_t before_start = 0;  // units that would lie before the video's start
};

// The whole .idx. Times are each unit's PTS less the video's first PTS
// (the PTS itself without video), in milliseconds rounded down; a unit
// before the video's start is put at 0 and counted.
VobSubIndex vobsub_index(const VobSubFacts& facts, const std::vector<SubpictureUnit>& units,
                         std::optional<std::uint64_t> video_first_pts);

}  // namespace packrift
