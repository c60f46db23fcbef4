#pragma once
// The recorded walks of the window, kept off its thread: every look-up,
// read, signature, write and removal of a record runs on one worker thread
// of its own, in the order asked, and each answer comes back to the
// window's thread through its event loop.  A record on a slow or hung file
// system holds that worker, never the window.
//
// The record of the last search walked is kept current (record_watch.h)
// until another search is recorded, the records are forgotten or the
// keeper goes: look-ups of its roots and options answer from it, after the
// changes told of so far, and it is written back at most once a minute and
// when the keeper stops keeping it.

#include <QObject>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/sys_error.h"
#include "search/record_watch.h"
#include "search/walk_record_store.h"
#include "ui/logic/serial_worker.h"

namespace toka {

/// What a look-up of a record found.
struct RecordAnswer {
    std::shared_ptr<const WalkRecord> record; ///< null: none to use
    /// The record's bigram signatures, once the worker has computed them
    /// (after the first answer of a record read anew); null until then.
    std::shared_ptr<const std::vector<std::uint64_t>> signatures;
    std::optional<SysError> refused; ///< the folder or record was not the user's own
    /// The record is kept current: every change told of is in it.
    bool current = false;
};

class RecordKeeper : public QObject {
public:
    using Answer = RecordAnswer;

    /// Keeps the records in directory (walk_record_store.h).
    explicit RecordKeeper(std::string directory, QObject* parent = nullptr);
    /// Waits for the queued work: a record handed over is still written;
    /// look-ups not yet started are dropped, and no answer is told.
    ~RecordKeeper() override;

    /// Looks up the record of roots and options; done is called on the
    /// window's thread, unless the keeper is gone by then.  A record read
    /// before is used again while its file stays the same.
    void lookup(std::vector<std::string> roots, std::string options, std::function<void(const Answer&)> done);
    /// Writes the record in its place; with roots (the walk's, in its
    /// order) it is then kept current, walked again with options.
    void save(std::unique_ptr<WalkRecordWriter> record, std::vector<WalkRoot> roots = {}, ScanOptions options = {});
    /// Keeps no record current any more (the one kept is written).
    void stopKeepingCurrent();
    /// Directories watched for the record kept current (0: none kept).
    std::size_t watchedDirectories() const { return m_watched; }
    /// Removes every record; done gets the first error and the count.
    void forgetAll(std::function<void(std::optional<SysError> error, std::size_t removed)> done);
    /// Returns when every job asked for so far is done (their answers are
    /// then on their way through the event loop).
    void waitUntilIdle();

    /// Called on the worker before each job touches the folder, with the
    /// folder's path: a test holds the worker there as a hung mount would.
    void setObserver(std::function<void(std::string_view directory)> observer);

private:
    /// On the worker: the answer for roots and options.
    Answer find(const std::vector<std::string>& roots, const std::string& options);
    void observe();
    /// On the worker: ends the watch, writing what it kept unwritten.
    void endWatch();
    /// On the watch's thread: a record made anew.
    void refreshed(std::shared_ptr<const WalkRecordWriter> record);

    WalkRecordStore m_store;
    std::mutex m_mutex; ///< guards m_observer
    std::function<void(std::string_view)> m_observer;

    // The worker's own: the record read last and what tells that its file
    // is still the one read.
    std::shared_ptr<const WalkRecord> m_record;
    std::string m_recordStamp;
    std::shared_ptr<const std::vector<std::uint64_t>> m_signatures;
    std::unique_ptr<RecordWatch> m_watch; ///< the worker's: the record kept current
    std::atomic<std::size_t> m_watched{0};

    std::mutex m_unsavedMutex; ///< guards the two below (the watch's thread writes them)
    std::shared_ptr<const WalkRecordWriter> m_unsaved;
    std::chrono::steady_clock::time_point m_savedAt{};

    SerialWorker m_worker; // last: joined before the rest goes
};

} // namespace toka
