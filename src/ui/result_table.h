#pragma once
// The result table: the ranks of the similarity list in the marking grid,
// one row per rank, best first.

#include <QStringList>

#include "search/result_row.h"
#include "similar/simlist.h"

class QPainter;
class QRect;

namespace toka {

class TStringGridEx;

/// Column headers, in column order.
QStringList resultColumnHeaders();

/// The column widths of the design, in pixels.
inline constexpr int kResultColumnWidths[7] = {140, 145, 64, 64, 44, 53, 47};

/// Rebuilds the table from list: rows 1..m hold the ranks 1..m while a rank
/// has an entry and m <= maxRows; the row count becomes m + 1, at least 2.
/// Every cell of a shown row is written afresh, and the row keeps its
/// entry's path (see resultRowPath); with no entry at all, row 1 is left
/// empty (all seven cells) and keeps no path.  Returns m.
int fillResultTable(TStringGridEx& grid, const SimList& list, int maxRows, const LocaleFormat& locale);

/// The full path (bytes: directory + name) of the entry that fillResultTable
/// last wrote into data row `row`; "" for a row that holds no entry (the
/// empty row of a search that found nothing) and for rows outside the grid.
/// The bytes come with the row, not from its text: a name that is not valid
/// UTF-8 can show the same text as another entry's.
std::string resultRowPath(const TStringGridEx& grid, int row);

/// The drawing rule of the table: every cell of a row whose attribute text
/// (column 4) has "D" in fifth place is drawn again in bold, opaquely, in the
/// painter's colours.
void drawResultCell(const TStringGridEx& grid, QPainter* canvas, int col, int row, const QRect& rect);

} // namespace toka
