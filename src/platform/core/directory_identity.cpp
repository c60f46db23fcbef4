#include "platform/core/directory_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace toka {

std::optional<DirectoryIdentity> directoryIdentity(int fd) {
    struct statx stx;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO, &stx) != 0) return std::nullopt;
    DirectoryIdentity id;
    id.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    id.ino = stx.stx_ino;
#ifdef STATX_ATTR_MOUNT_ROOT
    id.mountRootKnown = (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0;
    id.mountRoot = (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
#endif
    return id;
}

} // namespace toka
