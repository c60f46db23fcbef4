#pragma once
// Helpers for the walk tests: a recorder of every hook call, trees made with
// openat (so they can be deeper than PATH_MAX), and running a piece of the
// test as an unprivileged user when the tests run as root.

#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "../platform/temp_tree.h"
#include "search/scan.h"

namespace toka::test {

struct RatedEntry {
    std::string dir;
    std::string name;
    std::uint64_t counted; ///< the counter when it was rated
    friend bool operator==(const RatedEntry& a, const RatedEntry& b) { return a.dir == b.dir && a.name == b.name; }
};

/// Records every hook call of one Scanner.
class WalkRecorder {
public:
    explicit WalkRecorder(ScanOptions options = {}) : m_scanner(options, hooks()) {}

    Scanner& scanner() { return m_scanner; }
    std::vector<RatedEntry> rated;
    std::vector<std::pair<std::string, std::uint64_t>> statuses;
    std::vector<std::pair<std::string, int>> skipped; ///< directory, errno
    /// Called after each entry is recorded; may set stop.
    std::function<void(const RatedEntry&)> onRate;
    bool stop = false;
    int stopTests = 0;

private:
    ScanHooks hooks() {
        ScanHooks h;
        h.rate = [this](std::string_view name, std::string_view dir) {
            rated.push_back({std::string(dir), std::string(name), m_scanner.scannedEntries()});
            if (onRate) onRate(rated.back());
        };
        h.status = [this](const std::string& text) { statuses.emplace_back(text, m_scanner.scannedEntries()); };
        h.stopRequested = [this] {
            ++stopTests;
            return stop;
        };
        h.skipped = [this](std::string_view dir, int error) { skipped.emplace_back(dir, error); };
        return h;
    }
    Scanner m_scanner;
};

/// Makes a chain of `levels` directories named `name` below base, each
/// holding the files in `files`; returns the path of the deepest one.
inline std::string makeChain(const std::string& base, int levels, const std::string& name,
                             const std::vector<std::string>& files) {
    std::string path = base;
    int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY);
    EXPECT_GE(fd, 0);
    for (int i = 0; i <= levels; ++i) {
        for (const std::string& file : files) {
            int f = ::openat(fd, file.c_str(), O_WRONLY | O_CREAT, 0644);
            EXPECT_GE(f, 0);
            ::close(f);
        }
        if (i == levels) break;
        EXPECT_EQ(::mkdirat(fd, name.c_str(), 0755), 0);
        int child = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        EXPECT_GE(child, 0);
        ::close(fd);
        fd = child;
        path += name + "/";
    }
    ::close(fd);
    return path;
}

/// Runs body as the user "nobody" in a child process when the test runs as
/// root (root reads every directory whatever its mode), directly otherwise.
/// Returns body's result, or -1 when the child failed.
inline long runUnprivileged(const std::function<long()>& body) {
    if (::geteuid() != 0) return body();
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return -1;
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        long result = -1;
        if (::setgid(65534) == 0 && ::setuid(65534) == 0) result = body();
        [[maybe_unused]] auto written = ::write(pipeFds[1], &result, sizeof result);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    long result = -1;
    if (::read(pipeFds[0], &result, sizeof result) != sizeof result) result = -1;
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return result;
}

} // namespace toka::test
