#include "ui/window/result_table.h"

#include <QPainter>

#include "ui/logic/result_model.h"
#include "ui/widgets/strgrdex.h"

namespace toka {

namespace {

QVariant rowData(const TStringGridEx& grid, int row, int role) {
    if (row < 1 || row >= grid.RowCount()) return {};
    return grid.model()->index(row - 1, 0).data(role);
}

} // namespace

QStringList resultColumnHeaders() { return ResultModel::columnHeaders(); }

std::string resultRowPath(const TStringGridEx& grid, int row) {
    return rowData(grid, row, ResultModel::PathRole).toByteArray().toStdString();
}

void drawResultCell(const TStringGridEx& grid, QPainter* canvas, int col, int row, const QRect& rect) {
    if (!rowData(grid, row, ResultModel::DirectoryRole).toBool()) return;
    QFont bold = canvas->font();
    bold.setBold(true);
    canvas->setFont(bold);
    canvas->fillRect(rect, canvas->brush());
    TStringGridEx::drawCellText(canvas, rect, grid.Cells(col, row));
}

} // namespace toka
