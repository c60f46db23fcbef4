#include "platform/core/access_rights.h"

#include <algorithm>
#include <unistd.h>
#include <vector>

namespace toka {

std::uint32_t accessFingerprint() {
    int count = ::getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? std::size_t(count) : 0);
    if (count > 0) count = ::getgroups(count, groups.data());
    groups.resize(count > 0 ? std::size_t(count) : 0);
    std::sort(groups.begin(), groups.end());
    // FNV-1a over the IDs' bytes, the group count between user and groups.
    std::uint32_t hash = 2166136261u;
    auto mix = [&hash](std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (value >> shift) & 0xFFu;
            hash *= 16777619u;
        }
    };
    mix(::geteuid());
    mix(::getegid());
    mix(static_cast<std::uint32_t>(groups.size()));
    for (const gid_t group : groups) mix(group);
    return hash;
}

} // namespace toka
