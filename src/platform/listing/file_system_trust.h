#pragma once
// Which file systems' directory times can be trusted to tell every change
// of a directory's names, and how coarse those times are: what a verifying
// walk needs before it answers a directory from its record instead of
// listing it.
//
// The list is explicit: local file systems that set a directory's
// modification and change times on every creation, removal and rename in
// it.  Everything else is untrusted and always listed again, in particular
// network file systems (NFS, CIFS/SMB, 9p, Ceph, AFS: their clients cache
// attributes, and a change made on the server or another client shows late
// or not at all), FUSE (the times are whatever the daemon says), overlayfs
// (a change in a lower layer leaves the merged directory's times alone),
// vfat and exfat (times in steps of 2 s and 10 ms, and no change time) and
// any file system not named here.

#include <cstdint>
#include <string_view>

namespace toka {

struct FileSystemTrust {
    bool trusted = false;
    /// The file system's name, for messages and tests ("" when unknown).
    std::string_view name;
    /// Every trusted file system keeps times to the nanosecond; on some,
    /// whole seconds are possible as well: ext2 and ext3 keep no more, nor
    /// does ext4 with inodes of 128 bytes, and the magic number cannot tell
    /// them from ext4 with inodes of 256 bytes.  A directory there whose
    /// times carry no nanoseconds is taken to have times of whole seconds.
    bool wholeSecondTimesPossible = false;
};

/// The trust of the file system whose statfs f_type is magic; untrusted for
/// every magic number not on the list.
FileSystemTrust fileSystemTrustOfMagic(unsigned long magic);

/// The trust of the file system of the open descriptor fd (one fstatfs);
/// untrusted when fstatfs fails.
FileSystemTrust fileSystemTrust(int fd);

} // namespace toka
