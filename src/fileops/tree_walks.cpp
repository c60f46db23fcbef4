// The walks of the file-operation engine through whole folder trees: the
// survey before the work (bytes to copy, and whether the destination lies
// inside a source) and the copy of a folder tree.  Both keep their levels on
// an explicit stack and their directories in a DirectoryChain, so that a
// tree 20,000 levels deep costs neither stack nor descriptors per level.

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <set>

#include "fileops/worker.h"

namespace toka::fileops {

// ===================================================================== survey

Worker::Survey Worker::survey(int parentFd, const std::string& name) {
    Survey survey;
    // The bytes of a file with several links count once: its other names
    // become links to its copy.
    const auto bytesOf = [&](const struct stat& file) -> std::uint64_t {
        if (!S_ISREG(file.st_mode) || (file.st_nlink > 1 && !m_surveyedLinks.insert(idOf(file)).second)) return 0;
        return static_cast<std::uint64_t>(file.st_size);
    };
    struct stat status {};
    if (m_system.fstatAt(parentFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) < 0) return survey;
    survey.bytes = bytesOf(status);
    if (!S_ISDIR(status.st_mode)) return survey;

    struct Level {
        std::vector<std::string> names;
        std::size_t next = 0;
    };
    std::vector<Level> levels;
    DirectoryChain chain(m_system);
    std::set<FileId> path; // the folders entered, against bind-mount loops
    // Enters the folder `child` of atFd, unless it is the destination (the
    // survey is over) or a folder already on the path (a loop).
    const auto enter = [&](int atFd, const std::string& child) {
        UniqueFd dir = m_system.own(m_system.openAt(atFd, child.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
        struct stat opened {};
        std::vector<std::string> names;
        if (!dir.valid() || m_system.fstat(dir.get(), &opened) < 0) return;
        if (idOf(opened) == m_destination) {
            survey.holdsDestination = true;
            return;
        }
        if (path.count(idOf(opened)) || m_system.listDirectory(dir.get(), names) < 0) return;
        path.insert(idOf(opened));
        if (chain.isEmpty()) chain.start(std::move(dir), idOf(opened));
        else chain.enter(child, std::move(dir), idOf(opened));
        levels.push_back({std::move(names)});
    };

    enter(parentFd, name);
    while (!levels.empty() && !survey.holdsDestination && !checkpoint()) {
        Level& level = levels.back();
        if (level.next == level.names.size()) {
            path.erase(chain.id());
            levels.pop_back();
            int error = 0;
            chain.leave(error);
            if (error) break; // the copy will find the same and say so
            continue;
        }
        const std::string& child = level.names[level.next++];
        struct stat childStatus {};
        if (m_system.fstatAt(chain.fd(), child.c_str(), &childStatus, AT_SYMLINK_NOFOLLOW) < 0) continue;
        survey.bytes += bytesOf(childStatus);
        if (S_ISDIR(childStatus.st_mode)) enter(chain.fd(), std::string(child));
    }
    return survey;
}

bool Worker::holdsDestination(int parentFd, const std::string& name) { return survey(parentFd, name).holdsDestination; }

// ===================================================================== copy of a tree

/// One folder of a tree being copied.
struct Worker::CopyLevel {
    std::vector<std::string> names; ///< its entries, as listed before its copy was made
    std::size_t next = 0;           ///< the entry to copy next
    struct stat source {};          ///< its metadata goes on the copy once it is full
    struct stat made {};            ///< the copy as created
    std::size_t srcLength = 0;      ///< its path, the first srcLength bytes of the source path
    std::size_t destLength = 0;     ///< likewise of the destination path
    Outcome result = Outcome::Done;
};

std::optional<Outcome> Worker::enterCopy(DirectoryChain& sources, DirectoryChain& targets, const std::string& name,
                                         const std::string& srcPath, const std::string& destPath, CopyLevel& level) {
    if (checkpoint()) return Outcome::Cancelled;
    m_progress.currentItem = srcPath;
    UniqueFd src = m_system.own(m_system.openAt(sources.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!src.valid()) return failSource("open", srcPath, errno);
    if (m_system.fstat(src.get(), &level.source) < 0) return failSource("open", srcPath, errno);
    if (isRefusedDirectory(idOf(level.source))) return fail(FailureKind::IntoItself, "copy", srcPath);
    if (m_system.listDirectory(src.get(), level.names) < 0) return failSource("read", srcPath, errno);

    // 0700 while it fills: the user may write into it whatever the source's mode.
    const int destDirFd = targets.fd();
    if (m_system.mkdirAt(destDirFd, name.c_str(), 0700) < 0)
        return fail(FailureKind::SystemError, "create", destPath, errno);
    UniqueFd out = m_system.own(m_system.openAt(destDirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    struct stat& created = level.made;
    if (!out.valid() || m_system.fstat(out.get(), &created) < 0) {
        const int error = errno;
        out.reset();
        discard(destDirFd, name, destPath);
        return fail(FailureKind::SystemError, "create", destPath, error);
    }
    m_createdDirectories.insert(idOf(created));
    m_activeSources.insert(idOf(level.source));
    sources.enter(name, std::move(src), idOf(level.source));
    targets.enter(name, std::move(out), idOf(created));
    level.srcLength = srcPath.size();
    level.destLength = destPath.size();
    return std::nullopt;
}

Outcome Worker::copyDirectory(const CopySource& source, const CopyTarget& target) {
    // The top folder: its copy gets a temporary name in the destination
    // directory; everything below gets its final name at once.
    CopyLevel top;
    UniqueFd src =
        m_system.own(m_system.openAt(source.dirFd, source.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!src.valid()) return failSource("open", source.path, errno);
    if (m_system.fstat(src.get(), &top.source) < 0) return failSource("open", source.path, errno);
    if (isRefusedDirectory(idOf(top.source))) return fail(FailureKind::IntoItself, "copy", source.path);
    if (m_system.listDirectory(src.get(), top.names) < 0) return failSource("read", source.path, errno);
    if (createUnderTempName(
            target.name,
            [&](const std::string& candidate) { return m_system.mkdirAt(target.dirFd, candidate.c_str(), 0700); })
        < 0)
        return fail(FailureKind::SystemError, "create", target.path, errno);
    m_placedItems[target.item].name = target.name; // links to copies inside go through it
    UniqueFd out =
        m_system.own(m_system.openAt(target.dirFd, target.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    struct stat& created = top.made;
    if (!out.valid() || m_system.fstat(out.get(), &created) < 0) {
        const int error = errno;
        out.reset();
        discard(target.dirFd, target.name, target.path);
        return fail(FailureKind::SystemError, "create", target.path, error);
    }
    m_createdDirectories.insert(idOf(created));
    m_activeSources.insert(idOf(top.source));
    DirectoryChain sources(m_system), targets(m_system);
    sources.start(std::move(src), idOf(top.source));
    targets.start(std::move(out), idOf(created));
    std::string from = source.path, to = target.path;
    top.srcLength = from.size();
    top.destLength = to.size();
    std::vector<CopyLevel> levels;
    levels.push_back(std::move(top));

    // Set when the copy of this item ends early: cancelled, or a folder on
    // the way back up could not be found again.
    std::optional<Outcome> stop;
    Outcome result = Outcome::Done;
    int flushError = 0;
    while (!levels.empty()) {
        if (!stop && levels.back().next < levels.back().names.size()) {
            const std::string child = levels.back().names[levels.back().next++];
            setChildPath(from, levels.back().srcLength, child);
            setChildPath(to, levels.back().destLength, child);
            struct stat status {};
            std::optional<Outcome> outcome;
            if (m_system.fstatAt(sources.fd(), child.c_str(), &status, AT_SYMLINK_NOFOLLOW) < 0) {
                outcome = failSource("copy", from, errno);
            } else if (S_ISDIR(status.st_mode)) {
                CopyLevel level;
                outcome = enterCopy(sources, targets, child, from, to, level);
                if (!outcome) {
                    levels.push_back(std::move(level));
                    continue;
                }
            } else {
                std::string childName = child;
                const CopyTarget entry{.dirFd = targets.fd(),
                                       .name = childName,
                                       .naming = CopyName::Given,
                                       .path = to,
                                       .flush = false,
                                       .copied = target.copied,
                                       .item = target.item,
                                       .inheritsAcl = target.inheritsAcl,
                                       .folder = &levels.back().made};
                outcome = createCopy({sources.fd(), child, from, status}, entry);
            }
            if (*outcome == Outcome::Cancelled) stop = Outcome::Cancelled;
            else if (*outcome != Outcome::Done) levels.back().result = Outcome::Partial;
            continue;
        }

        // The folder is complete (or the copy stops): leave it.
        CopyLevel level = std::move(levels.back());
        levels.pop_back();
        m_activeSources.erase(sources.id());
        int sourceError = 0, targetError = 0;
        UniqueFd original = sources.leave(sourceError);
        UniqueFd finished = targets.leave(targetError);
        if (stop) continue;
        // Metadata last: adding the entries changed the modification time,
        // and a read-only mode would have kept them out.
        from.resize(level.srcLength);
        // Every folder of the tree took the default ACL of the destination
        // folder, if it has one, and keeps it until it gets its own here.
        const Outcome kept =
            keepMetadata(original.get(), finished.get(), level.source, level.made, from, target.inheritsAcl);
        original.reset();
        if (kept == Outcome::Cancelled) stop = Outcome::Cancelled;
        else if (kept != Outcome::Done) level.result = Outcome::Partial;
        if (levels.empty() && target.flush && !stop) {
            const int error = flush(finished.get(), true);
            if (error == kFlushCancelled) stop = Outcome::Cancelled;
            else flushError = error;
        }
        finished.reset();
        // A folder whose metadata the copy lacks stays at its source.
        if (target.copied && kept == Outcome::Done) target.copied->emplace(idOf(level.source), stampOf(level.source));
        if (levels.empty()) {
            result = level.result;
        } else if (sourceError || targetError) {
            from.resize(levels.back().srcLength);
            to.resize(levels.back().destLength);
            stop = sourceError ? failSource("open", from, sourceError)
                               : fail(FailureKind::SystemError, "open", to, targetError);
        } else if (level.result != Outcome::Done) {
            levels.back().result = Outcome::Partial;
        }
    }
    if (stop || flushError) {
        discard(target.dirFd, target.name, target.path);
        if (stop) return *stop;
        return fail(FailureKind::SystemError, "write", target.path, flushError);
    }
    return result;
}

} // namespace toka::fileops
