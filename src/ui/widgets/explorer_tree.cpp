#include "ui/widgets/explorer_tree.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QToolTip>
#include <QTreeWidget>
#include <algorithm>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "platform/core/paths.h"
#include "platform/listing/dir_listing.h"
#include "ui/logic/bounded_call.h"
#include "ui/logic/display_text.h"
#include "ui/widgets/tool_icons.h"

namespace toka {

namespace {

constexpr int kNameRole = Qt::UserRole;        // QByteArray: the name as listed
constexpr int kImageRole = Qt::UserRole + 1;   // int: index into the image list
constexpr int kPendingRole = Qt::UserRole + 2; // qulonglong: the listing the node waits for

// How long the window waits for a listing before it goes on without it: a
// local directory is listed well within it, a hung mount never.
constexpr std::chrono::milliseconds kListingBudget{50};

// Compares two names as people read them: runs of digits by their value
// ("2" before "10", leading zeros aside), the rest character by character.
// Locale-independent, unlike a collator in the C locale, which knows no
// numbers.
int naturalCompare(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endA = i, endB = j;
            while (endA < a.size() && a[endA].isDigit()) ++endA;
            while (endB < b.size() && b[endB].isDigit()) ++endB;
            qsizetype startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == u'0') ++startA;
            while (startB + 1 < endB && b[startB] == u'0') ++startB;
            if (endA - startA != endB - startB) return endA - startA < endB - startB ? -1 : 1;
            if (const int order =
                    QStringView(a).sliced(startA, endA - startA).compare(QStringView(b).sliced(startB, endB - startB));
                order != 0)
                return order;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j] ? -1 : 1;
        ++i;
        ++j;
    }
    return (a.size() - i > b.size() - j) - (a.size() - i < b.size() - j);
}

// The names of the visible subdirectories of path: real directories only (no
// links), no "." or "..", no hidden ones; std::nullopt when it cannot be
// listed.  In name order as file managers show it: as the names read, case
// and accents aside, numbers by their value ("file2" before "file10"); the
// listing's own order is the file system's (hashed on most of ours), which
// tells the user nothing.  Runs on a thread of its own.
using Names = std::optional<std::vector<std::string>>;
Names subdirectoryNames(const std::string& path) {
    auto listing = DirListing::open(path);
    if (!listing) return std::nullopt;
    std::vector<std::string> names;
    DirEntry entry;
    while (listing->next(entry)) {
        if (entry.type != EntryType::Directory || isDotOrDotDot(entry.name)) continue;
        if (entry.name.front() == '.') continue; // hidden
        names.emplace_back(entry.name);
    }
    std::vector<std::pair<QString, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names) keyed.emplace_back(displayText(name).toCaseFolded(), std::move(name));
    // Names that read alike (other bytes, same text) keep a fixed order.
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        const int order = naturalCompare(a.first, b.first);
        return order != 0 ? order < 0 : a.second < b.second;
    });
    names.clear();
    for (auto& [text, name] : keyed) names.push_back(std::move(name));
    return names;
}

// Shows a node's path as the tool tip of its name while the name is cut off
// at the edge of the tree's viewport (the tree scrolls sideways); elsewhere
// the request goes on to the tree, whose own tool tip shows.
class CutNameTips : public QObject {
public:
    explicit CutNameTips(QTreeWidget* tree) : QObject(tree), m_tree(tree), m_viewport(tree->viewport()) {
        tree->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_viewport || event->type() != QEvent::ToolTip) return false;
        const auto* help = static_cast<QHelpEvent*>(event);
        QTreeWidgetItem* node = m_tree->itemAt(help->pos());
        if (!node || !isNameCut(node)) return false;
        const QRect rect = m_tree->visualItemRect(node);
        QToolTip::showText(help->globalPos(), displayText(GetNodePath(node)), m_tree->viewport(), rect);
        return true;
    }

private:
    // The name's text ends where the node's content (indentation aside)
    // ends, and starts its width before.
    bool isNameCut(QTreeWidgetItem* node) const {
        const QModelIndex index = m_tree->indexFromItem(node);
        QStyleOptionViewItem option;
        option.initFrom(m_tree);
        option.font = m_tree->font();
        const int icon = m_tree->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, m_tree);
        option.decorationSize = m_tree->iconSize().isValid() ? m_tree->iconSize() : QSize(icon, icon);
        const int content = m_tree->itemDelegateForIndex(index)->sizeHint(option, index).width();
        const int textRight = m_tree->visualItemRect(node).left() + content;
        const int textLeft = textRight - option.fontMetrics.horizontalAdvance(node->text(0));
        return textLeft < 0 || textRight > m_tree->viewport()->width();
    }

    QTreeWidget* m_tree;
    const QObject* m_viewport; ///< kept from the start: the tree's may be gone while it is destroyed
};

// The child of node whose name (as listed) is name; null when none is.
QTreeWidgetItem* childNamed(const QTreeWidgetItem* node, const std::string& name) {
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->data(0, kNameRole).toByteArray().toStdString() == name) return node->child(i);
    return nullptr;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

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

ExplorerTree::ExplorerTree(QTreeWidget* tree) : m_tree(tree), m_images(explorerImages(tree->palette())) {
    // Names are shown whole: the one column grows with the widest name in
    // view, and the tree scrolls sideways when that is wider than the tree.
    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tree->setTextElideMode(Qt::ElideNone);
    tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tree->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    new CutNameTips(tree);
}

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
    const std::string path = GetNodePath(node);
    const qulonglong listing = ++m_lastListing;
    const std::optional<Names> names = callWithin<Names>(
        kListingBudget,
        [path, observer = m_listingObserver] {
            if (observer) observer(path);
            return subdirectoryNames(path);
        },
        m_alive, [this, path, listing](Names late) { addLateSubDirs(path, listing, late); });
    if (names) {
        addSubDirNodes(node, *names);
        return;
    }
    // A slow mount: the node keeps an expand button and waits; the names
    // come when the listing answers.
    node->setData(0, kPendingRole, listing);
    addPlaceholder(node);
}

void ExplorerTree::addSubDirNodes(QTreeWidgetItem* node, const Names& names) {
    if (!names) return; // no access, gone, no medium: no children, no message
    for (const std::string& name : *names) addDirectoryNode(node, name);
}

void ExplorerTree::addLateSubDirs(const std::string& path, qulonglong listing, const Names& names) {
    QTreeWidgetItem* node = findNode(path);
    if (!node || node->data(0, kPendingRole).toULongLong() != listing) return; // gone, or read again since
    node->setData(0, kPendingRole, QVariant());
    m_tree->setUpdatesEnabled(false);
    qDeleteAll(node->takeChildren());
    addSubDirNodes(node, names);
    m_tree->setUpdatesEnabled(true);
}

QTreeWidgetItem* ExplorerTree::findNode(const std::string& path) const {
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* volume = m_tree->topLevelItem(i);
        const std::string root = GetNodePath(volume);
        if (path.compare(0, root.size(), root) != 0) continue;
        QTreeWidgetItem* node = volume;
        for (std::size_t from = root.size(); node && from < path.size();) {
            const std::size_t slash = path.find('/', from);
            const std::string name = path.substr(from, slash - from);
            from = slash + 1;
            node = childNamed(node, name);
        }
        if (node) return node;
    }
    return nullptr;
}

QTreeWidgetItem* ExplorerTree::addDirectoryNode(QTreeWidgetItem* parent, const std::string& name) {
    auto* child = new QTreeWidgetItem(parent, QStringList{displayText(name)});
    child->setData(0, kNameRole, QByteArray::fromStdString(name));
    setImage(child, ClosedFolderImage);
    addPlaceholder(child);
    return child;
}

QTreeWidgetItem* ExplorerTree::revealPath(const std::string& path) {
    const std::string wanted = normalizeDirectoryPath(path);
    QTreeWidgetItem* node = nullptr;
    std::size_t longest = 0;
    for (int i = 0; i < m_tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* volume = m_tree->topLevelItem(i);
        const std::string root = GetNodePath(volume);
        if (root.size() > longest && wanted.compare(0, root.size(), root) == 0) {
            node = volume;
            longest = root.size();
        }
    }
    if (!node) return nullptr;
    for (std::size_t from = longest; from < wanted.size();) {
        const std::size_t slash = wanted.find('/', from);
        const std::string name = wanted.substr(from, slash - from);
        from = slash + 1;
        if (!node->isExpanded()) {
            expanding(node);
            // The children are read: no second reading through itemExpanded.
            const QSignalBlocker quiet(m_tree);
            node->setExpanded(true);
        }
        QTreeWidgetItem* child = childNamed(node, name);
        // Hidden, or in a directory that may be entered but not listed.
        if (!child) {
            const std::string here = wanted.substr(0, from);
            const std::optional<bool> directory = callWithin<bool>(
                kListingBudget, [here] { return isDirectory(here); }, m_alive, [](bool) {});
            if (directory.value_or(false)) child = addDirectoryNode(node, name);
        }
        if (!child) return nullptr;
        node = child;
    }
    return node;
}

void ExplorerTree::setListingObserver(std::function<void(const std::string&)> observer) {
    m_listingObserver = std::move(observer);
}

void ExplorerTree::expanding(QTreeWidgetItem* node) {
    node->setData(0, kPendingRole, QVariant());
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
