#pragma once
// Who an open directory is: enough for a walk to recognise a directory it
// already stands in (a bind mount can show it again further down) and to
// notice where it crosses into another mount.  One statx per call.
//
// With it, when the directory's names last changed: a name is added,
// removed or renamed only with a new modification time, and the change time
// moves with it and with every change of the directory's owner, mode or
// ACL.  A program can set the modification time back (touch -d, tar, rsync
// -t), never the change time.  A recorded walk keeps both, with the device
// and inode, to tell later whether a directory's recorded listing still
// stands (see search/listing_check.h).

#include <compare>
#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace toka {

struct DirectoryIdentity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool mountRoot = false;      ///< the directory is the root of a mount
    bool mountRootKnown = false; ///< the kernel said whether it is (5.8 and later)

    /// Same device and inode: the same directory, however it was reached.
    bool isSameDirectory(const DirectoryIdentity& other) const { return dev == other.dev && ino == other.ino; }

    /// Whether this directory, an entry of parent, lies on another mount:
    /// it is the root of a mount, or its device differs (a btrfs subvolume
    /// has a device of its own without being a mount; a kernel before 5.8
    /// tells the device only, so a bind mount of the same file system goes
    /// unnoticed there).
    bool crossesMountFrom(const DirectoryIdentity& parent) const { return crossesMountFrom(parent.dev); }
    /// The same, for a parent known by its device only.
    bool crossesMountFrom(dev_t parentDevice) const { return (mountRootKnown && mountRoot) || dev != parentDevice; }
};

/// A file time as the kernel keeps it: seconds since the epoch and the
/// nanoseconds within that second (0 .. 999,999,999).  Seconds and
/// nanoseconds apart, so that no date a file system can hold overflows.
struct FileTime {
    std::int64_t seconds = 0;
    std::uint32_t nanoseconds = 0;
    friend auto operator<=>(const FileTime&, const FileTime&) = default;
};

/// The time nanoseconds after (before, when negative) time.
FileTime addNanoseconds(FileTime time, std::int64_t nanoseconds);

/// What a recorded walk keeps of a directory to tell whether its listing
/// still stands: equal stamps, the same directory with the same names.
struct DirectoryStamp {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    FileTime modified; ///< mtime: the last change of the directory's names
    FileTime changed;  ///< ctime: that, or the last change of its inode
    friend bool operator==(const DirectoryStamp&, const DirectoryStamp&) = default;
};

/// A directory's identity and stamp, read by one statx.
struct DirectoryStatus {
    DirectoryIdentity id;
    DirectoryStamp stamp;
};

/// The identity of the directory open at fd (statx with AT_EMPTY_PATH);
/// nullopt when statx fails (fd not open, or the file system refuses).
std::optional<DirectoryIdentity> directoryIdentity(int fd);

/// Identity and stamp of the directory open at fd (one statx); nullopt,
/// errno set, when statx fails.
std::optional<DirectoryStatus> directoryStatus(int fd);

/// Identity and stamp of the entry name of the open directory parentFd, read
/// through that descriptor without following a link and without opening the
/// entry (one statx); nullopt, errno set, when statx fails, and with errno
/// ENOTDIR when the entry is no directory (a symbolic link included).
std::optional<DirectoryStatus> directoryStatusAt(int parentFd, const char* name);

/// The current time of the clock the kernel stamps files with
/// (CLOCK_REALTIME).
FileTime currentFileTime();

} // namespace toka
