#include "platform/core/paths.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace toka {

std::string normalizeDirectoryPath(std::string_view path) {
    std::string result;
    if (path.empty()) return result;
    result.reserve(path.size() + 1);
    for (char c : path) {
        if (c == '/' && !result.empty() && result.back() == '/') continue;
        result += c;
    }
    if (result.back() != '/') result += '/';
    return result;
}

namespace {

bool hasDotComponent(std::string_view path) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(pos, end - pos);
        if (part == "." || part == "..") return true;
        pos = end + 1;
    }
    return false;
}

} // namespace

std::string absoluteDirectoryPath(std::string_view path) {
    std::string full;
    if (!path.empty() && path[0] == '/') {
        full = path;
    } else {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) return {};
        full = cwd;
        full += '/';
        full += path;
    }
    if (hasDotComponent(full)) {
        char* resolved = ::realpath(full.c_str(), nullptr);
        if (resolved == nullptr) return {};
        full = resolved;
        std::free(resolved);
    }
    return normalizeDirectoryPath(full);
}

} // namespace toka
