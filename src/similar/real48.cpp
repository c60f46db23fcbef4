#include "similar/real48.h"

#include <cmath>
#include <cstring>

namespace toka {

namespace {

// Bit layout of the x87 extended type as stored by long double on x86-64.
struct ExtendedBits {
    std::uint64_t significand; // explicit leading bit at bit 63
    std::uint16_t signExponent;
};

constexpr int kExtendedBias = 16383;
constexpr int kRealBias = 129;
constexpr int kDiscardedBits = 64 - 40;

} // namespace

Real48 Real48::fromExtended(long double value) {
    ExtendedBits bits{};
    std::memcpy(&bits, &value, 10);
    const bool negative = (bits.signExponent & 0x8000u) != 0;
    const int biasedExtended = bits.signExponent & 0x7fff;
    // Zero, extended denormals (far below the six-byte range) and NaN all
    // store as 0; no weight or similarity is ever any of them but 0.
    if (biasedExtended == 0 || value != value || (bits.significand >> 63) == 0) return Real48();
    int exponent = biasedExtended - kExtendedBias;

    std::uint64_t significand = bits.significand + (std::uint64_t{1} << (kDiscardedBits - 1));
    if (significand < bits.significand) { // carry out of the significand
        significand = std::uint64_t{1} << 63;
        ++exponent;
    }
    significand &= ~((std::uint64_t{1} << kDiscardedBits) - 1);

    const int biased = exponent + kRealBias;
    if (biased <= 0) return Real48();
    double magnitude;
    if (biased > 255) // overflow: never reached by weights and scores
        magnitude = std::ldexp(static_cast<double>((std::uint64_t{1} << 40) - 1), 255 - kRealBias - 39);
    else // 40 significant bits: exact in a double
        magnitude = std::ldexp(static_cast<double>(significand), exponent - 63);
    return Real48(negative ? -magnitude : magnitude);
}

Real48 Real48::fromBytes(const std::array<std::uint8_t, 6>& bytes) {
    if (bytes[0] == 0) return Real48();
    std::uint64_t fraction = 0;
    for (int i = 5; i >= 1; --i) fraction = (fraction << 8) | bytes[static_cast<std::size_t>(i)];
    const bool negative = (fraction >> 39) & 1;
    fraction &= (std::uint64_t{1} << 39) - 1;
    const double magnitude =
        std::ldexp(static_cast<double>((std::uint64_t{1} << 39) | fraction), bytes[0] - kRealBias - 39);
    return Real48(negative ? -magnitude : magnitude);
}

std::array<std::uint8_t, 6> Real48::bytes() const {
    std::array<std::uint8_t, 6> out{};
    if (m_value == 0.0) return out;
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(m_value), &exponent);             // [0.5, 1)
    const auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 40)); // [2^39, 2^40)
    std::uint64_t stored = significand & ((std::uint64_t{1} << 39) - 1);
    if (m_value < 0) stored |= std::uint64_t{1} << 39;
    out[0] = static_cast<std::uint8_t>(exponent - 1 + kRealBias);
    for (std::size_t i = 1; i <= 5; ++i) {
        out[i] = static_cast<std::uint8_t>(stored & 0xff);
        stored >>= 8;
    }
    return out;
}

} // namespace toka
