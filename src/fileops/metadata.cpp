// What a copy keeps besides its contents: owner and group, extended
// attributes (POSIX ACLs among them, which the kernel keeps as the
// attributes system.posix_acl_access and, on folders, system.posix_acl_default),
// the permission bits with set-user-ID, set-group-ID and sticky, and times.
//
// A copy is made private (0600, a folder 0700) and filled before any of this,
// and it is given in an order that never lets it be more open than its
// source: the owner first (chown clears set-user-ID and set-group-ID), then
// the attributes other than ACLs (user.* needs write permission, which the
// copy's final mode may not give), then the ACLs, which set the permission
// bits to theirs (those of the source), then the mode, whose group bits set
// an ACL's mask (the source's, as its group bits are its mask), and the
// times last, which every change before would move.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "fileops/worker.h"

namespace toka::fileops {
namespace {

constexpr std::string_view kAccessAcl = "system.posix_acl_access";
constexpr std::string_view kDefaultAcl = "system.posix_acl_default";

bool isAcl(std::string_view name) { return name == kAccessAcl || name == kDefaultAcl; }

/// Attributes of the namespaces that only a privileged process may write
/// (trusted.*, security.*): a user's copy cannot keep them, as it cannot
/// keep the owner.
bool needsPrivilege(std::string_view name) { return name.substr(0, 5) != "user." && !isAcl(name); }

bool isUnsupported(int error) { return error == EOPNOTSUPP || error == ENOTSUP; }

/// Whether an ACL, as the kernel stores it in system.posix_acl_access (a
/// 4-byte version, then 8 bytes per entry: tag, permissions, id; little
/// endian), says no more than the permission bits: only the entries of the
/// owner, the owning group and the others.
bool isMinimalAcl(const char* value, std::size_t size) {
    constexpr unsigned kOwner = 0x01, kOwningGroup = 0x04, kOthers = 0x20;
    if (size < 4 || (size - 4) % 8 != 0) return false;
    for (std::size_t at = 4; at < size; at += 8) {
        const unsigned tag = static_cast<unsigned char>(value[at]) | static_cast<unsigned char>(value[at + 1]) << 8;
        if (tag != kOwner && tag != kOwningGroup && tag != kOthers) return false;
    }
    return true;
}

/// The names of a list from listxattr, each ended by a NUL.
template <class Visit>
void forEachName(const std::vector<char>& list, std::size_t size, Visit visit) {
    for (std::size_t at = 0; at < size;) {
        const std::string_view name(list.data() + at);
        visit(name);
        at += name.size() + 1;
    }
}

} // namespace

ssize_t Worker::listAttributes(int fd, std::vector<char>& names) {
    // 64 KiB holds every list Linux gives (XATTR_LIST_MAX); should another
    // system give a longer one, ask its length.
    if (names.size() < 65536) names.resize(65536);
    for (;;) {
        const ssize_t n = m_system.listXattrs(fd, names.data(), names.size());
        if (n >= 0) return n;
        if (isUnsupported(errno)) return 0; // a file system without attributes holds none
        if (errno != ERANGE) return -1;
        const ssize_t needed = m_system.listXattrs(fd, nullptr, 0);
        if (needed < 0) return -1;
        names.resize(static_cast<std::size_t>(needed) + 1);
    }
}

bool Worker::givesDefaultAcl(int dirFd) {
    if (m_system.getXattr(dirFd, std::string(kDefaultAcl).c_str(), nullptr, 0) >= 0) return true;
    return errno != ENODATA && !isUnsupported(errno);
}

Outcome Worker::keepMetadata(int sourceFd, int copyFd, const struct stat& source, const struct stat& made,
                             const std::string& path, bool inherited) {
    // The first thing that cannot be kept is asked about; the rest of the
    // item's metadata is still given, without another question.
    std::optional<Outcome> asked;
    const auto notKept = [&](const std::string& what, int error) {
        if (!asked) asked = fail(FailureKind::SystemError, ("keep " + what + " of").c_str(), path, error);
    };

    bool ownerKept = made.st_uid == source.st_uid, groupKept = made.st_gid == source.st_gid;
    if (!ownerKept || !groupKept) {
        if (m_system.fchown(copyFd, source.st_uid, source.st_gid) == 0) {
            ownerKept = groupKept = true;
        } else {
            const int error = errno;
            // A user keeps the group where it is one of theirs.
            if (!groupKept && m_system.fchown(copyFd, static_cast<uid_t>(-1), source.st_gid) == 0) groupKept = true;
            // A privileged process could have given it: something is wrong.
            if (m_privileged) notKept("the owner", error);
        }
    }

    const bool isLink = S_ISLNK(source.st_mode);
    const ssize_t listed = listAttributes(sourceFd, m_attributeNames);
    if (listed < 0) notKept("the extended attributes", errno);
    const std::size_t size = listed > 0 ? static_cast<std::size_t>(listed) : 0;
    if (m_attributeValue.size() < 65536) m_attributeValue.resize(65536); // XATTR_SIZE_MAX
    const auto copyAttribute = [&](std::string_view name) {
        const std::string attribute(name);
        ssize_t length =
            m_system.getXattr(sourceFd, attribute.c_str(), m_attributeValue.data(), m_attributeValue.size());
        if (length < 0 && errno == ENODATA) return; // removed since the listing
        if (length < 0) return notKept("the extended attribute \"" + attribute + "\"", errno);
        const auto bytes = static_cast<std::size_t>(length);
        if (m_system.setXattr(copyFd, attribute.c_str(), m_attributeValue.data(), bytes) == 0) return;
        const int error = errno;
        // A file system without ACLs keeps what maps onto the permission bits.
        if (isUnsupported(error) && name == kAccessAcl && isMinimalAcl(m_attributeValue.data(), bytes)) return;
        if ((error == EPERM || error == EACCES) && needsPrivilege(name) && !m_privileged) return;
        notKept(name == kAccessAcl    ? std::string("the access control list")
                : name == kDefaultAcl ? std::string("the default access control list")
                                      : "the extended attribute \"" + attribute + "\"",
                error);
    };
    forEachName(m_attributeNames, size, [&](std::string_view name) {
        if (!isAcl(name)) copyAttribute(name);
    });
    if (!isLink) {
        // An ACL the copy inherited from its new folder's default ACL goes
        // where the source has none: the copy is as open as its source.
        bool hasAccess = false, hasDefault = false;
        forEachName(m_attributeNames, size, [&](std::string_view name) {
            if (name == kAccessAcl) hasAccess = true;
            if (name == kDefaultAcl) hasDefault = true;
            if (isAcl(name)) copyAttribute(name);
        });
        const bool replaced = hasAccess && (hasDefault || !S_ISDIR(source.st_mode));
        const ssize_t taken = inherited && !replaced ? listAttributes(copyFd, m_copyAttributeNames) : 0;
        if (taken < 0) notKept("the access control list", errno);
        forEachName(m_copyAttributeNames, taken > 0 ? static_cast<std::size_t>(taken) : 0, [&](std::string_view name) {
            if (!isAcl(name) || (name == kAccessAcl ? hasAccess : hasDefault)) return;
            const std::string attribute(name);
            if (m_system.removeXattr(copyFd, attribute.c_str()) < 0 && errno != ENODATA)
                notKept(name == kAccessAcl ? "the access control list" : "the default access control list", errno);
        });

        // The file system may not keep permissions (FAT): that does not make
        // the copy fail.  Set-user-ID and set-group-ID only with the owner
        // and the group they stand for.
        mode_t mode = source.st_mode & 07777;
        if (!ownerKept) mode &= ~static_cast<mode_t>(S_ISUID);
        if (!groupKept) mode &= ~static_cast<mode_t>(S_ISGID);
        m_system.fchmod(copyFd, mode);
    }
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    m_system.futimens(copyFd, times);

    if (!asked || *asked == Outcome::Cancelled) return asked.value_or(Outcome::Done);
    return Outcome::Partial;
}

} // namespace toka::fileops
