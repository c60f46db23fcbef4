#pragma once
// A recorded walk kept current while a program runs: the directories of the
// record are watched (directory_watch.h), and when something in them
// changes a verifying walk (parallel_walk.h) lists again the directories
// whose times changed and takes the rest from the record, which gives a
// record of the tree as it is now.  Changes are gathered for a moment
// first, so that a burst of them (an unpacked archive) costs one walk.
//
// Walks in the background take at most a tenth of the time: after a walk
// of t, the next waits 9 t unless a question calls for it.
//
// A question for the record (latest) first reads every change the kernel
// has told of by then, and waits a bounded time for the walk they call
// for: a file made a moment before the question is in the answer.  The
// answer is called current when every directory of the record is watched
// and nothing told of is still to be walked; past the watch budget the
// directories left unwatched are checked only by the next verifying walk.
//
// Everything runs on a thread of the watch's own; nothing here waits on the
// caller's thread except latest, for at most the time it is given.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "search/parallel_walk.h"
#include "search/scan.h"
#include "search/walk_record.h"

namespace toka {

/// The directories of a record's blocks as paths (each ending in "/"),
/// level by level and in listing order within a directory, at most limit
/// of them.
std::vector<std::string> recordedDirectories(const WalkRecord& record, std::size_t limit);

class RecordWatch {
public:
    struct Settings {
        /// At most this many directories are watched.
        std::size_t budget = 0;
        /// A directory (ending in "/") never watched: the records' own
        /// folder, whose every write would otherwise call for a walk.
        std::string ignored;
        /// How long changes are gathered before the walk, and the longest
        /// a stream of changes delays it.
        std::chrono::milliseconds quiet{50};
        std::chrono::milliseconds longest{500};
        /// Hears of every record made anew, on the watch's thread (the
        /// writer writes it with its letter-pair index; the record held
        /// in memory has none, and is replayed with its signatures).
        std::function<void(std::shared_ptr<const WalkRecordWriter>)> refreshed;
        /// Hears how many directories are watched each time they are
        /// watched anew, on the watch's thread.
        std::function<void(std::size_t)> watching;
    };

    struct Answer {
        std::shared_ptr<const WalkRecord> record;
        /// recordSignatures of the record.
        std::shared_ptr<const std::vector<std::uint64_t>> signatures;
        /// Every directory is watched and every change told of is in it.
        bool current = false;
    };

    /// Keeps record (made by a walk of roots with options) current.  The
    /// first walk follows at once: changes made while the record was being
    /// made and before the watches stood are found by it.
    RecordWatch(std::vector<WalkRoot> roots, ScanOptions options, std::shared_ptr<const WalkRecord> record,
                Settings settings);
    /// Stops a walk in progress and ends the thread.
    ~RecordWatch();
    RecordWatch(const RecordWatch&) = delete;
    RecordWatch& operator=(const RecordWatch&) = delete;

    /// The roots' paths and the options text of the record kept.
    const std::vector<std::string>& roots() const { return m_rootPaths; }
    const std::string& options() const { return m_optionsText; }

    /// The record as current as it can be within wait.
    Answer latest(std::chrono::milliseconds wait);

    /// Directories watched now.
    std::size_t watchedDirectories() const;
    /// Verifying walks run so far.
    std::uint64_t walks() const;

private:
    void run();
    /// Walks, publishes the new record and watches its directories.
    void refresh();
    void watchDirectories();

    std::vector<WalkRoot> m_roots;
    std::vector<std::string> m_rootPaths;
    std::string m_optionsText;
    ScanOptions m_options;
    Settings m_settings;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Answer m_answer;
    bool m_allWatched = false;
    std::size_t m_watched = 0;
    std::uint64_t m_walks = 0;
    std::uint64_t m_asked = 0;   ///< questions asked (latest)
    std::uint64_t m_drained = 0; ///< the last question whose changes were read
    int m_waiting = 0;           ///< questions waiting in latest
    bool m_pending = true;       ///< changes told of and not yet walked
    bool m_walking = false;
    bool m_failed = false; ///< the last walk gave no record
    bool m_quit = false;
    ParallelWalk* m_walk = nullptr; ///< the walk in progress, for the stop

    // The directories last given to the kernel's watch: their count and the
    // hash of their paths.
    std::size_t m_watchListSize = 0;
    std::array<std::uint64_t, 2> m_watchListHash{};
    struct Kernel;
    std::unique_ptr<Kernel> m_kernel;
    std::thread m_thread; // last: it starts when everything above is ready
};

} // namespace toka
