#include "search/scan.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include "platform/listing/dir_listing.h"
#include "platform/core/directory_identity.h"
#include "platform/listing/mount_table.h"
#include "platform/core/paths.h"
#include "similar/simlist.h"

namespace toka {

namespace {

// 32 KiB per getdents64 call, as glibc's readdir uses: about 700 entries of
// a typical name length per system call.
constexpr std::size_t kChunkSize = 32 * 1024;

std::int64_t monotonicNs() {
    timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

} // namespace

struct Scanner::Impl {
    // One directory level of the walk.  Levels are kept after they end, so
    // that their buffers serve the next directory at the same depth.
    struct Level {
        UniqueFd fd;             // invalid while closed to save descriptors
        std::size_t pathLen = 0; // path[0, pathLen) is this directory, with its "/"
        DirectoryIdentity id;
        std::unique_ptr<char[]> buffer; // kChunkSize bytes while open
        DirentCursor cursor;            // the rest of the chunk in buffer
        DirEntry current;               // the entry in hand
        std::int64_t resumeOffset = 0;  // where a reopened listing goes on
        bool listingDone = false;       // getdents64 said the listing is over
    };

    Scanner& owner;
    FilterMatcher matcher;
    std::vector<Level> levels;
    std::size_t firstOpen = 0; // levels[firstOpen..top] hold open descriptors
    std::string path;          // the path of the deepest level entered
    bool stayOnFileSystem = false;
    int entriesSinceClock = 0;
    bool slowStep = false; // a system call happened since the last clock check
    std::int64_t lastHeartbeat = 0;
    // Read once per ScanDirectory, when the walk first asks.
    std::optional<MountTable> mountTable;

    explicit Impl(Scanner& s) : owner(s), matcher(s.m_options.filter) {}

    int run(std::string_view rootPath, bool stay);
    // False when there is nothing to walk; error is then the errno of the
    // failed read, or 0 for an empty listing.
    bool beginLevel(std::size_t index, UniqueFd fd, const DirectoryIdentity& id, int& error);
    bool fetchNext(Level& level);
    bool descend(std::size_t top);
    void endLevel(std::size_t top);
    // 0, or the errno that kept the level from being reopened.
    int reopen(std::size_t index, int childFd);
    // The directory path[0, pathLen) could not be listed (completely).
    void reportSkipped(std::size_t pathLen, int error);
    void closeShallowest();
    bool isPseudo(int fd, dev_t dev);
    void showStatusIfDue();
    void maybeHeartbeat();
    bool stopRequested() { return owner.m_hooks.stopRequested && owner.m_hooks.stopRequested(); }
    // Rates one entry of level, as the filters allow.
    void rateFiltered(Level& level, std::string_view name, EntryType type);
};

Scanner::Scanner(ScanOptions options, ScanHooks hooks)
    : m_options(options), m_hooks(std::move(hooks)), m_impl(std::make_unique<Impl>(*this)) {
    if (!m_hooks.rate) {
        m_defaultRate = true;
        bool fuzzy = m_options.fuzzy;
        m_hooks.rate = [fuzzy](std::string_view name, std::string_view dir) {
            TheSimList().RateFile(name, dir, fuzzy);
        };
    }
}

Scanner::~Scanner() = default;

int Scanner::ScanDirectory(std::string_view path, bool stayOnFileSystem) {
    return m_impl->run(path, stayOnFileSystem || m_options.filter.oneFileSystem);
}

void Scanner::ScanFixedVolumes(const std::vector<Volume>& volumes) {
    // No stop test here: each walk tests it after its first entry.
    for (const Volume& volume : volumes) {
        if (volume.kind != VolumeKind::Fixed) continue;
        const int error = ScanDirectory(volume.path, true);
        if (error != 0 && m_hooks.skipped) m_hooks.skipped(normalizeDirectoryPath(volume.path), error);
    }
}

void Scanner::Impl::reportSkipped(std::size_t pathLen, int error) {
    if (owner.m_hooks.skipped) owner.m_hooks.skipped(std::string_view(path).substr(0, pathLen), error);
}

void Scanner::Impl::showStatusIfDue() {
    if (owner.m_hooks.status && owner.m_scanned % 12 == 0) {
        std::string text(kScanStatusPrefix);
        text += path;
        owner.m_hooks.status(text);
    }
}

void Scanner::Impl::maybeHeartbeat() {
    if (!owner.m_hooks.heartbeat) return;
    if (++entriesSinceClock < kEntriesPerClockCheck && !slowStep) return;
    entriesSinceClock = 0;
    slowStep = false;
    if (monotonicNs() - lastHeartbeat < kEventIntervalNs) return;
    owner.m_hooks.heartbeat();
    // Measured after the call: a long refresh must not eat the walk's turn.
    lastHeartbeat = monotonicNs();
}

bool Scanner::Impl::isPseudo(int fd, dev_t dev) {
    if (!mountTable) mountTable = MountTable::current();
    return mountTable->isPseudo(fd, dev);
}

bool Scanner::Impl::beginLevel(std::size_t index, UniqueFd fd, const DirectoryIdentity& id, int& error) {
    if (levels.size() <= index) levels.resize(index + 1);
    Level& level = levels[index];
    if (!level.buffer) level.buffer.reset(new char[kChunkSize]);
    long filled = readDirectoryChunk(fd.get(), level.buffer.get(), kChunkSize);
    error = filled < 0 ? errno : 0;
    slowStep = true;
    if (filled <= 0) return false; // unreadable or empty: nothing to count
    level.fd = std::move(fd);
    level.pathLen = path.size();
    level.id = id;
    level.listingDone = false;
    level.cursor = DirentCursor(level.buffer.get(), level.buffer.get() + filled);
    level.cursor.next(level.current);
    return true;
}

bool Scanner::Impl::fetchNext(Level& level) {
    if (level.cursor.next(level.current)) return true;
    if (level.listingDone || !level.fd.valid()) return false;
    if (!level.buffer) level.buffer.reset(new char[kChunkSize]);
    long filled = readDirectoryChunk(level.fd.get(), level.buffer.get(), kChunkSize);
    slowStep = true;
    if (filled <= 0) {
        // A read error part way through loses the rest of the listing.
        if (filled < 0) reportSkipped(level.pathLen, errno);
        level.listingDone = true;
        level.cursor = DirentCursor();
        return false;
    }
    level.cursor = DirentCursor(level.buffer.get(), level.buffer.get() + filled);
    return level.cursor.next(level.current);
}

void Scanner::Impl::closeShallowest() {
    Level& level = levels[firstOpen];
    // Going on after the entry in hand once the level is reopened.
    level.resumeOffset = level.current.nextOffset;
    level.listingDone = false;
    level.cursor = DirentCursor();
    level.buffer.reset();
    level.fd.reset();
    ++firstOpen;
}

int Scanner::Impl::reopen(std::size_t index, int childFd) {
    Level& level = levels[index];
    auto sameDirectory = [&](int fd) {
        auto id = directoryIdentity(fd);
        return id && id->isSameDirectory(level.id);
    };
    UniqueFd fd;
    if (childFd >= 0) {
        fd.reset(::openat(childFd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (fd.valid() && !sameDirectory(fd.get())) fd.reset();
    }
    int error = 0;
    if (!fd.valid()) {
        // The child moved away or ".." leads elsewhere: try the path.
        auto byPath = openDirectory(std::string_view(path).substr(0, level.pathLen));
        if (!byPath) error = byPath.error().code;
        else if (sameDirectory(byPath->get())) fd = std::move(*byPath);
        else error = ENOENT; // another directory took its place
    }
    slowStep = true;
    if (!fd.valid()) return error;
    if (::lseek(fd.get(), level.resumeOffset, SEEK_SET) < 0) return errno;
    level.fd = std::move(fd);
    level.cursor = DirentCursor();
    return 0;
}

void Scanner::Impl::endLevel(std::size_t top) {
    Level& level = levels[top];
    if (top > 0 && !levels[top - 1].fd.valid()) {
        if (int error = reopen(top - 1, level.fd.get()); error == 0) {
            firstOpen = top - 1;
        } else {
            // Gone while the walk was deeper: what was not read of it is lost
            // as it would be had it been deleted.
            reportSkipped(levels[top - 1].pathLen, error);
            levels[top - 1].listingDone = true;
            levels[top - 1].cursor = DirentCursor();
            firstOpen = top - 1;
        }
    }
    level.fd.reset();
    level.cursor = DirentCursor();
    // Deep levels give their buffers back, so that a tree thousands of
    // levels deep costs no more memory than a shallow one.
    if (top >= static_cast<std::size_t>(kMaxOpenLevels)) level.buffer.reset();
}

bool Scanner::Impl::descend(std::size_t top) {
    Level& parent = levels[top];
    const DirEntry& entry = parent.current;
    path.resize(parent.pathLen);
    path.append(entry.name);
    path.push_back('/');

    // entry.name is NUL-terminated inside the getdents64 record.
    UniqueFd fd(
        ::openat(parent.fd.get(), entry.name.data(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
    int error = fd.valid() ? 0 : errno;
    slowStep = true;
    std::optional<DirectoryIdentity> id;
    if (error == 0 && !(id = directoryIdentity(fd.get()))) error = errno;
    if (error != 0) {
        // Cannot be listed: the walk "enters" it and finds nothing.
        showStatusIfDue();
        reportSkipped(path.size(), error);
        return false;
    }
    for (std::size_t i = 0; i <= top; ++i) {
        if (levels[i].id.isSameDirectory(*id)) return false; // a loop
    }
    if (id->crossesMountFrom(parent.id) && (stayOnFileSystem || isPseudo(fd.get(), id->dev))) return false;

    showStatusIfDue();
    if (!beginLevel(top + 1, std::move(fd), *id, error)) {
        if (error != 0) reportSkipped(path.size(), error);
        return false;
    }
    if (top + 2 - firstOpen > static_cast<std::size_t>(kMaxOpenLevels)) closeShallowest();
    return true;
}

void Scanner::Impl::rateFiltered(Level& level, std::string_view name, EntryType type) {
    const std::string_view dir(path.data(), level.pathLen);
    const int dirFd = level.fd.get();
    if (type == EntryType::Unknown && matcher.needsType()) {
        type = dirFd >= 0 ? resolveType(dirFd, std::string(name).c_str())
                          : resolveType(AT_FDCWD, (std::string(dir) + std::string(name)).c_str());
        slowStep = true;
    }
    if (!matcher.passesEarly(name, type)) return;
    if (!matcher.needsLate()) {
        owner.m_hooks.rate(name, dir);
        return;
    }
    if (!owner.m_defaultRate) {
        if (matcher.passesLate(dirFd, dir, name, type)) owner.m_hooks.rate(name, dir);
        return;
    }
    // The metadata is read only for an entry that would enter the list.
    SimList& list = TheSimList();
    const Real48 score = list.ScoreAgainst(name, owner.m_options.fuzzy, list.CutOff());
    if (!list.Admits(score)) return;
    slowStep = true;
    if (matcher.passesLate(dirFd, dir, name, type)) list.InsertRanked(name, dir, score);
}

int Scanner::Impl::run(std::string_view rootPath, bool stay) {
    path = normalizeDirectoryPath(rootPath);
    if (path.empty()) return ENOENT;
    stayOnFileSystem = stay;
    firstOpen = 0;
    mountTable.reset();
    entriesSinceClock = 0;
    lastHeartbeat = monotonicNs();

    showStatusIfDue();
    auto rootFd = openDirectory(path);
    if (!rootFd) return rootFd.error().code;
    auto rootId = directoryIdentity(rootFd->get());
    if (!rootId) return errno;
    if (isPseudo(rootFd->get(), rootId->dev)) return 0; // left out on purpose
    if (int error = 0; !beginLevel(0, std::move(*rootFd), *rootId, error)) return error;

    const bool recurse = owner.m_options.recurseDirs;
    auto& rate = owner.m_hooks.rate;
    std::size_t top = 0;
    bool returning = false; // the entry in hand is a directory just walked
    for (;;) {
        Level& level = levels[top];
        std::string_view name;
        if (returning) {
            // The name of the directory just walked is in the path buffer.
            std::size_t childLen = levels[top + 1].pathLen;
            name = std::string_view(path).substr(level.pathLen, childLen - 1 - level.pathLen);
        } else {
            ++owner.m_scanned;
            DirEntry& entry = level.current;
            if (recurse && !isDotOrDotDot(entry.name)) {
                if (entry.type == EntryType::Unknown) {
                    entry.type = resolveType(level.fd.get(), entry.name.data());
                    slowStep = true;
                }
                if (entry.type == EntryType::Directory
                    && matcher.mayEnter(std::string_view(path.data(), level.pathLen), entry.name, int(top) + 1)
                    && descend(top)) {
                    ++top;
                    continue;
                }
            }
            name = entry.name;
        }
        if (matcher.active()) rateFiltered(level, name, returning ? EntryType::Directory : level.current.type);
        else rate(name, std::string_view(path.data(), level.pathLen));
        returning = false;
        bool hasNext = fetchNext(level);
        maybeHeartbeat();
        if (hasNext && !stopRequested()) continue;

        endLevel(top);
        if (top == 0) break;
        --top;
        returning = true;
    }
    return 0;
}

} // namespace toka
