#include "similar/bigram_filter.h"

#include <algorithm>

#include "similar/text.h"

namespace toka {

using detail::PositionSet;

namespace {

constexpr int kSignatureBits = 56;

std::uint64_t pairBit(char32_t a, char32_t b) {
    const std::uint64_t mixed = ((std::uint64_t{a} << 32) | b) * 0x9E3779B97F4A7C15ull;
    return std::uint64_t{1} << ((mixed >> 40) % kSignatureBits);
}

} // namespace

void BigramFilter::prepare(std::u32string_view query, int fuzzyLength) {
    m_similarLength = static_cast<int>(std::min<std::size_t>(query.size(), kMaxLen));
    m_fuzzyLength = std::min(fuzzyLength, m_similarLength);
    std::fill(std::begin(m_latin), std::end(m_latin), 0);
    m_wideCount = 0;
    m_letters = 0;
    for (int i = 0; i < m_similarLength; ++i) {
        const char32_t c = query[static_cast<std::size_t>(i)];
        std::uint8_t id = letterOf(c);
        if (id == kNone) {
            id = static_cast<std::uint8_t>(m_letters++);
            if (c < 256) {
                m_latin[c] = static_cast<std::uint8_t>(id + 1);
            } else {
                m_wide[m_wideCount] = c;
                m_wideLetter[m_wideCount++] = id;
            }
            m_inQuery[id].clear();
        }
        m_queryLetters[i] = id;
        m_inQuery[id].set(i);
    }
    for (char32_t c = 0; c < 256; ++c) m_foldedLatin[c] = letterOf(FoldChar(c));
    for (int i = 0; i + 1 < m_similarLength; ++i)
        m_pairBits[i] = pairBit(query[static_cast<std::size_t>(i)], query[static_cast<std::size_t>(i) + 1]);
}

std::uint64_t BigramFilter::signature(std::string_view name) {
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const std::size_t size = name.size();
    std::uint64_t bits = 0;
    char32_t previous = 0;
    std::uint64_t n = 0;
    for (std::size_t i = 0; i < size; ++n) {
        if (n == kMaxLen) return 0; // left to the measure, as rejects leaves it
        char32_t c;
        if (p[i] < 0x80) c = p[i++];
        else i += DecodeOne(p + i, size - i, c);
        c = FoldChar(c);
        if (n > 0) bits |= pairBit(previous, c);
        previous = c;
    }
    return bits | (n << kSignatureBits);
}

bool BigramFilter::rejectsSignature(std::uint64_t signature, bool fuzzy, long double cutOff) const {
    const int lc = static_cast<int>(signature >> kSignatureBits);
    if (lc == 0) return false;
    const int lq = fuzzy ? m_fuzzyLength : m_similarLength;
    if (lq < 3 || lc < 3) return true;
    if (!fuzzy && lq >= lc) return false;
    // At most this many of the query's bigrams are in the name (a bit may
    // be set by another pair that shares its hash).
    int c1 = 0;
    for (int i = 0; i + 1 < lq; ++i)
        if (signature & m_pairBits[i]) ++c1;
    if (c1 == 0) return true;
    // The ratio grows with c1, so the bound's ratio bounds the name's.
    const long double ratio = fuzzy ? static_cast<long double>(c1) / static_cast<long double>(lq - 1)
                                    : static_cast<long double>(c1) / static_cast<long double>(lq + lc - c1 - 2);
    return ratio < cutOff;
}

std::uint8_t BigramFilter::letterOf(char32_t c) const {
    if (c < 256) return static_cast<std::uint8_t>(m_latin[c] - 1); // 0 - 1 wraps to kNone
    for (int k = 0; k < m_wideCount; ++k)
        if (m_wide[k] == c) return m_wideLetter[k];
    return kNone;
}

bool BigramFilter::rejects(std::string_view name, bool fuzzy, long double cutOff) const {
    // A name of at most 64 bytes has at most 64 code points.
    return name.size() <= 64 ? rejectsWith<1>(name, fuzzy, cutOff) : rejectsWith<4>(name, fuzzy, cutOff);
}

template <int W>
bool BigramFilter::rejectsWith(std::string_view name, bool fuzzy, long double cutOff) const {
    // One sweep: decode, fold, map to the query's letters, note positions.
    std::uint8_t nameLetters[kMaxLen];
    PositionSet<W> inName[kMaxLen];
    for (int id = 0; id < m_letters; ++id) inName[id].clear();
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const std::size_t size = name.size();
    int n = 0;
    for (std::size_t i = 0; i < size; ++n) {
        if (n == kMaxLen) return false; // a name this long is left to the measure
        std::uint8_t id;
        if (p[i] < 0x80) { // most names are mostly ASCII
            id = m_foldedLatin[p[i++]];
        } else {
            char32_t c;
            i += DecodeOne(p + i, size - i, c);
            id = c < 256 ? m_foldedLatin[c] : letterOf(FoldChar(c));
        }
        nameLetters[n] = id;
        if (id != kNone) inName[id].set(n);
    }

    const int lq = fuzzy ? m_fuzzyLength : m_similarLength;
    const int lc = n;
    if (lq < 3 || lc < 3) return true;

    // c1 counts the positions of the inner string whose bigram occurs in the
    // other: the query's for Fuzzy and for a query shorter than the name,
    // otherwise the name's.
    int c1 = 0;
    if (fuzzy || lq < lc) {
        for (int i = 0; i + 1 < lq; ++i)
            if ((inName[m_queryLetters[i]] & inName[m_queryLetters[i + 1]].shiftedDown(1)).any()) ++c1;
    } else {
        for (int i = 0; i + 1 < lc; ++i) {
            const std::uint8_t a = nameLetters[i], b = nameLetters[i + 1];
            if (a != kNone && b != kNone && (m_inQuery[a] & m_inQuery[b].shiftedDown(1)).any()) ++c1;
        }
    }
    if (c1 == 0) return true;
    const long double ratio = fuzzy ? static_cast<long double>(c1) / static_cast<long double>(lq - 1)
                                    : static_cast<long double>(c1) / static_cast<long double>(lq + lc - c1 - 2);
    return ratio < cutOff;
}

} // namespace toka
