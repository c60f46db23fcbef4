// Searching from the window: the controls a search locks, the walk on worker
// threads, and the end of a search.  The window's thread never lists a
// directory: it starts the walk, refreshes from it, and ends the search when
// the walk's last worker says it is done.
#include <QAction>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include "search/parallel_walk.h"
#include "ui/window/search_controller.h"
#include "ui/logic/display_text.h"
#include "ui/widgets/filter_bar.h"
#include "ui/window/mainform.h"
#include "ui/window/settings_controller.h"
#include "ui/logic/result_model.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/results_controller.h"

namespace toka {

namespace {

constexpr int kStatusRefreshMs = 100;

} // namespace

std::uint64_t TMainForm::scannedEntries() const { return m_search->scannedEntries(); }

void TMainForm::setSearchControlsEnabled(bool idle) {
    m_search->setControlsEnabled(idle);
    for (QToolButton* button : {m_sbCopy, m_sbMove, m_sbDelete, m_sbInvert, m_sbFileViewer}) button->setEnabled(idle);
    m_settings->Searchlengthindependendfuzzy1()->setEnabled(idle);
    m_settings->RecurseSubdirectories1()->setEnabled(idle);
}

void TMainForm::StartSearch() {
    m_searching = true;
    m_Stop1->setEnabled(true);
    m_AllFixedDisks1->setEnabled(false);
    m_Directory1->setEnabled(false);
    TStringGridEx* grid = m_results->sgexResults();
    grid->setEnabled(false);
    m_stopRequest = false;
    setSearchControlsEnabled(false);
    m_results->shownList().InitSimList(m_search->eSearch()->text().toStdString(), MaxListSize);
    m_results->setOrder(ResultModel::kRankOrder); // a new search shows the ranks' order
    m_typingTimer->stop();
    m_searchClock.start();
    // The filter is read once: the bar stays usable, for the next search.
    m_filter = m_pFilters->filter(QDateTime::currentDateTime());
    showFilterMark();

    m_Timer->start();
    grid->setEnabled(true);
    m_results->clearMarks();
}

void TMainForm::startWalk(std::vector<WalkRoot> roots, bool allFixedDisks) {
    // The options are fixed for the run: their controls stay disabled; the
    // filter was read by StartSearch, the bar stays usable for the next one.
    const ScanOptions options{m_settings->RecurseDirs(), m_search->sbMeasure()->isChecked(), m_filter};
    m_search->startWalk(std::move(roots), m_search->eSearch()->text().toStdString(), options, allFixedDisks,
                        m_settings->RecordWalks());
    // The table is redrawn by the one-second timer (and at once only for a
    // recorded answer), from the top.
    m_results->sgexResults()->scrollToTop();
    m_statusTimer->start(kStatusRefreshMs);
    showWalkStatus();
}

void TMainForm::showWalkStatus() {
    const std::string dir = m_search->currentDirectory();
    if (!dir.empty()) setStatusText(displayText(std::string(kScanStatusPrefix) + dir));
}

void TMainForm::EndSearch() {
    if (!m_searching) return;
    m_statusTimer->stop();
    m_searchTook = m_searchClock.elapsed();
    m_search->endWalk(m_settings->RecordWalks());
    m_Timer->stop();
    TimerTimer();
    setSearchControlsEnabled(true);
    setStatusText("Ready");
    m_Stop1->setEnabled(false);
    m_AllFixedDisks1->setEnabled(true);
    m_Directory1->setEnabled(true);
    m_searching = false;
    showFilterMark();
    showSummary();
    if (m_closeRequested) {
        m_closeRequested = false;
        close();
    }
}

void TMainForm::sbSearchClick() {
    if (m_searching) return;
    StartSearch();
    // The root is read once: choosing another directory during the walk
    // changes the label, not the running search.
    startWalk({{selectedDirectory()}}, false);
}

void TMainForm::sbSearchHDsClick() {
    if (m_searching) return;
    StartSearch();
    startWalk(fixedVolumeRoots(fixedVolumes()), true);
}

void TMainForm::sbStopClick() {
    m_stopRequest = true;
    m_search->requestStop();
}

} // namespace toka
