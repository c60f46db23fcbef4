// The move of one item by the file-operation engine: a rename within one
// file system; across file systems a complete copy put in place, and only
// then the removal of the source entries it took.

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "fileops/worker.h"

namespace toka::fileops {

Outcome Worker::moveChecked(int srcDirFd, const std::string& name, const std::string& srcPath, int destDirFd,
                            const TransferCheck& check) {
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

} // namespace toka::fileops
