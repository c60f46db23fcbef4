#include "search/record_watch.h"

#include <algorithm>
#include <memory>
#include <xxhash.h>

#include "platform/core/paths.h"
#include "platform/listing/directory_watch.h"
#include "search/record_replay.h"
#include "similar/simlist.h"

namespace toka {

std::vector<std::string> recordedDirectories(const WalkRecord& record, std::size_t limit) {
    // Level by level, each directory's subdirectories in their listing
    // order: the same directories for the same tree, however the walk's
    // threads happened to add them to the record.
    std::vector<std::string> paths;
    std::vector<std::uint32_t> level, next;
    for (const std::uint32_t root : record.rootBlocks()) level.push_back(root);
    std::sort(level.begin(), level.end(),
              [&](std::uint32_t a, std::uint32_t b) { return record.indexInParent(a) < record.indexInParent(b); });
    std::vector<std::string> levelPaths, nextPaths;
    for (const std::uint32_t root : level) levelPaths.push_back(record.roots().at(record.indexInParent(root)));
    std::vector<std::pair<std::uint32_t, std::uint32_t>> children; // index in parent, block
    while (!level.empty() && paths.size() < limit) {
        next.clear();
        nextPaths.clear();
        for (std::size_t i = 0; i < level.size(); ++i) {
            const std::uint32_t parent = level[i];
            children.clear();
            for (const std::uint32_t child : record.children(parent))
                children.emplace_back(record.indexInParent(child), child);
            std::sort(children.begin(), children.end());
            std::size_t at = 0;
            std::uint32_t index = 0;
            for (const RecordedEntry entry : record.entries(parent)) {
                if (at == children.size()) break;
                for (; at < children.size() && children[at].first == index; ++at) {
                    next.push_back(children[at].second);
                    nextPaths.push_back(levelPaths[i] + std::string(entry.name) + '/');
                }
                ++index;
            }
        }
        for (std::string& path : levelPaths) {
            if (paths.size() == limit) break;
            paths.push_back(std::move(path));
        }
        level.swap(next);
        levelPaths.swap(nextPaths);
    }
    return paths;
}

struct RecordWatch::Kernel {
    DirectoryWatch watch;
};

RecordWatch::RecordWatch(std::vector<WalkRoot> roots, ScanOptions options, std::shared_ptr<const WalkRecord> record,
                         Settings settings)
    : m_roots(std::move(roots)), m_rootPaths(record->roots()), m_optionsText(record->options()),
      m_options(std::move(options)), m_settings(std::move(settings)), m_kernel(std::make_unique<Kernel>()) {
    m_settings.ignored = normalizeDirectoryPath(m_settings.ignored);
    // The walks only record: what shapes the listing stays, and an
    // extension no name can have turns every entry away before it is
    // scored.
    WalkFilter& filter = m_options.filter;
    filter.kinds = 0;
    filter.extensions = {"/"};
    filter.minSize = filter.maxSize = std::nullopt;
    filter.modifiedFrom = filter.modifiedUntil = std::nullopt;
    m_answer.record = std::move(record);
    m_answer.signatures = std::make_shared<const std::vector<std::uint64_t>>(recordSignatures(*m_answer.record));
    m_thread = std::thread([this] { run(); });
}

RecordWatch::~RecordWatch() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        if (m_walk) m_walk->requestStop();
    }
    m_kernel->watch.wake();
    m_thread.join();
}

std::size_t RecordWatch::watchedDirectories() const {
    std::lock_guard lock(m_mutex);
    return m_watched;
}

std::uint64_t RecordWatch::walks() const {
    std::lock_guard lock(m_mutex);
    return m_walks;
}

RecordWatch::Answer RecordWatch::latest(std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    const std::uint64_t question = ++m_asked;
    ++m_waiting;
    m_kernel->watch.wake();
    const auto settled = [&] { return m_drained >= question && !m_pending && !m_walking; };
    m_changed.wait_for(lock, wait, [&] { return m_quit || settled(); });
    --m_waiting;
    Answer answer = m_answer;
    answer.current = settled() && m_allWatched && !m_failed;
    return answer;
}

void RecordWatch::run() {
    using Clock = std::chrono::steady_clock;
    DirectoryWatch& watch = m_kernel->watch;
    watchDirectories();
    Clock::time_point first = Clock::now(), last = first;
    // Changes are gathered for a quiet moment, for at most the longest
    // delay, and background walks take at most a tenth of the time (a tree
    // where something changes all the time, as a browser's cache does, is
    // walked again only so often); a question waiting walks at once.
    Clock::time_point rested = first;
    const auto due = [&] { return std::max(std::min(last + m_settings.quiet, first + m_settings.longest), rested); };
    for (;;) {
        std::uint64_t asked = 0;
        int timeoutMs = -1;
        {
            std::lock_guard lock(m_mutex);
            if (m_quit) return;
            asked = m_asked;
            // A question whose wake an earlier wait took is answered now.
            if (asked > m_drained) timeoutMs = 0;
            else if (m_pending) {
                timeoutMs = m_waiting > 0
                                ? 0
                                : static_cast<int>(std::max<std::int64_t>(
                                    0, std::chrono::ceil<std::chrono::milliseconds>(due() - Clock::now()).count()));
            }
        }
        // Every change told of before the question was asked is read here.
        const DirectoryWatch::Outcome outcome = watch.wait(timeoutMs);
        const Clock::time_point now = Clock::now();
        bool walkNow = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_quit) return;
            if (outcome == DirectoryWatch::Outcome::Changed) {
                if (!m_pending) first = now;
                m_pending = true;
                last = now;
            }
            m_drained = std::max(m_drained, asked);
            walkNow = m_pending && (m_waiting > 0 || now >= due());
            if (walkNow) {
                m_pending = false; // a change from now on calls for another walk
                m_walking = true;
            }
        }
        m_changed.notify_all();
        if (walkNow) {
            refresh();
            const Clock::time_point end = Clock::now();
            rested = end + 9 * (end - now);
            first = last = end;
        }
    }
}

void RecordWatch::refresh() {
    std::shared_ptr<const WalkRecord> previous;
    std::shared_ptr<const std::vector<std::uint64_t>> previousSignatures;
    {
        std::lock_guard lock(m_mutex);
        previous = m_answer.record;
        previousSignatures = m_answer.signatures;
    }
    SimList search;
    search.InitSimList("", 1);
    auto walk = std::make_unique<ParallelWalk>(search, m_options, std::max(1u, std::thread::hardware_concurrency()));
    walk->record(m_optionsText);
    walk->verify(previous);
    {
        std::lock_guard lock(m_mutex);
        if (m_quit) {
            m_walking = false;
            return;
        }
        m_walk = walk.get();
    }
    walk->start(m_roots);
    walk->wait();
    {
        std::lock_guard lock(m_mutex);
        m_walk = nullptr;
    }
    std::optional<WalkRecord> record;
    std::shared_ptr<const WalkRecordWriter> writer = walk->takeRecord();
    if (writer) record = WalkRecord::parse(writer->serialize(false));
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sameBlocks = walk->blocksFromRecord();
    walk.reset();
    {
        std::lock_guard lock(m_mutex);
        if (!record) {
            // Stopped, or the root could not be listed: the record kept is
            // no longer known to be current.
            m_failed = true;
            m_walking = false;
        }
    }
    if (!record) {
        m_changed.notify_all();
        return;
    }
    auto shared = std::make_shared<const WalkRecord>(std::move(*record));
    // Only the names of the directories listed again are signed anew.
    auto signatures = std::make_shared<const std::vector<std::uint64_t>>(
        recordSignatures(*shared, KnownSignatures{*previous, *previousSignatures, sameBlocks}));
    previous.reset();
    previousSignatures.reset();
    if (m_settings.refreshed) m_settings.refreshed(std::move(writer));
    {
        std::lock_guard lock(m_mutex);
        m_answer.record = std::move(shared);
        m_answer.signatures = std::move(signatures);
        m_failed = false;
        ++m_walks;
    }
    watchDirectories();
    {
        std::lock_guard lock(m_mutex);
        m_walking = false;
    }
    m_changed.notify_all();
}

void RecordWatch::watchDirectories() {
    std::shared_ptr<const WalkRecord> record;
    {
        std::lock_guard lock(m_mutex);
        record = m_answer.record;
    }
    const std::size_t budget = m_settings.budget;
    std::vector<std::string> directories = toka::recordedDirectories(*record, budget + 1);
    if (!m_settings.ignored.empty())
        std::erase_if(directories, [&](const std::string& d) { return d.starts_with(m_settings.ignored); });
    const bool fits = directories.size() <= budget;
    if (!fits) directories.resize(budget);
    std::size_t added = 0;
    std::size_t watched = m_kernel->watch.watched();
    // Most changes make or remove files only: the same directories (known
    // by a 128-bit hash of their paths, NUL-separated), every one of them
    // still watched, keep their watches without a look.
    const std::unique_ptr<XXH3_state_t, XXH_errorcode (*)(XXH3_state_t*)> state(XXH3_createState(), XXH3_freeState);
    std::array<std::uint64_t, 2> listHash{};
    bool hashed = state && XXH3_128bits_reset(state.get()) == XXH_OK;
    for (const std::string& directory : directories)
        hashed = hashed && XXH3_128bits_update(state.get(), directory.c_str(), directory.size() + 1) == XXH_OK;
    if (hashed) {
        const XXH128_hash_t digest = XXH3_128bits_digest(state.get());
        listHash = {digest.low64, digest.high64};
    }
    const bool same =
        hashed && watched == directories.size() && directories.size() == m_watchListSize && listHash == m_watchListHash;
    if (!same) {
        watched = m_kernel->watch.watchOnly(directories, &added);
        m_watchListHash = listHash;
        m_watchListSize = directories.size();
    }
    if (m_settings.watching) m_settings.watching(watched);
    std::lock_guard lock(m_mutex);
    m_watched = watched;
    m_allWatched = fits && watched == directories.size();
    // A directory watched only now may have changed after the walk listed
    // it and before its watch stood: one more walk finds out.
    if (added > 0) m_pending = true;
}

} // namespace toka
