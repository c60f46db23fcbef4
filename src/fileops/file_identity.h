#pragma once
// What the file-operation engine knows an item by: its identity (device and
// inode, which no renaming or bind mount changes), the stamp that tells
// whether its contents changed, and whether a directory is a mount point.

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>

namespace toka {

struct FileId {
    dev_t device;
    ino_t inode;
    auto operator<=>(const FileId&) const = default;
};

inline FileId idOf(const struct stat& status) { return {status.st_dev, status.st_ino}; }

/// Size, modification and change time to the nanosecond: a write, a
/// truncation or a chmod since the stamp was taken changes at least one.
struct FileStamp {
    off_t size = 0;
    struct timespec modified {};
    struct timespec changed {};
    bool operator==(const FileStamp& other) const;
};

inline FileStamp stampOf(const struct stat& status) { return {status.st_size, status.st_mtim, status.st_ctim}; }

/// The source entries a copy took, each with its stamp as it was when its
/// copy began: a move removes exactly these, and only while unchanged.
using CopiedItems = std::map<FileId, FileStamp>;

/// Whether the directory open as fd (status: its fstat) lies on another
/// file system than its parent (device parentDevice) or is the root of a
/// mount, bind mounts of the same file system included.  Kernels before 5.8
/// do not tell the mount root; there only another device is seen.
bool isMountPoint(int fd, const struct stat& status, dev_t parentDevice);

} // namespace toka
