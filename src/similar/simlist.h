#pragma once
// The similarity list: the state of one search (normalised search text, list
// size, weight table) and the best-scoring entries, best first.
//
// Slots 0..ListSize-1 are the ranks 1..ListSize; slot ListSize is the overflow
// slot: it holds the entry most recently pushed off the end of the list (score
// 0 and empty strings until the list overflows).  Its score is the cut-off
// that a new entry must beat, and the cut-off handed to the measures so that
// they can stop early.  An entry enters exactly when its six-byte score is
// greater than 0 and greater than the score at the last rank; among equal
// scores the entry that came first ranks higher.
//
// The program uses one process-wide instance through the functional interface
// (InitSimList, RateFile, GetSimList, the rank accessors); tests may create
// their own SimList objects.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "similar/bigram_filter.h"
#include "similar/real48.h"
#include "similar/weights.h"

namespace toka {

/// One result entry: the file name exactly as the directory listing returned
/// it (bytes, not normalised) and the directory that holds it, exactly as the
/// caller handed it in (the walk passes the path with its trailing "/").
struct rFileRec {
    std::string Name;
    std::string Dir;
    friend bool operator==(const rFileRec&, const rFileRec&) = default;
};

constexpr int MaxListSize = 200;

/// Slots 0..200; slot r-1 holds rank r.
using ListString = std::array<rFileRec, MaxListSize + 1>;

/// Called with the fatal message text and caption; must not return (if it
/// does, the engine ends the process with a non-zero status).
using FatalErrorHandler = void (*)(const char* text, const char* caption);

/// Installs the handler for the engine's one fatal error (a list size above
/// 200).  The default writes the text to standard error and exits with 1.
/// Returns the previous handler.  nullptr restores the default.
FatalErrorHandler SetFatalErrorHandler(FatalErrorHandler handler);

/// The fatal texts, shown exactly as they stand.
inline constexpr const char* kListTooLargeText = " \u00c4hnlichkeitsliste zu gro\u00df!!! ";
inline constexpr const char* kFatalErrorCaption = " Fatal Error";

class SimList {
public:
    /// Sets up a search: fatal error if listSize > 200; rebuilds the weights;
    /// SearchLen := length of text in code points modulo 256; SearchText :=
    /// NormalizeName(text, SearchLen); empties slots 0..listSize.
    /// text is UTF-8 as the user typed it (invalid bytes read as Latin-1).
    void InitSimList(std::string_view text, std::uint16_t listSize);

    /// Scores one entry with the fuzzy (true) or similar (false) measure and
    /// inserts it if it is good enough.  Allocates nothing for an entry that
    /// the list turns away.
    void RateFile(std::string_view name, std::string_view dir, bool fuzzy);
    void RateFile(const rFileRec& entry, bool fuzzy) { RateFile(entry.Name, entry.Dir, fuzzy); }

    /// For k = 0..ListSize-1 with a score above 0: dest[k] := Files[k].  Slots
    /// beyond the filled ranks keep what dest held before.
    void GetSimList(ListString& dest) const;

    /// Rank r (1..ListSize); r = ListSize + 1 reads the overflow slot.
    const rFileRec& RankFile(int r) const { return m_files[static_cast<std::size_t>(r - 1)]; }
    Real48 RankScore(int r) const { return m_scores[static_cast<std::size_t>(r - 1)]; }

    std::uint16_t ListSize() const { return m_listSize; }
    std::uint8_t SearchLen() const { return m_searchLen; }
    const std::u32string& SearchText() const { return m_searchText; }
    const WeightTable& Weights() const { return m_weights; }
    /// The first-pass filter, prepared for the search text.
    const BigramFilter& Filter() const { return m_filter; }
    /// The cut-off: the score in the overflow slot.
    Real48 CutOff() const { return m_scores[m_listSize]; }

    /// The score that RateFile computes for a name (its length taken modulo
    /// 256, normalised, cut to 255 code points), here with an explicit
    /// cut-off; RateFile passes CutOff().  Allocates nothing.  reference
    /// selects the literal measures (tests and benchmarks compare the two).
    long double Score(std::string_view name, bool fuzzy, Real48 cutOff, bool reference = false) const;

    /// The score that RateFile admits an entry with against this cut-off:
    /// the name's exact score whenever every early exit of the measure lets
    /// it through, and 0 when the bigram filter or an early exit turns it
    /// away.  The exits only compare with the cut-off, so a name that passes
    /// against a cut-off passes against every lower one, with the same score.
    /// Pure: several threads may call it on one list.
    Real48 ScoreAgainst(std::string_view name, bool fuzzy, Real48 cutOff) const;
    /// The same, for a name whose BigramFilter::signature is known: most
    /// names are then turned away without a look at their bytes.
    Real48 ScoreAgainst(std::string_view name, std::uint64_t signature, bool fuzzy, Real48 cutOff) const {
        return Rate(name, signature, fuzzy, cutOff).score;
    }

    /// A name's score kept for a later look against a higher cut-off (the
    /// list's, once the names found before it are in): the early exits only
    /// compare with the cut-off, so the score holds up to the smallest value
    /// they compared, and above it the name scores 0.
    struct RatedScore {
        Real48 score;          ///< ScoreAgainst's answer against takenAt
        Real48 takenAt;        ///< the cut-off it was taken against
        long double holdsUpTo; ///< the highest cut-off that gives score
    };
    RatedScore Rate(std::string_view name, bool fuzzy, Real48 cutOff) const;
    RatedScore Rate(std::string_view name, std::uint64_t signature, bool fuzzy, Real48 cutOff) const;
    /// ScoreAgainst(name, fuzzy, cutOff) for the name rated: read off the
    /// rating, or (against a cut-off below the one it was taken against)
    /// scored again.
    Real48 ScoreAgainst(std::string_view name, const RatedScore& rated, bool fuzzy, Real48 cutOff) const;

    /// No name of length code points (1..255) scores above this with the
    /// measure: a list whose last rank holds it takes no such name.
    Real48 ScoreBound(bool fuzzy, int length) const;

    /// Whether an entry with this score would enter the list now.
    bool Admits(Real48 score) const { return score.value() > 0 && score > CutOff() && score > LastRankScore(); }

    /// The score at the last rank (0 while the list is not full).
    Real48 LastRankScore() const { return m_listSize == 0 ? Real48() : m_scores[m_listSize - 1u]; }

    /// Puts an entry with its score into the ranks: it settles directly
    /// below the last entry whose score is at least its own; the last rank
    /// moves into the overflow slot.  An entry that does not beat the last
    /// rank changes nothing.  RateFile calls it for admitted entries only.
    void InsertRanked(std::string_view name, std::string_view dir, Real48 score);

private:
    /// Score, with holdsUpTo as for RatedScore when given.
    long double measureName(std::string_view name, bool fuzzy, Real48 cutOff, bool reference,
                            long double* holdsUpTo) const;

    std::u32string m_searchText;
    BigramFilter m_filter;
    std::uint8_t m_searchLen = 0;
    std::uint16_t m_listSize = 0;
    WeightTable m_weights{};
    std::array<Real48, MaxListSize + 1> m_scores{};
    ListString m_files{};
};

/// The process-wide similarity list.
SimList& TheSimList();

void InitSimList(std::string_view text, std::uint16_t listSize);
void RateFile(const rFileRec& entry, bool fuzzy);
void RateFile(std::string_view name, std::string_view dir, bool fuzzy);
void GetSimList(ListString& dest);

} // namespace toka
