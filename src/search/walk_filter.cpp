#include "search/walk_filter.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace toka {

namespace {

bool hasGlobCharacter(std::string_view text) { return text.find_first_of("*?[\\") != std::string_view::npos; }

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalsFolded(std::string_view a, std::string_view b) {
    return a.size() == b.size()
           && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldAscii(x) == foldAscii(y); });
}

std::string sizeText(std::uint64_t bytes) {
    static constexpr const char* kUnits[] = {"GB", "MB", "KB"};
    for (int i = 0; i < 3; ++i) {
        const std::uint64_t unit = std::uint64_t{1} << (10 * (3 - i));
        if (bytes >= unit && bytes % unit == 0) return std::to_string(bytes / unit) + " " + kUnits[i];
    }
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string localTimeText(std::int64_t seconds) {
    const std::time_t time = seconds;
    std::tm local{};
    ::localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text,
                  local.tm_hour == 0 && local.tm_min == 0 && local.tm_sec == 0 ? "%Y-%m-%d" : "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : " ") + item;
    return text;
}

} // namespace

bool WalkFilter::active() const { return *this != WalkFilter(); }

std::vector<std::string> WalkFilter::describe() const {
    std::vector<std::string> lines;
    if (!exclude.empty()) lines.push_back("Excluded: " + joined(exclude));
    if (skipHidden) lines.push_back("Hidden entries left out");
    if (kinds != 0) {
        std::vector<std::string> names;
        if (kinds & kKindFile) names.push_back("files");
        if (kinds & kKindDirectory) names.push_back("directories");
        if (kinds & kKindSymlink) names.push_back("symbolic links");
        if (kinds & kKindSpecial) names.push_back("special files");
        std::string text = "Kind: ";
        for (std::size_t i = 0; i < names.size(); ++i) text += (i ? ", " : "") + names[i];
        lines.push_back(text);
    }
    if (!extensions.empty()) lines.push_back("Extensions: " + joined(extensions));
    if (minSize && maxSize) lines.push_back("Size: from " + sizeText(*minSize) + " to " + sizeText(*maxSize));
    else if (minSize) lines.push_back("Size: at least " + sizeText(*minSize));
    else if (maxSize) lines.push_back("Size: at most " + sizeText(*maxSize));
    if (modifiedFrom && modifiedUntil)
        lines.push_back("Modified: from " + localTimeText(*modifiedFrom) + " until " + localTimeText(*modifiedUntil));
    else if (modifiedFrom) lines.push_back("Modified: since " + localTimeText(*modifiedFrom));
    else if (modifiedUntil) lines.push_back("Modified: before " + localTimeText(*modifiedUntil));
    if (oneFileSystem) lines.push_back("Stays on one file system");
    if (maxDepth > 0) lines.push_back("Depth: at most " + std::to_string(maxDepth));
    return lines;
}

FilterMatcher::FilterMatcher(const WalkFilter& filter)
    : m_filter(filter), m_active(filter.active()),
      m_needsLate(!filter.exclude.empty() || filter.minSize || filter.maxSize || filter.modifiedFrom
                  || filter.modifiedUntil) {
    for (std::string pattern : filter.exclude) {
        while (pattern.size() > 1 && pattern.back() == '/') pattern.pop_back();
        if (pattern.empty()) continue;
        if (pattern.find('/') != std::string::npos) m_pathGlobs.push_back(pattern);
        else if (!hasGlobCharacter(pattern)) m_literalNames.push_back(pattern);
        else if (pattern[0] == '*' && !hasGlobCharacter(std::string_view(pattern).substr(1)))
            m_suffixes.push_back(pattern.substr(1));
        else m_nameGlobs.push_back(pattern);
    }
    for (const std::string& extension : filter.extensions) {
        std::string folded = extension.starts_with('.') ? extension.substr(1) : extension;
        if (!folded.empty()) m_foldedExtensions.push_back(folded);
    }
}

bool FilterMatcher::excludedByName(std::string_view name) const {
    for (const std::string& literal : m_literalNames)
        if (name == literal) return true;
    for (const std::string& suffix : m_suffixes)
        if (name.ends_with(suffix)) return true;
    if (m_nameGlobs.empty()) return false;
    const std::string zname(name);
    for (const std::string& glob : m_nameGlobs)
        if (::fnmatch(glob.c_str(), zname.c_str(), 0) == 0) return true;
    return false;
}

bool FilterMatcher::excludedByPath(std::string_view dirPath, std::string_view name) const {
    if (m_pathGlobs.empty()) return false;
    std::string path(dirPath);
    path += name;
    for (const std::string& glob : m_pathGlobs)
        if (::fnmatch(glob.c_str(), path.c_str(), FNM_PATHNAME) == 0) return true;
    return false;
}

bool FilterMatcher::mayEnter(std::string_view dirPath, std::string_view name, int depth) const {
    if (!m_active) return true;
    if (m_filter.maxDepth > 0 && depth >= m_filter.maxDepth) return false;
    return keepsInRecord(dirPath, name);
}

bool FilterMatcher::keepsInRecord(std::string_view dirPath, std::string_view name) const {
    if (!m_active) return true;
    if (m_filter.skipHidden && name.starts_with('.')) return false;
    return !excludedByName(name) && !excludedByPath(dirPath, name);
}

bool FilterMatcher::passesEarly(std::string_view name, EntryType type) const {
    if (m_filter.skipHidden && name.starts_with('.')) return false;
    if (m_filter.kinds != 0) {
        unsigned bit = 0;
        switch (type) {
        case EntryType::Regular:
            bit = kKindFile;
            break;
        case EntryType::Directory:
            bit = kKindDirectory;
            break;
        case EntryType::Symlink:
            bit = kKindSymlink;
            break;
        case EntryType::CharDevice:
        case EntryType::BlockDevice:
        case EntryType::Fifo:
        case EntryType::Socket:
            bit = kKindSpecial;
            break;
        case EntryType::Unknown:
            break;
        }
        if ((m_filter.kinds & bit) == 0) return false;
    }
    if (!m_foldedExtensions.empty()) {
        const std::size_t dot = name.rfind('.');
        if (dot == std::string_view::npos || dot == 0) return false;
        const std::string_view extension = name.substr(dot + 1);
        if (std::none_of(m_foldedExtensions.begin(), m_foldedExtensions.end(),
                         [&](const std::string& wanted) { return equalsFolded(extension, wanted); }))
            return false;
    }
    return true;
}

bool FilterMatcher::passesLate(int dirFd, std::string_view dirPath, std::string_view name, EntryType type) const {
    if (excludedByName(name) || excludedByPath(dirPath, name)) return false;
    const bool bySize = m_filter.minSize || m_filter.maxSize;
    const bool byTime = m_filter.modifiedFrom || m_filter.modifiedUntil;
    if (!bySize && !byTime) return true;
    if (bySize && type == EntryType::Directory) return false;
    struct stat status {};
    const std::string zname(name);
    const int result = dirFd >= 0
                           ? ::fstatat(dirFd, zname.c_str(), &status, AT_SYMLINK_NOFOLLOW)
                           : ::fstatat(AT_FDCWD, (std::string(dirPath) + zname).c_str(), &status, AT_SYMLINK_NOFOLLOW);
    if (result != 0) return false;
    if (bySize) {
        if (S_ISDIR(status.st_mode)) return false;
        const auto size = static_cast<std::uint64_t>(status.st_size);
        if ((m_filter.minSize && size < *m_filter.minSize) || (m_filter.maxSize && size > *m_filter.maxSize))
            return false;
    }
    if (byTime) {
        const std::int64_t modified = status.st_mtim.tv_sec;
        if ((m_filter.modifiedFrom && modified < *m_filter.modifiedFrom)
            || (m_filter.modifiedUntil && modified >= *m_filter.modifiedUntil))
            return false;
    }
    return true;
}

} // namespace toka
