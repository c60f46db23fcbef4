#include "ui/explorer_tree.h"

#include <QTreeWidget>
#include <vector>

#include "platform/listing/dir_listing.h"
#include "ui/display_text.h"
#include "ui/tool_icons.h"

namespace toka {

namespace {

constexpr int kNameRole = Qt::UserRole;      // QByteArray: the name as listed
constexpr int kImageRole = Qt::UserRole + 1; // int: index into the image list

} // namespace

std::string GetNodePath(const QTreeWidgetItem* node) {
    if (!node) return {};
    std::vector<const QTreeWidgetItem*> chain;
    for (const QTreeWidgetItem* n = node; n; n = n->parent()) chain.push_back(n);
    // The volume's path: its mount point with exactly one "/" at the end.
    const QByteArray root = chain.back()->data(0, kNameRole).toByteArray();
    std::string path(root.constData(), static_cast<std::size_t>(root.size()));
    if (path.empty() || path.back() != '/') path += '/';
    for (auto it = chain.rbegin() + 1; it != chain.rend(); ++it) {
        const QByteArray name = (*it)->data(0, kNameRole).toByteArray();
        path.append(name.constData(), static_cast<std::size_t>(name.size()));
        path += '/';
    }
    return path;
}

int nodeImage(const QTreeWidgetItem* node) { return node ? node->data(0, kImageRole).toInt() : -1; }

ExplorerTree::ExplorerTree(QTreeWidget* tree) : m_tree(tree), m_images(explorerImages()) {}

void ExplorerTree::setImage(QTreeWidgetItem* node, int image) {
    node->setData(0, kImageRole, image);
    node->setIcon(0, m_images.value(image));
}

void ExplorerTree::addPlaceholder(QTreeWidgetItem* node) {
    new QTreeWidgetItem(node, QStringList{QString::fromLatin1(kPlaceholderText)});
}

void ExplorerTree::fillVolumes(const std::vector<Volume>& volumes) {
    m_tree->clear();
    for (const Volume& volume : volumes) {
        auto* node = new QTreeWidgetItem(m_tree, QStringList{displayText(volume.mountPoint)});
        node->setData(0, kNameRole, QByteArray::fromStdString(volume.mountPoint));
        setImage(node, treeImageOf(volume.kind));
        addPlaceholder(node);
    }
}

void ExplorerTree::AddSubDirs(QTreeWidgetItem* node) {
    if (!node) return;
    auto listing = DirListing::open(GetNodePath(node));
    if (!listing) return; // no access, gone, no medium: no children, no message
    DirEntry entry;
    while (listing->next(entry)) {
        if (entry.type != EntryType::Directory || isDotOrDotDot(entry.name)) continue;
        if (entry.name.front() == '.') continue; // hidden
        auto* child = new QTreeWidgetItem(node, QStringList{displayText(entry.name)});
        child->setData(0, kNameRole, QByteArray(entry.name.data(), static_cast<qsizetype>(entry.name.size())));
        setImage(child, ClosedFolderImage);
        addPlaceholder(child);
    }
}

void ExplorerTree::expanding(QTreeWidgetItem* node) {
    m_tree->setUpdatesEnabled(false);
    qDeleteAll(node->takeChildren());
    AddSubDirs(node);
    m_tree->setUpdatesEnabled(true);
    if (node->parent()) setImage(node, OpenFolderImage);
}

void ExplorerTree::collapsed(QTreeWidgetItem* node) {
    if (node->parent()) setImage(node, ClosedFolderImage);
}

} // namespace toka
