// The window's refresh: once a second during a search, the walk's list is
// copied under its lock into the list the table shows, and the count and
// the rows are redrawn from it.
#include <QLabel>
#include <QSpinBox>

#include "ui/window/mainform.h"
#include "ui/window/status_strip.h"
#include "ui/window/results_controller.h"
#include "ui/window/search_controller.h"

namespace toka {

void TMainForm::TimerTimer() {
    // The walk's list is copied under its lock, never read half changed;
    // a recorded answer stays until the walk has its own.
    m_search->copyWalkList();
    m_StatusPanel->lFileScanned()->setText(QString::number(scannedEntries()));
    m_results->refresh(m_seNumberofItems->value());
    showSummary();
}

void TMainForm::seNumberofItemsChange() { TimerTimer(); }

} // namespace toka
