#pragma once
// Directory listings straight from the kernel: getdents64 into a buffer that
// the caller reuses, the entry type from d_type, and lstat only for the file
// systems that leave d_type unknown.  Every entry the system returns is
// handed out, "." and ".." included, in the order the system returns them.
//
// Nothing here sorts, filters or follows a symbolic link.  A path of any
// length can be opened: past PATH_MAX it is opened piece by piece with openat.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/core/sys_error.h"
#include "platform/core/unique_fd.h"

namespace toka {

enum class EntryType : std::uint8_t {
    Unknown, ///< the listing did not say and lstat failed (the entry is gone)
    Regular,
    Directory,
    Symlink,
    CharDevice,
    BlockDevice,
    Fifo,
    Socket,
};

/// The type of an lstat/statx mode.
EntryType entryTypeFromMode(mode_t mode);

/// True for "." and "..".
constexpr bool isDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

/// Opens the directory at path for listing (O_DIRECTORY, close-on-exec).
/// path may be relative and longer than PATH_MAX; symbolic links on the way,
/// the last component included, are followed, as the user named them.
Result<UniqueFd> openDirectory(std::string_view path);

/// Opens the subdirectory name of the open directory parentFd without
/// following a symbolic link (O_NOFOLLOW): a link gives ELOOP or ENOTDIR.
Result<UniqueFd> openSubdirectory(int parentFd, const char* name);

/// Opens the directory at relative, a path below the open directory baseFd
/// made of names as listed (no "." or ".." among them), for listing.  No
/// symbolic link is followed on the way, in any component (openat2 with
/// RESOLVE_NO_SYMLINKS; where the kernel lacks it, component by component
/// with O_NOFOLLOW).  Any length.  "" opens baseFd's directory again.
Result<UniqueFd> openDirectoryBelow(int baseFd, std::string_view relative);

/// One entry of a listing.  name points into the listing's buffer and is
/// valid until the buffer is refilled.
struct DirEntry {
    std::string_view name;
    EntryType type = EntryType::Unknown;
    std::uint64_t inode = 0;
    /// The listing position just after this entry (getdents64's d_off):
    /// lseek to it on a fresh descriptor of the same directory to go on
    /// with the next entry.
    std::int64_t nextOffset = 0;
};

/// Reads the next chunk of entries of the open directory fd into buffer.
/// Returns the number of bytes filled, 0 at the end of the listing, or -1
/// with errno set.  size must hold at least one record (512 bytes is safe).
long readDirectoryChunk(int fd, char* buffer, std::size_t size);

/// Walks the records of one chunk filled by readDirectoryChunk.  Does not
/// resolve unknown types (see resolveType): the walk wants to decide itself
/// whether the lstat is worth it.
class DirentCursor {
public:
    DirentCursor() = default;
    DirentCursor(const char* begin, const char* end) : m_pos(begin), m_end(end) {}

    /// The next record into entry; false when the chunk is used up.
    bool next(DirEntry& entry);
    /// True when no record is left.
    bool atEnd() const { return m_pos >= m_end; }
    const char* position() const { return m_pos; }

private:
    const char* m_pos = nullptr;
    const char* m_end = nullptr;
};

/// The type of name in the open directory dirFd by lstat (fstatat with
/// AT_SYMLINK_NOFOLLOW); Unknown when that fails.
EntryType resolveType(int dirFd, const char* name);

/// One directory's listing with its own descriptor and buffer: for callers
/// that list one directory at a time (the directory tree, tests).  The walk
/// uses the lower-level pieces above to share buffers between levels.
class DirListing {
public:
    /// Opens path (any length, links followed as by openDirectory).
    static Result<DirListing> open(std::string_view path);
    /// Opens the subdirectory name of parentFd without following a link.
    static Result<DirListing> openAt(int parentFd, const char* name);

    /// The next entry, with Unknown types resolved by lstat; false at the end
    /// of the listing or on a read error (then error() says which).
    bool next(DirEntry& entry);

    const std::optional<SysError>& error() const { return m_error; }
    int fd() const { return m_fd.get(); }

private:
    explicit DirListing(UniqueFd fd);

    static constexpr std::size_t kBufferSize = 32 * 1024;
    UniqueFd m_fd;
    std::unique_ptr<char[]> m_buffer;
    DirentCursor m_cursor;
    bool m_atEnd = false;
    std::optional<SysError> m_error;
};

} // namespace toka
