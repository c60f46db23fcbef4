#pragma once
// Temporary directory trees for the tests: a fresh folder removed with
// everything in it, however deep, and chains of folders deeper than PATH_MAX.

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <gtest/gtest.h>

namespace toka::test {

/// TMPDIR, or /tmp.
inline std::string temporaryFolder() {
    const char* base = std::getenv("TMPDIR");
    return base && *base ? base : "/tmp";
}

/// /dev/shm where there is one, else the temporary folder: removing a tree
/// of 20,000 folders from a disk waits for its journal (70 s on ext4,
/// against 0.8 s on tmpfs).
inline std::string scratchFolder() {
    return std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : temporaryFolder();
}

/// Writes bytes into a new file at path (its folders made as needed).
inline void writeFile(const std::string& path, std::string_view bytes, mode_t mode = 0644) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    ::chmod(path.c_str(), mode);
}

inline std::string readFile(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

/// A fresh directory below base, removed with everything in it (read-only
/// folders and chains thousands of levels deep included).
class TempTree {
public:
    explicit TempTree(const std::string& base = temporaryFolder()) {
        std::string pattern = base + "/toka-test-XXXXXX";
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr) << base << ": " << std::strerror(errno);
        m_path = pattern + "/";
    }
    ~TempTree() {
        clear();
        ::rmdir(m_path.c_str());
    }
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
    /// A Unix socket's file (the socket itself is closed again).
    void makeSocket(const std::string& relative) const {
        const std::string path = m_path + relative;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(path.size(), sizeof address.sun_path) << path;
        std::copy(path.begin(), path.end(), address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
        ::close(fd);
    }

    /// Removes everything in the directory, without long paths or many
    /// descriptors (rm -rf needs seconds for a chain 5000 levels deep):
    /// every directory two levels down is moved up to the top before its
    /// parent goes.
    void clear() const {
        int topFd = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY);
        if (topFd < 0) return;
        ::fchmod(topFd, 0700);
        int moved = 0;
        std::vector<std::string> work = {"."};
        while (!work.empty()) {
            const std::string current = work.back();
            work.pop_back();
            const Names names = namesIn(topFd, current.c_str());
            for (const std::string& other : names.others) ::unlinkat(topFd, (current + "/" + other).c_str(), 0);
            for (const std::string& sub : names.directories) {
                const std::string subPath = current + "/" + sub;
                const Names inner = namesIn(topFd, subPath.c_str());
                for (const std::string& other : inner.others) ::unlinkat(topFd, (subPath + "/" + other).c_str(), 0);
                for (const std::string& deeper : inner.directories) {
                    const std::string hoisted = "~moved-" + std::to_string(moved++);
                    ::renameat(topFd, (subPath + "/" + deeper).c_str(), topFd, hoisted.c_str());
                    work.push_back(hoisted);
                }
                ::unlinkat(topFd, subPath.c_str(), AT_REMOVEDIR);
            }
            if (current != ".") ::unlinkat(topFd, current.c_str(), AT_REMOVEDIR);
        }
        ::close(topFd);
    }

private:
    struct Names {
        std::vector<std::string> directories, others;
    };
    // The names in the directory name of parentFd (made readable first),
    // split by type.
    static Names namesIn(int parentFd, const char* name) {
        Names names;
        ::fchmodat(parentFd, name, 0700, 0);
        int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0) return names;
        DIR* dir = ::fdopendir(fd);
        while (dirent* e = ::readdir(dir)) {
            const std::string entry = e->d_name;
            if (entry == "." || entry == "..") continue;
            (e->d_type == DT_DIR ? names.directories : names.others).push_back(entry);
        }
        ::closedir(dir);
        return names;
    }

    std::string m_path;
};

/// Makes an empty file in the directory open as dirFd.
inline void touchAt(int dirFd, const std::string& name) {
    const int fd = ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_GE(fd, 0) << name << ": " << std::strerror(errno);
    ::close(fd);
}

/// A descriptor of root/NAME/NAME/.../NAME, `levels` deep, each level made
/// (make, with the empty files `files` in it) or opened relative to its
/// parent, so that paths beyond PATH_MAX work; -1 with errno.
inline int chainBottom(const std::string& root, int levels, bool make, const std::string& name = "d",
                       const std::vector<std::string>& files = {}) {
    int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; fd >= 0; ++level) {
        if (make)
            for (const std::string& file : files) touchAt(fd, file);
        if (level == levels) break;
        const int next = !make || ::mkdirat(fd, name.c_str(), 0755) == 0
                             ? ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                             : -1;
        const int error = errno;
        ::close(fd);
        errno = error;
        fd = next;
    }
    return fd;
}

/// Makes a chain of `levels` directories named `name` below base (which
/// ends in "/"), each holding the files in `files`; returns the path of the
/// deepest one.
inline std::string makeChain(const std::string& base, int levels, const std::string& name,
                             const std::vector<std::string>& files) {
    const int bottom = chainBottom(base, levels, true, name, files);
    EXPECT_GE(bottom, 0) << std::strerror(errno);
    ::close(bottom);
    std::string path = base;
    for (int level = 0; level < levels; ++level) path += name + "/";
    return path;
}

} // namespace toka::test
