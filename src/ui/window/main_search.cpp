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
#include "ui/logic/display_text.h"
#include "ui/widgets/filter_bar.h"
#include "ui/window/mainform.h"
#include "ui/logic/record_keeper.h"
#include "ui/logic/result_model.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/results_controller.h"

namespace toka {

namespace {

constexpr int kStatusRefreshMs = 100;

} // namespace

std::uint64_t TMainForm::scannedEntries() const { return m_walk ? m_walk->scannedEntries() : m_recordedCount; }

void TMainForm::setSearchControlsEnabled(bool idle) {
    for (QToolButton* button : {sbSearchDir, sbSearchHDs, sbRecurseDirs, sbCopy, sbMove, sbDelete, sbInvert,
                                sbFileViewer, sbMeasure, sbSimilar})
        button->setEnabled(idle);
    sbStop->setEnabled(!idle);
    Searchlengthindependendfuzzy1->setEnabled(idle);
    RecurseSubdirectories1->setEnabled(idle);
}

void TMainForm::StartSearch() {
    m_searching = true;
    Stop1->setEnabled(true);
    AllFixedDisks1->setEnabled(false);
    Directory1->setEnabled(false);
    TStringGridEx* grid = m_results->sgexResults();
    grid->setEnabled(false);
    m_stopRequest = false;
    setSearchControlsEnabled(false);
    m_results->shownList().InitSimList(eSearch->text().toStdString(), MaxListSize);
    m_results->setOrder(ResultModel::kRankOrder); // a new search shows the ranks' order
    m_walk.reset();
    m_typingTimer->stop();
    m_showingRecorded = false;
    lRecorded->setVisible(false);
    // The filter is read once: the bar stays usable, for the next search.
    m_filter = pFilters->filter(QDateTime::currentDateTime());
    showFilterMark();

    Timer->start();
    grid->setEnabled(true);
    m_results->clearMarks();
}

void TMainForm::startWalk(std::vector<WalkRoot> roots, bool allFixedDisks) {
    ParallelWalkHooks hooks;
    hooks.listing = m_walkObserver;
    // The end reaches the window as a queued call; a window already gone
    // drops it (the walk is stopped and joined before the window goes).
    hooks.finished = [this] { QMetaObject::invokeMethod(this, &TMainForm::EndSearch, Qt::QueuedConnection); };
    // The options are fixed for the run: their controls stay disabled; the
    // filter was read by StartSearch, the bar stays usable for the next one.
    const ScanOptions options{RecurseDirs, sbMeasure->isChecked(), m_filter};
    m_walkSearch.InitSimList(eSearch->text().toStdString(), MaxListSize);
    // A record's answer comes first, as soon as it is read; the walk's
    // replaces it when the walk has run to its end.
    m_liveAnswerShown = false;
    lookUpRecord(roots, options, allFixedDisks, [this, options](const RecordAnswer& answer) {
        if (!m_liveAnswerShown) showRecordedAnswer(answer, m_walkSearch, options);
    });
    m_walk = std::make_unique<ParallelWalk>(m_walkSearch, options, ParallelWalk::defaultThreads(), std::move(hooks));
    if (RecordWalks && m_recordKeeper) m_walk->record(recordedOptions(options, allFixedDisks));
    m_walk->start(std::move(roots));
    // The table is redrawn by the one-second timer (and at once only for a
    // recorded answer), from the top.
    m_results->sgexResults()->scrollToTop();
    m_statusTimer->start(kStatusRefreshMs);
    showWalkStatus();
}

void TMainForm::showWalkStatus() {
    if (!m_walk) return;
    const std::string dir = m_walk->currentDirectory();
    if (!dir.empty()) setStatusText(displayText(std::string(kScanStatusPrefix) + dir));
}

void TMainForm::EndSearch() {
    if (!m_searching) return;
    m_statusTimer->stop();
    if (m_walk) m_walk->wait(); // its last worker is on its way out
    if (m_walk) {
        // The walk's own list replaces a recorded answer, after Stop too;
        // only a walk that ran to its end is recorded.
        m_liveAnswerShown = true;
        m_showingRecorded = false;
        lRecorded->setVisible(false);
        if (RecordWalks && !m_walk->stopRequested()) saveRecord(m_walk->takeRecord());
    }
    Timer->stop();
    TimerTimer();
    setSearchControlsEnabled(true);
    setStatusText("Ready");
    Stop1->setEnabled(false);
    AllFixedDisks1->setEnabled(true);
    Directory1->setEnabled(true);
    m_searching = false;
    showFilterMark();
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
    if (m_walk) m_walk->requestStop();
}

} // namespace toka
