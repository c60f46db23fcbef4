// The summary at the right of the status bar (search_summary.h): entries
// scanned, time taken, directories skipped, marked rows, what the last file
// operation did, and a word on texts too short to match and on Enter.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QStatusBar>

#include "similar/text.h"
#include "ui/logic/search_summary.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/file_ops_controller.h"
#include "ui/window/mainform.h"
#include "ui/window/settings_controller.h"
#include "ui/window/results_controller.h"
#include "ui/window/search_controller.h"

namespace toka {

namespace {

QString grouped(std::uint64_t n) { return QLocale::system().toString(static_cast<qulonglong>(n)); }

// Texts shorter than this match nothing with either measure.
constexpr std::size_t kShortestMatchingText = 3;

} // namespace

void TMainForm::createSummary() {
    m_lSummary = new QLabel(m_StatusBar);
    m_lSummary->setObjectName("lSummary");
    m_lSummary->setToolTip("What the last search did and what the rows hold");
    m_StatusBar->addPermanentWidget(m_lSummary);
    const auto show = [this] { showSummary(); };
    connect(m_results->sgexResults(), &TStringGridEx::MarksChanged, this, show);
    connect(m_fileOps, &FileOpsController::finished, this, show);
    connect(m_search, &SearchController::typingAnswered, this, show);
    connect(m_search->eSearch(), &QLineEdit::textChanged, this, show);
    connect(m_settings->RecordWalks1(), &QAction::toggled, this, show);
    connect(m_settings->SearchAsYouType1(), &QAction::toggled, this, show);
    showSummary();
}

void TMainForm::showSummary() {
    SearchSummary summary;
    summary.searched = m_searchClock.isValid();
    summary.running = m_searching;
    summary.scanned = scannedEntries();
    summary.elapsedMs = m_searching ? m_searchClock.elapsed() : m_searchTook;
    summary.skipped = m_search->skippedDirectories();
    summary.marked = m_results->markedEntryCount();
    summary.textTooShort = DecodeName(m_search->eSearch()->text().toStdString()).size() < kShortestMatchingText;
    summary.enterSearches =
        m_settings->SearchAsYouType() && m_settings->RecordWalks() && !m_searching && m_search->typingFoundNoRecord();
    if (const auto& done = m_fileOps->lastDone())
        summary.lastOperation = operationSummary(done->kind, done->count, destinationName(done->destination));
    m_lSummary->setText(summaryText(summary, &grouped));
}

} // namespace toka
