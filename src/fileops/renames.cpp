// The hidden temporary names of the file-operation engine and the renames
// that put an item in place: without replacing (RENAME_NOREPLACE, or a look
// first where the file system cannot refuse), or replacing a folder by a
// non-folder and back (an atomic exchange, or the old item stepping aside
// until the new one is in place).

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "fileops/worker.h"

namespace toka::fileops {
namespace {

constexpr char kTempPrefix[] = ".toka-";

} // namespace

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

} // namespace toka::fileops
