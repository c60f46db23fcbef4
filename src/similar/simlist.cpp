#include "similar/simlist.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "similar/measures.h"
#include "similar/text.h"

namespace toka {

namespace {

constexpr std::size_t kMaxNameLen = 255;

[[noreturn]] void endProcess() { std::_Exit(EXIT_FAILURE); }

void defaultFatalError(const char* text, const char* caption) {
    std::fprintf(stderr, "%s:%s\n", caption, text);
    std::fflush(stderr);
    endProcess();
}

FatalErrorHandler g_fatalHandler = defaultFatalError;

} // namespace

FatalErrorHandler SetFatalErrorHandler(FatalErrorHandler handler) {
    return std::exchange(g_fatalHandler, handler ? handler : defaultFatalError);
}

void SimList::InitSimList(std::string_view text, std::uint16_t listSize) {
    if (listSize > MaxListSize) {
        g_fatalHandler(kListTooLargeText, kFatalErrorCaption);
        endProcess(); // a handler that returns does not keep the program alive
    }
    m_weights = BuildWeights();
    m_listSize = listSize;
    const std::u32string decoded = DecodeName(text);
    m_searchLen = static_cast<std::uint8_t>(decoded.size() % 256);
    m_searchText = NormalizeName(decoded, m_searchLen);
    m_filter.prepare(std::u32string_view(m_searchText).substr(0, kMaxNameLen), m_searchLen);
    for (std::size_t k = 0; k <= m_listSize; ++k) {
        m_files[k].Name.clear();
        m_files[k].Dir.clear();
        m_scores[k] = Real48();
    }
}

long double SimList::Score(std::string_view name, bool fuzzy, Real48 cutOff, bool reference) const {
    return measureName(name, fuzzy, cutOff, reference, nullptr);
}

long double SimList::measureName(std::string_view name, bool fuzzy, Real48 cutOff, bool reference,
                                 long double* holdsUpTo) const {
    char32_t buffer[kMaxNameLen];
    const std::size_t total = DecodeName(name, buffer, kMaxNameLen);
    const auto n = static_cast<std::uint16_t>(total % 256);
    const std::size_t length = std::min(total, kMaxNameLen);
    NormalizeName(buffer, length, n);
    const std::u32string_view candidate(buffer, length);
    const std::u32string_view query = std::u32string_view(m_searchText).substr(0, kMaxNameLen);
    const Real48 queryWeight = m_weights[m_searchLen];
    if (fuzzy)
        return reference ? FuzzyMeasureReference(query, candidate, m_searchLen, queryWeight, cutOff, n)
                         : FuzzyMeasure(query, candidate, m_searchLen, queryWeight, cutOff, n, holdsUpTo);
    return reference ? SimilarMeasureReference(query, candidate, queryWeight, m_weights[n], cutOff)
                     : SimilarMeasure(query, candidate, queryWeight, m_weights[n], cutOff, holdsUpTo);
}

Real48 SimList::ScoreAgainst(std::string_view name, bool fuzzy, Real48 cutOff) const {
    return Rate(name, fuzzy, cutOff).score;
}

SimList::RatedScore SimList::Rate(std::string_view name, bool fuzzy, Real48 cutOff) const {
    // Most names of a long walk leave here, after one pass over their
    // bytes; a name the filter turns away scores 0 against every higher
    // cut-off.
    RatedScore rated{Real48(), cutOff, -std::numeric_limits<long double>::infinity()};
    if (!m_filter.rejects(name, fuzzy, cutOff.value()))
        rated.score = Real48::fromExtended(measureName(name, fuzzy, cutOff, false, &rated.holdsUpTo));
    return rated;
}

SimList::RatedScore SimList::Rate(std::string_view name, std::uint64_t signature, bool fuzzy, Real48 cutOff) const {
    if (m_filter.rejectsSignature(signature, fuzzy, cutOff.value()))
        return {Real48(), cutOff, -std::numeric_limits<long double>::infinity()};
    return Rate(name, fuzzy, cutOff);
}

Real48 SimList::ScoreAgainst(std::string_view name, const RatedScore& rated, bool fuzzy, Real48 cutOff) const {
    if (cutOff < rated.takenAt) return ScoreAgainst(name, fuzzy, cutOff);
    return cutOff.value() <= rated.holdsUpTo ? rated.score : Real48();
}

Real48 SimList::ScoreBound(bool fuzzy, int length) const {
    if (fuzzy) return FuzzyMeasureMax();
    const int lq = static_cast<int>(std::min<std::size_t>(m_searchText.size(), kMaxNameLen));
    const auto at = [&](int n) { return m_weights[static_cast<std::size_t>(n)]; };
    return SimilarMeasureMax(lq, length, at(m_searchLen), at(length), at(std::min(lq, length)));
}

void SimList::RateFile(std::string_view name, std::string_view dir, bool fuzzy) {
    const Real48 score = ScoreAgainst(name, fuzzy, CutOff());
    if (score.value() > 0 && score > m_scores[m_listSize]) InsertRanked(name, dir, score);
}

void SimList::InsertRanked(std::string_view name, std::string_view dir, Real48 score) {
    if (m_listSize == 0 || m_scores[m_listSize - 1u] >= score) return;
    // The overflow slot's entry is lost: the new entry takes its place and
    // bubbles up, so each entry it passes moves down one slot.
    std::size_t k = m_listSize;
    m_files[k].Name.assign(name);
    m_files[k].Dir.assign(dir);
    m_scores[k] = score;
    while (k > 0 && m_scores[k - 1] < score) {
        std::swap(m_files[k - 1], m_files[k]);
        std::swap(m_scores[k - 1], m_scores[k]);
        --k;
    }
}

void SimList::GetSimList(ListString& dest) const {
    for (std::size_t k = 0; k < m_listSize; ++k)
        if (m_scores[k].value() > 0) dest[k] = m_files[k];
}

SimList& TheSimList() {
    static SimList list;
    return list;
}

void InitSimList(std::string_view text, std::uint16_t listSize) { TheSimList().InitSimList(text, listSize); }
void RateFile(const rFileRec& entry, bool fuzzy) { TheSimList().RateFile(entry, fuzzy); }
void RateFile(std::string_view name, std::string_view dir, bool fuzzy) { TheSimList().RateFile(name, dir, fuzzy); }
void GetSimList(ListString& dest) { TheSimList().GetSimList(dest); }

} // namespace toka
