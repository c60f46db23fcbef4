#pragma once
// The record's letter-pair index, so that a replay reads only the names that
// could still enter the list.
//
// Each block's entries are taken kNameIndexGroup at a time (the last group
// of a block may hold fewer), the groups numbered in the record's order.  For each of kNameIndexBuckets
// buckets (a hash of two adjacent folded code points, as BigramFilter folds
// them) the index lists the groups in which some name holds a pair of that
// bucket, and for each group it keeps the fewest code points among its names.
//
// Before a replay, each group's count is the sum over the query's buckets
// that its list holds of the query positions whose pair falls in the bucket:
// never less than the bigram filter's c1 for any of the group's names when
// c1 counts query positions (Fuzzy, and Similar for a name longer than the
// query).  With the shortest name's length that bounds the filter's ratio
// from above (mayReach), so a group that fails the bound holds only names the
// filter rejects, and the answer is the same without reading them.
//
// The section, after the blocks in a record's body:
//   varint group size (kNameIndexGroup), varint bucket count
//   (kNameIndexBuckets), one byte per group (the shortest name's code
//   points, 0 for a name of more than 255), per bucket a varint (the list's
//   byte length times 2, plus 1 for a bitmap), then the lists: a bitmap of
//   (groups + 7) / 8 bytes, bit g of byte g / 8 for group g, or the groups
//   ascending as varint gaps (the first from -1).
// parse checks the layout; the lists are checked as they are decoded, and a
// damaged list makes the index unusable (the replay then reads every name).
// The section takes about 8 bytes an entry on /usr (a record 26.8 instead of
// 18.8) and 11.5 where names are long and varied.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace toka {

inline constexpr std::uint32_t kNameIndexGroup = 4;
inline constexpr std::uint32_t kNameIndexBuckets = 4096;

/// The bucket of two adjacent folded code points.
std::uint32_t nameIndexBucket(char32_t a, char32_t b);

/// A query's buckets and how many of its pair positions fall in each: the
/// first length code points of text (already folded, as a SimList holds it).
std::vector<std::pair<std::uint32_t, std::uint8_t>> nameIndexQuery(std::u32string_view text, int length);

class NameIndexBuilder {
public:
    NameIndexBuilder();
    /// The next block's entries begin a new group.
    void startBlock() { m_inGroup = kNameIndexGroup; }
    /// The next entry's name, in the record's order.
    void add(std::string_view name);
    /// Takes on the groups of a builder that started where this one ends.
    void append(const NameIndexBuilder& later);
    /// The section's bytes.
    std::string finish() const;

private:
    std::uint32_t m_inGroup = kNameIndexGroup; // entries in the last group
    std::string m_minLengths;
    std::vector<std::string> m_lists;       // per bucket: varint gaps
    std::vector<std::uint32_t> m_nextGroup; // per bucket: the last group listed + 1
};

class NameIndex {
public:
    /// The section's bytes (which the index views: they must outlive it)
    /// for a record whose blocks make groups groups, or std::nullopt when
    /// its layout is wrong.
    static std::optional<NameIndex> parse(std::string_view bytes, std::uint64_t groups);

    std::uint64_t groupCount() const { return m_minLengths.size(); }
    std::uint8_t minLength(std::uint64_t group) const { return std::uint8_t(m_minLengths[group]); }

    /// counts[g] := the sum of the query's weights over the buckets whose
    /// list holds group g.  False when a list is damaged, or when stop
    /// (looked at between lists) turned true.
    bool count(const std::vector<std::pair<std::uint32_t, std::uint8_t>>& query, std::vector<std::uint8_t>& counts,
               const std::atomic<bool>* stop = nullptr) const;

    /// False only when BigramFilter::rejects is true for every name of a
    /// group with this count and shortest length, against cutOff: the query
    /// has length letters that take part (the filter's for the measure).
    static bool mayReach(std::uint8_t count, std::uint8_t minLength, int length, bool fuzzy, long double cutOff);

private:
    struct List {
        std::uint32_t at = 0;
        std::uint32_t size = 0;
        bool bitmap = false;
    };
    std::string_view m_minLengths;
    std::string_view m_lists;
    std::vector<List> m_buckets;
};

/// An index's counts for one query, shared by the threads of one pass over
/// the record: the first thread that asks makes them, while the others read
/// every name until they are made.
class SharedGroupCounts {
public:
    /// index: null for none; text and length as for nameIndexQuery (text
    /// must outlive this).
    SharedGroupCounts(const NameIndex* index, std::u32string_view text, int length)
        : m_index(index), m_text(text), m_length(length) {}

    /// The first call of any thread counts (stop, looked at between the
    /// index's lists, gives up); every other call returns at once.
    void countOnce(const std::atomic<bool>* stop);
    /// The counts once made; null before, and for good without an index,
    /// with a damaged one, or after a count given up.
    const std::vector<std::uint8_t>* counts() const {
        return m_counted.load(std::memory_order_acquire) ? &m_counts : nullptr;
    }

private:
    const NameIndex* m_index;
    std::u32string_view m_text;
    int m_length;
    std::vector<std::uint8_t> m_counts;
    std::atomic<bool> m_taken{false};
    std::atomic<bool> m_counted{false};
};

} // namespace toka
