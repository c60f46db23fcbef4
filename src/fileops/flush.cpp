// Flushes of the file-operation engine, waited for at the progress
// checkpoints: a flush of a large file or of a whole file system can take
// many seconds, and Cancel must not wait for it.

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "fileops/worker.h"

namespace toka::fileops {
namespace {

/// What the flushing thread and the worker share; the thread keeps it alive
/// past a wait that Cancel ended.
struct FlushState {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    int error = 0;
};

constexpr std::chrono::milliseconds kFlushPoll{25};

} // namespace

int Worker::flush(int fd, bool wholeFileSystem) {
    // The thread flushes a descriptor of its own: once the worker stops
    // waiting, it closes its descriptors and removes what it abandons, and
    // the flush must not meet a descriptor number reused meanwhile.
    const int own = m_system.duplicate(fd);
    if (own < 0) return errno;
    auto state = std::make_shared<FlushState>();
    const auto run = [state, own, wholeFileSystem, &system = m_system] {
        const int result = wholeFileSystem ? system.syncFileSystem(own) : system.fsync(own);
        const int error = result < 0 ? errno : 0;
        system.close(own);
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->done = true;
        state->error = error;
        state->finished.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run(); // no thread to be had: the flush is waited for here, Cancel or not
    }

    std::unique_lock<std::mutex> lock(state->mutex);
    while (!state->finished.wait_for(lock, kFlushPoll, [&] { return state->done; })) {
        lock.unlock();
        const bool cancelled = checkpoint();
        lock.lock();
        if (cancelled && !state->done) return kFlushCancelled;
    }
    return state->error;
}

} // namespace toka::fileops
