#include "fileops/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "platform/core/private_files.h"
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

// Whether path is folder or lies below it.
bool isWithin(const std::string& path, const std::string& folder) {
    return path == folder || (path.starts_with(folder) && (folder == "/" || path[folder.size()] == '/'));
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

// The length of the well-formed UTF-8 sequence that starts at text[at], 0
// when none does (a stray continuation byte, a bad or cut-off sequence).
std::size_t utf8SequenceAt(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;  // no overlong forms
        if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F; // nothing past U+10FFFF
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char c = byte(at + i);
        if (c < (i == 1 ? low : 0x80) || c > (i == 1 ? high : 0xBF)) return 0;
    }
    return length;
}

// How many bytes of name to keep when at most limit fit: limit, less the
// start of a UTF-8 character that the cut would split.  Bytes that form no
// character are cut anywhere, and the result is never 0 for a limit above 0.
std::size_t cutLength(const std::string& name, std::size_t limit) {
    if (limit >= name.size()) return name.size();
    for (std::size_t back = 1; back <= 3 && back < limit; ++back)
        if (utf8SequenceAt(name, limit - back) > back) return limit - back;
    return limit;
}

// The attempt-th stem for name (1: the name itself, then name.2, ...), cut so
// that STEM.trashinfo fits in nameMax bytes.
std::string stemFor(const std::string& name, unsigned attempt, std::size_t nameMax) {
    const std::string suffix = attempt == 1 ? std::string() : "." + std::to_string(attempt);
    const std::size_t reserved = kInfoSuffixLength + suffix.size();
    const std::size_t limit = nameMax > reserved + 1 ? nameMax - reserved : 1;
    return name.substr(0, cutLength(name, limit)) + suffix;
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

// path with its symbolic links resolved as far as it exists; the part that
// does not exist yet is appended as it stands.
std::string realPathAsFarAsItExists(const std::string& path) {
    std::string existing = path, rest;
    for (;;) {
        if (char* real = ::realpath(existing.c_str(), nullptr)) {
            std::string resolved = real;
            std::free(real);
            return rest.empty() ? resolved : joined(resolved, rest);
        }
        if (existing == "/") return path;
        const std::string name = existing.substr(existing.rfind('/') + 1);
        rest = rest.empty() ? name : name + "/" + rest;
        existing = parentOf(existing);
    }
}

// An open trash, with the rule for the Path= of its items.
struct Trash {
    std::string path;
    std::string topDirectory; // empty for the home trash: Path= is absolute
    UniqueFd files;
    UniqueFd info;
    std::size_t nameMax = NAME_MAX; // of the trash's file system
    bool used = false;              // an item went in: its folders are flushed at the end
};

// Makes the folder name in dirFd unless it is there and opens it as a trash
// folder, never through a symbolic link.  The folder is checked on the open
// descriptor, which is then used, so nothing can be put in its place between
// the check and the use: it must be the user's own (another user's could be
// read by them) and writable by nobody else (who could take items out or
// swap files/ and info/).  path names it in errors.
Result<UniqueFd> openTrashFolder(SystemCalls& system, int dirFd, const std::string& name, const std::string& path) {
    if (system.mkdirAt(dirFd, name.c_str(), 0700) != 0 && errno != EEXIST) return lastError("mkdirat", path);
    const int fd = system.openAt(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        const int error = errno;
        struct stat status {};
        if ((error == ENOTDIR || error == ELOOP)
            && system.fstatAt(dirFd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(status.st_mode))
            return SysError{"use a symbolic link as the trash folder", path, error};
        return SysError{"openat", path, error};
    }
    UniqueFd folder(fd);
    struct stat status {};
    if (system.fstat(folder.get(), &status) != 0) return lastError("fstat", path);
    if (status.st_uid != ::getuid())
        return SysError{"use a trash folder owned by user " + std::to_string(status.st_uid), path, EPERM};
    if (status.st_mode & (S_IWGRP | S_IWOTH))
        return SysError{"use a trash folder that others may write to", path, EPERM};
    return folder;
}

// The trash at path, open as folder: its files/ and info/ made and opened.
Result<Trash> openTrash(SystemCalls& system, UniqueFd folder, const std::string& path, std::string topDirectory) {
    Result<UniqueFd> files = openTrashFolder(system, folder.get(), "files", path + "/files");
    if (!files) return files.error();
    Result<UniqueFd> info = openTrashFolder(system, folder.get(), "info", path + "/info");
    if (!info) return info.error();
    const long nameMax = ::fpathconf(info->get(), _PC_NAME_MAX);
    Trash trash{path, std::move(topDirectory), std::move(*files), std::move(*info)};
    if (nameMax > 0) trash.nameMax = static_cast<std::size_t>(nameMax);
    return trash;
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
            const std::string path = joined(topDirectory, ".Trash/" + uid);
            Result<UniqueFd> folder = openTrashFolder(system, shared.get(), uid, path);
            if (folder) {
                Result<Trash> trash = openTrash(system, std::move(*folder), path, topDirectory);
                if (trash) return trash;
            }
        }
    }
    const std::string path = joined(topDirectory, ".Trash-" + uid);
    Result<UniqueFd> folder = openTrashFolder(system, top.get(), ".Trash-" + uid, path);
    if (!folder) return folder.error();
    return openTrash(system, std::move(*folder), path, topDirectory);
}

// $XDG_DATA_HOME/Trash, or HOME/.local/share/Trash; empty when neither is
// an absolute path.
std::string homeTrashPath() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return withoutTrailingSlashes(dataHome) + "/Trash";
    const std::string home = userHomeDirectory();
    if (!home.empty()) return joined(withoutTrailingSlashes(home), ".local/share/Trash");
    return {};
}

// The device of the home trash at path or, while it is missing, of the
// nearest folder above it.
std::optional<dev_t> deviceOf(SystemCalls& system, std::string path) {
    struct stat status {};
    while (system.fstatAt(AT_FDCWD, path.c_str(), &status, 0) != 0) {
        if (path == "/") return std::nullopt;
        path = parentOf(path);
    }
    return status.st_dev;
}

Result<Trash> openHomeTrash(SystemCalls& system, const std::string& path) {
    // The data folder on the way is private, as data folders are made.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        system.mkdirAt(AT_FDCWD, path.substr(0, slash).c_str(), 0700);
    // The data folder is the user's own path, links and all; the trash in it
    // is checked as a volume's is.
    const std::string dataFolder = parentOf(path);
    const int dataFd = system.openAt(AT_FDCWD, dataFolder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dataFd < 0) return lastError("openat", dataFolder);
    const UniqueFd data(dataFd);
    Result<UniqueFd> folder = openTrashFolder(system, data.get(), path.substr(path.rfind('/') + 1), path);
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

// Writes info into the new file fd, flushes it when flush, and closes fd.
// 0 or the errno.
int writeInfo(SystemCalls& system, int fd, const std::string& info, bool flush) {
    std::size_t done = 0;
    int error = 0;
    while (done < info.size() && !error) {
        const ssize_t n = system.write(fd, info.data() + done, info.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else error = n < 0 ? errno : EIO;
    }
    if (!error && flush && system.fsync(fd) != 0) error = errno;
    if (system.close(fd) != 0 && !error) error = errno;
    return error;
}

// One item of a batch on its way into a trash.
struct Item {
    std::string path; // absolute, without trailing slashes
    std::string name;
    std::string folder; // the real path of the folder that holds it
    bool onHomeDevice = false;
    Trash* trash = nullptr;
    std::string original; // its Path= in trash
    unsigned attempt = 1; // of stemFor
    std::string stem;     // with an info file in trash
    std::optional<Result<TrashedItem>> result;
};

// Moves a batch of items into their trashes.
//
// Every item is checked before any trash folder is made, so that nothing is
// made for an item that is refused.  The info files of the batch are then
// written and made durable together, one flush per trash, before the first
// item is renamed into files/: no item is ever in a trash without its info
// file, and 1,000 items cost two flushes instead of 1,000.  An item whose
// stem is taken in files/ meanwhile goes round again with the next stem.
class Batch {
public:
    explicit Batch(SystemCalls& system) : m_system(system) {}

    std::vector<Result<TrashedItem>> run(const std::vector<std::string>& paths) {
        std::vector<Item> items(paths.size());
        m_homePath = homeTrashPath();
        if (!m_homePath.empty()) {
            m_homeDevice = deviceOf(m_system, m_homePath);
            m_homeRealPath = realPathAsFarAsItExists(m_homePath);
        }
        for (std::size_t i = 0; i < paths.size(); ++i)
            if (std::optional<SysError> refusal = check(items[i], paths[i])) items[i].result = std::move(*refusal);

        std::vector<Item*> pending;
        for (Item& item : items)
            if (!item.result && chooseTrash(item)) pending.push_back(&item);
        // One item goes through the cheapest flush of one file; a batch
        // flushes each trash's file system once.
        const bool flushEach = pending.size() == 1;
        while (!pending.empty()) pending = putIntoTrashes(pending, flushEach);

        // The renames themselves made durable.  An item is in the trash by
        // now whatever the flush answers: at worst a crash puts it back
        // where it was, beside a spare info file.
        for (const Result<Trash>* trash : openedTrashes())
            if (trash->ok() && (*trash)->used) {
                m_system.fsync((*trash)->files.get());
                m_system.fsync((*trash)->info.get());
            }

        std::vector<Result<TrashedItem>> results;
        results.reserve(items.size());
        for (Item& item : items) results.push_back(std::move(*item.result));
        return results;
    }

private:
    // Refuses what cannot go to any trash, before any trash folder is made:
    // a path that names no item, a missing item, a mount point, an item whose
    // folder may not be changed, the folder that holds the home trash.
    std::optional<SysError> check(Item& item, const std::string& given) {
        item.path = withoutTrailingSlashes(given);
        const std::string& path = item.path;
        item.name = path.substr(path.rfind('/') + 1);
        if (path.empty() || path.front() != '/' || item.name.empty() || item.name == "." || item.name == "..")
            return SysError{"move to the trash", path, EINVAL};
        struct stat status {};
        if (m_system.fstatAt(AT_FDCWD, path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return lastError("lstat", path);
        if (m_homePath.empty()) return SysError{"find the home trash: the user has no home folder", {}, ENOENT};

        // The real folder: ".." of a symbolic link is not the folder the link
        // sits in, and the top directory is found on real paths.
        char* real = ::realpath(parentOf(path).c_str(), nullptr);
        if (!real) return lastError("realpath", parentOf(path));
        item.folder = real;
        std::free(real);
        const std::string realPath = joined(item.folder, item.name);
        struct stat folder {};
        if (m_system.fstatAt(AT_FDCWD, item.folder.c_str(), &folder, 0) != 0) return lastError("stat", path);
        // Mount ids tell bind mounts apart and keep a file system's own
        // volumes (btrfs subvolumes) together; devices only where ids fail.
        const std::optional<std::uint64_t> mount = mountOf(realPath), folderMount = mountOf(item.folder);
        if (mount && folderMount ? mount != folderMount : status.st_dev != folder.st_dev)
            return SysError{"move a mount point to the trash", path, EBUSY};

        // rename(2) needs write access to the folder, and to a folder itself
        // for its "..".  In a sticky folder, such as /tmp, only the owner of
        // the item or of the folder may move it.
        if (::faccessat(AT_FDCWD, item.folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0
            || (S_ISDIR(status.st_mode) && ::faccessat(AT_FDCWD, realPath.c_str(), W_OK, AT_EACCESS) != 0))
            return lastError("move to the trash", path);
        const uid_t user = ::geteuid();
        if ((folder.st_mode & S_ISVTX) && user != 0 && status.st_uid != user && folder.st_uid != user)
            return SysError{"move to the trash", path, EPERM};

        // A trash cannot go into itself, and what is in it is there already
        // (its files/ and info/ most of all).
        item.onHomeDevice = m_homeDevice == status.st_dev;
        std::vector<std::string> trashes{m_homeRealPath};
        if (!item.onHomeDevice) {
            const std::string& top = topOf(item.folder);
            const std::string uid = std::to_string(::getuid());
            trashes = {joined(top, ".Trash/" + uid), joined(top, ".Trash-" + uid)};
        }
        for (const std::string& trash : trashes) {
            if (isWithin(trash, realPath))
                return SysError{"move the folder that holds the trash to the trash", path, EINVAL};
            if (isWithin(realPath, trash)) return SysError{"move what is in the trash to the trash", path, EINVAL};
        }
        return std::nullopt;
    }

    // Opens (and makes) the trash that item goes to: the home trash for the
    // home's device, else its volume's.  false: it cannot, and the error is
    // the item's result.
    bool chooseTrash(Item& item) {
        Result<Trash>& trash = item.onHomeDevice && !item.trash ? homeTrash() : volumeTrash(item.folder);
        if (!trash) {
            item.result = trash.error();
            return false;
        }
        item.trash = &*trash;
        item.attempt = 1;
        const std::string original = joined(item.folder, item.name);
        const std::string& top = item.trash->topDirectory;
        // Path= is absolute for the home trash, relative to $topdir for a
        // volume's.  The home trash keeps the path as given, links and all.
        item.original = top.empty() ? item.path : original.substr(top == "/" ? 1 : top.size() + 1);
        return true;
    }

    Result<Trash>& homeTrash() {
        if (!m_home) m_home.emplace(openHomeTrash(m_system, m_homePath));
        return *m_home;
    }

    const std::string& topOf(const std::string& folder) {
        std::string& top = m_tops[folder];
        if (top.empty()) top = topDirectoryOf(folder);
        return top;
    }

    Result<Trash>& volumeTrash(const std::string& folder) {
        const std::string& top = topOf(folder);
        auto found = m_volumes.find(top);
        if (found == m_volumes.end()) found = m_volumes.emplace(top, openVolumeTrash(m_system, top)).first;
        return found->second;
    }

    std::vector<Result<Trash>*> openedTrashes() {
        std::vector<Result<Trash>*> trashes;
        if (m_home) trashes.push_back(&*m_home);
        for (auto& [top, trash] : m_volumes) trashes.push_back(&trash);
        return trashes;
    }

    // One round: the info files of items, their flush, their renames.  The
    // items that go round again.
    std::vector<Item*> putIntoTrashes(const std::vector<Item*>& items, bool flushEach) {
        const std::string date = localDeletionDate();
        std::vector<Item*> written;
        for (Item* item : items) {
            if (std::optional<SysError> error = writeInfoFile(*item, date, flushEach)) item->result = std::move(*error);
            else written.push_back(item);
        }

        std::map<Trash*, std::optional<SysError>> flushes;
        for (Item* item : written) {
            const auto [flush, first] = flushes.try_emplace(item->trash);
            if (first) flush->second = flushInfoFiles(*item->trash, flushEach);
        }

        std::vector<Item*> again;
        for (Item* item : written) {
            Trash& trash = *item->trash;
            const std::string infoName = item->stem + kInfoSuffix;
            if (const std::optional<SysError>& error = flushes[&trash]) {
                m_system.unlinkAt(trash.info.get(), infoName.c_str(), 0);
                item->result = *error;
                continue;
            }
            if (renameNoReplace(m_system, item->path.c_str(), trash.files.get(), item->stem.c_str()) == 0) {
                trash.used = true;
                item->result = TrashedItem{trash.path + "/files/" + item->stem, trash.path + "/info/" + infoName};
                continue;
            }
            const int error = errno;
            m_system.unlinkAt(trash.info.get(), infoName.c_str(), 0);
            if (error == EEXIST) { // an item without info file took the stem meanwhile
                ++item->attempt;
                again.push_back(item);
            } else if (error == EXDEV && trash.topDirectory.empty()) {
                // The home's file system, but mounted again between the item
                // and the trash: the item goes to its mount's trash.
                if (chooseTrash(*item)) again.push_back(item);
            } else {
                item->result = renameFailure(*item, error);
            }
        }
        return again;
    }

    // Creates info/STEM.trashinfo for the first free stem from item.attempt
    // on (free in info/ and in files/) and writes it.  An error names the
    // trash: the item has not been touched.
    std::optional<SysError> writeInfoFile(Item& item, const std::string& date, bool flush) {
        const Trash& trash = *item.trash;
        const std::string info =
            "[Trash Info]\nPath=" + percentEncoded(item.original) + "\nDeletionDate=" + date + "\n";
        for (; item.attempt <= kStemAttempts; ++item.attempt) {
            item.stem = stemFor(item.name, item.attempt, trash.nameMax);
            // An item without info file holds the stem: its rename would
            // fail, after a flush for nothing.
            struct stat status {};
            if (m_system.fstatAt(trash.files.get(), item.stem.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0) continue;
            const std::string infoName = item.stem + kInfoSuffix;
            const std::string infoPath = trash.path + "/info/" + infoName;
            const int fd =
                m_system.openAt(trash.info.get(), infoName.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW, 0600);
            if (fd < 0 && errno == EEXIST) continue;
            if (fd < 0) return lastError("openat", infoPath);
            if (const int error = writeInfo(m_system, fd, info, flush)) {
                m_system.unlinkAt(trash.info.get(), infoName.c_str(), 0);
                return SysError{"write", infoPath, error};
            }
            return std::nullopt;
        }
        return SysError{"find a free name in", trash.path + "/files", EEXIST};
    }

    // Makes the info files just written in trash durable, names and all:
    // they were flushed one by one (flushEach), else their whole file system
    // is, once; then info/ itself.
    std::optional<SysError> flushInfoFiles(Trash& trash, bool flushEach) {
        if (!flushEach && m_system.syncFileSystem(trash.info.get()) != 0)
            return lastError("syncfs", trash.path + "/info");
        if (m_system.fsync(trash.info.get()) != 0) return lastError("fsync", trash.path + "/info");
        return std::nullopt;
    }

    // The error for a rename of item that failed with error: the item's when
    // the item is the cause (gone meanwhile, its folder refuses, a folder
    // holding the trash), else the trash's, which is then at fault.
    SysError renameFailure(const Item& item, int error) {
        struct stat status {};
        if (m_system.fstatAt(AT_FDCWD, item.path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return lastError("lstat", item.path);
        switch (error) {
        case ENOENT:
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
        case EXDEV:
        case ENOSPC:
        case EDQUOT:
        case EMLINK:
            return SysError{"renameat", item.trash->path + "/files/" + item.stem, error};
        default:
            return SysError{"renameat", item.path, error};
        }
    }

    SystemCalls& m_system;
    std::string m_homePath;                         // empty: neither XDG_DATA_HOME nor a home
    std::optional<dev_t> m_homeDevice;              // of m_homePath as far as it exists
    std::string m_homeRealPath;                     // m_homePath without links
    std::optional<Result<Trash>> m_home;            // opened for the first item that needs it
    std::map<std::string, Result<Trash>> m_volumes; // by top directory
    std::map<std::string, std::string> m_tops;      // folder -> its top directory
};

} // namespace

Result<TrashedItem> moveToTrash(const std::string& path, SystemCalls& system) {
    return std::move(Batch(system).run({path}).front());
}

std::vector<TrashFailure> moveAllToTrash(const std::vector<std::string>& paths, SystemCalls& system) {
    std::vector<Result<TrashedItem>> results = Batch(system).run(paths);
    std::vector<TrashFailure> failures;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (results[i]) continue;
        const bool itemAtFault = results[i].error().path == withoutTrailingSlashes(paths[i]);
        failures.push_back({paths[i], results[i].error(), !itemAtFault});
    }
    return failures;
}

} // namespace toka
