#pragma once
// The system calls of the file-operation engine, behind one seam.
//
// Every call the engine makes to the file system goes through a SystemCalls
// object.  The base class calls the system; tests derive from it and override
// single calls to produce what a real file system will not do on demand: a
// write that fails after N bytes, a full disk, a rename that fails, a rename
// that answers EXDEV, an entry that vanishes between listing and opening.
//
// The functions follow the POSIX convention (-1 and errno on failure) so that
// an override can fail exactly like the system would.  EINTR is retried inside
// the default implementation where the system call can return it.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/core/unique_fd.h"

namespace toka {

class SystemCalls : public FdCloser {
public:
    virtual ~SystemCalls() = default;

    /// fd owned by a UniqueFd that closes it through this object (-1: none).
    UniqueFd own(int fd) { return UniqueFd(fd, this); }

    virtual int openAt(int dirFd, const char* name, int flags, mode_t mode = 0);
    int close(int fd) override;
    virtual ssize_t read(int fd, void* buffer, std::size_t size);
    virtual ssize_t write(int fd, const void* buffer, std::size_t size);
    virtual int fstat(int fd, struct stat* status);
    virtual int fstatAt(int dirFd, const char* name, struct stat* status, int flags);
    virtual int mkdirAt(int dirFd, const char* name, mode_t mode);
    virtual int mknodAt(int dirFd, const char* name, mode_t mode, dev_t device);
    virtual int symlinkAt(const char* target, int dirFd, const char* name);
    /// linkat(2): a new name for an existing node (flags 0: a link is linked itself).
    virtual int linkAt(int oldDirFd, const char* oldName, int newDirFd, const char* newName, int flags);
    virtual ssize_t readlinkAt(int dirFd, const char* name, char* buffer, std::size_t size);
    virtual int unlinkAt(int dirFd, const char* name, int flags);
    /// renameat2(2); flags 0, RENAME_NOREPLACE or RENAME_EXCHANGE.
    virtual int renameAt(int oldDirFd, const char* oldName, int newDirFd, const char* newName, unsigned flags);
    /// fchmod and futimens also take a descriptor opened with O_PATH, so that
    /// a node that cannot be opened for reading (a socket, a device, a folder
    /// without read permission) is changed without its name being looked up
    /// again: nothing put in its place meanwhile is touched.
    virtual int fchmod(int fd, mode_t mode);
    virtual int futimens(int fd, const struct timespec times[2]);
    virtual int utimensAt(int dirFd, const char* name, const struct timespec times[2], int flags);
    /// fchown(2); an O_PATH descriptor (a symbolic link) too, the node itself
    /// changed.  -1 leaves the owner or the group as it is.
    virtual int fchown(int fd, uid_t owner, gid_t group);
    /// The extended attributes of the node open as fd, by the f*xattr calls;
    /// an O_PATH descriptor too (a symbolic link, a device), through its
    /// /proc link, which leads to the node itself.  As listxattr(2),
    /// getxattr(2), setxattr(2) (flags 0) and removexattr(2).
    virtual ssize_t listXattrs(int fd, char* names, std::size_t size);
    virtual ssize_t getXattr(int fd, const char* name, void* value, std::size_t size);
    virtual int setXattr(int fd, const char* name, const void* value, std::size_t size);
    virtual int removeXattr(int fd, const char* name);
    /// lseek(2), including SEEK_DATA and SEEK_HOLE.
    virtual off_t seek(int fd, off_t offset, int whence);
    /// ftruncate(2).
    virtual int truncate(int fd, off_t length);
    /// copy_file_range(2) with explicit offsets (flags 0): the kernel copies
    /// without the bytes passing through the process.
    virtual ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, off_t* outOffset, std::size_t size);
    /// ioctl(destFd, FICLONE, srcFd): destFd shares srcFd's blocks (a reflink).
    virtual int cloneFile(int destFd, int srcFd);
    /// fsync and syncFileSystem are called on a thread of their own, which an
    /// operation cancelled meanwhile stops waiting for: such a call may still
    /// run after FileOperation::run returned, and the object must outlive it.
    virtual int fsync(int fd);
    /// Flushes the whole file system that holds fd (syncfs(2)).
    virtual int syncFileSystem(int fd);
    /// A second descriptor of what fd is open as (F_DUPFD_CLOEXEC).
    virtual int duplicate(int fd);
    /// The names in the directory open as dirFd, without "." and "..", in the
    /// order the system returns them.  dirFd stays open and keeps its offset
    /// (the listing reads through a descriptor of its own).  0 or -1/errno.
    virtual int listDirectory(int dirFd, std::vector<std::string>& names);
};

/// The process-wide instance that calls the system.
SystemCalls& posixSystemCalls();

} // namespace toka
