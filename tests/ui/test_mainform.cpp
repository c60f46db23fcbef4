// The main window's states, toggles, strips, hints and keyboard order,
// driven through its real buttons, menus and keys.
#include <QAccessible>
#include <QAction>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QScreen>
#include <QTest>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>

#include <algorithm>

#include "ui/window/mainform.h"
#include "ui/widgets/accessible_names.h"
#include "ui/widgets/filter_bar.h"
#include "ui/widgets/path_label.h"
#include "ui/widgets/strgrdex.h"
#include "ui/widgets/tool_icons.h"
#include "ui_test_support.h"

namespace toka::test {

class TestMainForm : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TMainForm> m_form;

    TMainForm& shownForm() {
        shownMainForm(m_form).activateWindow();
        return *m_form;
    }

    // Runs one user action on the window by its name.
    void act(TMainForm& form, const QString& action) {
        if (action == "click Fuzzy") QTest::mouseClick(form.search().sbMeasure(), Qt::LeftButton);
        else if (action == "click Similar") QTest::mouseClick(form.search().sbSimilar(), Qt::LeftButton);
        else if (action == "menu fuzzy")
            chooseFromMenu(form, form.Search1(), Qt::Key_S, form.settings().Searchlengthindependendfuzzy1());
        else if (action == "click Recurse") QTest::mouseClick(form.search().sbRecurseDirs(), Qt::LeftButton);
        else if (action == "menu recurse")
            chooseFromMenu(form, form.Search1(), Qt::Key_S, form.settings().RecurseSubdirectories1());
        else if (action == "click Viewer") QTest::mouseClick(form.sbFileViewer(), Qt::LeftButton);
        else if (action == "menu viewer")
            chooseFromMenu(form, form.Options1(), Qt::Key_V, form.settings().ShowFileViewer1());
        else if (action == "menu toolbar")
            chooseFromMenu(form, form.Options1(), Qt::Key_V, form.settings().ShowFileToolbar1());
        else if (action == "menu filters")
            chooseFromMenu(form, form.Options1(), Qt::Key_V, form.settings().ShowFilters1());
        else if (action == "menu hints")
            chooseFromMenu(form, form.Options1(), Qt::Key_V, form.settings().ShowFlybyHints1());
        else if (action == "menu warning")
            chooseFromMenu(form, form.Options1(), Qt::Key_V, form.settings().WarningSearchResultChanged1());
        else QFAIL(qPrintable("unknown action " + action));
    }

private slots:
    // A screen reader announces every control by a name, and the icon
    // buttons and boxes also by their hints.
    // The tool pictures stand out from a dark palette as from a light one,
    // and are drawn anew for a screen scaled by 2, not blown up.
    void toolPicturesFollowThePaletteAndTheScale() {
        for (const int window : {30, 240}) {
            QPalette palette;
            palette.setColor(QPalette::Window, QColor(window, window, window));
            const QPixmap crisp = toolIcon(ToolPicture::Delete, palette).pixmap(QSize(16, 16), 2.0);
            QCOMPARE(crisp.size(), QSize(32, 32));
            QCOMPARE(crisp.devicePixelRatio(), 2.0);
            // The middle of the cross.
            const QColor middle = crisp.toImage().pixelColor(16, 16);
            QCOMPARE(middle.alpha(), 255);
            QVERIFY2(std::abs(middle.lightness() - window) > 150, qPrintable(middle.name()));
        }
    }

    void everyControlHasAnAccessibleName() {
        TMainForm& form = shownMainForm(m_form);
        QStringList nameless;
        int controls = 0;
        for (QWidget* widget : form.findChildren<QWidget*>()) {
            if (!isOperableControl(widget)) continue;
            ++controls;
            QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
            if (!accessible || accessible->text(QAccessible::Name).trimmed().isEmpty())
                nameless << widget->metaObject()->className() + QString(" ") + widget->objectName();
        }
        QVERIFY2(controls > 25, qPrintable(QString::number(controls)));
        QVERIFY2(nameless.isEmpty(), qPrintable(nameless.join(", ")));
        const QAccessibleInterface* search = QAccessible::queryAccessibleInterface(form.search().eSearch());
        QCOMPARE(search->text(QAccessible::Name), QString("Search for"));
        QCOMPARE(search->text(QAccessible::Description), QString("Enter Search String here"));
        QCOMPARE(QAccessible::queryAccessibleInterface(form.search().sbSearchDir())->text(QAccessible::Name),
                 QString("Search Selected Directory"));
    }

    void cleanup() { m_form.reset(); }

    void stateRightAfterStart() {
        TMainForm& form = shownForm();
        QCOMPARE(form.windowTitle(), QString("TOKA Search  - The Nufa File Finder "));
        QVERIFY(form.search().sbRecurseDirs()->isChecked());
        QVERIFY(form.settings().RecurseSubdirectories1()->isChecked());
        QVERIFY(form.search().sbMeasure()->isChecked());
        QVERIFY(!form.search().sbSimilar()->isChecked());
        QVERIFY(form.settings().Searchlengthindependendfuzzy1()->isChecked());
        QVERIFY(form.Toolbar1()->isVisible());
        QVERIFY(form.settings().ShowFlybyHints1()->isChecked());
        // Designed visible, hidden by the first showing.
        QVERIFY(!form.viewer().pFileViewer()->isVisible());
        QVERIFY(!form.Splitter2()->isVisible());
        QVERIFY(!form.sbFileViewer()->isChecked());
        QVERIFY(!form.settings().ShowFileViewer1()->isChecked());
        QVERIFY(form.settings().WarningSearchResultChanged1()->isChecked());
        QVERIFY(!form.search().sbStop()->isEnabled());
        QVERIFY(!form.Stop1()->isEnabled());
        QVERIFY(form.search().sbSearchDir()->isEnabled() && form.Directory1()->isEnabled());
        QVERIFY(form.search().sbSearchHDs()->isEnabled() && form.AllFixedDisks1()->isEnabled());
        QCOMPARE(form.statusText(), QString("Ready"));
        QCOMPARE(form.StatusPanel()->lFileScanned()->text(), QString("0"));
        QCOMPARE(form.search().eSearch()->text(), QString("TOKASearch"));
        QCOMPARE(form.seNumberofItems()->value(), 30);
        QVERIFY(!form.Timer()->isActive());
        QVERIFY(form.Explorer()->hasFocus());
        QVERIFY(form.Explorer()->topLevelItemCount() >= 1); // "/" at least
        QCOMPARE(form.Explorer()->topLevelItem(0)->text(0), QString("/"));
        // The table: header row and one empty row, no marks.
        QCOMPARE(form.results().sgexResults()->RowCount(), 2);
        QCOMPARE(form.results().sgexResults()->Cells(0, 0), QString("File"));
        QCOMPARE(form.results().sgexResults()->Cells(6, 0), QString("Measure"));
        QVERIFY(!form.results().sgexResults()->IsRowMarked(1));
        QVERIFY(form.selectedDirectory().empty());
        // Every column can be seen without scrolling, unless the screen is
        // too narrow for the window to grow that far.
        const bool fits =
            form.results().sgexResults()->columnViewportPosition(6) + form.results().sgexResults()->columnWidth(6)
            <= form.results().sgexResults()->viewport()->width();
        QVERIFY(fits || form.frameGeometry().width() >= form.screen()->availableGeometry().width());
    }

    void toggles_data() {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<bool>("fuzzy");
        QTest::addColumn<bool>("recurse");
        QTest::addColumn<bool>("viewer");
        QTest::addColumn<bool>("warn");

        // Clicking the mode already down switches to the other mode.
        QTest::newRow("click Fuzzy while Fuzzy is down")
            << QStringList{"click Fuzzy"} << false << true << false << true;
        QTest::newRow("click Similar") << QStringList{"click Similar"} << false << true << false << true;
        QTest::newRow("click Similar twice")
            << QStringList{"click Similar", "click Similar"} << true << true << false << true;
        QTest::newRow("Fuzzy then the fuzzy menu item restores fuzzy")
            << QStringList{"click Fuzzy", "menu fuzzy"} << true << true << false << true;
        QTest::newRow("fuzzy menu item once") << QStringList{"menu fuzzy"} << false << true << false << true;
        QTest::newRow("recurse button") << QStringList{"click Recurse"} << true << false << false << true;
        QTest::newRow("recurse button and menu")
            << QStringList{"click Recurse", "menu recurse"} << true << true << false << true;
        QTest::newRow("viewer menu") << QStringList{"menu viewer"} << true << true << true << true;
        QTest::newRow("viewer button") << QStringList{"click Viewer"} << true << true << true << true;
        QTest::newRow("viewer button then menu")
            << QStringList{"click Viewer", "menu viewer"} << true << true << false << true;
        QTest::newRow("warning item") << QStringList{"menu warning"} << true << true << false << false;
    }

    void toggles() {
        QFETCH(QStringList, actions);
        QFETCH(bool, fuzzy);
        QFETCH(bool, recurse);
        QFETCH(bool, viewer);
        QFETCH(bool, warn);
        TMainForm& form = shownForm();
        for (const QString& action : actions) act(form, action);

        QCOMPARE(form.settings().FuzzySearch(), fuzzy);
        QCOMPARE(form.search().sbMeasure()->isChecked(), fuzzy);
        QCOMPARE(form.search().sbSimilar()->isChecked(), !fuzzy);
        QCOMPARE(form.settings().Searchlengthindependendfuzzy1()->isChecked(), fuzzy);
        QCOMPARE(form.search().sbRecurseDirs()->isChecked(), recurse);
        QCOMPARE(form.settings().RecurseSubdirectories1()->isChecked(), recurse);
        QCOMPARE(form.viewer().pFileViewer()->isVisible(), viewer);
        QCOMPARE(form.Splitter2()->isVisible(), viewer);
        QCOMPARE(form.sbFileViewer()->isChecked(), viewer);
        QCOMPARE(form.settings().ShowFileViewer1()->isChecked(), viewer);
        QCOMPARE(form.settings().WarningSearchResultChanged1()->isChecked(), warn);
        QCOMPARE(form.settings().WarnResultChanged(), warn);
    }

    // The strips from the top: search row, filter bar, tool row, status.
    void stripOrder_data() {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<bool>("toolsShown");
        QTest::addColumn<bool>("filtersShown");
        QTest::newRow("as started") << QStringList{} << true << false;
        QTest::newRow("tool row hidden") << QStringList{"menu toolbar"} << false << false;
        QTest::newRow("hidden and shown again") << QStringList{"menu toolbar", "menu toolbar"} << true << false;
        QTest::newRow("with the viewer shown")
            << QStringList{"menu toolbar", "menu viewer", "menu toolbar"} << true << false;
        QTest::newRow("filter bar shown") << QStringList{"menu filters"} << true << true;
        QTest::newRow("filter bar hidden again") << QStringList{"menu filters", "menu filters"} << true << false;
        QTest::newRow("filter bar, no tool row") << QStringList{"menu toolbar", "menu filters"} << false << true;
    }

    void stripOrder() {
        QFETCH(QStringList, actions);
        QFETCH(bool, toolsShown);
        QFETCH(bool, filtersShown);
        TMainForm& form = shownForm();
        for (const QString& action : actions) act(form, action);
        QCOMPARE(form.Toolbar1()->isVisible(), toolsShown);
        QCOMPARE(form.settings().ShowFileToolbar1()->isChecked(), toolsShown);
        QCOMPARE(form.pFilters()->isVisible(), filtersShown);
        QCOMPARE(form.settings().ShowFilters1()->isChecked(), filtersShown);
        QApplication::processEvents();
        const auto top = [&](QWidget* w) { return w->mapTo(&form, QPoint(0, 0)).y(); };
        QList<QWidget*> strips{form.ToolBar0()};
        if (filtersShown) strips << form.pFilters();
        if (toolsShown) strips << form.Toolbar1();
        strips << form.StatusPanel() << form.Explorer();
        for (int i = 1; i < strips.size(); ++i)
            QVERIFY2(top(strips[i - 1]) + strips[i - 1]->height() <= top(strips[i]),
                     strips[i]->metaObject()->className());
        QVERIFY(top(form.StatusPanel()) + form.StatusPanel()->height() <= top(form.results().sgexResults()));
        // The tool buttons keep their designed order from left to right.
        const QList<QWidget*> order = {form.search().sbSearchDir(),
                                       form.search().sbSearchHDs(),
                                       form.search().sbStop(),
                                       form.search().sbRecurseDirs(),
                                       form.search().sbMeasure(),
                                       form.search().sbSimilar(),
                                       form.sbCopy(),
                                       form.sbMove(),
                                       form.sbDelete(),
                                       form.sbInvert(),
                                       form.sbFileViewer()};
        for (int i = 1; i < order.size() && toolsShown; ++i)
            QVERIFY(order[i - 1]->geometry().right() < order[i]->geometry().left());
    }

    void hints_data() {
        QTest::addColumn<QStringList>("actions");
        QTest::addColumn<bool>("shown");
        QTest::newRow("hints on") << QStringList{} << true;
        QTest::newRow("hints off") << QStringList{"menu hints"} << false;
        QTest::newRow("hints off and on again") << QStringList{"menu hints", "menu hints"} << true;
    }

    void hints() {
        QFETCH(QStringList, actions);
        QFETCH(bool, shown);
        TMainForm& form = shownForm();
        for (const QString& action : actions) act(form, action);
        QCOMPARE(form.settings().ShowFlybyHints1()->isChecked(), shown);
        QCOMPARE(tipShownFor(form.search().sbSearchDir()), shown);
        QCOMPARE(tipShownFor(form.search().eSearch()), shown);
        QCOMPARE(tipShownFor(form.Explorer()->viewport()), shown);
        QCOMPARE(tipShownFor(form.results().sgexResults()->viewport()), shown);
        if (shown) {
            tipShownFor(form.results().sgexResults()->viewport());
            QCOMPARE(QToolTip::text(), QString("use left mouse key to mark files"));
        }
    }

    // A screen reader goes through a row's controls in the order of the
    // row's children: that must be the order they stand in, left to right.
    void rowsAreReadLeftToRight_data() {
        QTest::addColumn<QString>("row");
        QTest::newRow("search row") << "search";
        QTest::newRow("tool row") << "tools";
    }

    void rowsAreReadLeftToRight() {
        QFETCH(QString, row);
        TMainForm& form = shownForm();
        QAccessibleInterface* accessible =
            QAccessible::queryAccessibleInterface(row == "search" ? form.Panel1() : form.Toolbar1());
        QList<QWidget*> read;
        for (int i = 0; i < accessible->childCount(); ++i)
            if (auto* control = qobject_cast<QWidget*>(accessible->child(i)->object()); control && control->isVisible())
                read << control;
        QVERIFY(read.size() >= 4);
        QList<QWidget*> placed = read;
        std::stable_sort(placed.begin(), placed.end(), [](QWidget* a, QWidget* b) { return a->x() < b->x(); });
        QCOMPARE(read, placed);
    }

    void tabOrder_data() {
        QTest::addColumn<bool>("viewer");
        QTest::newRow("viewer hidden") << false;
        QTest::newRow("viewer shown") << true;
    }

    void tabOrder() {
        QFETCH(bool, viewer);
        TMainForm& form = shownForm();
        if (viewer) act(form, "click Viewer");
        form.Explorer()->setFocus();
        QList<QWidget*> expected = {form.results().sgexResults(), form.search().eSearch(), form.seNumberofItems()};
        if (viewer) expected << form.viewer().mFileViewer();
        expected << form.Explorer();
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY2(next->hasFocus(), qPrintable(QApplication::focusWidget()->metaObject()->className()));
        }
    }

    void viewerPane_holdsTheAboutText() {
        TMainForm& form = shownForm();
        act(form, "menu viewer");
        QCOMPARE(form.viewer().mFileViewer()->toPlainText(), QString("TOKA Search\nThe Nufa File Finder"));
        QVERIFY(form.viewer().mFileViewer()->isVisible());
    }

    // A Help menu after the window's own: the About box and the keys, the
    // latter read off the commands (so an option that gives Del a command
    // shows in the list too).
    void helpMenu_aboutAndKeys() {
        TMainForm& form = shownForm();
        const QList<QAction*> menus = form.menuBar()->actions();
        QCOMPARE(menus.last()->text(), QString("Hel&p"));
        QCOMPARE(menus.size(), 5);
        const QString about = form.aboutText();
        for (const QString& part : {QString("TOKA Search"), QString("MIT License"), QString(qVersion()),
                                    QString("https://github.com/tokasearch/tokasearch")})
            QVERIFY2(about.contains(part), qPrintable(about));
        BoxWatcher watcher(QMessageBox::NoButton, [](QMessageBox* box) { return box->text(); });
        chooseFromMenu(form, form.Help1(), Qt::Key_P, form.KeyboardShortcuts1());
        QTRY_COMPARE(watcher.boxes.size(), 1);
        const QString shown = watcher.boxes[0];
        for (const QString& line : {QString("F5\tSearch Again"), QString("Esc\tStop..."),
                                    QString("Enter (search box)\tSearch the selected directory")})
            QVERIFY2(shown.contains(line), qPrintable(shown));
        QVERIFY(!shown.contains("Move to Trash"));
        form.settings().DeleteKeyMovesToTrash1()->trigger();
        QVERIFY(form.keyboardShortcutsText().contains("Del\tMove to Trash"));
    }

    void exit_closesTheWindow() {
        TMainForm& form = shownForm();
        chooseFromMenu(form, form.Fie1(), Qt::Key_F, form.E1());
        QTRY_VERIFY(!form.isVisible());
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestMainForm)
#include "test_mainform.moc"
