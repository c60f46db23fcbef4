// Copy, move, delete and invert on the marked rows of the window, and the
// drags of marked rows, driven with real mouse and key events on a window
// whose tree shows two temporary folders: "src" (searched) and "dest".
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/core/system_calls.h"
#include "ui/window/mainform.h"
#include "ui/widgets/path_label.h"
#include "ui/window/result_drag.h"
#include "ui/widgets/strgrdex.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

constexpr int kFiles = 6;

struct Call {
    std::vector<std::string> paths;
    int code; ///< the design's operation code of the kind handed over
    std::string destination;
};

const QString kWarning = "Information|The search result may have changed due to file operations.";

// Holds the worker inside every rename and every write (the calls that a
// trash and a copy cannot do without) until released, as a hung mount
// would; after ten seconds it lets go by itself, so a test fails instead
// of hanging.
class HeldSystemCalls : public SystemCalls {
public:
    std::atomic<bool> held{true};
    std::atomic<int> calls{0};
    int renameAt(int oldDirFd, const char* oldName, int newDirFd, const char* newName, unsigned flags) override {
        hold();
        return SystemCalls::renameAt(oldDirFd, oldName, newDirFd, newName, flags);
    }
    ssize_t write(int fd, const void* buffer, std::size_t size) override {
        hold();
        return SystemCalls::write(fd, buffer, size);
    }
    ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, off_t* outOffset, std::size_t size) override {
        hold();
        return SystemCalls::copyFileRange(inFd, inOffset, outFd, outOffset, size);
    }
    int cloneFile(int, int) override { return errno = EOPNOTSUPP, -1; }

private:
    void hold() {
        ++calls;
        for (int waited = 0; held.load() && waited < 10000; waited += 5)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
};

} // namespace

class TestFileOpsWindow : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TMainForm> m_form;
    std::vector<Call> m_calls;

    QString src() const { return m_dir->path() + "/src/"; }
    QString dest() const { return m_dir->path() + "/dest/"; }
    TStringGridEx* grid() const { return m_form->results().sgexResults(); }
    void markRows(const QList<int>& rows) {
        for (int i = 0; i < rows.size(); ++i) clickRow(grid(), rows[i], i ? Qt::ControlModifier : Qt::NoModifier);
    }
    std::string rowPath(int row) const { return QFile::encodeName(src() + grid()->Cells(0, row)).toStdString(); }
    void recordCalls() {
        m_form->fileOps().setRunner(
            [this](const std::vector<std::string>& paths, FileOpKind kind, const std::string& destination) {
                m_calls.push_back({paths, static_cast<int>(kind), destination});
            });
    }

private slots:
    // A window that has searched src ("TOKASearch1.txt" .. "6", holding
    // "content 1" .. "6") and has dest selected, no row marked.
    void init() {
        m_calls.clear();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(src()) && QDir().mkpath(dest()));
        for (int i = 1; i <= kFiles; ++i) {
            QFile file(src() + QString("TOKASearch%1.txt").arg(i));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("content " + QByteArray::number(i)) > 0);
        }
        showFolders(shownMainForm(m_form), {src().chopped(1), dest().chopped(1)});
        searchAndWait(*m_form);
        QCOMPARE(grid()->RowCount(), kFiles + 1);
        clickNode(*m_form, 1);
        QCOMPARE(markedRows(grid()), QList<int>{});
    }
    void cleanup() { m_form.reset(); }

    void oneOperationOnTheMarkedRows_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("warn");
        QTest::newRow("copy button") << "sbCopy" << 0 << true;
        QTest::newRow("move menu item, warning off") << "Move1" << 1 << false;
        // Delete hands over the selected directory too; the engine ignores it.
        QTest::newRow("delete button") << "sbDelete" << 2 << true;
    }
    void oneOperationOnTheMarkedRows() {
        QFETCH(QString, how);
        QFETCH(int, code);
        QFETCH(bool, warn);
        recordCalls();
        if (!warn)
            chooseFromMenu(*m_form, m_form->Options1(), Qt::Key_V, m_form->settings().WarningSearchResultChanged1());
        markRows({5, 2}); // marked in reverse: the list still goes by row
        BoxWatcher watcher;
        if (how == "Move1") chooseFromMenu(*m_form, m_form->Fie1(), Qt::Key_F, m_form->Move1());
        else QTest::mouseClick(how == "sbCopy" ? m_form->sbCopy() : m_form->sbDelete(), Qt::LeftButton);
        QCOMPARE(m_calls.size(), std::size_t(1));
        QCOMPARE(m_calls[0].paths, (std::vector<std::string>{rowPath(2), rowPath(5)}));
        QCOMPARE(m_calls[0].code, code);
        QCOMPARE(m_calls[0].destination, dest().toStdString());
        QTRY_COMPARE(watcher.boxes, warn ? QStringList{kWarning} : QStringList{});
    }

    // Through the engine and its dialogs; the table is left as it was.
    void realOperations_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QList<int>>("marks");
        QTest::addColumn<bool>("noDirectory");
        QTest::newRow("copy 2 and 5") << 0 << QList<int>{2, 5} << false;
        QTest::newRow("move 2 and 5") << 1 << QList<int>{2, 5} << false;
        // No row marked: no delete question, only the warning.
        QTest::newRow("delete, nothing marked") << 2 << QList<int>{} << false;
        // No directory selected (the label shows its placeholder): one
        // warning that says so, nothing copied or moved.
        QTest::newRow("copy, no directory") << 0 << QList<int>{3} << true;
        QTest::newRow("move, no directory") << 1 << QList<int>{3} << true;
    }
    void realOperations() {
        QFETCH(int, code);
        QFETCH(QList<int>, marks);
        QFETCH(bool, noDirectory);
        markRows(marks);
        if (noDirectory) clickNode(*m_form, 1, Qt::ControlModifier);
        QCOMPARE(m_form->selectedDirectory().empty(), noDirectory);
        QStringList before, moved;
        for (int r = 1; r < grid()->RowCount(); ++r) before << grid()->Cells(1, r) + grid()->Cells(0, r);
        if (!noDirectory)
            for (int r : marks) moved << grid()->Cells(0, r);
        const auto shownRanks = [this] {
            ListString ranks{};
            m_form->results().shownList().GetSimList(ranks);
            return ranks;
        };
        const ListString ranksBefore = shownRanks();
        BoxWatcher watcher;
        QTest::mouseClick(QList{m_form->sbCopy(), m_form->sbMove(), m_form->sbDelete()}[code], Qt::LeftButton);
        const QString caption = QStringList{"Copy", "Move", "Delete"}[code];
        QTRY_COMPARE(watcher.boxes.size(), 1);
        QTest::qWait(20);
        QCOMPARE(watcher.boxes, QStringList{noDirectory ? caption
                                                              + "|Select the destination folder in the "
                                                                "directory tree first."
                                                        : kWarning});
        moved.sort();
        QCOMPARE(QDir(dest()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), moved);
        for (const QString& name : moved) {
            QFile copied(dest() + name);
            QVERIFY(copied.open(QIODevice::ReadOnly));
            QCOMPARE(copied.readAll(), "content " + name.mid(10, 1).toLatin1());
            QCOMPARE(QFile::exists(src() + name), code == 0);
        }
        if (noDirectory)
            for (int r : marks) QVERIFY(QFile::exists(src() + grid()->Cells(0, r)));
        QStringList after;
        for (int r = 1; r < grid()->RowCount(); ++r) after << grid()->Cells(1, r) + grid()->Cells(0, r);
        QCOMPARE(after, before);
        QVERIFY(shownRanks() == ranksBefore);
        QCOMPARE(markedRows(grid()), marks);
    }

    // After a search that found nothing, the empty row 1 can be marked; it
    // names no file.
    void markedRowWithoutEntryGivesNoPath() {
        clickNode(*m_form, 0);
        typeSearch(*m_form, "zzzzzz");
        searchAndWait(*m_form);
        QCOMPARE(grid()->RowCount(), 2);
        recordCalls();
        m_form->settings().WarningSearchResultChanged1()->trigger();
        clickRow(grid(), 1);
        QTest::mouseClick(m_form->sbCopy(), Qt::LeftButton);
        QCOMPARE(m_calls.size(), std::size_t(1));
        QVERIFY(m_calls[0].paths.empty());
    }

    void noSecondOperationInsideTheFirst() {
        int nested = 0;
        m_form->fileOps().setRunner([&](const std::vector<std::string>&, FileOpKind, const std::string&) {
            if (++nested == 1) chooseFromMenu(*m_form, m_form->Fie1(), Qt::Key_F, m_form->Delete1());
        });
        m_form->settings().WarningSearchResultChanged1()->trigger();
        clickRow(grid(), 1);
        QTest::mouseClick(m_form->sbCopy(), Qt::LeftButton);
        QCOMPARE(nested, 1);
    }

    // The work runs on a worker: while it is held inside a system call, the
    // window's timers still fire on time and no second operation starts.
    void theWindowNeverWaitsOnTheWork_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("move to trash") << "trash";
        QTest::newRow("copy") << "copy";
    }
    void theWindowNeverWaitsOnTheWork() {
        QFETCH(QString, how);
        const QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir->path() + "/xdg"));
        HeldSystemCalls system;
        m_form->fileOps().setSystemCalls(system);
        m_form->settings().WarningSearchResultChanged1()->trigger();
        markRows({2, 5});
        const QStringList names{grid()->Cells(0, 2), grid()->Cells(0, 5)};
        QElapsedTimer clock;
        clock.start();
        if (how == "trash") m_form->MoveToTrash1()->trigger();
        else QTest::mouseClick(m_form->sbCopy(), Qt::LeftButton);
        qint64 firedAfter = -1;
        QTimer::singleShot(10, [&] { firedAfter = clock.elapsed(); });
        QTRY_VERIFY_WITH_TIMEOUT(firedAfter >= 0, 5000);
        QVERIFY2(firedAfter < 100, QByteArray::number(firedAfter));
        QTRY_VERIFY(system.calls.load() > 0);
        QVERIFY(m_form->fileOps().isRunning());
        recordCalls();
        QTest::mouseClick(m_form->sbDelete(), Qt::LeftButton);
        QCOMPARE(m_calls.size(), std::size_t(0));
        m_form->fileOps().setRunner({});

        system.held = false;
        QTRY_VERIFY_WITH_TIMEOUT(!m_form->fileOps().isRunning(), 10000);
        for (const QString& name : names) {
            QCOMPARE(QFile::exists(src() + name), how == "copy");
            QCOMPARE(QFile::exists(how == "copy" ? dest() + name : m_dir->path() + "/xdg/Trash/files/" + name), true);
        }
        if (savedDataHome.isNull()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", savedDataHome);
    }

    // The context menu's copy and move name the selected directory and do
    // what the buttons do; with no directory selected they stay off.
    void contextMenuSaysWhere_data() {
        QTest::addColumn<bool>("directory");
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<int>("code"); // -1: nothing runs
        QTest::newRow("copy to dest") << true << "Copy to dest" << 0;
        QTest::newRow("move to dest") << true << "Move to dest" << 1;
        QTest::newRow("no directory: off") << false << "Copy to Selected Folder" << -1;
    }
    void contextMenuSaysWhere() {
        QFETCH(bool, directory);
        QFETCH(QString, chosen);
        QFETCH(int, code);
        recordCalls();
        m_form->settings().WarningSearchResultChanged1()->trigger();
        if (!directory) clickNode(*m_form, 1, Qt::ControlModifier);
        markRows({2});
        QStringList texts;
        QString tip;
        bool enabled = false;
        QTimer picker;
        QObject::connect(&picker, &QTimer::timeout, [&] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu || menu->objectName() != "ResultMenu") return;
            picker.stop();
            for (QAction* action : menu->actions())
                if (!action->isSeparator()) texts << action->text();
            for (QAction* action : menu->actions()) {
                if (action->text() != chosen) continue;
                tip = action->toolTip();
                enabled = action->isEnabled();
                if (enabled) action->trigger();
            }
            menu->close();
        });
        picker.start(10);
        emit grid()->customContextMenuRequested(cellCentre(grid(), 2));
        QTRY_VERIFY(!picker.isActive());
        QVERIFY2(texts.contains(chosen), qPrintable(texts.join('|')));
        QCOMPARE(enabled, code >= 0);
        QCOMPARE(tip, directory ? dest() : chosen); // without a directory, the item's own text
        QTRY_COMPARE(m_calls.size(), std::size_t(code >= 0));
        if (code < 0) return;
        QCOMPARE(m_calls[0].code, code);
        QCOMPARE(m_calls[0].paths, std::vector<std::string>{rowPath(2)});
        QCOMPARE(m_calls[0].destination, dest().toStdString());
    }

    void invertTwiceRestores() {
        markRows({1, 3});
        QTest::mouseClick(m_form->sbInvert(), Qt::LeftButton);
        QCOMPARE(markedRows(grid()), (QList<int>{2, 4, 5, 6}));
        chooseFromMenu(*m_form, m_form->Edit1(), Qt::Key_E, m_form->InvertSelection1());
        QCOMPARE(markedRows(grid()), (QList<int>{1, 3}));
        QVERIFY(!grid()->IsRowMarked(0));
    }

    // A press on a marked row drags the marked rows only once the pointer
    // leaves the cells (onto the tree); over the cells it marks the range,
    // as a press on any other row does.  A drag leaves the marks as they were.
    void dragStartsWhenThePointerLeavesTheCells_data() {
        QTest::addColumn<int>("pressRow");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QList<int>>("marksAfter");
        QTest::newRow("marked row, over the cells: range") << 2 << "row 5" << QList<int>{2, 3, 4, 5};
        QTest::newRow("marked row, onto the tree: drag") << 2 << "tree" << QList<int>{2};
        // A release outside the cells counts as one on the last row.
        QTest::newRow("unmarked row, onto the tree: range") << 3 << "tree" << QList<int>{3, 4, 5, 6};
    }
    void dragStartsWhenThePointerLeavesTheCells() {
        QFETCH(int, pressRow);
        QFETCH(QString, to);
        QFETCH(QList<int>, marksAfter);
        clickRow(grid(), 2);
        QWidget* viewport = grid()->viewport();
        QTreeWidget* tree = m_form->Explorer();
        const QPoint end =
            to == "tree" ? viewport->mapFromGlobal(tree->viewport()->mapToGlobal(tree->viewport()->rect().center()))
                         : cellCentre(grid(), 5);
        QTest::mousePress(viewport, Qt::LeftButton, Qt::NoModifier, cellCentre(grid(), pressRow));
        QTest::mouseMove(viewport, (cellCentre(grid(), pressRow) + end) / 2);
        QTest::mouseMove(viewport, end);
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, end);
        QCOMPARE(markedRows(grid()), marksAfter);
    }

    // Only the design's three codes name an operation.
    void unknownCodeDoesNothing() {
        recordCalls();
        markRows({2});
        BoxWatcher watcher;
        for (int code : {-1, 3}) m_form->DoFileOperation(code);
        QCOMPARE(m_calls.size(), std::size_t(0));
        QCOMPARE(watcher.boxes, QStringList{});
    }

    // The offscreen platform runs no drag loop: the tree gets the events a
    // drag from the grid would bring.
    void dropOnTheTree_data() {
        QTest::addColumn<bool>("ownRows");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<int>("code");
        QTest::newRow("drop copies") << true << Qt::KeyboardModifiers() << 0;
        QTest::newRow("Shift moves") << true << Qt::KeyboardModifiers(Qt::ShiftModifier) << 1;
        QTest::newRow("other source: nothing") << false << Qt::KeyboardModifiers() << -1;
    }
    void dropOnTheTree() {
        QFETCH(bool, ownRows);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(int, code);
        recordCalls();
        clickNode(*m_form, 0); // src selected; the drop chooses dest
        markRows({4});
        std::unique_ptr<QMimeData> mime(ownRows ? resultRowsMimeData(grid(), {rowPath(4)}) : new QMimeData);
        BoxWatcher watcher;
        const QPoint pos = m_form->Explorer()->visualItemRect(m_form->Explorer()->topLevelItem(1)).center();
        QDragEnterEvent enter(pos, Qt::CopyAction, mime.get(), Qt::LeftButton, modifiers);
        QDragMoveEvent move(pos, Qt::CopyAction, mime.get(), Qt::LeftButton, modifiers);
        QDropEvent drop(pos, Qt::CopyAction, mime.get(), Qt::LeftButton, modifiers);
        QApplication::sendEvent(m_form->Explorer()->viewport(), &enter);
        QApplication::sendEvent(m_form->Explorer()->viewport(), &move);
        QCOMPARE(m_form->StatusPanel()->lCurrentDir()->path(), (ownRows ? dest() : src()).toStdString());
        QApplication::sendEvent(m_form->Explorer()->viewport(), &drop);
        QTest::qWait(20);
        QCOMPARE(m_calls.size(), std::size_t(ownRows));
        if (!ownRows) return;
        QCOMPARE(m_calls[0].paths, std::vector<std::string>{rowPath(4)});
        QCOMPARE(m_calls[0].code, code);
        QCOMPARE(m_calls[0].destination, dest().toStdString());
        QCOMPARE(m_form->selectedDirectory(), dest().toStdString());
        QTRY_COMPARE(watcher.boxes, QStringList{kWarning});
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestFileOpsWindow)
#include "test_fileops_window.moc"
