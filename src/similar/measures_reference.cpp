// The measures with the greedy window matching exactly as described: for each
// window of the scanned string Y in order, the inner string X is searched
// upward for the first free window that meets the rule, which is then taken.
// Kept as the reference that the bit-parallel counting is tested against and
// as the benchmark's baseline.

#include <algorithm>

#include "similar/measure_steps.h"
#include "similar/measures.h"

namespace toka {

namespace {

class LiteralCounter {
public:
    LiteralCounter(const char32_t* x, int a, const char32_t* y, int b) : m_x(x), m_a(a), m_y(y), m_b(b) {}

    int bigramPresence() const {
        int c1 = 0;
        for (int i = 0; i + 1 < m_a; ++i) {
            for (int j = 0; j + 1 < m_b; ++j) {
                if (m_x[i] == m_y[j] && m_x[i + 1] == m_y[j + 1]) {
                    ++c1;
                    break;
                }
            }
        }
        return c1;
    }

    int windows(int L) const {
        return greedy(L, [&](int k, int j) {
            for (int t = 0; t < L; ++t)
                if (m_x[k + t] != m_y[j + t]) return false;
            return true;
        });
    }

    int endpoints(int L) const {
        return greedy(L, [&](int k, int j) { return m_x[k] == m_y[j] && m_x[k + L - 1] == m_y[j + L - 1]; });
    }

private:
    template <class Rule>
    int greedy(int L, Rule rule) const {
        bool taken[256] = {};
        int matches = 0;
        for (int j = 0; j + L <= m_b; ++j) {
            for (int k = 0; k + L <= m_a; ++k) {
                if (!taken[k] && rule(k, j)) {
                    taken[k] = true;
                    ++matches;
                    break;
                }
            }
        }
        return matches;
    }

    const char32_t* m_x;
    int m_a;
    const char32_t* m_y;
    int m_b;
};

long double literal(const char32_t* x, int a, const char32_t* y, int b, bool fuzzy, Real48 queryWeight,
                    Real48 candidateWeight, Real48 cutOff) {
    if (a < 3 || b < 3) return 0.0L;
    LiteralCounter counter(x, a, y, b);
    return detail::runMeasure(counter, a, b, fuzzy, queryWeight, candidateWeight, cutOff);
}

} // namespace

long double SimilarMeasureReference(std::u32string_view query, std::u32string_view candidate, Real48 queryWeight,
                                    Real48 candidateWeight, Real48 cutOff) {
    return detail::similarRoles(query, candidate, [&](const char32_t* x, int a, const char32_t* y, int b) {
        return literal(x, a, y, b, false, queryWeight, candidateWeight, cutOff);
    });
}

long double FuzzyMeasureReference(std::u32string_view query, std::u32string_view candidate, std::uint16_t queryLen,
                                  Real48 queryWeight, Real48 cutOff, std::uint16_t candidateLen) {
    return detail::fuzzyRoles(query, candidate, queryLen, candidateLen,
                              [&](const char32_t* x, int a, const char32_t* y, int b) {
                                  return literal(x, a, y, b, true, queryWeight, Real48(), cutOff);
                              });
}

} // namespace toka
