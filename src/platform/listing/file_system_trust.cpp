#include "platform/listing/file_system_trust.h"

#include <algorithm>
#include <array>
#include <sys/vfs.h>

namespace toka {

namespace {

struct TrustedFileSystem {
    unsigned long magic; ///< statfs f_type (linux/magic.h)
    std::string_view name;
    bool wholeSeconds;
};

constexpr std::array<TrustedFileSystem, 8> kTrusted = {{
    {0xEF53, "ext2/ext3/ext4", true},
    {0x58465342, "xfs", false},
    {0x9123683E, "btrfs", false},
    {0x01021994, "tmpfs", false},
    {0x858458F6, "ramfs", false},
    {0xF2F52010, "f2fs", false},
    {0xCA451A4E, "bcachefs", false},
    {0x2FC12FC1, "zfs", false},
}};

} // namespace

FileSystemTrust fileSystemTrustOfMagic(unsigned long magic) {
    const auto found = std::find_if(kTrusted.begin(), kTrusted.end(),
                                    [magic](const TrustedFileSystem& fs) { return fs.magic == magic; });
    if (found == kTrusted.end()) return {};
    return {true, found->name, found->wholeSeconds};
}

FileSystemTrust fileSystemTrust(int fd) {
    struct statfs info {};
    if (::fstatfs(fd, &info) != 0) return {};
    // f_type is a signed word: where it has 32 bits, the magic numbers with
    // the top bit set (btrfs, bcachefs) come back negative.
    return fileSystemTrustOfMagic(static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFul);
}

} // namespace toka
