#pragma once
// The mounted volumes, which stand where drive letters stood: read from the
// text of /proc/self/mountinfo and from sysfs alone.  Nothing here calls
// statfs or opens a mount: an unreachable network share would block such a
// call for minutes.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace toka {

enum class VolumeKind : std::uint8_t {
    Fixed,     ///< a local, non-removable disk; "/" always
    Removable, ///< a removable disk, or any disk on a USB bus
    Remote,    ///< a network file system
    CdRom,     ///< iso9660, udf, or an sr device
    RamDisk,   ///< tmpfs/ramfs where a user would look, or a zram device
};

/// The tree image of a kind: fixed 1, CD-ROM 2, remote 3, removable 4,
/// RAM disk 1.
int treeImageOf(VolumeKind kind);

/// One line of mountinfo, unescaped (octal escapes such as "\040" undone).
struct MountEntry {
    int mountId = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    std::string root; ///< the directory of the file system mounted here
    std::string mountPoint;
    std::string fsType; ///< "ext4", "fuse.sshfs", ...
    std::string source; ///< "/dev/sda2", "server:/export", "tmpfs", ...
};

/// The lines of a mountinfo text; malformed lines are left out.
std::vector<MountEntry> parseMountInfo(std::string_view text);

/// The text of this process's /proc/self/mountinfo; "" when it cannot be
/// read.
std::string readMountInfo();

/// What sysfs knows about the disk under a block device.
struct DiskInfo {
    bool known = false;     ///< false: not a block device sysfs knows
    bool removable = false; ///< /sys/block/<disk>/removable is 1
    bool onUsb = false;     ///< the disk's sysfs path runs through a USB bus
    bool optical = false;   ///< an sr device
    bool zram = false;      ///< a zram device
};

/// The environment the classification asks; the real one reads sysfs, tests
/// pass fakes.
struct VolumeLookup {
    /// The disk behind a mount's device.  Called only for mounts that may sit
    /// on a local block device.
    std::function<DiskInfo(const MountEntry&)> disk;
    /// Whether a bind mount's mount point is a directory (a container binds
    /// single files such as /etc/hostname).  Called only for local mounts
    /// whose root is not "/".  Unset: every mount point counts as one.
    std::function<bool(const std::string& mountPoint)> isDirectory;
};

/// One volume of the top level of the tree.
struct Volume {
    std::string mountPoint; ///< the node's text: "/", "/media/anna/USB STICK"
    std::string path;       ///< mountPoint with one trailing "/" ("/" stays "/")
    VolumeKind kind = VolumeKind::Fixed;
    std::string fsType;
    unsigned major = 0;
    unsigned minor = 0;
    friend bool operator==(const Volume&, const Volume&) = default;
};

/// True for the file systems that are never shown and never entered by a
/// walk: proc, sysfs, devtmpfs, devpts, cgroup, ..., squashfs images, the
/// overlays of container runtimes, tmpfs under /run, and anything mounted at
/// or below /proc, /sys or /dev.
bool isPseudoMount(const MountEntry& mount);

/// The volumes of a mountinfo text: "/" first, then the others ordered by
/// their mount point bytes; pseudo file systems left out; a mount point
/// mounted over keeps only its last (visible) mount; a mount that shows part
/// of a file system that another listed mount shows as a whole or in a
/// larger part (same major:minor, root inside the other's root: bind mounts)
/// is listed once, so nothing is walked twice.  Separately mounted btrfs
/// subvolumes (same major:minor, roots side by side) are each listed: they
/// hold different files.
std::vector<Volume> classifyVolumes(std::string_view mountInfoText, const VolumeLookup& lookup);

/// The lookup that reads /sys/dev/block and /sys/class/block.
VolumeLookup systemVolumeLookup();

/// classifyVolumes on /proc/self/mountinfo with systemVolumeLookup; empty
/// when mountinfo cannot be read.
std::vector<Volume> mountedVolumes();

/// The fixed volumes, in the order of mountedVolumes: the roots of the
/// search of all fixed disks.
std::vector<Volume> fixedVolumes();

} // namespace toka
