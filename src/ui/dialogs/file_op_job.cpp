#include "ui/dialogs/file_op_job.h"

#include <QEventLoop>
#include <QPointer>
#include <QWidget>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

#include "fileops/file_operation.h"
#include "ui/dialogs/file_op_dialogs.h"
#include "ui/logic/worker_job.h"

namespace toka {

/// The engine's questions, asked on the worker and answered on the window's
/// thread by the dialogs.
class FileOpJob::Relay : public FileOpQuestions {
public:
    Relay(FileOpJob& job) : m_job(job) {}

    bool confirmDelete(std::size_t count) override {
        return ask<bool>([count](FileOpDialogs& d) { return d.confirmDelete(count); }, false);
    }
    ExistsReply askExists(const ItemInfo& source, const ItemInfo& existing) override {
        return ask<ExistsReply>([source, existing](FileOpDialogs& d) { return d.askExists(source, existing); },
                                ExistsReply{ExistsAction::Cancel, false});
    }
    FailureAction askFailure(const FileOpFailure& failure) override {
        return ask<FailureAction>([failure](FileOpDialogs& d) { return d.askFailure(failure); }, FailureAction::Cancel);
    }
    void showError(const FileOpFailure& failure) override {
        ask<bool>(
            [failure](FileOpDialogs& d) {
                d.showError(failure);
                return true;
            },
            true);
    }

    // The latest progress waits in one slot; one queued call at a time
    // carries it to the dialog, so a fast engine never floods the window.
    void progress(const FileOpProgress& progress) override {
        std::lock_guard lock(m_mutex);
        m_progress = progress;
        if (m_progressPosted) return;
        m_progressPosted = true;
        QMetaObject::invokeMethod(
            &m_job,
            [this] {
                FileOpProgress latest;
                {
                    std::lock_guard taken(m_mutex);
                    latest = m_progress;
                    m_progressPosted = false;
                }
                m_job.m_dialogs->progress(latest);
            },
            Qt::QueuedConnection);
    }
    bool cancelRequested() override { return m_abandoned.load() || m_job.m_dialogs->cancelRequested(); }

    /// The job goes: questions still waiting are answered as if cancelled.
    void abandon() {
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
        m_answered.notify_all();
    }

private:
    template <class Answer>
    Answer ask(std::function<Answer(FileOpDialogs&)> question, Answer ifAbandoned) {
        auto answer = std::make_shared<std::optional<Answer>>();
        QMetaObject::invokeMethod(
            &m_job,
            [this, question = std::move(question), answer] {
                Answer given = question(*m_job.m_dialogs);
                std::lock_guard answered(m_mutex);
                *answer = given;
                m_answered.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(m_mutex);
        m_answered.wait(lock, [&] { return answer->has_value() || m_abandoned.load(); });
        return answer->has_value() ? **answer : ifAbandoned;
    }

    FileOpJob& m_job;
    std::mutex m_mutex;
    std::condition_variable m_answered;
    std::atomic<bool> m_abandoned{false};
    FileOpProgress m_progress;
    bool m_progressPosted = false;
};

FileOpJob::FileOpJob(QWidget* parent, FileOpKind kind, SystemCalls& system)
    : QObject(parent), m_kind(kind), m_system(system), m_dialogs(std::make_unique<FileOpDialogs>(parent, kind)),
      m_relay(std::make_unique<Relay>(*this)), m_worker(std::make_unique<WorkerJob>()) {
    connect(m_worker.get(), &WorkerJob::finished, this, [this] {
        m_dialogs->finish();
        emit finished();
    });
}

FileOpJob::~FileOpJob() {
    m_relay->abandon();
    m_worker.reset();
}

void FileOpJob::start(std::vector<std::string> paths, std::string destination) {
    m_worker->start([this, paths = std::move(paths), destination = std::move(destination)] {
        FileOperation operation(*m_relay, m_system);
        m_result = operation.run(paths, m_kind, destination);
    });
}

bool FileOpJob::isRunning() const { return m_worker->isRunning(); }

FileOpResult runFileOperation(QWidget* parent, const std::vector<std::string>& paths, FileOpKind kind,
                              const std::string& destination, SystemCalls& system) {
    FileOpJob job(parent, kind, system);
    QEventLoop loop;
    QObject::connect(&job, &FileOpJob::finished, &loop, &QEventLoop::quit);
    job.start(paths, destination);
    loop.exec();
    return job.result();
}

} // namespace toka
