// Which file systems the walk leaves out: by mountinfo device, and by statfs
// magic for a device mounted after mountinfo was read.

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/listing/dir_listing.h"
#include "platform/listing/mount_table.h"
#include "platform/listing/pseudo_file_systems.h"
#include "../support/temp_tree.h"

namespace toka::test {
namespace {

TEST(MountTable, DeviceIsPseudoOnlyWhenNoMountOfItIsReal) {
    const MountTable table("1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                           "2 1 0:22 / /proc rw - proc proc rw\n"
                           "3 1 0:40 / /run/user/1000 rw - tmpfs tmpfs rw\n"
                           "4 1 0:40 / /media/x rw - tmpfs tmpfs rw\n" // the same tmpfs, where a user looks
                           "5 1 0:41 / /run/lock rw - tmpfs tmpfs rw\n"
                           "6 1 8:1 /srv /mnt/srv-again rw - ext4 /dev/sda1 rw\n"
                           "broken line\n");
    struct Case {
        unsigned major, minor;
        std::optional<bool> pseudo;
    };
    const Case cases[] = {
        {8, 1, false}, {0, 22, true},         {0, 40, false}, // shown as a real volume at /media/x: walked
        {0, 41, true}, {0, 99, std::nullopt},                 // mounted after the table was read
    };
    for (const Case& c : cases) {
        EXPECT_EQ(table.isPseudoDevice(makedev(c.major, c.minor)), c.pseudo) << c.major << ":" << c.minor;
    }
}

TEST(MountTable, UnlistedDeviceIsJudgedByItsMagicNumber) {
    TempTree tree;
    auto proc = openDirectory("/proc");
    auto plain = openDirectory(tree.path());
    ASSERT_TRUE(proc && plain);
    const MountTable empty("");
    EXPECT_TRUE(empty.isPseudo(proc->get(), makedev(0, 99)));
    EXPECT_FALSE(empty.isPseudo(plain->get(), makedev(0, 99)));
    EXPECT_FALSE(empty.isPseudo(-1, makedev(0, 99))) << "fstatfs fails: not pseudo";
    // A listed device is decided by the table, whatever the descriptor.
    const MountTable listed("1 0 0:99 / /data rw - ext4 /dev/sdz1 rw\n");
    EXPECT_FALSE(listed.isPseudo(proc->get(), makedev(0, 99)));
}

TEST(MountTable, ThisSystemKnowsProcAsPseudo) {
    struct stat st;
    ASSERT_EQ(::stat("/proc/self", &st), 0);
    EXPECT_EQ(MountTable::current().isPseudoDevice(st.st_dev), std::optional<bool>(true));
}

TEST(PseudoFileSystems, TypeNamesAndMagicNumbers) {
    struct Case {
        const char* type;
        unsigned long magic; // statfs f_type of that type
        bool byName, byMagic;
    };
    const Case cases[] = {
        {"proc", 0x9fa0, true, true},
        {"cgroup2", 0x63677270, true, true},
        {"squashfs", 0x73717368, true, true},  // snap images
        {"devtmpfs", 0x01021994, true, false}, // reports tmpfs's magic: by name only
        {"tmpfs", 0x01021994, false, false},
        {"fuse.lxcfs", 0x65735546, true, false}, // every fuse type reports FUSE's magic
        {"fuse.sshfs", 0x65735546, false, false},
        {"ext4", 0xef53, false, false},
        {"overlay", 0x794c7630, false, false}, // pseudo only where containers keep it
        {"", 0, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isPseudoFileSystemType(c.type), c.byName) << c.type;
        EXPECT_EQ(isPseudoFileSystemMagic(c.magic), c.byMagic) << c.type;
    }
}

} // namespace
} // namespace toka::test
