#pragma once
// The one owner of an open file descriptor in the platform layer.

#include <utility>

namespace toka {

/// Closes descriptors for a UniqueFd that must not call close(2) itself: the
/// file-operation engine closes through its system-call seam, so that tests
/// can fail a close as NFS does when it reports a write error only there.
class FdCloser {
public:
    virtual int close(int fd) = 0;

protected:
    ~FdCloser() = default;
};

/// An owned file descriptor, closed on destruction (through closer when one
/// is given, else with close(2)).  -1 means none.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd, FdCloser* closer = nullptr) : m_fd(fd), m_closer(closer) {}
    UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)), m_closer(other.m_closer) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    /// Gives the descriptor up without closing it.
    int release() { return std::exchange(m_fd, -1); }
    /// Closes the held descriptor (its close result is lost) and takes fd.
    void reset(int fd = -1);
    /// Closes now and returns close's result: 0 when nothing was held.
    int closeChecked();

private:
    int m_fd = -1;
    FdCloser* m_closer = nullptr;
};

} // namespace toka
