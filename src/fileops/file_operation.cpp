// The run of the file-operation engine: the list of items, the survey that
// gives the progress its total, the checks every item passes before it is
// copied or moved, and the questions to the user.

#include "fileops/file_operation.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <utility>

#include "fileops/worker.h"

namespace toka::fileops {
namespace {

// 1 MiB chunks: at the 20 MB/s of a slow USB stick one chunk takes 50 ms,
// so Cancel is seen within a fraction of a second, while the per-call cost
// is negligible on a fast disk.
constexpr std::size_t kChunkSize = std::size_t{1} << 20;

// The window processes its events in progress(); 25 ms keeps a dialog fluid
// without spending the copy's time on event processing.
constexpr std::chrono::milliseconds kProgressInterval{25};

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
    : m_questions(questions), m_system(system), m_kind(kind), m_privileged(::geteuid() == 0), m_user(::geteuid()),
      m_group(::getegid()), m_random(std::random_device{}()) {
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
    m_destinationFd = dest.get();
    m_destinationPath = destPath;
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
    return transferInto(parentFd.get(), source.name, path, destFd, destPath);
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

// ===================================================================== checks

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
