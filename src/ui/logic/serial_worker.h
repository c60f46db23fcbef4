#pragma once
// One worker thread that runs jobs one after another, in the order they are
// posted: the window's file-system work (records, the viewer's loads) goes
// here so that the window's thread never waits on a file system.  Jobs tell
// their results back through queued calls of their own.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace toka {

class SerialWorker {
public:
    SerialWorker();
    /// Runs what is queued to its end, then the thread ends: post nothing
    /// that may wait for ever (a job can check stopping()).
    ~SerialWorker();
    SerialWorker(const SerialWorker&) = delete;
    SerialWorker& operator=(const SerialWorker&) = delete;

    void post(std::function<void()> job);
    /// Returns when every job posted so far has run.
    void waitUntilIdle();
    /// True once the worker is being destroyed: a job that has not started
    /// its work may skip it.
    bool stopping() const;

private:
    void work();

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread; // last: it starts when everything above is ready
};

} // namespace toka
