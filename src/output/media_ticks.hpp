#pragma once
// Durations on the 90 kHz clock of MPEG systems, kept exact as a fraction:
// an AC-3 frame at 44.1 kHz or a field at 29.97 Hz is not a whole number of
// ticks, and the errors of rounding each would add up over a title.

#include <cstdint>

namespace packrift {

inline constexpr std::int64_t TICKS_PER_SECOND = 90000;

// numerator / denominator ticks, the denominator positive, the fraction
// in lowest terms.
struct Ticks {
    std::int64_t numerator = 0;
    std::int64_t denominator = 1;

    friend bool operator==(const Ticks&, const Ticks&) = default;
};

// The fraction numerator / denominator in lowest terms; denominator > 0.
Ticks ticks_fraction(std::int64_t numerator, std::int64_t denominator);

// count units of unit each, exact.
Ticks ticks_times(const Ticks& unit, std::int64_t count);

// The whole ticks of duration, when it is whole.
bool whole_ticks(const Ticks& duration, std::int64_t& ticks);

// Sums, differences and comparisons of exact times; a time a whole number
// of ticks; the whole ticks at or below a time.
Ticks ticks_plus(const Ticks& a, const Ticks& b);
Ticks ticks_minus(const Ticks& a, const Ticks& b);
bool ticks_before(const Ticks& a, const Ticks& b);
inline Ticks whole(std::int64_t ticks) {
    return Ticks{ticks, 1};
}
std::int64_t ticks_floor(const Ticks& time);
// Half of a time, exact.
Ticks ticks_half(const Ticks& time);

}  // namespace packrift
