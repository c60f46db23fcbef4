#include "ui/logic/record_keeper.h"

#include <sys/stat.h>

#include "platform/listing/directory_watch.h"
#include "search/record_replay.h"

namespace toka {

namespace {

// What tells that a record's file is still the one read: path, inode, size
// and time of its last change.
std::string fileStamp(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return {};
    return path + '\n' + std::to_string(info.st_ino) + ' ' + std::to_string(info.st_size) + ' '
           + std::to_string(info.st_mtim.tv_sec) + '.' + std::to_string(info.st_mtim.tv_nsec);
}

} // namespace

RecordKeeper::RecordKeeper(std::string directory, QObject* parent) : QObject(parent), m_store(std::move(directory)) {}

namespace {

// A look-up of the record kept current waits this long at most for the
// changes told of to be walked.
constexpr std::chrono::seconds kFreshnessWait{1};
// The record kept current is written back at most this often.
constexpr std::chrono::minutes kSaveInterval{1};

} // namespace

// The watch goes on the worker, before it stops: its last record is written
// there.
RecordKeeper::~RecordKeeper() {
    m_worker.post([this] { endWatch(); });
}

void RecordKeeper::endWatch() {
    m_watch.reset(); // its thread ends: nothing is handed over after this
    m_watched = 0;
    std::shared_ptr<const WalkRecordWriter> unsaved;
    {
        std::lock_guard lock(m_unsavedMutex);
        unsaved = std::move(m_unsaved);
    }
    if (unsaved) {
        observe();
        m_store.save(*unsaved);
    }
}

void RecordKeeper::refreshed(std::shared_ptr<const WalkRecordWriter> record) {
    std::lock_guard lock(m_unsavedMutex);
    const auto now = std::chrono::steady_clock::now();
    const bool due = now - m_savedAt >= kSaveInterval;
    const bool queued = m_unsaved != nullptr;
    m_unsaved = std::move(record);
    if (!due || queued) return;
    m_savedAt = now;
    m_worker.post([this] {
        std::shared_ptr<const WalkRecordWriter> unsaved;
        {
            std::lock_guard held(m_unsavedMutex);
            unsaved = std::move(m_unsaved);
        }
        if (!unsaved) return;
        observe();
        m_store.save(*unsaved);
    });
}

void RecordKeeper::stopKeepingCurrent() {
    m_worker.post([this] { endWatch(); });
}

void RecordKeeper::waitUntilIdle() { m_worker.waitUntilIdle(); }

void RecordKeeper::setObserver(std::function<void(std::string_view)> observer) {
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

void RecordKeeper::observe() {
    std::function<void(std::string_view)> observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_observer;
    }
    if (observer) observer(m_store.directory());
}

RecordKeeper::Answer RecordKeeper::find(const std::vector<std::string>& roots, const std::string& options) {
    observe();
    Answer answer;
    if (m_watch && m_watch->roots() == roots && m_watch->options() == options) {
        RecordWatch::Answer kept = m_watch->latest(kFreshnessWait);
        answer.record = std::move(kept.record);
        answer.signatures = std::move(kept.signatures);
        answer.current = kept.current;
        return answer;
    }
    const std::string stamp = fileStamp(m_store.pathFor(roots, options));
    if (stamp.empty()) {
        // No file: a refused folder still says so.
        if (const auto folder = m_store.openFolder(false); !folder && folder.error().code != ENOENT)
            answer.refused = folder.error();
        return answer;
    }
    if (stamp != m_recordStamp) {
        m_record = m_store.find(roots, options, &answer.refused);
        m_recordStamp = m_record ? stamp : std::string();
        m_signatures.reset();
    }
    if (m_record && m_record->roots() == roots && m_record->options() == options) {
        answer.record = m_record;
        answer.signatures = m_signatures;
    }
    return answer;
}

void RecordKeeper::lookup(std::vector<std::string> roots, std::string options,
                          std::function<void(const Answer&)> done) {
    m_worker.post([this, roots = std::move(roots), options = std::move(options), done = std::move(done)] {
        if (m_worker.stopping()) return;
        const Answer answer = find(roots, options);
        QMetaObject::invokeMethod(
            this, [done, answer] { done(answer); }, Qt::QueuedConnection);
        // The signatures pay for a record replayed again and again as the
        // user types: computed once the first answer is on its way.
        if (answer.record && !answer.signatures && !m_worker.stopping()) {
            m_signatures = std::make_shared<const std::vector<std::uint64_t>>(recordSignatures(*answer.record));
        }
    });
}

void RecordKeeper::save(std::unique_ptr<WalkRecordWriter> record, std::vector<WalkRoot> roots, ScanOptions options) {
    if (!record) return;
    m_worker.post([this, record = std::shared_ptr<WalkRecordWriter>(std::move(record)), roots = std::move(roots),
                   options = std::move(options)]() mutable {
        endWatch(); // this search's record replaces the one kept
        observe();
        // A record that cannot be written is no loss: the next search walks.
        m_store.save(*record);
        if (roots.empty() || m_worker.stopping()) return;
        std::optional<WalkRecord> parsed = WalkRecord::parse(record->serialize());
        if (!parsed) return;
        record.reset();
        RecordWatch::Settings settings;
        settings.budget = DirectoryWatch::budget();
        settings.ignored = m_store.directory();
        settings.refreshed = [this](std::shared_ptr<const WalkRecordWriter> made) { refreshed(std::move(made)); };
        settings.watching = [this](std::size_t watched) { m_watched = watched; };
        {
            std::lock_guard lock(m_unsavedMutex);
            m_savedAt = std::chrono::steady_clock::now();
        }
        m_watch =
            std::make_unique<RecordWatch>(std::move(roots), std::move(options),
                                          std::make_shared<const WalkRecord>(std::move(*parsed)), std::move(settings));
    });
}

void RecordKeeper::forgetAll(std::function<void(std::optional<SysError>, std::size_t)> done) {
    m_worker.post([this, done = std::move(done)] {
        observe();
        m_watch.reset();
        m_watched = 0;
        {
            std::lock_guard lock(m_unsavedMutex);
            m_unsaved.reset();
        }
        std::size_t removed = 0;
        const std::optional<SysError> error = m_store.forgetAll(&removed);
        m_record.reset();
        m_recordStamp.clear();
        m_signatures.reset();
        QMetaObject::invokeMethod(
            this, [done, error, removed] { done(error, removed); }, Qt::QueuedConnection);
    });
}

} // namespace toka
