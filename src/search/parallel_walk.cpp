#include "search/parallel_walk.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <map>
#include <optional>
#include <queue>
#include <thread>

#include "platform/core/directory_identity.h"
#include "platform/core/paths.h"
#include "platform/listing/dir_listing.h"
#include "platform/listing/mount_table.h"
#include "search/walk_order.h"

namespace toka {

namespace {

constexpr std::size_t kChunkSize = 32 * 1024;
// The live directory name is replaced at most this often.
constexpr std::int64_t kStatusIntervalNs = 20'000'000;

std::int64_t monotonicNs() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// The directories from a task's parent up to its root: a directory found
// among them again is a loop (a bind mount showing an ancestor).
struct Ancestor {
    DirectoryIdentity id;
    std::shared_ptr<const Ancestor> parent;
};

// A root's descriptor, shared by every task below it: the tasks open their
// directories relative to it, so that a path never depends on a link.
struct RootState {
    WalkRoot root;
    std::string path; // normalised, ends in "/"
    UniqueFd fd;      // set by the root's own task before any task below it
};

// One directory to list.
struct Task {
    OrderKey key;     // the directory's place in the one-thread order
    std::string path; // ends in "/"
    std::shared_ptr<RootState> root;
    std::shared_ptr<const Ancestor> parent; // null for a root
    std::size_t rootIndex = 0;
    int depth = 0; // the root's is 0, its entries lie at depth 1
    // Where the directory's block goes in the record: its parent's block
    // (none for a root) and its index among the parent's stored entries (a
    // root's index).
    std::optional<std::uint32_t> recordParent;
    std::uint32_t recordIndex = 0;
    // The parent's open descriptor, for the subdirectory a worker keeps for
    // itself (-1 otherwise): a chain of directories is entered one openat at
    // a time, however deep, instead of along its whole path each time.
    int parentFd = -1;
};

struct TaskAfter {
    bool operator()(const Task& a, const Task& b) const { return b.key < a.key; }
};

// A subdirectory found by a listing: entry index and name.
struct Child {
    std::uint32_t index;
    std::uint32_t storedIndex; // in the directory's record block
    std::string name;
};

// An entry that might enter the list, with its directory.
struct Candidate {
    std::string name;
    std::shared_ptr<const std::string> dir;
};

} // namespace

struct ParallelWalk::Shared {
    const SimList& search;
    ScanOptions options;
    FilterMatcher matcher;
    unsigned threadCount;
    ParallelWalkHooks hooks;

    // Bounds every entry still to be merged must beat to be kept: the
    // merged list's cut-off and last rank, which only grow along the order.
    std::atomic<Real48> cutOffBound{};
    std::atomic<Real48> lastRankBound{};
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> scanned{0};
    std::atomic<std::uint64_t> skipped{0}; // directories that could not be listed
    std::atomic<std::int64_t> lastStatusNs{0};

    mutable std::mutex statusMutex;
    std::string status;

    // Everything below is guarded by mutex.
    mutable std::mutex mutex;
    std::condition_variable workAvailable;
    std::priority_queue<Task, std::vector<Task>, TaskAfter> queue;
    std::vector<std::optional<OrderKey>> inProgress; // per worker
    unsigned running = 0;                            // workers not yet ended
    std::map<OrderKey, Candidate> ready;             // listed, not yet merged
    SimList list;
    int rootError = 0;
    std::mutex skippedMutex;
    std::optional<MountTable> mountTable;
    std::once_flag mountTableOnce;
    std::unique_ptr<WalkRecordWriter> recorder; // set before start, when recording
    std::string recordOptions;
    std::atomic<bool> recordFailed{false};

    std::vector<std::thread> threads;

    Shared(const SimList& s, ScanOptions o, unsigned n, ParallelWalkHooks h)
        : search(s), options(o), matcher(o.filter), threadCount(std::max(1u, n)), hooks(std::move(h)), list(s) {}

    void work(unsigned worker);
    // Lists one directory; returns its subdirectories as tasks, in order,
    // and, when there are any, the directory's descriptor in listed.
    std::vector<Task> listDirectory(const Task& task, std::vector<std::pair<OrderKey, Candidate>>& candidates,
                                    std::vector<char>& buffer, WalkRecordBlock& block, UniqueFd& listed);
    // The listed directory's block; its id, or nothing when recording failed.
    std::optional<std::uint32_t> recordBlock(const Task& task, std::uint64_t listed, const WalkRecordBlock& block);
    std::optional<UniqueFd> enter(const Task& task, DirectoryIdentity& id);
    void mergeReadyLocked(bool all);
    void reportSkipped(std::string_view dir, int error);
    // The task's directory could not be listed: skipped, or the root's error.
    void cannotList(const Task& task, int error);
    void publishStatus(const std::string& dir);
    bool isPseudo(int fd, dev_t dev);
};

std::vector<WalkRoot> fixedVolumeRoots(const std::vector<Volume>& volumes) {
    std::vector<WalkRoot> roots;
    for (const Volume& volume : volumes)
        if (volume.kind == VolumeKind::Fixed) roots.push_back({volume.path, true, true});
    return roots;
}

std::vector<std::string> walkRootPaths(const std::vector<WalkRoot>& roots) {
    std::vector<std::string> paths;
    for (const WalkRoot& root : roots) paths.push_back(normalizeDirectoryPath(root.path));
    return paths;
}

ParallelWalk::ParallelWalk(const SimList& search, ScanOptions options, unsigned threads, ParallelWalkHooks hooks)
    : m_shared(std::make_unique<Shared>(search, options, threads, std::move(hooks))) {}

ParallelWalk::~ParallelWalk() {
    requestStop();
    wait();
}

unsigned ParallelWalk::defaultThreads() { return std::clamp(2 * std::thread::hardware_concurrency(), 2u, 64u); }

void ParallelWalk::record(std::string options) { m_shared->recordOptions = std::move(options); }

std::unique_ptr<WalkRecordWriter> ParallelWalk::takeRecord() {
    Shared& s = *m_shared;
    std::lock_guard lock(s.mutex);
    if (!s.done.load() || s.stop.load() || s.recordFailed.load() || s.rootError != 0) return nullptr;
    if (s.recorder) s.recorder->setSkippedDirectories(s.skipped.load());
    return std::move(s.recorder);
}

void ParallelWalk::start(std::vector<WalkRoot> roots) {
    Shared& s = *m_shared;
    if (!s.recordOptions.empty()) {
        std::vector<std::string> paths = walkRootPaths(roots);
        // A root without a path is never listed; a record cannot name it.
        if (std::none_of(paths.begin(), paths.end(), [](const std::string& p) { return p.empty(); }))
            s.recorder = std::make_unique<WalkRecordWriter>(s.recordOptions, std::move(paths), std::time(nullptr));
    }
    {
        std::lock_guard lock(s.mutex);
        for (std::size_t i = 0; i < roots.size(); ++i) {
            auto state = std::make_shared<RootState>();
            state->path = normalizeDirectoryPath(roots[i].path);
            state->root = std::move(roots[i]);
            Task task;
            task.key = OrderKey::root(static_cast<std::uint32_t>(i));
            task.path = state->path;
            task.root = std::move(state);
            task.rootIndex = i;
            task.recordIndex = static_cast<std::uint32_t>(i);
            s.queue.push(std::move(task));
        }
        s.inProgress.assign(s.threadCount, std::nullopt);
        s.running = s.threadCount;
    }
    for (unsigned w = 0; w < s.threadCount; ++w) s.threads.emplace_back([&s, w] { s.work(w); });
}

void ParallelWalk::wait() {
    for (std::thread& thread : m_shared->threads)
        if (thread.joinable()) thread.join();
}

bool ParallelWalk::finished() const { return m_shared->done.load(); }

void ParallelWalk::requestStop() {
    m_shared->stop.store(true);
    std::lock_guard lock(m_shared->mutex);
    m_shared->workAvailable.notify_all();
}

bool ParallelWalk::stopRequested() const { return m_shared->stop.load(); }

std::uint64_t ParallelWalk::scannedEntries() const { return m_shared->scanned.load(std::memory_order_relaxed); }

std::uint64_t ParallelWalk::skippedDirectories() const { return m_shared->skipped.load(std::memory_order_relaxed); }

void ParallelWalk::copyList(SimList& dest) const {
    std::lock_guard lock(m_shared->mutex);
    dest = m_shared->list;
    // What was found beyond the first directory still being listed goes in
    // too, in order, so that a directory that takes long (a slow mount)
    // does not hide the rest; the final list has no such part.
    for (const auto& [key, candidate] : m_shared->ready)
        dest.RateFile(candidate.name, *candidate.dir, m_shared->options.fuzzy);
}

std::string ParallelWalk::currentDirectory() const {
    std::lock_guard lock(m_shared->statusMutex);
    return m_shared->status;
}

int ParallelWalk::rootError() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->rootError;
}

void ParallelWalk::Shared::reportSkipped(std::string_view dir, int error) {
    skipped.fetch_add(1, std::memory_order_relaxed);
    if (!hooks.skipped) return;
    std::lock_guard lock(skippedMutex);
    hooks.skipped(dir, error);
}

void ParallelWalk::Shared::cannotList(const Task& task, int error) {
    if (task.parent || task.root->root.reportAsSkipped) {
        reportSkipped(task.path, error);
    } else if (task.rootIndex == 0) {
        std::lock_guard lock(mutex);
        rootError = error;
    }
}

void ParallelWalk::Shared::publishStatus(const std::string& dir) {
    const std::int64_t now = monotonicNs();
    std::int64_t last = lastStatusNs.load(std::memory_order_relaxed);
    if (now - last < kStatusIntervalNs || !lastStatusNs.compare_exchange_strong(last, now)) return;
    std::lock_guard lock(statusMutex);
    status = dir;
}

bool ParallelWalk::Shared::isPseudo(int fd, dev_t dev) {
    std::call_once(mountTableOnce, [this] { mountTable = MountTable::current(); });
    return mountTable->isPseudo(fd, dev);
}

void ParallelWalk::Shared::mergeReadyLocked(bool all) {
    // Everything before the first directory still queued or being listed
    // is listed: its candidates go into the list in order.
    std::optional<OrderKey> frontier;
    if (!all) {
        if (!queue.empty()) frontier = queue.top().key;
        for (const auto& key : inProgress)
            if (key && (!frontier || *key < *frontier)) frontier = *key;
    }
    auto it = ready.begin();
    for (; it != ready.end() && (!frontier || it->first < *frontier); ++it)
        list.RateFile(it->second.name, *it->second.dir, options.fuzzy);
    ready.erase(ready.begin(), it);
    cutOffBound.store(list.CutOff(), std::memory_order_relaxed);
    lastRankBound.store(list.LastRankScore(), std::memory_order_relaxed);
}

std::optional<UniqueFd> ParallelWalk::Shared::enter(const Task& task, DirectoryIdentity& id) {
    const RootState& root = *task.root;
    const bool isRoot = !task.parent;
    auto open = [&]() -> Result<UniqueFd> {
        if (isRoot) return openDirectory(root.path);
        if (task.parentFd >= 0) {
            const std::size_t start = task.path.rfind('/', task.path.size() - 2) + 1;
            return openSubdirectory(task.parentFd, task.path.substr(start, task.path.size() - 1 - start).c_str());
        }
        return openDirectoryBelow(root.fd.get(), std::string_view(task.path).substr(root.path.size()));
    };
    auto fd = open();
    int error = fd ? 0 : fd.error().code;
    std::optional<DirectoryIdentity> identity;
    if (error == 0 && !(identity = directoryIdentity(fd->get()))) error = errno;
    if (error != 0) {
        cannotList(task, error);
        return std::nullopt;
    }
    id = *identity;
    if (isRoot) {
        if (isPseudo(fd->get(), id.dev)) return std::nullopt; // left out on purpose
        return std::move(*fd);
    }
    for (const Ancestor* a = task.parent.get(); a; a = a->parent.get())
        if (a->id.isSameDirectory(id)) return std::nullopt; // a loop
    const bool stay = root.root.stayOnFileSystem || options.filter.oneFileSystem;
    if (id.crossesMountFrom(task.parent->id) && (stay || isPseudo(fd->get(), id.dev))) return std::nullopt;
    return std::move(*fd);
}

std::optional<std::uint32_t> ParallelWalk::Shared::recordBlock(const Task& task, std::uint64_t listed,
                                                               const WalkRecordBlock& block) {
    try {
        return recorder->addBlock(task.recordParent, task.recordIndex, listed, block);
    } catch (const std::exception&) {
        // Cannot happen for what getdents returns; the walk goes on unrecorded.
        recordFailed.store(true);
        return std::nullopt;
    }
}

std::vector<Task> ParallelWalk::Shared::listDirectory(const Task& task,
                                                      std::vector<std::pair<OrderKey, Candidate>>& candidates,
                                                      std::vector<char>& buffer, WalkRecordBlock& block,
                                                      UniqueFd& listed) {
    std::vector<Task> children;
    const bool isRoot = !task.parent;
    if (isRoot && task.path.empty()) {
        cannotList(task, ENOENT);
        return children;
    }
    publishStatus(task.path);
    if (hooks.listing) hooks.listing(task.path);
    DirectoryIdentity id;
    auto fd = enter(task, id);
    if (!fd) return children;
    int listFd = fd->get();
    if (isRoot) {
        // The tasks below open their directories relative to the root's
        // descriptor; none of them exists before this listing ends.
        task.root->fd = std::move(*fd);
        listFd = task.root->fd.get();
    }

    std::shared_ptr<const std::string> dir; // made for the first candidate
    std::vector<Child> subdirs;
    const bool recurse = options.recurseDirs;
    const bool filtered = matcher.active();
    const bool recording = recorder && !recordFailed.load(std::memory_order_relaxed);
    block.clear();
    std::uint32_t index = 0;
    std::uint64_t counted = 0;
    while (!stop.load(std::memory_order_relaxed)) {
        long filled = readDirectoryChunk(listFd, buffer.data(), buffer.size());
        if (filled < 0) reportSkipped(task.path, errno); // the rest of the listing is lost
        if (filled <= 0) break;
        const Real48 cutOff = cutOffBound.load(std::memory_order_relaxed);
        const Real48 lastRank = lastRankBound.load(std::memory_order_relaxed);
        DirentCursor cursor(buffer.data(), buffer.data() + filled);
        DirEntry entry;
        while (cursor.next(entry)) {
            ++counted;
            const std::uint32_t at = index++;
            bool entered = false;
            if (recurse && !isDotOrDotDot(entry.name)) {
                if (entry.type == EntryType::Unknown) entry.type = resolveType(listFd, entry.name.data());
                entered = entry.type == EntryType::Directory && matcher.mayEnter(task.path, entry.name, task.depth + 1);
                if (entered) subdirs.push_back({at, block.size(), std::string(entry.name)});
            }
            // What is entered is kept (at the index noted above); the rest as
            // the filter says.  "." and ".." never score and are never kept.
            if (recording && (entered || (!isDotOrDotDot(entry.name) && matcher.keepsInRecord(task.path, entry.name))))
                block.add(entry.name, entry.type);
            if (filtered) {
                if (entry.type == EntryType::Unknown && matcher.needsType())
                    entry.type = resolveType(listFd, entry.name.data());
                if (!matcher.passesEarly(entry.name, entry.type)) continue;
            }
            const Real48 score = search.ScoreAgainst(entry.name, options.fuzzy, cutOff);
            if (score.value() <= 0 || score <= lastRank) continue;
            // The metadata is read only for an entry that might enter the list.
            if (filtered && matcher.needsLate() && !matcher.passesLate(listFd, task.path, entry.name, entry.type))
                continue;
            if (!dir) dir = std::make_shared<const std::string>(task.path);
            candidates.emplace_back(task.key.entry(at), Candidate{std::string(entry.name), dir});
        }
        scanned.fetch_add(counted, std::memory_order_relaxed);
        counted = 0;
    }
    if (stop.load(std::memory_order_relaxed)) return children;
    std::optional<std::uint32_t> blockId;
    if (recording) blockId = recordBlock(task, index, block);

    auto ancestor = std::make_shared<const Ancestor>(Ancestor{id, task.parent});
    children.reserve(subdirs.size());
    for (Child& child : subdirs) {
        Task sub;
        sub.key = task.key.subtree(child.index);
        sub.path = task.path + child.name + '/';
        sub.root = task.root;
        sub.parent = ancestor;
        sub.rootIndex = task.rootIndex;
        sub.depth = task.depth + 1;
        sub.recordParent = blockId;
        sub.recordIndex = child.storedIndex;
        children.push_back(std::move(sub));
    }
    if (!isRoot && !children.empty()) listed = std::move(*fd);
    return children;
}

void ParallelWalk::Shared::work(unsigned worker) {
    std::vector<char> buffer(kChunkSize);
    std::vector<std::pair<OrderKey, Candidate>> candidates;
    WalkRecordBlock block;
    std::optional<Task> next;
    UniqueFd heldParent; // the open parent of next
    for (;;) {
        Task task;
        if (next) {
            task = std::move(*next);
            next.reset();
        } else {
            std::unique_lock lock(mutex);
            workAvailable.wait(lock, [&] {
                return stop.load() || !queue.empty()
                       || std::none_of(inProgress.begin(), inProgress.end(),
                                       [](const auto& k) { return k.has_value(); });
            });
            if (stop.load() || queue.empty()) break;
            task = queue.top();
            queue.pop();
            inProgress[worker] = task.key;
        }

        UniqueFd listed;
        std::vector<Task> children = listDirectory(task, candidates, buffer, block, listed);

        std::lock_guard lock(mutex);
        for (auto& [key, candidate] : candidates) ready.emplace(std::move(key), std::move(candidate));
        candidates.clear();
        // The first subdirectory stays with this worker (its key comes
        // first); the others are offered to every worker.
        if (!children.empty() && !stop.load()) {
            next = std::move(children.front());
            // The parent of this task is no longer needed; this one is.
            heldParent = std::move(listed);
            next->parentFd = heldParent.get();
            inProgress[worker] = next->key;
            for (std::size_t i = 1; i < children.size(); ++i) queue.push(std::move(children[i]));
            if (children.size() > 1) workAvailable.notify_all();
        } else {
            heldParent.reset();
            inProgress[worker].reset();
            if (queue.empty()) workAvailable.notify_all(); // perhaps the end
        }
        mergeReadyLocked(false);
    }

    std::lock_guard lock(mutex);
    inProgress[worker].reset();
    workAvailable.notify_all();
    if (--running > 0) return;
    // The last worker out: what is left of the order is complete (or the
    // walk was stopped, and the list keeps what was found).
    while (!queue.empty()) queue.pop();
    mergeReadyLocked(true);
    done.store(true);
    if (hooks.finished) hooks.finished();
}

} // namespace toka
