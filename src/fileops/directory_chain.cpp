#include "fileops/directory_chain.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>

namespace toka {

void DirectoryChain::start(UniqueFd fd, const FileId& id) {
    m_levels.clear();
    m_levels.push_back({{}, id, std::move(fd)});
    m_firstOpen = 1;
}

void DirectoryChain::enter(std::string name, UniqueFd fd, const FileId& id) {
    m_levels.push_back({std::move(name), id, std::move(fd)});
    if (m_levels.size() - m_firstOpen > m_openLevels) m_levels[m_firstOpen++].fd.reset();
}

UniqueFd DirectoryChain::leave(int& error) {
    error = 0;
    UniqueFd child = std::move(m_levels.back().fd);
    m_levels.pop_back();
    if (m_levels.size() >= 2) {
        const std::size_t parent = m_levels.size() - 1;
        if (!m_levels[parent].fd.valid() && !reopen(parent, child.get())) error = errno ? errno : ENOENT;
        m_firstOpen = std::min(m_firstOpen, parent);
    } else {
        m_firstOpen = 1;
    }
    return child;
}

bool DirectoryChain::reopen(std::size_t level, int childFd) {
    const auto isLevel = [&](const UniqueFd& fd, std::size_t index) {
        struct stat status {};
        return fd.valid() && m_system.fstat(fd.get(), &status) == 0 && idOf(status) == m_levels[index].id;
    };
    UniqueFd fd = m_system.own(m_system.openAt(childFd, "..", O_RDONLY | O_DIRECTORY));
    if (isLevel(fd, level)) {
        m_levels[level].fd = std::move(fd);
        return true;
    }
    // The level left was moved elsewhere: down from the top by the names.
    UniqueFd current = m_system.own(-1);
    for (std::size_t i = 1; i <= level; ++i) {
        const int at = i == 1 ? m_levels[0].fd.get() : current.get();
        UniqueFd next =
            m_system.own(m_system.openAt(at, m_levels[i].name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW));
        if (!isLevel(next, i)) {
            if (next.valid()) errno = ENOENT; // something else now has the name
            return false;
        }
        current = std::move(next);
    }
    m_levels[level].fd = std::move(current);
    return true;
}

} // namespace toka
