#include "ui/logic/serial_worker.h"

namespace toka {

SerialWorker::SerialWorker() : m_thread([this] { work(); }) {}

SerialWorker::~SerialWorker() {
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_changed.notify_all();
    }
    m_thread.join();
}

void SerialWorker::post(std::function<void()> job) {
    std::lock_guard lock(m_mutex);
    m_jobs.push_back(std::move(job));
    m_changed.notify_all();
}

void SerialWorker::waitUntilIdle() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_jobs.empty() && !m_busy; });
}

bool SerialWorker::stopping() const {
    std::lock_guard lock(m_mutex);
    return m_quit;
}

void SerialWorker::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || !m_jobs.empty(); });
        if (m_jobs.empty()) return; // stopping, and nothing left
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        lock.unlock();
        job();
        lock.lock();
        m_busy = false;
        m_changed.notify_all();
    }
}

} // namespace toka
