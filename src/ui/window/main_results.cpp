// The result table's handlers: the refresh, the rows' details, drawing and
// the table's order.
#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QSpinBox>

#include "search/parallel_walk.h"
#include "ui/logic/entry_details_reader.h"
#include "ui/window/mainform.h"
#include "ui/logic/result_model.h"
#include "ui/window/result_table.h"
#include "ui/widgets/strgrdex.h"

namespace toka {

void TMainForm::TimerTimer() {
    // The walk's list is copied under its lock, never read half changed;
    // a recorded answer stays until the walk has its own.
    if (m_walk && !m_showingRecorded) m_walk->copyList(TheSimList());
    lFileScanned->setText(QString::number(scannedEntries()));
    GetSimList(m_resultCopy);
    // The rows show their names, locations and measures at once; what the
    // file system tells of their entries is read on the reader's worker and
    // comes when it is read (a hung mount holds the worker, not the window).
    std::vector<RankedEntry> entries = rankedEntries(TheSimList(), seNumberofItems->value(), m_locale);
    const std::uint64_t generation = m_resultModel->setEntries(entries);
    m_detailsReader->read(generation, std::move(entries));
}

void TMainForm::showResultDetails(std::uint64_t generation, std::vector<std::pair<std::string, EntryDetails>> details) {
    m_resultModel->setDetails(generation, details);
    if (generation == m_resultModel->generation() && m_resultModel->detailsComplete()) emit resultRowsRead();
}

bool TMainForm::resultRowsComplete() const { return m_resultModel->detailsComplete(); }

void TMainForm::setResultRowObserver(std::function<void(std::string_view path)> observer) {
    m_detailsReader->setObserver(std::move(observer));
}

void TMainForm::seNumberofItemsChange() { TimerTimer(); }

void TMainForm::sgexResultsDrawCell(QPainter* canvas, int col, int row, const QRect& rect) {
    drawResultCell(*sgexResults, canvas, col, row, rect);
}

std::string TMainForm::resultPath(int row) const { return resultRowPath(*sgexResults, row); }

void TMainForm::setResultOrder(int column, Qt::SortOrder order) {
    // The marks go with their rows (the model moves them as a layout change).
    m_resultModel->sort(column, order);
    syncSortCommands();
}

void TMainForm::syncSortCommands() {
    const int column = m_resultModel->sortColumn();
    const bool byColumn = column != ResultModel::kRankOrder;
    const Qt::SortOrder order = m_resultModel->sortOrder();
    SortByRank1->setChecked(!byColumn);
    for (int c = 0; c < ResultModel::kColumnCount; ++c) SortByColumn1[c]->setChecked(c == column);
    SortDescending1->setEnabled(byColumn);
    SortDescending1->setChecked(byColumn && order == Qt::DescendingOrder);
    // The ranks' order has no column to point at.
    QHeaderView* header = sgexResults->horizontalHeader();
    header->setSortIndicatorShown(byColumn);
    header->setSortIndicator(byColumn ? column : -1, order);
}

void TMainForm::sgexResultsHeaderClick(int col, Qt::MouseButton button, Qt::KeyboardModifiers modifiers) {
    // The release has cleared the marks already, as every plain click on
    // the header does.  A first click sorts rising, the next falling, the
    // third goes back to the ranks.
    if (!SortByHeaderClick || button != Qt::LeftButton || (modifiers & ~Qt::KeypadModifier) != Qt::NoModifier) return;
    if (m_resultModel->sortColumn() != col) setResultOrder(col, Qt::AscendingOrder);
    else if (m_resultModel->sortOrder() == Qt::AscendingOrder) setResultOrder(col, Qt::DescendingOrder);
    else setResultOrder(ResultModel::kRankOrder);
}

} // namespace toka
