// Hard links kept as links: a source with several links (a non-folder with
// st_nlink > 1) is copied once per run, and each of its other names met in
// the copied or moved set becomes a link to that first copy.  Items are built
// under hidden temporary names and renamed into place, so the first copy is
// found through the item it lies in, by that item's name of the moment.

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>

#include <cerrno>

#include "fileops/worker.h"

namespace toka::fileops {

std::size_t Worker::beginItem(const std::string& destPath) {
    std::string relative = destPath.substr(std::min(m_destinationPath.size(), destPath.size()));
    const auto slash = relative.rfind('/');
    PlacedItem item;
    item.directory = slash == std::string::npos ? std::string() : relative.substr(0, slash + 1);
    item.path = destPath;
    m_placedItems.push_back(std::move(item));
    return m_placedItems.size() - 1;
}

int Worker::openBelow(int dirFd, const std::string& path) {
    UniqueFd current = m_system.own(-1);
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        const std::string component = path.substr(at, end - at);
        UniqueFd next = m_system.own(m_system.openAt(current.valid() ? current.get() : dirFd, component.c_str(),
                                                     O_PATH | O_DIRECTORY | O_NOFOLLOW));
        if (!next.valid()) return -1;
        current = std::move(next);
        at = end + 1;
    }
    if (!current.valid()) return m_system.openAt(dirFd, ".", O_PATH | O_DIRECTORY);
    return current.release();
}

std::optional<Outcome> Worker::linkToFirstCopy(const CopySource& source, const CopyTarget& target) {
    const auto found = m_firstCopies.find(idOf(source.status));
    if (found == m_firstCopies.end()) return std::nullopt;
    const FirstCopy& first = found->second;
    // Its contents as they were copied: not a file written to since, nor a
    // new file that got the number of one removed meanwhile.
    const FileStamp now = stampOf(source.status);
    if (now.size != first.source.size || now.modified.tv_sec != first.source.modified.tv_sec
        || now.modified.tv_nsec != first.source.modified.tv_nsec)
        return std::nullopt;
    const PlacedItem& item = m_placedItems[first.item];
    const std::string path = item.directory + item.name + (first.inside.empty() ? "" : "/" + first.inside);

    // Short paths in one call; a path too long for the kernel through its
    // folders, one by one.
    UniqueFd folder = m_system.own(-1);
    std::string name = path;
    if (path.size() >= PATH_MAX) {
        const auto slash = path.rfind('/');
        folder = m_system.own(openBelow(m_destinationFd, path.substr(0, slash)));
        if (!folder.valid()) return std::nullopt;
        name = path.substr(slash + 1);
    }
    const int from = folder.valid() ? folder.get() : m_destinationFd;
    const auto create = [&](const std::string& candidate) {
        return m_system.linkAt(from, name.c_str(), target.dirFd, candidate.c_str(), 0);
    };
    // The first copy is gone (discarded, replaced) or takes no more links
    // (EMLINK): this name gets a copy of its own.
    if (createNamed(target, create) < 0) return std::nullopt;
    // Whoever may write into a finished folder of the copy could have put
    // another file under a name on the way: the new link must be the copy's.
    struct stat linked {};
    if (m_system.fstatAt(target.dirFd, target.name.c_str(), &linked, AT_SYMLINK_NOFOLLOW) < 0
        || idOf(linked) != first.copy) {
        m_system.unlinkAt(target.dirFd, target.name.c_str(), 0);
        return std::nullopt;
    }
    if (target.copied) target.copied->emplace(idOf(source.status), stampOf(source.status));
    return Outcome::Done;
}

void Worker::recordFirstCopy(const CopySource& source, const CopyTarget& target) {
    struct stat made {};
    if (m_system.fstatAt(target.dirFd, target.name.c_str(), &made, AT_SYMLINK_NOFOLLOW) < 0) return;
    PlacedItem& item = m_placedItems[target.item];
    item.holdsFirstCopy = true;
    std::string inside = target.path.size() > item.path.size() ? target.path.substr(item.path.size() + 1) : "";
    m_firstCopies[idOf(source.status)] = {target.item, std::move(inside), idOf(made), stampOf(source.status)};
}

} // namespace toka::fileops
