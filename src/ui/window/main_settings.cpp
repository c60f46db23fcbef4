// What outlives a run and what the command line asks for: the remembered
// choices applied over FormShow's defaults, the command line's over those,
// the recent search texts, and saving when the window closes.
#include <QAction>
#include <QCompleter>
#include <QHeaderView>
#include <QLineEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QStringListModel>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "ui/widgets/explorer_tree.h"
#include "ui/widgets/filter_bar.h"
#include "ui/window/mainform.h"
#include "ui/window/results_controller.h"
#include "ui/logic/remembered_settings.h"
#include "ui/widgets/strgrdex.h"

namespace toka {

void TMainForm::setSettingsFile(const QString& file) { m_settingsFile = file; }

void TMainForm::setStartOptions(const StartOptions& options) { m_startOptions = options; }

void TMainForm::connectSettings() {
    m_recentTexts = new QStringListModel(this);
    auto* completer = new QCompleter(m_recentTexts, m_eSearch);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_eSearch->setCompleter(completer);
    // Connected before the search handlers, so the text is remembered as
    // its search starts; the search controls are enabled exactly when one
    // can start.
    const auto remember = [this] {
        if (!m_searching && m_sbSearchDir->isEnabled()) rememberSearchText();
    };
    for (QToolButton* button : {m_sbSearchDir, m_sbSearchHDs}) connect(button, &QToolButton::clicked, this, remember);
    for (QAction* action : {m_Directory1, m_AllFixedDisks1}) connect(action, &QAction::triggered, this, remember);
    connect(m_eSearch, &QLineEdit::returnPressed, this, remember);
}

void TMainForm::rememberSearchText() {
    const QStringList texts = withRecentText(m_recentTexts->stringList(), m_eSearch->text());
    if (texts == m_recentTexts->stringList()) return;
    m_recentTexts->setStringList(texts);
    if (m_settingsFile.isEmpty()) return;
    RememberedSettings settings;
    settings.recentTexts = texts;
    writeSettings(m_settingsFile, settings);
}

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

void TMainForm::applyStartState() {
    const RememberedSettings remembered =
        m_settingsFile.isEmpty() ? RememberedSettings{} : readSettings(m_settingsFile);
    const std::pair<const std::optional<bool>&, bool&> options[] = {
        {remembered.recurseDirs, RecurseDirs},
        {remembered.fuzzySearch, FuzzySearch},
        {remembered.warnResultChanged, WarnResultChanged},
        {remembered.showToolbar, ShowToolbar},
        {remembered.showHints, ShowHints},
        {remembered.showViewer, ShowViewer},
        {remembered.showFilters, ShowFilters},
        {remembered.recordWalks, RecordWalks},
        {remembered.searchAsYouType, SearchAsYouType},
        {remembered.sortByHeaderClick, SortByHeaderClick},
        {remembered.deleteKeyMovesToTrash, DeleteKeyMovesToTrash},
    };
    for (const auto& [value, field] : options)
        if (value) field = *value;
    const StartOptions& start = m_startOptions;
    if (start.fuzzySearch) {
        m_fuzzyOverride = RunOverride{FuzzySearch, *start.fuzzySearch};
        FuzzySearch = *start.fuzzySearch;
    }
    if (start.noRecurse) {
        m_recurseOverride = RunOverride{RecurseDirs, false};
        RecurseDirs = false;
    }
    SyncOptions();

    if (remembered.numberOfItems) m_seNumberofItems->setValue(*remembered.numberOfItems);
    if (remembered.filters) m_pFilters->setFilter(*remembered.filters);
    if (!remembered.geometry.isEmpty()) restoreGeometry(remembered.geometry);
    if (!remembered.windowState.isEmpty()) restoreState(remembered.windowState);
    // Column widths and pane sizes are pixels of the font and scale they
    // were measured in: after a change of either the designed ones, fitted
    // to the new font, stay.  A column is never narrower than a few letters.
    if (remembered.layoutKey.isEmpty() || remembered.layoutKey == layoutKey()) {
        const int narrowest = fontMetrics().averageCharWidth() * 3;
        for (int c = 0; c < remembered.columnWidths.size(); ++c)
            m_results->sgexResults()->setColumnWidth(c, std::max(narrowest, remembered.columnWidths[c]));
        if (!remembered.treeSplitter.isEmpty()) m_treeSplitter->setSizes(remembered.treeSplitter);
        if (!remembered.viewerSplitter.isEmpty()) m_viewerSplitter->setSizes(remembered.viewerSplitter);
    }
    m_recentTexts->setStringList(remembered.recentTexts);

    // A remembered directory that is gone is passed over.
    if (start.directory.empty() || !selectDirectory(start.directory)) selectDirectory(remembered.lastDirectory);

    if (start.allFixedDisks && !start.searchText) {
        // Ready to search every fixed disk: the text is typed, Enter searches.
        m_enterSearchesAllDisks = true;
        m_eSearch->setPlaceholderText(QStringLiteral("Search all fixed disks"));
        m_eSearch->setFocus();
    }
    if (start.searchText) {
        m_eSearch->setText(*start.searchText);
        // Queued: the window is up before the search begins.
        QTimer::singleShot(0, this, [this] {
            if (!m_sbSearchDir->isEnabled()) return;
            rememberSearchText();
            m_lastSearch = m_startOptions.allFixedDisks ? &TMainForm::sbSearchHDsClick : &TMainForm::sbSearchClick;
            (this->*m_lastSearch)();
        });
    }
}

QString TMainForm::layoutKey() const {
    return QStringLiteral("%1 %2pt %3dpi x%4")
        .arg(font().family())
        .arg(font().pointSizeF())
        .arg(logicalDpiX())
        .arg(devicePixelRatio());
}

void TMainForm::saveSettings() {
    if (m_settingsFile.isEmpty() || !m_shown) return;
    // An option the command line set is remembered as before, unless the
    // user has changed it since.
    const auto lasting = [](const std::optional<RunOverride>& given, bool now) {
        return given && now == given->given ? given->remembered : now;
    };
    RememberedSettings settings;
    settings.recurseDirs = lasting(m_recurseOverride, RecurseDirs);
    settings.fuzzySearch = lasting(m_fuzzyOverride, FuzzySearch);
    settings.warnResultChanged = WarnResultChanged;
    settings.showToolbar = ShowToolbar;
    settings.showHints = ShowHints;
    settings.showViewer = ShowViewer;
    settings.showFilters = ShowFilters;
    settings.recordWalks = RecordWalks;
    settings.searchAsYouType = SearchAsYouType;
    settings.sortByHeaderClick = SortByHeaderClick;
    settings.deleteKeyMovesToTrash = DeleteKeyMovesToTrash;
    settings.filters = m_pFilters->choices();
    settings.numberOfItems = m_seNumberofItems->value();
    settings.geometry = saveGeometry();
    settings.windowState = saveState();
    settings.treeSplitter = m_treeSplitter->sizes();
    // A hidden viewer has no height: the one it had last time stays.
    if (!m_viewerSplitter->sizes().contains(0)) settings.viewerSplitter = m_viewerSplitter->sizes();
    const TStringGridEx& grid = *m_results->sgexResults();
    for (int c = 0; c < grid.columnCount(); ++c) settings.columnWidths << grid.columnWidth(c);
    settings.layoutKey = layoutKey();
    settings.lastDirectory = selectedDirectory();
    settings.recentTexts = m_recentTexts->stringList();
    writeSettings(m_settingsFile, settings);
}

} // namespace toka
