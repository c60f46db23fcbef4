// The result table's model: its order by rank or by a column, how its rows
// change on a refresh and when their details come, and the worker that
// reads the details.
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <mutex>

#include "ui/entry_details_reader.h"
#include "ui/result_model.h"
#include "ui/strgrdex.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

// German dates: as texts they do not sort by time.
LocaleFormat germanDates() {
    LocaleFormat locale = cLocaleFormat();
    locale.shortDateFormat = "dd.MM.yyyy";
    return locale;
}

std::time_t localTime(int year, int month, int day) {
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = 12;
    when.tm_isdst = -1;
    return std::mktime(&when);
}

RankedEntry entry(const std::string& name, double score, const std::string& location = "/data/") {
    const Real48 real = Real48::fromExtended(score);
    return {name, location, real, measureText(real, cLocaleFormat())};
}

EntryDetails fileDetails(std::int64_t size, std::time_t changed) {
    FileInfo info;
    info.type = EntryType::Regular;
    info.attributes = AttrArchive;
    info.size = size;
    info.mtime = changed;
    return entryDetails(&info, germanDates());
}

EntryDetails directoryDetails() {
    FileInfo info;
    info.type = EntryType::Directory;
    info.attributes = AttrDirectory;
    info.mtime = localTime(2020, 5, 5);
    return entryDetails(&info, germanDates());
}

// Ranks 1..6.  beta and Alpha tie on the measure; beta and alpha tie on
// size and date; "10 KB" sorts before "9999" as a text, 31.12.2023 after
// 02.01.2024; gamma is gone, delta not read yet.
void fillSample(ResultModel& model) {
    const std::uint64_t generation =
        model.setEntries({entry("beta.txt", 0.9), entry("Alpha.txt", 0.9), entry("dir", 0.8), entry("gamma.txt", 0.7),
                          entry("alpha.txt", 0.6), entry("delta.txt", 0.5)});
    const std::time_t newYear = localTime(2024, 1, 2);
    model.setDetails(generation, {{"/data/beta.txt", fileDetails(9999, newYear)},
                                  {"/data/Alpha.txt", fileDetails(10240, localTime(2023, 12, 31))},
                                  {"/data/dir", directoryDetails()},
                                  {"/data/gamma.txt", entryDetails(nullptr, germanDates())},
                                  {"/data/alpha.txt", fileDetails(9999, newYear)}});
}

QString column(const ResultModel& model, int col) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r) texts << model.index(r, col).data().toString();
    return texts.join(' ');
}

} // namespace

class TestResultModel : public QObject {
    Q_OBJECT
private slots:
    void order_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<bool>("falling");
        QTest::addColumn<QString>("names");
        const QString ranks = "beta.txt Alpha.txt dir gamma.txt alpha.txt delta.txt";
        QTest::newRow("rank") << int(ResultModel::kRankOrder) << false << ranks;
        QTest::newRow("rank ignores falling") << int(ResultModel::kRankOrder) << true << ranks;
        QTest::newRow("file, case folded")
            << int(ResultModel::FileColumn) << false << "Alpha.txt alpha.txt beta.txt delta.txt dir gamma.txt";
        QTest::newRow("file falling") << int(ResultModel::FileColumn) << true
                                      << "gamma.txt dir delta.txt beta.txt alpha.txt Alpha.txt";
        // Bytes, not texts; the ties in rank order; nothing to sort by last.
        QTest::newRow("size") << int(ResultModel::SizeColumn) << false
                              << "beta.txt alpha.txt Alpha.txt dir gamma.txt delta.txt";
        QTest::newRow("size falling") << int(ResultModel::SizeColumn) << true
                                      << "Alpha.txt beta.txt alpha.txt dir gamma.txt delta.txt";
        QTest::newRow("date by time, not text")
            << int(ResultModel::DateColumn) << false << "Alpha.txt beta.txt alpha.txt dir gamma.txt delta.txt";
        QTest::newRow("date falling") << int(ResultModel::DateColumn) << true
                                      << "beta.txt alpha.txt Alpha.txt dir gamma.txt delta.txt";
        QTest::newRow("time sorts as the date")
            << int(ResultModel::TimeColumn) << false << "Alpha.txt beta.txt alpha.txt dir gamma.txt delta.txt";
        QTest::newRow("attribs") << int(ResultModel::AttribsColumn) << false
                                 << "dir beta.txt Alpha.txt alpha.txt gamma.txt delta.txt";
        QTest::newRow("measure rising") << int(ResultModel::MeasureColumn) << false
                                        << "delta.txt alpha.txt gamma.txt dir beta.txt Alpha.txt";
        QTest::newRow("measure falling keeps tied ranks") << int(ResultModel::MeasureColumn) << true << ranks;
    }

    void order() {
        QFETCH(int, column);
        QFETCH(bool, falling);
        QFETCH(QString, names);
        ResultModel model;
        fillSample(model);
        model.sort(column, falling ? Qt::DescendingOrder : Qt::AscendingOrder);
        QCOMPARE(toka::test::column(model, ResultModel::FileColumn), names);
        // The order holds through a refresh with the same entries (their
        // details stay until read again) and comes back after Rank.
        fillSample(model);
        QCOMPARE(toka::test::column(model, ResultModel::FileColumn), names);
        model.sort(ResultModel::kRankOrder);
        QCOMPARE(toka::test::column(model, ResultModel::FileColumn),
                 QString("beta.txt Alpha.txt dir gamma.txt alpha.txt delta.txt"));
    }

    void rolesOfARow() {
        ResultModel model;
        fillSample(model);
        const auto at = [&](int rank, int col, int role) { return model.index(rank - 1, col).data(role); };
        QCOMPARE(at(2, ResultModel::SizeColumn, Qt::DisplayRole).toString(), QString("10 KB"));
        QCOMPARE(at(2, ResultModel::DateColumn, Qt::DisplayRole).toString(), QString("31.12.2023"));
        QCOMPARE(at(2, 0, ResultModel::PathRole).toByteArray(), QByteArray("/data/Alpha.txt"));
        QVERIFY(at(3, 0, ResultModel::DirectoryRole).toBool());
        QVERIFY(!at(2, 0, ResultModel::DirectoryRole).toBool());
        QCOMPARE(at(3, ResultModel::SizeColumn, Qt::DisplayRole).toString(), QString());    // a directory's
        QCOMPARE(at(4, ResultModel::SizeColumn, Qt::DisplayRole).toString(), QString("?")); // gone
        QCOMPARE(at(4, ResultModel::AttribsColumn, Qt::DisplayRole).toString(), QString());
        QCOMPARE(at(6, ResultModel::MeasureColumn, Qt::DisplayRole).toString(), QString("50"));
        QCOMPARE(at(6, ResultModel::DateColumn, Qt::DisplayRole).toString(), QString()); // not read yet
        model.sort(ResultModel::SizeColumn, Qt::DescendingOrder);
        QCOMPARE(at(1, 0, ResultModel::RankRole).toInt(), 2);
        QVERIFY(!model.detailsComplete()); // delta was never read
    }

    // A refresh: rows come and go at the end only, every row's data
    // changes in place, the model is never reset; without entries it has
    // one empty row.
    void refresh_data() {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("expected");
        QTest::newRow("30 -> 12") << 30 << 12 << "removed 12..29, changed 0..11";
        QTest::newRow("12 -> 30") << 12 << 30 << "inserted 12..29, changed 0..29";
        QTest::newRow("5 -> 5") << 5 << 5 << "changed 0..4";
        QTest::newRow("5 -> 0") << 5 << 0 << "removed 1..4, changed 0..0";
        QTest::newRow("0 -> 1") << 0 << 1 << "changed 0..0";
        QTest::newRow("0 -> 3") << 0 << 3 << "inserted 1..2, changed 0..2";
    }

    void refresh() {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(QString, expected);
        const auto entries = [](int count) {
            std::vector<RankedEntry> list;
            for (int i = 0; i < count; ++i) list.push_back(entry("f" + std::to_string(i), 1.0 - i * 0.01));
            return list;
        };
        ResultModel model;
        model.setEntries(entries(before));
        QStringList seen;
        connect(&model, &QAbstractItemModel::rowsRemoved, this, [&](const QModelIndex&, int first, int last) {
            seen << QString("removed %1..%2").arg(first).arg(last);
        });
        connect(&model, &QAbstractItemModel::rowsInserted, this, [&](const QModelIndex&, int first, int last) {
            seen << QString("inserted %1..%2").arg(first).arg(last);
        });
        connect(&model, &QAbstractItemModel::dataChanged, this, [&](const QModelIndex& from, const QModelIndex& to) {
            seen << QString("changed %1..%2").arg(from.row()).arg(to.row());
        });
        connect(&model, &QAbstractItemModel::modelReset, this, [&] { seen << "reset"; });
        model.setEntries(entries(after));
        QCOMPARE(seen.join(", "), expected);
        QCOMPARE(model.rowCount(), std::max(after, 1));
        QCOMPARE(model.index(0, 0).data(ResultModel::PathRole).toByteArray(),
                 after ? QByteArray("/data/f0") : QByteArray());
        QCOMPARE(model.detailsComplete(), after == 0);
    }

    // Details of an earlier refresh are shown until the rows' own come, and
    // never replace those of a later one.
    void detailsOfTheRightGeneration() {
        ResultModel model;
        const std::uint64_t first = model.setEntries({entry("a", 0.9), entry("b", 0.8)});
        model.setDetails(first, {{"/data/a", fileDetails(1, 0)}});
        QVERIFY(!model.detailsComplete());
        model.setDetails(first, {{"/data/b", fileDetails(2, 0)}});
        QVERIFY(model.detailsComplete());

        const std::uint64_t second = model.setEntries({entry("c", 0.95), entry("a", 0.9), entry("b", 0.8)});
        QVERIFY(second > first);
        QVERIFY(!model.detailsComplete());
        QCOMPARE(column(model, ResultModel::SizeColumn), QString(" 1 2")); // c not read yet
        model.setDetails(second, {{"/data/a", fileDetails(10, 0)}});
        model.setDetails(first, {{"/data/a", fileDetails(99, 0)}, {"/data/c", fileDetails(3, 0)}});
        QCOMPARE(column(model, ResultModel::SizeColumn), QString("3 10 2"));
        QVERIFY(!model.detailsComplete());
        model.setDetails(second, {{"/data/b", fileDetails(20, 0)}, {"/data/c", fileDetails(30, 0)}});
        QCOMPARE(column(model, ResultModel::SizeColumn), QString("30 10 20"));
        QVERIFY(model.detailsComplete());
    }

    // Sorted by size, details that come later move their rows, and the
    // grid's marks go with them.
    void lateDetails_moveTheirRowsWithTheMarks() {
        ResultModel model;
        TStringGridEx grid;
        grid.setModel(&model);
        model.sort(ResultModel::SizeColumn, Qt::AscendingOrder);
        const std::uint64_t generation =
            model.setEntries({entry("big", 0.9), entry("small", 0.8), entry("middle", 0.7)});
        QCOMPARE(column(model, 0), QString("big small middle")); // nothing to sort by yet
        grid.ClearMarks();
        grid.SetRowMarked(1, true); // big
        grid.SetRowMarked(3, true); // middle
        QSignalSpy moved(&model, &QAbstractItemModel::layoutChanged);
        model.setDetails(generation, {{"/data/big", fileDetails(300, 0)},
                                      {"/data/small", fileDetails(100, 0)},
                                      {"/data/middle", fileDetails(200, 0)}});
        QCOMPARE(column(model, 0), QString("small middle big"));
        QCOMPARE(moved.count(), 1);
        QVERIFY(!grid.IsRowMarked(1) && grid.IsRowMarked(2) && grid.IsRowMarked(3));
    }

    // The reader, on real entries: lstat on its worker, the answer on the
    // window's thread.
    void reader_readsOnItsWorker() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath("file.bin"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(12345, 'x')) == 12345);
        file.close();
        mkdirp(dir.filePath("sub"));
        const std::string location = dir.path().toStdString() + "/";
        std::vector<std::pair<std::string, EntryDetails>> got;
        bool onWindowThread = false;
        std::atomic<bool> observedOnWorker{true};
        EntryDetailsReader reader(cLocaleFormat(), [&](std::uint64_t, EntryDetailsReader::Details details) {
            onWindowThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            got = std::move(details);
        });
        reader.setObserver([&](std::string_view) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread()) observedOnWorker = false;
        });
        reader.read(1, {entry("file.bin", 0.9, location), entry("sub", 0.8, location), entry("gone", 0.7, location)});
        QTRY_COMPARE(got.size(), std::size_t(3));
        QVERIFY(onWindowThread);
        QVERIFY(observedOnWorker);
        QCOMPARE(got[0].first, location + "file.bin");
        QCOMPARE(got[0].second.size, std::string("12 KB"));
        QCOMPARE(got[0].second.bytes, std::optional<std::int64_t>(12345));
        QVERIFY(got[1].second.directory && !got[1].second.bytes);
        QCOMPARE(got[2].second.size, std::string("?"));
        QCOMPARE(got[2].second.attributes, std::string());
    }

    // One batch at a time: while one is held, a later request replaces the
    // one waiting; a reader that goes while its worker is held does not
    // wait for it, and its answer goes nowhere.
    void reader_oneBatchAtATime() {
        struct Gate {
            std::mutex mutex;
            std::condition_variable changed;
            bool open = false;
            int held = 0;
        };
        auto gate = std::make_shared<Gate>();
        const auto openGate = [gate] {
            std::lock_guard lock(gate->mutex);
            gate->open = true;
            gate->changed.notify_all();
        };
        const auto heldCount = [gate] {
            std::lock_guard lock(gate->mutex);
            return gate->held;
        };
        QList<std::uint64_t> delivered;
        auto reader = std::make_unique<EntryDetailsReader>(
            cLocaleFormat(), [&](std::uint64_t generation, EntryDetailsReader::Details) { delivered << generation; });
        reader->setObserver([gate](std::string_view) {
            std::unique_lock lock(gate->mutex);
            ++gate->held;
            gate->changed.wait(lock, [&] { return gate->open; });
        });
        reader->read(1, {entry("one", 0.9, "/nowhere/")});
        QTRY_COMPARE(heldCount(), 1);
        reader->read(2, {entry("two", 0.9, "/nowhere/")});
        reader->read(3, {entry("three", 0.9, "/nowhere/")});
        QTest::qWait(20);
        QCOMPARE(heldCount(), 1); // the second waits for the first
        openGate();
        QTRY_COMPARE(delivered, (QList<std::uint64_t>{1, 3}));

        {
            std::lock_guard lock(gate->mutex);
            gate->open = false;
        }
        reader->read(4, {entry("four", 0.9, "/nowhere/"), entry("five", 0.9, "/nowhere/")});
        QTRY_COMPARE(heldCount(), 3);
        QElapsedTimer clock;
        clock.start();
        reader.reset();
        QVERIFY2(clock.elapsed() < 100, QByteArray::number(clock.elapsed()));
        openGate();
        QTest::qWait(50);
        QCOMPARE(heldCount(), 3); // the rest of the batch was not read
        QCOMPARE(delivered, (QList<std::uint64_t>{1, 3}));
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestResultModel)
#include "test_result_model.moc"
