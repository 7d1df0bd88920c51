#pragma once

#include <cmath>
#include <compare>
#include <cstdint>
#include <limits>

namespace zorblinth {

// A signed 128-bit integer, as much of one as setting a stroke up needs: products of two 64-bit
// values, sums, comparisons and floor division by a positive 64-bit divisor. Products of a
// 33-bit line extent with a 33-bit row offset need more than 64 bits; they occur only while a
// stroke is set up, never per pixel, and in practice almost always fit in 64 bits, where
// division takes the processor's own instruction.
class Int128 {
public:
    constexpr Int128(std::int64_t value = 0)
        : high_(value < 0 ? ~std::uint64_t{0} : 0), low_(static_cast<std::uint64_t>(value)) {}

    static constexpr Int128 product(std::int64_t a, std::int64_t b) {
        const bool negative = (a < 0) != (b < 0);
        const Int128 magnitude = unsignedProduct(magnitudeOf(a), magnitudeOf(b));
        return negative ? -magnitude : magnitude;
    }

    friend constexpr Int128 operator+(Int128 a, Int128 b) {
        const std::uint64_t low = a.low_ + b.low_;
        return Int128(a.high_ + b.high_ + (low < a.low_ ? 1 : 0), low);
    }
    friend constexpr Int128 operator-(Int128 a) { return Int128(~a.high_, ~a.low_) + Int128(1); }
    friend constexpr Int128 operator-(Int128 a, Int128 b) { return a + -b; }

    friend constexpr std::strong_ordering operator<=>(Int128 a, Int128 b) {
        if (a.high_ != b.high_)
            return static_cast<std::int64_t>(a.high_) <=> static_cast<std::int64_t>(b.high_);
        return a.low_ <=> b.low_;
    }
    friend constexpr bool operator==(Int128, Int128) = default;

    constexpr bool negative() const { return (high_ & signBit) != 0; }
    constexpr bool fitsIn64Bits() const {
        return high_ == (low_ & signBit ? ~std::uint64_t{0} : 0);
    }
    // Only where fitsIn64Bits().
    constexpr std::int64_t low64() const { return static_cast<std::int64_t>(low_); }

    double toDouble() const {
        const Int128 magnitude = negative() ? -*this : *this;
        const double value = std::ldexp(static_cast<double>(magnitude.high_), 64) +
                             static_cast<double>(magnitude.low_);
        return negative() ? -value : value;
    }

    // floor(dividend / divisor) for a positive divisor, with the remainder in [0, divisor). The
    // quotient must fit in 64 bits.
    friend constexpr std::int64_t floorDivide(Int128 dividend, std::int64_t divisor,
                                              std::int64_t& remainder) {
        if (dividend.fitsIn64Bits()) {
            const std::int64_t value = dividend.low64();
            std::int64_t quotient = value / divisor;
            remainder = value % divisor;
            if (remainder < 0) {
                remainder += divisor;
                --quotient;
            }
            return quotient;
        }
        // Long division of the magnitude, a bit at a time: rare enough not to matter.
        const Int128 magnitude = dividend.negative() ? -dividend : dividend;
        const auto unsignedDivisor = static_cast<std::uint64_t>(divisor);
        std::uint64_t quotientHigh = 0, quotientLow = 0, rest = 0;
        for (int bit = 127; bit >= 0; --bit) {
            const std::uint64_t word = bit >= 64 ? magnitude.high_ : magnitude.low_;
            // rest < divisor < 2^63, so doubling it cannot overflow.
            rest = rest << 1 | (word >> (bit % 64) & 1);
            if (rest >= unsignedDivisor) {
                rest -= unsignedDivisor;
                (bit >= 64 ? quotientHigh : quotientLow) |= std::uint64_t{1} << (bit % 64);
            }
        }
        Int128 quotient(quotientHigh, quotientLow);
        if (dividend.negative()) {
            quotient = -quotient;
            if (rest != 0) {
                quotient = quotient - Int128(1);
                rest = unsignedDivisor - rest;
            }
        }
        remainder = static_cast<std::int64_t>(rest);
        return quotient.low64();
    }

private:
    static constexpr std::uint64_t signBit = std::uint64_t{1} << 63;

    constexpr Int128(std::uint64_t high, std::uint64_t low) : high_(high), low_(low) {}

    static constexpr std::uint64_t magnitudeOf(std::int64_t value) {
        const auto bits = static_cast<std::uint64_t>(value);
        return value < 0 ? ~bits + 1 : bits;
    }

    static constexpr Int128 unsignedProduct(std::uint64_t a, std::uint64_t b) {
        constexpr std::uint64_t half = 0xFFFFFFFFu;
        const std::uint64_t lowLow = (a & half) * (b & half);
        const std::uint64_t highLow = (a >> 32) * (b & half);
        const std::uint64_t lowHigh = (a & half) * (b >> 32);
        const std::uint64_t highHigh = (a >> 32) * (b >> 32);
        const std::uint64_t middle = (lowLow >> 32) + (highLow & half) + (lowHigh & half);
        return Int128(highHigh + (highLow >> 32) + (lowHigh >> 32) + (middle >> 32),
                      (middle << 32) | (lowLow & half));
    }

    std::uint64_t high_;
    std::uint64_t low_;
};

// The largest k with k * k <= value, for a value from 0 to 2^124.
inline std::int64_t squareRootFloor(Int128 value) {
    // The double's estimate is off by at most one or two either way; exact products settle it.
    auto root = static_cast<std::int64_t>(std::sqrt(value.toDouble()));
    while (root > 0 && Int128::product(root, root) > value)
        --root;
    while (Int128::product(root + 1, root + 1) <= value)
        ++root;
    return root;
}

} // namespace zorblinth
