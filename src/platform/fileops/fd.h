#pragma once
// An open descriptor of the file-operation engine, closed through the
// SystemCalls that opened it.

#include <utility>

#include "platform/fileops/system_calls.h"

namespace toka {

class Fd {
public:
    Fd(SystemCalls& system, int fd) : m_system(&system), m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : m_system(other.m_system), m_fd(std::exchange(other.m_fd, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            reset();
            m_system = other.m_system;
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    ~Fd() { reset(); }

    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    void reset() {
        if (m_fd >= 0) m_system->close(m_fd);
        m_fd = -1;
    }
    /// Closes and reports the result (NFS reports write errors only here).
    int closeChecked() {
        int fd = std::exchange(m_fd, -1);
        return fd >= 0 ? m_system->close(fd) : 0;
    }

private:
    SystemCalls* m_system;
    int m_fd;
};

} // namespace toka
