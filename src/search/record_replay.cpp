#include "search/record_replay.h"

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/listing/dir_listing.h"
#include "similar/bigram_filter.h"
#include "similar/measures.h"

namespace toka {
namespace {

// Entries of one block that the walk rated one after the other.
struct Segment {
    std::uint32_t block;
    std::uint32_t count;
    const char* at;
    std::uint64_t first; // the first entry's index in the record's order
};

struct Candidate {
    std::uint32_t block;
    std::string_view name;
    SimList::RatedScore rated; // against the cut-off of its chunk's start
};

// A segment never holds more than this, so that chunks can be cut evenly.
constexpr std::uint32_t kMaxSegment = 4096;
// The first chunks are small, so that the list's bounds rise before the
// threads score much against the empty list's.
constexpr std::size_t kFirstChunk = 1024;
constexpr std::size_t kLargestChunk = 32768;

void addSegment(std::vector<Segment>& segments, std::uint32_t block, const char* at, std::uint32_t count,
                std::uint64_t first) {
    while (count > kMaxSegment) {
        segments.push_back({block, kMaxSegment, at, first});
        RecordedEntries::iterator it(at, kMaxSegment + 1);
        for (std::uint32_t i = 0; i < kMaxSegment; ++i) ++it;
        at = it.data();
        count -= kMaxSegment;
        first += kMaxSegment;
    }
    if (count > 0) segments.push_back({block, count, at, first});
}

// Where each block's entries start in the record's order.
std::vector<std::uint64_t> blockStarts(const WalkRecord& record) {
    std::vector<std::uint64_t> starts(record.blockCount() + 1, 0);
    for (std::uint32_t b = 0; b < record.blockCount(); ++b) starts[b + 1] = starts[b] + record.entries(b).size();
    return starts;
}

// Runs work on threads threads (0: one per core), the caller's among them.
template <class Work>
void onThreads(unsigned threads, const Work& work) {
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
}

// The record's entries in the walk's order: each directory's entries in
// listing order, the contents of an entered subdirectory just before the
// subdirectory's own entry, the roots in their order.  Also notes each
// block's name in its parent.
std::vector<Segment> planSegments(const WalkRecord& record, const std::vector<std::uint64_t>& starts,
                                  std::vector<std::string_view>& blockNames) {
    std::vector<Segment> segments;
    auto byIndex = [&](std::uint32_t a, std::uint32_t b) { return record.indexInParent(a) < record.indexInParent(b); };
    struct Frame {
        std::uint32_t block;
        RecordedEntries::iterator it; // at entry pos
        std::uint32_t pos = 0;
        const char* segmentAt;
        std::uint32_t segmentFrom = 0;
        std::vector<std::uint32_t> children; // by index in this block
        std::size_t nextChild = 0;
    };
    auto frameOf = [&](std::uint32_t block) {
        const RecordedEntries entries = record.entries(block);
        const auto children = record.children(block);
        Frame frame{block, entries.begin(), 0, entries.begin().data(), 0, {children.begin(), children.end()}, 0};
        std::sort(frame.children.begin(), frame.children.end(), byIndex);
        return frame;
    };
    const auto rootSpan = record.rootBlocks();
    std::vector<std::uint32_t> roots(rootSpan.begin(), rootSpan.end());
    std::sort(roots.begin(), roots.end(), byIndex);
    std::vector<Frame> stack;
    for (const std::uint32_t root : roots) {
        stack.push_back(frameOf(root));
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.nextChild == frame.children.size()) {
                addSegment(segments, frame.block, frame.segmentAt,
                           record.entries(frame.block).size() - frame.segmentFrom,
                           starts[frame.block] + frame.segmentFrom);
                stack.pop_back();
                continue;
            }
            const std::uint32_t child = frame.children[frame.nextChild++];
            const std::uint32_t target = record.indexInParent(child);
            for (; frame.pos < target; ++frame.pos) ++frame.it;
            addSegment(segments, frame.block, frame.segmentAt, target - frame.segmentFrom,
                       starts[frame.block] + frame.segmentFrom);
            blockNames[child] = (*frame.it).name;
            // The subdirectory's own entry comes after its contents.
            frame.segmentAt = frame.it.data();
            frame.segmentFrom = target;
            stack.push_back(frameOf(child));
        }
    }
    return segments;
}

} // namespace

namespace {

std::vector<std::uint64_t> signaturesOf(const WalkRecord& record, const KnownSignatures* known, unsigned threads) {
    const std::vector<std::uint64_t> starts = blockStarts(record);
    std::vector<std::uint64_t> signatures(starts.back());
    // The block of known's record each block's signatures are copied from.
    constexpr std::uint32_t kNone = ~std::uint32_t{0};
    std::vector<std::uint32_t> sameAs;
    std::vector<std::uint64_t> knownStarts;
    if (known) {
        knownStarts = blockStarts(known->record);
        sameAs.assign(record.blockCount(), kNone);
        if (known->signatures.size() == knownStarts.back()) {
            for (const auto& [now, before] : known->sameBlocks) {
                if (now < record.blockCount() && before < known->record.blockCount()
                    && starts[now + 1] - starts[now] == knownStarts[before + 1] - knownStarts[before])
                    sameAs[now] = before;
            }
        }
    }
    constexpr std::uint32_t kBlocksPerTurn = 64;
    std::atomic<std::uint32_t> nextBlock{0};
    auto work = [&] {
        for (std::uint32_t first; (first = nextBlock.fetch_add(kBlocksPerTurn)) < record.blockCount();) {
            const std::uint32_t last = std::min<std::uint32_t>(first + kBlocksPerTurn, record.blockCount());
            for (std::uint32_t b = first; b < last; ++b) {
                std::uint64_t at = starts[b];
                if (!sameAs.empty() && sameAs[b] != kNone) {
                    const auto from = known->signatures.begin() + std::ptrdiff_t(knownStarts[sameAs[b]]);
                    std::copy(from, from + std::ptrdiff_t(starts[b + 1] - at), signatures.begin() + std::ptrdiff_t(at));
                    continue;
                }
                for (const RecordedEntry entry : record.entries(b))
                    signatures[at++] = BigramFilter::signature(entry.name);
            }
        }
    };
    onThreads(threads, work);
    return signatures;
}

} // namespace

std::vector<std::uint64_t> recordSignatures(const WalkRecord& record, unsigned threads) {
    return signaturesOf(record, nullptr, threads);
}

std::vector<std::uint64_t> recordSignatures(const WalkRecord& record, const KnownSignatures& known, unsigned threads) {
    return signaturesOf(record, &known, threads);
}

RecordReplay::RecordReplay(std::shared_ptr<const WalkRecord> record, const SimList& search, ScanOptions options)
    : m_record(std::move(record)), m_options(std::move(options)), m_scorer(search), m_list(search) {}

std::string RecordReplay::directoryPath(std::uint32_t block) const {
    std::vector<std::string_view> names;
    std::uint32_t at = block;
    while (const auto parent = m_record->parent(at)) {
        names.push_back(m_blockNames[at]);
        at = *parent;
    }
    std::string path = m_record->roots()[m_record->indexInParent(at)];
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path += *it;
        path += '/';
    }
    return path;
}

void RecordReplay::run(unsigned threads, const std::vector<std::uint64_t>* signatures, bool useIndex) {
    m_blockNames.assign(m_record->blockCount(), {});
    const std::vector<std::uint64_t> blockStart = blockStarts(*m_record);
    if (signatures && signatures->size() != blockStart.back()) signatures = nullptr; // another record's
    const std::vector<Segment> segments = planSegments(*m_record, blockStart, m_blockNames);

    // Chunks: runs of whole segments; chunk c is segments [starts[c], starts[c + 1]).
    std::vector<std::size_t> starts{0};
    std::size_t want = kFirstChunk;
    std::size_t filled = 0;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        filled += segments[i].count;
        if (filled >= want) {
            starts.push_back(i + 1);
            filled = 0;
            want = std::min(want * 2, kLargestChunk);
        }
    }
    if (starts.back() != segments.size()) starts.push_back(segments.size());
    const std::size_t chunkCount = starts.size() - 1;

    const FilterMatcher matcher(m_options.filter);
    const bool filtered = matcher.active();
    const bool fuzzy = m_options.fuzzy;
    std::atomic<std::size_t> nextChunk{0};
    std::atomic<Real48> cutOffBound{m_list.CutOff()};
    std::atomic<Real48> lastRankBound{m_list.LastRankScore()};
    std::mutex mutex; // guards what follows and m_list
    std::vector<std::vector<Candidate>> results(chunkCount);
    std::vector<char> ready(chunkCount, 0);
    std::size_t merged = 0;
    std::uint32_t pathBlock = 0xFFFFFFFFu;
    std::string path;

    // The letter-pair index: per group of entries, a bound on the filter's
    // first pass (name_index.h).  The first thread counts the groups while
    // the others read every name, and gives up when they run out of work
    // first (a list that fills with the highest score early); without an
    // index, or with a damaged one, every name is read.
    const NameIndex* const index = useIndex ? m_record->nameIndex() : nullptr;
    const int queryLength = m_scorer.Filter().queryLength(fuzzy);
    SharedGroupCounts groups(index, m_scorer.SearchText(), queryLength);
    std::atomic<bool> noChunksLeft{false};

    // bestFrom[n]: the highest score of any name of n code points or more
    // (a group's shortest name's length; 0 for none known).
    std::vector<Real48> bestFrom(257, Real48::fromExtended(1e30L));
    bestFrom[256] = Real48();
    for (std::size_t n = 255; n >= 1; --n) bestFrom[n] = std::max(bestFrom[n + 1], m_scorer.ScoreBound(fuzzy, int(n)));
    auto work = [&] {
        groups.countOnce(&noChunksLeft);
        std::vector<Candidate> found;
        for (;;) {
            const std::size_t c = nextChunk.fetch_add(1);
            if (c >= chunkCount) {
                noChunksLeft.store(true, std::memory_order_relaxed);
                break;
            }
            const Real48 cutOff = cutOffBound.load(std::memory_order_relaxed);
            const Real48 lastRank = lastRankBound.load(std::memory_order_relaxed);
            // A name enters only above the last rank: once that holds the
            // highest score of any name, nothing more is read.
            const bool full = lastRank >= bestFrom[1];
            auto rate = [&](const Segment& segment, const RecordedEntry& entry, const std::uint64_t* signature) {
                EntryType type = entry.type;
                if (filtered) {
                    if (type == EntryType::Unknown && matcher.needsType()) {
                        const std::string entryPath = directoryPath(segment.block) + std::string(entry.name);
                        type = resolveType(AT_FDCWD, entryPath.c_str());
                    }
                    if (!matcher.passesEarly(entry.name, type)) return;
                }
                const SimList::RatedScore rated = signature ? m_scorer.Rate(entry.name, *signature, fuzzy, cutOff)
                                                            : m_scorer.Rate(entry.name, fuzzy, cutOff);
                if (rated.score.value() <= 0 || rated.score <= lastRank) return;
                if (filtered && matcher.needsLate()
                    && !matcher.passesLate(-1, directoryPath(segment.block), entry.name, type))
                    return;
                found.push_back({segment.block, entry.name, rated});
            };
            for (std::size_t s = starts[c]; s < starts[c + 1] && !full; ++s) {
                const Segment& segment = segments[s];
                const std::uint64_t* signature = signatures ? signatures->data() + segment.first : nullptr;
                // The index from the first segment after its count is done.
                const std::vector<std::uint8_t>* const counts = groups.counts();
                if (!counts) {
                    for (const RecordedEntry entry : RecordedEntries(segment.at, segment.count)) {
                        rate(segment, entry, signature);
                        if (signature) ++signature;
                    }
                    continue;
                }
                // Group by group: a group is stepped over when none of its
                // names can score above the last rank (by their lengths) or
                // pass the first pass against the cut-off (by their pairs);
                // a whole one by its bytes, without reading its names.
                const std::uint32_t blockEntries = m_record->entries(segment.block).size();
                const std::uint64_t firstGroup = m_record->firstGroup(segment.block);
                const char* at = segment.at;
                std::uint32_t k = std::uint32_t(segment.first - blockStart[segment.block]);
                const std::uint32_t end = k + segment.count;
                while (k < end) {
                    const std::uint64_t group = firstGroup + k / kNameIndexGroup;
                    const std::uint32_t groupEnd = std::min(blockEntries, (k / kNameIndexGroup + 1) * kNameIndexGroup);
                    const std::uint32_t n = std::min(end, groupEnd) - k;
                    const std::uint8_t minLength = index->minLength(group);
                    const bool read =
                        lastRank < bestFrom[minLength]
                        && NameIndex::mayReach((*counts)[group], minLength, queryLength, fuzzy, cutOff.value());
                    if (!read && k % kNameIndexGroup == 0 && k + n == groupEnd) {
                        at += m_record->groupBytes(group);
                    } else {
                        RecordedEntries::iterator it(at, n);
                        for (std::uint32_t i = 0; i < n; ++i, ++it)
                            if (read) rate(segment, *it, signature ? signature + i : nullptr);
                        at = it.data();
                    }
                    if (signature) signature += n;
                    k += n;
                }
            }
            std::lock_guard lock(mutex);
            results[c] = std::move(found);
            found = {};
            ready[c] = 1;
            for (; merged < chunkCount && ready[merged]; ++merged) {
                for (const Candidate& candidate : results[merged]) {
                    if (candidate.block != pathBlock) {
                        pathBlock = candidate.block;
                        path = directoryPath(pathBlock);
                    }
                    // The list's cut-off has only risen since the name was
                    // rated: its score is read off the rating.
                    const Real48 score = m_list.ScoreAgainst(candidate.name, candidate.rated, fuzzy, m_list.CutOff());
                    if (m_list.Admits(score)) m_list.InsertRanked(candidate.name, path, score);
                }
                results[merged] = {};
            }
            cutOffBound.store(m_list.CutOff(), std::memory_order_relaxed);
            lastRankBound.store(m_list.LastRankScore(), std::memory_order_relaxed);
        }
    };

    // More threads than chunks would find nothing to do.
    if (threads == 0) threads = std::max(1u, std::thread::hardware_concurrency());
    onThreads(unsigned(std::min<std::size_t>(threads, std::max<std::size_t>(chunkCount, 1))), work);
}

} // namespace toka
