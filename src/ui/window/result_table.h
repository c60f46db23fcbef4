#pragma once
// The result table: the marking grid over the rows of a ResultModel
// (result_model.h), one row per rank, best first unless sorted.

#include <QStringList>
#include <string>

class QPainter;
class QRect;

namespace toka {

class TStringGridEx;

/// Column headers, in column order.
QStringList resultColumnHeaders();

/// The column widths of the design, in pixels.
inline constexpr int kResultColumnWidths[7] = {140, 145, 64, 64, 44, 53, 47};

/// The full path (bytes: directory + name) of the entry that data row `row`
/// shows (ResultModel::PathRole); "" for a row that holds no entry (the
/// empty row of a search that found nothing), for rows outside the grid and
/// for a grid that shows no result model.  The bytes come with the row, not
/// from its text: a name that is not valid UTF-8 can show the same text as
/// another entry's.
std::string resultRowPath(const TStringGridEx& grid, int row);

/// The drawing rule of the table: every cell of a directory's row
/// (ResultModel::DirectoryRole) is drawn again in bold, opaquely, in the
/// painter's colours.
void drawResultCell(const TStringGridEx& grid, QPainter* canvas, int col, int row, const QRect& rect);

} // namespace toka
