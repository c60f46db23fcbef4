// Searching from the window on temporary trees: the ranks found, the table's
// rows, the marks, Stop, the locked controls and closing during a search.
#include <QAction>
#include <QElapsedTimer>
#include <chrono>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "search/result_row.h"
#include "similar/simlist.h"
#include "ui_test_support.h"
#include "ui/logic/result_model.h"
#include "ui/window/result_table.h"

namespace toka::test {

namespace {

constexpr int kBigDirs = 400;

// Rows whose measure is 100, as "name|location-suffix|attributes".
QStringList perfectRows(TStringGridEx* grid, const QString& root) {
    QStringList rows;
    for (int r = 1; r < grid->RowCount(); ++r)
        if (grid->Cells(6, r) == "100")
            rows << grid->Cells(0, r) + "|" + grid->Cells(1, r).mid(root.size()) + "|" + grid->Cells(4, r);
    rows.sort();
    return rows;
}

} // namespace

class TestSearchWindow : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<TMainForm> m_form;

    QString path(const QString& name) const { return m_dir.path() + "/" + name; }

    // A window whose tree shows the temporary directory as its one volume,
    // with the directory sub selected by a click.
    TMainForm& formOn(const QString& sub, const QString& searchText = "TOKASearch") {
        TMainForm& form = shownMainForm(m_form);
        showFolders(form, {path(sub)});
        typeSearch(form, searchText);
        return form;
    }

    void pressSpin(TMainForm& form, int steps) {
        for (int i = 0; i < std::abs(steps); ++i)
            QTest::keyClick(form.seNumberofItems(), steps > 0 ? Qt::Key_Up : Qt::Key_Down);
    }

    // Runs a search of the big tree and calls during() once from inside it,
    // while one worker is held before listing a directory, as a hung mount
    // would hold it; returns how long the search took to end once the worker
    // was let go.
    std::chrono::milliseconds searchWithHook(TMainForm& form, const std::function<void()>& during) {
        WorkerGate gate;
        form.search().setWalkObserver(gate.observer(1 << 30, "/big/d300/"));
        QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
        if (!QTest::qWaitFor([&] { return gate.calls() > 0; }, 30000)) return std::chrono::milliseconds::max();
        during(); // the window handles events while the walk is held
        QElapsedTimer ending;
        ending.start();
        gate.setOpen(true);
        const bool ended = QTest::qWaitFor([&] { return !form.isSearching(); }, 30000);
        const auto took = std::chrono::milliseconds(ending.elapsed());
        form.search().setWalkObserver({});
        return ended ? took : std::chrono::milliseconds::max();
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // small: a few names around the search text
        mkdirp(path("small/sub"));
        mkdirp(path("small/tokasearch"));
        touch(path("small/TOKASearch.txt"));
        touch(path("small/qqq.bin"));
        touch(path("small/sub/TOKASearch.doc"));
        // many / few: 150 and 12 names that contain the search text
        mkdirp(path("many"));
        for (int i = 0; i < 150; ++i) touch(path(QString("many/TOKASearch_%1").arg(i, 3, 10, QChar('0'))));
        mkdirp(path("few"));
        for (int i = 0; i < 12; ++i) touch(path(QString("few/TOKASearch_%1").arg(i)));
        // bold: a directory and a file with names of the same length
        mkdirp(path("bold/TOKASearchD"));
        touch(path("bold/TOKASearchF"));
        // big: many directories, so that the other workers go on while one
        // is held
        for (int d = 0; d < kBigDirs; ++d) {
            const QString dir = path(QString("big/d%1").arg(d));
            mkdirp(dir);
            for (int f = 0; f < 25; ++f) touch(dir + QString("/file%1.dat").arg(f));
        }
    }
    void cleanup() { m_form.reset(); }

    void findsTheExpectedRanks_data() {
        QTest::addColumn<bool>("fuzzy");
        QTest::addColumn<bool>("recurse");
        QTest::addColumn<QString>("scanned");
        QTest::addColumn<QStringList>("perfect");
        // ". .. TOKASearch.txt qqq.bin sub tokasearch" + "sub/: . .. TOKASearch.doc" + "tokasearch/: . .."
        QTest::newRow("fuzzy, recursive")
            << true << true << "11"
            << QStringList{"TOKASearch.doc|/sub/|-A---", "TOKASearch.txt|/|-A---", "tokasearch|/|----D"};
        QTest::newRow("fuzzy, root only")
            << true << false << "6" << QStringList{"TOKASearch.txt|/|-A---", "tokasearch|/|----D"};
        // Only the equal name (in any case) is a perfect match when length counts.
        QTest::newRow("similar, recursive") << false << true << "11" << QStringList{"tokasearch|/|----D"};
    }

    void findsTheExpectedRanks() {
        QFETCH(bool, fuzzy);
        QFETCH(bool, recurse);
        QFETCH(QString, scanned);
        QFETCH(QStringList, perfect);
        TMainForm& form = formOn("small");
        if (!fuzzy) QTest::mouseClick(form.search().sbSimilar(), Qt::LeftButton);
        if (!recurse) QTest::mouseClick(form.search().sbRecurseDirs(), Qt::LeftButton);
        searchAndWait(form);
        QCOMPARE(form.StatusPanel()->lFileScanned()->text(), scanned);
        QCOMPARE(perfectRows(form.results().sgexResults(), path("small")), perfect);
        QVERIFY(!columnTexts(form.results().sgexResults(), 0).contains("qqq.bin"));
        QVERIFY(!columnTexts(form.results().sgexResults(), 0).contains("."));
        QCOMPARE(form.statusText(), QString("Ready"));
        // The result copy holds what the rows show.
        for (int r = 1; r < form.results().sgexResults()->RowCount(); ++r)
            QCOMPARE(QString::fromStdString(form.results().shownList().RankFile(r).Name),
                     form.results().sgexResults()->Cells(0, r));
    }

    // The rows shown after a search started with the button or Enter, each
    // a perfect match; an empty row when there is none.
    void rowCounts_data() {
        QTest::addColumn<QString>("dir"); // "": none selected
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enter");
        QTest::addColumn<int>("spinSteps");
        QTest::addColumn<int>("ranks");
        QTest::addColumn<QString>("scanned"); // "": not checked
        QTest::newRow("150 ranks, 30 shown") << "many"
                                             << "TOKASearch" << false << 0 << 30 << "152";
        QTest::newRow("150 ranks, raised to 40") << "many"
                                                 << "TOKASearch" << false << 1 << 40 << "";
        QTest::newRow("150 ranks, 100 shown") << "many"
                                              << "TOKASearch" << false << 7 << 100 << "";
        QTest::newRow("150 ranks, lowered to 10") << "many"
                                                  << "TOKASearch" << false << -2 << 10 << "";
        QTest::newRow("12 ranks, 30 asked") << "few"
                                            << "TOKASearch" << false << 0 << 12 << "";
        QTest::newRow("12 ranks, 10 asked") << "few"
                                            << "TOKASearch" << false << -2 << 10 << "";
        QTest::newRow("Enter in the search box") << "few"
                                                 << "TOKASearch" << true << 0 << 12 << "";
        QTest::newRow("empty search text: counted, nothing shown") << "small"
                                                                   << "" << false << 0 << 0 << "11";
        QTest::newRow("no directory selected: nothing searched") << ""
                                                                 << "TOKASearch" << false << 0 << 0 << "0";
    }

    void rowCounts() {
        QFETCH(QString, dir);
        QFETCH(QString, text);
        QFETCH(bool, enter);
        QFETCH(int, spinSteps);
        QFETCH(int, ranks);
        QFETCH(QString, scanned);
        TMainForm& form = dir.isEmpty() ? shownMainForm(m_form) : formOn(dir, text);
        if (enter) {
            QTest::keyClick(form.search().eSearch(), Qt::Key_Return);
            QTRY_VERIFY(!form.isSearching());
        } else {
            searchAndWait(form);
        }
        pressSpin(form, spinSteps);
        QCOMPARE(columnTexts(form.results().sgexResults(), 6), ranks ? QStringList(ranks, "100") : QStringList{""});
        QCOMPARE(columnTexts(form.results().sgexResults(), 0).contains(""), ranks == 0);
        if (!scanned.isEmpty()) QCOMPARE(form.StatusPanel()->lFileScanned()->text(), scanned);
        QCOMPARE(form.statusText(), QString("Ready"));
    }

    void fewerRanksThanBefore_showOnlyTheirOwn() {
        TMainForm& form = formOn("many");
        searchAndWait(form);
        QCOMPARE(form.results().sgexResults()->RowCount(), 31);
        typeSearch(form, "qqq");
        searchAndWait(form);
        // No rank at all: the header and one empty row, nothing left over
        // from the 150 names of the search before, not even size or measure.
        QCOMPARE(form.results().sgexResults()->RowCount(), 2);
        for (int c = 0; c < 7; ++c) QCOMPARE(form.results().sgexResults()->Cells(c, 1), QString());
        // The empty row maps to no entry.
        QCOMPARE(form.results().resultPath(1), std::string());
    }

    // The table is redrawn by the one-second timer: a new search leaves the
    // rows of the last one until its first tick, then shows its own.
    void aNewSearchShowsItsRowsAtTheTimersTick() {
        TMainForm& form = formOn("many");
        searchAndWait(form);
        QCOMPARE(form.results().sgexResults()->RowCount(), 31);
        WorkerGate gate;
        form.search().setWalkObserver(gate.observer());
        typeSearch(form, "qqq");
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
        QTest::qWait(300);
        if (clock.elapsed() < 900) QCOMPARE(form.results().sgexResults()->RowCount(), 31);
        QTRY_COMPARE_WITH_TIMEOUT(form.results().sgexResults()->RowCount(), 2, 3000);
        QVERIFY(clock.elapsed() >= 900);
        gate.setOpen(true);
        QTRY_VERIFY(!form.isSearching());
        form.search().setWalkObserver({});
    }

    void rowsKeepTheirOwnEntry() {
        // Latin-1 "caf\xe9" and UTF-8 "caf\xc3\xa9" both show as "café".
        const std::vector<std::string> names = {"caf\xe9.txt", "caf\xc3\xa9.txt", "other.txt"};
        auto list = std::make_unique<SimList>();
        TStringGridEx grid;
        ResultModel model;
        grid.setModel(&model);
        const auto refill = [&](std::size_t count) {
            list->InitSimList("cafe", 10);
            for (std::size_t i = 0; i < count; ++i)
                list->InsertRanked(names[i], "/gone/", Real48::fromExtended(1.0L - 0.1L * i));
            const std::vector<RankedEntry> entries = rankedEntries(*list, 10, cLocaleFormat());
            model.setEntries(entries);
            return static_cast<int>(entries.size());
        };
        QCOMPARE(refill(2), 2);
        QCOMPARE(grid.Cells(0, 1), grid.Cells(0, 2));
        QCOMPARE(resultRowPath(grid, 1), "/gone/" + names[0]);
        QCOMPARE(resultRowPath(grid, 2), "/gone/" + names[1]);
        QCOMPARE(refill(1), 1);
        QCOMPARE(resultRowPath(grid, 1), "/gone/" + names[0]);
        QCOMPARE(resultRowPath(grid, 2), std::string()); // the row is gone with its entry
        QCOMPARE(refill(0), 0);
        QCOMPARE(resultRowPath(grid, 1), std::string());
    }

    // Rows 2 to 4 marked, then the spin box moved or a new search.
    void marksAfter_data() {
        QTest::addColumn<int>("spinSteps"); // 0: search again
        QTest::addColumn<QList<int>>("marks");
        QTest::newRow("lowering drops every mark") << -1 << QList<int>{};
        QTest::newRow("raising keeps the marks") << 1 << QList<int>{2, 3, 4};
        QTest::newRow("a new search drops every mark") << 0 << QList<int>{};
    }

    void marksAfter() {
        QFETCH(int, spinSteps);
        QFETCH(QList<int>, marks);
        TMainForm& form = formOn("many");
        searchAndWait(form);
        TStringGridEx* grid = form.results().sgexResults();
        clickRow(grid, 2);
        clickRow(grid, 4, Qt::ShiftModifier);
        QCOMPARE(markedRows(grid), (QList<int>{2, 3, 4}));
        if (spinSteps) pressSpin(form, spinSteps);
        else searchAndWait(form);
        QCOMPARE(markedRows(grid), marks);
    }

    void directoryRows_areBoldInEveryColumn() {
        TMainForm& form = formOn("bold");
        searchAndWait(form);
        TStringGridEx* grid = form.results().sgexResults();
        int dirRow = 0, fileRow = 0;
        for (int r = 1; r < grid->RowCount(); ++r) {
            if (grid->Cells(0, r) == "TOKASearchD") dirRow = r;
            if (grid->Cells(0, r) == "TOKASearchF") fileRow = r;
        }
        QVERIFY(dirRow && fileRow);
        QCOMPARE(grid->Cells(4, dirRow), QString("----D"));
        QCOMPARE(grid->Cells(2, dirRow), QString());
        QCOMPARE(grid->Cells(5, dirRow), QString());
        grid->ClearMarks();
        grid->setCurrentCell(-1, -1);
        QImage image = grid->viewport()->grab().toImage();
        // The same text drawn bold takes more ink.
        const auto ink = [&](int row, int col) {
            const QRect cell = grid->visualRect(grid->model()->index(row - 1, col)).adjusted(1, 1, -2, -2);
            int dark = 0;
            for (int x = cell.left(); x <= cell.right(); ++x)
                for (int y = cell.top(); y <= cell.bottom(); ++y) dark += 255 - qGray(image.pixel(x, y));
            return dark;
        };
        QVERIFY2(ink(dirRow, 1) > ink(fileRow, 1) * 1.1, "Location");
        QVERIFY2(ink(dirRow, 0) > ink(fileRow, 0) * 1.1, "File");
        // The last column may need scrolling on a narrow screen.
        grid->scrollTo(grid->model()->index(dirRow - 1, 6));
        image = grid->viewport()->grab().toImage();
        QVERIFY2(ink(dirRow, 6) > ink(fileRow, 6) * 1.1, "Measure");
    }

    // The rows' details are read on a worker: while it is held inside its
    // first lstat, as a hung mount would hold it, the search ends, a refresh
    // returns at once, the window's timers fire on time and the rows show
    // their names and measures; the details follow when the worker goes on.
    void heldRowDetails_neverHoldTheWindow() {
        TMainForm& form = formOn("few");
        WorkerGate gate; // only the first entry is held
        form.results().setRowObserver(gate.observer(1));
        QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.isSearching(), 30000);
        QElapsedTimer clock;
        clock.start();
        form.TimerTimer();
        qint64 firedAfter = -1;
        QTimer::singleShot(10, [&] { firedAfter = clock.elapsed(); });
        QTRY_VERIFY_WITH_TIMEOUT(firedAfter >= 0, 5000);
        QVERIFY2(firedAfter < 100, QByteArray::number(firedAfter));
        QCOMPARE(columnTexts(form.results().sgexResults(), 6), QStringList(12, "100"));
        QVERIFY(columnTexts(form.results().sgexResults(), 0).filter("TOKASearch_").size() == 12);
        QCOMPARE(columnTexts(form.results().sgexResults(), 4) + columnTexts(form.results().sgexResults(), 5),
                 QStringList(24, QString()));
        QVERIFY(!form.results().rowsComplete());
        QSignalSpy read(&form.results(), &ResultsController::rowsRead);
        gate.setOpen(true);
        QVERIFY(read.wait(10000));
        QCOMPARE(columnTexts(form.results().sgexResults(), 4) + columnTexts(form.results().sgexResults(), 5),
                 QStringList(12, "-A---") + QStringList(12, "0"));
    }

    void duringASearch_data() {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<bool>("close");
        QTest::newRow("stop") << true << false;
        QTest::newRow("close, then stop") << true << true;
        QTest::newRow("close, search ends by itself") << false << true;
        QTest::newRow("neither") << false << false;
    }

    void duringASearch() {
        QFETCH(bool, stop);
        QFETCH(bool, close);
        TMainForm& form = formOn("big", "file1");
        const QString root = path("big");
        const auto ending = searchWithHook(form, [&] {
            QVERIFY(form.isSearching());
            QTRY_VERIFY(form.statusText().startsWith("Suche in Verzeichnis: " + root + "/"));
            for (QToolButton* b : {form.search().sbSearchDir(), form.search().sbSearchHDs(),
                                   form.search().sbRecurseDirs(), form.search().sbMeasure(), form.search().sbSimilar(),
                                   form.sbCopy(), form.sbMove(), form.sbDelete(), form.sbInvert(), form.sbFileViewer()})
                QVERIFY2(!b->isEnabled(), qPrintable(b->toolTip()));
            QVERIFY(form.search().sbStop()->isEnabled());
            QVERIFY(form.Stop1()->isEnabled());
            for (QAction* a : {form.Directory1(), form.AllFixedDisks1(), form.settings().RecurseSubdirectories1(),
                               form.settings().Searchlengthindependendfuzzy1()})
                QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
            for (QAction* a : {form.Copy1(), form.Move1(), form.Delete1(), form.E1(), form.InvertSelection1(),
                               form.settings().ShowFileToolbar1(), form.settings().ShowFlybyHints1(),
                               form.settings().ShowFileViewer1(), form.settings().WarningSearchResultChanged1()})
                QVERIFY2(a->isEnabled(), qPrintable(a->text()));
            QVERIFY(form.search().eSearch()->isEnabled() && form.seNumberofItems()->isEnabled()
                    && form.Explorer()->isEnabled());
            QVERIFY(form.results().sgexResults()->isEnabled());
            QVERIFY(form.Timer()->isActive());
            if (close) {
                form.close();
                QVERIFY(form.isVisible());
                QVERIFY(form.isSearching());
            }
            if (stop) QTest::mouseClick(form.search().sbStop(), Qt::LeftButton);
        });
        QVERIFY(!form.isSearching());
        // Stop ends every worker within 50 ms of the held one going on.
        if (stop) QVERIFY2(ending < std::chrono::milliseconds(50), qPrintable(QString::number(ending.count())));
        else QVERIFY(ending != std::chrono::milliseconds::max());
        QCOMPARE(form.isVisible(), !close);
        const qulonglong scanned = form.StatusPanel()->lFileScanned()->text().toULongLong();
        const qulonglong everything = 2 + kBigDirs + kBigDirs * (2 + 25); // the root's listing + each d*/
        if (stop) QVERIFY2(scanned < everything, qPrintable(form.StatusPanel()->lFileScanned()->text()));
        else QCOMPARE(scanned, everything);
        QCOMPARE(form.statusText(), QString("Ready"));
        QVERIFY(!form.Timer()->isActive());
        for (QToolButton* b : {form.search().sbSearchDir(), form.search().sbSearchHDs(), form.search().sbRecurseDirs(),
                               form.search().sbMeasure(), form.search().sbSimilar(), form.sbCopy(), form.sbMove(),
                               form.sbDelete(), form.sbInvert(), form.sbFileViewer()})
            QVERIFY(b->isEnabled());
        QVERIFY(!form.search().sbStop()->isEnabled());
        QVERIFY(!form.Stop1()->isEnabled());
        for (QAction* a : {form.Directory1(), form.AllFixedDisks1(), form.settings().RecurseSubdirectories1(),
                           form.settings().Searchlengthindependendfuzzy1()})
            QVERIFY(a->isEnabled());
    }

    void viewMenu_worksDuringASearch() {
        TMainForm& form = formOn("big", "file1");
        QVERIFY(searchWithHook(form,
                               [&] {
                                   QTest::keyClick(&form, Qt::Key_V, Qt::AltModifier);
                                   QVERIFY(QTest::qWaitFor([&] { return form.Options1()->isVisible(); }, 2000));
                                   QTest::keyClick(form.Options1(), 't');
                                   QVERIFY(!form.Toolbar1()->isVisible());
                                   QVERIFY(!form.settings().ShowFileToolbar1()->isChecked());
                                   QVERIFY(form.isSearching());
                               })
                != std::chrono::milliseconds::max());
        QVERIFY(!form.Toolbar1()->isVisible());
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestSearchWindow)
#include "test_search_window.moc"
