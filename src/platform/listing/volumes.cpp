#include "platform/listing/volumes.h"

#include "platform/listing/dir_listing.h"
#include "platform/listing/pseudo_file_systems.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace toka {

int treeImageOf(VolumeKind kind) {
    switch (kind) {
    case VolumeKind::Fixed:
        return 1;
    case VolumeKind::CdRom:
        return 2;
    case VolumeKind::Remote:
        return 3;
    case VolumeKind::Removable:
        return 4;
    case VolumeKind::RamDisk:
        return 1;
    }
    return 1;
}

namespace {

// mountinfo escapes blank, tab, newline and backslash as \ooo.
std::string unescapeOctal(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3'
            && field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && line[pos] == ' ') ++pos;
        if (pos >= line.size()) break;
        std::size_t end = line.find(' ', pos);
        if (end == std::string_view::npos) end = line.size();
        fields.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return fields;
}

bool parseUnsigned(std::string_view text, unsigned& value) {
    if (text.empty()) return false;
    unsigned long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        result = result * 10 + static_cast<unsigned>(c - '0');
        if (result > 0xFFFFFFFFul) return false;
    }
    value = static_cast<unsigned>(result);
    return true;
}

bool isAtOrBelow(std::string_view path, std::string_view dir) {
    if (path.size() < dir.size() || path.compare(0, dir.size(), dir) != 0) return false;
    return path.size() == dir.size() || path[dir.size()] == '/';
}

bool isOneOf(std::string_view value, std::initializer_list<std::string_view> set) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

bool isRemoteType(std::string_view type) {
    return isOneOf(type, {"nfs",          "nfs4",
                          "cifs",         "smb3",
                          "smbfs",        "9p",
                          "afs",          "ceph",
                          "glusterfs",    "fuse.glusterfs",
                          "fuse.sshfs",   "sshfs",
                          "fuse.rclone",  "fuse.s3fs",
                          "fuse.gcsfuse", "davfs",
                          "fuse.davfs2",  "ncpfs",
                          "coda",         "lustre",
                          "beegfs",       "gpfs",
                          "ocfs2",        "vboxsf",
                          "virtiofs",     "fuse.vmhgfs-fuse",
                          "fuse.cephfs"});
}

bool isRamType(std::string_view type) { return type == "tmpfs" || type == "ramfs"; }

} // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;

        auto fields = splitFields(line);
        // id parent major:minor root mountpoint options [optional...] - type source superoptions
        auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 6 || dash == fields.end() || dash - fields.begin() < 6 || fields.end() - dash < 3) {
            continue;
        }
        MountEntry mount;
        unsigned id = 0, parent = 0;
        std::string_view dev = fields[2];
        std::size_t colon = dev.find(':');
        if (!parseUnsigned(fields[0], id) || !parseUnsigned(fields[1], parent) || colon == std::string_view::npos
            || !parseUnsigned(dev.substr(0, colon), mount.major)
            || !parseUnsigned(dev.substr(colon + 1), mount.minor)) {
            continue;
        }
        mount.mountId = static_cast<int>(id);
        mount.parentId = static_cast<int>(parent);
        mount.root = unescapeOctal(fields[3]);
        mount.mountPoint = unescapeOctal(fields[4]);
        mount.fsType = unescapeOctal(dash[1]);
        mount.source = unescapeOctal(dash[2]);
        mounts.push_back(std::move(mount));
    }
    return mounts;
}

bool isPseudoMount(const MountEntry& mount) {
    const std::string& point = mount.mountPoint;
    if (point == "/") return false;
    if (isAtOrBelow(point, "/proc") || isAtOrBelow(point, "/sys") || isAtOrBelow(point, "/dev")) {
        return true;
    }
    std::string_view type = mount.fsType;
    if (isPseudoFileSystemType(type)) return true;
    // The layered root file systems of container runtimes live under
    // /var/lib (docker, containers, lxc) or /run (containerd).
    if (isOneOf(type, {"overlay", "aufs", "fuse-overlayfs", "fuse.fuse-overlayfs"})
        && (isAtOrBelow(point, "/var/lib") || isAtOrBelow(point, "/run"))) {
        return true;
    }
    if (isRamType(type) && isAtOrBelow(point, "/run") && !isAtOrBelow(point, "/run/media")) {
        return true;
    }
    return false;
}

namespace {

VolumeKind classifyKind(const MountEntry& mount, const VolumeLookup& lookup) {
    if (isRemoteType(mount.fsType)) return VolumeKind::Remote;
    if (mount.fsType == "iso9660" || mount.fsType == "udf") return VolumeKind::CdRom;
    if (isRamType(mount.fsType)) return VolumeKind::RamDisk;
    DiskInfo disk = lookup.disk ? lookup.disk(mount) : DiskInfo{};
    if (disk.known) {
        if (disk.optical) return VolumeKind::CdRom;
        if (disk.zram) return VolumeKind::RamDisk;
        if (disk.removable || disk.onUsb) return VolumeKind::Removable;
    }
    return VolumeKind::Fixed;
}

// Whether root a contains root b (mountinfo roots start with "/").
bool rootContains(const std::string& a, const std::string& b) { return a == "/" || isAtOrBelow(b, a); }

} // namespace

std::vector<Volume> classifyVolumes(std::string_view mountInfoText, const VolumeLookup& lookup) {
    std::vector<MountEntry> mounts = parseMountInfo(mountInfoText);

    // A mount point mounted over shows only its last mount.
    std::vector<MountEntry> visible;
    for (std::size_t i = 0; i < mounts.size(); ++i) {
        bool hidden = false;
        for (std::size_t j = i + 1; j < mounts.size(); ++j) {
            if (mounts[j].mountPoint == mounts[i].mountPoint) {
                hidden = true;
                break;
            }
        }
        if (!hidden && !isPseudoMount(mounts[i])) visible.push_back(mounts[i]);
    }

    std::vector<Volume> volumes;
    std::vector<const MountEntry*> sources;
    for (const MountEntry& mount : visible) {
        Volume volume;
        volume.mountPoint = mount.mountPoint;
        volume.path = mount.mountPoint == "/" ? "/" : mount.mountPoint + "/";
        volume.kind = mount.mountPoint == "/" ? VolumeKind::Fixed : classifyKind(mount, lookup);
        volume.fsType = mount.fsType;
        volume.major = mount.major;
        volume.minor = mount.minor;
        if (volume.kind != VolumeKind::Remote && mount.root != "/" && mount.mountPoint != "/" && lookup.isDirectory
            && !lookup.isDirectory(mount.mountPoint)) {
            continue; // a single file bound into place, not a volume
        }
        volumes.push_back(std::move(volume));
        sources.push_back(&mount);
    }

    // "/" first, then by the bytes of the mount point.
    std::vector<std::size_t> order(volumes.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        bool aRoot = volumes[a].mountPoint == "/", bRoot = volumes[b].mountPoint == "/";
        if (aRoot != bRoot) return aRoot;
        return volumes[a].mountPoint < volumes[b].mountPoint;
    });

    // The same file system shown twice: a mount whose root lies inside the
    // root of another mount of the same device (a bind mount of a part of
    // it) is left out, so that no file is walked twice.  Equal roots: the
    // first in order stays.  "/" always stays.
    std::vector<Volume> result;
    for (std::size_t oi = 0; oi < order.size(); ++oi) {
        std::size_t i = order[oi];
        const MountEntry& mine = *sources[i];
        bool duplicate = false;
        if (volumes[i].mountPoint != "/") {
            for (std::size_t oj = 0; oj < order.size() && !duplicate; ++oj) {
                std::size_t j = order[oj];
                if (j == i) continue;
                const MountEntry& other = *sources[j];
                if (other.major != mine.major || other.minor != mine.minor) continue;
                if (other.root == mine.root) {
                    duplicate = oj < oi;
                } else {
                    duplicate = rootContains(other.root, mine.root);
                }
            }
        }
        if (!duplicate) result.push_back(volumes[i]);
    }
    return result;
}

namespace {

std::string readSmallFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

std::string realPath(const std::string& path) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

std::string baseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// The disk behind a sysfs block-device directory; device-mapper and md
// devices are traced to their first underlying device.
DiskInfo diskOfSysfsDir(std::string dir, int depth) {
    DiskInfo info;
    if (dir.empty() || depth > 4) return info;
    std::string disk = exists(dir + "/partition") ? dir.substr(0, dir.rfind('/')) : dir;
    std::string name = baseName(disk);
    if (name.rfind("dm-", 0) == 0 || name.rfind("md", 0) == 0) {
        std::string slaves = disk + "/slaves";
        if (auto listing = DirListing::open(slaves)) {
            DirEntry entry;
            while (listing->next(entry)) {
                if (isDotOrDotDot(entry.name)) continue;
                DiskInfo below = diskOfSysfsDir(realPath(slaves + "/" + std::string(entry.name)), depth + 1);
                if (below.known) return below;
            }
        }
    }
    info.known = true;
    info.removable = readSmallFile(disk + "/removable") == "1";
    info.onUsb = disk.find("/usb") != std::string::npos;
    info.optical = name.rfind("sr", 0) == 0;
    info.zram = name.rfind("zram", 0) == 0;
    return info;
}

} // namespace

VolumeLookup systemVolumeLookup() {
    VolumeLookup lookup;
    lookup.disk = [](const MountEntry& mount) {
        std::string dir;
        if (mount.major != 0) {
            dir = realPath("/sys/dev/block/" + std::to_string(mount.major) + ":" + std::to_string(mount.minor));
        }
        if (dir.empty() && mount.source.rfind("/dev/", 0) == 0) {
            std::string device = realPath(mount.source);
            if (!device.empty()) dir = realPath("/sys/class/block/" + baseName(device));
        }
        return diskOfSysfsDir(dir, 0);
    };
    lookup.isDirectory = [](const std::string& mountPoint) {
        struct stat st;
        return ::lstat(mountPoint.c_str(), &st) != 0 || S_ISDIR(st.st_mode);
    };
    return lookup;
}

std::string readMountInfo() {
    std::ifstream in("/proc/self/mountinfo");
    if (!in) return {};
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<Volume> mountedVolumes() { return classifyVolumes(readMountInfo(), systemVolumeLookup()); }

std::vector<Volume> fixedVolumes() {
    std::vector<Volume> fixed;
    for (Volume& volume : mountedVolumes()) {
        if (volume.kind == VolumeKind::Fixed) fixed.push_back(std::move(volume));
    }
    return fixed;
}

} // namespace toka
