// Which file systems' directory times a verifying walk trusts: an explicit
// list, everything else untrusted.

#include <sys/vfs.h>

#include <gtest/gtest.h>

#include "platform/listing/dir_listing.h"
#include "platform/listing/file_system_trust.h"
#include "../support/temp_tree.h"

namespace toka::test {
namespace {

TEST(FileSystemTrust, OnlyTheListedLocalFileSystemsAreTrusted) {
    const struct {
        const char* what;
        unsigned long magic;
        bool trusted;
        bool wholeSeconds;
    } cases[] = {
        // ext2 and ext3 share ext4's magic number, and their whole seconds.
        {"ext2/ext3/ext4", 0xEF53, true, true},
        {"xfs", 0x58465342, true, false},
        {"btrfs", 0x9123683E, true, false},
        {"tmpfs", 0x01021994, true, false},
        {"ramfs", 0x858458F6, true, false},
        {"f2fs", 0xF2F52010, true, false},
        {"bcachefs", 0xCA451A4E, true, false},
        {"zfs", 0x2FC12FC1, true, false},
        // Attributes cached by the client: a change elsewhere shows late.
        {"nfs", 0x6969, false, false},
        {"cifs", 0xFF534D42, false, false},
        {"smb2", 0xFE534D42, false, false},
        {"9p", 0x01021997, false, false},
        {"ceph", 0x00C36400, false, false},
        // Times as the daemon says, or as the upper layer says.
        {"fuse", 0x65735546, false, false},
        {"overlayfs", 0x794C7630, false, false},
        // Times in steps of 2 s and 10 ms.
        {"vfat", 0x4D44, false, false},
        {"exfat", 0x2011BAB0, false, false},
        {"ntfs3", 0x7366746E, false, false},
        {"unknown", 0x12345678, false, false},
        {"none", 0, false, false},
    };
    for (const auto& c : cases) {
        const FileSystemTrust trust = fileSystemTrustOfMagic(c.magic);
        EXPECT_EQ(trust.trusted, c.trusted) << c.what;
        EXPECT_EQ(trust.wholeSecondTimesPossible, c.wholeSeconds) << c.what;
        EXPECT_EQ(trust.name, c.trusted ? c.what : "") << c.what;
    }
}

TEST(FileSystemTrust, ADescriptorIsJudgedByItsFileSystem) {
    TempTree tree;
    const auto fd = openDirectory(tree.path());
    ASSERT_TRUE(fd);
    struct statfs info {};
    ASSERT_EQ(::fstatfs(fd->get(), &info), 0);
    EXPECT_EQ(fileSystemTrust(fd->get()).trusted,
              fileSystemTrustOfMagic(static_cast<unsigned long>(info.f_type)).trusted);
    const auto proc = openDirectory("/proc");
    ASSERT_TRUE(proc);
    EXPECT_FALSE(fileSystemTrust(proc->get()).trusted);
    EXPECT_FALSE(fileSystemTrust(-1).trusted);
}

} // namespace
} // namespace toka::test
