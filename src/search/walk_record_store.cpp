#include "search/walk_record_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include "platform/core/private_files.h"

namespace toka {
namespace {

constexpr std::string_view kSuffix = ".walk";

// A name and value per line; a value with a line break cannot occur (the
// patterns are single lines), but is escaped all the same so that two
// different option sets never give the same text.
void addLine(std::string& out, std::string_view name, std::string_view value) {
    out += name;
    out += '=';
    for (const char c : value) {
        if (c == '\\' || c == '\n') out += '\\';
        out += c;
    }
    out += '\n';
}

bool isRecordName(std::string_view name) {
    return name.size() == 16 + kSuffix.size() && name.ends_with(kSuffix)
           && name.find_first_not_of("0123456789abcdef") == 16;
}

bool isLeftoverTemporary(std::string_view name) {
    // What WalkRecordWriter::save writes before its rename: ".<name>.tmp-...".
    return name.starts_with('.') && name.find(std::string(kSuffix) + ".tmp-") != std::string_view::npos;
}

std::vector<std::string> namesIn(int dirFd) {
    std::vector<std::string> names;
    // The listing reads through a descriptor of its own.
    const int own = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = own < 0 ? nullptr : ::fdopendir(own);
    if (!dir) {
        if (own >= 0) ::close(own);
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

/// The folder name in the folder open as parentFd (made with mode 0700 when
/// create is set), opened without following a link, once it is found to be
/// the user's own.
Result<UniqueFd> openPrivateFolder(int parentFd, const std::string& name, const std::string& path, bool create) {
    if (create && ::mkdirat(parentFd, name.c_str(), 0700) != 0 && errno != EEXIST) return lastError("mkdir", path);
    UniqueFd fd(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        const int error = errno;
        struct stat info {};
        if ((error == ELOOP || error == ENOTDIR)
            && ::fstatat(parentFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
            return SysError{"use", path, error, S_ISLNK(info.st_mode) ? "it is a symbolic link" : "it is not a folder"};
        }
        return SysError{"open", path, error};
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return lastError("stat", path);
    if (std::string why = notPrivateBecause(info); !why.empty()) return SysError{"use", path, EPERM, why};
    return fd;
}

} // namespace

std::string recordedOptions(const ScanOptions& options, bool allFixedDisks) {
    const WalkFilter& filter = options.filter;
    std::string text;
    addLine(text, "recurse", options.recurseDirs ? "1" : "0");
    addLine(text, "fixed-disks", allFixedDisks ? "1" : "0");
    addLine(text, "one-file-system", filter.oneFileSystem ? "1" : "0");
    addLine(text, "skip-hidden", filter.skipHidden ? "1" : "0");
    addLine(text, "max-depth", std::to_string(filter.maxDepth));
    std::vector<std::string> exclude = filter.exclude;
    std::sort(exclude.begin(), exclude.end());
    exclude.erase(std::unique(exclude.begin(), exclude.end()), exclude.end());
    for (const std::string& pattern : exclude) addLine(text, "exclude", pattern);
    return text;
}

std::string defaultRecordDirectory() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    std::string base;
    if (cache && cache[0] == '/') {
        base = cache;
    } else {
        const std::string home = userHomeDirectory();
        if (home.empty()) return {};
        base = home + "/.cache";
    }
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return (base == "/" ? "" : base) + "/tokasearch/walks";
}

WalkRecordStore::WalkRecordStore(std::string directory) : m_directory(std::move(directory)) {}

std::string WalkRecordStore::nameFor(const std::vector<std::string>& roots, std::string_view options) const {
    // NUL ends each part: no root holds one, so two key sets never run together.
    std::string key(options);
    for (const std::string& root : roots) (key += '\0') += root;
    std::uint64_t hash = XXH3_64bits(key.data(), key.size());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) name[std::size_t(i)] = kHex[hash & 0xF];
    return name + std::string(kSuffix);
}

std::string WalkRecordStore::pathFor(const std::vector<std::string>& roots, std::string_view options) const {
    return m_directory + "/" + nameFor(roots, options);
}

Result<UniqueFd> WalkRecordStore::openFolder(bool create) const {
    // The folder and its parent are checked; what lies above them is the
    // user's cache, wherever it is.
    std::string directory = m_directory;
    while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
    const std::size_t slash = directory.find_last_of('/');
    if (directory.empty() || slash == std::string::npos || slash == 0) return SysError{"use", directory, EINVAL};
    const std::string parent = directory.substr(0, slash);
    const std::size_t parentSlash = parent.find_last_of('/');
    const std::string above = parentSlash == 0 ? std::string("/") : parent.substr(0, parentSlash);
    if (create) {
        if (auto error = makePrivateDirectories(above)) return *error;
    }
    const UniqueFd aboveFd(::open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!aboveFd.valid()) return lastError("open", above);
    Result<UniqueFd> parentFd = openPrivateFolder(aboveFd.get(), parent.substr(parentSlash + 1), parent, create);
    if (!parentFd) return parentFd;
    return openPrivateFolder(parentFd->get(), directory.substr(slash + 1), directory, create);
}

std::shared_ptr<const WalkRecord> WalkRecordStore::find(const std::vector<std::string>& roots, std::string_view options,
                                                        std::optional<SysError>* refused) const {
    const Result<UniqueFd> folder = openFolder(false);
    if (!folder) {
        if (refused && folder.error().code != ENOENT) *refused = folder.error();
        return nullptr;
    }
    const std::string name = nameFor(roots, options);
    std::string refusal;
    auto record = WalkRecord::loadAt(folder->get(), name, &refusal);
    if (!refusal.empty() && refused) *refused = SysError{"use", m_directory + "/" + name, EPERM, refusal};
    if (!record || record->roots() != roots || record->options() != options) return nullptr;
    return std::make_shared<const WalkRecord>(std::move(*record));
}

std::optional<SysError> WalkRecordStore::save(const WalkRecordWriter& record) const {
    const Result<UniqueFd> folder = openFolder(true);
    if (!folder) return folder.error();
    return record.saveAt(folder->get(), nameFor(record.roots(), record.options()), m_directory);
}

std::vector<RecordSummary> WalkRecordStore::list(std::optional<SysError>* refused) const {
    std::vector<RecordSummary> summaries;
    const Result<UniqueFd> folder = openFolder(false);
    if (!folder) {
        if (refused && folder.error().code != ENOENT) *refused = folder.error();
        return summaries;
    }
    for (const std::string& name : namesIn(folder->get())) {
        if (!isRecordName(name)) continue;
        const auto record = WalkRecord::loadAt(folder->get(), name);
        // A file under another record's name is not that record.
        if (!record || nameFor(record->roots(), record->options()) != name) continue;
        struct stat info {};
        ::fstatat(folder->get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW);
        summaries.push_back({m_directory + "/" + name, record->roots(), std::string(record->options()),
                             record->createdTime(), record->listedEntries(), std::uint64_t(info.st_size)});
    }
    std::stable_sort(summaries.begin(), summaries.end(),
                     [](const RecordSummary& a, const RecordSummary& b) { return a.createdTime < b.createdTime; });
    return summaries;
}

std::optional<SysError> WalkRecordStore::forgetAll(std::size_t* removed) const {
    std::size_t count = 0;
    if (removed) *removed = 0;
    const Result<UniqueFd> folder = openFolder(false);
    if (!folder) return folder.error().code == ENOENT ? std::nullopt : std::optional<SysError>(folder.error());
    std::optional<SysError> first;
    for (const std::string& name : namesIn(folder->get())) {
        if (!isRecordName(name) && !isLeftoverTemporary(name)) continue;
        if (::unlinkat(folder->get(), name.c_str(), 0) == 0) ++count;
        else if (errno != ENOENT && !first) first = lastError("unlink", m_directory + "/" + name);
    }
    if (removed) *removed = count;
    return first;
}

} // namespace toka
