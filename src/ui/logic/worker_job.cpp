#include "ui/logic/worker_job.h"

namespace toka {

WorkerJob::WorkerJob(QObject* parent) : QObject(parent) {}

WorkerJob::~WorkerJob() {
    if (m_thread.joinable()) m_thread.join();
}

void WorkerJob::start(std::function<void()> work) {
    if (m_thread.joinable()) return;
    m_running = true;
    m_thread = std::thread([this, work = std::move(work)] {
        work();
        // Queued to this object: dropped when the job is gone by then.
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_running = false;
                emit finished();
            },
            Qt::QueuedConnection);
    });
}

} // namespace toka
