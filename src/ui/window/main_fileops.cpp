// File operations on the marked result rows: copy, move and delete into the
// selected directory through the file-operation engine, inverting the marks,
// and what a desktop user expects besides: open a row, show it in the file
// manager, copy its path, move it to the trash, drag rows onto the tree or
// into another program.
#include <QAction>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QTreeWidget>

#include "ui/dialogs/desktop_actions.h"
#include "ui/logic/display_text.h"
#include "ui/widgets/explorer_tree.h"
#include "ui/dialogs/file_op_dialogs.h"
#include "ui/dialogs/file_op_job.h"
#include "ui/window/mainform.h"
#include "ui/widgets/path_label.h"
#include "ui/window/result_drag.h"
#include "ui/widgets/strgrdex.h"
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

void TMainForm::setFileOperationRunner(FileOperationRunner runner) { m_fileOperationRunner = std::move(runner); }

void TMainForm::setFileSystemCalls(SystemCalls& system) { m_system = &system; }

std::vector<std::string> TMainForm::markedPaths() const {
    std::vector<std::string> paths;
    for (int row = 1; row < sgexResults->RowCount(); ++row) {
        if (!sgexResults->IsRowMarked(row)) continue;
        std::string path = resultPath(row);
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

void TMainForm::DoFileOperation(int code) {
    // The design's operation codes: 0 copy, 1 move, 2 delete.
    if (code < 0 || code > 2) return;
    performFileOperation(markedPaths(), static_cast<FileOpKind>(code), selectedDirectory());
}

void TMainForm::performFileOperation(const std::vector<std::string>& paths, FileOpKind kind,
                                     const std::string& destination) {
    // One operation at a time: the menu items stay usable during a search
    // and while an operation runs on its worker, and a second one must not
    // work on the same files.
    if (m_fileOperationRunning) return;
    // Copy and move need a directory chosen in the tree.  Until then the
    // label shows its placeholder and the destination is "": said as it is,
    // not as a folder "" that does not exist, and nothing is touched.
    if (kind != FileOpKind::Delete && destination.empty()) {
        FlagScope running(m_fileOperationRunning);
        QMessageBox::warning(this, FileOpDialogs::titleOf(kind),
                             QStringLiteral("Select the destination folder in the directory tree first."));
        return;
    }
    if (m_fileOperationRunner) {
        {
            FlagScope running(m_fileOperationRunning);
            m_fileOperationRunner(paths, kind, destination);
        }
        endFileOperation();
        return;
    }
    // The engine works on a worker; its questions come as the window's
    // dialogs, and the end as a queued call.
    m_fileOperationRunning = true;
    auto* job = new FileOpJob(this, kind, *m_system);
    connect(job, &FileOpJob::finished, this, [this, job] {
        job->deleteLater();
        m_fileOperationRunning = false;
        endFileOperation();
    });
    job->start(paths, destination);
}

void TMainForm::endFileOperation() {
    showResultChangedWarning();
    emit fileOperationFinished();
}

void TMainForm::showResultChangedWarning() {
    // QMessageBox's static functions run the box application-modal.
    if (WarnResultChanged)
        QMessageBox::information(this, QStringLiteral("Information"),
                                 QStringLiteral("The search result may have changed due to file operations."));
}

void TMainForm::sbCopyClick() { DoFileOperation(static_cast<int>(FileOpKind::Copy)); }
void TMainForm::sbMoveClick() { DoFileOperation(static_cast<int>(FileOpKind::Move)); }
void TMainForm::sbDeleteClick() { DoFileOperation(static_cast<int>(FileOpKind::Delete)); }

void TMainForm::sbInvertClick() {
    for (int row = 1; row < sgexResults->RowCount(); ++row)
        sgexResults->SetRowMarked(row, !sgexResults->IsRowMarked(row));
}

void TMainForm::openResultRow(int row) {
    const std::string path = resultPath(row);
    if (path.empty()) return;
    if (!openWithDefaultApplication(path))
        QMessageBox::warning(this, QStringLiteral("Open"),
                             QStringLiteral("No application could be started for \"%1\".").arg(displayText(path)));
}

void TMainForm::moveRowsToTrash(const std::vector<std::string>& paths) {
    if (paths.empty() || m_fileOperationRunning) return;
    m_fileOperationRunning = true;
    auto failures = std::make_shared<std::vector<TrashFailure>>();
    auto* job = new WorkerJob(this);
    connect(job, &WorkerJob::finished, this, [this, job, paths, failures] {
        job->deleteLater();
        std::vector<std::string> toDelete;
        {
            FlagScope reporting(m_fileOperationRunning);
            toDelete = reportTrashFailures(this, paths, *failures);
        }
        m_fileOperationRunning = false;
        // What has no trash on its volume is deleted only through the
        // window's delete, with its own confirmation and progress; it shows
        // the warning.
        if (!toDelete.empty()) performFileOperation(toDelete, FileOpKind::Delete, selectedDirectory());
        else endFileOperation();
    });
    job->start([paths, failures, system = m_system] { *failures = moveAllToTrash(paths, *system); });
}

void TMainForm::sgexResultsContextMenu(const QPoint& pos) {
    if (sgexResults->rowAt(pos.y()) < 0 || sgexResults->columnAt(pos.x()) < 0) return;
    const int row = sgexResults->rowAt(pos.y()) + 1;
    const std::string path = resultPath(row);
    if (path.empty()) return;
    // The click that opened the menu has marked the rows it acts on.

    QMenu menu(this);
    menu.setObjectName("ResultMenu");
    QAction* open = menu.addAction(QStringLiteral("Open"));
    QAction* showFolder = menu.addAction(QStringLiteral("Open Containing Folder"));
    menu.addAction(CopyPath1);
    menu.addSeparator();
    menu.addAction(MoveToTrash1);
    menu.addSeparator();
    // Copy and move say where: the selected directory by name (its path in
    // the hint), without an ellipsis, as no dialog follows.  With none
    // selected they say so and stay off.
    const std::string destination = selectedDirectory();
    const QString where = destinationName(destination);
    QAction* copy = menu.addAction(where.isEmpty() ? QStringLiteral("Copy to Selected Folder")
                                                   : QStringLiteral("Copy to %1").arg(where));
    QAction* move = menu.addAction(where.isEmpty() ? QStringLiteral("Move to Selected Folder")
                                                   : QStringLiteral("Move to %1").arg(where));
    for (QAction* action : {copy, move}) {
        action->setEnabled(!where.isEmpty());
        if (!where.isEmpty()) action->setToolTip(displayText(destination));
    }
    connect(copy, &QAction::triggered, this, &TMainForm::sbCopyClick);
    connect(move, &QAction::triggered, this, &TMainForm::sbMoveClick);
    menu.setToolTipsVisible(true);
    menu.addAction(Delete1);
    QAction* chosen = menu.exec(sgexResults->viewport()->mapToGlobal(pos));
    if (chosen == open) openResultRow(row);
    else if (chosen == showFolder) showInFileManager(path, this);
}

QString TMainForm::destinationName(const std::string& directory) {
    if (directory.empty()) return {};
    std::string name = directory;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    if (name == "/") return QStringLiteral("/");
    return displayText(name.substr(name.find_last_of('/') + 1));
}

void TMainForm::ExplorerDragOver(QTreeWidgetItem* node) {
    // The hovered directory stands in the label as the drop's destination.
    lCurrentDir->setPath(GetNodePath(node));
    lCurrentDir->repaint();
}

void TMainForm::ExplorerDragLeave() {
    // A drag that leaves the tree or is cancelled changes no destination.
    const QList<QTreeWidgetItem*> selected = Explorer->selectedItems();
    lCurrentDir->setPath(GetNodePath(selected.value(0)));
}

void TMainForm::ExplorerDragDrop(QTreeWidgetItem* node, bool move) {
    // The node becomes the selected one, so that tree, label and destination
    // agree.  The operation runs once the drag is over: its dialogs must not
    // open inside the drag's own event loop.
    Explorer->setCurrentItem(node);
    const std::vector<std::string> paths = markedPaths();
    const std::string destination = GetNodePath(node);
    const FileOpKind kind = move ? FileOpKind::Move : FileOpKind::Copy;
    QMetaObject::invokeMethod(
        this, [this, paths, kind, destination] { performFileOperation(paths, kind, destination); },
        Qt::QueuedConnection);
}

void TMainForm::connectFileActions() {
    connect(sgexResults, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { openResultRow(index.row() + 1); });
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter})
        new QShortcut(
            QKeySequence(key), sgexResults, [this] { openResultRow(sgexResults->Row()); }, Qt::WidgetShortcut);
    sgexResults->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sgexResults, &QWidget::customContextMenuRequested, this, &TMainForm::sgexResultsContextMenu);

    new ResultDragSource(
        sgexResults, [this] { return markedPaths(); }, [this] { ExplorerDragLeave(); });
    new ExplorerDropTarget(
        Explorer, sgexResults, [this](QTreeWidgetItem* node) { ExplorerDragOver(node); },
        [this] { ExplorerDragLeave(); }, [this](QTreeWidgetItem* node, bool move) { ExplorerDragDrop(node, move); });
}

} // namespace toka
