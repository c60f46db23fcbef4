#include "platform/listing/pseudo_file_systems.h"

#include <algorithm>
#include <array>

namespace toka {

namespace {

struct PseudoFileSystem {
    std::string_view type;
    unsigned long magic; ///< 0: recognised by its mountinfo name alone
};

constexpr std::array<PseudoFileSystem, 28> kPseudoFileSystems = {{
    {"proc", 0x9fa0},
    {"sysfs", 0x62656572},
    {"devtmpfs", 0},
    {"devpts", 0x1cd1},
    {"cgroup", 0x27e0eb},
    {"cgroup2", 0x63677270},
    {"debugfs", 0x64626720},
    {"tracefs", 0x74726163},
    {"securityfs", 0x73636673},
    {"pstore", 0x6165676c},
    {"bpf", 0xcafe4a11},
    {"configfs", 0x62656570},
    {"fusectl", 0x65735543},
    {"mqueue", 0x19800202},
    {"hugetlbfs", 0x958458f6},
    {"autofs", 0x0187},
    {"binfmt_misc", 0x42494e4d},
    {"efivarfs", 0xde5e81e4},
    {"nsfs", 0x6e736673},
    {"rpc_pipefs", 0},
    {"selinuxfs", 0},
    {"nfsd", 0},
    {"fuse.gvfsd-fuse", 0},
    {"fuse.portal", 0},
    {"fuse.lxcfs", 0},
    {"squashfs", 0x73717368},
    {"fuse.squashfuse", 0},
    {"fuse.snapfuse", 0},
}};

} // namespace

bool isPseudoFileSystemType(std::string_view type) {
    return std::any_of(kPseudoFileSystems.begin(), kPseudoFileSystems.end(),
                       [&](const PseudoFileSystem& fs) { return fs.type == type; });
}

bool isPseudoFileSystemMagic(unsigned long magic) {
    return magic != 0
           && std::any_of(kPseudoFileSystems.begin(), kPseudoFileSystems.end(),
                          [&](const PseudoFileSystem& fs) { return fs.magic == magic; });
}

} // namespace toka
