#include "ui/window/search_controller.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>

#include "search/parallel_walk.h"
#include "search/record_replay.h"
#include "search/walk_record_store.h"
#include "ui/logic/record_keeper.h"
#include "ui/logic/result_model.h"
#include "ui/widgets/tool_button.h"
#include "ui/widgets/tool_icons.h"
#include "ui/window/results_controller.h"

namespace toka {

namespace {

// How long a search waits for its record before it walks without one.
constexpr int kRecordWaitMs = 300;

} // namespace

SearchController::SearchController(QObject* parent) : QObject(parent) {}

void SearchController::createSearchText(QWidget* row) {
    m_eSearch = new QLineEdit("TOKASearch", row);
    m_eSearch->setToolTip("Enter Search String here");
    m_eSearch->setMaxLength(255);
    m_eSearch->setFixedWidth(176);
}

void SearchController::createToolButtons(QWidget* row) {
    m_sbSearchDir = pictureToolButton(row, ToolPicture::SearchDirectory, "Search Selected Directory");
    m_sbSearchHDs = pictureToolButton(row, ToolPicture::SearchDisks, "Search all Hard Disks");
    m_sbStop = pictureToolButton(row, ToolPicture::Stop, "Stop current Search");
    m_sbRecurseDirs =
        pictureToolButton(row, ToolPicture::RecurseDirs, "Recurse Subdirectories while searching", false, true);
    m_sbMeasure = captionToolButton(row, "Fuzzy", "Search not length dependend");
    m_sbSimilar = captionToolButton(row, "Similar", "Search is length dependend");
    // The toggles' pressed state in the palette's selection colours: some
    // styles draw it too faintly to see in a dark theme.
    for (QToolButton* toggle : {m_sbRecurseDirs, m_sbMeasure, m_sbSimilar})
        toggle->setStyleSheet(QStringLiteral("QToolButton:checked { background-color: palette(highlight);"
                                             " color: palette(highlighted-text); border: 1px solid palette(dark);"
                                             " border-radius: 2px; }"));
    m_sbRecurseDirs->setChecked(true);
    m_sbMeasure->setChecked(true);
    m_sbStop->setEnabled(false);
}

void SearchController::showAnswersIn(ResultsController& results, QWidget* markParent) {
    m_results = &results;
    m_mark = new QLabel(markParent);
    m_mark->setObjectName("lRecorded");
    m_mark->setContentsMargins(6, 0, 0, 0);
    m_mark->setVisible(false);
}

void SearchController::setControlsEnabled(bool idle) {
    for (QToolButton* button : {m_sbSearchDir, m_sbSearchHDs, m_sbRecurseDirs, m_sbMeasure, m_sbSimilar})
        button->setEnabled(idle);
    m_sbStop->setEnabled(!idle);
}

void SearchController::showOptions(bool recurseDirs, bool fuzzy) {
    m_sbRecurseDirs->setChecked(recurseDirs);
    m_sbMeasure->setChecked(fuzzy);
    m_sbSimilar->setChecked(!fuzzy);
}

// The walk goes first: its last worker must not post the end of the search
// to a controller that is half destroyed.
SearchController::~SearchController() {
    m_walk.reset();
    m_keeper.reset(); // writes the record handed over last
}

void SearchController::startWalk(std::vector<WalkRoot> roots, const std::string& text, const ScanOptions& options,
                                 bool allFixedDisks, bool record) {
    m_walk.reset();
    hideMark();
    ParallelWalkHooks hooks;
    hooks.listing = m_walkObserver;
    // The end reaches the window as a queued call; a controller already gone
    // drops it (the walk is stopped and joined before it goes).
    hooks.finished = [this] { QMetaObject::invokeMethod(this, &SearchController::walkFinished, Qt::QueuedConnection); };
    m_walkSearch.InitSimList(text, MaxListSize);
    m_walk = std::make_unique<ParallelWalk>(m_walkSearch, options, ParallelWalk::defaultThreads(), std::move(hooks));
    m_walkStarted = false;
    m_walkRoots = roots;
    m_walkOptions = options;
    m_waitingRoots = std::move(roots);
    m_liveAnswerShown = false;
    if (!record || !m_keeper) {
        beginWalk();
        return;
    }
    m_walk->record(recordedOptions(options, allFixedDisks));
    // A record's answer comes first, as soon as it is read, and the walk
    // then verifies it: it lists only the directories that changed since.
    // Without a record, or when reading it takes longer than a moment (a
    // slow mount), the walk lists everything; its answer replaces the
    // record's when it has run to its end.
    lookUp(
        m_waitingRoots, options, allFixedDisks,
        [this, options](const RecordAnswer& answer) {
            if (!m_liveAnswerShown) showRecordedAnswer(answer, m_walkSearch, options);
            if (!m_walkStarted) {
                m_walk->verify(answer.record);
                beginWalk();
            }
        },
        [this] { beginWalk(); });
    QTimer::singleShot(kRecordWaitMs, this, [this, walk = m_walk.get()] {
        if (m_walk.get() == walk) beginWalk();
    });
}

void SearchController::beginWalk() {
    if (m_walkStarted || !m_walk) return;
    m_walkStarted = true;
    m_walk->start(std::move(m_waitingRoots));
}

void SearchController::requestStop() {
    if (!m_walk) return;
    m_walk->requestStop();
    // A walk still waiting for its record never starts: the search ends.
    if (!m_walkStarted) {
        m_walkStarted = true;
        QMetaObject::invokeMethod(this, &SearchController::walkFinished, Qt::QueuedConnection);
    }
}

void SearchController::endWalk(bool record) {
    if (!m_walk) return;
    m_walk->wait(); // its last worker is on its way out
    // The walk's own list replaces a recorded answer, after Stop too; only
    // a walk that ran to its end is recorded.
    m_liveAnswerShown = true;
    hideMark();
    if (m_walk->verifying() && !m_walk->stopRequested()) showCheckedMark();
    if (record && !m_walk->stopRequested() && m_keeper)
        if (std::unique_ptr<WalkRecordWriter> written = m_walk->takeRecord()) {
            m_keeper->save(std::move(written), m_walkRoots, m_walkOptions);
            m_typingFoundNoRecord = false;
        }
}

void SearchController::copyWalkList() {
    if (m_walk && !m_showingRecorded) m_walk->copyList(m_results->shownList());
}

std::string SearchController::currentDirectory() const { return m_walk ? m_walk->currentDirectory() : std::string(); }

std::uint64_t SearchController::scannedEntries() const { return m_walk ? m_walk->scannedEntries() : m_recordedCount; }

std::uint64_t SearchController::skippedDirectories() const { return m_walk ? m_walk->skippedDirectories() : 0; }

void SearchController::setRecordDirectory(const std::string& directory) {
    m_keeper = directory.empty() ? nullptr : std::make_unique<RecordKeeper>(directory);
}

void SearchController::setRecordObserver(std::function<void(std::string_view directory)> observer) {
    if (m_keeper) m_keeper->setObserver(std::move(observer));
}

void SearchController::waitForRecordSaved() {
    if (m_keeper) m_keeper->waitUntilIdle();
}

void SearchController::lookUp(const std::vector<WalkRoot>& roots, const ScanOptions& options, bool allFixedDisks,
                              std::function<void(const RecordAnswer&)> show, std::function<void()> none) {
    if (!m_keeper) return;
    // Only the answer to the latest question is shown: a later search or
    // text makes an earlier answer stale.
    const std::uint64_t question = ++m_question;
    m_keeper->lookup(walkRootPaths(roots), recordedOptions(options, allFixedDisks),
                     [this, question, show = std::move(show), none = std::move(none)](const RecordAnswer& answer) {
                         if (question != m_question) return;
                         if (answer.refused) showRecordsRefused(*answer.refused);
                         if (answer.record) show(answer);
                         else if (none) none();
                     });
}

void SearchController::answerFromRecord(const std::vector<WalkRoot>& roots, const std::string& text,
                                        const ScanOptions& options) {
    const auto none = [this] {
        m_typingFoundNoRecord = true;
        emit typingAnswered();
    };
    lookUp(
        roots, options, false,
        [this, text, options](const RecordAnswer& answer) {
            m_typingFoundNoRecord = false;
            // A search started since has the rows now.
            if (m_walk && !m_liveAnswerShown) return;
            m_walk.reset();
            SimList search;
            search.InitSimList(text, MaxListSize);
            m_results->setOrder(ResultModel::kRankOrder); // a new text shows the ranks' order
            showRecordedAnswer(answer, search, options);
        },
        none);
}

void SearchController::showRecordedAnswer(const RecordAnswer& answer, const SimList& search,
                                          const ScanOptions& options) {
    RecordReplay replay(answer.record, search, options);
    replay.run(0, answer.signatures.get());
    m_results->shownList() = replay.list();
    m_recordedCount = replay.scannedEntries();
    m_showingRecorded = true;
    if (answer.current) showCurrentMark(answer.record->blockCount());
    else showRecordedMark(answer.record->createdTime());
    emit recordedAnswerShown();
}

void SearchController::showRecordedMark(std::int64_t createdTime) {
    const QDateTime when = QDateTime::fromSecsSinceEpoch(createdTime);
    const bool thisYear = when.date().year() == QDate::currentDate().year();
    m_mark->setText("from the walk of " + when.toString(thisYear ? "d MMM HH:mm" : "d MMM yyyy HH:mm"));
    m_mark->setToolTip("The rows are the answer of the walk recorded on " + when.toString("d MMM yyyy HH:mm:ss")
                       + ".\nA search walks the directory again and shows its own answer when the walk ends.");
    m_mark->setVisible(true);
}

void SearchController::showRecordsRefused(const SysError& error) {
    m_mark->setText("recorded walks refused");
    m_mark->setToolTip(QString::fromStdString("The recorded walks are neither read nor written: " + error.message()
                                              + ".\nThe folder and its records must be your own, and no one "
                                                "else may write to them."));
    m_mark->setVisible(true);
}

void SearchController::showCheckedMark() {
    const QDateTime now = QDateTime::currentDateTime();
    m_mark->setText("checked " + now.toString("HH:mm"));
    m_mark->setToolTip(QString("The rows are the answer of the recorded walk, checked against the directories as "
                               "they are now on %1: %2 directories listed again, %3 unchanged.")
                           .arg(now.toString("d MMM yyyy HH:mm:ss"))
                           .arg(m_walk->listedDirectories())
                           .arg(m_walk->directoriesFromRecord()));
    m_mark->setVisible(true);
}

void SearchController::showCurrentMark(std::size_t directories) {
    m_mark->setText("current");
    m_mark->setToolTip(QString("The rows are the answer of the recorded walk, kept current: its %1 directories are "
                               "watched, and every change they told of is in it.")
                           .arg(directories));
    m_mark->setVisible(true);
}

std::size_t SearchController::watchedDirectories() const { return m_keeper ? m_keeper->watchedDirectories() : 0; }

void SearchController::stopKeepingCurrent() {
    if (m_keeper) m_keeper->stopKeepingCurrent();
}

void SearchController::hideMark() {
    m_showingRecorded = false;
    m_mark->setVisible(false);
}

void SearchController::forgetRecords(std::function<void(const QString&)> report) {
    if (!m_keeper) return;
    ++m_question; // no answer of a forgotten record is shown
    m_keeper->forgetAll([report = std::move(report)](std::optional<SysError> error, std::size_t removed) {
        if (error) report(QString::fromStdString("Recorded walks not forgotten: " + error->message()));
        else
            report(removed == 1 ? QString("1 recorded walk forgotten")
                                : QString("%1 recorded walks forgotten").arg(removed));
    });
}

} // namespace toka
