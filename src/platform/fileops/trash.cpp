#include "platform/fileops/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <utility>

#include "platform/core/unique_fd.h"

namespace toka {
namespace {

constexpr char kInfoSuffix[] = ".trashinfo";
constexpr std::size_t kInfoSuffixLength = sizeof kInfoSuffix - 1;

// A trash that already holds this many items of one name is not a trash any
// more; stop looking for a free stem rather than loop on.
constexpr unsigned kStemAttempts = 100000;

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// "/" for "/a", "/a" for "/a/b".
std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The bytes of path with every byte but the unreserved A-Z a-z 0-9 - . _ ~
// and "/" written as %XX, as Path= of a .trashinfo wants it.  Encoding more
// than RFC 2396 demands is always read back right; encoding less is not.
std::string percentEncoded(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size() * 3);
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte == '-'
            || byte == '.' || byte == '_' || byte == '~' || byte == '/') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

// The attempt-th stem for name (1: the name itself, then name.2, ...), cut so
// that STEM.trashinfo fits in NAME_MAX bytes; a cut never splits a UTF-8
// sequence.
std::string stemFor(const std::string& name, unsigned attempt) {
    const std::string suffix = attempt == 1 ? std::string() : "." + std::to_string(attempt);
    std::size_t length = std::min(name.size(), NAME_MAX - kInfoSuffixLength - suffix.size());
    if (length < name.size())
        while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
    return name.substr(0, length) + suffix;
}

std::string localDeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// The mount a path is on: its mount id where the kernel tells it (5.8 and
// later), else its device.  A bind mount has a mount id of its own but the
// device of the file system it shows.
std::optional<std::uint64_t> mountOf(const std::string& path) {
    struct statx status {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_MNT_ID, &status) != 0)
        return std::nullopt;
    if (status.stx_mask & STATX_MNT_ID) return status.stx_mnt_id;
    return (std::uint64_t{status.stx_dev_major} << 32) | status.stx_dev_minor;
}

// The top directory of the mount that holds folder (a path without symbolic
// links): the highest folder above it on the same mount.
std::string topDirectoryOf(const std::string& folder) {
    const std::optional<std::uint64_t> mount = mountOf(folder);
    std::string top = folder;
    while (top != "/") {
        const std::string up = parentOf(top);
        if (!mount || mountOf(up) != mount) break;
        top = up;
    }
    return top;
}

// An open trash, with the rule for the Path= of its items.
struct Trash {
    std::string path;
    std::string topDirectory; // empty for the home trash: Path= is absolute
    UniqueFd files;
    UniqueFd info;
};

// Makes the folder name in dirFd unless it is there, and opens it (a symbolic
// link as name gives ELOOP unless followLink).  path names it in errors.
Result<UniqueFd> makeAndOpenFolder(SystemCalls& system, int dirFd, const std::string& name, const std::string& path,
                                   bool followLink = false) {
    if (system.mkdirAt(dirFd, name.c_str(), 0700) != 0 && errno != EEXIST) return lastError("mkdirat", path);
    const int fd = system.openAt(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | (followLink ? 0 : O_NOFOLLOW));
    if (fd < 0) return lastError("openat", path);
    return UniqueFd(fd);
}

// The trash at path, open as folder: its files/ and info/ made and opened.
Result<Trash> openTrash(SystemCalls& system, UniqueFd folder, const std::string& path, std::string topDirectory) {
    Result<UniqueFd> files = makeAndOpenFolder(system, folder.get(), "files", path + "/files");
    if (!files) return files.error();
    Result<UniqueFd> info = makeAndOpenFolder(system, folder.get(), "info", path + "/info");
    if (!info) return info.error();
    return Trash{path, std::move(topDirectory), std::move(*files), std::move(*info)};
}

// The user's own trash folder name in dirFd (made when missing): a folder,
// not a symbolic link, owned by the user.
Result<Trash> openOwnTrash(SystemCalls& system, int dirFd, const std::string& name, const std::string& path,
                           const std::string& topDirectory) {
    Result<UniqueFd> folder = makeAndOpenFolder(system, dirFd, name, path);
    if (!folder) return folder.error();
    struct stat status {};
    if (system.fstat(folder->get(), &status) != 0) return lastError("fstat", path);
    // Another user's folder under our name could be read by them.
    if (status.st_uid != ::getuid()) return SysError{"use the trash folder", path, EPERM};
    return openTrash(system, std::move(*folder), path, topDirectory);
}

// The trash of the volume whose top directory is topDirectory.
Result<Trash> openVolumeTrash(SystemCalls& system, const std::string& topDirectory) {
    const int topFd = system.openAt(AT_FDCWD, topDirectory.c_str(), O_RDONLY | O_DIRECTORY);
    if (topFd < 0) return lastError("openat", topDirectory);
    const UniqueFd top(topFd);
    const std::string uid = std::to_string(::getuid());
    // $topdir/.Trash shared by all users: only a real folder with the sticky
    // bit keeps users from removing each other's trash.
    const int sharedFd = system.openAt(top.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (sharedFd >= 0) {
        const UniqueFd shared(sharedFd);
        struct stat status {};
        if (system.fstat(shared.get(), &status) == 0 && (status.st_mode & S_ISVTX)) {
            Result<Trash> trash =
                openOwnTrash(system, shared.get(), uid, joined(topDirectory, ".Trash/" + uid), topDirectory);
            if (trash) return trash;
        }
    }
    return openOwnTrash(system, top.get(), ".Trash-" + uid, joined(topDirectory, ".Trash-" + uid), topDirectory);
}

// $XDG_DATA_HOME/Trash, or $HOME/.local/share/Trash; empty when neither is
// an absolute path.
std::string homeTrashPath() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return withoutTrailingSlashes(dataHome) + "/Trash";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return joined(withoutTrailingSlashes(home), ".local/share/Trash");
    return {};
}

// Whether the home trash at path (or, while it is missing, the nearest
// folder above it) is on device.
bool isOnDevice(SystemCalls& system, std::string path, dev_t device) {
    struct stat status {};
    while (system.fstatAt(AT_FDCWD, path.c_str(), &status, 0) != 0) {
        if (path == "/") return false;
        path = parentOf(path);
    }
    return status.st_dev == device;
}

Result<Trash> openHomeTrash(SystemCalls& system, const std::string& path) {
    // The data folder on the way is private, as data folders are made.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        system.mkdirAt(AT_FDCWD, path.substr(0, slash).c_str(), 0700);
    // A home trash linked elsewhere is the user's own choice.
    Result<UniqueFd> folder = makeAndOpenFolder(system, AT_FDCWD, path, path, true);
    if (!folder) return folder.error();
    return openTrash(system, std::move(*folder), path, {});
}

// renameat2 with RENAME_NOREPLACE, or where the file system cannot refuse
// atomically (some network and FUSE file systems): look, then rename.  The
// trash folder is the user's own, so nobody else creates the name meanwhile.
int renameNoReplace(SystemCalls& system, const char* oldPath, int newDirFd, const char* newName) {
    if (system.renameAt(AT_FDCWD, oldPath, newDirFd, newName, RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -1;
    struct stat status {};
    if (system.fstatAt(newDirFd, newName, &status, AT_SYMLINK_NOFOLLOW) == 0) return errno = EEXIST, -1;
    return system.renameAt(AT_FDCWD, oldPath, newDirFd, newName, 0);
}

// Writes info into the new file fd and flushes it; closes fd.  0 or the errno.
int writeInfo(SystemCalls& system, int fd, const std::string& info) {
    std::size_t done = 0;
    int error = 0;
    while (done < info.size() && !error) {
        const ssize_t n = system.write(fd, info.data() + done, info.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else error = n < 0 ? errno : EIO;
    }
    if (!error && system.fsync(fd) != 0) error = errno;
    if (system.close(fd) != 0 && !error) error = errno;
    return error;
}

// Puts the item at path (named name) into trash; originalPath goes into its
// info file.
Result<TrashedItem> putIntoTrash(SystemCalls& system, const Trash& trash, const std::string& path,
                                 const std::string& name, const std::string& originalPath) {
    const std::string info =
        "[Trash Info]\nPath=" + percentEncoded(originalPath) + "\nDeletionDate=" + localDeletionDate() + "\n";
    for (unsigned attempt = 1; attempt <= kStemAttempts; ++attempt) {
        const std::string stem = stemFor(name, attempt);
        const std::string infoName = stem + kInfoSuffix;
        const std::string infoPath = trash.path + "/info/" + infoName;
        const int fd =
            system.openAt(trash.info.get(), infoName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW, 0600);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return lastError("openat", infoPath);
        if (const int error = writeInfo(system, fd, info)) {
            system.unlinkAt(trash.info.get(), infoName.c_str(), 0);
            return SysError{"write", infoPath, error};
        }
        if (renameNoReplace(system, path.c_str(), trash.files.get(), stem.c_str()) == 0)
            return TrashedItem{trash.path + "/files/" + stem, infoPath};
        const int error = errno;
        system.unlinkAt(trash.info.get(), infoName.c_str(), 0);
        if (error == EEXIST) continue; // an item without info file holds the stem
        // The trash is on another mount than the item: the trash is at fault.
        if (error == EXDEV) return SysError{"renameat", trash.path + "/files/" + stem, error};
        return SysError{"renameat", path, error};
    }
    return SysError{"find a free name in", trash.path + "/files", EEXIST};
}

} // namespace

Result<TrashedItem> moveToTrash(const std::string& given, SystemCalls& system) {
    const std::string path = withoutTrailingSlashes(given);
    const std::string name = path.substr(path.rfind('/') + 1);
    if (path.empty() || path.front() != '/' || name.empty() || name == "." || name == "..")
        return SysError{"move to the trash", path, EINVAL};
    struct stat item {};
    if (system.fstatAt(AT_FDCWD, path.c_str(), &item, AT_SYMLINK_NOFOLLOW) != 0) return lastError("lstat", path);

    const std::string homePath = homeTrashPath();
    if (homePath.empty()) return SysError{"find the home trash: HOME is not set", {}, ENOENT};
    if (isOnDevice(system, homePath, item.st_dev)) {
        Result<Trash> home = openHomeTrash(system, homePath);
        if (!home) return home.error();
        Result<TrashedItem> trashed = putIntoTrash(system, *home, path, name, path);
        // EXDEV: the same file system, but mounted again between the two.
        if (trashed || trashed.error().code != EXDEV) return trashed;
    }

    // The top directory is found on the real path: ".." of a symbolic link
    // is not the folder the link sits in.
    char* real = ::realpath(parentOf(path).c_str(), nullptr);
    if (!real) return lastError("realpath", parentOf(path));
    const std::string folder = real;
    std::free(real);
    const std::string top = topDirectoryOf(folder);
    Result<Trash> trash = openVolumeTrash(system, top);
    if (!trash) return trash.error();
    const std::string original = joined(folder, name);
    return putIntoTrash(system, *trash, path, name, original.substr(top == "/" ? 1 : top.size() + 1));
}

std::vector<TrashFailure> moveAllToTrash(const std::vector<std::string>& paths, SystemCalls& system) {
    std::vector<TrashFailure> failures;
    for (const std::string& path : paths) {
        Result<TrashedItem> trashed = moveToTrash(path, system);
        if (trashed) continue;
        const bool itemAtFault = trashed.error().path == withoutTrailingSlashes(path);
        failures.push_back({path, trashed.error(), !itemAtFault});
    }
    return failures;
}

} // namespace toka
