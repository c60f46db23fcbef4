#include "platform/listing/directory_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string_view>
#include <unordered_set>

namespace toka {

namespace {

// What changes a directory's names or whether it can be listed.  Attribute
// changes count only for the directory itself (a file's mode is no name).
constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF
                                  | IN_ATTRIB | IN_ONLYDIR | IN_DONT_FOLLOW | IN_EXCL_UNLINK;

} // namespace

DirectoryWatch::DirectoryWatch()
    : m_inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), m_wakeup(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!m_inotify.valid()) m_error = SysError("inotify_init1", "", errno);
    else if (!m_wakeup.valid()) {
        m_error = SysError("eventfd", "", errno);
        m_inotify.reset();
    }
}

std::uint64_t DirectoryWatch::userLimit() {
    std::ifstream in("/proc/sys/fs/inotify/max_user_watches");
    std::uint64_t limit = 0;
    if (in >> limit && limit > 0) return limit;
    return 8192;
}

std::size_t DirectoryWatch::budget() {
    return static_cast<std::size_t>(std::min<std::uint64_t>(userLimit() / 2, kMaxWatches));
}

std::size_t DirectoryWatch::watchOnly(const std::vector<std::string>& directories, std::size_t* added) {
    if (added) *added = 0;
    if (!valid()) return 0;
    const std::unordered_set<std::string_view> wanted(directories.begin(), directories.end());
    for (auto it = m_byPath.begin(); it != m_byPath.end();) {
        if (wanted.count(std::string_view(it->first))) {
            ++it;
            continue;
        }
        ::inotify_rm_watch(m_inotify.get(), it->second);
        m_byWatch.erase(it->second);
        it = m_byPath.erase(it);
    }
    for (const std::string& path : directories) {
        if (m_byPath.count(path)) continue;
        const int wd = ::inotify_add_watch(m_inotify.get(), path.c_str(), kEvents);
        if (wd < 0) {
            if (errno == ENOSPC) break; // the user's limit: no more for anyone
            continue;
        }
        // Two spellings of one directory share a watch: keep the first.
        if (m_byWatch.count(wd)) continue;
        m_byPath.emplace(path, wd);
        m_byWatch.emplace(wd, path);
        if (added) ++*added;
    }
    return m_byPath.size();
}

bool DirectoryWatch::readEvents() {
    bool changed = false;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(m_inotify.get(), buffer, sizeof buffer);
        if (n <= 0) break; // EAGAIN: all read
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                changed = true;
                continue;
            }
            if (event->mask & IN_IGNORED) {
                // The directory is gone (or its file system unmounted): its
                // watch went with it.  A watch removed here, by watchOnly,
                // tells of no change.
                if (auto it = m_byWatch.find(event->wd); it != m_byWatch.end()) {
                    m_byPath.erase(it->second);
                    m_byWatch.erase(it);
                    changed = true;
                }
                continue;
            }
            if ((event->mask & IN_ATTRIB) && event->len > 0 && !(event->mask & IN_ISDIR)) continue;
            changed = true;
        }
    }
    return changed;
}

DirectoryWatch::Outcome DirectoryWatch::wait(int timeoutMs) {
    pollfd fds[2] = {{m_inotify.get(), POLLIN, 0}, {m_wakeup.get(), POLLIN, 0}};
    // poll skips a descriptor of -1: without inotify only wake() ends it.
    if (::poll(fds, 2, timeoutMs) <= 0) return Outcome::TimedOut;
    bool woken = false;
    if (fds[1].revents & POLLIN) {
        std::uint64_t count = 0;
        woken = ::read(m_wakeup.get(), &count, sizeof count) == sizeof count;
    }
    const bool changed = valid() && readEvents();
    if (changed) return Outcome::Changed;
    return woken ? Outcome::Woken : Outcome::TimedOut;
}

void DirectoryWatch::wake() {
    if (!m_wakeup.valid()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wakeup.get(), &one, sizeof one);
}

} // namespace toka
