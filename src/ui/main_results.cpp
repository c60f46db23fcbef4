// The result table's handlers.
#include <QLabel>
#include <QSpinBox>

#include "search/parallel_walk.h"
#include "ui/mainform.h"
#include "ui/result_table.h"
#include "ui/strgrdex.h"

namespace toka {

void TMainForm::TimerTimer() {
    // The walk's list is copied under its lock, never read half changed;
    // a recorded answer stays until the walk has its own.
    if (m_walk && !m_showingRecorded) m_walk->copyList(TheSimList());
    lFileScanned->setText(QString::number(scannedEntries()));
    GetSimList(m_resultCopy);
    fillResultTable(*sgexResults, TheSimList(), seNumberofItems->value(), m_locale);
}

void TMainForm::seNumberofItemsChange() { TimerTimer(); }

void TMainForm::sgexResultsDrawCell(QPainter* canvas, int col, int row, const QRect& rect) {
    drawResultCell(*sgexResults, canvas, col, row, rect);
}

std::string TMainForm::resultPath(int row) const { return resultRowPath(*sgexResults, row); }

} // namespace toka
