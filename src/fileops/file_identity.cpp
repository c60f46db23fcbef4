#include "fileops/file_identity.h"

#include <optional>

#include "platform/core/directory_identity.h"

namespace toka {

bool FileStamp::operator==(const FileStamp& other) const {
    return size == other.size && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec
           && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

bool isMountPoint(int fd, const struct stat& status, dev_t parentDevice) {
    if (status.st_dev != parentDevice) return true; // no second system call needed
    const std::optional<DirectoryIdentity> id = directoryIdentity(fd);
    return id && id->crossesMountFrom(parentDevice);
}

} // namespace toka
