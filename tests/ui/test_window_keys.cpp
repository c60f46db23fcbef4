// The window's keyboard shortcuts, pressed on the widget that has the focus,
// and the tool tips of cut texts, on a window whose tree shows one temporary
// folder "src".  The trash lives below a temporary XDG_DATA_HOME.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>

#include "ui/window/mainform.h"
#include "ui/widgets/strgrdex.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

const QString kLongName = "TOKASearch-" + QString(80, 'x') + ".txt";
const QString kWideFolder = "a-folder-with-a-name-far-wider-than-the-tree-is";
const QString kWarning = "Information|The search result may have changed due to file operations.";

} // namespace

class TestWindowKeys : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TMainForm> m_form;
    QByteArray m_savedDataHome;

    QString src() const { return m_dir->path() + "/src/"; }
    TStringGridEx* grid() const { return m_form->results().sgexResults(); }
    QWidget* widgetNamed(const QString& name) const {
        if (name == "tree") return m_form->Explorer();
        return name == "table" ? static_cast<QWidget*>(grid()) : m_form->search().eSearch();
    }

private slots:
    // An active window whose tree shows src, selected, and "wide"; no
    // search yet.
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_savedDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->path() + "/xdg"));
        mkdirp(src());
        mkdirp(m_dir->path() + "/wide/" + kWideFolder);
        for (const QString& name : {QString("TOKASearch1.txt"), QString("TOKASearch2.txt"), kLongName})
            touch(src() + name);
        TMainForm& form = shownMainForm(m_form);
        showFolders(form, {src().chopped(1), m_dir->path() + "/wide"});
        form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&form));
    }
    void cleanup() {
        m_form.reset();
        if (m_savedDataHome.isNull()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", m_savedDataHome);
    }

    // Start: rows 1..3 show the three files, 1 and 3 are marked, the search
    // box holds "TOKASearch" with the cursor at its start, the clipboard
    // holds "before".
    void keys_data() {
        QTest::addColumn<QKeyCombination>("key");
        QTest::addColumn<QString>("focus");      // "table", "search" or "tree": where the key is pressed
        QTest::addColumn<QString>("focusAfter"); // the same names
        QTest::addColumn<QList<int>>("marks");   // the marked rows afterwards
        QTest::addColumn<QString>("text");       // the search box's text afterwards
        QTest::addColumn<QString>("selected");   // and its selected text
        QTest::addColumn<bool>("copied");        // the marked rows' paths are on the clipboard
        QTest::addColumn<bool>("trashed");       // the marked files are in the trash
        QTest::addColumn<QStringList>("boxes");  // the message boxes that came up
        const QKeyCombination ctrlA(Qt::ControlModifier, Qt::Key_A), ctrlC(Qt::ControlModifier, Qt::Key_C),
            del(Qt::Key_Delete), shiftDel(Qt::ShiftModifier, Qt::Key_Delete);
        const QList<int> marks{1, 3};
        const QString text = "TOKASearch";
        QTest::newRow("Ctrl+A, table: marks every row")
            << ctrlA << "table"
            << "table" << QList<int>{1, 2, 3} << text << "" << false << false << QStringList();
        QTest::newRow("Ctrl+A, search box: selects the text")
            << ctrlA << "search"
            << "search" << marks << text << text << false << false << QStringList();
        QTest::newRow("Ctrl+C, table: copies the marked paths")
            << ctrlC << "table"
            << "table" << marks << text << "" << true << false << QStringList();
        // Nothing selected in the box: Qt copies nothing, the clipboard stays.
        QTest::newRow("Ctrl+C, search box: no paths")
            << ctrlC << "search"
            << "search" << marks << text << "" << false << false << QStringList();
        // Off at first, as designed: Del and Shift+Del leave the table alone.
        QTest::newRow("Del, table: nothing") << del << "table"
                                             << "table" << marks << text << "" << false << false << QStringList();
        QTest::newRow("Shift+Del, table: nothing") << shiftDel << "table"
                                                   << "table" << marks << text << "" << false << false << QStringList();
        QTest::newRow("Del, table, Delete Key Moves to Trash: trash without a question")
            << del << "table"
            << "table" << marks << text << "" << false << true << QStringList{kWarning};
        QTest::newRow("Del, search box: edits the text, trashes nothing") << del << "search"
                                                                          << "search" << marks << "OKASearch"
                                                                          << "" << false << false << QStringList();
        QTest::newRow("Del, tree: nothing") << del << "tree"
                                            << "tree" << marks << text << "" << false << false << QStringList();
        QTest::newRow("Shift+Del, table, Delete Key Moves to Trash: asks, escaped")
            << shiftDel << "table"
            << "table" << marks << text << "" << false << false
            << QStringList{"Delete|Permanently delete 2 items?", kWarning};
        QTest::newRow("Shift+Del, search box: asks nothing")
            << shiftDel << "search"
            << "search" << marks << text << "" << false << false << QStringList();
        for (Qt::Key letter : {Qt::Key_F, Qt::Key_L})
            QTest::addRow("Ctrl+%c, table: to the search box", char(letter))
                << QKeyCombination(Qt::ControlModifier, letter) << "table"
                << "search" << marks << text << text << false << false << QStringList();
    }
    void keys() {
        QFETCH(QKeyCombination, key);
        QFETCH(QString, focus);
        QFETCH(QString, focusAfter);
        QFETCH(QList<int>, marks);
        QFETCH(QString, text);
        QFETCH(QString, selected);
        QFETCH(bool, copied);
        QFETCH(bool, trashed);
        QFETCH(QStringList, boxes);
        searchAndWait(*m_form);
        if (QString(QTest::currentDataTag()).contains("Delete Key Moves to Trash"))
            m_form->settings().DeleteKeyMovesToTrash1()->trigger();
        QCOMPARE(grid()->RowCount(), 4);
        clickRow(grid(), 1);
        clickRow(grid(), 3, Qt::ControlModifier);
        const QStringList paths{src() + grid()->Cells(0, 1), src() + grid()->Cells(0, 3)};
        m_form->search().eSearch()->setCursorPosition(0);
        QApplication::clipboard()->setText("before");
        widgetNamed(focus)->setFocus();
        QCOMPARE(QApplication::focusWidget(), widgetNamed(focus));

        BoxWatcher watcher;
        QTest::keyClick(QApplication::focusWidget(), key.key(), key.keyboardModifiers());
        QTRY_COMPARE(watcher.boxes, boxes);

        QCOMPARE(m_form->focusWidget(), widgetNamed(focusAfter));
        QCOMPARE(markedRows(grid()), marks);
        QCOMPARE(m_form->search().eSearch()->text(), text);
        QCOMPARE(m_form->search().eSearch()->selectedText(), selected);
        const QMimeData* clipboard = QApplication::clipboard()->mimeData();
        QCOMPARE(clipboard->text(), copied ? paths.join('\n') : "before");
        const QList<QUrl> urls{QUrl::fromLocalFile(paths[0]), QUrl::fromLocalFile(paths[1])};
        QCOMPARE(clipboard->urls(), copied ? urls : QList<QUrl>());
        for (const QString& path : paths) {
            QCOMPARE(QFile::exists(path), !trashed);
            QCOMPARE(QFile::exists(m_dir->path() + "/xdg/Trash/files/" + QFileInfo(path).fileName()), trashed);
        }
    }

    // F5 repeats the search started last, with the text the box holds now.
    void f5SearchesAgain() {
        QTest::keyClick(m_form->search().eSearch(), Qt::Key_F5);
        QCOMPARE(m_form->StatusPanel()->lFileScanned()->text(), "0"); // no search before: nothing
        searchAndWait(*m_form);
        QCOMPARE(grid()->Cells(6, 2), "100");
        m_form->search().eSearch()->setText(QString(20, 'x'));
        grid()->setFocus();
        QTest::keyClick(grid(), Qt::Key_F5);
        QTRY_VERIFY(!m_form->isSearching());
        QCOMPARE(grid()->Cells(0, 1), kLongName);
        QVERIFY2(grid()->Cells(6, 2) != "100", qPrintable(grid()->Cells(0, 2)));
    }

    // Esc while a worker of the walk is held: the search ends short of
    // what F5 then finds in full.
    void escStopsASearch() {
        for (int d = 0; d < 20; ++d) {
            mkdirp(src() + QString("big/d%1").arg(d));
            for (int f = 0; f < 5; ++f) touch(src() + QString("big/d%1/f%2").arg(d).arg(f));
        }
        WorkerGate gate;
        m_form->search().setWalkObserver(gate.observer());
        m_form->search().eSearch()->setFocus();
        QTest::mouseClick(m_form->search().sbSearchDir(), Qt::LeftButton);
        QTRY_VERIFY(gate.calls() > 0);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        gate.setOpen(true);
        QTRY_VERIFY(!m_form->isSearching());
        m_form->search().setWalkObserver({});
        const std::uint64_t stopped = m_form->scannedEntries();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
        QTRY_VERIFY(!m_form->isSearching());
        QVERIFY2(stopped < m_form->scannedEntries(), qPrintable(QString::number(stopped)));
    }

    void toolTipOfACutCell_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("col");
        QTest::addColumn<QString>("tip");
        QTest::newRow("cut name") << kLongName << 0 << kLongName;
        QTest::newRow("whole name") << "TOKASearch1.txt" << 0 << "use left mouse key to mark files";
        QTest::newRow("size beside a cut name") << kLongName << 5 << "use left mouse key to mark files";
    }
    void toolTipOfACutCell() {
        QFETCH(QString, name);
        QFETCH(int, col);
        QFETCH(QString, tip);
        searchAndWait(*m_form);
        const int row = rowOf(grid(), name);
        QVERIFY(row > 0);
        grid()->scrollTo(grid()->model()->index(row - 1, col));
        grid()->viewport()->repaint();
        QCOMPARE(toolTipAt(grid()->viewport(), cellCentre(grid(), row, col)), tip);
    }

    // A node shows its whole name (the tree scrolls sideways) and its path as
    // its tool tip.
    void treeShowsWholeNames() {
        QTreeWidget* tree = m_form->Explorer();
        tree->expandItem(tree->topLevelItem(1));
        QTreeWidgetItem* child = tree->topLevelItem(1)->child(0);
        QVERIFY(child);
        QTRY_VERIFY(tree->header()->sectionSize(0) >= tree->fontMetrics().horizontalAdvance(child->text(0)));
        QVERIFY(tree->horizontalScrollBar()->maximum() > 0);
        QCOMPARE(toolTipAt(tree->viewport(), tree->visualItemRect(child).center()),
                 m_dir->path() + "/wide/" + kWideFolder + "/");
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestWindowKeys)
#include "test_window_keys.moc"
