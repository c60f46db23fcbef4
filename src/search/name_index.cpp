#include "search/name_index.h"

#include <algorithm>
#include <bit>

#include "similar/text.h"

namespace toka {
namespace {

constexpr int kMaxLength = 255;

void putVarint(std::string& out, std::uint64_t value) {
    while (value >= 0x80) {
        out += char((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += char(value);
}

// A varint of at most 35 bits from [at, end); false past the end or when
// longer.
bool getVarint(const unsigned char*& at, const unsigned char* end, std::uint64_t& value) {
    value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        if (at == end) return false;
        const unsigned char byte = *at++;
        value |= std::uint64_t(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return true;
    }
    return false;
}

std::uint64_t bitmapBytes(std::uint64_t groups) { return (groups + 7) / 8; }

} // namespace

std::uint32_t nameIndexBucket(char32_t a, char32_t b) {
    const std::uint64_t mixed = ((std::uint64_t{a} << 32) | b) * 0x9E3779B97F4A7C15ull;
    return std::uint32_t(mixed >> 52) & (kNameIndexBuckets - 1);
}

std::vector<std::pair<std::uint32_t, std::uint8_t>> nameIndexQuery(std::u32string_view text, int length) {
    std::vector<std::pair<std::uint32_t, std::uint8_t>> query;
    const int n = std::min<int>(length, int(std::min<std::size_t>(text.size(), kMaxLength)));
    for (int i = 0; i + 1 < n; ++i) {
        const std::uint32_t bucket = nameIndexBucket(text[std::size_t(i)], text[std::size_t(i) + 1]);
        const auto it = std::find_if(query.begin(), query.end(), [&](const auto& q) { return q.first == bucket; });
        if (it == query.end()) query.emplace_back(bucket, 1);
        else ++it->second; // at most 254 positions in all
    }
    return query;
}

NameIndexBuilder::NameIndexBuilder() : m_lists(kNameIndexBuckets), m_nextGroup(kNameIndexBuckets, 0) {}

void NameIndexBuilder::add(std::string_view name) {
    if (m_inGroup == kNameIndexGroup) {
        m_minLengths += char(0xFF);
        m_inGroup = 0;
    }
    ++m_inGroup;
    const std::uint64_t group = m_minLengths.size() - 1;
    const auto* p = reinterpret_cast<const unsigned char*>(name.data());
    const std::size_t size = name.size();
    char32_t previous = 0;
    int n = 0;
    for (std::size_t i = 0; i < size; ++n) {
        if (n == kMaxLength) { // left to the measure: its group is always read
            n = 0;
            break;
        }
        char32_t c;
        i += DecodeOne(p + i, size - i, c);
        c = FoldChar(c);
        if (n > 0) {
            const std::uint32_t bucket = nameIndexBucket(previous, c);
            if (m_nextGroup[bucket] <= group) {
                // Gaps from the last group listed (the first from -1).
                const std::uint64_t gap = group + 1 - m_nextGroup[bucket];
                if (gap < 0x80) m_lists[bucket] += char(gap);
                else putVarint(m_lists[bucket], gap);
                m_nextGroup[bucket] = std::uint32_t(group + 1);
            }
        }
        previous = c;
    }
    char& shortest = m_minLengths.back();
    shortest = char(std::min<unsigned>(std::uint8_t(shortest), unsigned(n)));
}

void NameIndexBuilder::append(const NameIndexBuilder& later) {
    const std::uint64_t offset = m_minLengths.size();
    for (std::uint32_t b = 0; b < kNameIndexBuckets; ++b) {
        const std::string& gaps = later.m_lists[b];
        if (gaps.empty()) continue;
        // The first gap counts from the later builder's start: from here,
        // it counts from this list's last group.
        const auto* at = reinterpret_cast<const unsigned char*>(gaps.data());
        std::uint64_t first = 0;
        getVarint(at, at + gaps.size(), first);
        putVarint(m_lists[b], offset + first - m_nextGroup[b]);
        m_lists[b].append(reinterpret_cast<const char*>(at),
                          gaps.size() - std::size_t(at - reinterpret_cast<const unsigned char*>(gaps.data())));
        m_nextGroup[b] = std::uint32_t(offset + later.m_nextGroup[b]);
    }
    m_minLengths += later.m_minLengths;
    m_inGroup = later.m_inGroup;
}

std::string NameIndexBuilder::finish() const {
    const std::uint64_t groups = m_minLengths.size();
    std::string table, lists;
    for (const std::string& gaps : m_lists) {
        if (gaps.size() <= bitmapBytes(groups)) {
            putVarint(table, gaps.size() * 2);
            lists += gaps;
            continue;
        }
        std::string bitmap(bitmapBytes(groups), '\0');
        const auto* at = reinterpret_cast<const unsigned char*>(gaps.data());
        const auto* end = at + gaps.size();
        std::uint64_t group = ~std::uint64_t(0), gap = 0;
        while (at != end && getVarint(at, end, gap)) {
            group += gap;
            bitmap[group / 8] = char(bitmap[group / 8] | (1 << (group % 8)));
        }
        putVarint(table, bitmap.size() * 2 + 1);
        lists += bitmap;
    }
    std::string out;
    putVarint(out, kNameIndexGroup);
    putVarint(out, kNameIndexBuckets);
    out += m_minLengths;
    out += table;
    out += lists;
    return out;
}

std::optional<NameIndex> NameIndex::parse(std::string_view bytes, std::uint64_t groups) {
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = at + bytes.size();
    std::uint64_t group = 0, buckets = 0;
    if (!getVarint(at, end, group) || group != kNameIndexGroup || !getVarint(at, end, buckets)
        || buckets != kNameIndexBuckets)
        return std::nullopt;
    if (groups > std::uint64_t(end - at)) return std::nullopt;
    NameIndex index;
    index.m_minLengths = std::string_view(reinterpret_cast<const char*>(at), groups);
    at += groups;
    index.m_buckets.resize(kNameIndexBuckets);
    std::uint64_t total = 0;
    for (List& list : index.m_buckets) {
        std::uint64_t code = 0;
        if (!getVarint(at, end, code)) return std::nullopt;
        list.bitmap = code & 1;
        const std::uint64_t size = code >> 1;
        if (list.bitmap && size != bitmapBytes(groups)) return std::nullopt;
        if (size > std::uint64_t(end - at) - total) return std::nullopt;
        list.at = std::uint32_t(total);
        list.size = std::uint32_t(size);
        total += size;
    }
    if (total != std::uint64_t(end - at)) return std::nullopt;
    index.m_lists = std::string_view(reinterpret_cast<const char*>(at), total);
    return index;
}

bool NameIndex::count(const std::vector<std::pair<std::uint32_t, std::uint8_t>>& query,
                      std::vector<std::uint8_t>& counts, const std::atomic<bool>* stop) const {
    const std::uint64_t groups = groupCount();
    counts.assign(groups, 0);
    for (const auto& [bucket, weight] : query) {
        if (bucket >= m_buckets.size() || (stop && stop->load(std::memory_order_relaxed))) return false;
        const List& list = m_buckets[bucket];
        const auto* at = reinterpret_cast<const unsigned char*>(m_lists.data()) + list.at;
        const auto* end = at + list.size;
        auto stopped = [&](std::uint64_t step) {
            return (step & 0xFFFF) == 0 && stop && stop->load(std::memory_order_relaxed);
        };
        if (list.bitmap) {
            // Eight groups a byte without a branch per bit (a dense list);
            // bits past the last group are ignored.
            const std::uint64_t whole = std::min<std::uint64_t>(list.size, groups / 8);
            for (std::uint64_t byte = 0; byte < whole; ++byte) {
                if (stopped(byte + 1)) return false;
                const unsigned bits = at[byte];
                std::uint8_t* count = counts.data() + byte * 8;
                for (unsigned j = 0; j < 8; ++j)
                    count[j] = std::uint8_t(count[j] + (weight & -std::uint8_t((bits >> j) & 1)));
            }
            for (std::uint64_t byte = whole; byte < list.size; ++byte) {
                for (unsigned bits = at[byte]; bits != 0; bits &= bits - 1) {
                    const std::uint64_t group = byte * 8 + unsigned(std::countr_zero(bits));
                    if (group < groups) counts[group] = std::uint8_t(counts[group] + weight);
                }
            }
            continue;
        }
        std::uint64_t group = ~std::uint64_t(0), gap = 0;
        for (std::uint64_t step = 1; at != end; ++step) {
            if (stopped(step) || !getVarint(at, end, gap) || gap == 0) return false;
            group += gap;
            if (group >= groups) return false;
            counts[group] = std::uint8_t(counts[group] + weight);
        }
    }
    return true;
}

bool NameIndex::mayReach(std::uint8_t count, std::uint8_t minLength, int length, bool fuzzy, long double cutOff) {
    // The filter rejects every name against a query of fewer than 3 letters
    // and leaves a name of more than 255 code points to the measure.
    if (length < 3) return false;
    if (minLength == 0) return true;
    // Not one of the query's pairs in any name: c1 is 0 for each.
    if (count == 0) return false;
    const auto c = static_cast<long double>(count);
    const auto lq = static_cast<long double>(length);
    if (fuzzy) return !(c / (lq - 1) < cutOff);
    // Similar counts the name's pairs for a name no longer than the query:
    // no bound from the query's side then.
    if (minLength <= length) return true;
    // Longer names: c1 <= count, and c1 / (lq + lc - c1 - 2) grows with c1
    // and falls with lc.
    return !(c / (lq + static_cast<long double>(minLength) - c - 2) < cutOff);
}

void SharedGroupCounts::countOnce(const std::atomic<bool>* stop) {
    // Looked at first: most calls find the count taken, without a write to
    // the flag that every thread reads.
    if (!m_index || m_taken.load(std::memory_order_relaxed) || m_taken.exchange(true)) return;
    if (m_index->count(nameIndexQuery(m_text, m_length), m_counts, stop))
        m_counted.store(true, std::memory_order_release);
}

} // namespace toka
