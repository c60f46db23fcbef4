// The view options: FormShow's defaults, SyncOptions, the toggles, closing.
#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QToolButton>
#include <QTreeWidget>

#include "ui/widgets/filter_bar.h"
#include "ui/widgets/hint_switch.h"
#include "ui/window/mainform.h"
#include "ui/window/results_controller.h"
#include "ui/window/viewer_controller.h"

namespace toka {

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_shown) return;
    m_shown = true;
    FormShow();
    if (const QScreen* screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        setGeometry(
            QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size().boundedTo(available.size()), available));
    }
    applyStartState();
}

void TMainForm::FormShow() {
    RecurseDirs = true;
    m_stopRequest = false;
    WarnResultChanged = true;
    FuzzySearch = true;
    FillDrives();
    fitWindowToColumns(m_results->setColumnWidths());
    ShowToolbar = true;
    ShowHints = true;
    ShowViewer = false;
    ShowFilters = false;
    SyncOptions();
    Explorer->setFocus();
}

void TMainForm::SyncOptions() {
    sbRecurseDirs->setChecked(RecurseDirs);
    RecurseSubdirectories1->setChecked(RecurseDirs);

    Toolbar1->setVisible(ShowToolbar);
    ShowFileToolbar1->setChecked(ShowToolbar);

    m_hintSwitch->setEnabled(ShowHints);
    ShowFlybyHints1->setChecked(ShowHints);

    m_viewer->pFileViewer()->setVisible(ShowViewer);
    Splitter2->setVisible(ShowViewer);

    WarningSearchResultChanged1->setChecked(WarnResultChanged);

    pFilters->setVisible(ShowFilters);
    ShowFilters1->setChecked(ShowFilters);

    m_results->setSortByHeaderClick(SortByHeaderClick);
    DeleteKeyMovesToTrash1->setChecked(DeleteKeyMovesToTrash);
    syncDeleteKeys();

    RecordWalks1->setChecked(RecordWalks);
    SearchAsYouType1->setChecked(SearchAsYouType);
    SearchAsYouType1->setEnabled(RecordWalks);

    sbFileViewer->setChecked(ShowViewer);
    ShowFileViewer1->setChecked(ShowViewer);

    sbMeasure->setChecked(FuzzySearch);
    sbSimilar->setChecked(!FuzzySearch);
    Searchlengthindependendfuzzy1->setChecked(FuzzySearch);
}

void TMainForm::sbRecurseDirsClick() {
    RecurseDirs = !RecurseDirs;
    SyncOptions();
}

void TMainForm::sbMeasureClick() {
    FuzzySearch = !FuzzySearch;
    SyncOptions();
    // With records on, the record answers again with the other measure.
    answerFromRecord();
}

void TMainForm::ShowFileToolbar1Click() {
    ShowToolbar = !ShowToolbar;
    SyncOptions();
}

void TMainForm::ShowFlybyHints1Click() {
    ShowHints = !ShowHints;
    SyncOptions();
}

void TMainForm::sbFileViewerClick() {
    ShowViewer = !ShowViewer;
    SyncOptions();
}

void TMainForm::WarningSearchResultChanged1Click() {
    WarnResultChanged = !WarnResultChanged;
    SyncOptions();
}

void TMainForm::ShowFilters1Click() {
    ShowFilters = !ShowFilters;
    SyncOptions();
}

void TMainForm::E1Click() { close(); }

void TMainForm::closeEvent(QCloseEvent* event) {
    // The walk runs inside this window's handler; the window stays usable
    // until the search has ended by itself or by Stop, and closes then.
    if (m_searching) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    saveSettings();
    QMainWindow::closeEvent(event);
}

} // namespace toka
