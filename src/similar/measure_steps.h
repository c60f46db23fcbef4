#pragma once
// The steps that both measures share, written once over a window counter.
// The counter answers how many windows the inner string X (length a) and the
// scanned string Y (length b) have in common; the steps turn the counts into
// a score with the design's constants, evaluation order and rounding points.
// measures.cpp runs them over a bit-parallel counter, measures_reference.cpp
// over the literal greedy matching; both must agree bit for bit.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

#include "similar/real48.h"

namespace toka::detail {

/// 1/3 in working precision: the nearest extended value, slightly above 1/3.
/// The score multiplies by it; it never divides by 3.
inline constexpr long double kThird = 1.0L / 3.0L;

/// Counter concept:
///   int bigramPresence()  c1: positions i of X whose bigram occurs in Y
///   int windows(int L)    greedy matches of windows of length L, all letters
///                         equal; called in the order L = 2, 1, 3, 4, ...
///   int endpoints(int L)  greedy matches of windows of length L whose first
///                         and last letters are equal
/// fuzzy selects the length-independent denominators (query = X always).
/// holdsUpTo, when given, gets the smallest value an early exit compared
/// with the cut-off: against any cut-off up to it the same score comes out,
/// against a higher one 0.
template <class Counter>
long double runMeasure(Counter& count, int a, int b, bool fuzzy, Real48 queryWeight, Real48 candidateWeight,
                       Real48 cutOff, long double* holdsUpTo = nullptr) {
    const long double t = cutOff.value();
    long double lowest = std::numeric_limits<long double>::infinity();
    // An exit turns the name away when its value is below the cut-off.
    auto below = [&](long double value) {
        lowest = std::min(lowest, value);
        if (holdsUpTo) *holdsUpTo = lowest;
        return value < t;
    };
    if (holdsUpTo) *holdsUpTo = lowest;
    // Early exits 1 and 2 compare an unrounded extended quotient with T.
    auto bigramRatio = [&](int c) -> long double {
        return fuzzy ? static_cast<long double>(c) / static_cast<long double>(a - 1)
                     : static_cast<long double>(c) / static_cast<long double>(a + b - c - 2);
    };

    const int c1 = count.bigramPresence();
    if (c1 == 0 || below(bigramRatio(c1))) return 0.0L;

    const int c2 = count.windows(2);
    Real48 match = Real48::fromExtended(c2 * 0.5L);
    if (below(bigramRatio(c2))) return 0.0L;

    const int c3 = count.windows(1);
    match = Real48::fromExtended(match.value() + c3);

    // Longer windows, stopping after the first length without a match (or
    // when the scanned string has no window that long).
    for (int L = 3; L <= a && L <= b; ++L) {
        const int cL = count.windows(L);
        match = Real48::fromExtended(match.value() + static_cast<long double>(cL) / L);
        if (cL == 0) break;
    }

    const Real48 r1 =
        fuzzy ? Real48::fromExtended(match.value() / queryWeight.value())
              : Real48::fromExtended(match.value() / ((queryWeight.value() + candidateWeight.value()) - match.value()));
    if (below(r1.value())) return 0.0L;

    // End points: every length from 3 to a, no early stop.
    int c5 = 0;
    for (int L = 3; L <= a && L <= b; ++L) c5 += count.endpoints(L);

    auto halfPairs = [](int n) { // (n - 1) * ((n - 2) * 0.5): windows of lengths 3..n
        return static_cast<long double>(n - 1) * (static_cast<long double>(n - 2) * 0.5L);
    };
    const Real48 r2 = fuzzy ? Real48::fromExtended(static_cast<long double>(c5) / halfPairs(a))
                            : Real48::fromExtended(static_cast<long double>(c5)
                                                   / (halfPairs(a) + halfPairs(b) - static_cast<long double>(c5)));

    return Real48::fromExtended((2.0L * r1.value() + r2.value()) * kThird).value();
}

inline int clampLength(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, 255)); }

/// The roles of the length-dependent measure: the shorter string is the
/// inner one X, on equal lengths the candidate.  score(x, a, y, b) scores.
template <class Score>
long double similarRoles(std::u32string_view query, std::u32string_view candidate, Score score) {
    const int lq = clampLength(query.size()), lc = clampLength(candidate.size());
    if (lq < lc) return score(query.data(), lq, candidate.data(), lc);
    return score(candidate.data(), lc, query.data(), lq);
}

/// The roles of the length-independent measure: X is always the query; only
/// its first queryLen letters and the candidate's first candidateLen take part.
template <class Score>
long double fuzzyRoles(std::u32string_view query, std::u32string_view candidate, std::uint16_t queryLen,
                       std::uint16_t candidateLen, Score score) {
    const int lq = std::min(clampLength(query.size()), static_cast<int>(queryLen));
    const int lc = std::min(clampLength(candidate.size()), static_cast<int>(candidateLen));
    return score(query.data(), lq, candidate.data(), lc);
}

} // namespace toka::detail
