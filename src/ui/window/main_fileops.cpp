// File operations on the marked result rows: copy, move and delete into the
// selected directory through the file-operation engine, inverting the marks,
// and what a desktop user expects besides: open a row, show it in the file
// manager, copy its path, move it to the trash, drag rows onto the tree or
// into another program.
#include <QAction>
#include <QMenu>
#include <QShortcut>
#include <QTreeWidget>

#include "ui/dialogs/desktop_actions.h"
#include "ui/logic/display_text.h"
#include "ui/widgets/explorer_tree.h"
#include "ui/window/mainform.h"
#include "ui/window/status_strip.h"
#include "ui/window/settings_controller.h"
#include "ui/widgets/path_label.h"
#include "ui/window/result_drag.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/file_ops_controller.h"
#include "ui/window/results_controller.h"

namespace toka {

void TMainForm::DoFileOperation(int code) {
    // The design's operation codes: 0 copy, 1 move, 2 delete.
    if (code < 0 || code > 2) return;
    m_fileOps->perform(m_results->markedPaths(), static_cast<FileOpKind>(code), selectedDirectory());
}

void TMainForm::sbCopyClick() { DoFileOperation(static_cast<int>(FileOpKind::Copy)); }
void TMainForm::sbMoveClick() { DoFileOperation(static_cast<int>(FileOpKind::Move)); }
void TMainForm::sbDeleteClick() { DoFileOperation(static_cast<int>(FileOpKind::Delete)); }

void TMainForm::sbInvertClick() { m_results->invertMarks(); }

void TMainForm::openResultRow(int row) { m_fileOps->open(m_results->resultPath(row)); }

void TMainForm::sgexResultsContextMenu(const QPoint& pos) {
    TStringGridEx* sgexResults = m_results->sgexResults();
    if (sgexResults->rowAt(pos.y()) < 0 || sgexResults->columnAt(pos.x()) < 0) return;
    const int row = sgexResults->rowAt(pos.y()) + 1;
    const std::string path = m_results->resultPath(row);
    if (path.empty()) return;
    // The click that opened the menu has marked the rows it acts on.

    QMenu menu(this);
    menu.setObjectName("ResultMenu");
    QAction* open = menu.addAction(QStringLiteral("Open"));
    QAction* showFolder = menu.addAction(QStringLiteral("Open Containing Folder"));
    menu.addAction(m_CopyPath1);
    menu.addSeparator();
    menu.addAction(m_MoveToTrash1);
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
    menu.addAction(m_Delete1);
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
    m_StatusPanel->lCurrentDir()->setPath(GetNodePath(node));
    m_StatusPanel->lCurrentDir()->repaint();
}

void TMainForm::ExplorerDragLeave() {
    // A drag that leaves the tree or is cancelled changes no destination.
    const QList<QTreeWidgetItem*> selected = m_Explorer->selectedItems();
    m_StatusPanel->lCurrentDir()->setPath(GetNodePath(selected.value(0)));
}

void TMainForm::ExplorerDragDrop(QTreeWidgetItem* node, bool move) {
    // The node becomes the selected one, so that tree, label and destination
    // agree.  The operation runs once the drag is over: its dialogs must not
    // open inside the drag's own event loop.
    m_Explorer->setCurrentItem(node);
    const std::vector<std::string> paths = m_results->markedPaths();
    const std::string destination = GetNodePath(node);
    const FileOpKind kind = move ? FileOpKind::Move : FileOpKind::Copy;
    QMetaObject::invokeMethod(
        this, [this, paths, kind, destination] { m_fileOps->perform(paths, kind, destination); }, Qt::QueuedConnection);
}

void TMainForm::connectFileActions() {
    m_fileOps = new FileOpsController(this, [this] { return m_settings->WarnResultChanged(); });
    TStringGridEx* sgexResults = m_results->sgexResults();
    connect(sgexResults, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { openResultRow(index.row() + 1); });
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter})
        new QShortcut(
            QKeySequence(key), sgexResults, [this, sgexResults] { openResultRow(sgexResults->Row()); },
            Qt::WidgetShortcut);
    sgexResults->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(sgexResults, &QWidget::customContextMenuRequested, this, &TMainForm::sgexResultsContextMenu);

    new ResultDragSource(
        sgexResults, [this] { return m_results->markedPaths(); }, [this] { ExplorerDragLeave(); });
    new ExplorerDropTarget(
        m_Explorer, sgexResults, [this](QTreeWidgetItem* node) { ExplorerDragOver(node); },
        [this] { ExplorerDragLeave(); }, [this](QTreeWidgetItem* node, bool move) { ExplorerDragDrop(node, move); });
}

} // namespace toka
