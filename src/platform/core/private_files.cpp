#include "platform/core/private_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace toka {

std::string notPrivateBecause(const struct stat& status) {
    const uid_t user = ::geteuid();
    if (status.st_uid != user) {
        return "it belongs to user " + std::to_string(status.st_uid) + ", not to user " + std::to_string(user);
    }
    if (status.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", status.st_mode & 07777u);
        return std::string("other users may write to it (mode ") + mode + ")";
    }
    return {};
}

std::optional<SysError> makePrivateDirectories(const std::string& dir) {
    struct stat info {};
    if (dir.empty() || ::stat(dir.c_str(), &info) == 0) return std::nullopt;
    const std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        if (auto error = makePrivateDirectories(dir.substr(0, slash))) return error;
    }
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return lastError("mkdir", dir);
    return std::nullopt;
}

std::string userHomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/') return home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? std::size_t(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
    if (found->pw_dir == nullptr || found->pw_dir[0] != '/') return {};
    return found->pw_dir;
}

} // namespace toka
