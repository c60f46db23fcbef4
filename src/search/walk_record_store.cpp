#include "search/walk_record_store.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

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

std::vector<std::string> namesIn(const std::string& directory) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(directory.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
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
        const char* home = std::getenv("HOME");
        base = std::string(home && home[0] == '/' ? home : "/tmp") + "/.cache";
    }
    return base + "/tokasearch/walks";
}

WalkRecordStore::WalkRecordStore(std::string directory) : m_directory(std::move(directory)) {}

std::string WalkRecordStore::pathFor(const std::vector<std::string>& roots, std::string_view options) const {
    // NUL ends each part: no root holds one, so two key sets never run together.
    std::string key(options);
    for (const std::string& root : roots) (key += '\0') += root;
    std::uint64_t hash = XXH3_64bits(key.data(), key.size());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string name(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) name[std::size_t(i)] = kHex[hash & 0xF];
    return m_directory + "/" + name + std::string(kSuffix);
}

std::shared_ptr<const WalkRecord> WalkRecordStore::find(const std::vector<std::string>& roots,
                                                        std::string_view options) const {
    auto record = WalkRecord::load(pathFor(roots, options));
    if (!record || record->roots() != roots || record->options() != options) return nullptr;
    return std::make_shared<const WalkRecord>(std::move(*record));
}

std::optional<SysError> WalkRecordStore::save(const WalkRecordWriter& record) const {
    return record.save(pathFor(record.roots(), record.options()));
}

std::vector<RecordSummary> WalkRecordStore::list() const {
    std::vector<RecordSummary> summaries;
    for (const std::string& name : namesIn(m_directory)) {
        if (!isRecordName(name)) continue;
        const std::string path = m_directory + "/" + name;
        const auto record = WalkRecord::load(path);
        // A file under another record's name is not that record.
        if (!record || pathFor(record->roots(), record->options()) != path) continue;
        struct stat info {};
        ::stat(path.c_str(), &info);
        summaries.push_back({path, record->roots(), std::string(record->options()), record->createdTime(),
                             record->listedEntries(), std::uint64_t(info.st_size)});
    }
    std::stable_sort(summaries.begin(), summaries.end(),
                     [](const RecordSummary& a, const RecordSummary& b) { return a.createdTime < b.createdTime; });
    return summaries;
}

std::optional<SysError> WalkRecordStore::forgetAll(std::size_t* removed) const {
    std::size_t count = 0;
    std::optional<SysError> first;
    for (const std::string& name : namesIn(m_directory)) {
        if (!isRecordName(name) && !isLeftoverTemporary(name)) continue;
        const std::string path = m_directory + "/" + name;
        if (::unlink(path.c_str()) == 0) ++count;
        else if (errno != ENOENT && !first) first = lastError("unlink", path);
    }
    if (removed) *removed = count;
    return first;
}

} // namespace toka
