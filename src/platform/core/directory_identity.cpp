#include "platform/core/directory_identity.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace toka {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;

// One statx: the inode number always; the times only when stamped.  For a
// local file system the kernel fills every basic field whatever the mask,
// so asking for the times costs nothing more.
std::optional<DirectoryStatus> statDirectory(int dirFd, const char* name, int flags, bool requireDirectory) {
    struct statx stx;
    const unsigned mask = STATX_TYPE | STATX_INO | STATX_MTIME | STATX_CTIME;
    if (::statx(dirFd, name, flags | AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, mask, &stx) != 0) return std::nullopt;
    if (requireDirectory && !S_ISDIR(stx.stx_mode)) {
        errno = ENOTDIR;
        return std::nullopt;
    }
    DirectoryStatus status;
    status.id.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    status.id.ino = stx.stx_ino;
#ifdef STATX_ATTR_MOUNT_ROOT
    status.id.mountRootKnown = (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0;
    status.id.mountRoot = (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
    status.stamp.dev = status.id.dev;
    status.stamp.ino = status.id.ino;
    status.stamp.modified = {stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec};
    status.stamp.changed = {stx.stx_ctime.tv_sec, stx.stx_ctime.tv_nsec};
    return status;
}

} // namespace

FileTime addNanoseconds(FileTime time, std::int64_t nanoseconds) {
    std::int64_t seconds = time.seconds + nanoseconds / kNanosecondsPerSecond;
    std::int64_t rest = std::int64_t{time.nanoseconds} + nanoseconds % kNanosecondsPerSecond;
    if (rest < 0) {
        rest += kNanosecondsPerSecond;
        --seconds;
    } else if (rest >= kNanosecondsPerSecond) {
        rest -= kNanosecondsPerSecond;
        ++seconds;
    }
    return {seconds, static_cast<std::uint32_t>(rest)};
}

std::optional<DirectoryIdentity> directoryIdentity(int fd) {
    const auto status = statDirectory(fd, "", AT_EMPTY_PATH, false);
    if (!status) return std::nullopt;
    return status->id;
}

std::optional<DirectoryStatus> directoryStatus(int fd) { return statDirectory(fd, "", AT_EMPTY_PATH, false); }

std::optional<DirectoryStatus> directoryStatusAt(int parentFd, const char* name) {
    return statDirectory(parentFd, name, 0, true);
}

FileTime currentFileTime() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return {now.tv_sec, static_cast<std::uint32_t>(now.tv_nsec)};
}

} // namespace toka
