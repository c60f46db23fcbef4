// The two similarity measures.
//
// Both count the windows (runs of 1, 2, 3, ... consecutive letters) that the
// query and the candidate have in common, and how many of the windows of
// length 3 or more agree in their first and last letters.  A matched window
// of length L weighs 1/L, so the match weight A is a weighted count of common
// windows, and Weights[n] is the same count for all windows of an n-letter
// string.  The score blends two ratios:
//
//     R1 = matched window weight / available window weight
//     R2 = matched end-point pairs / available end-point pairs
//     score = (2 R1 + R2) / 3
//
// "Fuzzy" (length-independent) divides by what the query alone holds, so
// letters of the candidate that match nothing cost nothing: any candidate
// containing the query scores exactly 1.  "Similar" (length-dependent)
// divides by the union of both strings (Jaccard style), so only equal strings
// score 1 and every extra letter costs.  Worked example (Similar, HELLO
// against HELP): the bigrams HE, EL match (A = 1), the letters H, E, L match
// (A = 4), the window HEL matches (A = 4.333333), nothing of length 4, so
// R1 = 4.333333 / (8.7 + 6.416667 - 4.333333) = 0.401855; only HEL pairs its
// end points, so R2 = 1 / (3 + 6 - 1) = 0.125; the score is 0.309570.
//
// Three early exits return 0 as soon as a ratio falls below the list's
// cut-off: the bigram presence ratio, the bigram match ratio and R1.  Once the
// list has overflowed most names leave after the first, cheap pass.
//
// Counting.  The design describes greedy matching: for each window of the
// scanned string, take the first free equal window of the inner string.  Its
// count equals, for every distinct window, the smaller of its number of
// occurrences in either string.  This file counts that way, bit-parallel: for
// every distinct letter of the inner string X a bit set holds its positions in
// X and in Y; the positions where the window X[i..i+L) occurs are the AND of
// the letters' sets, each shifted by the letter's offset.  Growing L by one is
// one more AND per window, and a window counts once, at its first occurrence
// in X (the lowest bit of its set).  A pass over all lengths costs O(a^2)
// word operations instead of the literal O(a^2 b) comparisons; the literal
// version lives in measures_reference.cpp and both agree bit for bit.

#include "similar/measures.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "similar/measure_steps.h"
#include "similar/position_set.h"

namespace toka {

namespace {

using detail::PositionSet;

constexpr int kMaxLen = 255;

template <int W>
class BitCounter {
public:
    BitCounter(const char32_t* x, int a, const char32_t* y, int b) : m_a(a) {
        // Give every distinct letter of X a small id; letters of Y that X does
        // not hold can never match and are left out.
        std::uint8_t latin[256]; // id + 1 of a Latin-1 letter, 0 when absent
        std::memset(latin, 0, sizeof latin);
        char32_t wide[kMaxLen];
        std::uint8_t wideId[kMaxLen];
        int nWide = 0;
        auto find = [&](char32_t c) -> int {
            if (c < 256) return latin[c] - 1;
            for (int k = 0; k < nWide; ++k)
                if (wide[k] == c) return wideId[k];
            return -1;
        };
        for (int i = 0; i < a; ++i) {
            int id = find(x[i]);
            if (id < 0) {
                id = m_letters++;
                if (x[i] < 256) latin[x[i]] = static_cast<std::uint8_t>(id + 1);
                else {
                    wide[nWide] = x[i];
                    wideId[nWide++] = static_cast<std::uint8_t>(id);
                }
                m_inX[id].clear();
                m_inY[id].clear();
            }
            m_id[i] = static_cast<std::uint8_t>(id);
            m_inX[id].set(i);
        }
        for (int j = 0; j < b; ++j) {
            const int id = find(y[j]);
            if (id >= 0) m_inY[id].set(j);
        }
    }

    int bigramPresence() const {
        int c1 = 0;
        for (int i = 0; i + 1 < m_a; ++i)
            if ((m_inY[m_id[i]] & m_inY[m_id[i + 1]].shiftedDown(1)).any()) ++c1;
        return c1;
    }

    int windows(int L) {
        if (L == 1) {
            int c = 0;
            for (int id = 0; id < m_letters; ++id) c += std::min(m_inX[id].count(), m_inY[id].count());
            return c;
        }
        // Positions of the window X[i..i+L) in X and in Y, grown from L - 1.
        for (int i = 0; i + L <= m_a; ++i) {
            if (L == 2) {
                m_atX[i] = m_inX[m_id[i]];
                m_atY[i] = m_inY[m_id[i]];
            }
            const int last = m_id[i + L - 1];
            m_atX[i] &= m_inX[last].shiftedDown(L - 1);
            m_atY[i] &= m_inY[last].shiftedDown(L - 1);
        }
        int c = 0;
        for (int i = 0; i + L <= m_a; ++i)
            if (m_atX[i].lowest() == i) c += std::min(m_atX[i].count(), m_atY[i].count());
        return c;
    }

    int endpoints(int L) const {
        int c = 0;
        for (int i = 0; i + L <= m_a; ++i) {
            const int first = m_id[i], last = m_id[i + L - 1];
            const PositionSet<W> y = m_inY[first] & m_inY[last].shiftedDown(L - 1);
            if (!y.any()) continue;
            const PositionSet<W> x = m_inX[first] & m_inX[last].shiftedDown(L - 1);
            if (x.lowest() == i) c += std::min(x.count(), y.count());
        }
        return c;
    }

private:
    int m_a;
    int m_letters = 0;
    std::uint8_t m_id[kMaxLen];
    PositionSet<W> m_inX[kMaxLen]; // positions of each letter in X
    PositionSet<W> m_inY[kMaxLen]; // ... and in Y
    PositionSet<W> m_atX[kMaxLen]; // positions of the current-length window at i, in X
    PositionSet<W> m_atY[kMaxLen]; // ... and in Y
};

long double measure(const char32_t* x, int a, const char32_t* y, int b, bool fuzzy, Real48 queryWeight,
                    Real48 candidateWeight, Real48 cutOff, long double* holdsUpTo) {
    if (a < 3 || b < 3) return 0.0L;
    if (a <= 64 && b <= 64) {
        BitCounter<1> counter(x, a, y, b);
        return detail::runMeasure(counter, a, b, fuzzy, queryWeight, candidateWeight, cutOff, holdsUpTo);
    }
    BitCounter<4> counter(x, a, y, b);
    return detail::runMeasure(counter, a, b, fuzzy, queryWeight, candidateWeight, cutOff, holdsUpTo);
}

} // namespace

long double SimilarMeasure(std::u32string_view query, std::u32string_view candidate, Real48 queryWeight,
                           Real48 candidateWeight, Real48 cutOff, long double* holdsUpTo) {
    return detail::similarRoles(query, candidate, [&](const char32_t* x, int a, const char32_t* y, int b) {
        return measure(x, a, y, b, false, queryWeight, candidateWeight, cutOff, holdsUpTo);
    });
}

Real48 FuzzyMeasureMax() {
    // runMeasure's last step with both ratios at 1.
    return Real48::fromExtended((2.0L * 1.0L + 1.0L) * detail::kThird);
}

Real48 SimilarMeasureMax(int a, int b, Real48 queryWeight, Real48 candidateWeight, Real48 innerWeight) {
    if (a < 3 || b < 3) return Real48();
    // runMeasure's ratios with the counts at their largest.
    const long double match = innerWeight.value();
    const long double rest = (queryWeight.value() + candidateWeight.value()) - match;
    if (!(rest > match)) return Real48::fromExtended(1e30L);
    const Real48 r1 = Real48::fromExtended(match / rest);
    auto halfPairs = [](int n) { return static_cast<long double>(n - 1) * (static_cast<long double>(n - 2) * 0.5L); };
    const long double pairs = halfPairs(std::min(a, b));
    const Real48 r2 = Real48::fromExtended(pairs / (halfPairs(a) + halfPairs(b) - pairs));
    return Real48::fromExtended((2.0L * r1.value() + r2.value()) * detail::kThird);
}

long double FuzzyMeasure(std::u32string_view query, std::u32string_view candidate, std::uint16_t queryLen,
                         Real48 queryWeight, Real48 cutOff, std::uint16_t candidateLen, long double* holdsUpTo) {
    return detail::fuzzyRoles(query, candidate, queryLen, candidateLen,
                              [&](const char32_t* x, int a, const char32_t* y, int b) {
                                  return measure(x, a, y, b, true, queryWeight, Real48(), cutOff, holdsUpTo);
                              });
}

} // namespace toka
