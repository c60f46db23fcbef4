#include "ui/widgets/strgrdex.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>

namespace toka {

namespace {

// Hands every data cell to the grid's own painting, so that the marks, the
// cell-drawing signal and the lines are drawn in one place.
class MarkingDelegate : public QStyledItemDelegate {
public:
    explicit MarkingDelegate(TStringGridEx* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        TStringGridEx::DrawState state;
        if (option.state & QStyle::State_Selected) state |= TStringGridEx::Selected;
        if (option.state & QStyle::State_HasFocus) state |= TStringGridEx::Focused;
        m_grid->paintCell(painter, index.column(), index.row() + 1, option.rect, state);
    }

private:
    TStringGridEx* m_grid;
};

bool isNavigationKey(int key) {
    switch (key) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down:
        return true;
    default:
        return false;
    }
}

// Where a cell's text goes: 2 pixels in from the left and the top.
QRect cellTextRect(const QRect& cell) { return cell.adjusted(2, 2, -1, 0); }

// Keypad arrows carry KeypadModifier; they are the same keys to the user.
Qt::KeyboardModifiers exactModifiers(Qt::KeyboardModifiers modifiers) { return modifiers & ~Qt::KeypadModifier; }

} // namespace

// The grid's own table of strings: rows x columns of texts and one header
// text per column, all empty at first.
class GridCells : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_cells.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(m_headers.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || (role != Qt::DisplayRole && role != Qt::EditRole))
            return {};
        return cell(index.row(), index.column());
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid) || (role != Qt::DisplayRole && role != Qt::EditRole))
            return false;
        QString& text = cell(index.row(), index.column());
        if (text != value.toString()) {
            text = value.toString();
            emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
        }
        return true;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()
            || (role != Qt::DisplayRole && role != Qt::EditRole))
            return {};
        return m_headers[static_cast<std::size_t>(section)];
    }

    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) override {
        if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()
            || (role != Qt::DisplayRole && role != Qt::EditRole))
            return false;
        m_headers[static_cast<std::size_t>(section)] = value.toString();
        emit headerDataChanged(orientation, section, section);
        return true;
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    void setRowCount(int rows) {
        const int before = rowCount();
        rows = std::max(rows, 0);
        if (rows < before) {
            beginRemoveRows({}, rows, before - 1);
            m_cells.resize(static_cast<std::size_t>(rows));
            endRemoveRows();
        } else if (rows > before) {
            beginInsertRows({}, before, rows - 1);
            m_cells.resize(static_cast<std::size_t>(rows), std::vector<QString>(m_headers.size()));
            endInsertRows();
        }
    }

    void setColumnCount(int columns) {
        const int before = columnCount();
        columns = std::max(columns, 0);
        const auto resize = [this, columns] {
            m_headers.resize(static_cast<std::size_t>(columns));
            for (std::vector<QString>& row : m_cells) row.resize(static_cast<std::size_t>(columns));
        };
        if (columns < before) {
            beginRemoveColumns({}, columns, before - 1);
            resize();
            endRemoveColumns();
        } else if (columns > before) {
            beginInsertColumns({}, before, columns - 1);
            resize();
            endInsertColumns();
        }
    }

private:
    QString& cell(int row, int column) {
        return m_cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    }
    const QString& cell(int row, int column) const {
        return m_cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
    }

    std::vector<std::vector<QString>> m_cells; ///< one vector of columnCount() texts per row
    std::vector<QString> m_headers;
};

void TStringGridEx::drawCellText(QPainter* painter, const QRect& rect, const QString& text) {
    // A text wider than its cell is cut at the cell's edge; its tool tip
    // shows the whole of it.
    painter->drawText(cellTextRect(rect), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

bool TStringGridEx::isCellTextCut(const QFontMetrics& metrics, const QRect& rect, const QString& text) {
    // As drawn on one line: a line break shows as a blank.
    QString line = text;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return metrics.horizontalAdvance(line) > cellTextRect(rect).width();
}

TStringGridEx::TStringGridEx(QWidget* parent) : QTableView(parent), m_cells(new GridCells(this)) {
    setModel(m_cells);
    setItemDelegate(new MarkingDelegate(this));
    setShowGrid(false); // the lines are drawn per cell, following Options()
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // The marks are the selection the user sees; Qt's own selection would
    // paint a second, different highlight.  The current cell still moves
    // with clicks and keys and is drawn with a focus frame.
    setSelectionMode(QAbstractItemView::NoSelection);
    setTabKeyNavigation(false);
    setWordWrap(false);
    // Texts are cut at the cell's edge, not shortened with an ellipsis.
    setTextElideMode(Qt::ElideNone);
    horizontalHeader()->setTextElideMode(Qt::ElideNone);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->viewport()->installEventFilter(this);

    SetOptions(VertLine | HorzLine | ColSizing | ThumbTracking);
    m_multiSelect = false;
    setColumnCount(5);
    setRowCount(4);
    m_marks.assign(static_cast<std::size_t>(RowCount()), false);
    m_selectedColor = palette().color(QPalette::Active, QPalette::Highlight);
    m_selectedTextColor = palette().color(QPalette::Active, QPalette::HighlightedText);
    m_anchorRow = FixedRows();
    m_pressRow = FixedRows();
    m_marks[static_cast<std::size_t>(m_anchorRow)] = true;
    m_ctl3d = false;
}

TStringGridEx::~TStringGridEx() {
    // A model given from outside may outlive the grid, and the own cells go
    // after this body: neither may reach the members once they are gone.
    for (const QMetaObject::Connection& connection : std::as_const(m_modelConnections)) disconnect(connection);
}

void TStringGridEx::setModel(QAbstractItemModel* model) {
    if (!model) model = m_cells;
    for (const QMetaObject::Connection& connection : std::as_const(m_modelConnections)) disconnect(connection);
    m_modelConnections.clear();
    m_movingMarks.clear();
    // Every change of the row count brings the mark list along at once (a
    // loss of rows drops every mark), so no later action can see marks of a
    // row count that is no longer there.
    const auto sync = [this] { synchronise(); };
    m_modelConnections << connect(model, &QAbstractItemModel::rowsInserted, this, sync)
                       << connect(model, &QAbstractItemModel::rowsRemoved, this, sync)
                       << connect(model, &QAbstractItemModel::modelReset, this, sync)
                       << connect(model, &QAbstractItemModel::layoutAboutToBeChanged, this,
                                  [this] { noteMarkedRows(); })
                       << connect(model, &QAbstractItemModel::layoutChanged, this, [this] { remarkMovedRows(); });
    QTableView::setModel(model);
    synchronise();
    viewport()->update();
}

int TStringGridEx::rowCount() const { return model()->rowCount(); }

int TStringGridEx::columnCount() const { return model()->columnCount(); }

void TStringGridEx::setRowCount(int rows) { m_cells->setRowCount(rows); }

void TStringGridEx::setColumnCount(int columns) { m_cells->setColumnCount(columns); }

void TStringGridEx::setCurrentCell(int row, int column) { setCurrentIndex(model()->index(row, column)); }

void TStringGridEx::SetRowCount(int n) { setRowCount(std::max(n, 1) - 1); }

QString TStringGridEx::Cells(int col, int row) const {
    if (col < 0 || col >= columnCount() || row < 0 || row >= RowCount()) return {};
    if (row == 0) return model()->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
    return model()->index(row - 1, col).data(Qt::DisplayRole).toString();
}

void TStringGridEx::SetCells(int col, int row, const QString& text) {
    if (col < 0 || col >= columnCount() || row < 0 || row >= RowCount()) return;
    if (row == 0) model()->setHeaderData(col, Qt::Horizontal, text, Qt::DisplayRole);
    else model()->setData(model()->index(row - 1, col), text, Qt::DisplayRole);
}

int TStringGridEx::Row() const {
    const int row = currentIndex().isValid() ? currentIndex().row() + 1 : FixedRows();
    return std::clamp(row, 0, RowCount() - 1);
}

void TStringGridEx::SetOptions(GridOptions options) {
    m_options = options;
    horizontalHeader()->setSectionResizeMode(options & ColSizing ? QHeaderView::Interactive : QHeaderView::Fixed);
    horizontalScrollBar()->setTracking(options & ThumbTracking);
    verticalScrollBar()->setTracking(options & ThumbTracking);
    viewport()->update();
}

void TStringGridEx::synchronise() {
    const auto rows = static_cast<std::size_t>(RowCount());
    if (m_marks.size() > rows) m_marks.assign(rows, false);
    else if (rows > m_marks.size()) m_marks.resize(rows, false);
    emit MarksChanged();
}

void TStringGridEx::noteMarkedRows() {
    m_movingMarks.clear();
    for (int row = FixedRows(); row < static_cast<int>(m_marks.size()); ++row)
        if (m_marks[static_cast<std::size_t>(row)]) m_movingMarks << QPersistentModelIndex(model()->index(row - 1, 0));
}

void TStringGridEx::remarkMovedRows() {
    // The header row keeps its mark; a data row is marked where its row went.
    const bool header = !m_marks.empty() && m_marks[0];
    m_marks.assign(static_cast<std::size_t>(RowCount()), false);
    if (!m_marks.empty()) m_marks[0] = header;
    for (const QPersistentModelIndex& index : std::as_const(m_movingMarks))
        if (index.isValid() && index.row() + 1 < RowCount()) m_marks[static_cast<std::size_t>(index.row() + 1)] = true;
    m_movingMarks.clear();
    viewport()->update();
    emit MarksChanged();
}

bool TStringGridEx::IsRowMarked(int row) const {
    if (row < 0 || row >= RowCount()) return false;
    return m_marks[static_cast<std::size_t>(row)];
}

void TStringGridEx::SetRowMarked(int row, bool marked) {
    if (row < 0 || row >= RowCount()) return;
    if (m_marks[static_cast<std::size_t>(row)] == marked) return;
    m_marks[static_cast<std::size_t>(row)] = marked;
    viewport()->update();
    emit MarksChanged();
}

void TStringGridEx::ClearMarks() {
    std::fill(m_marks.begin(), m_marks.end(), false);
    emit MarksChanged();
}

void TStringGridEx::SetCTL3D(bool on) {
    if (on == m_ctl3d) return;
    m_ctl3d = on;
    viewport()->update();
}

void TStringGridEx::SetSelectedColor(const QColor& color) {
    if (color == m_selectedColor) return;
    m_selectedColor = color;
    viewport()->update();
}

void TStringGridEx::SetSelectedTextColor(const QColor& color) {
    if (color == m_selectedTextColor) return;
    m_selectedTextColor = color;
    viewport()->update();
}

int TStringGridEx::clampRow(int row) const { return std::clamp(row, 0, RowCount() - 1); }

int TStringGridEx::rowAtViewport(const QPoint& pos) const {
    const int row = rowAt(pos.y());
    if (row < 0 || columnAt(pos.x()) < 0) return RowCount() - 1;
    return row + 1;
}

int TStringGridEx::rowAtHeader(const QPoint& pos) const {
    return horizontalHeader()->logicalIndexAt(pos.x()) >= 0 ? 0 : RowCount() - 1;
}

bool TStringGridEx::isOnHeaderGrip(const QPoint& pos) const {
    // The same test QHeaderView makes before it starts a resize.
    const QHeaderView* header = horizontalHeader();
    const int grip = header->style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, header);
    const int visual = header->visualIndexAt(pos.x());
    if (visual < 0) return false;
    const int logical = header->logicalIndex(visual);
    const int left = header->sectionViewportPosition(logical);
    const bool atLeft = pos.x() < left + grip && visual > 0;
    const bool atRight = pos.x() > left + header->sectionSize(logical) - grip;
    if (!atLeft && !atRight) return false;
    const int resized = atLeft ? header->logicalIndex(visual - 1) : logical;
    return header->sectionResizeMode(resized) == QHeaderView::Interactive;
}

void TStringGridEx::markRange(int from, int to) {
    if (from > to) std::swap(from, to);
    for (int row = from; row <= to; ++row) m_marks[static_cast<std::size_t>(row)] = true;
}

void TStringGridEx::handlePress(int row) {
    if (m_multiSelect) m_pressRow = row;
}

void TStringGridEx::handleRelease(int row, Qt::MouseButtons stillHeld, Qt::KeyboardModifiers modifiers) {
    const auto mark = [this](int r, bool on) { m_marks[static_cast<std::size_t>(r)] = on; };
    if (m_multiSelect) {
        const Qt::KeyboardModifiers exact = exactModifiers(modifiers);
        // Another button still held is part of the state and matches no rule.
        if (stillHeld != Qt::NoButton) {
        } else if (exact == Qt::NoModifier) {
            ClearMarks();
            const int pressRow = clampRow(m_pressRow);
            if (pressRow == row) {
                mark(row, true);
                m_anchorRow = row;
            } else {
                markRange(pressRow, row);
            }
        } else if (exact == Qt::ShiftModifier) {
            ClearMarks();
            markRange(clampRow(m_anchorRow), row);
        } else if (exact == Qt::ControlModifier) {
            if (m_marks[static_cast<std::size_t>(row)]) {
                mark(row, false);
            } else {
                mark(row, true);
                m_anchorRow = row;
            }
        }
    } else {
        mark(clampRow(m_anchorRow), false);
        mark(row, true);
        m_anchorRow = row;
    }
    viewport()->update();
    emit MarksChanged();
}

void TStringGridEx::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::RightButton) {
        m_rightPressDown = true;
        m_contextMenuWaiting = false;
    }
    handlePress(rowAtViewport(event->position().toPoint()));
    QTableView::mousePressEvent(event);
}

void TStringGridEx::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    handleRelease(rowAtViewport(pos), event->buttons(), event->modifiers());
    QTableView::mouseReleaseEvent(event);
    const bool menuWaiting = event->button() == Qt::RightButton && m_contextMenuWaiting;
    if (event->button() == Qt::RightButton) m_rightPressDown = m_contextMenuWaiting = false;
    const QPointF globalPos = event->globalPosition();
    emit MouseUp(event->button(), event->modifiers(), pos);
    // The menu the press asked for, over the marks this release made.
    if (menuWaiting) {
        QContextMenuEvent menu(QContextMenuEvent::Mouse, pos, globalPos.toPoint(), event->modifiers());
        QCoreApplication::sendEvent(viewport(), &menu);
    }
}

void TStringGridEx::keyReleaseEvent(QKeyEvent* event) {
    if (isNavigationKey(event->key())) {
        const Qt::KeyboardModifiers exact = exactModifiers(event->modifiers());
        const int current = Row();
        if (exact == Qt::NoModifier) {
            ClearMarks();
            m_marks[static_cast<std::size_t>(current)] = true;
            m_anchorRow = current;
            viewport()->update();
            emit MarksChanged();
            emit KeyMarked();
        } else if (m_multiSelect && exact == Qt::ShiftModifier) {
            markRange(clampRow(m_anchorRow), current);
            m_anchorRow = current;
            viewport()->update();
            emit MarksChanged();
            emit KeyMarked();
        }
    }
    QTableView::keyReleaseEvent(event);
}

bool TStringGridEx::eventFilter(QObject* watched, QEvent* event) {
    if (watched == horizontalHeader()->viewport()) {
        if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint pos = mouse->position().toPoint();
            m_headerResizing = isOnHeaderGrip(pos);
            m_headerPressColumn = m_headerResizing ? -1 : horizontalHeader()->logicalIndexAt(pos.x());
            if (!m_headerResizing) handlePress(rowAtHeader(pos));
        } else if (event->type() == QEvent::MouseButtonRelease) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QPoint pos = mouse->position().toPoint();
            if (m_headerResizing) {
                m_headerResizing = mouse->buttons() != Qt::NoButton;
            } else {
                handleRelease(rowAtHeader(pos), mouse->buttons(), mouse->modifiers());
                // The handlers may change the grid and its model: the
                // column is taken before.
                const int column = horizontalHeader()->logicalIndexAt(pos.x());
                const bool click = column >= 0 && column == m_headerPressColumn;
                m_headerPressColumn = -1;
                emit MouseUp(mouse->button(), mouse->modifiers(), pos);
                if (click) emit HeaderClick(column, mouse->button(), mouse->modifiers());
            }
        }
    }
    return QTableView::eventFilter(watched, event);
}

bool TStringGridEx::viewportEvent(QEvent* event) {
    // A platform that asks for the menu on the press (X11 does) would open
    // it before the release marks anything: it waits for the release.
    if (event->type() == QEvent::ContextMenu && m_rightPressDown
        && static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Mouse) {
        m_contextMenuWaiting = true;
        event->accept();
        return true;
    }
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        if (index.isValid() && m_cutCells.contains(QPoint(index.column(), index.row() + 1))) {
            QToolTip::showText(help->globalPos(), Cells(index.column(), index.row() + 1), viewport(),
                               visualRect(index));
            return true;
        }
    }
    // Elsewhere the item view shows no tip (its items carry none) and the
    // request goes on to the grid, which shows its own.
    return QTableView::viewportEvent(event);
}

void TStringGridEx::paintCell(QPainter* painter, int col, int row, const QRect& rect, DrawState state) {
    const QPalette::ColorGroup group = isActiveWindow() ? QPalette::Active : QPalette::Inactive;
    QColor background = palette().color(group, QPalette::Base);
    QColor text = palette().color(group, QPalette::Text);
    const bool marked =
        row >= FixedRows() && row < static_cast<int>(m_marks.size()) && m_marks[static_cast<std::size_t>(row)];
    if (marked) {
        background = m_selectedColor;
        text = m_selectedTextColor;
    }

    painter->save();
    painter->setClipRect(rect);
    painter->setFont(font());
    painter->setPen(text);
    painter->setBrush(background);
    painter->fillRect(rect, background);
    drawCellText(painter, rect, Cells(col, row));
    emit DrawCell(painter, col, row, rect, state);
    if (isCellTextCut(painter->fontMetrics(), rect, Cells(col, row))) m_cutCells.insert(QPoint(col, row));
    else m_cutCells.remove(QPoint(col, row));
    painter->restore();

    painter->save();
    if (state & Focused) {
        QPen focusPen(text);
        focusPen.setStyle(Qt::DotLine);
        painter->setPen(focusPen);
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(rect.adjusted(1, 1, -2, -2));
    }
    QStyleOptionViewItem lineOption;
    lineOption.initFrom(this);
    const QColor lineColor =
        QColor::fromRgba(static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &lineOption, this)));
    painter->setPen(lineColor);
    if (m_options & VertLine) painter->drawLine(rect.topRight(), rect.bottomRight());
    if (m_options & HorzLine) painter->drawLine(rect.bottomLeft(), rect.bottomRight());
    if (m_ctl3d && (m_options & VertLine) && (m_options & HorzLine)) {
        painter->setPen(palette().color(group, QPalette::HighlightedText));
        const QPoint edge[] = {QPoint(rect.left(), rect.bottom() - 1), rect.topLeft(), rect.topRight()};
        painter->drawPolyline(edge, 3);
    }
    painter->restore();
}

} // namespace toka
