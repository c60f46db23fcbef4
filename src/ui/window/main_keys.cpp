// The window's keyboard shortcuts.  Each is the shortcut of a menu command,
// so the menus show it:
//   Esc           Search > Stop (only during a search)
//   F5            Search > Search Again: the last search started, with the
//                 current search text
//   Ctrl+F/Ctrl+L Search > Search Text: the focus to the search box
//   Ctrl+A        Edit > Select All        (table only)
//   Ctrl+C        Edit > Copy Path         (table only)
//   Del           File > Move to Trash     (table only, with Edit > Delete Key
//                 Moves to Trash on; off at first: the key does nothing)
//   Shift+Del     File > Delete...         (likewise; asks first)
// The table's commands use Qt::WidgetWithChildrenShortcut on the table: in
// the search box the same keys select, copy and delete text as usual.
#include <QAction>
#include <QLineEdit>
#include <QMenu>

#include "ui/dialogs/desktop_actions.h"
#include "ui/window/mainform.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/file_ops_controller.h"
#include "ui/window/results_controller.h"

namespace toka {

void TMainForm::createShortcuts() {
    const auto command = [this](const char* caption, const QList<QKeySequence>& keys, auto handler) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    const auto standard = [](QKeySequence::StandardKey key) { return QKeySequence::keyBindings(key); };

    Stop1->setShortcut(Qt::Key_Escape);
    SearchAgain1 = command("Search &Again", {Qt::Key_F5}, &TMainForm::searchAgain);
    SearchAgain1->setEnabled(false);
    Search1->insertAction(Stop1, SearchAgain1);
    // Possible exactly when a search could start and one was started
    // before: it follows Directory1, which a running search disables.
    connect(Directory1, &QAction::enabledChanged, SearchAgain1,
            [this](bool enabled) { SearchAgain1->setEnabled(enabled && m_lastSearch); });
    SearchText1 = command(
        "Search &Text",
        {QKeyCombination(Qt::ControlModifier, Qt::Key_F), QKeyCombination(Qt::ControlModifier, Qt::Key_L)}, [this] {
            eSearch->setFocus(Qt::ShortcutFocusReason);
            eSearch->selectAll();
        });
    Search1->addSeparator();
    Search1->addAction(SearchText1);

    SelectAll1 = command("Select &All", standard(QKeySequence::SelectAll), [this] { m_results->markAllEntries(); });
    CopyPath1 = command("&Copy Path", standard(QKeySequence::Copy), [this] {
        // Nothing marked keeps what the clipboard holds.
        if (const std::vector<std::string> paths = m_results->markedPaths(); !paths.empty())
            copyPathsToClipboard(paths);
    });
    Edit1->insertAction(InvertSelection1, SelectAll1);
    Edit1->addSeparator();
    Edit1->addAction(CopyPath1);

    MoveToTrash1 = command("Move to &Trash", {},
                           [this] { m_fileOps->moveToTrash(m_results->markedPaths(), selectedDirectory()); });
    Fie1->insertAction(Delete1, MoveToTrash1);
    DeleteKeyMovesToTrash1 = new QAction(QStringLiteral("&Delete Key Moves to Trash"), this);
    DeleteKeyMovesToTrash1->setCheckable(true);
    Edit1->addSeparator();
    Edit1->addAction(DeleteKeyMovesToTrash1);
    connect(DeleteKeyMovesToTrash1, &QAction::toggled, this, [this](bool on) {
        DeleteKeyMovesToTrash = on;
        syncDeleteKeys();
    });
    syncDeleteKeys();

    for (QAction* action : {SelectAll1, CopyPath1, MoveToTrash1, Delete1}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_results->sgexResults()->addAction(action);
    }
}

void TMainForm::syncDeleteKeys() {
    MoveToTrash1->setShortcut(DeleteKeyMovesToTrash ? QKeySequence(Qt::Key_Delete) : QKeySequence());
    Delete1->setShortcut(DeleteKeyMovesToTrash ? QKeySequence(QKeyCombination(Qt::ShiftModifier, Qt::Key_Delete))
                                               : QKeySequence());
}

void TMainForm::searchAgain() {
    if (isSearching() || !m_lastSearch) return;
    rememberSearchText();
    (this->*m_lastSearch)();
}

} // namespace toka
