#pragma once
// The directory tree: mounted volumes at the top, directories below them,
// read from the file system at every expansion.  Each node keeps its name as
// the bytes the listing returned (file names need not be valid UTF-8); the
// text shown is their decoded form.

#include <QIcon>
#include <QList>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/listing/volumes.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace toka {

/// Indices into the tree's image list (see explorerImages()).
enum ExplorerImage {
    ClosedFolderImage = 0,
    HardDiskImage = 1,
    CdRomImage = 2,
    NetworkImage = 3,
    RemovableImage = 4,
    OpenFolderImage = 5,
};

/// The text of a placeholder child, which gives a node its expand button
/// until the node's subdirectories are read.
inline constexpr const char* kPlaceholderText = "y";

/// The path of a node: the volume's path (its mount point with one "/" at
/// the end, "/" stays "/") followed by the names of the directory nodes down
/// to node, each with one "/" after it.  "" for no node.
std::string GetNodePath(const QTreeWidgetItem* node);

/// The image index a node shows now.
int nodeImage(const QTreeWidgetItem* node);

/// Builds the tree's nodes from files it reads; holds the image list.
class ExplorerTree {
public:
    /// Sets the tree up to show names whole (scrolling sideways).  A node
    /// whose name is cut off at the tree's edge shows its path as its tool
    /// tip; anywhere else the tree's own tool tip shows.
    explicit ExplorerTree(QTreeWidget* tree);

    /// Replaces every node by one node per volume, in the given order, each
    /// with the image of its kind and a placeholder child.  Opens nothing.
    void fillVolumes(const std::vector<Volume>& volumes);

    /// Appends one node per visible subdirectory of node, in name order
    /// (natural, case-insensitive, as file managers show it):
    /// real directories only (no links), no "." or "..", no hidden ones.
    /// A directory that cannot be listed adds nothing.  The listing runs off
    /// the window's thread; one that does not answer at once (a slow mount)
    /// leaves the node with its expand button, and its nodes come when it
    /// answers.
    void AddSubDirs(QTreeWidgetItem* node);

    /// Before a node opens: drops its children and reads them afresh; a
    /// directory node gets the open folder.
    void expanding(QTreeWidgetItem* node);
    /// After a node closed: a directory node gets the closed folder back.
    void collapsed(QTreeWidgetItem* node);

    /// The node of the directory at path (absolute, without links; a "/" at
    /// the end is allowed), opening every node above it as expanding does.
    /// It hangs below the volume with the longest mount point that holds it;
    /// a directory on the way that its parent's listing does not show (a
    /// hidden one, or one in a folder that cannot be read) gets a node of its
    /// own.  Null when no volume holds path or a directory on the way is
    /// gone.
    QTreeWidgetItem* revealPath(const std::string& path);

    /// Called on the listing's own thread before each directory is listed
    /// (a test holds it there, as a hung mount would).
    void setListingObserver(std::function<void(const std::string& path)> observer);

private:
    using Names = std::optional<std::vector<std::string>>;
    void addSubDirNodes(QTreeWidgetItem* node, const Names& names);
    /// A listing that came late: its node gets its children, unless the
    /// node is gone or was read again since.
    void addLateSubDirs(const std::string& path, unsigned long long listing, const Names& names);
    /// The node whose path is path, among the nodes there are now.
    QTreeWidgetItem* findNode(const std::string& path) const;
    void setImage(QTreeWidgetItem* node, int image);
    QTreeWidgetItem* addDirectoryNode(QTreeWidgetItem* parent, const std::string& name);
    void addPlaceholder(QTreeWidgetItem* node);

    QTreeWidget* m_tree;
    QList<QIcon> m_images;
    unsigned long long m_lastListing = 0;
    std::function<void(const std::string&)> m_listingObserver;
    /// Late listings are dropped once the tree is gone.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace toka
