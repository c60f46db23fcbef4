#pragma once
// Which devices carry pseudo file systems, for a walk that has just crossed
// into another mount.  Built from mountinfo with the rules of the volume list
// (parseMountInfo, isPseudoMount), so the tree and the walk leave out the
// same file systems.

#include <optional>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace toka {

class MountTable {
public:
    /// The table of a mountinfo text.  A device mounted more than once is
    /// pseudo only when every mount of it is: shown anywhere as a real
    /// volume, it is walked.
    explicit MountTable(std::string_view mountInfoText);

    /// The table of this process's mounts (readMountInfo); empty when
    /// mountinfo cannot be read.
    static MountTable current();

    /// Whether the file system on dev is pseudo; nullopt for a device the
    /// table does not list (mounted after the table was read).
    std::optional<bool> isPseudoDevice(dev_t dev) const;

    /// isPseudoDevice(dev); for a device the table does not list, whether
    /// statfs of fd (open on that device) reports the magic number of a
    /// pseudo file system -- false when fstatfs fails.
    bool isPseudo(int fd, dev_t dev) const;

private:
    std::vector<std::pair<dev_t, bool>> m_devices; ///< device -> pseudo
};

} // namespace toka
