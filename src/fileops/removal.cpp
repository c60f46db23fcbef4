// Removal of files and folder trees: the user's delete, the sources of a
// finished cross-device move, and the engine's own temporary or replaced
// items.  Never along a symbolic link (every directory is opened with
// O_NOFOLLOW relative to its parent and checked to be the one that was
// looked at), never into a mount point: a mount, bind mounts of the same
// file system included, stays with everything in it.

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "fileops/worker.h"

namespace toka::fileops {

Outcome Worker::removalFailure(RemoveMode mode, FailureKind kind, const char* action, const std::string& path,
                               int error) {
    if (mode != RemoveMode::Discard) return fail(kind, action, path, error);
    m_discardError = error;
    return Outcome::Skipped;
}

std::optional<Outcome> Worker::removeOrEnter(Removal& removal, int parentFd, const std::string& name,
                                             const std::string& path, std::vector<std::string>& names) {
    const RemoveMode mode = removal.mode;
    CopiedItems* const only = removal.only;
    if (mode == RemoveMode::Delete) {
        if (checkpoint()) return Outcome::Cancelled;
        m_progress.currentItem = path;
    }
    struct stat status {};
    if (m_system.fstatAt(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) < 0) {
        if (errno == ENOENT && mode == RemoveMode::Discard) return Outcome::Done;
        return removalFailure(mode, errno == ENOENT ? FailureKind::Vanished : FailureKind::SystemError, "remove", path,
                              errno);
    }
    // A move removes only what it copied: an entry that appeared or was
    // skipped meanwhile stays, and so does the folder around it; so does one
    // written to since its copy began, whose copy lacks the new bytes.
    const auto copied = only ? only->find(idOf(status)) : CopiedItems::iterator{};
    if (only && copied == only->end()) return Outcome::Partial;
    if (only && !S_ISDIR(status.st_mode) && !(copied->second == stampOf(status)))
        return fail(FailureKind::ChangedDuringMove, "move", path);

    if (!S_ISDIR(status.st_mode)) {
        // Unlinking one of several hard links changes the change time of the
        // others: the stamp follows, so that the next link is not taken for
        // a file that was written to.
        UniqueFd links = m_system.own(
            only && status.st_nlink > 1 ? m_system.openAt(parentFd, name.c_str(), O_PATH | O_NOFOLLOW) : -1);
        if (m_system.unlinkAt(parentFd, name.c_str(), 0) < 0)
            return removalFailure(mode, FailureKind::SystemError, "remove", path, errno);
        struct stat after {};
        if (links.valid() && m_system.fstat(links.get(), &after) == 0) {
            FileStamp unlinked = stampOf(after);
            unlinked.changed = copied->second.changed;
            if (unlinked == copied->second) copied->second.changed = after.st_ctim;
        }
        return Outcome::Done;
    }

    UniqueFd dir = m_system.own(m_system.openAt(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!dir.valid() && errno == EACCES && mode == RemoveMode::Discard) {
        // Our own copy of a folder without read permission: give it back,
        // through a descriptor of that very folder (a chmod by name would
        // follow a link put in its place).
        UniqueFd folder = m_system.own(m_system.openAt(parentFd, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW));
        struct stat seen {};
        if (folder.valid() && m_system.fstat(folder.get(), &seen) == 0 && idOf(seen) == idOf(status)
            && m_system.fchmod(folder.get(), 0700) == 0)
            dir = m_system.own(m_system.openAt(folder.get(), ".", O_RDONLY | O_DIRECTORY));
        else errno = EACCES;
    }
    if (!dir.valid()) return removalFailure(mode, FailureKind::SystemError, "open", path, errno);
    struct stat opened {};
    if (m_system.fstat(dir.get(), &opened) < 0 || idOf(opened) != idOf(status))
        return removalFailure(mode, FailureKind::Vanished, "remove", path, ENOENT); // replaced since we looked
    if (isMountPoint(dir.get(), opened, removal.device))
        return removalFailure(mode, FailureKind::MountPoint, "remove", path, EBUSY);
    if (mode == RemoveMode::Discard && (opened.st_mode & 0700) != 0700) m_system.fchmod(dir.get(), 0700);
    if (m_system.listDirectory(dir.get(), names) < 0)
        return removalFailure(mode, FailureKind::SystemError, "read", path, errno);
    if (removal.chain.isEmpty()) removal.chain.start(std::move(dir), idOf(opened));
    else removal.chain.enter(name, std::move(dir), idOf(opened));
    return std::nullopt;
}

Outcome Worker::removeEntry(int parentFd, const std::string& name, const std::string& path, RemoveMode mode,
                            CopiedItems* only) {
    // Everything removed lies on the parent's file system: a folder on another
    // is a mount point.
    struct stat parent {};
    if (m_system.fstat(parentFd, &parent) < 0)
        return removalFailure(mode, FailureKind::SystemError, "remove", path, errno);
    struct Level {
        std::vector<std::string> names;
        std::size_t next = 0;
        std::size_t pathLength = 0;
        Outcome result = Outcome::Done;
    };
    std::vector<Level> levels;
    Removal removal{mode, only, parent.st_dev, DirectoryChain(m_system)};
    DirectoryChain& chain = removal.chain;
    std::string at = path;

    Level top;
    if (const auto outcome = removeOrEnter(removal, parentFd, name, at, top.names)) return *outcome;
    top.pathLength = at.size();
    levels.push_back(std::move(top));
    while (!levels.empty()) {
        if (levels.back().next < levels.back().names.size()) {
            const std::string child = levels.back().names[levels.back().next++];
            setChildPath(at, levels.back().pathLength, child);
            Level level;
            const auto outcome = removeOrEnter(removal, chain.fd(), child, at, level.names);
            if (!outcome) {
                level.pathLength = at.size();
                levels.push_back(std::move(level));
            } else if (*outcome == Outcome::Cancelled) {
                return Outcome::Cancelled;
            } else if (*outcome != Outcome::Done) {
                levels.back().result = Outcome::Partial;
            }
            continue;
        }

        // Every entry of the folder is dealt with: the folder goes if empty.
        const Level level = std::move(levels.back());
        levels.pop_back();
        const std::string levelName = chain.name();
        int error = 0;
        chain.leave(error).reset();
        at.resize(level.pathLength);
        if (error) {
            at.resize(levels.back().pathLength);
            return worse(Outcome::Partial, removalFailure(mode, FailureKind::SystemError, "open", at, error));
        }
        Outcome outcome = level.result; // not empty: asking about it again helps nobody
        if (outcome == Outcome::Done
            && m_system.unlinkAt(levels.empty() ? parentFd : chain.fd(),
                                 levels.empty() ? name.c_str() : levelName.c_str(), AT_REMOVEDIR)
                   < 0)
            outcome = removalFailure(mode, FailureKind::SystemError, "remove", at, errno);
        if (levels.empty()) return outcome;
        if (outcome == Outcome::Cancelled) return Outcome::Cancelled;
        if (outcome != Outcome::Done) levels.back().result = Outcome::Partial;
    }
    return Outcome::Done;
}

void Worker::discard(int dirFd, const std::string& name, const std::string& sibling) {
    struct stat status {};
    if (m_system.fstatAt(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) < 0 && errno == ENOENT) return;
    m_discardError = 0;
    if (removeEntry(dirFd, name, name, RemoveMode::Discard, nullptr) == Outcome::Done) return;
    // Name the hidden item where the user can find it.
    reportLeftOver(sibling.substr(0, sibling.rfind('/') + 1) + name, m_discardError);
}

} // namespace toka::fileops
