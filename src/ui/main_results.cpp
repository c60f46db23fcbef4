// The result table's handlers.
#include <QLabel>
#include <QSpinBox>

#include <QFile>

#include "ui/display_text.h"
#include "ui/mainform.h"
#include "ui/result_table.h"
#include "ui/strgrdex.h"

namespace toka {

void TMainForm::TimerTimer() {
    lFileScanned->setText(QString::number(scannedEntries()));
    GetSimList(m_resultCopy);
    fillResultTable(*sgexResults, TheSimList(), seNumberofItems->value(), m_locale);
}

void TMainForm::seNumberofItemsChange() {
    TimerTimer();
}

void TMainForm::sgexResultsDrawCell(QPainter* canvas, int col, int row, const QRect& rect) {
    drawResultCell(*sgexResults, canvas, col, row, rect);
}

std::string TMainForm::resultPath(int row) const {
    const QString name = sgexResults->Cells(0, row);
    const QString location = sgexResults->Cells(1, row);
    // The cells hold display strings; a name that is not valid UTF-8 only
    // survives as bytes in the result copy.  The copy keeps its old slots
    // when a later search finds fewer entries, hence the check that the row
    // still shows the slot's entry.
    if (row >= 1 && row <= static_cast<int>(m_resultCopy.size())) {
        const rFileRec& entry = m_resultCopy[static_cast<std::size_t>(row - 1)];
        if (!entry.Name.empty() && displayText(entry.Name) == name && displayText(entry.Dir) == location)
            return entry.Dir + entry.Name;
    }
    return QFile::encodeName(location + name).toStdString();
}

} // namespace toka
