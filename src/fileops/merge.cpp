// The copy or move of one list item as a whole, and the merge of a folder
// into an existing folder of the same name: a walk down both trees side by
// side, level by level on the heap, with the directories of both sides in
// DirectoryChains, so that a merge of any depth costs neither stack nor
// descriptors per level.  Every entry is checked as a list item is (the
// exists question, no folder into itself); an entry that meets a folder of
// its own name is entered, any other is copied or moved on its own.

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "fileops/worker.h"

namespace toka::fileops {
namespace {

// Both sides of a merge stay open while the item met at its deepest level is
// copied through two chains of its own: with 6 open levels a side, the
// whole stays within a descriptor limit of 64.
constexpr std::size_t kMergeOpenLevels = 6;

} // namespace

Outcome Worker::transferInto(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                             const std::string& destDirPath) {
    const TransferCheck check = checkTransfer(srcDirFd, name, srcPath, destDirFd, destDirPath);
    if (check.end) return *check.end;
    if (check.mergesFolders()) return merge(srcDirFd, name, srcPath, destDirFd, check.destPath);
    return transferChecked(srcDirFd, name, srcPath, destDirFd, check);
}

Outcome Worker::transferChecked(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                                const TransferCheck& check) {
    if (m_kind == FileOpKind::Move) return moveChecked(srcDirFd, name, srcPath, destDirFd, check);
    return copyAndPlace({srcDirFd, name, srcPath, check.status}, destDirFd, check, nullptr);
}

/// One folder of a merge, present on both sides.
struct Worker::MergeLevel {
    std::vector<std::string> names; ///< the source folder's entries
    std::size_t next = 0;           ///< the entry to take next
    std::size_t srcLength = 0;      ///< its path, the first srcLength bytes of the source path
    std::size_t destLength = 0;     ///< likewise of the destination path
    Outcome result = Outcome::Done;
};

std::optional<Outcome> Worker::enterMerge(DirectoryChain& sources, DirectoryChain& targets, int srcDirFd, int destDirFd,
                                          const std::string& name, const std::string& srcPath,
                                          const std::string& destPath, MergeLevel& level) {
    UniqueFd src = m_system.own(m_system.openAt(srcDirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!src.valid()) return failSource("open", srcPath, errno);
    struct stat status {};
    if (m_system.fstat(src.get(), &status) < 0) return failSource("open", srcPath, errno);
    // A copy never reads a folder it is writing into (a bind mount that loops
    // back); a move renames, which the kernel refuses for such a folder.
    if (m_kind == FileOpKind::Copy && isRefusedDirectory(idOf(status)))
        return fail(FailureKind::IntoItself, "copy", srcPath);
    UniqueFd dest = m_system.own(openDirectory(destDirFd, name.c_str(), O_NOFOLLOW));
    struct stat destStatus {};
    if (!dest.valid() || m_system.fstat(dest.get(), &destStatus) < 0)
        return fail(FailureKind::SystemError, "open", destPath, errno);
    if (m_system.listDirectory(src.get(), level.names) < 0) return failSource("read", srcPath, errno);

    if (m_kind == FileOpKind::Copy) m_activeSources.insert(idOf(status));
    if (sources.isEmpty()) {
        sources.start(std::move(src), idOf(status));
        targets.start(std::move(dest), idOf(destStatus));
    } else {
        sources.enter(name, std::move(src), idOf(status));
        targets.enter(name, std::move(dest), idOf(destStatus));
    }
    level.srcLength = srcPath.size();
    level.destLength = destPath.size();
    return std::nullopt;
}

Outcome Worker::merge(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                      const std::string& destPath) {
    DirectoryChain sources(m_system, kMergeOpenLevels), targets(m_system, kMergeOpenLevels);
    std::string from = srcPath, to = destPath;
    std::vector<MergeLevel> levels;
    {
        MergeLevel top;
        if (const auto outcome = enterMerge(sources, targets, srcDirFd, destDirFd, name, from, to, top))
            return *outcome;
        levels.push_back(std::move(top));
    }

    // Set when the merge ends early: cancelled, or a folder on the way back
    // up could not be found again.
    std::optional<Outcome> stop;
    while (!levels.empty()) {
        MergeLevel& level = levels.back();
        if (!stop && level.next < level.names.size()) {
            const std::string child = level.names[level.next++];
            setChildPath(from, level.srcLength, child);
            to.resize(level.destLength);
            const TransferCheck check = checkTransfer(sources.fd(), child, from, targets.fd(), to);
            std::optional<Outcome> outcome = check.end;
            if (!outcome && check.mergesFolders()) {
                MergeLevel below;
                outcome = enterMerge(sources, targets, sources.fd(), targets.fd(), child, from, check.destPath, below);
                if (!outcome) {
                    to = check.destPath;
                    levels.push_back(std::move(below));
                    continue;
                }
            }
            if (!outcome) outcome = transferChecked(sources.fd(), child, from, targets.fd(), check);
            if (*outcome == Outcome::Cancelled) stop = Outcome::Cancelled;
            else if (*outcome != Outcome::Done) level.result = Outcome::Partial;
            continue;
        }

        // Every entry is dealt with (or the merge stops): leave the folder.
        const MergeLevel done = std::move(levels.back());
        levels.pop_back();
        if (m_kind == FileOpKind::Copy) m_activeSources.erase(sources.id());
        const std::string levelName = sources.name();
        int sourceError = 0, targetError = 0;
        sources.leave(sourceError).reset();
        targets.leave(targetError).reset();
        if (stop) continue;
        if (sourceError || targetError) {
            from.resize(levels.back().srcLength);
            to.resize(levels.back().destLength);
            stop = sourceError ? failSource("open", from, sourceError)
                               : fail(FailureKind::SystemError, "open", to, targetError);
            continue;
        }
        from.resize(done.srcLength);
        to.resize(done.destLength);
        Outcome outcome = done.result;
        // A move empties the source folder: once everything went, the folder
        // goes too.  Something skipped keeps it, with what was skipped inside.
        if (m_kind == FileOpKind::Move && outcome == Outcome::Done
            && m_system.unlinkAt(levels.empty() ? srcDirFd : sources.fd(),
                                 levels.empty() ? name.c_str() : levelName.c_str(), AT_REMOVEDIR)
                   < 0)
            outcome = fail(FailureKind::SystemError, "remove", from, errno);
        if (levels.empty()) return outcome;
        if (outcome == Outcome::Cancelled) {
            stop = Outcome::Cancelled;
        } else if (outcome != Outcome::Done) {
            levels.back().result = Outcome::Partial;
        }
    }
    return *stop;
}

} // namespace toka::fileops
