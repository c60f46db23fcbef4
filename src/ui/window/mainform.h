#pragma once
// TMainForm: the program's one window.  It lays out the controls and wires
// its duties together; each duty with state of its own is a controller that
// owns its controls:
//   results_controller.cpp  the result table: rows, marks, details, order
//   viewer_controller.cpp   the viewer pane and its loads
//   search_controller.cpp   the search text, the search buttons and the
//                           toggles of recursion and measure; the walk on
//                           worker threads, the recorded walks and their mark
//   file_ops_controller.cpp copy, move, delete, trash and open, on workers
//   settings_controller.cpp the option fields, the remembered choices, the
//                           command line's start options, the recent texts
//   status_strip.cpp        the strip under the tool buttons: directory, count
// The window itself owns the rest: the menus, the rows the controllers'
// controls stand in (the search row with its captions and the item count,
// the tool row with the file buttons and the viewer toggle), the tree, the
// splitters and the status bar.  It places every control, and its handlers
// run on their clicks.
// The window's own handlers live in their own files:
//   main_layout.cpp   controls, menus, tool buttons, tab order
//   main_options.cpp  the first show, FormShow, SyncOptions, the toggles, closing
//   mainform.cpp      construction, the directory tree (explorer_tree.cpp)
//   main_search.cpp   searching: StartSearch, the walk on worker threads, EndSearch, Stop
//   main_results.cpp  TimerTimer: the walk's list copied for the table
//   main_viewer.cpp   sgexResultsMouseUp: the marked files to the viewer
//   main_fileops.cpp  the file commands, the rows' context menu, drag and drop
//   main_keys.cpp     keyboard shortcuts: search again, stop, the table's commands
//   main_filters.cpp  the filter bar (filter_bar.cpp): the filter a search takes,
//                     the "Filtered" mark
//   main_records.cpp  recorded walks: the answer of the last walk shown at once,
//                     search as you type, recording and forgetting walks

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPoint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "search/result_row.h"
#include "search/walk_filter.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QSpinBox;
class QSplitter;
class QSplitterHandle;
class QStatusBar;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace toka {

class ExplorerTree;
class FilterBar;
class HintSwitch;
class PathLabel;
struct Volume;
struct WalkRoot;
class FileOpsController;
class ResultsController;
class SearchController;
class SettingsController;
class StatusStrip;
class ViewerController;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    /// The window's caption, exactly.
    static constexpr const char* kCaption = "TOKA Search  - The Nufa File Finder ";

    /// True from StartSearch to the end of EndSearch.
    bool isSearching() const { return m_searching; }
    /// The scanned-entries counter of the current or last search.
    std::uint64_t scannedEntries() const;
    /// The selected directory: the path behind lCurrentDir ("" before any
    /// node is selected).
    std::string selectedDirectory() const;
    /// The filter of the current or last search, as the filter bar gave it
    /// when the search started (changing the bar during a search changes
    /// the next one); the default filter before the first search.
    const WalkFilter& currentFilter() const { return m_filter; }

    /// Copies (code 0) or moves (1) the marked rows into the selected
    /// directory, or deletes them (2): the paths of the marked rows that show
    /// a result entry, in row order, go to the file-operation engine in one
    /// call, even when there is none (the engine then asks nothing).  Then
    /// the "result may have changed" box when WarnResultChanged is on.
    /// Marks and rows stay as they were.  Does nothing while another file
    /// operation of the window runs.  The operation runs on a worker: this
    /// returns at once (fileOps().finished tells the end).
    void DoFileOperation(int code);
    /// The window's duties, each with the controls it owns.
    ResultsController& results() const { return *m_results; }
    ViewerController& viewer() const { return *m_viewer; }
    FileOpsController& fileOps() const { return *m_fileOps; }
    SearchController& search() const { return *m_search; }
    /// The option fields and what outlives a run: the remembered choices,
    /// the command line's start options, the recent search texts.
    SettingsController& settings() const { return *m_settings; }

    /// Writes the rows on view to path, as CSV or as a list of full paths,
    /// on a worker; the status bar says how many rows went where, a box why
    /// none did; resultsSaved follows.  File > Save Results As asks for the
    /// path first.
    void saveResults(const std::string& path, bool asCsv);

    /// How the result rows' context menu names a destination directory
    /// ("Copy to Documents"): its last name, "/" for the root, "" for none.
    static QString destinationName(const std::string& directory);
    /// Help > About's text: version, licence, home page and Qt's version.
    static QString aboutText();
    /// Help > Keyboard Shortcuts' text: one line per key, the key and the
    /// command it runs (read off the menus' commands).
    QString keyboardShortcutsText() const;

    /// The text of the status bar.
    QString statusText() const;
    void setStatusText(const QString& text);

    /// Replaces the tree's top level by these volumes (FormShow passes the
    /// mounted volumes).
    void FillDrives(const std::vector<Volume>& volumes);
    void FillDrives();

    /// Records the walks that run to their end in this folder and answers
    /// from them (walk_record_store.h); "" (the default) records nothing and
    /// reads nothing.  Call before the first search.
    void setRecordDirectory(const std::string& directory);
    /// Called on a listing's own thread before the directory tree lists a
    /// directory (a test holds it there, as a hung mount would).
    void setTreeListingObserver(std::function<void(const std::string& path)> observer);
    /// Selects the directory at path (absolute, without links) in the tree as
    /// a click on its node does, opening the nodes above it and scrolling it
    /// into view.  False, and nothing changes, when the tree has no node for
    /// it (no volume holds it, or it is gone).
    bool selectDirectory(const std::string& path);

    // --- controls: the design's names (see the members for their roles) -------
    QMenu* Fie1() const { return m_Fie1; }
    QAction* Copy1() const { return m_Copy1; }
    QAction* Move1() const { return m_Move1; }
    QAction* Delete1() const { return m_Delete1; }
    QAction* N1() const { return m_N1; }
    QAction* SaveResultsAs1() const { return m_SaveResultsAs1; }
    QAction* E1() const { return m_E1; }
    QMenu* Edit1() const { return m_Edit1; }
    QAction* InvertSelection1() const { return m_InvertSelection1; }
    QMenu* Search1() const { return m_Search1; }
    QAction* N2() const { return m_N2; }
    QAction* Directory1() const { return m_Directory1; }
    QAction* AllFixedDisks1() const { return m_AllFixedDisks1; }
    QAction* Stop1() const { return m_Stop1; }
    QMenu* Options1() const { return m_Options1; }
    QAction* N3() const { return m_N3; }
    QAction* ForgetRecordedWalks1() const { return m_ForgetRecordedWalks1; }
    QMenu* Help1() const { return m_Help1; }
    QAction* KeyboardShortcuts1() const { return m_KeyboardShortcuts1; }
    QAction* AboutTokaSearch1() const { return m_AboutTokaSearch1; }

    QTimer* Timer() const { return m_Timer; }
    QWidget* Panel3() const { return m_Panel3; }
    QFrame* ToolBar0() const { return m_ToolBar0; }
    QWidget* Panel1() const { return m_Panel1; }
    QLabel* Label4() const { return m_Label4; }
    QLabel* Label1() const { return m_Label1; }
    QSpinBox* seNumberofItems() const { return m_seNumberofItems; }
    FilterBar* pFilters() const { return m_pFilters; }
    QWidget* Toolbar1() const { return m_Toolbar1; }
    QFrame* Bevel1() const { return m_Bevel1; }
    QToolButton* sbCopy() const { return m_sbCopy; }
    QToolButton* sbMove() const { return m_sbMove; }
    QToolButton* sbDelete() const { return m_sbDelete; }
    QToolButton* sbInvert() const { return m_sbInvert; }
    QFrame* Bevel2() const { return m_Bevel2; }
    QToolButton* sbFileViewer() const { return m_sbFileViewer; }
    StatusStrip* StatusPanel() const { return m_StatusPanel; }
    QTreeWidget* Explorer() const { return m_Explorer; }
    QSplitterHandle* Splitter1() const { return m_Splitter1; }
    QSplitterHandle* Splitter2() const { return m_Splitter2; }
    QLabel* lSummary() const { return m_lSummary; }
    QStatusBar* StatusBar() const { return m_StatusBar; }

    // --- keyboard commands (main_keys.cpp); the table's act only while the
    // focus is in the table, so the search box keeps its own editing keys.
    QAction* SearchAgain1() const { return m_SearchAgain1; }
    QAction* SearchText1() const { return m_SearchText1; }
    QAction* SelectAll1() const { return m_SelectAll1; }
    QAction* CopyPath1() const { return m_CopyPath1; }
    QAction* MoveToTrash1() const { return m_MoveToTrash1; }

signals:
    /// The rows now show a recorded walk's answer (the table is filled).
    void recordedAnswerShown();
    /// saveResults is over (its box, if any, closed).
    void resultsSaved();

public slots:
    void FormShow();
    void SyncOptions();

    // toggles
    void sbRecurseDirsClick();
    void sbMeasureClick();
    void ShowFileToolbar1Click();
    void ShowFlybyHints1Click();
    void sbFileViewerClick();
    void WarningSearchResultChanged1Click();
    void ShowFilters1Click();
    void E1Click();

    // searching
    void sbSearchClick();
    void sbSearchHDsClick();
    void sbStopClick();

    // the result table
    void TimerTimer();
    void seNumberofItemsChange();
    // the directory tree
    void ExplorerExpanding(QTreeWidgetItem* node);
    void ExplorerCollapsed(QTreeWidgetItem* node);
    void ExplorerChange(QTreeWidgetItem* node);

    // file operations on the marked rows
    void sbCopyClick();
    void sbMoveClick();
    void sbDeleteClick();
    void sbInvertClick();
    void sgexResultsContextMenu(const QPoint& pos);
    /// A drag of result rows passes over node (null: over no node).
    void ExplorerDragOver(QTreeWidgetItem* node);
    /// The drag left the tree or ended: the label shows the selected node.
    void ExplorerDragLeave();
    /// Result rows dropped on node: copied there, moved with Shift.
    void ExplorerDragDrop(QTreeWidgetItem* node, bool move);

    // the file viewer
    void sgexResultsMouseUp();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void createControls();
    void createMenu();
    void createToolButtons();
    void connectHandlers();
    /// Return in the search box or the filter bar starts a search of the
    /// selected directory, as long as searching is possible (not during a
    /// search); of all fixed disks when the command line asked for that and
    /// no directory has been chosen since.
    void searchOnEnter();
    /// Widens the window by what the table's columns need beyond the
    /// designed width, so that no column starts hidden.
    void fitWindowToColumns(int columns);
    void StartSearch();
    /// Starts the walk of roots on worker threads; EndSearch follows when
    /// the last worker is done.
    void startWalk(std::vector<WalkRoot> roots, bool allFixedDisks);
    void EndSearch();
    void showWalkStatus();
    /// Idle: the search's controls (search().setControlsEnabled), the file
    /// buttons, the viewer's toggle and the option commands enabled; during
    /// a search disabled, but for Stop.
    void setSearchControlsEnabled(bool idle);

    void connectFileActions();
    void openResultRow(int row);

    /// After FormShow: the remembered choices, then the command line's
    /// (settings_controller.h); the command line's directory is selected and
    /// its search text searched.
    void applyStartState();

    void connectFilterBar();
    /// lFiltered shows the running search's filter, or else the one the
    /// next search would take.
    void showFilterMark();

    void createRecordCommands();
    /// With records on and not searching, the record of the selected
    /// directory answers the search text with the options on view, if there
    /// is one (typing, a switch of the measure).
    void answerFromRecord();
    /// The pause after a change of the search text is over.
    void searchAsYouType();
    void createSummary();
    /// lSummary tells of the current or last search, the marks and the
    /// last file operation.
    void showSummary();
    void createSaveCommand();
    void saveResultsAs();
    void createShortcuts();
    void createHelpMenu();
    /// Del and Shift+Del are the shortcuts of Move to Trash and Delete only
    /// while DeleteKeyMovesToTrash is on.
    void syncDeleteKeys();
    void searchAgain();
    /// The search command the user started last (F5 repeats it); null
    /// before the first.
    void (TMainForm::*m_lastSearch)() = nullptr;

    std::unique_ptr<ExplorerTree> m_explorer; ///< fills and expands the nodes of Explorer
    std::unique_ptr<HintSwitch> m_hintSwitch; ///< turns every tooltip of the window on or off
    ResultsController* m_results = nullptr;   ///< the table, its rows and marks
    ViewerController* m_viewer = nullptr;     ///< the viewer pane and its loads
    FileOpsController* m_fileOps = nullptr;   ///< copy, move, delete, trash, open
    SearchController* m_search = nullptr;     ///< the search's controls, the walk, the recorded walks
    QSplitter* m_treeSplitter = nullptr;      ///< tree | table (handle: Splitter1)
    QSplitter* m_viewerSplitter = nullptr;    ///< Panel3 above pFileViewer (handle: Splitter2)
    QLabel* m_statusLabel = nullptr;          ///< the text of StatusBar

    bool m_shown = false;            ///< FormShow has run (on the first show only)
    QElapsedTimer m_searchClock;     ///< started by each search (invalid before the first)
    std::int64_t m_searchTook = 0;   ///< the last search's time, in ms
    bool m_searching = false;        ///< see isSearching
    bool m_stopRequest = false;      ///< Stop was pressed during the current search
    WalkFilter m_filter;             ///< see currentFilter
    bool m_closeRequested = false;   ///< closing waits for the running search to end
    QTimer* m_statusTimer = nullptr; ///< shows the directory being listed, several times a second
    LocaleFormat m_locale;           ///< the desktop's date, time and number formats

    SettingsController* m_settings = nullptr; ///< the option fields, the remembered choices
    bool m_enterSearchesAllDisks = false;     ///< --all-fixed-disks without a text, until a directory is chosen

    QTimer* m_typingTimer = nullptr; ///< the pause after the search text changed

    // --- the controls, by the design's names; each comment gives the caption
    // or the role.
    QMenu* m_Fie1 = nullptr;                   ///< menu "&File"
    QAction* m_Copy1 = nullptr;                ///< File > "&Copy...": marked rows into the selected directory
    QAction* m_Move1 = nullptr;                ///< File > "&Move..."
    QAction* m_Delete1 = nullptr;              ///< File > "&Delete..."
    QAction* m_N1 = nullptr;                   ///< File: separator before Exit
    QAction* m_SaveResultsAs1 = nullptr;       ///< File > "Save Results &As...": the rows as CSV or a path list
    QAction* m_E1 = nullptr;                   ///< File > "&Exit...": closes the window
    QMenu* m_Edit1 = nullptr;                  ///< menu "&Edit"
    QAction* m_InvertSelection1 = nullptr;     ///< Edit > "&Invert Selection...": inverts the row marks
    QMenu* m_Search1 = nullptr;                ///< menu "&Search"
    QAction* m_N2 = nullptr;                   ///< Search: separator before the search commands
    QAction* m_Directory1 = nullptr;           ///< Search > "&Directory...": searches the selected directory
    QAction* m_AllFixedDisks1 = nullptr;       ///< Search > "All &Fixed Disks..."
    QAction* m_Stop1 = nullptr;                ///< Search > "Stop...": enabled during a search
    QMenu* m_Options1 = nullptr;               ///< menu "&View"
    QAction* m_N3 = nullptr;                   ///< View: separator before the warning option
    QAction* m_ForgetRecordedWalks1 = nullptr; ///< Search > "Forget Recorded Wal&ks"
    QMenu* m_Help1 = nullptr;                  ///< menu "Hel&p", after the window's own menus
    QAction* m_KeyboardShortcuts1 = nullptr;   ///< Help > "Keyboard Shortcuts": every key and its command
    QAction* m_AboutTokaSearch1 = nullptr;     ///< Help > "About TOKA Search": version, licence, home page, Qt
    QTimer* m_Timer = nullptr;                 ///< refreshes count and result table every second during a search
    QWidget* m_Panel3 = nullptr;            ///< the upper pane: search row, tool buttons, status strip, tree and table
    QFrame* m_ToolBar0 = nullptr;           ///< raised frame around the search row
    QWidget* m_Panel1 = nullptr;            ///< the search row inside ToolBar0
    QLabel* m_Label4 = nullptr;             ///< caption "Search for:"
    QLabel* m_Label1 = nullptr;             ///< caption "Items:"
    QSpinBox* m_seNumberofItems = nullptr;  ///< rows shown in the table, 10..100 in steps of 10
    FilterBar* m_pFilters = nullptr;        ///< the filter bar under the search row ("Show Filters")
    QWidget* m_Toolbar1 = nullptr;          ///< the row of tool buttons ("Show Toolbar" hides it)
    QFrame* m_Bevel1 = nullptr;             ///< separator line between the search and the file buttons
    QToolButton* m_sbCopy = nullptr;        ///< tool button "Copy selected Files to highlighted Directory"
    QToolButton* m_sbMove = nullptr;        ///< tool button "Move selected Files to highlighted Directory"
    QToolButton* m_sbDelete = nullptr;      ///< tool button "Delete selected Files"
    QToolButton* m_sbInvert = nullptr;      ///< tool button "Invert selected Files" (the marks)
    QFrame* m_Bevel2 = nullptr;             ///< separator line before the viewer button
    QToolButton* m_sbFileViewer = nullptr;  ///< toggle "Toggle File Viewer"
    StatusStrip* m_StatusPanel = nullptr;   ///< the status strip under the tool buttons (status_strip.h)
    QTreeWidget* m_Explorer = nullptr;      ///< the directory tree: volumes at the top level
    QSplitterHandle* m_Splitter1 = nullptr; ///< the handle between tree and table
    QSplitterHandle* m_Splitter2 = nullptr; ///< the handle above the viewer pane
    QLabel* m_lSummary = nullptr;           ///< the summary at the right of StatusBar: scanned, time, skipped, marked
    QStatusBar* m_StatusBar = nullptr;      ///< the window's status bar ("Ready", the walk's directory)
    QAction* m_SearchAgain1 = nullptr;      ///< Search > "Search &Again" (F5): the last search started, current text
    QAction* m_SearchText1 = nullptr;  ///< Search > "Search &Text" (Ctrl+F, Ctrl+L): focus to eSearch, all selected
    QAction* m_SelectAll1 = nullptr;   ///< Edit > "Select &All" (Ctrl+A): marks every row that shows an entry
    QAction* m_CopyPath1 = nullptr;    ///< Edit > "&Copy Path" (Ctrl+C): the marked rows' paths to the clipboard
    QAction* m_MoveToTrash1 = nullptr; ///< File > "Move to &Trash" (Del): the marked rows, without a question
};

} // namespace toka
