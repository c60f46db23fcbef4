#pragma once
// The six-byte real: the storage form of every weight and every score.
//
// Layout of the six bytes: byte 0 is the biased exponent e (bias 129; e = 0
// is the value 0); bytes 1..5 hold a 39-bit fraction f, least significant
// byte first; bit 7 of byte 5 is the sign.  Value = (-1)^s (1 + f/2^39) 2^(e-129).
//
// Storing a working-precision (x87 80-bit) value rounds its 64-bit significand
// to 40 bits by adding the most significant discarded bit (ties away from
// zero); a carry out of the significand raises the exponent; a value whose
// biased exponent would be 0 or less is stored as 0.  Loading is exact.
//
// Every 40-bit significand with such an exponent fits a double exactly, so
// the value is held as a double: loads, stores and comparisons stay cheap.

#include <array>
#include <cstdint>
#include <limits>

static_assert(std::numeric_limits<long double>::digits == 64, "the similarity engine needs the x87 80-bit long double: "
                                                              "its scores would silently differ with any other type");

namespace toka {

class Real48 {
public:
    constexpr Real48() = default;

    /// Rounds a working-precision value to the six-byte real (see above).
    /// Values above the six-byte range (2^127) are an overflow: they never
    /// arise from weights and similarities and are clamped to the largest.
    static Real48 fromExtended(long double value);

    /// Reads the six-byte layout; exact.
    static Real48 fromBytes(const std::array<std::uint8_t, 6>& bytes);

    /// The six bytes of the layout, byte 0 first.
    std::array<std::uint8_t, 6> bytes() const;

    /// Exact load into working precision.
    constexpr long double value() const { return m_value; }

    friend constexpr bool operator==(Real48 a, Real48 b) { return a.m_value == b.m_value; }
    friend constexpr auto operator<=>(Real48 a, Real48 b) { return a.m_value <=> b.m_value; }

private:
    explicit constexpr Real48(double v) : m_value(v) {}
    double m_value = 0.0;
};

} // namespace toka
