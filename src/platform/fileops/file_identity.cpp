#include "platform/fileops/file_identity.h"

#include <fcntl.h>

namespace toka {

bool FileStamp::operator==(const FileStamp& other) const {
    return size == other.size && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec
           && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

bool isMountPoint(SystemCalls& system, int fd, const struct stat& status, dev_t parentDevice) {
    if (status.st_dev != parentDevice) return true;
    struct statx extended {};
    return system.statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO, &extended) == 0
           && (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0
           && (extended.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
}

} // namespace toka
