#pragma once
// The recorded walks of the window, kept off its thread: every look-up,
// read, signature, write and removal of a record runs on one worker thread
// of its own, in the order asked, and each answer comes back to the
// window's thread through its event loop.  A record on a slow or hung file
// system holds that worker, never the window.

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/sys_error.h"
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
    /// Writes the record in its place.
    void save(std::unique_ptr<WalkRecordWriter> record);
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

    WalkRecordStore m_store;
    std::mutex m_mutex; ///< guards m_observer
    std::function<void(std::string_view)> m_observer;

    // The worker's own: the record read last and what tells that its file
    // is still the one read.
    std::shared_ptr<const WalkRecord> m_record;
    std::string m_recordStamp;
    std::shared_ptr<const std::vector<std::uint64_t>> m_signatures;

    SerialWorker m_worker; // last: joined before the rest goes
};

} // namespace toka
