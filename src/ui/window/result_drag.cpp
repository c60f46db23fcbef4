#include "ui/window/result_drag.h"

#include <QCoreApplication>
#include <QDrag>
#include <QDropEvent>
#include <QHeaderView>
#include <QMimeData>
#include <QMouseEvent>
#include <QTreeWidget>
#include <algorithm>

#include "ui/dialogs/desktop_actions.h"
#include "ui/widgets/strgrdex.h"

namespace toka {

namespace {

constexpr const char* kRowsFormat = "application/x-tokasearch-result-rows";

// Names one grid of one process: a drag from a second running copy of the
// program carries the same format, but must not be taken for our own rows.
QByteArray rowsMarker(const TStringGridEx* grid) {
    return QByteArray::number(QCoreApplication::applicationPid()) + ':'
           + QByteArray::number(reinterpret_cast<quintptr>(grid), 16);
}

} // namespace

QMimeData* resultRowsMimeData(const TStringGridEx* grid, const std::vector<std::string>& paths) {
    QMimeData* mime = mimeDataForPaths(paths);
    mime->setData(kRowsFormat, rowsMarker(grid));
    return mime;
}

bool isResultRowsDrag(const QMimeData* mime, const TStringGridEx* grid) {
    return mime && mime->hasFormat(kRowsFormat) && mime->data(kRowsFormat) == rowsMarker(grid);
}

ResultDragSource::ResultDragSource(TStringGridEx* grid, std::function<std::vector<std::string>()> markedPaths,
                                   std::function<void()> dragEnded)
    : QObject(grid), m_grid(grid), m_viewport(grid->viewport()), m_markedPaths(std::move(markedPaths)),
      m_dragEnded(std::move(dragEnded)) {
    grid->viewport()->installEventFilter(this);
}

bool ResultDragSource::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_viewport) return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        const int row = m_grid->rowAt(pos.y());
        m_swallowRelease = false;
        m_armed = mouse->button() == Qt::LeftButton && mouse->buttons() == Qt::LeftButton
                  && (mouse->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && row >= 0
                  && m_grid->columnAt(pos.x()) >= 0 && m_grid->IsRowMarked(row + 1);
        return false;
    }
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!m_armed || !(mouse->buttons() & Qt::LeftButton)) return false;
        // Over the cells the move is the marking of a range, whatever its
        // length; the rows go only once the pointer leaves them.
        if (static_cast<const QWidget*>(watched)->rect().contains(mouse->position().toPoint())) return false;
        m_armed = false;
        if (m_markedPaths().empty()) return false; // only rows without an entry: keep marking
        startDrag();
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_armed = false;
        if (m_swallowRelease) {
            m_swallowRelease = false;
            return true;
        }
        return false;
    default:
        return false;
    }
}

void ResultDragSource::startDrag() {
    auto* drag = new QDrag(m_grid);
    drag->setMimeData(resultRowsMimeData(m_grid, m_markedPaths()));
    // Copy only: another program receiving the rows must not move files out
    // from under the table on its own default.  The window's tree reads Shift
    // itself and moves through its own engine.
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    m_swallowRelease = true;
    if (m_dragEnded) m_dragEnded();
}

ExplorerDropTarget::ExplorerDropTarget(QTreeWidget* tree, const TStringGridEx* grid,
                                       std::function<void(QTreeWidgetItem*)> over, std::function<void()> left,
                                       std::function<void(QTreeWidgetItem*, bool)> dropped)
    : QObject(tree), m_tree(tree), m_viewport(tree->viewport()), m_grid(grid), m_over(std::move(over)),
      m_left(std::move(left)), m_dropped(std::move(dropped)) {
    // Only the viewport takes drops, and this filter eats every drag event
    // there, so the item view's own drop handling (which would insert nodes
    // from a foreign item-model drag) never runs.
    tree->viewport()->setAcceptDrops(true);
    tree->viewport()->installEventFilter(this);
}

QTreeWidgetItem* ExplorerDropTarget::nodeAtRow(int y) const {
    const int x = std::max(0, m_tree->header()->sectionViewportPosition(0));
    return m_tree->itemAt(QPoint(x, y));
}

bool ExplorerDropTarget::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_viewport) return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!isResultRowsDrag(drag->mimeData(), m_grid)) {
            drag->ignore();
            return true;
        }
        QTreeWidgetItem* node = nodeAtRow(drag->position().toPoint().y());
        m_over(node);
        drag->setDropAction(Qt::CopyAction);
        // Entering is always accepted, so that moves keep arriving while the
        // pointer crosses the empty part of the tree; a move over no node
        // refuses the drop there.
        if (node || event->type() == QEvent::DragEnter) drag->accept();
        else drag->ignore();
        return true;
    }
    case QEvent::DragLeave:
        m_left();
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        QTreeWidgetItem* node =
            isResultRowsDrag(drop->mimeData(), m_grid) ? nodeAtRow(drop->position().toPoint().y()) : nullptr;
        if (!node) {
            drop->ignore();
            m_left();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        m_dropped(node, (drop->modifiers() & Qt::ShiftModifier) != 0);
        return true;
    }
    default:
        return false;
    }
}

} // namespace toka
