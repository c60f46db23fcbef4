// Searching from the window: the controls a search locks, the walk with the
// window's hooks, and the end of a search.
#include <QAction>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include "search/scan.h"
#include "ui/display_text.h"
#include "ui/mainform.h"
#include "ui/strgrdex.h"

namespace toka {

std::uint64_t TMainForm::scannedEntries() const { return m_scanner ? m_scanner->scannedEntries() : 0; }

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
    sgexResults->setEnabled(false);
    m_stopRequest = false;
    setSearchControlsEnabled(false);
    InitSimList(eSearch->text().toStdString(), MaxListSize);

    ScanHooks hooks;
    hooks.status = [this](const std::string& text) { setStatusText(displayText(text)); };
    hooks.processEvents = [] { QCoreApplication::processEvents(QEventLoop::AllEvents); };
    hooks.stopRequested = [this] { return m_stopRequest; };
    // The options are fixed for the run: their controls stay disabled.
    m_scanner = std::make_unique<Scanner>(ScanOptions{RecurseDirs, sbMeasure->isChecked()}, std::move(hooks));

    Timer->start();
    sgexResults->setEnabled(true);
    for (int row = 1; row < sgexResults->RowCount(); ++row) sgexResults->SetRowMarked(row, false);
}

void TMainForm::EndSearch() {
    Timer->stop();
    TimerTimer();
    setSearchControlsEnabled(true);
    setStatusText("Ready");
    Stop1->setEnabled(false);
    AllFixedDisks1->setEnabled(true);
    Directory1->setEnabled(true);
    m_searching = false;
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
    const std::string root = selectedDirectory();
    m_scanner->ScanDirectory(root);
    EndSearch();
}

void TMainForm::sbSearchHDsClick() {
    if (m_searching) return;
    StartSearch();
    m_scanner->ScanFixedVolumes(fixedVolumes());
    EndSearch();
}

void TMainForm::sbStopClick() { m_stopRequest = true; }

} // namespace toka
