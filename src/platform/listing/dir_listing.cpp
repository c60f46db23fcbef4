#include "platform/listing/dir_listing.h"

#include <cerrno>
#include <climits>
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace toka {

EntryType entryTypeFromMode(mode_t mode) {
    switch (mode & S_IFMT) {
    case S_IFREG:
        return EntryType::Regular;
    case S_IFDIR:
        return EntryType::Directory;
    case S_IFLNK:
        return EntryType::Symlink;
    case S_IFCHR:
        return EntryType::CharDevice;
    case S_IFBLK:
        return EntryType::BlockDevice;
    case S_IFIFO:
        return EntryType::Fifo;
    case S_IFSOCK:
        return EntryType::Socket;
    default:
        return EntryType::Unknown;
    }
}

namespace {

constexpr int kListFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// The longest piece of a relative path handed to one openat: the kernel
// refuses a path of PATH_MAX bytes or more (ENAMETOOLONG).
constexpr std::size_t kMaxPiece = PATH_MAX - 1;

} // namespace

Result<UniqueFd> openDirectory(std::string_view path) {
    if (path.empty()) return SysError{"open", std::string(path), ENOENT};
    if (path.size() <= kMaxPiece) {
        std::string zpath(path);
        int fd = ::open(zpath.c_str(), kListFlags);
        if (fd < 0) return lastError("open", zpath);
        return UniqueFd(fd);
    }
    // Too long for one call: open it piece by piece, each piece ending at a
    // separator, each relative to the directory the previous one opened.
    UniqueFd current;
    int base = AT_FDCWD;
    std::size_t pos = 0;
    if (path[0] == '/') {
        current.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!current.valid()) return lastError("open", "/");
        base = current.get();
        pos = 1;
    }
    while (pos < path.size()) {
        while (pos < path.size() && path[pos] == '/') ++pos;
        if (pos >= path.size()) break;
        std::size_t end = path.size();
        bool last = true;
        if (end - pos > kMaxPiece) {
            std::size_t cut = path.rfind('/', pos + kMaxPiece);
            if (cut == std::string_view::npos || cut <= pos) {
                return SysError{"openat", std::string(path), ENAMETOOLONG};
            }
            end = cut;
            last = false;
        }
        std::string piece(path.substr(pos, end - pos));
        int flags = last ? kListFlags : (O_PATH | O_DIRECTORY | O_CLOEXEC);
        int fd = ::openat(base, piece.c_str(), flags);
        if (fd < 0) return lastError("openat", std::string(path));
        current.reset(fd);
        base = fd;
        pos = end;
    }
    if (!current.valid()) return SysError{"open", std::string(path), ENOENT};
    return current;
}

Result<UniqueFd> openSubdirectory(int parentFd, const char* name) {
    int fd = ::openat(parentFd, name, kListFlags | O_NOFOLLOW);
    if (fd < 0) return lastError("openat", name);
    return UniqueFd(fd);
}

namespace {

// One openat2 without following any link; ENOSYS on kernels before 5.6.
int openNoLinks(int baseFd, const char* path) {
    open_how how{};
    how.flags = static_cast<std::uint64_t>(kListFlags);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, baseFd, path, &how, sizeof how));
}

} // namespace

Result<UniqueFd> openDirectoryBelow(int baseFd, std::string_view relative) {
    if (relative.empty()) return openSubdirectory(baseFd, ".");
    UniqueFd current;
    int base = baseFd;
    std::size_t pos = 0;
    bool haveOpenat2 = true;
    while (pos < relative.size()) {
        // A piece short enough for one call, ending at a separator; without
        // openat2 every component is a piece of its own.
        std::size_t end = relative.size();
        if (!haveOpenat2) {
            end = std::min(relative.find('/', pos), relative.size());
        } else if (end - pos > kMaxPiece) {
            std::size_t cut = relative.rfind('/', pos + kMaxPiece);
            if (cut == std::string_view::npos || cut <= pos) {
                return SysError{"openat2", std::string(relative), ENAMETOOLONG};
            }
            end = cut;
        }
        std::string piece(relative.substr(pos, end - pos));
        int fd =
            haveOpenat2 ? openNoLinks(base, piece.c_str()) : ::openat(base, piece.c_str(), kListFlags | O_NOFOLLOW);
        if (fd < 0 && errno == ENOSYS && haveOpenat2) {
            haveOpenat2 = false;
            continue;
        }
        if (fd < 0) return lastError("openat2", std::string(relative));
        current.reset(fd);
        base = fd;
        pos = end;
        while (pos < relative.size() && relative[pos] == '/') ++pos;
    }
    if (!current.valid()) return SysError{"openat2", std::string(relative), ENOENT};
    return current;
}

long readDirectoryChunk(int fd, char* buffer, std::size_t size) { return ::syscall(SYS_getdents64, fd, buffer, size); }

namespace {

// The record layout of getdents64 (struct linux_dirent64).
struct KernelDirent64 {
    std::uint64_t d_ino;
    std::int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[1];
};

EntryType typeFromDirent(unsigned char dtype) {
    switch (dtype) {
    case DT_REG:
        return EntryType::Regular;
    case DT_DIR:
        return EntryType::Directory;
    case DT_LNK:
        return EntryType::Symlink;
    case DT_CHR:
        return EntryType::CharDevice;
    case DT_BLK:
        return EntryType::BlockDevice;
    case DT_FIFO:
        return EntryType::Fifo;
    case DT_SOCK:
        return EntryType::Socket;
    default:
        return EntryType::Unknown;
    }
}

} // namespace

bool DirentCursor::next(DirEntry& entry) {
    if (m_pos >= m_end) return false;
    // The kernel aligns every record to 8 bytes, so the cast is safe.
    const auto* record = reinterpret_cast<const KernelDirent64*>(m_pos);
    entry.name = std::string_view(record->d_name);
    entry.type = typeFromDirent(record->d_type);
    entry.inode = record->d_ino;
    entry.nextOffset = record->d_off;
    m_pos += record->d_reclen;
    return true;
}

EntryType resolveType(int dirFd, const char* name) {
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryType::Unknown;
    return entryTypeFromMode(st.st_mode);
}

DirListing::DirListing(UniqueFd fd) : m_fd(std::move(fd)), m_buffer(new char[kBufferSize]) {}

Result<DirListing> DirListing::open(std::string_view path) {
    auto fd = openDirectory(path);
    if (!fd) return fd.error();
    return DirListing(std::move(*fd));
}

Result<DirListing> DirListing::openAt(int parentFd, const char* name) {
    auto fd = openSubdirectory(parentFd, name);
    if (!fd) return fd.error();
    return DirListing(std::move(*fd));
}

bool DirListing::next(DirEntry& entry) {
    while (!m_cursor.next(entry)) {
        if (m_atEnd) return false;
        long filled = readDirectoryChunk(m_fd.get(), m_buffer.get(), kBufferSize);
        if (filled <= 0) {
            if (filled < 0) m_error = lastError("getdents64", "");
            m_atEnd = true;
            return false;
        }
        m_cursor = DirentCursor(m_buffer.get(), m_buffer.get() + filled);
    }
    if (entry.type == EntryType::Unknown) {
        // The name is NUL-terminated inside the record.
        entry.type = resolveType(m_fd.get(), entry.name.data());
    }
    return true;
}

} // namespace toka
