#include "ui/result_table.h"

#include <QPainter>

#include "ui/display_text.h"
#include "ui/strgrdex.h"

namespace toka {

namespace {

constexpr int kColumns = 7;

// The entry's path travels as data of the row's first cell, so it goes with
// the row when the row count changes.
constexpr int kEntryPathRole = Qt::UserRole;

void setRowPath(TStringGridEx& grid, int row, const std::string& path) {
    QTableWidgetItem* cell = grid.item(row - 1, 0);
    if (!cell) {
        if (path.empty()) return;
        cell = new QTableWidgetItem;
        grid.setItem(row - 1, 0, cell);
    }
    cell->setData(kEntryPathRole, QByteArray::fromStdString(path));
}

} // namespace

QStringList resultColumnHeaders() { return {"File", "Location", "Date", "Time", "Attribs", "Size", "Measure"}; }

int fillResultTable(TStringGridEx& grid, const SimList& list, int maxRows, const LocaleFormat& locale) {
    const std::vector<ResultRow> rows = buildResultRows(list, maxRows, locale);
    const int m = static_cast<int>(rows.size());
    // Rows beyond the new count are dropped with their cells, so nothing of
    // an earlier, longer table can reappear when the table grows again.
    grid.SetRowCount(std::max(m + 1, 2));
    for (int r = 1; r <= m; ++r) {
        const ResultRow& row = rows[static_cast<std::size_t>(r - 1)];
        grid.SetCells(0, r, displayText(row.name));
        grid.SetCells(1, r, displayText(row.location));
        grid.SetCells(2, r, QString::fromStdString(row.date));
        grid.SetCells(3, r, QString::fromStdString(row.time));
        grid.SetCells(4, r, QString::fromStdString(row.attributes));
        grid.SetCells(5, r, QString::fromStdString(row.size));
        grid.SetCells(6, r, QString::fromStdString(row.measure));
        // The location ends in "/", so this is one separator.
        setRowPath(grid, r, row.location + row.name);
    }
    if (m == 0) {
        // No rank at all: an empty row rather than the last search's size
        // and measure beside empty names.
        for (int c = 0; c < kColumns; ++c) grid.SetCells(c, 1, {});
        setRowPath(grid, 1, {});
    }
    return m;
}

std::string resultRowPath(const TStringGridEx& grid, int row) {
    if (row < 1 || row >= grid.RowCount()) return {};
    const QTableWidgetItem* cell = grid.item(row - 1, 0);
    return cell ? cell->data(kEntryPathRole).toByteArray().toStdString() : std::string();
}

void drawResultCell(const TStringGridEx& grid, QPainter* canvas, int col, int row, const QRect& rect) {
    const QString attributes = grid.Cells(4, row);
    if (attributes.size() < 5 || attributes.at(4) != QLatin1Char('D')) return;
    QFont bold = canvas->font();
    bold.setBold(true);
    canvas->setFont(bold);
    canvas->fillRect(rect, canvas->brush());
    TStringGridEx::drawCellText(canvas, rect, grid.Cells(col, row));
}

} // namespace toka
