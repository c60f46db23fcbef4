// Recorded walks in the window.  Every walk that runs to its end is recorded;
// a search whose directory and options have a record shows the record's
// answer as soon as it is read, marked with the walk's time, and the live
// walk's answer replaces it when the walk ends.  While the user types, the
// record of the selected directory answers each text after a short pause,
// without a walk.  Records are looked up, read, written and forgotten by the
// RecordKeeper's worker, never on the window's thread.
#include <QAction>
#include <QBoxLayout>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include "search/record_replay.h"
#include "similar/text.h"
#include "ui/widgets/filter_bar.h"
#include "ui/window/mainform.h"
#include "ui/logic/record_keeper.h"
#include "ui/logic/result_model.h"
#include "ui/window/results_controller.h"

namespace toka {

namespace {

// Typing pauses this long before the record answers the text.
constexpr int kTypingPauseMs = 50;
// Shorter texts match too much to be worth an answer while typing.
constexpr std::size_t kTypingMinLength = 3;

} // namespace

void TMainForm::setRecordDirectory(const std::string& directory) {
    m_recordKeeper = directory.empty() ? nullptr : std::make_unique<RecordKeeper>(directory);
}

void TMainForm::setRecordObserver(std::function<void(std::string_view directory)> observer) {
    if (m_recordKeeper) m_recordKeeper->setObserver(std::move(observer));
}

void TMainForm::createRecordCommands() {
    Search1->addSeparator();
    SearchAsYouType1 = Search1->addAction("Search as You T&ype");
    SearchAsYouType1->setCheckable(true);
    SearchAsYouType1->setChecked(SearchAsYouType);
    RecordWalks1 = Search1->addAction("Record &Walks");
    RecordWalks1->setCheckable(true);
    RecordWalks1->setChecked(RecordWalks);
    ForgetRecordedWalks1 = Search1->addAction("Forget Recorded Wal&ks");
    connect(SearchAsYouType1, &QAction::toggled, this, [this](bool on) { SearchAsYouType = on; });
    connect(RecordWalks1, &QAction::toggled, this, [this](bool on) {
        RecordWalks = on;
        SearchAsYouType1->setEnabled(on);
    });
    connect(ForgetRecordedWalks1, &QAction::triggered, this, &TMainForm::forgetRecordedWalks);

    lRecorded = new QLabel(StatusPanel);
    lRecorded->setObjectName("lRecorded");
    lRecorded->setContentsMargins(6, 0, 0, 0);
    lRecorded->setVisible(false);
    if (auto* row = qobject_cast<QBoxLayout*>(StatusPanel->layout()))
        row->insertWidget(row->indexOf(Label3), lRecorded);

    m_typingTimer = new QTimer(this);
    m_typingTimer->setSingleShot(true);
    m_typingTimer->setInterval(kTypingPauseMs);
    connect(m_typingTimer, &QTimer::timeout, this, &TMainForm::searchAsYouType);
    connect(eSearch, &QLineEdit::textChanged, this, [this] {
        if (SearchAsYouType && RecordWalks && m_recordKeeper && !m_searching) m_typingTimer->start();
    });
}

ScanOptions TMainForm::nextScanOptions() const {
    return {RecurseDirs, sbMeasure->isChecked(), pFilters->filter(QDateTime::currentDateTime())};
}

void TMainForm::lookUpRecord(const std::vector<WalkRoot>& roots, const ScanOptions& options, bool allFixedDisks,
                             std::function<void(const RecordAnswer&)> show) {
    if (!m_recordKeeper || !RecordWalks) return;
    // Only the answer to the latest question is shown: a later search or
    // text makes an earlier answer stale.
    const std::uint64_t question = ++m_recordQuestion;
    m_recordKeeper->lookup(walkRootPaths(roots), recordedOptions(options, allFixedDisks),
                           [this, question, show = std::move(show)](const RecordAnswer& answer) {
                               if (question != m_recordQuestion) return;
                               if (answer.refused) showRecordsRefused(*answer.refused);
                               if (answer.record) show(answer);
                           });
}

void TMainForm::showRecordedAnswer(const RecordAnswer& answer, const SimList& search, const ScanOptions& options) {
    RecordReplay replay(answer.record, search, options);
    replay.run(0, answer.signatures.get());
    m_results->shownList() = replay.list();
    m_recordedCount = replay.scannedEntries();
    m_showingRecorded = true;
    showRecordedMark(answer.record->createdTime());
    TimerTimer();
    emit recordedAnswerShown();
}

void TMainForm::showRecordedMark(std::int64_t createdTime) {
    const QDateTime when = QDateTime::fromSecsSinceEpoch(createdTime);
    const bool thisYear = when.date().year() == QDate::currentDate().year();
    lRecorded->setText("from the walk of " + when.toString(thisYear ? "d MMM HH:mm" : "d MMM yyyy HH:mm"));
    lRecorded->setToolTip("The rows are the answer of the walk recorded on " + when.toString("d MMM yyyy HH:mm:ss")
                          + ".\nA search walks the directory again and shows its own answer when the walk ends.");
    lRecorded->setVisible(true);
}

void TMainForm::showRecordsRefused(const SysError& error) {
    lRecorded->setText("recorded walks refused");
    lRecorded->setToolTip(QString::fromStdString("The recorded walks are neither read nor written: " + error.message()
                                                 + ".\nThe folder and its records must be your own, and no one "
                                                   "else may write to them."));
    lRecorded->setVisible(true);
}

void TMainForm::searchAsYouType() {
    if (!SearchAsYouType || !RecordWalks || m_searching || selectedDirectory().empty()) return;
    const std::string text = eSearch->text().toStdString();
    if (DecodeName(text).size() < kTypingMinLength) return;
    const ScanOptions options = nextScanOptions();
    lookUpRecord({{selectedDirectory()}}, options, false, [this, text, options](const RecordAnswer& answer) {
        if (m_searching) return;
        // The rows, the count and the mark now tell of the record, not of
        // the last walk.
        m_walk.reset();
        SimList search;
        search.InitSimList(text, MaxListSize);
        m_results->setOrder(ResultModel::kRankOrder); // a new text shows the ranks' order
        showRecordedAnswer(answer, search, options);
    });
}

void TMainForm::saveRecord(std::unique_ptr<WalkRecordWriter> record) {
    if (m_recordKeeper && record) m_recordKeeper->save(std::move(record));
}

void TMainForm::waitForRecordSaved() {
    if (m_recordKeeper) m_recordKeeper->waitUntilIdle();
}

void TMainForm::forgetRecordedWalks() {
    if (!m_recordKeeper) return;
    ++m_recordQuestion; // no answer of a forgotten record is shown
    m_recordKeeper->forgetAll([this](std::optional<SysError> error, std::size_t removed) {
        if (error) setStatusText(QString::fromStdString("Recorded walks not forgotten: " + error->message()));
        else
            setStatusText(removed == 1 ? QString("1 recorded walk forgotten")
                                       : QString("%1 recorded walks forgotten").arg(removed));
    });
}

} // namespace toka
