// The volume list from mountinfo texts of real kinds of systems.

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/listing/volumes.h"

namespace toka::test {
namespace {

std::string readFixture(const std::string& name) {
    std::ifstream in(std::string(TOKA_TEST_DATA "/mountinfo/") + name);
    EXPECT_TRUE(in) << name;
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The disks of the fixtures, by device name, as sysfs would describe them.
VolumeLookup fakeLookup() {
    static const std::map<std::string, DiskInfo> disks = {
        {"/dev/nvme0n1p1", {true, false, false, false, false}},
        {"/dev/nvme0n1p2", {true, false, false, false, false}},
        {"/dev/nvme0n1p3", {true, false, false, false, false}},
        {"/dev/sdb1", {true, true, true, false, false}},  // stick: removable flag set
        {"/dev/sdc1", {true, false, true, false, false}}, // USB disk enclosure: flag 0
        {"/dev/sr0", {true, true, false, true, false}},
        {"/dev/zram0", {true, false, false, false, true}},
        {"/dev/mmcblk0p1", {true, true, false, false, false}}, // card reader
    };
    VolumeLookup lookup;
    lookup.disk = [](const MountEntry& mount) {
        auto it = disks.find(mount.source);
        return it == disks.end() ? DiskInfo{} : it->second;
    };
    lookup.isDirectory = [](const std::string& mountPoint) {
        return mountPoint != "/etc/hostname" && mountPoint != "/etc/hosts" && mountPoint != "/etc/resolv.conf";
    };
    return lookup;
}

struct Expected {
    std::string mountPoint;
    VolumeKind kind;
};

struct FixtureCase {
    const char* fixture;
    std::vector<Expected> volumes;
};

TEST(Volumes, FixturesGiveTheOrderedVolumesWithTheirKinds) {
    const FixtureCase cases[] = {
        {"laptop.txt",
         {
             {"/", VolumeKind::Fixed},
             {"/boot/efi", VolumeKind::Fixed},
             {"/home", VolumeKind::Fixed},
             {"/media/anna/Backup", VolumeKind::Removable}, // on USB though not flagged removable
             {"/media/anna/HOLIDAY_2019", VolumeKind::CdRom},
             {"/media/anna/USB STICK", VolumeKind::Removable}, // \040 undone
             {"/mnt/nas", VolumeKind::Remote},
             {"/mnt/office", VolumeKind::Remote},
             {"/mnt/scratch", VolumeKind::RamDisk}, // zram
             {"/tmp", VolumeKind::RamDisk},
             // left out: /srv/music (bind mount of part of /home), snaps,
             // docker overlay, /run and its tmpfs and fuse mounts, /proc, /sys, /dev
         }},
        {"container.txt",
         {
             {"/", VolumeKind::Fixed},      // an overlay, but "/" is always fixed
             {"/cache", VolumeKind::Fixed}, // beside /work on the same disk: both shown
             {"/work", VolumeKind::Fixed},
             // left out: bound files (/etc/hosts ...), /work/data inside /work
         }},
        {"btrfs.txt",
         {
             {"/", VolumeKind::Fixed},
             {"/boot/efi", VolumeKind::Fixed},
             {"/home", VolumeKind::Fixed}, // a subvolume beside "/": other files
             {"/run/media/anna/CARD", VolumeKind::Removable},
             {"/tmp", VolumeKind::RamDisk},
             {"/var/log", VolumeKind::Fixed},
             // left out: /var/lib/libvirt/images, a part of the /home subvolume
         }},
    };
    for (const FixtureCase& c : cases) {
        SCOPED_TRACE(c.fixture);
        std::vector<Volume> volumes = classifyVolumes(readFixture(c.fixture), fakeLookup());
        std::vector<std::string> got, want;
        for (const Volume& v : volumes) got.push_back(v.mountPoint);
        for (const Expected& e : c.volumes) want.push_back(e.mountPoint);
        ASSERT_EQ(got, want);
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            EXPECT_EQ(volumes[i].kind, c.volumes[i].kind) << volumes[i].mountPoint;
            std::string path = volumes[i].mountPoint == "/" ? "/" : volumes[i].mountPoint + "/";
            EXPECT_EQ(volumes[i].path, path);
        }
    }
}

TEST(Volumes, ParsingUndoesOctalEscapesAndSkipsBrokenLines) {
    const std::string text = "50 22 8:17 /a\\134b /media/x\\040y\\011z rw - vfat /dev/sdb\\0401 rw\n"
                             "garbage line\n"
                             "51 22 8:18 / /mnt/no-separator rw vfat /dev/sdb2 rw\n"
                             "52 22 8:19 / /mnt/ok rw shared:1 master:2 - ext4 /dev/sdb3 rw\n";
    std::vector<MountEntry> mounts = parseMountInfo(text);
    ASSERT_EQ(mounts.size(), 2u);
    EXPECT_EQ(mounts[0].root, "/a\\b");
    EXPECT_EQ(mounts[0].mountPoint, "/media/x y\tz");
    EXPECT_EQ(mounts[0].source, "/dev/sdb 1");
    EXPECT_EQ(mounts[0].major, 8u);
    EXPECT_EQ(mounts[0].minor, 17u);
    EXPECT_EQ(mounts[1].mountPoint, "/mnt/ok"); // optional fields before "-"
    EXPECT_EQ(mounts[1].fsType, "ext4");
}

TEST(Volumes, MountedOverShowsOnlyTheVisibleMount) {
    const std::string text = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                             "2 1 8:2 / /data rw - ext4 /dev/sda2 rw\n"
                             "3 1 0:40 / /data rw - nfs4 srv:/x rw\n";
    std::vector<Volume> volumes = classifyVolumes(text, {});
    ASSERT_EQ(volumes.size(), 2u);
    EXPECT_EQ(volumes[1].mountPoint, "/data");
    EXPECT_EQ(volumes[1].kind, VolumeKind::Remote);
}

TEST(Volumes, BindMountIsListedOnceWhicheverSortsFirst) {
    // The bind mount /a/www sorts before the whole file system at /data: it
    // is still the part that goes, or /data/www would be walked twice.
    const std::string text = "1 0 8:1 / / rw - ext4 /dev/sda1 rw\n"
                             "2 1 8:2 /www /a/www rw - ext4 /dev/sda2 rw\n"
                             "3 1 8:2 / /data rw - ext4 /dev/sda2 rw\n"
                             "4 1 8:2 / /data-again rw - ext4 /dev/sda2 rw\n";
    std::vector<Volume> volumes = classifyVolumes(text, {});
    std::vector<std::string> points;
    for (const Volume& v : volumes) points.push_back(v.mountPoint);
    EXPECT_EQ(points, (std::vector<std::string>{"/", "/data"}));
}

TEST(Volumes, PseudoMounts) {
    struct Case {
        const char* point;
        const char* type;
        bool pseudo;
    };
    const Case cases[] = {
        {"/", "overlay", false}, // a container's root
        {"/proc", "proc", true},
        {"/mnt/proc-copy", "proc", true}, // by type wherever it is
        {"/dev/shm", "tmpfs", true},      // below /dev
        {"/sys/fs/cgroup", "tmpfs", true},
        {"/run/user/1000", "tmpfs", true},
        {"/run/media/anna/X", "tmpfs", false}, // where removable media appear
        {"/tmp", "tmpfs", false},
        {"/run/media/anna/X", "vfat", false},
        {"/snap/core22/1122", "squashfs", true},
        {"/var/lib/docker/overlay2/a/merged", "overlay", true},
        {"/mnt/layers", "overlay", false}, // an overlay a user mounted
        {"/procfiles", "ext4", false},     // only a name that starts like /proc
        {"/devel", "ext4", false},
    };
    for (const Case& c : cases) {
        MountEntry mount;
        mount.mountPoint = c.point;
        mount.fsType = c.type;
        EXPECT_EQ(isPseudoMount(mount), c.pseudo) << c.point << " " << c.type;
    }
}

TEST(Volumes, ThisSystemListsRootFirst) {
    std::vector<Volume> volumes = mountedVolumes();
    ASSERT_FALSE(volumes.empty());
    EXPECT_EQ(volumes.front().mountPoint, "/");
    EXPECT_EQ(volumes.front().kind, VolumeKind::Fixed);
    for (const Volume& v : volumes) {
        EXPECT_NE(v.mountPoint.rfind("/proc", 0), 0u) << v.mountPoint;
        EXPECT_NE(v.mountPoint.rfind("/sys", 0), 0u) << v.mountPoint;
    }
}

} // namespace
} // namespace toka::test
