#pragma once
// Dragging marked result rows: out of the grid (onto the directory tree, or
// into another program as file URLs) and onto the tree.
//
// A press on a data row belongs to the marking of the grid, so a drag starts
// only where a click could not mean anything else: a left press without
// modifiers on a row that is already marked, followed by a move that takes
// the pointer out of the grid's cells (onto the tree, out of the window).
// While the pointer stays over the cells the press-move-release marks the
// range of rows, from a marked row as from any other.  A press on an
// unmarked row, any modifier, any other button, or a press in the header
// never starts a drag.

#include <QObject>
#include <functional>
#include <string>
#include <vector>

class QMimeData;
class QTreeWidget;
class QTreeWidgetItem;

namespace toka {

class TStringGridEx;

/// The mime data of a drag of result rows out of grid: file URLs and text
/// (mimeDataForPaths), plus a marker that tells the directory tree of the
/// same window that the drag comes from grid.  The caller owns the result.
QMimeData* resultRowsMimeData(const TStringGridEx* grid, const std::vector<std::string>& paths);

/// True when mime carries the marker of grid (this process, this grid).
bool isResultRowsDrag(const QMimeData* mime, const TStringGridEx* grid);

/// Watches the grid's viewport and starts the drag of the marked rows.
class ResultDragSource : public QObject {
public:
    /// markedPaths: the paths of the marked rows, in row order (the drag does
    /// not start when it is empty).  dragEnded: called after every drag,
    /// whatever became of it.
    ResultDragSource(TStringGridEx* grid, std::function<std::vector<std::string>()> markedPaths,
                     std::function<void()> dragEnded);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void startDrag();

    TStringGridEx* m_grid;
    /// The watched viewport, kept from the start: while the grid is being
    /// destroyed its viewport still sends events, and asking the
    /// half-destroyed grid for it would read freed memory.
    const QObject* m_viewport;
    std::function<std::vector<std::string>()> m_markedPaths;
    std::function<void()> m_dragEnded;
    bool m_armed = false;
    /// The drag's own loop takes the release; should one still arrive, the
    /// grid must not read it as the end of a range marking.
    bool m_swallowRelease = false;
};

/// Takes drags of result rows on the tree; every other drag is refused.
class ExplorerDropTarget : public QObject {
public:
    /// over: the node in the row under the pointer (null over no node) while
    /// a drag of grid passes; left: the drag left the tree or was refused;
    /// dropped: the rows were dropped on node (move: Shift was held).
    ExplorerDropTarget(QTreeWidget* tree, const TStringGridEx* grid, std::function<void(QTreeWidgetItem*)> over,
                       std::function<void()> left, std::function<void(QTreeWidgetItem*, bool move)> dropped);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// The node in the row at y, whatever the horizontal position.
    QTreeWidgetItem* nodeAtRow(int y) const;

    QTreeWidget* m_tree;
    const QObject* m_viewport; ///< kept from the start, as in ResultDragSource
    const TStringGridEx* m_grid;
    std::function<void(QTreeWidgetItem*)> m_over;
    std::function<void()> m_left;
    std::function<void(QTreeWidgetItem*, bool)> m_dropped;
};

} // namespace toka
