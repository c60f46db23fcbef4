#pragma once
// Work that touches the file system, run on a thread of its own so that the
// window's thread never waits on a slow or hung file system; the end is
// told on the window's thread.

#include <QObject>

#include <functional>
#include <thread>

namespace toka {

class WorkerJob : public QObject {
    Q_OBJECT
public:
    explicit WorkerJob(QObject* parent = nullptr);
    /// Waits for the work to end: give it a way to end early first.
    ~WorkerJob() override;
    WorkerJob(const WorkerJob&) = delete;
    WorkerJob& operator=(const WorkerJob&) = delete;

    /// Runs work on the job's thread; finished follows on this object's
    /// thread once it returns.  Once per job.
    void start(std::function<void()> work);
    /// Started and not yet told finished.
    bool isRunning() const { return m_running; }

signals:
    void finished();

private:
    std::thread m_thread;
    bool m_running = false;
};

} // namespace toka
