#pragma once
// The file operations' duty: copy, move and delete through the engine on a
// worker (its questions asked as the window's dialogs), the trash, opening a
// row's file, one operation at a time, and the "result may have changed" box
// after each.

#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fileops/file_op_questions.h"

class QWidget;

namespace toka {

class SystemCalls;

class FileOpsController : public QObject {
    Q_OBJECT
public:
    /// Runs one copy, move or delete of paths into destination.
    using Runner =
        std::function<void(const std::vector<std::string>& paths, FileOpKind kind, const std::string& destination)>;

    /// window owns the dialogs; warnResultChanged tells whether the box
    /// follows an operation.
    FileOpsController(QWidget* window, std::function<bool()> warnResultChanged);

    /// Copies or moves paths into destination, or deletes them; returns at
    /// once (finished tells the end).  Does nothing while another runs.
    void perform(const std::vector<std::string>& paths, FileOpKind kind, const std::string& destination);
    /// Moves paths to the trash; what has no trash is offered to delete.
    void moveToTrash(const std::vector<std::string>& paths, const std::string& destination);
    /// Opens path with the desktop's default application.
    void open(const std::string& path);

    /// Replaces the engine and its dialogs (called on the window's thread;
    /// the operation is over when it returns); empty brings them back.
    void setRunner(Runner runner) { m_runner = std::move(runner); }
    /// The system calls behind copy, move, delete and trash.
    void setSystemCalls(SystemCalls& system) { m_system = &system; }
    bool isRunning() const { return m_running; }

    /// What the last operation was given: kind 0 copy, 1 move, 2 delete,
    /// 3 trash (the items the trash took), with its destination.
    struct Done {
        int kind = 0;
        std::size_t count = 0;
        std::string destination;
    };
    const std::optional<Done>& lastDone() const { return m_lastDone; }

signals:
    /// An operation is over (its warning box closed).
    void finished();

private:
    void end();

    QWidget* m_window;
    std::function<bool()> m_warnResultChanged;
    Runner m_runner;
    SystemCalls* m_system;
    bool m_running = false;
    std::optional<Done> m_lastDone;
};

} // namespace toka
