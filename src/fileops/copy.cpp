// The copy of one item by the file-operation engine: a file, a link or a
// node is written under a hidden temporary name (a folder tree through
// copyDirectory, tree_walks.cpp) and renamed into place once complete and
// flushed where it must be (see copyAndPlace).

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "fileops/copy_contents.h"
#include "fileops/worker.h"

namespace toka::fileops {

Outcome Worker::createCopy(const CopySource& source, const CopyTarget& target) {
    if (checkpoint()) return Outcome::Cancelled;
    m_progress.currentItem = source.path;
    const struct stat& status = source.status;
    if (S_ISDIR(status.st_mode)) return copyDirectory(source, target);
    // A name of a file copied before: a move across file systems may have
    // removed the file's other names by now, so its link count tells nothing.
    const bool linked = status.st_nlink > 1;
    if (linked || !m_firstCopies.empty()) {
        if (const auto outcome = linkToFirstCopy(source, target)) return *outcome;
    }
    Outcome outcome;
    if (S_ISREG(status.st_mode)) {
        outcome = copyFile(source, target);
    } else {
        outcome = S_ISLNK(status.st_mode) ? copySymlink(source, target) : copyNode(source, target);
        if (outcome == Outcome::Done && target.copied) target.copied->emplace(idOf(status), stampOf(status));
    }
    if (linked && (outcome == Outcome::Done || outcome == Outcome::Partial)) recordFirstCopy(source, target);
    return outcome;
}

Outcome Worker::copyFile(const CopySource& source, const CopyTarget& target) {
    // O_NONBLOCK: should a FIFO have taken the file's place, opening it must not hang.
    UniqueFd in =
        m_system.own(m_system.openAt(source.dirFd, source.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK));
    if (!in.valid()) return failSource("open", source.path, errno);
    struct stat status {};
    if (m_system.fstat(in.get(), &status) < 0) return failSource("read", source.path, errno);
    if (!S_ISREG(status.st_mode)) return fail(FailureKind::Vanished, "copy", source.path, ENOENT);

    const auto create = [&](const std::string& candidate) {
        return m_system.openAt(target.dirFd, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600);
    };
    UniqueFd out = m_system.own(createNamed(target, create));
    if (!out.valid()) return fail(FailureKind::SystemError, "create", target.path, errno);

    // Every failure from here on removes the unfinished file before it is reported.
    const auto abandon = [&](const char* action, const std::string& path, int error) {
        out.reset();
        if (m_system.unlinkAt(target.dirFd, target.name.c_str(), 0) < 0 && errno != ENOENT)
            reportLeftOver(childPath(target.path.substr(0, target.path.rfind('/') + 1), target.name), errno);
        if (action == nullptr) return Outcome::Cancelled;
        return fail(FailureKind::SystemError, action, path, error);
    };

    // The copy's owner, for its metadata; its file system, for reflinks.  In
    // a folder of the process's group that this run made, a new file is the
    // process's whatever rule gives it its group (the process's, or the
    // folder's where it is set-group-ID or the file system says so).
    struct stat made {};
    if (target.folder && target.folder->st_gid == m_group) {
        made.st_uid = m_user;
        made.st_gid = m_group;
        made.st_dev = target.folder->st_dev;
    } else if (m_system.fstat(out.get(), &made) < 0) {
        return abandon("write", target.path, errno);
    }
    const std::pair<dev_t, dev_t> devices{status.st_dev, made.st_dev};
    const ContentCopyResult contents = copyContents(
        m_system, in.get(), out.get(), status, m_buffer,
        [&](std::uint64_t bytes) {
            m_progress.bytesDone += bytes;
            m_result.bytesCopied += bytes;
            return checkpoint();
        },
        !m_withoutReflinks.count(devices));
    if (contents.noReflinks) m_withoutReflinks.insert(devices);
    switch (contents.status) {
    case ContentCopyStatus::Done:
        break;
    case ContentCopyStatus::Cancelled:
        return abandon(nullptr, {}, 0);
    case ContentCopyStatus::ReadFailed:
        return abandon("read", source.path, contents.error);
    case ContentCopyStatus::WriteFailed:
        return abandon("write", target.path, contents.error);
    }

    const Outcome kept = keepMetadata(in.get(), out.get(), status, made, source.path, target.inheritsAcl);
    if (kept == Outcome::Cancelled) return abandon(nullptr, {}, 0);
    if (target.flush) {
        const int error = flush(out.get(), false);
        if (error == kFlushCancelled) return abandon(nullptr, {}, 0);
        if (error) return abandon("write", target.path, error);
    }
    if (out.closeChecked() < 0) return abandon("write", target.path, errno);
    // The stamp from before the first read: a write since then keeps the
    // source, and so does metadata the copy lacks.
    if (target.copied && kept == Outcome::Done) target.copied->emplace(idOf(status), stampOf(status));
    return kept;
}

Outcome Worker::copySymlink(const CopySource& source, const CopyTarget& target) {
    const struct stat& status = source.status;
    // st_size is the target's length on most file systems but 0 on some; grow until it fits.
    std::string link(std::max<std::size_t>(static_cast<std::size_t>(status.st_size) + 1, 256), '\0');
    for (;;) {
        const ssize_t n = m_system.readlinkAt(source.dirFd, source.name.c_str(), link.data(), link.size());
        if (n < 0) return failSource("read", source.path, errno);
        if (static_cast<std::size_t>(n) < link.size()) {
            link.resize(static_cast<std::size_t>(n));
            break;
        }
        link.resize(link.size() * 2);
    }
    const auto create = [&](const std::string& candidate) {
        return m_system.symlinkAt(link.c_str(), target.dirFd, candidate.c_str());
    };
    if (createNamed(target, create) < 0) return fail(FailureKind::SystemError, "create", target.path, errno);
    // Owner, attributes and times of the link itself, never of what it points to.
    return keepNodeMetadata(source, target);
}

Outcome Worker::keepNodeMetadata(const CopySource& source, const CopyTarget& target) {
    const struct stat& status = source.status;
    // Through descriptors of both nodes, opened without following a link:
    // whoever may write into the destination could have put a link to
    // another file under the new name by now, and a chmod by name would give
    // that file the source's mode.
    UniqueFd node = m_system.own(m_system.openAt(target.dirFd, target.name.c_str(), O_PATH | O_NOFOLLOW));
    struct stat made {};
    if (!node.valid() || m_system.fstat(node.get(), &made) < 0
        || (made.st_mode & S_IFMT) != (status.st_mode & S_IFMT)) {
        const int error = !node.valid() || made.st_mode == 0 ? errno : S_ISLNK(made.st_mode) ? ELOOP : EEXIST;
        node.reset();
        m_system.unlinkAt(target.dirFd, target.name.c_str(), 0); // whatever stands under our name
        return fail(FailureKind::SystemError, "create", target.path, error);
    }
    UniqueFd original = m_system.own(m_system.openAt(source.dirFd, source.name.c_str(), O_PATH | O_NOFOLLOW));
    struct stat now {};
    if (!original.valid() || m_system.fstat(original.get(), &now) < 0 || idOf(now) != idOf(status)) {
        const int error = original.valid() && now.st_mode != 0 ? ENOENT : errno;
        node.reset();
        m_system.unlinkAt(target.dirFd, target.name.c_str(), 0);
        return failSource("copy", source.path, error);
    }
    const Outcome kept = keepMetadata(original.get(), node.get(), status, made, source.path, target.inheritsAcl);
    if (kept == Outcome::Cancelled) {
        node.reset();
        m_system.unlinkAt(target.dirFd, target.name.c_str(), 0);
    }
    return kept;
}

Outcome Worker::copyNode(const CopySource& source, const CopyTarget& target) {
    const struct stat& status = source.status;
    // A FIFO or device is never opened (reading a FIFO would wait for a writer
    // for ever): a new node of the same kind is made.  Device nodes need
    // privileges; without them this fails and is reported.
    const auto create = [&](const std::string& candidate) {
        return m_system.mknodAt(target.dirFd, candidate.c_str(), status.st_mode & (S_IFMT | 0600), status.st_rdev);
    };
    if (createNamed(target, create) < 0) return fail(FailureKind::SystemError, "create", target.path, errno);
    return keepNodeMetadata(source, target);
}

Outcome Worker::copyAndPlace(const CopySource& source, int destDirFd, const TransferCheck& check, CopiedItems* copied) {
    // A flush where it protects data: before a move removes its source, and
    // before a copy replaces what was there.  A fresh copy of an item that
    // stays at its source goes without one, as the system writes it back.
    const bool mustFlush = copied != nullptr || check.existing.has_value();
    std::string temp;
    const CopyTarget target{.dirFd = destDirFd,
                            .name = temp,
                            .naming = CopyName::Temporary,
                            .path = check.destPath,
                            .flush = mustFlush,
                            .copied = copied,
                            .item = beginItem(check.destPath),
                            .inheritsAcl = givesDefaultAcl(destDirFd)};
    Outcome outcome = createCopy(source, target);
    if (outcome != Outcome::Skipped && outcome != Outcome::Cancelled) {
        m_placedItems[target.item].name = temp;
        const Outcome placed = place(destDirFd, temp, source.name, check, mustFlush);
        if (placed == Outcome::Done) m_placedItems[target.item].name = source.name;
        outcome = worse(outcome, placed);
    }
    // Items are copied one after the other: the record of one that holds no
    // first copy goes, so that a run of a million files keeps none of them.
    if (!m_placedItems.back().holdsFirstCopy) m_placedItems.pop_back();
    return outcome;
}

Outcome Worker::place(int dirFd, const std::string& tempName, const std::string& finalName, const TransferCheck& check,
                      bool flushed) {
    const std::string& destPath = check.destPath;
    int result;
    if (!check.existing) result = renameNoReplace(dirFd, tempName, dirFd, finalName);
    else if (!S_ISDIR(check.status.st_mode) && !S_ISDIR(check.existing->st_mode))
        result = m_system.renameAt(dirFd, tempName.c_str(), dirFd, finalName.c_str(), 0);
    else result = renameReplacing(dirFd, tempName, destPath, dirFd, finalName, destPath);
    if (result < 0) {
        const int error = errno;
        discard(dirFd, tempName, destPath);
        return fail(FailureKind::SystemError, "create", destPath, error);
    }
    // Make the new name durable before a move removes its source.  A directory
    // opened without read permission cannot be synced; that is not a failure.
    // The copy is complete and in place: Cancel during this flush leaves it.
    if (flushed && flush(dirFd, false) == kFlushCancelled) return Outcome::Cancelled;
    return Outcome::Done;
}

} // namespace toka::fileops
