// The Help menu, after the window's own menus: what the program is, and
// which keys do what (read off the commands themselves, so the list never
// disagrees with the menus).
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QStringList>
#include <QtGlobal>

#include "ui/window/mainform.h"

namespace toka {

void TMainForm::createHelpMenu() {
    // Alt+H is the filter bar's (hidden entries): the menu takes P.
    m_Help1 = menuBar()->addMenu(QStringLiteral("Hel&p"));
    m_KeyboardShortcuts1 = m_Help1->addAction(QStringLiteral("&Keyboard Shortcuts"));
    m_Help1->addSeparator();
    m_AboutTokaSearch1 = m_Help1->addAction(QStringLiteral("&About TOKA Search"));
    connect(m_KeyboardShortcuts1, &QAction::triggered, this, [this] {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Keyboard Shortcuts"), keyboardShortcutsText(),
                        QMessageBox::Ok, this);
        box.setObjectName("KeyboardShortcutsBox");
        box.exec();
    });
    connect(m_AboutTokaSearch1, &QAction::triggered, this, [this] {
        QMessageBox box(QMessageBox::Information, QStringLiteral("About TOKA Search"), aboutText(), QMessageBox::Ok,
                        this);
        box.setObjectName("AboutBox");
        box.setTextFormat(Qt::RichText);
        box.exec();
    });
}

QString TMainForm::aboutText() {
    return QStringLiteral("<b>TOKA Search %1</b><br>Finds files whose names you only roughly remember."
                          "<br><br>MIT License<br>"
                          "<a href=\"https://github.com/tokasearch/tokasearch\">"
                          "https://github.com/tokasearch/tokasearch</a><br><br>Qt %2")
        .arg(QStringLiteral(TOKA_VERSION), QString::fromLatin1(qVersion()));
}

QString TMainForm::keyboardShortcutsText() const {
    QStringList lines;
    for (QMenu* menu : {m_Fie1, m_Edit1, m_Search1, m_Options1}) {
        for (QAction* action : menu->actions()) {
            if (action->shortcuts().isEmpty()) continue;
            QStringList keys;
            for (const QKeySequence& key : action->shortcuts()) keys << key.toString(QKeySequence::NativeText);
            QString command = action->text();
            lines << keys.join(QStringLiteral(", ")) + QStringLiteral("\t") + command.remove('&');
        }
    }
    lines << QStringLiteral("Enter (search box)\tSearch the selected directory")
          << QStringLiteral("Enter (table)\tOpen the current row");
    return lines.join('\n');
}

} // namespace toka
