#include "ui/window/file_ops_controller.h"

#include <QMessageBox>
#include <QWidget>

#include <memory>

#include "fileops/trash.h"
#include "platform/core/system_calls.h"
#include "ui/dialogs/desktop_actions.h"
#include "ui/dialogs/file_op_dialogs.h"
#include "ui/dialogs/file_op_job.h"
#include "ui/logic/display_text.h"
#include "ui/logic/worker_job.h"

namespace toka {

namespace {

// Clears a flag when the scope ends, also when the work in it throws.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
    ~FlagScope() { m_flag = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& m_flag;
};

} // namespace

FileOpsController::FileOpsController(QWidget* window, std::function<bool()> warnResultChanged)
    : QObject(window), m_window(window), m_warnResultChanged(std::move(warnResultChanged)),
      m_system(&posixSystemCalls()) {}

void FileOpsController::perform(const std::vector<std::string>& paths, FileOpKind kind,
                                const std::string& destination) {
    // One operation at a time: the menu items stay usable during a search
    // and while an operation runs on its worker, and a second one must not
    // work on the same files.
    if (m_running) return;
    // Copy and move need a directory chosen in the tree.  Until then the
    // label shows its placeholder and the destination is "": said as it is,
    // not as a folder "" that does not exist, and nothing is touched.
    if (kind != FileOpKind::Delete && destination.empty()) {
        FlagScope running(m_running);
        QMessageBox::warning(m_window, FileOpDialogs::titleOf(kind),
                             QStringLiteral("Select the destination folder in the directory tree first."));
        return;
    }
    m_lastDone = Done{static_cast<int>(kind), paths.size(), destination};
    if (m_runner) {
        {
            FlagScope running(m_running);
            m_runner(paths, kind, destination);
        }
        end();
        return;
    }
    // The engine works on a worker; its questions come as the window's
    // dialogs, and the end as a queued call.
    m_running = true;
    auto* job = new FileOpJob(m_window, kind, *m_system);
    connect(job, &FileOpJob::finished, this, [this, job] {
        job->deleteLater();
        m_running = false;
        end();
    });
    job->start(paths, destination);
}

void FileOpsController::end() {
    // QMessageBox's static functions run the box application-modal.
    if (m_warnResultChanged())
        QMessageBox::information(m_window, QStringLiteral("Information"),
                                 QStringLiteral("The search result may have changed due to file operations."));
    emit finished();
}

void FileOpsController::moveToTrash(const std::vector<std::string>& paths, const std::string& destination) {
    if (paths.empty() || m_running) return;
    m_running = true;
    auto failures = std::make_shared<std::vector<TrashFailure>>();
    auto* job = new WorkerJob(this);
    connect(job, &WorkerJob::finished, this, [this, job, paths, failures, destination] {
        job->deleteLater();
        std::vector<std::string> toDelete;
        {
            FlagScope reporting(m_running);
            toDelete = reportTrashFailures(m_window, paths, *failures);
        }
        m_lastDone = Done{3, paths.size() - failures->size(), {}};
        m_running = false;
        // What has no trash on its volume is deleted only through the
        // window's delete, with its own confirmation and progress; it shows
        // the warning.
        if (!toDelete.empty()) perform(toDelete, FileOpKind::Delete, destination);
        else end();
    });
    job->start([paths, failures, system = m_system] { *failures = moveAllToTrash(paths, *system); });
}

void FileOpsController::open(const std::string& path) {
    if (path.empty()) return;
    if (!openWithDefaultApplication(path))
        QMessageBox::warning(m_window, QStringLiteral("Open"),
                             QStringLiteral("No application could be started for \"%1\".").arg(displayText(path)));
}

} // namespace toka
