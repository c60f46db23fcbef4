#pragma once
// The one list of pseudo file systems (proc, sysfs, cgroup, ...): what the
// tree never shows as a volume and the walk never enters.  A mount is known
// by its type name in mountinfo; a file system mounted after mountinfo was
// read is known by the magic number statfs reports for it.

#include <string_view>

namespace toka {

/// True for the type name of a pseudo file system as mountinfo spells it:
/// "proc", "sysfs", "devtmpfs", "cgroup2", "squashfs", "fuse.lxcfs", ...
bool isPseudoFileSystemType(std::string_view type);

/// True for the statfs f_type of a pseudo file system (linux/magic.h).  A
/// few types have no magic number of their own -- devtmpfs is a tmpfs, the
/// fuse ones all report FUSE's -- so they are known by name only.
bool isPseudoFileSystemMagic(unsigned long magic);

} // namespace toka
