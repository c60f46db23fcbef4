#pragma once
// TMainForm: the program's one window.  It owns every control, the six option
// fields, the stop request, the walk of the running search and the result
// copy.  The duties live in their own files:
//   main_layout.cpp   controls, menus, tool buttons, tab order
//   main_options.cpp  FormShow, SyncOptions, the toggles, hints, closing
//   mainform.cpp      construction, the directory tree (explorer_tree.cpp)
//   main_search.cpp   searching: StartSearch, the walk, EndSearch, Stop
//   main_results.cpp  the result table: TimerTimer, drawing (result_table.cpp)
//   main_viewer.cpp   the file viewer: sgexResultsMouseUp, ViewFile (text_memo.cpp)
//   main_fileops.cpp  copy, move, delete, invert; open, trash, drag and drop (result_drag.cpp)

#include <QMainWindow>
#include <QPainter>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/volumes.h"
#include "search/result_row.h"
#include "similar/simlist.h"
#include "ui/text_memo.h"

class QAction;
class QFrame;
class QLabel;
class QLineEdit;
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
class HintSwitch;
class PathLabel;
class Scanner;
class TStringGridEx;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    /// The window's caption, exactly.
    static constexpr const char* kCaption = "TOKA Search  - The Nufa File Finder ";

    // --- option fields (set by FormShow, changed only by the toggles) -------
    bool RecurseDirs = true;
    bool FuzzySearch = true;
    bool WarnResultChanged = true;
    bool ShowToolbar = true;
    bool ShowHints = true;
    bool ShowViewer = true;

    /// True from StartSearch to the end of EndSearch.
    bool isSearching() const { return m_searching; }
    /// The scanned-entries counter of the current or last search.
    std::uint64_t scannedEntries() const;
    /// The ranks the table showed at its last refresh (slot r-1 = row r).
    const ListString& resultCopy() const { return m_resultCopy; }
    /// The selected directory: the path behind lCurrentDir ("" before any
    /// node is selected).
    std::string selectedDirectory() const;
    /// The full path (bytes) of the entry that data row `row` of the result
    /// table shows, as the last refresh wrote it into the row; "" for a row
    /// that shows none (the empty row of a search that found nothing, the
    /// rows before the first refresh, rows outside the table).
    std::string resultPath(int row) const;

    /// Loads one file into the viewer: a picture into mFileImageView (the
    /// memo is hidden), anything else as text into mFileViewer.  A picture
    /// that fails shows the "Grafik fehlerhaft" box and keeps the previous
    /// picture; a text that fails reads "not available".
    void ViewFile(const std::string& path);

    /// Copies (code 0) or moves (1) the marked rows into the selected
    /// directory, or deletes them (2): the paths of the marked rows that show
    /// a result entry, in row order, go to the file-operation engine in one
    /// call, even when there is none (the engine then asks nothing).  Then
    /// the "result may have changed" box when WarnResultChanged is on.
    /// Marks, rows and the result copy stay as they were.  Does nothing while
    /// another file operation of the window runs.
    void DoFileOperation(int code);
    /// The paths (bytes) of the marked data rows that show a result entry,
    /// in row order.
    std::vector<std::string> markedPaths() const;

    /// Runs one copy (0), move (1) or delete (2) of paths into destination.
    using FileOperationRunner =
        std::function<void(const std::vector<std::string>& paths, int code, const std::string& destination)>;
    /// Replaces the engine and its dialogs behind every file operation of
    /// the window; an empty runner brings them back.
    void setFileOperationRunner(FileOperationRunner runner);

    /// The text of the status bar.
    QString statusText() const;
    void setStatusText(const QString& text);

    /// Replaces the tree's top level by these volumes (FormShow passes the
    /// mounted volumes).
    void FillDrives(const std::vector<Volume>& volumes);
    void FillDrives();

    // --- controls ------------------------------------------------------------
    QMenu* Fie1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* Move1 = nullptr;
    QAction* Delete1 = nullptr;
    QAction* N1 = nullptr;
    QAction* E1 = nullptr;
    QMenu* Edit1 = nullptr;
    QAction* InvertSelection1 = nullptr;
    QMenu* Search1 = nullptr;
    QAction* RecurseSubdirectories1 = nullptr;
    QAction* Searchlengthindependendfuzzy1 = nullptr;
    QAction* N2 = nullptr;
    QAction* Directory1 = nullptr;
    QAction* AllFixedDisks1 = nullptr;
    QAction* Stop1 = nullptr;
    QMenu* Options1 = nullptr;
    QAction* ShowFileToolbar1 = nullptr;
    QAction* ShowFlybyHints1 = nullptr;
    QAction* ShowFileViewer1 = nullptr;
    QAction* N3 = nullptr;
    QAction* WarningSearchResultChanged1 = nullptr;

    QTimer* Timer = nullptr;
    QWidget* Panel3 = nullptr;
    QFrame* ToolBar0 = nullptr;
    QWidget* Panel1 = nullptr;
    QLabel* Label4 = nullptr;
    QLineEdit* eSearch = nullptr;
    QLabel* Label1 = nullptr;
    QSpinBox* seNumberofItems = nullptr;
    QWidget* Toolbar1 = nullptr;
    QToolButton* sbSearchDir = nullptr;
    QToolButton* sbSearchHDs = nullptr;
    QToolButton* sbStop = nullptr;
    QToolButton* sbRecurseDirs = nullptr;
    QToolButton* sbMeasure = nullptr;
    QToolButton* sbSimilar = nullptr;
    QFrame* Bevel1 = nullptr;
    QToolButton* sbCopy = nullptr;
    QToolButton* sbMove = nullptr;
    QToolButton* sbDelete = nullptr;
    QToolButton* sbInvert = nullptr;
    QFrame* Bevel2 = nullptr;
    QToolButton* sbFileViewer = nullptr;
    QWidget* StatusPanel = nullptr;
    PathLabel* lCurrentDir = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* lFileScanned = nullptr;
    QLabel* Label3 = nullptr;
    QTreeWidget* Explorer = nullptr;
    QSplitterHandle* Splitter1 = nullptr;
    TStringGridEx* sgexResults = nullptr;
    QSplitterHandle* Splitter2 = nullptr;
    QWidget* pFileViewer = nullptr;
    QLabel* mFileImageView = nullptr;
    TextMemo* mFileViewer = nullptr;
    QStatusBar* StatusBar = nullptr;

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
    void E1Click();

    // searching
    void sbSearchClick();
    void sbSearchHDsClick();
    void sbStopClick();

    // the result table
    void TimerTimer();
    void seNumberofItemsChange();
    void sgexResultsDrawCell(QPainter* canvas, int col, int row, const QRect& rect);

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

private:
    void createControls();
    void createMenu();
    void createToolButtons();
    void createStatusPanel();
    void connectHandlers();
    void setResultColumnWidths();
    /// Widens the window by what the table's columns need beyond the
    /// designed width, so that no column starts hidden.
    void fitWindowToColumns();

    void StartSearch();
    void EndSearch();
    void setSearchControlsEnabled(bool idle);

    void connectFileActions();
    void performFileOperation(const std::vector<std::string>& paths, int code, const std::string& destination);
    void showResultChangedWarning();
    void openResultRow(int row);
    void moveRowsToTrash(const std::vector<std::string>& paths);

    std::unique_ptr<ExplorerTree> m_explorer;
    std::unique_ptr<HintSwitch> m_hintSwitch;
    QSplitter* m_treeSplitter = nullptr;
    QSplitter* m_viewerSplitter = nullptr;
    QLabel* m_statusLabel = nullptr;

    bool m_shown = false;
    bool m_searching = false;
    bool m_stopRequest = false;
    bool m_closeRequested = false;
    std::unique_ptr<Scanner> m_scanner;  ///< the walk of the current or last search
    ListString m_resultCopy{};
    FileOperationRunner m_fileOperationRunner;  ///< empty: the engine with its dialogs
    bool m_fileOperationRunning = false;
    LocaleFormat m_locale;
};

} // namespace toka
