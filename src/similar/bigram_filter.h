#pragma once
// A fast first look at a name, before the measure runs: both measures return
// 0 when the two strings share no bigram or when the bigram presence ratio
// (their first pass) falls below the cut-off.  The filter decides exactly that
// pass straight from the name's bytes -- decoding, folding and mapping each
// letter to the query's letters in one sweep, with the query side prepared
// once per search -- so that a name the list turns away costs one pass over
// its bytes.  It rejects only what the measure would score 0, and it never
// allocates.

#include <cstdint>
#include <string>
#include <string_view>

#include "similar/position_set.h"

namespace toka {

class BigramFilter {
public:
    /// Prepares for a normalised query (at most 255 code points): the
    /// "Similar" measure uses all of it, the "Fuzzy" measure its first
    /// fuzzyLength letters.
    void prepare(std::u32string_view query, int fuzzyLength);

    /// True when the measure is certain to return 0 for this name (bytes as
    /// listed) against the cut-off.  False when it has to be scored, and for
    /// names of more than 255 code points, which it leaves to the measure.
    bool rejects(std::string_view name, bool fuzzy, long double cutOff) const;

    /// A name's bigrams in 64 bits, for names that are filtered again and
    /// again (a recorded walk replayed as the user types): bits 0..55 are
    /// set for a hash of each pair of adjacent folded code points, bits
    /// 56..63 hold the name's length in code points (0 for a name of more
    /// than 255, which its signature never rejects).
    static std::uint64_t signature(std::string_view name);
    /// True only when rejects(name, fuzzy, cutOff) is true for every name
    /// with this signature: the query's bigrams that could be in the name
    /// bound the presence ratio from above.  It decides nothing (false) when
    /// the ratio counts the name's bigrams, as "Similar" does for a name no
    /// longer than the query.
    bool rejectsSignature(std::uint64_t signature, bool fuzzy, long double cutOff) const;

    /// The query's letters that take part in the measure's first pass.
    int queryLength(bool fuzzy) const { return fuzzy ? m_fuzzyLength : m_similarLength; }

private:
    static constexpr int kMaxLen = 255;
    static constexpr std::uint8_t kNone = 0xFF;

    std::uint8_t letterOf(char32_t c) const;
    // W words per position set: one for names of at most 64 bytes (most).
    template <int W>
    bool rejectsWith(std::string_view name, bool fuzzy, long double cutOff) const;

    int m_similarLength = 0;
    int m_fuzzyLength = 0;
    int m_letters = 0;
    std::uint8_t m_latin[256] = {};          // letter id + 1 of a Latin-1 code point, 0 when absent
    std::uint8_t m_foldedLatin[256] = {};    // letter id (or kNone) of a Latin-1 code point once folded
    char32_t m_wide[kMaxLen] = {};           // the query's other code points ...
    std::uint8_t m_wideLetter[kMaxLen] = {}; // ... and their letter ids
    int m_wideCount = 0;
    std::uint8_t m_queryLetters[kMaxLen] = {};
    detail::PositionSet<4> m_inQuery[kMaxLen] = {};
    std::uint64_t m_pairBits[kMaxLen] = {}; // the signature bit of each query bigram
};

} // namespace toka
