#pragma once
// TStringGridEx: a string grid whose rows can be marked.
//
// The marks belong to the control and are kept apart from Qt's own selection
// and current cell: the user marks rows with the pointer and with the
// navigation keys, marked rows are painted in SelectedColor/SelectedTextColor,
// and the window asks and sets the marks by row number.
//
// Row numbers are those of a classic string grid: row 0 is the fixed header
// row (shown by the horizontal header, so it never scrolls away) and rows
// 1..RowCount()-1 are the data rows, which are the rows 0..rowCount()-1 of the
// model.  Use RowCount/SetRowCount/Cells/SetCells/Row for grid numbering; the
// lower-case Qt API (rowCount, setCurrentCell, the model's indexes) keeps
// Qt's numbering.
//
// The cells: the grid keeps a table of strings of its own, sized with
// SetRowCount and setColumnCount.  A model given with setModel takes its
// place: the grid then shows and reads that model's display texts (row 0:
// its horizontal header), and its rows come and go with the model.  The
// marks go with the row count as below; a model that re-orders its rows
// (layoutChanged, as a sort does) carries every mark along with its row.
//
// Pointer rules (MultiSelect true), decided on the release:
//   no modifier  - press row == release row: only that row, which becomes the
//                  anchor; otherwise the rows from press to release (a drag);
//   Shift alone  - the rows from the anchor to the release row;
//   Ctrl alone   - toggles the release row (marking it makes it the anchor);
//   anything else (Alt, Meta, another button still held) - no change.
// Every button acts alike.  A position outside the cells counts as the last
// row.  With MultiSelect false a release moves the single mark.
// A right-button press marks nothing and opens no menu: the context menu a
// platform asks for on the press waits for the release, so that it opens
// over the marks the click made, after MouseUp.
// Key rules (after Qt has moved the current row): a navigation key without
// modifiers marks only the current row; Shift + navigation key (MultiSelect
// only) adds the rows from the anchor to the current row.
//
// MouseUp is emitted after the marks have been updated; HeaderClick follows
// it for a release over the header section that the press was on.
//
// Cell texts are clipped at the cell's edge, without an ellipsis (the
// header's too).  Tool tips: a data cell whose text was last drawn cut shows
// its whole text; anywhere else the grid's own tool tip shows.

#include <QColor>
#include <QFlags>
#include <QPoint>
#include <QSet>
#include <QTableView>
#include <vector>

#include <QPainter>

namespace toka {

class GridCells;

class TStringGridEx : public QTableView {
    Q_OBJECT
public:
    /// Grid options in the classic string-grid sense.  VertLine/HorzLine are
    /// the lines between data cells (the header always has its own lines).
    enum GridOption {
        VertLine = 0x01,
        HorzLine = 0x02,
        RangeSelect = 0x04, ///< Qt selection may span several cells
        DrawFocusSelected = 0x08,
        RowSelect = 0x10,     ///< Qt selection covers whole rows
        ColSizing = 0x20,     ///< columns resizable by dragging the header
        RowSizing = 0x40,     ///< rows resizable (vertical header is hidden, kept for completeness)
        ThumbTracking = 0x80, ///< the view follows the scroll box while it is dragged
    };
    Q_DECLARE_FLAGS(GridOptions, GridOption)

    enum DrawStateFlag { Selected = 0x1, Focused = 0x2, Fixed = 0x4 };
    Q_DECLARE_FLAGS(DrawState, DrawStateFlag)

    /// Starts with 5 rows (header included) and 5 columns, row 1 marked and
    /// anchor.  A smaller row count set afterwards drops every mark.
    explicit TStringGridEx(QWidget* parent = nullptr);
    ~TStringGridEx() override;

    // --- the model, in Qt's numbering -----------------------------------------
    /// Shows model instead of the grid's own cells (null: the own cells
    /// again, as they were).  The grid does not own model.
    void setModel(QAbstractItemModel* model) override;
    /// Data rows and columns of the model shown.
    int rowCount() const;
    int columnCount() const;
    /// Sizes the grid's own cells (not a model given with setModel); cells
    /// beyond the new size are dropped.
    void setRowCount(int rows);
    void setColumnCount(int columns);
    /// Makes cell (row, column) the current one; outside the model: none.
    void setCurrentCell(int row, int column);

    // --- the grid in classic numbering --------------------------------------
    int RowCount() const { return rowCount() + 1; }
    /// n includes the header row; values below 1 are taken as 1.  Sizes the
    /// grid's own cells only.
    void SetRowCount(int n);
    static constexpr int FixedRows() { return 1; }
    /// Text of cell (col, row); row 0 is the header.  Empty outside the grid.
    QString Cells(int col, int row) const;
    /// Sets the text of cell (col, row); ignored outside the grid and where
    /// the model keeps its texts to itself.
    void SetCells(int col, int row, const QString& text);
    /// The current (focus) row, at least FixedRows() (also when Qt has no
    /// current cell yet), at most RowCount()-1.
    int Row() const;

    GridOptions Options() const { return m_options; }
    void SetOptions(GridOptions options);

    // --- marks ---------------------------------------------------------------
    /// True exactly when row is marked; false for rows outside the grid.
    bool IsRowMarked(int row) const;
    /// Marks or unmarks row and repaints; rows outside the grid are ignored.
    void SetRowMarked(int row, bool marked);
    /// Unmarks every row, header included.  Does not repaint.
    void ClearMarks();

    bool MultiSelect() const { return m_multiSelect; }
    void SetMultiSelect(bool on) { m_multiSelect = on; }
    /// Light edge on the left and top of every data cell when both line
    /// options are on.
    bool CTL3D() const { return m_ctl3d; }
    void SetCTL3D(bool on);
    QColor SelectedColor() const { return m_selectedColor; }
    void SetSelectedColor(const QColor& color);
    QColor SelectedTextColor() const { return m_selectedTextColor; }
    void SetSelectedTextColor(const QColor& color);

    /// Paints one data cell: background, marking colours, text at
    /// rect.left+2, rect.top+2, then DrawCell, grid lines and the 3-D edge.
    /// Called by the grid's delegate.
    void paintCell(QPainter* painter, int col, int row, const QRect& rect, DrawState state);
    /// Draws text as a cell shows it: at rect.left+2, rect.top+2, in the
    /// painter's font and pen, on one line, clipped to the cell.
    static void drawCellText(QPainter* painter, const QRect& rect, const QString& text);
    /// True when drawCellText would cut text in rect with these metrics.
    static bool isCellTextCut(const QFontMetrics& metrics, const QRect& rect, const QString& text);

signals:
    /// Raised for every painted data cell after its own text; the painter
    /// holds the cell's font, text colour (pen) and background (brush), so a
    /// handler may draw the text again in another style.  The font the
    /// painter holds afterwards is taken as the one the text is shown in
    /// (for the tool tip of a cut text).  Connect directly.
    void DrawCell(QPainter* canvas, int col, int row, const QRect& rect, TStringGridEx::DrawState state);
    /// Raised after every pointer release over the grid or its header,
    /// after the marks have been updated.
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, const QPoint& pos);
    /// Raised after a navigation key has marked rows (as a mouse release
    /// raises MouseUp).
    void KeyMarked();
    /// Raised whenever a row's mark may have changed.
    void MarksChanged();
    /// Raised after MouseUp for a release over the header section the press
    /// was on (not the end of a column resize), with that section's column.
    void HeaderClick(int col, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    /// Brings the marks to the row count; called by the model's row and
    /// reset signals only.
    void synchronise();
    /// Around a re-ordering of the model's rows: the marked rows are noted
    /// as persistent indexes and marked again where they went.
    void noteMarkedRows();
    void remarkMovedRows();
    /// Row under a viewport position; the last row when it is over no cell.
    int rowAtViewport(const QPoint& pos) const;
    /// Row under a header position: 0 over a section, else the last row.
    int rowAtHeader(const QPoint& pos) const;
    int clampRow(int row) const;
    void markRange(int from, int to);
    void handlePress(int row);
    void handleRelease(int row, Qt::MouseButtons stillHeld, Qt::KeyboardModifiers modifiers);
    bool isOnHeaderGrip(const QPoint& pos) const;

    GridCells* m_cells = nullptr; ///< the grid's own cells, shown when no other model is
    QList<QMetaObject::Connection> m_modelConnections;
    std::vector<bool> m_marks; ///< one entry per row, index = row number
    /// The marked data rows while the model re-orders them.
    QList<QPersistentModelIndex> m_movingMarks;
    /// The header section a press on the header was on (-1: none).
    int m_headerPressColumn = -1;
    /// The cells (column, row) whose text was cut when last painted.
    QSet<QPoint> m_cutCells;
    int m_anchorRow = 1;
    int m_pressRow = 1;
    bool m_multiSelect = false;
    bool m_ctl3d = false;
    QColor m_selectedColor;
    QColor m_selectedTextColor;
    GridOptions m_options;
    /// A right-button press on the cells is down: a context menu asked for
    /// meanwhile waits for its release.
    bool m_rightPressDown = false;
    /// A context menu was asked for during that press.
    bool m_contextMenuWaiting = false;
    /// A press on a header section border starts a column resize; the
    /// matching release must not be taken as a click on the header row.
    bool m_headerResizing = false;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TStringGridEx::GridOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(TStringGridEx::DrawState)

} // namespace toka
