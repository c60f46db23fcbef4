// What outlives a run and what the command line asks for: the remembered
// choices applied over FormShow's defaults, the command line's over those,
// the recent search texts, and saving when the window closes.
#include "ui/window/settings_controller.h"

#include <QAction>
#include <QCompleter>
#include <QLineEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QStringListModel>
#include <QToolButton>

#include <algorithm>
#include <utility>

#include "ui/logic/remembered_settings.h"
#include "ui/logic/serial_worker.h"
#include "ui/widgets/filter_bar.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/mainform.h"
#include "ui/window/results_controller.h"
#include "ui/window/search_controller.h"

namespace toka {

namespace {

// Each option field and where the file keeps it.
struct OptionField {
    std::optional<bool> RememberedSettings::*remembered;
    bool (SettingsController::*get)() const;
    void (SettingsController::*set)(bool);
};

constexpr OptionField kOptionFields[] = {
    {&RememberedSettings::recurseDirs, &SettingsController::RecurseDirs, &SettingsController::setRecurseDirs},
    {&RememberedSettings::fuzzySearch, &SettingsController::FuzzySearch, &SettingsController::setFuzzySearch},
    {&RememberedSettings::warnResultChanged, &SettingsController::WarnResultChanged,
     &SettingsController::setWarnResultChanged},
    {&RememberedSettings::showToolbar, &SettingsController::ShowToolbar, &SettingsController::setShowToolbar},
    {&RememberedSettings::showHints, &SettingsController::ShowHints, &SettingsController::setShowHints},
    {&RememberedSettings::showViewer, &SettingsController::ShowViewer, &SettingsController::setShowViewer},
    {&RememberedSettings::showFilters, &SettingsController::ShowFilters, &SettingsController::setShowFilters},
    {&RememberedSettings::recordWalks, &SettingsController::RecordWalks, &SettingsController::setRecordWalks},
    {&RememberedSettings::searchAsYouType, &SettingsController::SearchAsYouType,
     &SettingsController::setSearchAsYouType},
    {&RememberedSettings::sortByHeaderClick, &SettingsController::SortByHeaderClick,
     &SettingsController::setSortByHeaderClick},
    {&RememberedSettings::deleteKeyMovesToTrash, &SettingsController::DeleteKeyMovesToTrash,
     &SettingsController::setDeleteKeyMovesToTrash},
    {&RememberedSettings::allPictureFormats, &SettingsController::AllPictureFormats,
     &SettingsController::setAllPictureFormats},
};

} // namespace

SettingsController::~SettingsController() = default;

void SettingsController::setFile(const QString& file) {
    m_file = file;
    m_remembered = std::make_unique<RememberedSettings>(file.isEmpty() ? RememberedSettings{} : readSettings(file));
}

void SettingsController::write(const RememberedSettings& settings) {
    if (!m_writer) m_writer = std::make_unique<SerialWorker>();
    m_writer->post([file = m_file, settings] { writeSettings(file, settings); });
}

SettingsController::SettingsController(TMainForm& window) : QObject(&window), m_window(window) {
    const auto option = [this](const char* caption, bool checked) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setCheckable(true);
        action->setChecked(checked);
        return action;
    };
    // The designed states; FormShow and SyncOptions set them from the fields.
    m_RecurseSubdirectories1 = option("&Recurse Subdirectories", true);
    m_Searchlengthindependendfuzzy1 = option("Search length &independend (fuzzy)", true);
    m_SearchAsYouType1 = option("Search as You T&ype", m_searchAsYouType);
    m_RecordWalks1 = option("Record &Walks", m_recordWalks);
    m_ShowFileToolbar1 = option("Show &Toolbar", true);
    m_ShowFlybyHints1 = option("Show Flyby &Hints", true);
    m_ShowFileViewer1 = option("Show File &Viewer", true);
    m_ShowFilters1 = option("Show &Filters", false);
    m_WarningSearchResultChanged1 = option("&Warning \"Search Result Changed\"", true);
    m_DeleteKeyMovesToTrash1 = option("&Delete Key Moves to Trash", false);
    m_AllPictureFormats1 = option("All &Picture Formats", false);
    m_AllPictureFormats1->setToolTip(
        QStringLiteral("Show every picture format this system reads (PNG, JPEG, GIF, ...) as a picture, "
                       "not only .bmp, .ico and .wmf files"));
    // These four are switched by their commands alone.
    connect(m_SearchAsYouType1, &QAction::toggled, this, [this](bool on) { m_searchAsYouType = on; });
    connect(m_RecordWalks1, &QAction::toggled, this, [this](bool on) {
        m_recordWalks = on;
        m_SearchAsYouType1->setEnabled(on);
    });
    connect(m_DeleteKeyMovesToTrash1, &QAction::toggled, this, [this](bool on) { m_deleteKeyMovesToTrash = on; });
    connect(m_AllPictureFormats1, &QAction::toggled, this, [this](bool on) { m_allPictureFormats = on; });
}

void SettingsController::connectSearchBox() {
    TMainForm& window = m_window;
    m_recentTexts = new QStringListModel(&window);
    QLineEdit* box = window.search().eSearch();
    auto* completer = new QCompleter(m_recentTexts, box);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    box->setCompleter(completer);
    // Connected before the window's search handlers, so the text is
    // remembered as its search starts; the search controls are enabled
    // exactly when one can start.
    const auto remember = [this] {
        if (!m_window.isSearching() && m_window.search().sbSearchDir()->isEnabled()) rememberSearchText();
    };
    for (QToolButton* button : {window.search().sbSearchDir(), window.search().sbSearchHDs()})
        connect(button, &QToolButton::clicked, this, remember);
    for (QAction* action : {window.Directory1(), window.AllFixedDisks1()})
        connect(action, &QAction::triggered, this, remember);
    connect(box, &QLineEdit::returnPressed, this, remember);
}

void SettingsController::setDesignedDefaults() {
    m_recurseDirs = true;
    m_warnResultChanged = true;
    m_fuzzySearch = true;
    m_showToolbar = true;
    m_showHints = true;
    m_showViewer = false;
    m_showFilters = false;
}

void SettingsController::rememberSearchText() {
    const QStringList texts = withRecentText(m_recentTexts->stringList(), m_window.search().eSearch()->text());
    if (texts == m_recentTexts->stringList()) return;
    m_recentTexts->setStringList(texts);
    if (m_file.isEmpty()) return;
    RememberedSettings settings;
    settings.recentTexts = texts;
    write(settings);
}

std::string SettingsController::applyRemembered() {
    const RememberedSettings remembered = m_remembered ? *m_remembered : RememberedSettings{};
    for (const OptionField& option : kOptionFields)
        if (const std::optional<bool>& value = remembered.*option.remembered) (this->*option.set)(*value);
    if (m_startOptions.fuzzySearch) {
        m_fuzzyOverride = RunOverride{m_fuzzySearch, *m_startOptions.fuzzySearch};
        m_fuzzySearch = *m_startOptions.fuzzySearch;
    }
    if (m_startOptions.noRecurse) {
        m_recurseOverride = RunOverride{m_recurseDirs, false};
        m_recurseDirs = false;
    }
    if (m_startOptions.allPictures) {
        m_allPicturesOverride = RunOverride{m_allPictureFormats, true};
        m_allPictureFormats = true;
    }
    m_window.SyncOptions();
    m_AllPictureFormats1->setChecked(m_allPictureFormats);

    if (remembered.numberOfItems) m_window.seNumberofItems()->setValue(*remembered.numberOfItems);
    if (remembered.filters) m_window.pFilters()->setFilter(*remembered.filters);
    if (!remembered.geometry.isEmpty()) m_window.restoreGeometry(remembered.geometry);
    if (!remembered.windowState.isEmpty()) m_window.restoreState(remembered.windowState);
    // Column widths and pane sizes are pixels of the font and scale they
    // were measured in: after a change of either the designed ones, fitted
    // to the new font, stay.  A column is never narrower than a few letters.
    if (remembered.layoutKey.isEmpty() || remembered.layoutKey == layoutKey()) {
        const int narrowest = m_window.fontMetrics().averageCharWidth() * 3;
        TStringGridEx* grid = m_window.results().sgexResults();
        for (int c = 0; c < remembered.columnWidths.size(); ++c)
            grid->setColumnWidth(c, std::max(narrowest, remembered.columnWidths[c]));
        if (!remembered.treeSplitter.isEmpty()) m_window.Splitter1()->splitter()->setSizes(remembered.treeSplitter);
        if (!remembered.viewerSplitter.isEmpty()) m_window.Splitter2()->splitter()->setSizes(remembered.viewerSplitter);
    }
    m_recentTexts->setStringList(remembered.recentTexts);
    return remembered.lastDirectory;
}

QString SettingsController::layoutKey() const {
    return QStringLiteral("%1 %2pt %3dpi x%4")
        .arg(m_window.font().family())
        .arg(m_window.font().pointSizeF())
        .arg(m_window.logicalDpiX())
        .arg(m_window.devicePixelRatio());
}

void SettingsController::save() {
    if (m_file.isEmpty()) return;
    RememberedSettings settings;
    for (const OptionField& option : kOptionFields) settings.*option.remembered = (this->*option.get)();
    // An option the command line set is remembered as before, unless the
    // user has changed it since.
    const auto lasting = [](const std::optional<RunOverride>& given, bool now) {
        return given && now == given->given ? given->remembered : now;
    };
    settings.recurseDirs = lasting(m_recurseOverride, m_recurseDirs);
    settings.fuzzySearch = lasting(m_fuzzyOverride, m_fuzzySearch);
    settings.allPictureFormats = lasting(m_allPicturesOverride, m_allPictureFormats);
    settings.filters = m_window.pFilters()->choices();
    settings.numberOfItems = m_window.seNumberofItems()->value();
    settings.geometry = m_window.saveGeometry();
    settings.windowState = m_window.saveState();
    settings.treeSplitter = m_window.Splitter1()->splitter()->sizes();
    // A hidden viewer has no height: the one it had last time stays.
    const QList<int> viewerSizes = m_window.Splitter2()->splitter()->sizes();
    if (!viewerSizes.contains(0)) settings.viewerSplitter = viewerSizes;
    const TStringGridEx& grid = *m_window.results().sgexResults();
    for (int c = 0; c < grid.columnCount(); ++c) settings.columnWidths << grid.columnWidth(c);
    settings.layoutKey = layoutKey();
    settings.lastDirectory = m_window.selectedDirectory();
    settings.recentTexts = m_recentTexts->stringList();
    write(settings);
    // The window is closing: its choices are on disk before the program
    // ends.
    m_writer->waitUntilIdle();
}

} // namespace toka
