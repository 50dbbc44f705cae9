#include "output/vobsub_index.hpp"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "demux/demux_common.hpp"

namespace packrift {

namespace {

constexpr const char* FIRST_LINE = "# VobSub index file, v7 (do not modify this line!)\n";

// ITU-R BT.601, 8-bit studio range: Y from 16, Cr and Cb about 128.
constexpr double LUMA_SCALE = 1.164;
constexpr double CR_TO_RED = 1.596;
constexpr double CR_TO_GREEN = 0.813;
constexpr double CB_TO_GREEN = 0.391;
constexpr double CB_TO_BLUE = 2.018;
constexpr int BLACK_LEVEL = 16;
constexpr int CHROMA_ZERO = 128;
constexpr long LARGEST_COMPONENT = 255;
constexpr unsigned BYTE_MASK = 0xFF;
constexpr unsigned Y_SHIFT = 16;
constexpr unsigned CR_SHIFT = 8;
constexpr unsigned RED_SHIFT = 16;
constexpr unsigned GREEN_SHIFT = 8;
// The grey scale of a palette the disc does not give: 00, 11, ... ff.
constexpr std::uint32_t GREY_STEP = 0x111111;

constexpr std::uint64_t MILLISECONDS_PER_SECOND = 1000;
constexpr std::uint64_t SECONDS_PER_MINUTE = 60;
constexpr std::uint64_t MINUTES_PER_HOUR = 60;

std::uint32_t component(double value) {
    return static_cast<std::uint32_t>(std::clamp(std::lround(value), 0L, LARGEST_COMPONENT));
}

// No line of the index comes near this size.
constexpr std::size_t LINE_SIZE = 96;

std::string palette_line(const std::optional<Palette>& palette) {
    std::string line = "palette: ";
    for (std::size_t i = 0; i < PALETTE_ENTRIES; ++i) {
        const std::uint32_t rgb = palette ? rgb_of((*palette)[i]) : static_cast<std::uint32_t>(i) * GREY_STEP;
        char colour[sizeof "ffffff"];
        std::snprintf(colour, sizeof colour, "%06" PRIx32, rgb);
        line += (i == 0 ? "" : ", ") + std::string(colour);
    }
    return line + "\n";
}

// The unit's time after the video's start, or nothing before it: the
// shorter way round the 33-bit clock decides which.
std::optional<std::uint64_t> milliseconds_after(std::uint64_t pts, std::optional<std::uint64_t> start) {
    if (!start) {
        return pts / PTS_TICKS_PER_MILLISECOND;
    }
    const std::uint64_t ahead = (pts - *start) % PTS_MODULUS;
    if (ahead > PTS_MODULUS / 2) {
        return std::nullopt;
    }
    return ahead / PTS_TICKS_PER_MILLISECOND;
}

std::string unit_line(std::uint64_t milliseconds, std::uint64_t position) {
    const std::uint64_t seconds = milliseconds / MILLISECONDS_PER_SECOND;
    const std::uint64_t minutes = seconds / SECONDS_PER_MINUTE;
    char line[LINE_SIZE];
    std::snprintf(line, sizeof line, "timestamp: %02" PRIu64 ":%02" PRIu64 ":%02" PRIu64 ":%03" PRIu64
                  ", filepos: %09" PRIx64 "\n",
                  minutes / MINUTES_PER_HOUR, minutes % MINUTES_PER_HOUR, seconds % SECONDS_PER_MINUTE,
                  milliseconds % MILLISECONDS_PER_SECOND, position);
    return line;
}

}  // namespace

std::uint32_t rgb_of(std::uint32_t ycrcb) {
    const int y = static_cast<int>(ycrcb >> Y_SHIFT & BYTE_MASK) - BLACK_LEVEL;
    const int cr = static_cast<int>(ycrcb >> CR_SHIFT & BYTE_MASK) - CHROMA_ZERO;
    const int cb = static_cast<int>(ycrcb & BYTE_MASK) - CHROMA_ZERO;
    const std::uint32_t red = component(LUMA_SCALE * y + CR_TO_RED * cr);
    const std::uint32_t green = component(LUMA_SCALE * y - CR_TO_GREEN * cr - CB_TO_GREEN * cb);
    const std::uint32_t blue = component(LUMA_SCALE * y + CB_TO_BLUE * cb);
    return red << RED_SHIFT | green << GREEN_SHIFT | blue;
}

VobSubIndex vobsub_index(const VobSubFacts& facts, const std::vector<SubpictureUnit>& units,
                         std::optional<std::uint64_t> video_first_pts) {
    VobSubIndex index;
    index.text = FIRST_LINE;
    index.text += "size: " + std::to_string(facts.width) + "x" + std::to_string(facts.height) + "\n";
    index.text += palette_line(facts.palette);
    index.text += "langidx: " + std::to_string(facts.number) + "\n";
    index.text += "id: " + facts.language + ", index: " + std::to_string(facts.number) + "\n";
    for (const SubpictureUnit& unit : units) {
        const std::optional<std::uint64_t> milliseconds = milliseconds_after(unit.pts, video_first_pts);
        index.before_start += milliseconds ? 0 : 1;
        index.text += unit_line(milliseconds.value_or(0), unit.position);
    }
    return index;
}

}  // namespace packrift
