#pragma once
// Who an open directory is: enough for a walk to recognise a directory it
// already stands in (a bind mount can show it again further down) and to
// notice where it crosses into another mount.  One statx per call.

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

/// The identity of the directory open at fd (statx with AT_EMPTY_PATH);
/// nullopt when statx fails (fd not open, or the file system refuses).
std::optional<DirectoryIdentity> directoryIdentity(int fd);

} // namespace toka
