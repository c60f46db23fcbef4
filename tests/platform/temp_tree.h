#pragma once
// Temporary directory trees and a pinned time zone for the tests of the
// platform layer and of the walk.

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace toka::test {

/// A fresh directory under TMPDIR, removed with everything in it.
class TempTree {
public:
    TempTree() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/toka-platform-XXXXXX";
        char* made = ::mkdtemp(pattern.data());
        EXPECT_NE(made, nullptr);
        m_path = pattern + "/";
    }
    ~TempTree() { removeTree(m_path); }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    /// The directory's path, ending in "/".
    const std::string& path() const { return m_path; }
    std::string operator/(const std::string& relative) const { return m_path + relative; }

    /// Makes the directory and any missing parents; a name may hold any
    /// byte but "/" and NUL.
    void mkdirp(const std::string& relative) const {
        std::error_code error;
        std::filesystem::create_directories(m_path + relative, error);
        ASSERT_FALSE(error) << relative << ": " << error.message();
    }
    void touch(const std::string& relative, off_t size = 0) const {
        int fd = ::open((m_path + relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << relative;
        ASSERT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
    }

private:
    struct Names {
        std::vector<std::string> directories, others;
    };
    // The names in dirFd (made readable first), split by type.
    static Names namesIn(int parentFd, const char* name) {
        Names names;
        ::fchmodat(parentFd, name, 0700, 0);
        int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0) return names;
        DIR* dir = ::fdopendir(fd);
        while (dirent* e = ::readdir(dir)) {
            std::string entry = e->d_name;
            if (entry == "." || entry == "..") continue;
            (e->d_type == DT_DIR ? names.directories : names.others).push_back(entry);
        }
        ::closedir(dir);
        return names;
    }

    // Removes a tree of any depth without long paths or many descriptors
    // (rm -rf needs seconds for a chain 5000 levels deep): every directory
    // two levels down is moved up to the top before its parent goes.
    static void removeTree(const std::string& top) {
        int topFd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
        if (topFd < 0) return;
        ::fchmod(topFd, 0700);
        int moved = 0;
        std::vector<std::string> work = {"."};
        while (!work.empty()) {
            std::string current = work.back();
            work.pop_back();
            Names names = namesIn(topFd, current.c_str());
            for (const std::string& other : names.others) {
                ::unlinkat(topFd, (current + "/" + other).c_str(), 0);
            }
            for (const std::string& sub : names.directories) {
                std::string subPath = current + "/" + sub;
                Names inner = namesIn(topFd, subPath.c_str());
                for (const std::string& other : inner.others) {
                    ::unlinkat(topFd, (subPath + "/" + other).c_str(), 0);
                }
                for (const std::string& deeper : inner.directories) {
                    std::string hoisted = "~moved-" + std::to_string(moved++);
                    ::renameat(topFd, (subPath + "/" + deeper).c_str(), topFd, hoisted.c_str());
                    work.push_back(hoisted);
                }
                ::unlinkat(topFd, subPath.c_str(), AT_REMOVEDIR);
            }
            if (current != ".") ::unlinkat(topFd, current.c_str(), AT_REMOVEDIR);
        }
        ::close(topFd);
        ::rmdir(top.c_str());
    }

    std::string m_path;
};

// Pins the local time zone for one test; POSIX TZ strings need no tzdata.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had) m_old = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (m_had) ::setenv("TZ", m_old.c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool m_had = false;
    std::string m_old;
};

} // namespace toka::test
