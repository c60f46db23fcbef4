// The window's first show (the remembered choices, then the command line's
// directory and search text), the view options: FormShow's defaults,
// SyncOptions, the toggles, closing.
#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "ui/widgets/filter_bar.h"
#include "ui/widgets/hint_switch.h"
#include "ui/window/mainform.h"
#include "ui/window/results_controller.h"
#include "ui/window/search_controller.h"
#include "ui/window/settings_controller.h"
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

void TMainForm::applyStartState() {
    const std::string lastDirectory = m_settings->applyRemembered();
    const StartOptions& start = m_settings->startOptions();
    // A remembered directory that is gone is passed over.
    if (start.directory.empty() || !selectDirectory(start.directory)) selectDirectory(lastDirectory);

    if (start.allFixedDisks && !start.searchText) {
        // Ready to search every fixed disk: the text is typed, Enter searches.
        m_enterSearchesAllDisks = true;
        m_search->eSearch()->setPlaceholderText(QStringLiteral("Search all fixed disks"));
        m_search->eSearch()->setFocus();
    }
    if (start.searchText) {
        m_search->eSearch()->setText(*start.searchText);
        // Queued: the window is up before the search begins.
        QTimer::singleShot(0, this, [this] {
            if (!m_search->sbSearchDir()->isEnabled()) return;
            m_settings->rememberSearchText();
            m_lastSearch =
                m_settings->startOptions().allFixedDisks ? &TMainForm::sbSearchHDsClick : &TMainForm::sbSearchClick;
            (this->*m_lastSearch)();
        });
    }
}

void TMainForm::FormShow() {
    m_settings->setDesignedDefaults();
    m_stopRequest = false;
    FillDrives();
    fitWindowToColumns(m_results->setColumnWidths());
    SyncOptions();
    m_Explorer->setFocus();
}

void TMainForm::SyncOptions() {
    m_search->showOptions(m_settings->RecurseDirs(), m_settings->FuzzySearch());
    m_settings->RecurseSubdirectories1()->setChecked(m_settings->RecurseDirs());

    m_Toolbar1->setVisible(m_settings->ShowToolbar());
    m_settings->ShowFileToolbar1()->setChecked(m_settings->ShowToolbar());

    m_hintSwitch->setEnabled(m_settings->ShowHints());
    m_settings->ShowFlybyHints1()->setChecked(m_settings->ShowHints());

    m_viewer->pFileViewer()->setVisible(m_settings->ShowViewer());
    m_Splitter2->setVisible(m_settings->ShowViewer());

    m_settings->WarningSearchResultChanged1()->setChecked(m_settings->WarnResultChanged());

    m_pFilters->setVisible(m_settings->ShowFilters());
    m_settings->ShowFilters1()->setChecked(m_settings->ShowFilters());

    m_results->setSortByHeaderClick(m_settings->SortByHeaderClick());
    m_settings->DeleteKeyMovesToTrash1()->setChecked(m_settings->DeleteKeyMovesToTrash());
    syncDeleteKeys();

    m_settings->RecordWalks1()->setChecked(m_settings->RecordWalks());
    m_settings->SearchAsYouType1()->setChecked(m_settings->SearchAsYouType());
    m_settings->SearchAsYouType1()->setEnabled(m_settings->RecordWalks());

    m_sbFileViewer->setChecked(m_settings->ShowViewer());
    m_settings->ShowFileViewer1()->setChecked(m_settings->ShowViewer());

    m_settings->Searchlengthindependendfuzzy1()->setChecked(m_settings->FuzzySearch());
}

void TMainForm::sbRecurseDirsClick() {
    m_settings->setRecurseDirs(!m_settings->RecurseDirs());
    SyncOptions();
}

void TMainForm::sbMeasureClick() {
    m_settings->setFuzzySearch(!m_settings->FuzzySearch());
    SyncOptions();
    // With records on, the record answers again with the other measure.
    answerFromRecord();
}

void TMainForm::ShowFileToolbar1Click() {
    m_settings->setShowToolbar(!m_settings->ShowToolbar());
    SyncOptions();
}

void TMainForm::ShowFlybyHints1Click() {
    m_settings->setShowHints(!m_settings->ShowHints());
    SyncOptions();
}

void TMainForm::sbFileViewerClick() {
    m_settings->setShowViewer(!m_settings->ShowViewer());
    SyncOptions();
}

void TMainForm::WarningSearchResultChanged1Click() {
    m_settings->setWarnResultChanged(!m_settings->WarnResultChanged());
    SyncOptions();
}

void TMainForm::ShowFilters1Click() {
    m_settings->setShowFilters(!m_settings->ShowFilters());
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
    if (m_shown) m_settings->save();
    QMainWindow::closeEvent(event);
}

} // namespace toka
