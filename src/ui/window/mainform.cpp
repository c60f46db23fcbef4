// TMainForm's construction and its small handlers: the directory tree, the
// selected directory, the status text.
#include "ui/window/mainform.h"
#include "ui/window/status_strip.h"

#include <QLabel>
#include <QSpinBox>
#include <QTimer>
#include <QLineEdit>
#include <QLocale>
#include <QTreeWidget>

#include "platform/listing/volumes.h"
#include "ui/window/search_controller.h"
#include "ui/window/settings_controller.h"
#include "ui/widgets/accessible_names.h"
#include "ui/widgets/explorer_tree.h"
#include "ui/widgets/hint_switch.h"
#include "ui/logic/locale_format.h"
#include "ui/widgets/path_label.h"
#include "ui/widgets/strgrdex.h"
#include "ui/widgets/text_memo.h"
#include "ui/window/results_controller.h"
#include "ui/window/viewer_controller.h"

namespace toka {

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent), m_locale(localeFormatOf(QLocale::system())) {
    setObjectName("MainForm");
    m_settings = new SettingsController(*this); // its options are items of the menus
    m_search = new SearchController(this);      // its controls stand in the rows createControls makes
    createControls();
    m_explorer = std::make_unique<ExplorerTree>(m_Explorer);
    m_hintSwitch = std::make_unique<HintSwitch>(this);
    m_search->showAnswersIn(*m_results, m_StatusPanel);
    connect(m_search, &SearchController::walkFinished, this, &TMainForm::EndSearch);
    m_settings->connectSearchBox(); // before the search handlers: see there
    connectHandlers();
    connectFilterBar();
    connectFileActions();
    createShortcuts();
    createRecordCommands();
    createSaveCommand();
    createSummary();
    // Screen readers name every control: the text boxes by their labels,
    // the icon buttons by their hints.
    m_Label4->setBuddy(m_search->eSearch());
    m_Label1->setBuddy(m_seNumberofItems);
    m_results->sgexResults()->setAccessibleName(QStringLiteral("Search results"));
    m_viewer->mFileViewer()->setAccessibleName(QStringLiteral("File viewer"));
    nameControlsForAccessibility(this);
    createHelpMenu();
}

// The walk goes first: its last worker must not post the end of the search
// to a window that is half destroyed; the record handed over last is written.
TMainForm::~TMainForm() { delete m_search; }

std::string TMainForm::selectedDirectory() const { return m_StatusPanel->lCurrentDir()->path(); }

QString TMainForm::statusText() const { return m_statusLabel->text(); }

void TMainForm::setStatusText(const QString& text) { m_statusLabel->setText(text); }

bool TMainForm::selectDirectory(const std::string& path) {
    QTreeWidgetItem* node = m_explorer->revealPath(path);
    if (!node) return false;
    m_Explorer->setCurrentItem(node); // selects it: ExplorerChange shows it in lCurrentDir
    m_Explorer->scrollToItem(node);
    // Once the window is laid out the tree knows its height.
    QTimer::singleShot(0, m_Explorer, [tree = m_Explorer] {
        if (QTreeWidgetItem* current = tree->currentItem()) tree->scrollToItem(current);
    });
    return true;
}

void TMainForm::FillDrives(const std::vector<Volume>& volumes) { m_explorer->fillVolumes(volumes); }

void TMainForm::FillDrives() { FillDrives(mountedVolumes()); }

void TMainForm::ExplorerExpanding(QTreeWidgetItem* node) { m_explorer->expanding(node); }

void TMainForm::setTreeListingObserver(std::function<void(const std::string&)> observer) {
    m_explorer->setListingObserver(std::move(observer));
}

void TMainForm::ExplorerCollapsed(QTreeWidgetItem* node) { m_explorer->collapsed(node); }

void TMainForm::ExplorerChange(QTreeWidgetItem* node) {
    m_StatusPanel->lCurrentDir()->setPath(GetNodePath(node));
    // A directory chosen: Enter searches it again, as designed.
    if (m_enterSearchesAllDisks) {
        m_enterSearchesAllDisks = false;
        m_search->eSearch()->setPlaceholderText({});
    }
}

} // namespace toka
