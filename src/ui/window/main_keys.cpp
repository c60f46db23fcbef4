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
#include "ui/window/settings_controller.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/file_ops_controller.h"
#include "ui/window/results_controller.h"
#include "ui/window/search_controller.h"

namespace toka {

void TMainForm::createShortcuts() {
    const auto command = [this](const char* caption, const QList<QKeySequence>& keys, auto handler) {
        auto* action = new QAction(QString::fromUtf8(caption), this);
        action->setShortcuts(keys);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    const auto standard = [](QKeySequence::StandardKey key) { return QKeySequence::keyBindings(key); };

    m_Stop1->setShortcut(Qt::Key_Escape);
    m_SearchAgain1 = command("Search &Again", {Qt::Key_F5}, &TMainForm::searchAgain);
    m_SearchAgain1->setEnabled(false);
    m_Search1->insertAction(m_Stop1, m_SearchAgain1);
    // Possible exactly when a search could start and one was started
    // before: it follows Directory1, which a running search disables.
    connect(m_Directory1, &QAction::enabledChanged, m_SearchAgain1,
            [this](bool enabled) { m_SearchAgain1->setEnabled(enabled && m_lastSearch); });
    m_SearchText1 = command(
        "Search &Text",
        {QKeyCombination(Qt::ControlModifier, Qt::Key_F), QKeyCombination(Qt::ControlModifier, Qt::Key_L)}, [this] {
            m_search->eSearch()->setFocus(Qt::ShortcutFocusReason);
            m_search->eSearch()->selectAll();
        });
    m_Search1->addSeparator();
    m_Search1->addAction(m_SearchText1);

    m_SelectAll1 = command("Select &All", standard(QKeySequence::SelectAll), [this] { m_results->markAllEntries(); });
    m_CopyPath1 = command("&Copy Path", standard(QKeySequence::Copy), [this] {
        // Nothing marked keeps what the clipboard holds.
        if (const std::vector<std::string> paths = m_results->markedPaths(); !paths.empty())
            copyPathsToClipboard(paths);
    });
    m_Edit1->insertAction(m_InvertSelection1, m_SelectAll1);
    m_Edit1->addSeparator();
    m_Edit1->addAction(m_CopyPath1);

    m_MoveToTrash1 = command("Move to &Trash", {},
                             [this] { m_fileOps->moveToTrash(m_results->markedPaths(), selectedDirectory()); });
    m_Fie1->insertAction(m_Delete1, m_MoveToTrash1);
    m_Edit1->addSeparator();
    m_Edit1->addAction(m_settings->DeleteKeyMovesToTrash1());
    connect(m_settings->DeleteKeyMovesToTrash1(), &QAction::toggled, this, &TMainForm::syncDeleteKeys);
    syncDeleteKeys();

    for (QAction* action : {m_SelectAll1, m_CopyPath1, m_MoveToTrash1, m_Delete1}) {
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        m_results->sgexResults()->addAction(action);
    }
}

void TMainForm::syncDeleteKeys() {
    m_MoveToTrash1->setShortcut(m_settings->DeleteKeyMovesToTrash() ? QKeySequence(Qt::Key_Delete) : QKeySequence());
    m_Delete1->setShortcut(m_settings->DeleteKeyMovesToTrash()
                               ? QKeySequence(QKeyCombination(Qt::ShiftModifier, Qt::Key_Delete))
                               : QKeySequence());
}

void TMainForm::searchAgain() {
    if (isSearching() || !m_lastSearch) return;
    m_settings->rememberSearchText();
    (this->*m_lastSearch)();
}

} // namespace toka
