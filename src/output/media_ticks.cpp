#include "output/media_ticks.hpp"

#include <numeric>

namespace packrift {

Ticks ticks_fraction(std::int64_t numerator, std::int64_t denominator) {
    const std::int64_t divisor = std::gcd(numerator, denominator);
    if (divisor == 0) {
        return Ticks{};
    }
    return Ticks{numerator / divisor, denominator / divisor};
}

Ticks ticks_times(const Ticks& unit, std::int64_t count) {
    // Reduce count against the denominator first, so the product stays small.
    const std::int64_t divisor = std::gcd(count, unit.denominator);
    if (divisor == 0) {
        return Ticks{};
    }
    return Ticks{unit.numerator * (count / divisor), unit.denominator / divisor};
}

bool whole_ticks(const Ticks& duration, std::int64_t& ticks) {
    if (duration.denominator != 1) {
        return false;
    }
    ticks = duration.numerator;
    return true;
}

}  // namespace packrift
