#include "platform/core/system_calls.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace toka {

int SystemCalls::openAt(int dirFd, const char* name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::openat(dirFd, name, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int SystemCalls::close(int fd) {
    // Linux releases the descriptor even when close reports EINTR, so a retry
    // could close a descriptor that another open has reused.
    return ::close(fd);
}

ssize_t SystemCalls::read(int fd, void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

ssize_t SystemCalls::write(int fd, const void* buffer, std::size_t size) {
    ssize_t n;
    do {
        n = ::write(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n;
}

int SystemCalls::fstat(int fd, struct stat* status) { return ::fstat(fd, status); }

int SystemCalls::fstatAt(int dirFd, const char* name, struct stat* status, int flags) {
    return ::fstatat(dirFd, name, status, flags);
}

int SystemCalls::mkdirAt(int dirFd, const char* name, mode_t mode) { return ::mkdirat(dirFd, name, mode); }

int SystemCalls::mknodAt(int dirFd, const char* name, mode_t mode, dev_t device) {
    return ::mknodat(dirFd, name, mode, device);
}

int SystemCalls::symlinkAt(const char* target, int dirFd, const char* name) { return ::symlinkat(target, dirFd, name); }

int SystemCalls::linkAt(int oldDirFd, const char* oldName, int newDirFd, const char* newName, int flags) {
    return ::linkat(oldDirFd, oldName, newDirFd, newName, flags);
}

ssize_t SystemCalls::readlinkAt(int dirFd, const char* name, char* buffer, std::size_t size) {
    return ::readlinkat(dirFd, name, buffer, size);
}

int SystemCalls::unlinkAt(int dirFd, const char* name, int flags) { return ::unlinkat(dirFd, name, flags); }

int SystemCalls::renameAt(int oldDirFd, const char* oldName, int newDirFd, const char* newName, unsigned flags) {
    return ::renameat2(oldDirFd, oldName, newDirFd, newName, flags);
}

namespace {

/// The path through which the kernel reaches exactly the node open as fd.
std::string descriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

bool isPathDescriptor(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && (flags & O_PATH) != 0;
}

} // namespace

int SystemCalls::fchmod(int fd, mode_t mode) {
    if (::fchmod(fd, mode) == 0) return 0;
    if (errno != EBADF || !isPathDescriptor(fd)) return -1;
    // An O_PATH descriptor allows no fchmod; its /proc link leads to the very
    // node (the way glibc's fchmodat with AT_SYMLINK_NOFOLLOW does it).
    return ::chmod(descriptorPath(fd).c_str(), mode);
}

int SystemCalls::futimens(int fd, const struct timespec times[2]) {
    if (::futimens(fd, times) == 0) return 0;
    if (errno != EBADF || !isPathDescriptor(fd)) return -1;
    return ::utimensat(AT_FDCWD, descriptorPath(fd).c_str(), times, 0);
}

int SystemCalls::utimensAt(int dirFd, const char* name, const struct timespec times[2], int flags) {
    return ::utimensat(dirFd, name, times, flags);
}

int SystemCalls::fchown(int fd, uid_t owner, gid_t group) {
    if (::fchown(fd, owner, group) == 0) return 0;
    if (errno != EBADF || !isPathDescriptor(fd)) return -1;
    return ::fchownat(fd, "", owner, group, AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW);
}

ssize_t SystemCalls::listXattrs(int fd, char* names, std::size_t size) {
    const ssize_t n = ::flistxattr(fd, names, size);
    if (n >= 0 || errno != EBADF || !isPathDescriptor(fd)) return n;
    return ::listxattr(descriptorPath(fd).c_str(), names, size);
}

ssize_t SystemCalls::getXattr(int fd, const char* name, void* value, std::size_t size) {
    const ssize_t n = ::fgetxattr(fd, name, value, size);
    if (n >= 0 || errno != EBADF || !isPathDescriptor(fd)) return n;
    return ::getxattr(descriptorPath(fd).c_str(), name, value, size);
}

int SystemCalls::setXattr(int fd, const char* name, const void* value, std::size_t size) {
    if (::fsetxattr(fd, name, value, size, 0) == 0) return 0;
    if (errno != EBADF || !isPathDescriptor(fd)) return -1;
    return ::setxattr(descriptorPath(fd).c_str(), name, value, size, 0);
}

int SystemCalls::removeXattr(int fd, const char* name) {
    if (::fremovexattr(fd, name) == 0) return 0;
    if (errno != EBADF || !isPathDescriptor(fd)) return -1;
    return ::removexattr(descriptorPath(fd).c_str(), name);
}

off_t SystemCalls::seek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }

int SystemCalls::truncate(int fd, off_t length) {
    int result;
    do {
        result = ::ftruncate(fd, length);
    } while (result < 0 && errno == EINTR);
    return result;
}

ssize_t SystemCalls::copyFileRange(int inFd, off_t* inOffset, int outFd, off_t* outOffset, std::size_t size) {
    ssize_t n;
    do {
        n = ::copy_file_range(inFd, inOffset, outFd, outOffset, size, 0);
    } while (n < 0 && errno == EINTR);
    return n;
}

int SystemCalls::cloneFile(int destFd, int srcFd) {
    int result;
    do {
        result = ::ioctl(destFd, FICLONE, srcFd);
    } while (result < 0 && errno == EINTR);
    return result;
}

int SystemCalls::fsync(int fd) {
    int result;
    do {
        result = ::fsync(fd);
    } while (result < 0 && errno == EINTR);
    return result;
}

int SystemCalls::syncFileSystem(int fd) { return ::syncfs(fd); }

int SystemCalls::duplicate(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

int SystemCalls::listDirectory(int dirFd, std::vector<std::string>& names) {
    names.clear();
    int own = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) return -1;
    DIR* dir = ::fdopendir(own);
    if (!dir) {
        int saved = errno;
        ::close(own);
        errno = saved;
        return -1;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) break;
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        names.emplace_back(name);
    }
    int saved = errno;
    ::closedir(dir);
    errno = saved;
    return saved == 0 ? 0 : -1;
}

SystemCalls& posixSystemCalls() {
    static SystemCalls instance;
    return instance;
}

} // namespace toka
