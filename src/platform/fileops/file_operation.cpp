#include "platform/fileops/file_operation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <utility>

#include "platform/fileops/copy_contents.h"
#include "platform/fileops/worker.h"

namespace toka::fileops {
namespace {

// 1 MiB chunks: at the 20 MB/s of a slow USB stick one chunk takes 50 ms,
// so Cancel is seen within a fraction of a second, while the per-call cost
// is negligible on a fast disk.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;

// The window processes its events in progress(); 25 ms keeps a dialog fluid
// without spending the copy's time on event processing.
constexpr std::chrono::milliseconds kProgressInterval{25};

constexpr char kTempPrefix[] = ".toka-";

/// A source path split into its parent directory and its last component.
struct SourceName {
    std::string parent;
    std::string name;
    /// false when the last component names no item of its own ("", ".", "..").
    bool isValid() const { return !name.empty() && name != "." && name != ".."; }
};

SourceName splitSource(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {std::string(1, '.'), std::string(path)};
    return {std::string(slash == 0 ? path.substr(0, 1) : path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

ItemInfo infoOf(const std::string& path, const struct stat& status) {
    ItemInfo info;
    info.path = path;
    info.isDirectory = S_ISDIR(status.st_mode);
    info.isSymlink = S_ISLNK(status.st_mode);
    info.size = info.isDirectory ? 0 : static_cast<std::uint64_t>(status.st_size);
    info.modifiedSeconds = status.st_mtim.tv_sec;
    return info;
}

} // namespace

std::string childPath(const std::string& dirPath, const std::string& name) {
    if (dirPath.empty() || dirPath.back() == '/') return dirPath + name;
    return dirPath + "/" + name;
}

void setChildPath(std::string& path, std::size_t length, const std::string& name) {
    path.resize(length);
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
}

Worker::Worker(FileOpQuestions& questions, SystemCalls& system, FileOpKind kind)
    : m_questions(questions), m_system(system), m_kind(kind), m_random(std::random_device{}()) {
    m_start = m_lastReport = Clock::now();
    m_progress.operation = kind;
}

// ===================================================================== questions

bool Worker::checkpoint() {
    if (m_cancelled) return true;
    const auto now = Clock::now();
    if (now - m_lastReport >= kProgressInterval) {
        m_lastReport = now;
        m_progress.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_start);
        m_questions.progress(m_progress);
    }
    if (m_questions.cancelRequested()) m_cancelled = true;
    return m_cancelled;
}

Outcome Worker::fail(FailureKind kind, const char* action, const std::string& path, int error) {
    FileOpFailure failure{kind, action, path, error};
    m_result.failures.push_back(failure);
    if (m_cancelled) return Outcome::Cancelled;
    if (m_questions.askFailure(failure) == FailureAction::Cancel) {
        m_cancelled = true;
        return Outcome::Cancelled;
    }
    return Outcome::Skipped;
}

Outcome Worker::failSource(const char* action, const std::string& path, int error) {
    if (error == ENOENT) return fail(FailureKind::Vanished, action, path, error);
    return fail(FailureKind::SystemError, action, path, error);
}

ExistsAction Worker::askExists(const ItemInfo& source, const ItemInfo& existing) {
    if (m_existsForAll) return *m_existsForAll;
    const ExistsReply reply = m_questions.askExists(source, existing);
    if (reply.forAll) m_existsForAll = reply.action;
    if (reply.action == ExistsAction::Cancel) m_cancelled = true;
    return reply.action;
}

void Worker::reportLeftOver(const std::string& path, int error) {
    FileOpFailure failure{FailureKind::LeftOver, "remove", path, error};
    m_result.failures.push_back(failure);
    m_questions.showError(failure);
}

// ===================================================================== the run

FileOpResult Worker::run(const std::vector<std::string>& sources, const std::string& destination) {
    if (sources.empty()) return m_result;
    m_progress.itemsTotal = sources.size();

    if (m_kind == FileOpKind::Delete) {
        if (!m_questions.confirmDelete(sources.size())) {
            m_result.cancelled = true;
            return m_result;
        }
        for (const std::string& path : sources) {
            const Outcome outcome = deleteItem(path);
            ++m_progress.itemsDone;
            if (outcome == Outcome::Cancelled) break;
            if (outcome == Outcome::Done) ++m_result.itemsDone;
            else ++m_result.itemsSkipped;
        }
        m_result.cancelled = m_cancelled;
        return m_result;
    }

    UniqueFd dest = m_system.own(openDirectory(AT_FDCWD, destination.c_str(), 0));
    if (!dest.valid()) {
        const int error = errno;
        FailureKind kind = FailureKind::SystemError;
        if (error == ENOENT) kind = FailureKind::DestinationMissing;
        if (error == ENOTDIR) kind = FailureKind::DestinationNotDirectory;
        FileOpFailure failure{kind, "open", destination, error};
        m_result.failures.push_back(failure);
        m_questions.showError(failure);
        return m_result;
    }
    const std::string destPath = destination.empty() || destination.back() != '/' ? destination + "/" : destination;
    collectDestinationAncestors(dest.get());
    m_buffer.resize(kChunkSize);

    // Count the bytes to copy first, so that the progress has a total.  A move
    // within one file system is a rename and copies nothing: it is surveyed
    // only should the rename fail with EXDEV.
    struct stat destStatus {};
    m_system.fstat(dest.get(), &destStatus);
    m_destination = idOf(destStatus);
    std::vector<Survey> surveys(sources.size());
    std::vector<bool> surveyed(sources.size(), false);
    for (std::size_t i = 0; i < sources.size() && !m_cancelled; ++i) {
        const SourceName source = splitSource(sources[i]);
        if (!source.isValid()) continue;
        UniqueFd parentFd = m_system.own(m_system.openAt(AT_FDCWD, source.parent.c_str(), O_PATH | O_DIRECTORY));
        struct stat status {};
        if (!parentFd.valid()
            || m_system.fstatAt(parentFd.get(), source.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) < 0)
            continue;
        // A folder that holds the destination is refused later: no walk through it now.
        if (S_ISDIR(status.st_mode) && m_destinationAncestors.count(idOf(status))) continue;
        m_progress.currentItem = sources[i];
        if (m_kind == FileOpKind::Copy || status.st_dev != destStatus.st_dev) {
            surveys[i] = survey(parentFd.get(), source.name);
            surveyed[i] = !m_cancelled;
        }
        m_progress.bytesTotal += surveys[i].bytes;
    }

    for (std::size_t i = 0; i < sources.size() && !m_cancelled; ++i) {
        const std::uint64_t before = m_progress.bytesDone;
        m_itemSurveyed = surveyed[i];
        const Outcome outcome = surveys[i].holdsDestination ? fail(FailureKind::IntoItself, transferVerb(), sources[i])
                                                            : transferItem(sources[i], dest.get(), destPath);
        ++m_progress.itemsDone;
        // A skipped or failed item counts as passed over, so the bar keeps going.
        m_progress.bytesDone = std::max(m_progress.bytesDone, before + surveys[i].bytes);
        if (outcome == Outcome::Cancelled) break;
        if (outcome == Outcome::Done) ++m_result.itemsDone;
        else ++m_result.itemsSkipped;
    }
    m_result.cancelled = m_cancelled;
    return m_result;
}

const char* Worker::transferVerb() const { return m_kind == FileOpKind::Move ? "move" : "copy"; }

Outcome Worker::transferItem(const std::string& path, int destFd, const std::string& destPath) {
    const char* verb = transferVerb();
    const SourceName source = splitSource(path);
    if (!source.isValid()) return fail(FailureKind::InvalidSource, verb, path);
    UniqueFd parentFd = m_system.own(m_system.openAt(AT_FDCWD, source.parent.c_str(), O_PATH | O_DIRECTORY));
    if (!parentFd.valid()) return failSource(verb, path, errno);
    if (m_kind == FileOpKind::Move) return moveInto(parentFd.get(), source.name, path, destFd, destPath);
    return copyInto(parentFd.get(), source.name, path, destFd, destPath);
}

Outcome Worker::deleteItem(const std::string& path) {
    const SourceName source = splitSource(path);
    if (!source.isValid()) return fail(FailureKind::InvalidSource, "delete", path);
    UniqueFd parentFd = m_system.own(m_system.openAt(AT_FDCWD, source.parent.c_str(), O_PATH | O_DIRECTORY));
    if (!parentFd.valid()) return failSource("delete", path, errno);
    struct stat status {};
    if (m_system.fstatAt(parentFd.get(), source.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) < 0)
        return failSource("delete", path, errno);
    const Outcome outcome = removeEntry(parentFd.get(), source.name, path, RemoveMode::Delete, nullptr);
    return outcome == Outcome::Partial ? Outcome::Skipped : outcome;
}

void Worker::collectDestinationAncestors(int destFd) {
    struct stat status {};
    if (m_system.fstat(destFd, &status) < 0) return;
    m_destinationAncestors.insert(idOf(status));
    UniqueFd current = m_system.own(m_system.openAt(destFd, "..", O_PATH | O_DIRECTORY));
    // "/.." is "/" itself: the walk ends when it meets a directory it has seen.
    while (current.valid() && m_system.fstat(current.get(), &status) == 0
           && m_destinationAncestors.insert(idOf(status)).second) {
        UniqueFd up = m_system.own(m_system.openAt(current.get(), "..", O_PATH | O_DIRECTORY));
        std::swap(current, up);
    }
}

Worker::TransferCheck Worker::checkTransfer(int srcDirFd, const std::string& name, const std::string& srcPath,
                                            int destDirFd, const std::string& destDirPath) {
    TransferCheck check;
    const char* verb = transferVerb();
    if (checkpoint()) return check.endWith(Outcome::Cancelled);
    m_progress.currentItem = srcPath;
    if (m_system.fstatAt(srcDirFd, name.c_str(), &check.status, AT_SYMLINK_NOFOLLOW) < 0)
        return check.endWith(failSource(verb, srcPath, errno));
    check.destPath = childPath(destDirPath, name);
    // A move within one file system is a rename, which cannot carry a folder
    // through a mount into itself: a move surveys only once its rename
    // answers EXDEV and it turns into a copy (moveAcross).
    if (S_ISDIR(check.status.st_mode)
        && (m_destinationAncestors.count(idOf(check.status))
            || (m_kind == FileOpKind::Copy && !m_itemSurveyed && holdsDestination(srcDirFd, name))))
        return check.endWith(fail(FailureKind::IntoItself, verb, srcPath));

    struct stat existing {};
    if (m_system.fstatAt(destDirFd, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) < 0) {
        if (errno != ENOENT) return check.endWith(fail(FailureKind::SystemError, "examine", check.destPath, errno));
        return check;
    }
    if (idOf(existing) == idOf(check.status)) return check.endWith(fail(FailureKind::OntoItself, verb, srcPath));
    switch (askExists(infoOf(srcPath, check.status), infoOf(check.destPath, existing))) {
    case ExistsAction::Skip:
        return check.endWith(Outcome::Skipped);
    case ExistsAction::Cancel:
        return check.endWith(Outcome::Cancelled);
    case ExistsAction::Replace:
        break;
    }
    check.existing = existing;
    return check;
}

bool Worker::isRefusedDirectory(const FileId& id) const {
    return m_destinationAncestors.count(id) != 0 || m_createdDirectories.count(id) != 0
           || m_activeSources.count(id) != 0;
}

// ===================================================================== copy

Outcome Worker::copyInto(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                         const std::string& destDirPath) {
    const TransferCheck check = checkTransfer(srcDirFd, name, srcPath, destDirFd, destDirPath);
    if (check.end) return *check.end;
    if (check.mergesFolders()) return mergeCopy(srcDirFd, name, srcPath, destDirFd, check.destPath);
    return copyAndPlace({srcDirFd, name, srcPath, check.status}, destDirFd, check, nullptr);
}

Outcome Worker::mergeCopy(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                          const std::string& destPath) {
    UniqueFd src = m_system.own(m_system.openAt(srcDirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!src.valid()) return failSource("open", srcPath, errno);
    struct stat status {};
    if (m_system.fstat(src.get(), &status) < 0) return failSource("open", srcPath, errno);
    if (isRefusedDirectory(idOf(status))) return fail(FailureKind::IntoItself, "copy", srcPath);
    UniqueFd dest = m_system.own(openDirectory(destDirFd, name.c_str(), O_NOFOLLOW));
    if (!dest.valid()) return fail(FailureKind::SystemError, "open", destPath, errno);
    std::vector<std::string> names;
    if (m_system.listDirectory(src.get(), names) < 0) return failSource("read", srcPath, errno);

    m_activeSources.insert(idOf(status));
    Outcome result = Outcome::Done;
    for (const std::string& child : names) {
        const Outcome outcome = copyInto(src.get(), child, childPath(srcPath, child), dest.get(), destPath + "/");
        if (outcome == Outcome::Cancelled) {
            result = Outcome::Cancelled;
            break;
        }
        if (outcome != Outcome::Done) result = Outcome::Partial;
    }
    m_activeSources.erase(idOf(status));
    return result;
}

Outcome Worker::createCopy(const CopySource& source, const CopyTarget& target) {
    if (checkpoint()) return Outcome::Cancelled;
    m_progress.currentItem = source.path;
    const struct stat& status = source.status;
    if (S_ISREG(status.st_mode)) return copyFile(source, target);
    if (S_ISDIR(status.st_mode)) return copyDirectory(source, target);
    const Outcome outcome = S_ISLNK(status.st_mode) ? copySymlink(source, target) : copyNode(source, target);
    if (outcome == Outcome::Done && target.copied) target.copied->emplace(idOf(status), stampOf(status));
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

    const ContentCopyResult contents =
        copyContents(m_system, in.get(), out.get(), status, m_buffer, [&](std::uint64_t bytes) {
            m_progress.bytesDone += bytes;
            m_result.bytesCopied += bytes;
            return checkpoint();
        });
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

    // The file system may not keep permissions or times (FAT): that does not
    // make the copy fail.
    m_system.fchmod(out.get(), status.st_mode & 01777);
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    m_system.futimens(out.get(), times);
    if (target.flush && m_system.fsync(out.get()) < 0) return abandon("write", target.path, errno);
    if (out.closeChecked() < 0) return abandon("write", target.path, errno);
    // The stamp from before the first read: a write since then keeps the source.
    if (target.copied) target.copied->emplace(idOf(status), stampOf(status));
    return Outcome::Done;
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
    // Times of the link itself (never of what it points to); the file system
    // may not keep them.
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    m_system.utimensAt(target.dirFd, target.name.c_str(), times, AT_SYMLINK_NOFOLLOW);
    return Outcome::Done;
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
    // Mode and times go through a descriptor of the node itself, opened
    // without following a link: whoever may write into the destination could
    // have put a link to another file under the name by now, and a chmod by
    // name would give that file the source's mode.
    UniqueFd node = m_system.own(m_system.openAt(target.dirFd, target.name.c_str(), O_PATH | O_NOFOLLOW));
    struct stat made {};
    if (!node.valid() || m_system.fstat(node.get(), &made) < 0
        || (made.st_mode & S_IFMT) != (status.st_mode & S_IFMT)) {
        const int error = !node.valid() || made.st_mode == 0 ? errno : S_ISLNK(made.st_mode) ? ELOOP : EEXIST;
        node.reset();
        m_system.unlinkAt(target.dirFd, target.name.c_str(), 0); // whatever stands under our name
        return fail(FailureKind::SystemError, "create", target.path, error);
    }
    m_system.fchmod(node.get(), status.st_mode & 01777);
    const struct timespec times[2] = {status.st_atim, status.st_mtim};
    m_system.futimens(node.get(), times);
    return Outcome::Done;
}

Outcome Worker::copyAndPlace(const CopySource& source, int destDirFd, const TransferCheck& check, CopiedItems* copied) {
    std::string temp;
    const CopyTarget target{.dirFd = destDirFd,
                            .name = temp,
                            .naming = CopyName::Temporary,
                            .path = check.destPath,
                            .flush = true,
                            .copied = copied};
    const Outcome outcome = createCopy(source, target);
    if (outcome == Outcome::Skipped || outcome == Outcome::Cancelled) return outcome;
    return worse(outcome, place(destDirFd, temp, source.name, check));
}

Outcome Worker::place(int dirFd, const std::string& tempName, const std::string& finalName,
                      const TransferCheck& check) {
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
    m_system.fsync(dirFd);
    return Outcome::Done;
}

// ===================================================================== move

Outcome Worker::moveInto(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                         const std::string& destDirPath) {
    const TransferCheck check = checkTransfer(srcDirFd, name, srcPath, destDirFd, destDirPath);
    if (check.end) return *check.end;
    if (check.mergesFolders()) return mergeMove(srcDirFd, name, srcPath, destDirFd, check.destPath);

    const bool isDirectory = S_ISDIR(check.status.st_mode);
    const bool oldIsDirectory = check.existing && S_ISDIR(check.existing->st_mode);
    int result;
    if (!check.existing) result = renameNoReplace(srcDirFd, name, destDirFd, name);
    else if (!isDirectory && !oldIsDirectory)
        result = m_system.renameAt(srcDirFd, name.c_str(), destDirFd, name.c_str(), 0);
    else result = renameReplacing(srcDirFd, name, srcPath, destDirFd, name, check.destPath);
    if (result == 0) return Outcome::Done;
    if (errno != EXDEV) return failSource("move", srcPath, errno);
    return moveAcross(srcDirFd, name, srcPath, destDirFd, check);
}

Outcome Worker::mergeMove(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                          const std::string& destPath) {
    UniqueFd src = m_system.own(m_system.openAt(srcDirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
    if (!src.valid()) return failSource("open", srcPath, errno);
    UniqueFd dest = m_system.own(openDirectory(destDirFd, name.c_str(), O_NOFOLLOW));
    if (!dest.valid()) return fail(FailureKind::SystemError, "open", destPath, errno);
    std::vector<std::string> names;
    if (m_system.listDirectory(src.get(), names) < 0) return failSource("read", srcPath, errno);

    Outcome result = Outcome::Done;
    for (const std::string& child : names) {
        const Outcome outcome = moveInto(src.get(), child, childPath(srcPath, child), dest.get(), destPath + "/");
        if (outcome == Outcome::Cancelled) return Outcome::Cancelled;
        if (outcome != Outcome::Done) result = Outcome::Partial;
    }
    src.reset();
    // Everything moved out: the emptied source folder goes too.  Something
    // skipped keeps it, with what was skipped inside.
    if (result == Outcome::Done && m_system.unlinkAt(srcDirFd, name.c_str(), AT_REMOVEDIR) < 0)
        return fail(FailureKind::SystemError, "remove", srcPath, errno);
    return result;
}

Outcome Worker::moveAcross(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                           const TransferCheck& check) {
    if (S_ISDIR(check.status.st_mode) && !m_itemSurveyed && holdsDestination(srcDirFd, name))
        return fail(FailureKind::IntoItself, "move", srcPath);
    CopiedItems copied;
    const Outcome placed = copyAndPlace({srcDirFd, name, srcPath, check.status}, destDirFd, check, &copied);
    if (placed != Outcome::Done && placed != Outcome::Partial) return placed;
    // The copy is complete, in place and on disk: only now does the source go,
    // entry by entry as far as it was copied and is unchanged since.  The
    // removal does not look at Cancel, so that a cancelled move leaves no
    // half-removed source behind a complete copy.
    const Outcome removed = removeEntry(srcDirFd, name, srcPath, RemoveMode::Copied, &copied);
    return worse(placed, removed);
}

// ===================================================================== names and renames

std::string Worker::randomTempName() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string name = kTempPrefix;
    for (int i = 0; i < 6; ++i) name += kLetters[pick(m_random)];
    return name;
}

int Worker::renameNoReplace(int oldDirFd, const std::string& oldName, int newDirFd, const std::string& newName) {
    const int result = m_system.renameAt(oldDirFd, oldName.c_str(), newDirFd, newName.c_str(), RENAME_NOREPLACE);
    if (result == 0 || (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)) return result;
    // The file system cannot refuse atomically (some network and FUSE file
    // systems): look, then rename.  Only an item created under the same name
    // in the same instant by another program could be replaced.
    struct stat status {};
    if (m_system.fstatAt(newDirFd, newName.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return m_system.renameAt(oldDirFd, oldName.c_str(), newDirFd, newName.c_str(), 0);
}

int Worker::renameReplacing(int oldDirFd, const std::string& oldName, const std::string& oldPath, int newDirFd,
                            const std::string& newName, const std::string& newPath) {
    // A folder and a non-folder cannot replace each other in one plain rename.
    // Within one directory (a finished copy under its temporary name) an
    // atomic exchange puts the new item in place and the old one under the
    // temporary name, from where it is removed; if the exchange fails, nothing
    // has changed.  Between two directories (a move) an exchange would put
    // the old item into the source directory under the moved item's name,
    // for good should it not all go.
    if (oldDirFd == newDirFd) {
        if (m_system.renameAt(oldDirFd, oldName.c_str(), newDirFd, newName.c_str(), RENAME_EXCHANGE) == 0) {
            discard(oldDirFd, oldName, oldPath);
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    }
    // The existing item steps aside under a temporary name in its own
    // directory, and goes only once the new one is in place.
    std::string aside;
    if (createUnderTempName(
            aside,
            [&](const std::string& candidate) { return renameNoReplace(newDirFd, newName, newDirFd, candidate); })
        < 0)
        return -1;
    if (renameNoReplace(oldDirFd, oldName, newDirFd, newName) < 0) {
        const int error = errno;
        if (renameNoReplace(newDirFd, aside, newDirFd, newName) < 0)
            reportLeftOver(newPath.substr(0, newPath.rfind('/') + 1) + aside, errno);
        errno = error;
        return -1;
    }
    discard(newDirFd, aside, newPath);
    return 0;
}

int Worker::openDirectory(int dirFd, const char* name, int extraFlags) {
    int fd = m_system.openAt(dirFd, name, O_RDONLY | O_DIRECTORY | extraFlags);
    // A directory the user may write into but not list is still a destination.
    if (fd < 0 && errno == EACCES) fd = m_system.openAt(dirFd, name, O_PATH | O_DIRECTORY | extraFlags);
    return fd;
}

} // namespace toka::fileops

namespace toka {

FileOperation::FileOperation(FileOpQuestions& questions, SystemCalls& system)
    : m_questions(questions), m_system(system) {}

FileOpResult FileOperation::run(const std::vector<std::string>& sources, FileOpKind kind,
                                const std::string& destination) {
    fileops::Worker worker(m_questions, m_system, kind);
    return worker.run(sources, destination);
}

} // namespace toka
