#pragma once
// Helpers of the tests of what a copy keeps besides its contents: POSIX ACLs
// through libacl (a view of them independent of the engine's), extended
// attributes and owners.

#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/xattr.h>

#include <set>

#include "fileops/file_identity.h"
#include "test_support.h"

namespace toka::test {

/// The ACL of path (ACL_TYPE_ACCESS or ACL_TYPE_DEFAULT) in libacl's short
/// text form, "" where it has none beyond its permission bits.
inline std::string aclOf(const std::string& path, acl_type_t type = ACL_TYPE_ACCESS) {
    acl_t acl = acl_get_file(path.c_str(), type);
    if (!acl) return "error: " + std::string(std::strerror(errno));
    std::string text;
    if (type == ACL_TYPE_DEFAULT ? acl_entries(acl) > 0 : acl_equiv_mode(acl, nullptr) != 0) {
        char* words = acl_to_any_text(acl, nullptr, ',', TEXT_ABBREVIATE | TEXT_NUMERIC_IDS);
        text = words ? words : "";
        acl_free(words);
    }
    acl_free(acl);
    return text;
}

/// Sets path's ACL from its text form ("u::rw,u:4003:rw,g::-,m::rw,o::-").
inline void setAcl(const std::string& path, const std::string& text, acl_type_t type = ACL_TYPE_ACCESS) {
    acl_t acl = acl_from_text(text.c_str());
    ASSERT_NE(acl, nullptr) << text;
    ASSERT_EQ(acl_set_file(path.c_str(), type, acl), 0) << path << ": " << std::strerror(errno);
    acl_free(acl);
}

/// The extended attributes of path (a link not followed) but its ACLs.
inline std::map<std::string, std::string> attributesOf(const std::string& path) {
    std::map<std::string, std::string> found;
    std::vector<char> names(65536), value(65536);
    const ssize_t n = ::llistxattr(path.c_str(), names.data(), names.size());
    for (ssize_t at = 0; at < n;) {
        const std::string name(names.data() + at);
        at += static_cast<ssize_t>(name.size()) + 1;
        if (name.rfind("system.posix_acl", 0) == 0) continue;
        const ssize_t length = ::lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        found[name] = std::string(value.data(), static_cast<std::size_t>(std::max<ssize_t>(length, 0)));
    }
    return found;
}

inline void setAttribute(const std::string& path, const std::string& name, const std::string& value) {
    ASSERT_EQ(::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0)
        << path << " " << name << ": " << std::strerror(errno);
}

/// Everything a copy keeps of an item besides its contents.
struct Metadata {
    mode_t mode; // permission bits with set-user-ID, set-group-ID and sticky
    uid_t owner;
    gid_t group;
    long long modified; // nanoseconds
    std::string access, defaults;
    std::map<std::string, std::string> attributes;
    friend bool operator==(const Metadata&, const Metadata&) = default;
    friend std::ostream& operator<<(std::ostream& out, const Metadata& m) {
        out << std::oct << m.mode << std::dec << " " << m.owner << ":" << m.group << " t=" << m.modified << " acl["
            << m.access << "] default[" << m.defaults << "]";
        for (const auto& [name, value] : m.attributes) out << " " << name << "=" << value;
        return out;
    }
};

inline Metadata metadataOf(const std::string& path) {
    const struct stat status = lstatOf(path);
    const bool link = S_ISLNK(status.st_mode);
    return {status.st_mode & 07777,  status.st_uid,
            status.st_gid,           status.st_mtim.tv_sec * 1000000000LL + status.st_mtim.tv_nsec,
            link ? "" : aclOf(path), S_ISDIR(status.st_mode) ? aclOf(path, ACL_TYPE_DEFAULT) : "",
            attributesOf(path)};
}

} // namespace toka::test
