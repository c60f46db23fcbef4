#pragma once
// What outlives a run: the options of the View, Search and Edit menus,
// the remembered choices (remembered_settings.h) read over the designed
// defaults when the window is first shown, the command line's start options
// over those, the recent search texts the search box offers, and the
// window's choices and layout written when it closes.

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>

#include "ui/logic/command_line.h"

class QAction;
class QStringListModel;

namespace toka {

class TMainForm;
class SerialWorker;
struct RememberedSettings;

class SettingsController : public QObject {
    Q_OBJECT
public:
    /// Remembers the choices and the layout of window.  Made before the
    /// window's controls: the menus take the option commands.
    explicit SettingsController(TMainForm& window);
    /// Finishes the writes asked for.
    ~SettingsController() override;
    /// Once the window's controls are made: the search box offers the
    /// recent texts, and a search that starts puts its text first among them.
    void connectSearchBox();

    // --- the option fields: the designed defaults (FormShow), then the
    // remembered choices, then the command line's; then only the toggles.
    bool RecurseDirs() const { return m_recurseDirs; }
    bool FuzzySearch() const { return m_fuzzySearch; }
    bool WarnResultChanged() const { return m_warnResultChanged; }
    bool ShowToolbar() const { return m_showToolbar; }
    bool ShowHints() const { return m_showHints; }
    bool ShowViewer() const { return m_showViewer; }
    bool ShowFilters() const { return m_showFilters; }         ///< the filter bar (hidden at first)
    bool RecordWalks() const { return m_recordWalks; }         ///< walks are recorded and answer at once (off at first)
    bool SearchAsYouType() const { return m_searchAsYouType; } ///< typing replays the selected directory's record
    bool SortByHeaderClick() const { return m_sortByHeaderClick; }         ///< a header click sorts by that column
    bool DeleteKeyMovesToTrash() const { return m_deleteKeyMovesToTrash; } ///< Del (Shift+Del) trashes (deletes)
    bool AllPictureFormats() const {
        return m_allPictureFormats;
    } ///< the viewer shows every format Qt reads as a picture

    void setRecurseDirs(bool on) { m_recurseDirs = on; }
    void setFuzzySearch(bool on) { m_fuzzySearch = on; }
    void setWarnResultChanged(bool on) { m_warnResultChanged = on; }
    void setShowToolbar(bool on) { m_showToolbar = on; }
    void setShowHints(bool on) { m_showHints = on; }
    void setShowViewer(bool on) { m_showViewer = on; }
    void setShowFilters(bool on) { m_showFilters = on; }
    void setRecordWalks(bool on) { m_recordWalks = on; }
    void setSearchAsYouType(bool on) { m_searchAsYouType = on; }
    void setSortByHeaderClick(bool on) { m_sortByHeaderClick = on; }
    void setDeleteKeyMovesToTrash(bool on) { m_deleteKeyMovesToTrash = on; }
    void setAllPictureFormats(bool on) { m_allPictureFormats = on; }

    // --- the options' commands (checkable), items of the window's menus:
    // typing, records, the Del key and the picture formats set their fields
    // when switched.
    QAction* RecurseSubdirectories1() const { return m_RecurseSubdirectories1; }
    QAction* Searchlengthindependendfuzzy1() const { return m_Searchlengthindependendfuzzy1; }
    QAction* SearchAsYouType1() const { return m_SearchAsYouType1; }
    QAction* RecordWalks1() const { return m_RecordWalks1; }
    QAction* ShowFileToolbar1() const { return m_ShowFileToolbar1; }
    QAction* ShowFlybyHints1() const { return m_ShowFlybyHints1; }
    QAction* ShowFileViewer1() const { return m_ShowFileViewer1; }
    QAction* ShowFilters1() const { return m_ShowFilters1; }
    QAction* WarningSearchResultChanged1() const { return m_WarningSearchResultChanged1; }
    QAction* DeleteKeyMovesToTrash1() const { return m_DeleteKeyMovesToTrash1; }
    QAction* AllPictureFormats1() const { return m_AllPictureFormats1; }

    /// The defaults the window is shown with (FormShow): recursion, the
    /// fuzzy measure, the warning, toolbar and hints on; viewer and filter
    /// bar hidden.  The record, typing, header, Del and picture options keep
    /// theirs.
    void setDesignedDefaults();

    // --- what outlives a run --------------------------------------------------
    /// Remembers the choices in this INI file: read here, before the window
    /// is shown (they are applied when it is first shown), and written when
    /// it closes; the recent search texts also when a search starts.  Every
    /// write runs on a worker of its own, in order: a slow home folder holds
    /// the worker, not the window; the window waits only, as it closes, for
    /// its last write.  "" (the default) reads and writes nothing.
    void setFile(const QString& file);
    /// What the command line asks for this run (applyRemembered takes its
    /// options; the window its directory and search text).
    void setStartOptions(const StartOptions& options) { m_startOptions = options; }
    const StartOptions& startOptions() const { return m_startOptions; }

    /// The recent search texts, newest first (the search box's completer).
    QStringListModel* recentTexts() const { return m_recentTexts; }
    /// The search box's text goes first in the recent texts (and into the file).
    void rememberSearchText();

    /// Reads the remembered choices over the option fields, the command
    /// line's options over those, and gives the window's controls, size and
    /// panes what was remembered.  Returns the directory selected last ("" none).
    std::string applyRemembered();
    /// Writes the options (one the command line set keeps the value it had
    /// before, unless the user changed it), the controls' choices, the
    /// layout and the recent texts.
    void save();
    /// The font and scale the window's sizes are measured in.
    QString layoutKey() const;

private:
    /// Writes settings into the file on the writer's worker.
    void write(const RememberedSettings& settings);

    TMainForm& m_window;
    QString m_file;
    std::unique_ptr<RememberedSettings> m_remembered; ///< what the file held when it was set
    std::unique_ptr<SerialWorker> m_writer;
    StartOptions m_startOptions;
    QStringListModel* m_recentTexts = nullptr;
    /// An option the command line set for this run: the value remembered
    /// before, which is written back unless the user changed the option.
    struct RunOverride {
        bool remembered;
        bool given;
    };
    std::optional<RunOverride> m_fuzzyOverride;
    std::optional<RunOverride> m_recurseOverride;
    std::optional<RunOverride> m_allPicturesOverride;

    QAction* m_RecurseSubdirectories1 = nullptr;        ///< Search > "&Recurse Subdirectories"
    QAction* m_Searchlengthindependendfuzzy1 = nullptr; ///< Search > "Search length &independend (fuzzy)"
    QAction* m_SearchAsYouType1 = nullptr;              ///< Search > "Search as You T&ype"
    QAction* m_RecordWalks1 = nullptr;                  ///< Search > "Record &Walks"
    QAction* m_ShowFileToolbar1 = nullptr;              ///< View > "Show &Toolbar"
    QAction* m_ShowFlybyHints1 = nullptr;               ///< View > "Show Flyby &Hints": tooltips on or off
    QAction* m_ShowFileViewer1 = nullptr;               ///< View > "Show File &Viewer"
    QAction* m_ShowFilters1 = nullptr;                  ///< View > "Show &Filters": the filter bar
    QAction* m_WarningSearchResultChanged1 = nullptr;   ///< View > "&Warning "Search Result Changed""
    QAction* m_DeleteKeyMovesToTrash1 = nullptr;        ///< Edit > "Delete Key Moves to Trash" (off at first)
    QAction* m_AllPictureFormats1 = nullptr;            ///< View > "All Picture Formats" (off at first)

    bool m_recurseDirs = true;
    bool m_fuzzySearch = true;
    bool m_warnResultChanged = true;
    bool m_showToolbar = true;
    bool m_showHints = true;
    bool m_showViewer = true;
    bool m_showFilters = false;
    bool m_recordWalks = false;
    bool m_searchAsYouType = false;
    bool m_sortByHeaderClick = false;
    bool m_deleteKeyMovesToTrash = false;
    bool m_allPictureFormats = false;
};

} // namespace toka
