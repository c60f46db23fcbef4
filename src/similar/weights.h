#pragma once
// The weight table W[1..255]: W[n] is the total weight of all windows of an
// n-letter string when a window of length c weighs 1/c:
//     W[n] = sum over c = 1..n of (n - c + 1) / c,
// accumulated in the order c = 1, 2, ..., n, each quotient in working
// precision, the running sum rounded to a six-byte real after every addition.
// Built this way, the match weight of two equal strings comes out bit for bit
// equal to their weight, so that they score exactly 1.  W[0] is 0 (no string
// that short is ever scored).

#include <array>

#include "similar/real48.h"

namespace toka {

using WeightTable = std::array<Real48, 256>;

/// Builds W[0..255] (W[0] = 0).
WeightTable BuildWeights();

} // namespace toka
