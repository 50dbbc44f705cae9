#include "output/title_clock.hpp"

#include "demux/demux_common.hpp"

namespace packrift {

Ticks title_time(const PartClock& part, std::uint64_t pts, const Ticks& after) {
    const std::uint64_t ahead = (pts - part.start_pts) % PTS_MODULUS;
    const auto signed_ahead = ahead >= PTS_MODULUS / 2 ? static_cast<std::int64_t>(ahead) - static_cast<std::int64_t>(PTS_MODULUS)
                                                       : static_cast<std::int64_t>(ahead);
    return ticks_plus(ticks_plus(part.video_start, whole(signed_ahead)), after);
}

}  // namespace packrift
