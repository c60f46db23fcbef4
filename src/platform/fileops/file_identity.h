#pragma once
// What the file-operation engine knows about an item beyond its stat:
// whether a directory is a mount point.

#include <sys/stat.h>
#include <sys/types.h>

#include "platform/fileops/system_calls.h"

namespace toka {

/// Whether the directory open as fd (status: its fstat) lies on another
/// file system than its parent (device parentDevice) or is the root of a
/// mount, bind mounts of the same file system included.  Kernels before 5.8
/// do not tell the mount root; there only another device is seen.
bool isMountPoint(SystemCalls& system, int fd, const struct stat& status, dev_t parentDevice);

} // namespace toka
