// Recorded walks in the window.  Every walk that runs to its end is recorded
// (off the window's thread); a search whose directory and options have a
// record shows the record's answer at once, marked with the walk's time,
// and the live walk's answer replaces it when the walk ends.  While the
// user types, the record of the selected directory answers each text after
// a short pause, without a walk.
#include <QAction>
#include <QBoxLayout>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <sys/stat.h>

#include "search/record_replay.h"
#include "similar/text.h"
#include "ui/filter_bar.h"
#include "ui/mainform.h"

namespace toka {

namespace {

// Typing pauses this long before the record answers the text.
constexpr int kTypingPauseMs = 50;
// Shorter texts match too much to be worth an answer while typing.
constexpr std::size_t kTypingMinLength = 3;

// What tells that a record's file is still the one read: path, inode, size
// and time of its last change.
std::string fileStamp(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return path + '\n' + std::to_string(info.st_ino) + ' ' + std::to_string(info.st_size) + ' '
           + std::to_string(info.st_mtim.tv_sec) + '.' + std::to_string(info.st_mtim.tv_nsec);
}

} // namespace

void TMainForm::setRecordDirectory(const std::string& directory) {
    m_records = directory.empty() ? nullptr : std::make_unique<WalkRecordStore>(directory);
    m_record.reset();
    m_recordStamp.clear();
    m_signatures = {};
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
        if (SearchAsYouType && RecordWalks && m_records && !m_searching) m_typingTimer->start();
    });
}

ScanOptions TMainForm::nextScanOptions() const {
    return {RecurseDirs, sbMeasure->isChecked(), pFilters->filter(QDateTime::currentDateTime())};
}

std::shared_ptr<const WalkRecord> TMainForm::recordFor(const std::vector<WalkRoot>& roots, const ScanOptions& options,
                                                       bool allFixedDisks) {
    if (!m_records || !RecordWalks) return nullptr;
    const std::vector<std::string> paths = walkRootPaths(roots);
    const std::string recorded = recordedOptions(options, allFixedDisks);
    const std::string stamp = fileStamp(m_records->pathFor(paths, recorded));
    if (stamp.empty()) return nullptr;
    if (stamp != m_recordStamp) {
        std::optional<SysError> refused;
        m_record = m_records->find(paths, recorded, &refused);
        if (refused) showRecordsRefused(*refused);
        m_recordStamp = m_record ? stamp : std::string();
        m_signatures = {};
        if (m_record) {
            m_signatures = std::async(std::launch::async, [record = m_record] {
                               return std::make_shared<const std::vector<std::uint64_t>>(recordSignatures(*record));
                           }).share();
        }
    }
    return m_record;
}

void TMainForm::showRecordedAnswer(const std::shared_ptr<const WalkRecord>& record, const ScanOptions& options) {
    RecordReplay replay(record, TheSimList(), options);
    const bool withSignatures =
        m_signatures.valid() && m_signatures.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    replay.run(0, withSignatures ? m_signatures.get().get() : nullptr);
    TheSimList() = replay.list();
    m_recordedCount = replay.scannedEntries();
    m_showingRecorded = true;
    showRecordedMark(record->createdTime());
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
    const auto record = recordFor({{selectedDirectory()}}, options, false);
    if (!record) return;
    InitSimList(text, MaxListSize);
    // The rows, the count and the mark now tell of the record, not of the
    // last walk.
    m_walk.reset();
    showRecordedAnswer(record, options);
}

void TMainForm::saveRecord(std::unique_ptr<WalkRecordWriter> record) {
    if (!m_records || !record) return;
    waitForRecordSaved();
    // A record that cannot be written is no loss: the next search walks.
    m_recordSaver = std::thread([store = *m_records, record = std::move(record)] { store.save(*record); });
}

void TMainForm::waitForRecordSaved() {
    if (m_recordSaver.joinable()) m_recordSaver.join();
}

void TMainForm::forgetRecordedWalks() {
    if (!m_records) return;
    waitForRecordSaved();
    std::size_t removed = 0;
    const auto error = m_records->forgetAll(&removed);
    m_record.reset();
    m_recordStamp.clear();
    m_signatures = {};
    if (error) setStatusText(QString::fromStdString("Recorded walks not forgotten: " + error->message()));
    else
        setStatusText(removed == 1 ? QString("1 recorded walk forgotten")
                                   : QString("%1 recorded walks forgotten").arg(removed));
}

} // namespace toka
