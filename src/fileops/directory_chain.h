#pragma once
// The directories from the top of a walk down to the one it works in, so
// that the file-operation engine walks a tree of any depth with a bounded
// number of open descriptors and without recursion.
//
// The top and the deepest kOpenLevels levels are held open; a level above
// those is closed and reopened when the walk comes back up to it: through
// ".." of the level being left, or, should that lead elsewhere (the level
// was moved meanwhile), by the names from the top down.  Either way the
// reopened directory must have the identity (device and inode) it had when
// the walk entered it, or it is not used.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/core/unique_fd.h"
#include "fileops/file_identity.h"
#include "platform/core/system_calls.h"

namespace toka {

class DirectoryChain {
public:
    /// 16 levels: a copy walks two chains, so with the file in hand and a
    /// listing it holds under 40 descriptors, and a descriptor limit as low as
    /// 64 suffices.  A chain deeper than this costs two more system calls per
    /// level, once, on the way back up.
    static constexpr std::size_t kOpenLevels = 16;

    /// openLevels: how many of the deepest levels stay open (kOpenLevels by
    /// default); a walk that holds other chains at the same time asks for fewer.
    explicit DirectoryChain(SystemCalls& system, std::size_t openLevels = kOpenLevels)
        : m_system(system), m_openLevels(openLevels) {}

    /// Starts the chain with its top directory, open as fd (any open mode that
    /// *at calls accept), with identity id.
    void start(UniqueFd fd, const FileId& id);
    /// Enters `name`, a directory in the deepest level, open as fd (read-only).
    void enter(std::string name, UniqueFd fd, const FileId& id);
    /// Leaves the deepest level and hands over its descriptor, still open, for
    /// the caller to finish the directory with.  The level above is open again
    /// afterwards; if it cannot be found (error: its errno) the walk must stop.
    UniqueFd leave(int& error);

    bool isEmpty() const { return m_levels.empty(); }
    std::size_t depth() const { return m_levels.size(); }
    /// The deepest level: its descriptor, identity and name in its parent
    /// (the top's name is empty).
    int fd() const { return m_levels.back().fd.get(); }
    const FileId& id() const { return m_levels.back().id; }
    const std::string& name() const { return m_levels.back().name; }

private:
    bool reopen(std::size_t level, int childFd);

    struct Level {
        std::string name;
        FileId id;
        UniqueFd fd;
    };
    SystemCalls& m_system;
    std::size_t m_openLevels;
    std::vector<Level> m_levels;
    std::size_t m_firstOpen = 1; ///< levels [m_firstOpen, depth) are open, and the top
};

} // namespace toka
