#pragma once
// A set of string positions as W 64-bit words: the bit-parallel counting of
// the measures keeps one per letter.

#include <bit>
#include <cstdint>

namespace toka::detail {

// A set of string positions 0..64W-1.
template <int W>
struct PositionSet {
    std::uint64_t w[W];

    void clear() {
        for (int k = 0; k < W; ++k) w[k] = 0;
    }
    void set(int pos) { w[pos >> 6] |= std::uint64_t{1} << (pos & 63); }
    // Bit k of the result is bit k + s of this set.
    PositionSet shiftedDown(int s) const {
        PositionSet r;
        const int q = s >> 6, bit = s & 63;
        for (int k = 0; k < W; ++k) {
            const std::uint64_t lo = k + q < W ? w[k + q] : 0;
            const std::uint64_t hi = k + q + 1 < W ? w[k + q + 1] : 0;
            r.w[k] = bit == 0 ? lo : (lo >> bit) | (hi << (64 - bit));
        }
        return r;
    }
    PositionSet operator&(const PositionSet& o) const {
        PositionSet r;
        for (int k = 0; k < W; ++k) r.w[k] = w[k] & o.w[k];
        return r;
    }
    PositionSet& operator&=(const PositionSet& o) {
        for (int k = 0; k < W; ++k) w[k] &= o.w[k];
        return *this;
    }
    bool any() const {
        std::uint64_t acc = 0;
        for (int k = 0; k < W; ++k) acc |= w[k];
        return acc != 0;
    }
    int count() const {
        int n = 0;
        for (int k = 0; k < W; ++k) n += std::popcount(w[k]);
        return n;
    }
    int lowest() const {
        for (int k = 0; k < W; ++k)
            if (w[k]) return k * 64 + std::countr_zero(w[k]);
        return -1;
    }
};

} // namespace toka::detail
