#include "platform/listing/mount_table.h"

#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include "platform/listing/pseudo_file_systems.h"
#include "platform/listing/volumes.h"

namespace toka {

MountTable::MountTable(std::string_view mountInfoText) {
    for (const MountEntry& mount : parseMountInfo(mountInfoText)) {
        dev_t dev = makedev(mount.major, mount.minor);
        bool pseudo = isPseudoMount(mount);
        bool found = false;
        for (auto& [knownDev, knownPseudo] : m_devices) {
            if (knownDev == dev) {
                knownPseudo = knownPseudo && pseudo;
                found = true;
            }
        }
        if (!found) m_devices.emplace_back(dev, pseudo);
    }
}

MountTable MountTable::current() { return MountTable(readMountInfo()); }

std::optional<bool> MountTable::isPseudoDevice(dev_t dev) const {
    for (const auto& [knownDev, knownPseudo] : m_devices) {
        if (knownDev == dev) return knownPseudo;
    }
    return std::nullopt;
}

bool MountTable::isPseudo(int fd, dev_t dev) const {
    if (std::optional<bool> listed = isPseudoDevice(dev)) return *listed;
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0) return false;
    return isPseudoFileSystemMagic(static_cast<unsigned long>(fs.f_type));
}

} // namespace toka
