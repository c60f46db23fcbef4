#pragma once
// The search's duty: its controls, the walk on worker threads and the
// recorded walks.  It makes and owns the search text (eSearch), the search
// buttons (sbSearchDir, sbSearchHDs, sbStop), the toggles of the options a
// walk takes (sbRecurseDirs, sbMeasure, sbSimilar) and the record's mark
// (lRecorded); the window places them in its rows (the search row, the tool
// row, the status strip) and runs its own handlers on their clicks and
// keys.  A search whose directory and options have a record shows the
// record's answer as soon as it is read, marked with the walk's time, and
// the walk's own answer replaces it when the walk ends.  Records are looked
// up, read, written and forgotten by the RecordKeeper's worker, never on the
// window's thread.

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/sys_error.h"
#include "search/scan.h"
#include "similar/simlist.h"

class QLabel;
class QLineEdit;
class QToolButton;
class QWidget;

namespace toka {

class ParallelWalk;
struct WalkRoot;
class RecordKeeper;
struct RecordAnswer;
class ResultsController;

class SearchController : public QObject {
    Q_OBJECT
public:
    /// Made before the window's controls: the window's rows take the
    /// search's controls as it builds them (createSearchText, then
    /// createToolButtons), and showAnswersIn follows once the table is made.
    explicit SearchController(QObject* parent);
    /// Stops and joins the walk, and writes the record handed over last.
    ~SearchController() override;

    /// The search text, made in row (the search row): at most 255
    /// characters, "TOKASearch" at first.
    void createSearchText(QWidget* row);
    /// The search buttons and the toggles, made in row (the tool row) in
    /// this order: recursion and the fuzzy measure on, Stop disabled.
    void createToolButtons(QWidget* row);
    /// The answers go to results; the record's mark is made in markParent.
    void showAnswersIn(ResultsController& results, QWidget* markParent);

    // --- the controls -----------------------------------------------------------
    QLineEdit* eSearch() const { return m_eSearch; }
    QToolButton* sbSearchDir() const { return m_sbSearchDir; }
    QToolButton* sbSearchHDs() const { return m_sbSearchHDs; }
    QToolButton* sbStop() const { return m_sbStop; }
    QToolButton* sbRecurseDirs() const { return m_sbRecurseDirs; }
    QToolButton* sbMeasure() const { return m_sbMeasure; }
    QToolButton* sbSimilar() const { return m_sbSimilar; }
    /// "from the walk of 8 Dec 14:02" while the rows are a recorded answer,
    /// "checked 14:05" once the walk has verified it, or "recorded walks
    /// refused".
    QLabel* lRecorded() const { return m_mark; }

    /// Idle: every button but Stop enabled; during a search (idle false)
    /// only Stop, so that the options stay as the walk took them.  The
    /// search text stays usable.
    void setControlsEnabled(bool idle);
    /// The toggles show the options: recursion on or off, and which of the
    /// two measures is on (Fuzzy, else Similar).
    void showOptions(bool recurseDirs, bool fuzzy);

    // --- the walk -------------------------------------------------------------
    /// Watches every directory the walk is about to list (on a worker).
    void setWalkObserver(std::function<void(std::string_view dir)> observer) { m_walkObserver = std::move(observer); }
    /// Starts the walk of roots for text; with record, the walk is recorded
    /// and a record of the same roots and options answers first.
    /// walkFinished follows when the last worker is done.
    void startWalk(std::vector<WalkRoot> roots, const std::string& text, const ScanOptions& options, bool allFixedDisks,
                   bool record);
    void requestStop();
    /// After walkFinished: the walk's list is the answer from now on; a walk
    /// that ran to its end is recorded when record is on.
    void endWalk(bool record);
    /// The running walk's list, copied under its lock into the table's list
    /// (unless a recorded answer is on view).
    void copyWalkList();
    /// The directory the walk lists now ("" when none).
    std::string currentDirectory() const;
    /// The entries scanned by the current or last walk, or by the record
    /// whose answer is on view.
    std::uint64_t scannedEntries() const;
    /// Directories the current or last walk could not list.
    std::uint64_t skippedDirectories() const;
    /// Whether the last look-up for typing found no record (and no walk
    /// has been recorded since): Enter, not typing, answers then.
    bool typingFoundNoRecord() const { return m_typingFoundNoRecord; }

    // --- records --------------------------------------------------------------
    /// Records walks in this folder and answers from them; "" records and
    /// reads nothing.
    void setRecordDirectory(const std::string& directory);
    bool hasRecords() const { return m_keeper != nullptr; }
    /// Called on the records' worker before it touches their folder.
    void setRecordObserver(std::function<void(std::string_view directory)> observer);
    /// Waits until the record of the last walk is written.
    void waitForRecordSaved();
    /// Answers text from the record of roots, when there is one (typing):
    /// the rows, the count and the mark then tell of the record, not of the
    /// last walk.
    void answerFromRecord(const std::vector<WalkRoot>& roots, const std::string& text, const ScanOptions& options);
    /// Forgets every record; report gets the sentence for the status bar.
    void forgetRecords(std::function<void(const QString&)> report);
    /// The rows show a recorded walk's answer rather than a live walk's.
    bool showsRecordedAnswer() const { return m_showingRecorded; }
    /// Keeps the record of the last search current no longer.
    void stopKeepingCurrent();
    /// Directories watched to keep the last search's record current.
    std::size_t watchedDirectories() const;

signals:
    /// The walk's last worker is done (queued to the window's thread).
    void walkFinished();
    /// The rows now show a recorded walk's answer (the table is filled).
    void recordedAnswerShown();
    /// A look-up for typing found no record (typingFoundNoRecord tells).
    void typingAnswered();

private:
    /// Asks the records' worker for the record of roots and options; show
    /// gets it on the window's thread, unless a later question came first.
    void lookUp(const std::vector<WalkRoot>& roots, const ScanOptions& options, bool allFixedDisks,
                std::function<void(const RecordAnswer&)> show, std::function<void()> none = {});
    void showRecordedAnswer(const RecordAnswer& answer, const SimList& search, const ScanOptions& options);
    void showRecordedMark(std::int64_t createdTime);
    void showRecordsRefused(const SysError& error);
    /// "checked 14:05": the rows are a verified record's answer.
    void showCheckedMark();
    /// "current": the rows are the answer of a record kept current.
    void showCurrentMark(std::size_t directories);
    /// Starts the walk made by startWalk, once.
    void beginWalk();
    void hideMark();

    ResultsController* m_results = nullptr; ///< set by showAnswersIn
    QLineEdit* m_eSearch = nullptr;         ///< the search text (at most 255 characters)
    QToolButton* m_sbSearchDir = nullptr;   ///< tool button "Search Selected Directory"
    QToolButton* m_sbSearchHDs = nullptr;   ///< tool button "Search all Hard Disks"
    QToolButton* m_sbStop = nullptr;        ///< tool button "Stop current Search"
    QToolButton* m_sbRecurseDirs = nullptr; ///< toggle "Recurse Subdirectories while searching"
    QToolButton* m_sbMeasure = nullptr;     ///< toggle "Fuzzy": the length-independent measure
    QToolButton* m_sbSimilar = nullptr;     ///< toggle "Similar": the length-dependent measure
    QLabel* m_mark = nullptr;               ///< lRecorded
    SimList m_walkSearch;                   ///< the search m_walk scores against; it outlives the walk
    std::unique_ptr<ParallelWalk> m_walk;
    bool m_walkStarted = false;
    std::vector<WalkRoot> m_waitingRoots; ///< the roots of a walk waiting for its record
    std::vector<WalkRoot> m_walkRoots;    ///< the roots of the last walk, kept current when recorded
    ScanOptions m_walkOptions;
    std::function<void(std::string_view)> m_walkObserver;
    std::unique_ptr<RecordKeeper> m_keeper; ///< null: nothing recorded or read
    std::uint64_t m_question = 0;           ///< the latest look-up; earlier answers are stale
    bool m_liveAnswerShown = false;         ///< the running walk ran to its end
    bool m_showingRecorded = false;
    bool m_typingFoundNoRecord = false;
    std::uint64_t m_recordedCount = 0; ///< the count of the record the rows come from
};

} // namespace toka
