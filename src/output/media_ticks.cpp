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

Ticks ticks_plus(const Ticks& a, const Ticks& b) {
    // A whole number of ticks (a PTS; an audio frame at 48 kHz) keeps the
    // other's denominator, and its lowest terms: no divisor to look for.
    if (b.denominator == 1) {
        return Ticks{a.numerator + b.numerator * a.denominator, a.denominator};
    }
    if (a.denominator == 1) {
        return Ticks{a.numerator * b.denominator + b.numerator, b.denominator};
    }
    // Over the least common denominator: the clocks' periods are few and small.
    const std::int64_t common = std::lcm(a.denominator, b.denominator);
    return ticks_fraction(a.numerator * (common / a.denominator) + b.numerator * (common / b.denominator), common);
}

Ticks ticks_minus(const Ticks& a, const Ticks& b) {
    return ticks_plus(a, Ticks{-b.numerator, b.denominator});
}

bool ticks_before(const Ticks& a, const Ticks& b) {
    return ticks_minus(a, b).numerator < 0;
}

std::int64_t ticks_floor(const Ticks& time) {
    const std::int64_t quotient = time.numerator / time.denominator;
    return time.numerator % time.denominator < 0 ? quotient - 1 : quotient;
}

Ticks ticks_half(const Ticks& time) {
    return ticks_fraction(time.numerator, time.denominator * 2);
}

}  // namespace packrift
