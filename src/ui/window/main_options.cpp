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
    m_Explorer->setFocus();
}

void TMainForm::SyncOptions() {
    m_sbRecurseDirs->setChecked(RecurseDirs);
    m_RecurseSubdirectories1->setChecked(RecurseDirs);

    m_Toolbar1->setVisible(ShowToolbar);
    m_ShowFileToolbar1->setChecked(ShowToolbar);

    m_hintSwitch->setEnabled(ShowHints);
    m_ShowFlybyHints1->setChecked(ShowHints);

    m_viewer->pFileViewer()->setVisible(ShowViewer);
    m_Splitter2->setVisible(ShowViewer);

    m_WarningSearchResultChanged1->setChecked(WarnResultChanged);

    m_pFilters->setVisible(ShowFilters);
    m_ShowFilters1->setChecked(ShowFilters);

    m_results->setSortByHeaderClick(SortByHeaderClick);
    m_DeleteKeyMovesToTrash1->setChecked(DeleteKeyMovesToTrash);
    syncDeleteKeys();

    m_RecordWalks1->setChecked(RecordWalks);
    m_SearchAsYouType1->setChecked(SearchAsYouType);
    m_SearchAsYouType1->setEnabled(RecordWalks);

    m_sbFileViewer->setChecked(ShowViewer);
    m_ShowFileViewer1->setChecked(ShowViewer);

    m_sbMeasure->setChecked(FuzzySearch);
    m_sbSimilar->setChecked(!FuzzySearch);
    m_Searchlengthindependendfuzzy1->setChecked(FuzzySearch);
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
