// Recorded walks in the window: a search shows the record's answer at once
// and the live answer when the walk ends; Stop keeps what is shown; typing
// answers from the record without a walk; records can be turned off and
// forgotten.
#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <atomic>
#include <chrono>
#include <thread>

#include "ui/window/mainform.h"
#include "ui/widgets/strgrdex.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

// The names the table shows, top down.
QStringList rowNames(TStringGridEx* grid) {
    QStringList names;
    for (int r = 1; r < grid->RowCount(); ++r)
        if (!grid->Cells(0, r).isEmpty()) names << grid->Cells(0, r);
    return names;
}

} // namespace

class TestWindowRecords : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_tree;
    std::unique_ptr<QTemporaryDir> m_cache;
    std::unique_ptr<TMainForm> m_form;

    QString records() const { return m_cache->path() + "/walks"; }
    QStringList recordFiles() const { return QDir(records()).entryList({"*.walk"}, QDir::Files); }

    TMainForm& form(const QString& text = "report") {
        shownMainForm(m_form, [this](TMainForm& form) { form.setRecordDirectory(records().toStdString()); });
        showFolders(*m_form, {m_tree->path()});
        m_form->search().eSearch()->setText(text);
        // Both are off at first.
        if (!m_form->settings().RecordWalks1()->isChecked()) m_form->settings().RecordWalks1()->trigger();
        if (!m_form->settings().SearchAsYouType1()->isChecked()) m_form->settings().SearchAsYouType1()->trigger();
        return *m_form;
    }

    static void search(TMainForm& form) {
        searchAndWait(form);
        form.search().waitForRecordSaved();
    }

    // Starts a search while the walk is held before its first directory
    // (until the gate goes); once the record was read, whether it answered.
    static bool recordAnswersAHeldSearch(TMainForm& form, WorkerGate& gate) {
        form.search().setWalkObserver(gate.observer());
        QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
        form.search().waitForRecordSaved();
        QTest::qWait(50);
        return form.search().showsRecordedAnswer();
    }

private slots:
    void init() {
        m_tree = std::make_unique<QTemporaryDir>();
        m_cache = std::make_unique<QTemporaryDir>();
        for (const char* name : {"report.txt", "old-report.txt", "sub/report.pdf", "sub/notes"}) {
            mkdirp(QFileInfo(m_tree->filePath(name)).path());
            touch(m_tree->filePath(name));
        }
    }
    void cleanup() { m_form.reset(); }

    void recordedAnswerFirst_thenTheLiveOne() {
        search(form());
        QVERIFY(!m_form->search().showsRecordedAnswer());
        QCOMPARE(recordFiles().size(), 1);
        QCOMPARE(int(QFile::permissions(records() + "/" + recordFiles()[0])), 0x6600); // rw for the owner only
        const QStringList before = rowNames(m_form->results().sgexResults());
        QVERIFY(before.contains("old-report.txt"));
        // A window started anew has only the record's file: no record kept
        // current by the window before.
        m_form.reset();
        TMainForm& window = form();

        QVERIFY(QFile::remove(m_tree->filePath("old-report.txt")));
        touch(m_tree->filePath("sub/new-report.txt"));
        {
            WorkerGate gate;
            window.search().setWalkObserver(gate.observer());
            QTest::mouseClick(window.search().sbSearchDir(), Qt::LeftButton);
            // The walk is held before its first directory: what the rows
            // show, as soon as the record is read, is the record's answer.
            QVERIFY(window.isSearching());
            QTRY_VERIFY_WITH_TIMEOUT(window.search().showsRecordedAnswer(), 5000);
            QCOMPARE(rowNames(window.results().sgexResults()), before);
            QVERIFY(window.search().lRecorded()->isVisible());
            QVERIFY(window.search().lRecorded()->text().startsWith("from the walk of "));
            QTest::qWait(1200); // a refresh of the running search keeps it
            QCOMPARE(rowNames(window.results().sgexResults()), before);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!window.isSearching(), 20000);
        QVERIFY(!window.search().showsRecordedAnswer());
        // The walk verified the record: it listed the changed directories
        // again, and the mark says when it checked.
        QVERIFY2(window.search().lRecorded()->text().startsWith("checked "),
                 qPrintable(window.search().lRecorded()->text()));
        QVERIFY(window.search().lRecorded()->toolTip().contains("directories listed again"));
        const QStringList after = rowNames(window.results().sgexResults());
        QVERIFY(after.contains("new-report.txt") && !after.contains("old-report.txt"));
    }

    // After Stop the table shows what the walk found, not the record's
    // answer beside the walk's count; a stopped walk records nothing.
    void stopShowsTheLiveList_andRecordsNothing() {
        TMainForm& window = form();
        search(window);
        // The record on disk, not one kept current, answers the next search.
        window.search().stopKeepingCurrent();
        window.search().waitForRecordSaved();
        const QDateTime written = QFileInfo(records() + "/" + recordFiles()[0]).lastModified();
        touch(m_tree->filePath("late-report.txt")); // the top directory changed: it is listed again
        {
            WorkerGate gate;
            window.search().setWalkObserver(gate.observer());
            QTest::mouseClick(window.search().sbSearchDir(), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(window.search().showsRecordedAnswer(), 5000);
            QTest::mouseClick(window.search().sbStop(), Qt::LeftButton);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!window.isSearching(), 20000);
        window.search().waitForRecordSaved();
        QTest::qWait(50);
        QVERIFY(!window.search().showsRecordedAnswer());
        QVERIFY(!window.search().lRecorded()->isVisible());
        QCOMPARE(rowNames(window.results().sgexResults()), QStringList{}); // stopped before its first directory
        QCOMPARE(QFileInfo(records() + "/" + recordFiles()[0]).lastModified(), written);
    }

    // While the window is open the record of its last search is kept
    // current: typing finds a file made and one renamed a moment before.
    void typingAnswersWithWhatChangedAMomentAgo() {
        TMainForm& window = form("zzz");
        search(window);
        touch(m_tree->filePath("sub/fresh-report.txt"));
        QVERIFY(QFile::rename(m_tree->filePath("report.txt"), m_tree->filePath("renamed-report.txt")));
        QSignalSpy answered(&window, &TMainForm::recordedAnswerShown);
        window.search().eSearch()->selectAll();
        QTest::keyClicks(window.search().eSearch(), "report");
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 1, 5000);
        const QStringList rows = rowNames(window.results().sgexResults());
        QVERIFY2(rows.contains("fresh-report.txt") && rows.contains("renamed-report.txt")
                     && !rows.contains("report.txt"),
                 qPrintable(rows.join(", ")));
        QCOMPARE(window.search().lRecorded()->text(), QString("current"));
        QVERIFY(window.search().lRecorded()->toolTip().contains("watched"));

        // Records turned off, nothing is kept current any more.
        window.settings().RecordWalks1()->trigger();
        QTRY_COMPARE(window.search().watchedDirectories(), std::size_t{0});
    }

    void typingAnswersFromTheRecord_withoutAWalk() {
        TMainForm& window = form("zzz");
        QTest::keyClicks(window.search().eSearch(), "zzz");
        QTest::qWait(200);
        QVERIFY(!window.search().showsRecordedAnswer()); // no record yet
        search(window);
        struct Step {
            const char* typed;
            bool answers;
        };
        // Each text replaces the box's; two letters are too few.
        const Step steps[] = {{"re", false}, {"report.p", true}, {"no", false}, {"notes", true}};
        for (const Step& step : steps) {
            const QStringList before = rowNames(window.results().sgexResults());
            window.search().eSearch()->selectAll();
            QTest::keyClicks(window.search().eSearch(), step.typed);
            QTest::qWait(300);
            QVERIFY(!window.isSearching());
            if (!step.answers) {
                QCOMPARE(rowNames(window.results().sgexResults()), before);
                continue;
            }
            QVERIFY(window.search().showsRecordedAnswer());
            QCOMPARE(rowNames(window.results().sgexResults()).value(0),
                     QString(step.typed) == "notes" ? "notes" : "report.pdf");
        }
        // Turned off, typing changes nothing.
        window.settings().SearchAsYouType1()->trigger();
        window.search().eSearch()->selectAll();
        QTest::keyClicks(window.search().eSearch(), "report.pdf");
        QTest::qWait(300);
        QCOMPARE(rowNames(window.results().sgexResults()).value(0), QString("notes"));

        // Switching the measure answers again from the record at once, as
        // the walk would answer with that measure.
        const auto shown = [&window] {
            QStringList rows;
            for (int r = 1; r < window.results().sgexResults()->RowCount(); ++r)
                rows << window.results().sgexResults()->Cells(0, r) + " " + window.results().sgexResults()->Cells(6, r);
            return rows;
        };
        QSignalSpy answered(&window, &TMainForm::recordedAnswerShown);
        QTest::mouseClick(window.search().sbSimilar(), Qt::LeftButton);
        QTRY_COMPARE(answered.size(), 1);
        QVERIFY(!window.isSearching());
        const QStringList replayed = shown();
        search(window);
        QCOMPARE(replayed, shown());
    }

    // A record on a file system that hangs holds the records' worker, not
    // the window: its timers still fire on time, the search starts and the
    // walk's answer comes; the record's answer, come too late, is dropped.
    void aRecordThatBlocksNeverHoldsTheWindow() {
        TMainForm& window = form();
        search(window);
        auto held = std::make_shared<std::atomic<bool>>(true);
        window.search().setRecordObserver([held](std::string_view) {
            for (int waited = 0; held->load() && waited < 10000; waited += 5)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(window.search().sbSearchDir(), Qt::LeftButton);
        qint64 firedAfter = -1;
        QTimer::singleShot(10, [&] { firedAfter = clock.elapsed(); });
        QTRY_VERIFY_WITH_TIMEOUT(firedAfter >= 0, 5000);
        QVERIFY2(firedAfter < 100, QByteArray::number(firedAfter));
        QTRY_VERIFY_WITH_TIMEOUT(!window.isSearching(), 20000);
        QVERIFY(rowNames(window.results().sgexResults()).contains("report.txt"));
        held->store(false);
        window.search().waitForRecordSaved();
        QTest::qWait(50);
        QVERIFY(!window.search().showsRecordedAnswer());

        // Stop while the walk still waits for its record ends the search at
        // once; the walk never starts.
        held->store(true);
        QTest::mouseClick(window.search().sbSearchDir(), Qt::LeftButton);
        QVERIFY(window.isSearching());
        QTest::mouseClick(window.search().sbStop(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!window.isSearching(), 2000);
        QCOMPARE(window.scannedEntries(), std::uint64_t{0});
        held->store(false);
        window.search().waitForRecordSaved();
    }

    void recordsOff_neitherWrittenNorRead_andForgotten() {
        TMainForm& window = form();
        search(window);
        QCOMPARE(recordFiles().size(), 1);
        window.settings().RecordWalks1()->trigger();
        QVERIFY(!window.settings().SearchAsYouType1()->isEnabled());
        {
            WorkerGate gate;
            QVERIFY(!recordAnswersAHeldSearch(window, gate));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!window.isSearching(), 20000);
        window.search().eSearch()->setText("other");
        search(window);
        QCOMPARE(recordFiles().size(), 1); // only the walk made while records were on

        window.settings().RecordWalks1()->trigger();
        window.ForgetRecordedWalks1()->trigger();
        QTRY_COMPARE(window.statusText(), QString("1 recorded walk forgotten"));
        QVERIFY(recordFiles().isEmpty());
        WorkerGate gate;
        QVERIFY(!recordAnswersAHeldSearch(window, gate));
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestWindowRecords)
#include "test_window_records.moc"
