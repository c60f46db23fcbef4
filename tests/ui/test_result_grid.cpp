// The result table in the window, driven through the window as the platform
// delivers pointer events: a right-button click marks and loads the viewer
// before the rows' context menu opens, the tool tips of the cells follow
// View > Show Flyby Hints, and a row is drawn in the font of what it shows.
// The window's table shows a temporary folder's files.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QWindow>
#include <algorithm>

#include "ui/logic/result_model.h"
#include "ui/widgets/strgrdex.h"
#include "ui/window/result_table.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

const QString kLongName = "TOKASearch-" + QString(80, 'x') + ".txt";

} // namespace

class TestResultGrid : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TMainForm> m_form;

    TStringGridEx* grid() const { return m_form->results().sgexResults(); }
    QRect cellRect(int col, int row) const { return grid()->visualRect(grid()->model()->index(row - 1, col)); }
    QPoint inWindow(const QPoint& viewportPos) const { return grid()->viewport()->mapTo(m_form.get(), viewportPos); }
    int rowOf(const QString& name) const {
        for (int r = 1; r < grid()->RowCount(); ++r)
            if (grid()->Cells(0, r) == name) return r;
        return -1;
    }
    QList<int> markedRows() const {
        QList<int> rows;
        for (int r = 1; r < grid()->RowCount(); ++r)
            if (grid()->IsRowMarked(r)) rows << r;
        return rows;
    }
    // The rows of TOKASearch1.txt .. 4, the first and the last of them.
    std::pair<int, int> firstAndLastTextRow() const {
        QList<int> rows;
        for (int i = 1; i <= 4; ++i) rows << rowOf(QString("TOKASearch%1.txt").arg(i));
        std::sort(rows.begin(), rows.end());
        return {rows.first(), rows.last()};
    }
    // What the file of a row holds: "content N" in TOKASearchN.txt, nothing
    // in the one with the long name.
    QString textOf(int row) const {
        const QString name = grid()->Cells(0, row);
        return name == kLongName ? QString() : "content " + name.mid(10, 1);
    }

private slots:
    // A window that has searched a folder of four text files and the file
    // with a long name; no row marked.
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        for (int i = 1; i <= 4; ++i) {
            QFile file(m_dir->filePath(QString("TOKASearch%1.txt").arg(i)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QString("content %1").arg(i).toUtf8()) > 0);
        }
        touch(m_dir->filePath(kLongName));
        TMainForm& form = shownMainForm(m_form);
        form.FillDrives({volumeAt(m_dir->path().toStdString())});
        form.Explorer()->setCurrentItem(form.Explorer()->topLevelItem(0));
        QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.isSearching(), 30000);
        QVERIFY(waitForResultRows(form));
        grid()->ClearMarks();
    }
    void cleanup() { m_form.reset(); }

    // With the viewer shown, a right-button click marks as a left one does
    // and loads the marked files; the rows' menu opens after that, over the
    // marks the click made.  The clicks are on the highest and the lowest of
    // the text files' rows.
    void rightClick_marksAndLoadsBeforeTheMenu_data() {
        QTest::addColumn<bool>("lowestMarkedFirst"); // the lowest row is marked (Shift) before
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("marks"); // rows of the highest (first) to the lowest (last)
        QTest::newRow("plain: the row alone") << false << Qt::KeyboardModifiers() << "last";
        QTest::newRow("Shift: from the anchor") << false << Qt::KeyboardModifiers(Qt::ShiftModifier) << "first..last";
        QTest::newRow("Ctrl on a marked row: unmarks it")
            << true << Qt::KeyboardModifiers(Qt::ControlModifier) << "first..last-1";
    }
    void rightClick_marksAndLoadsBeforeTheMenu() {
        QFETCH(bool, lowestMarkedFirst);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, marks);
        const auto [first, last] = firstAndLastTextRow();
        const int highest = marks == "last" ? last : first;
        const int lowest = marks == "first..last-1" ? last - 1 : last;
        QList<int> expected;
        for (int r = highest; r <= lowest; ++r) expected << r;
        QTest::mouseClick(m_form->sbFileViewer(), Qt::LeftButton);
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, cellRect(0, first).center());
        if (lowestMarkedFirst)
            QTest::mouseClick(grid()->viewport(), Qt::LeftButton, Qt::ShiftModifier, cellRect(0, last).center());
        QTRY_VERIFY(!m_form->viewer().isLoading());
        const QString shownBefore = m_form->viewer().mFileViewer()->toPlainText();
        QList<int> marksAtMenu;
        bool loadAskedAtMenu = false;
        QTimer menuWatcher;
        connect(&menuWatcher, &QTimer::timeout, this, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || menu->objectName() != "ResultMenu") return;
            menuWatcher.stop();
            marksAtMenu = markedRows();
            loadAskedAtMenu = m_form->viewer().mFileViewer()->toPlainText() != shownBefore;
            menu->close();
        });
        menuWatcher.start(10);
        const QPoint at = inWindow(cellRect(0, last).center());
        QTest::mousePress(m_form->windowHandle(), Qt::RightButton, modifiers, at);
        QTest::mouseRelease(m_form->windowHandle(), Qt::RightButton, modifiers, at);
        QTRY_VERIFY(!menuWatcher.isActive());
        QCOMPARE(marksAtMenu, expected);
        QVERIFY(loadAskedAtMenu);
        QTRY_COMPARE(m_form->viewer().mFileViewer()->toPlainText(), textOf(lowest));
    }

    // A cell whose text is cut shows all of it as its tool tip, any other
    // the table's hint; with hints off, none shows.
    void cellTips_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("hints");
        QTest::addColumn<QString>("tip");
        QTest::newRow("cut") << kLongName << true << kLongName;
        QTest::newRow("whole") << "TOKASearch1.txt" << true << "use left mouse key to mark files";
        QTest::newRow("cut, hints off") << kLongName << false << "";
        QTest::newRow("whole, hints off") << "TOKASearch1.txt" << false << "";
    }
    void cellTips() {
        QFETCH(QString, name);
        QFETCH(bool, hints);
        QFETCH(QString, tip);
        if (!hints) m_form->settings().ShowFlybyHints1()->trigger();
        const int row = rowOf(name);
        QVERIFY(row > 0);
        grid()->viewport()->repaint();
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        QCOMPARE(toolTipAt(grid()->viewport(), cellRect(0, row).center()), tip);
    }

    // A row that turns from a directory into a file between two refreshes,
    // with the same location and measure, below a directory's row, is shown
    // in the normal font in every column: what the table shows is a fresh
    // drawing of its rows, and its location and measure take less ink than
    // the same texts in bold above.  The grid, the model and the drawing
    // rule are wired as the window wires them.
    void rowTurningIntoAFile_isShownNormalInEveryColumn() {
        TStringGridEx table;
        ResultModel model;
        table.setModel(&model);
        connect(
            &table, &TStringGridEx::DrawCell, &table,
            [&table](QPainter* canvas, int col, int row, const QRect& rect) {
                drawResultCell(table, canvas, col, row, rect);
            },
            Qt::DirectConnection);
        table.resize(700, 200);
        table.show();
        QVERIFY(QTest::qWaitForWindowExposed(&table));
        const auto entry = [](const char* name) {
            return RankedEntry{name, "/usr/share/", Real48::fromExtended(1), "100"};
        };
        EntryDetails directory;
        directory.attributes = "----D";
        directory.directory = true;
        EntryDetails file;
        file.attributes = "-A---";
        file.size = "12";
        file.bytes = 12;
        const auto shown = [&table] {
            const QPoint at = table.viewport()->mapTo(&table, QPoint(0, 0));
            return table.screen()->grabWindow(table.winId()).toImage().copy(QRect(at, table.viewport()->size()));
        };
        const auto drawnAsShown = [&table, &shown] {
            return shown().convertToFormat(QImage::Format_RGB32)
                   == table.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };

        model.setDetails(model.setEntries({entry("lib"), entry("doc")}),
                         {{"/usr/share/lib", directory}, {"/usr/share/doc", directory}});
        QTRY_VERIFY(drawnAsShown());
        const std::uint64_t refresh = model.setEntries({entry("lib"), entry("doc.txt")});
        model.setDetails(refresh, {{"/usr/share/lib", directory}, {"/usr/share/doc.txt", file}});
        QTRY_VERIFY(drawnAsShown());

        const QImage image = shown();
        const auto ink = [&](int row, int col) {
            const QRect cell = table.visualRect(model.index(row - 1, col)).adjusted(1, 1, -2, -2);
            int dark = 0;
            for (int x = cell.left(); x <= cell.right(); ++x)
                for (int y = cell.top(); y <= cell.bottom(); ++y) dark += 255 - qGray(image.pixel(x, y));
            return dark;
        };
        QVERIFY2(ink(2, 1) * 1.1 < ink(1, 1), "Location");
        QVERIFY2(ink(2, 6) * 1.1 < ink(1, 6), "Measure");
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestResultGrid)
#include "test_result_grid.moc"
