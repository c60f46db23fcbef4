// The result table's model: its order by rank or by a column, the details
// of its rows by generation, and the worker that reads them one batch at a
// time.
#include <QElapsedTimer>
#include <QTest>

#include <ctime>

#include "ui/logic/entry_details_reader.h"
#include "ui/logic/result_model.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

RankedEntry entry(const std::string& name, double score) {
    const Real48 real = Real48::fromExtended(score);
    return {name, "/data/", real, measureText(real, cLocaleFormat())};
}

// A file of size bytes changed on that day; German dates do not sort by
// time as texts.
EntryDetails fileDetails(std::int64_t size, int year = 2024, int month = 1, int day = 2) {
    std::tm when{};
    when.tm_year = year - 1900, when.tm_mon = month - 1, when.tm_mday = day, when.tm_hour = 12, when.tm_isdst = -1;
    FileInfo info{EntryType::Regular, 0, AttrArchive, size, std::mktime(&when)};
    LocaleFormat locale = cLocaleFormat();
    locale.shortDateFormat = "dd.MM.yyyy";
    return entryDetails(&info, locale);
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
        const QString ranks = "beta Alpha dir gamma alpha delta";
        QTest::newRow("rank, even when falling") << int(ResultModel::kRankOrder) << true << ranks;
        QTest::newRow("file, case folded") << 0 << false << "Alpha alpha beta delta dir gamma";
        QTest::newRow("file falling") << 0 << true << "gamma dir delta beta alpha Alpha";
        // Bytes, not "10 KB" < "9999"; ties in rank order; nothing to sort by last.
        QTest::newRow("size") << 5 << false << "beta alpha Alpha dir gamma delta";
        QTest::newRow("size falling") << 5 << true << "Alpha beta alpha dir gamma delta";
        QTest::newRow("date by time, not text") << 2 << false << "Alpha beta alpha dir gamma delta";
        QTest::newRow("time falling") << 3 << true << "beta alpha Alpha dir gamma delta";
        QTest::newRow("attribs") << 4 << false << "dir beta Alpha alpha gamma delta";
        QTest::newRow("measure rising") << 6 << false << "delta alpha gamma dir beta Alpha";
        QTest::newRow("measure falling keeps tied ranks") << 6 << true << ranks;
    }

    void order() {
        QFETCH(int, column);
        QFETCH(bool, falling);
        QFETCH(QString, names);
        // beta and Alpha tie on the measure, beta and alpha on size and
        // date (31.12.2023 sorts after 02.01.2024 as a text); gamma is gone,
        // delta not read yet.
        ResultModel model;
        const auto fill = [&] {
            const std::uint64_t generation =
                model.setEntries({entry("beta", 0.9), entry("Alpha", 0.9), entry("dir", 0.8), entry("gamma", 0.7),
                                  entry("alpha", 0.6), entry("delta", 0.5)});
            FileInfo directory{EntryType::Directory, 0, AttrDirectory, 4096, 0};
            model.setDetails(generation, {{"/data/beta", fileDetails(9999)},
                                          {"/data/Alpha", fileDetails(10240, 2023, 12, 31)},
                                          {"/data/dir", entryDetails(&directory, cLocaleFormat())},
                                          {"/data/gamma", entryDetails(nullptr, cLocaleFormat())},
                                          {"/data/alpha", fileDetails(9999)}});
        };
        fill();
        model.sort(column, falling ? Qt::DescendingOrder : Qt::AscendingOrder);
        QCOMPARE(toka::test::column(model, 0), names);
        fill(); // the order holds through a refresh
        QCOMPARE(toka::test::column(model, 0), names);
    }

    // Details of an earlier refresh show until the rows' own come, never
    // replace those of a later one, and move their rows when sorted by them.
    void detailsOfTheRightGeneration() {
        ResultModel model;
        model.sort(ResultModel::SizeColumn);
        const std::uint64_t first = model.setEntries({entry("a", 0.9), entry("b", 0.8)});
        model.setDetails(first, {{"/data/a", fileDetails(1)}, {"/data/b", fileDetails(2)}});
        QVERIFY(model.detailsComplete());
        const std::uint64_t second = model.setEntries({entry("c", 0.95), entry("a", 0.9), entry("b", 0.8)});
        QVERIFY(!model.detailsComplete());
        QCOMPARE(column(model, ResultModel::SizeColumn), QString("1 2 ")); // c not read yet
        int moves = 0;
        connect(&model, &QAbstractItemModel::layoutChanged, this, [&] { ++moves; });
        model.setDetails(second, {{"/data/a", fileDetails(10)}});
        model.setDetails(first, {{"/data/a", fileDetails(99)}, {"/data/c", fileDetails(3)}});
        QCOMPARE(column(model, ResultModel::SizeColumn), QString("2 3 10"));
        QCOMPARE(moves, 2);
        QVERIFY(!model.detailsComplete());
        model.setDetails(second, {{"/data/b", fileDetails(20)}, {"/data/c", fileDetails(30)}});
        QCOMPARE(column(model, 0), QString("a b c"));
        QVERIFY(model.detailsComplete());
    }

    // One batch at a time: while one is held, a later request replaces the
    // one waiting; a reader that goes while its worker is held does not
    // wait for it, and the rest of the batch is not read.
    void reader_oneBatchAtATime() {
        WorkerGate gate;
        QList<std::uint64_t> delivered;
        auto reader = std::make_unique<EntryDetailsReader>(
            cLocaleFormat(), [&](std::uint64_t generation, EntryDetailsReader::Details) { delivered << generation; });
        reader->setObserver(gate.observer());
        reader->read(1, {entry("one", 0.9)});
        QTRY_COMPARE(gate.calls(), 1);
        reader->read(2, {entry("two", 0.9)});
        reader->read(3, {entry("three", 0.9)});
        QTest::qWait(20);
        QCOMPARE(gate.calls(), 1);
        gate.setOpen(true);
        QTRY_COMPARE(delivered, (QList<std::uint64_t>{1, 3}));

        gate.setOpen(false);
        reader->read(4, {entry("four", 0.9), entry("five", 0.9)});
        QTRY_COMPARE(gate.calls(), 3);
        QElapsedTimer clock;
        clock.start();
        reader.reset();
        QVERIFY2(clock.elapsed() < 100, QByteArray::number(clock.elapsed()));
        gate.setOpen(true);
        QTest::qWait(50);
        QCOMPARE(gate.calls(), 3);
        QCOMPARE(delivered, (QList<std::uint64_t>{1, 3}));
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestResultModel)
#include "test_result_model.moc"
