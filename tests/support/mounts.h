#pragma once
// Mounts for a test (root only), in a mount namespace of the test process's
// own, so that no mount reaches the rest of the machine or outlives the
// process.

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace toka::test {

/// Mounts below a folder, detached (deepest first, wherever they were
/// moved to below it) when the object goes.
class TestMounts {
public:
    /// below: the folder; a mount at the folder itself is not detached.
    explicit TestMounts(std::string below) : m_below(std::move(below)) {
        if (!m_below.ends_with('/')) m_below += '/';
    }
    TestMounts(const TestMounts&) = delete;
    TestMounts& operator=(const TestMounts&) = delete;
    ~TestMounts() {
        std::vector<std::string> points;
        std::ifstream table("/proc/self/mountinfo");
        for (std::string line; std::getline(table, line);) {
            std::istringstream fields(line);
            std::string id, parent, device, root, point;
            fields >> id >> parent >> device >> root >> point;
            if (point.starts_with(m_below)) points.push_back(point);
        }
        std::sort(points.begin(), points.end(),
                  [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
        for (const std::string& point : points) ::umount2(point.c_str(), MNT_DETACH);
    }

    /// "" when this process may mount, else the reason why not.  The first
    /// call moves the whole test process into a mount namespace of its
    /// own, private from "/" down.
    static std::string unavailable() {
        static const std::string reason = [] {
            if (::geteuid() != 0) return std::string("mounting needs root");
            if (::unshare(CLONE_NEWNS) != 0) return "unshare(CLONE_NEWNS): " + std::string(std::strerror(errno));
            if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                return "making / private: " + std::string(std::strerror(errno));
            return std::string();
        }();
        return reason;
    }
    void bind(const std::string& from, const std::string& to) {
        ASSERT_EQ(::mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr), 0)
            << to << ": " << std::strerror(errno);
    }
    /// A file system of type (tmpfs, proc) at at, with the mount options given.
    void mount(const std::string& at, const char* type, const std::string& options = "") {
        ASSERT_EQ(::mount(type, at.c_str(), type, 0, options.c_str()), 0) << at << ": " << std::strerror(errno);
    }
    void tmpfs(const std::string& at, const std::string& size = "1m") { mount(at, "tmpfs", "size=" + size); }

private:
    std::string m_below;
};

} // namespace toka::test
