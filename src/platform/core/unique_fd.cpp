#include "platform/core/unique_fd.h"

#include <unistd.h>

namespace toka {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset(other.release());
        m_closer = other.m_closer;
    }
    return *this;
}

void UniqueFd::reset(int fd) {
    closeChecked();
    m_fd = fd;
}

int UniqueFd::closeChecked() {
    const int fd = std::exchange(m_fd, -1);
    if (fd < 0) return 0;
    return m_closer ? m_closer->close(fd) : ::close(fd);
}

} // namespace toka
