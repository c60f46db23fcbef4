#pragma once
// One copy, move or delete of the window, run by the file-operation engine
// on a worker thread.  The engine's questions (the item exists, a failure,
// the confirmation of a delete) appear as the window's modal dialogs
// (FileOpDialogs), each asked through a queued call and answered back to
// the waiting worker; the progress dialog follows the work and its Cancel
// stops it.  The window's thread never waits on the file system.

#include <QObject>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "fileops/file_op_questions.h"
#include "platform/core/system_calls.h"

class QWidget;

namespace toka {

class FileOpDialogs;
class WorkerJob;

class FileOpJob : public QObject {
    Q_OBJECT
public:
    /// The dialogs go over parent; system: the engine's system calls,
    /// replaced only in tests.
    FileOpJob(QWidget* parent, FileOpKind kind, SystemCalls& system = posixSystemCalls());
    /// A job still running is cancelled: a question waiting for the user is
    /// answered Cancel, and the worker is waited for.
    ~FileOpJob() override;

    /// Starts the work on paths (full paths as bytes, in order) into
    /// destination (a directory path ending in "/"; not looked at for
    /// delete).  Once per job.
    void start(std::vector<std::string> paths, std::string destination);
    bool isRunning() const;
    /// What the engine reported, once finished.
    const FileOpResult& result() const { return m_result; }
    FileOpDialogs& dialogs() { return *m_dialogs; }

signals:
    /// The work is over (done, failed or cancelled); the progress dialog is closed.
    void finished();

private:
    class Relay;
    FileOpKind m_kind;
    SystemCalls& m_system;
    std::unique_ptr<FileOpDialogs> m_dialogs;
    std::unique_ptr<Relay> m_relay;
    FileOpResult m_result;
    std::unique_ptr<WorkerJob> m_worker; // last: joined before the rest goes
};

/// Runs one operation as a FileOpJob and returns its result when it is
/// over, the event loop running meanwhile (for callers that need the result
/// at once: tools and tests; the window starts jobs and goes on).
FileOpResult runFileOperation(QWidget* parent, const std::vector<std::string>& paths, FileOpKind kind,
                              const std::string& destination, SystemCalls& system = posixSystemCalls());

} // namespace toka
