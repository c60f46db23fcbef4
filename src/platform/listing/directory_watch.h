#pragma once
// Changes to the names in a set of directories, as the kernel tells them
// (inotify): an entry made, removed or renamed in a watched directory, or
// the directory itself removed, renamed, unmounted or changed in its
// access.  The watch says only that something changed, not what: whoever
// keeps a listing current lists again, and the directories' own times tell
// which listings changed.  A queue that overflowed counts as a change.
//
// Watches cost kernel memory and are limited per user
// (fs.inotify.max_user_watches), a limit that every program of the user
// shares: budget() is what one watch may take.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/core/sys_error.h"
#include "platform/core/unique_fd.h"

namespace toka {

class DirectoryWatch {
public:
    /// At most this many directories are watched, whatever the limit.
    static constexpr std::size_t kMaxWatches = 100'000;

    DirectoryWatch();
    DirectoryWatch(const DirectoryWatch&) = delete;
    DirectoryWatch& operator=(const DirectoryWatch&) = delete;

    /// Whether the kernel gave a watch (else error() says why, and nothing
    /// is ever reported as changed).
    bool valid() const { return m_inotify.valid(); }
    const SysError& error() const { return m_error; }

    /// The user's limit of watches, or 8192 (the kernel's old default) when
    /// it cannot be read.
    static std::uint64_t userLimit();
    /// How many directories one watch takes at most: half the user's limit,
    /// so that other programs keep theirs, and at most kMaxWatches.
    static std::size_t budget();

    /// Watches exactly these directories (paths, links not followed),
    /// keeping the watches of those already watched.  A directory that is
    /// gone or cannot be watched is left out; past the user's limit no more
    /// are added.  Returns how many are watched; added, when given, is set
    /// to how many of them were not watched before.
    std::size_t watchOnly(const std::vector<std::string>& directories, std::size_t* added = nullptr);
    std::size_t watched() const { return m_byPath.size(); }

    enum class Outcome { Changed, Woken, TimedOut };
    /// Waits up to timeoutMs (-1: no limit) for a change or a wake(), and
    /// reads every event queued by then.  Changed wins over Woken when both
    /// came.
    Outcome wait(int timeoutMs);
    /// Ends a wait in progress (or the next one) with Woken; any thread.
    void wake();

private:
    bool readEvents();

    UniqueFd m_inotify;
    UniqueFd m_wakeup; // an eventfd
    SysError m_error;
    std::unordered_map<std::string, int> m_byPath;
    std::unordered_map<int, std::string> m_byWatch;
};

} // namespace toka
