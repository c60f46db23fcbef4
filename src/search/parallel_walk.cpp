#include "search/parallel_walk.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cerrno>
#include <condition_variable>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <map>
#include <optional>
#include <queue>
#include <thread>

#include "platform/core/access_rights.h"
#include "platform/core/directory_identity.h"
#include "platform/core/paths.h"
#include "platform/listing/dir_listing.h"
#include "platform/listing/file_system_trust.h"
#include "platform/listing/mount_table.h"
#include "search/listing_check.h"
#include "search/name_index.h"
#include "search/walk_chain.h"
#include "search/walk_order.h"
#include "search/walk_record_store.h"

namespace toka {

namespace {

constexpr std::size_t kChunkSize = 32 * 1024;
// Entries taken from a record between two looks at the stop request: about
// what one listing chunk holds.
constexpr std::uint32_t kEntriesPerStopTest = 1024;
// A leaf is answered by the worker that has its parent when it holds at
// most kLeafEntries recorded entries (a task would cost more than a tenth of
// rating it: an open, a statx, a close and the queue, some 3 us against
// 0.1 us a name), and while the parent's leaves answered so took at most
// kLeafEntriesPerDirectory (about 0.4 ms of rating); the other leaves go to
// every worker as tasks.  Rated by the parent's worker, the 1000 leaves of
// 1000 entries of a tree of large directories took half the live walk's
// time instead of 0.27 of it (in process): on one thread, and against the
// empty list's bounds, which rise only as the parent's task is merged
// (three times as many names were scored in full).
constexpr std::uint32_t kLeafEntries = 256;
constexpr std::uint32_t kLeafEntriesPerDirectory = 4096;
// The live directory name is replaced at most this often.
constexpr std::int64_t kStatusIntervalNs = 20'000'000;

std::int64_t monotonicNs() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// A directory the walk entered: its name in its parent (a root's: the
// root's whole path, ending in "/") and its identity.  A chain of them is a
// directory's path, shared by everything found below it: its full path is
// spelt out only where it is needed (the list's entries, a listing's
// filters), and a directory met again on its chain is a loop (a bind mount
// showing an ancestor).
struct EnteredDir {
    std::string name;
    DirectoryIdentity id;
};
using DirChain = Chain<EnteredDir>;

// The full path of the directory at the end of dir (ending in "/") into out,
// and, when ids is given, the identities along dir from its root.
void spellPath(const DirChain& dir, std::string& out, std::vector<DirectoryIdentity>* ids = nullptr) {
    // Filled from the end, up the chain: the root's name ends in "/", every
    // other name is followed by one.
    std::size_t length = 0;
    for (const DirChain::Node* node = dir.node(); node; node = node->parent)
        length += node->part.name.size() + (node->parent ? 1 : 0);
    out.resize(length);
    if (ids) ids->resize(dir.depth());
    std::size_t end = length;
    for (const DirChain::Node* node = dir.node(); node; node = node->parent) {
        if (node->parent) out[--end] = '/';
        end -= node->part.name.size();
        out.replace(end, node->part.name.size(), node->part.name);
        if (ids) (*ids)[node->depth - 1] = node->part.id;
    }
}

bool isAmong(const std::vector<DirectoryIdentity>& ids, const DirectoryIdentity& id) {
    return std::any_of(ids.begin(), ids.end(),
                       [&](const DirectoryIdentity& other) { return other.isSameDirectory(id); });
}

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
    DirChain parent;  // empty for a root
    std::string name; // in the parent; a root's: its path, ending in "/"
    std::shared_ptr<RootState> root;
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
    // The directory's block in the record being verified, when it has one.
    std::optional<std::uint32_t> oldBlock;
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
    DirChain dir;
    SimList::RatedScore rated; // against the cut-off the worker read
};

// Rates candidate into list as RateFile does, with the score the worker took
// (the list's cut-off has only risen since); its directory's path is spelt
// (into path) only for an entry that the list takes.
void rateCandidate(SimList& list, const Candidate& candidate, bool fuzzy, std::string& path) {
    const Real48 score = list.ScoreAgainst(candidate.name, candidate.rated, fuzzy, list.CutOff());
    if (!list.Admits(score)) return;
    spellPath(candidate.dir, path);
    list.InsertRanked(candidate.name, path, score);
}

// What a worker keeps from one directory to the next.
struct Worker {
    std::vector<char> buffer = std::vector<char>(kChunkSize);
    std::vector<std::pair<OrderKey, Candidate>> candidates;
    WalkRecordBlock block;     // the directory in hand, for the new record
    WalkRecordBlock leafBlock; // a subdirectory answered from the old one
    std::vector<Child> leafSubdirs;
    // The full path of the directory in hand and the identities of the
    // directories from its root down to it (or, before it is entered, to its
    // parent), and the path of a subdirectory being answered from the
    // record.  path and ancestors are extended by one level when the next
    // task is a subdirectory of the last one, and spelt from the task's
    // chain otherwise.
    std::string path;
    std::vector<DirectoryIdentity> ancestors;
    std::string leafPath;
    DirChain pathDir; // the directory that path and ancestors end with, if any
    // The trust of each device met, one fstatfs per device and worker.
    std::vector<std::pair<dev_t, FileSystemTrust>> trust;

    FileSystemTrust trustOf(dev_t dev, int fd) {
        for (const auto& [known, value] : trust)
            if (known == dev) return value;
        trust.emplace_back(dev, fileSystemTrust(fd));
        return trust.back().second;
    }
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
    std::string mergePath; // spells the paths of the entries merged
    int rootError = 0;
    std::mutex skippedMutex;
    std::optional<MountTable> mountTable;
    std::once_flag mountTableOnce;
    std::unique_ptr<WalkRecordWriter> recorder; // set before start, when recording
    std::string recordOptions;
    std::atomic<bool> recordFailed{false};
    // The record being verified, once start found it usable; never changes
    // after start.
    std::shared_ptr<const WalkRecord> previous;
    // The letter-pair counts of previous's groups for the search text
    // (name_index.h): made by the first worker that takes entries from the
    // record; until they are made, or without an index, every recorded name
    // is rated.  Set by start, with previous.
    std::optional<SharedGroupCounts> groups;
    std::atomic<std::uint64_t> listedDirectories{0};
    // The new record's blocks taken whole from previous: (new, old).
    mutable std::mutex sameBlocksMutex;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sameBlocks;
    void noteSameBlock(std::optional<std::uint32_t> block, std::uint32_t old) {
        if (!block) return;
        std::lock_guard lock(sameBlocksMutex);
        sameBlocks.emplace_back(*block, old);
    }
    std::atomic<std::uint64_t> directoriesFromRecord{0};

    std::vector<std::thread> threads;

    Shared(const SimList& s, ScanOptions o, unsigned n, ParallelWalkHooks h)
        : search(s), options(o), matcher(o.filter), threadCount(std::max(1u, n)), hooks(std::move(h)), list(s) {}

    void work(unsigned worker);
    // Lists one directory (or takes its entries from the record being
    // verified); returns its subdirectories as tasks, in order, and, when
    // there are any, the directory's descriptor in listed.
    std::vector<Task> listDirectory(const Task& task, Worker& worker, UniqueFd& listed);
    // The subdirectory child of the directory of task, open as dirFd, when
    // its recorded entries hold no directory to enter and its stamp, read
    // through dirFd, stands: its entries are rated and recorded from the
    // record here, and true returned.  False: it is to be walked as a task.
    bool answerLeafFromRecord(const Task& task, const Child& child, std::uint32_t oldChild, int dirFd,
                              const DirChain& dir, const FileSystemTrust& trust, std::optional<std::uint32_t> blockId,
                              Worker& worker);
    // The blocks of the record being verified for the subdirectories of
    // task's directory, one per child (std::nullopt: none): matched by index
    // when the directory's entries came from that record, else by name.
    std::vector<std::optional<std::uint32_t>> oldBlocksOf(const Task& task, bool fromRecord,
                                                          const std::vector<Child>& subdirs) const;
    // The listed directory's block; its id, or nothing when recording failed.
    std::optional<std::uint32_t> recordBlock(std::optional<std::uint32_t> parent, std::uint32_t index,
                                             std::uint64_t listed, const WalkRecordBlock& block,
                                             const std::optional<DirectoryStamp>& stamp);
    // Opens the task's directory, whose path is path.
    // ancestors: the identities of the directories above it.
    std::optional<UniqueFd> enter(const Task& task, const std::string& path,
                                  const std::vector<DirectoryIdentity>& ancestors, DirectoryStatus& found);
    struct EntrySink;
    // Visits block's entries from the record being verified, rating only
    // the groups whose letter pairs may reach the sink's cut-off; with
    // stoppable, a stop ends it early.
    void visitRecorded(EntrySink& sink, std::uint32_t block, bool stoppable);
    void mergeReadyLocked(bool all);
    void reportSkipped(std::string_view dir, int error);
    // The task's directory could not be listed: skipped, or the root's error.
    void cannotList(const Task& task, const std::string& path, int error);
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

void ParallelWalk::verify(std::shared_ptr<const WalkRecord> record) { m_shared->previous = std::move(record); }

bool ParallelWalk::verifying() const { return m_shared->previous != nullptr; }

std::uint64_t ParallelWalk::listedDirectories() const { return m_shared->listedDirectories.load(); }

std::uint64_t ParallelWalk::directoriesFromRecord() const { return m_shared->directoriesFromRecord.load(); }

std::vector<std::pair<std::uint32_t, std::uint32_t>> ParallelWalk::blocksFromRecord() const {
    std::lock_guard lock(m_shared->sameBlocksMutex);
    return m_shared->sameBlocks;
}

void ParallelWalk::start(std::vector<WalkRoot> roots) {
    Shared& s = *m_shared;
    // Taken before any directory's stamp is read: what a later verifying
    // walk measures the stamps' raciness against.
    const FileTime startTime = currentFileTime();
    const std::uint32_t access = accessFingerprint();
    if (s.previous) {
        const std::string_view options = s.previous->options();
        const bool sameOptions =
            options == recordedOptions(s.options, false) || options == recordedOptions(s.options, true);
        if (!sameOptions || s.previous->roots() != walkRootPaths(roots) || s.previous->accessFingerprint() != access)
            s.previous.reset();
    }
    if (s.previous)
        s.groups.emplace(s.previous->nameIndex(), s.search.SearchText(),
                         s.search.Filter().queryLength(s.options.fuzzy));
    if (!s.recordOptions.empty()) {
        std::vector<std::string> paths = walkRootPaths(roots);
        // A root without a path is never listed; a record cannot name it.
        if (std::none_of(paths.begin(), paths.end(), [](const std::string& p) { return p.empty(); }))
            s.recorder = std::make_unique<WalkRecordWriter>(s.recordOptions, std::move(paths), startTime, access);
    }
    {
        std::lock_guard lock(s.mutex);
        for (std::size_t i = 0; i < roots.size(); ++i) {
            auto state = std::make_shared<RootState>();
            state->path = normalizeDirectoryPath(roots[i].path);
            state->root = std::move(roots[i]);
            Task task;
            task.key = OrderKey::root(static_cast<std::uint32_t>(i));
            task.name = state->path;
            task.root = std::move(state);
            task.rootIndex = i;
            task.recordIndex = static_cast<std::uint32_t>(i);
            if (s.previous) {
                for (const std::uint32_t block : s.previous->rootBlocks())
                    if (s.previous->indexInParent(block) == i) task.oldBlock = block;
            }
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
    std::string path;
    for (const auto& [key, candidate] : m_shared->ready) rateCandidate(dest, candidate, m_shared->options.fuzzy, path);
}

void ParallelWalk::takeList(SimList& dest) {
    std::lock_guard lock(m_shared->mutex);
    assert(m_shared->done.load() && m_shared->ready.empty());
    dest = std::move(m_shared->list);
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

void ParallelWalk::Shared::cannotList(const Task& task, const std::string& path, int error) {
    if (!task.parent.empty() || task.root->root.reportAsSkipped) {
        reportSkipped(path, error);
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
        rateCandidate(list, it->second, options.fuzzy, mergePath);
    ready.erase(ready.begin(), it);
    cutOffBound.store(list.CutOff(), std::memory_order_relaxed);
    lastRankBound.store(list.LastRankScore(), std::memory_order_relaxed);
}

std::optional<UniqueFd> ParallelWalk::Shared::enter(const Task& task, const std::string& path,
                                                    const std::vector<DirectoryIdentity>& ancestors,
                                                    DirectoryStatus& found) {
    const RootState& root = *task.root;
    const bool isRoot = task.parent.empty();
    auto open = [&]() -> Result<UniqueFd> {
        if (isRoot) return openDirectory(root.path);
        if (task.parentFd >= 0) return openSubdirectory(task.parentFd, task.name.c_str());
        return openDirectoryBelow(root.fd.get(), std::string_view(path).substr(root.path.size()));
    };
    auto fd = open();
    int error = fd ? 0 : fd.error().code;
    // Identity and stamp in one statx, before the directory is listed: a
    // change made while it is listed then shows as a stamp that differs.
    std::optional<DirectoryStatus> read;
    if (error == 0 && !(read = directoryStatus(fd->get()))) error = errno;
    if (error != 0) {
        cannotList(task, path, error);
        return std::nullopt;
    }
    found = *read;
    const DirectoryIdentity& id = found.id;
    if (isRoot) {
        if (isPseudo(fd->get(), id.dev)) return std::nullopt; // left out on purpose
        return std::move(*fd);
    }
    if (isAmong(ancestors, id)) return std::nullopt; // a loop
    const bool stay = root.root.stayOnFileSystem || options.filter.oneFileSystem;
    if (id.crossesMountFrom(task.parent.last().id) && (stay || isPseudo(fd->get(), id.dev))) return std::nullopt;
    return std::move(*fd);
}

std::optional<std::uint32_t> ParallelWalk::Shared::recordBlock(std::optional<std::uint32_t> parent, std::uint32_t index,
                                                               std::uint64_t listed, const WalkRecordBlock& block,
                                                               const std::optional<DirectoryStamp>& stamp) {
    try {
        return recorder->addBlock(parent, index, listed, block, stamp);
    } catch (const std::exception&) {
        // Cannot happen for what getdents returns; the walk goes on unrecorded.
        recordFailed.store(true);
        return std::nullopt;
    }
}

// Rates one directory's entries in order, as listed or as recorded, keeps
// the candidates, notes the subdirectories to enter and fills the
// directory's block of the new record.
struct ParallelWalk::Shared::EntrySink {
    EntrySink(Shared& s, OrderKey k, const DirChain& c, const std::string& p, int d, int fd, int parent,
              const char* name, bool record, WalkRecordBlock& b, std::vector<Child>& sub,
              std::vector<std::pair<OrderKey, Candidate>>& found)
        : shared(s), key(std::move(k)), dir(c), path(p), depth(d), dirFd(fd), parentFd(parent), nameInParent(name),
          recording(record), block(b), subdirs(sub), candidates(found) {
        readBounds();
    }

    Shared& shared;
    OrderKey key;
    const DirChain& dir;      // the directory, entered
    const std::string& path;  // its full path
    int depth;                // the directory's; its entries lie at depth + 1
    int dirFd;                // the directory, open; -1: see parentFd
    int parentFd;             // with dirFd -1: the parent, open, and the
    const char* nameInParent; // directory's name in it (opened when needed)
    bool recording;
    WalkRecordBlock& block;
    std::vector<Child>& subdirs;
    std::vector<std::pair<OrderKey, Candidate>>& candidates;
    std::uint32_t index = 0;
    Real48 cutOff{};
    Real48 lastRank{};
    UniqueFd opened; // dirFd's stand-in, once needed

    void readBounds() {
        cutOff = shared.cutOffBound.load(std::memory_order_relaxed);
        lastRank = shared.lastRankBound.load(std::memory_order_relaxed);
    }

    int metadataFd() {
        if (dirFd >= 0) return dirFd;
        if (!opened.valid())
            opened.reset(::openat(parentFd, nameInParent, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        return opened.get();
    }

    EntryType resolve(std::string_view name, const char* terminated) {
        const int fd = metadataFd();
        if (terminated) return resolveType(fd, terminated);
        return resolveType(fd, std::string(name).c_str());
    }

    // terminated: the name NUL-terminated (as in a listing), or null.
    // rate false: the name cannot score against the cut-off (the record's
    // letter pairs say so), and is only entered and recorded.
    void visit(std::string_view name, EntryType type, const char* terminated, bool rate = true) {
        const FilterMatcher& matcher = shared.matcher;
        const std::uint32_t at = index++;
        bool entered = false;
        if (shared.options.recurseDirs && !isDotOrDotDot(name)) {
            if (type == EntryType::Unknown) type = resolve(name, terminated);
            entered = type == EntryType::Directory && matcher.mayEnter(path, name, depth + 1);
            if (entered) subdirs.push_back({at, block.size(), std::string(name)});
        }
        // What is entered is kept (at the index noted above); the rest as
        // the filter says.  "." and ".." never score and are never kept.
        if (recording && (entered || (!isDotOrDotDot(name) && matcher.keepsInRecord(path, name))))
            block.add(name, type);
        if (!rate) return;
        const bool filtered = matcher.active();
        if (filtered) {
            if (type == EntryType::Unknown && matcher.needsType()) type = resolve(name, terminated);
            if (!matcher.passesEarly(name, type)) return;
        }
        const SimList::RatedScore rated = shared.search.Rate(name, shared.options.fuzzy, cutOff);
        if (rated.score.value() <= 0 || rated.score <= lastRank) return;
        // The metadata is read only for an entry that might enter the list.
        if (filtered && matcher.needsLate() && !matcher.passesLate(metadataFd(), path, name, type)) return;
        candidates.emplace_back(key.entry(at), Candidate{std::string(name), dir, rated});
    }
};

std::vector<std::optional<std::uint32_t>> ParallelWalk::Shared::oldBlocksOf(const Task& task, bool fromRecord,
                                                                            const std::vector<Child>& subdirs) const {
    std::vector<std::optional<std::uint32_t>> found(subdirs.size());
    if (!task.oldBlock) return found;
    const auto blocks = previous->children(*task.oldBlock);
    if (blocks.empty() || subdirs.empty()) return found;
    // (index in the old block, block), by index.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byIndex;
    byIndex.reserve(blocks.size());
    for (const std::uint32_t block : blocks) byIndex.emplace_back(previous->indexInParent(block), block);
    std::sort(byIndex.begin(), byIndex.end());
    if (fromRecord) {
        // The entries are the recorded ones, in their order: the listing
        // index of each is its index in the old block.
        auto it = byIndex.begin();
        for (std::size_t i = 0; i < subdirs.size(); ++i) {
            while (it != byIndex.end() && it->first < subdirs[i].index) ++it;
            if (it != byIndex.end() && it->first == subdirs[i].index) found[i] = it->second;
        }
        return found;
    }
    // Listed again: by name.
    std::vector<std::pair<std::string_view, std::uint32_t>> byName;
    byName.reserve(byIndex.size());
    auto next = byIndex.begin();
    std::uint32_t at = 0;
    for (const RecordedEntry entry : previous->entries(*task.oldBlock)) {
        if (next == byIndex.end()) break;
        if (at++ == next->first) byName.emplace_back(entry.name, (next++)->second);
    }
    std::sort(byName.begin(), byName.end());
    for (std::size_t i = 0; i < subdirs.size(); ++i) {
        const std::string_view name = subdirs[i].name;
        const auto match = std::lower_bound(byName.begin(), byName.end(), std::make_pair(name, std::uint32_t{0}));
        if (match != byName.end() && match->first == name) found[i] = match->second;
    }
    return found;
}

bool ParallelWalk::Shared::answerLeafFromRecord(const Task& task, const Child& child, std::uint32_t oldChild, int dirFd,
                                                const DirChain& dir, const FileSystemTrust& trust,
                                                std::optional<std::uint32_t> blockId, Worker& worker) {
    if (!trust.trusted) return false;
    const std::optional<DirectoryStamp> recorded = previous->stamp(oldChild);
    if (!recorded) return false;
    std::string& path = worker.leafPath;
    path.assign(worker.path).append(child.name).push_back('/');
    const int depth = task.depth + 1;
    for (const RecordedEntry entry : previous->entries(oldChild)) {
        if (entry.type == EntryType::Unknown
            || (entry.type == EntryType::Directory && matcher.mayEnter(path, entry.name, depth + 1)))
            return false; // its task opens it
    }
    const std::optional<DirectoryStatus> now = directoryStatusAt(dirFd, child.name.c_str());
    // Gone, no directory, another mount or a loop: its task decides.
    if (!now || now->id.crossesMountFrom(dir.last().id) || isAmong(worker.ancestors, now->id)) return false;
    if (!recordedListingStands(recorded, now->stamp, trust, previous->createdAt())) return false;

    const bool recording = blockId && !recordFailed.load(std::memory_order_relaxed);
    worker.leafBlock.clear();
    worker.leafSubdirs.clear();
    const DirChain leaf = dir.extended({child.name, now->id});
    EntrySink sink(*this, task.key.subtree(child.index), leaf, path, depth, -1, dirFd, child.name.c_str(), recording,
                   worker.leafBlock, worker.leafSubdirs, worker.candidates);
    visitRecorded(sink, oldChild, false);
    assert(worker.leafSubdirs.empty() && "a leaf's recorded entries hold no directory to enter");
    const std::uint64_t listed = previous->listed(oldChild);
    scanned.fetch_add(listed, std::memory_order_relaxed);
    directoriesFromRecord.fetch_add(1, std::memory_order_relaxed);
    if (recording)
        noteSameBlock(recordBlock(*blockId, child.storedIndex, listed, worker.leafBlock, now->stamp), oldChild);
    return true;
}

void ParallelWalk::Shared::visitRecorded(EntrySink& sink, std::uint32_t block, bool stoppable) {
    groups->countOnce(&stop);
    const std::vector<std::uint8_t>* const counts = groups->counts();
    const NameIndex* const index = previous->nameIndex();
    const bool fuzzy = options.fuzzy;
    const int queryLength = search.Filter().queryLength(fuzzy);
    const std::uint64_t firstGroup = counts ? previous->firstGroup(block) : 0;
    bool rate = true;
    std::uint32_t k = 0;
    for (const RecordedEntry entry : previous->entries(block)) {
        if (k % kEntriesPerStopTest == 0 && k > 0) {
            if (stoppable && stop.load(std::memory_order_relaxed)) return;
            sink.readBounds();
        }
        if (counts && k % kNameIndexGroup == 0) {
            const std::uint64_t group = firstGroup + k / kNameIndexGroup;
            rate =
                NameIndex::mayReach((*counts)[group], index->minLength(group), queryLength, fuzzy, sink.cutOff.value());
        }
        sink.visit(entry.name, entry.type, nullptr, rate);
        ++k;
    }
}

std::vector<Task> ParallelWalk::Shared::listDirectory(const Task& task, Worker& worker, UniqueFd& listed) {
    std::vector<Task> children;
    const bool isRoot = task.parent.empty();
    std::string& path = worker.path;
    if (isRoot) {
        path = task.name;
        worker.ancestors.clear();
    } else if (worker.pathDir.node() == task.parent.node()) {
        path.append(task.name).push_back('/'); // a subdirectory of the last one
    } else {
        spellPath(task.parent, path, &worker.ancestors);
        path.append(task.name).push_back('/');
    }
    worker.pathDir = DirChain();
    if (isRoot && path.empty()) {
        cannotList(task, path, ENOENT);
        return children;
    }
    publishStatus(path);
    if (hooks.listing) hooks.listing(path);
    DirectoryStatus here;
    auto fd = enter(task, path, worker.ancestors, here);
    if (!fd) return children;
    const DirChain dir = task.parent.extended({task.name, here.id});
    worker.pathDir = dir;
    worker.ancestors.push_back(here.id);
    int listFd = fd->get();
    if (isRoot) {
        // The tasks below open their directories relative to the root's
        // descriptor; none of them exists before this listing ends.
        task.root->fd = std::move(*fd);
        listFd = task.root->fd.get();
    }

    const bool recording = recorder && !recordFailed.load(std::memory_order_relaxed);
    const FileSystemTrust trust = previous || recording ? worker.trustOf(here.id.dev, listFd) : FileSystemTrust{};
    const bool fromRecord =
        task.oldBlock
        && recordedListingStands(previous->stamp(*task.oldBlock), here.stamp, trust, previous->createdAt());
    std::vector<Child> subdirs;
    worker.block.clear();
    EntrySink sink(*this, task.key, dir, path, task.depth, listFd, -1, nullptr, recording, worker.block, subdirs,
                   worker.candidates);
    std::uint64_t count = 0; // entries listed, "." and ".." included
    bool complete = true;    // the whole listing was read
    if (fromRecord) {
        visitRecorded(sink, *task.oldBlock, true);
        count = previous->listed(*task.oldBlock);
        scanned.fetch_add(count, std::memory_order_relaxed);
        directoriesFromRecord.fetch_add(1, std::memory_order_relaxed);
    } else {
        std::uint64_t counted = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            long filled = readDirectoryChunk(listFd, worker.buffer.data(), worker.buffer.size());
            if (filled < 0) {
                reportSkipped(path, errno); // the rest of the listing is lost
                complete = false;
            }
            if (filled <= 0) break;
            sink.readBounds();
            DirentCursor cursor(worker.buffer.data(), worker.buffer.data() + filled);
            DirEntry entry;
            while (cursor.next(entry)) {
                ++counted;
                // entry.name is NUL-terminated inside the getdents64 record.
                sink.visit(entry.name, entry.type, entry.name.data());
            }
            scanned.fetch_add(counted, std::memory_order_relaxed);
            count += counted;
            counted = 0;
        }
        listedDirectories.fetch_add(1, std::memory_order_relaxed);
    }
    if (stop.load(std::memory_order_relaxed)) return children;
    std::optional<std::uint32_t> blockId;
    // A listing cut short, or on a file system whose times are not
    // trusted, keeps no stamp: a verifying walk lists it again.
    if (recording) {
        blockId = recordBlock(task.recordParent, task.recordIndex, count, worker.block,
                              complete && trust.trusted ? std::optional(here.stamp) : std::nullopt);
        if (fromRecord) noteSameBlock(blockId, *task.oldBlock);
    }

    const std::vector<std::optional<std::uint32_t>> oldBlocks = oldBlocksOf(task, fromRecord, subdirs);
    children.reserve(subdirs.size());
    std::uint32_t leafEntriesLeft = kLeafEntriesPerDirectory;
    for (std::size_t i = 0; i < subdirs.size(); ++i) {
        if (stop.load(std::memory_order_relaxed)) return children; // dropped by the caller
        Child& child = subdirs[i];
        if (oldBlocks[i]) {
            const std::uint32_t entries = previous->entries(*oldBlocks[i]).size();
            if (entries <= kLeafEntries && entries <= leafEntriesLeft
                && answerLeafFromRecord(task, child, *oldBlocks[i], listFd, dir, trust, blockId, worker)) {
                leafEntriesLeft -= entries;
                continue;
            }
        }
        Task sub;
        sub.key = task.key.subtree(child.index);
        sub.parent = dir;
        sub.name = std::move(child.name);
        sub.root = task.root;
        sub.rootIndex = task.rootIndex;
        sub.depth = task.depth + 1;
        sub.recordParent = blockId;
        sub.recordIndex = child.storedIndex;
        sub.oldBlock = oldBlocks[i];
        children.push_back(std::move(sub));
    }
    if (!isRoot && !children.empty()) listed = std::move(*fd);
    return children;
}

void ParallelWalk::Shared::work(unsigned worker) {
    Worker state;
    std::vector<std::pair<OrderKey, Candidate>>& candidates = state.candidates;
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
        std::vector<Task> children = listDirectory(task, state, listed);

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
