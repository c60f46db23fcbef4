// What the window adds beside its designed texts: the summary at the right of
// the status bar, Save Results As, and the viewer following a mark moved
// with the arrow keys.
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include "ui/logic/search_summary.h"
#include "ui/widgets/strgrdex.h"
#include "ui_test_support.h"

Q_DECLARE_METATYPE(toka::SearchSummary)

namespace toka::test {

class TestWindowSummary : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<TMainForm> m_form;

    TStringGridEx* grid() const { return m_form->results().sgexResults(); }
    QString summary() const { return m_form->lSummary()->text(); }
    static QString plain(std::uint64_t n) { return QString::number(n); }

private slots:
    void summaryText_data() {
        QTest::addColumn<SearchSummary>("summary");
        QTest::addColumn<QString>("text");
        SearchSummary ended;
        ended.searched = true;
        ended.scanned = 1204;
        ended.elapsedMs = 2450;
        ended.skipped = 1;
        ended.marked = 3;
        QTest::newRow("after a search") << ended << "1204 entries scanned in 2.5 s · 1 directory skipped · 3 marked";
        SearchSummary running = ended;
        running.running = true;
        running.scanned = 1;
        running.elapsedMs = 125'000;
        running.skipped = 0;
        running.marked = 0;
        QTest::newRow("running, minutes") << running << "1 entry scanned, 2:05 min";
        SearchSummary shortText;
        shortText.textTooShort = shortText.enterSearches = true;
        QTest::newRow("short text first") << shortText << "texts under 3 letters match nothing";
        SearchSummary enter;
        enter.enterSearches = true;
        enter.lastOperation = "1 item moved to the trash";
        QTest::newRow("enter and an operation")
            << enter << "no recorded walk here yet: Enter searches · 1 item moved to the trash";
        QTest::newRow("nothing yet") << SearchSummary{} << "";
    }
    void summaryText() {
        QFETCH(SearchSummary, summary);
        QFETCH(QString, text);
        QCOMPARE(toka::summaryText(summary, &plain), text);
    }

    void init() {
        for (const char* name : {"TOKASearch_a", "TOKASearch_b", "TOKASearch_c"}) {
            QFile file(m_dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray("text of ") + name) > 0);
        }
        TMainForm& form = shownMainForm(m_form);
        form.FillDrives({volumeAt(m_dir.path().toStdString())});
        form.Explorer()->setCurrentItem(form.Explorer()->topLevelItem(0));
        QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.isSearching(), 30000);
        QVERIFY(waitForResultRows(form));
    }

    void summaryTellsOfTheSearchAndTheMarks() {
        const QString scanned = QString("%1 entries scanned in ").arg(m_form->scannedEntries());
        QVERIFY2(summary().startsWith(scanned), qPrintable(summary()));
        grid()->setFocus();
        QTest::keyClick(grid(), Qt::Key_A, Qt::ControlModifier);
        QVERIFY2(summary().endsWith(" · 3 marked"), qPrintable(summary()));
        m_form->search().eSearch()->setText("ab");
        QVERIFY2(summary().startsWith("texts under 3 letters match nothing · " + scanned), qPrintable(summary()));
    }

    void arrowKeysLoadTheViewer() {
        m_form->sbFileViewer()->click();
        grid()->setFocus();
        QTest::keyClick(grid(), Qt::Key_Down);
        QVERIFY(grid()->IsRowMarked(2));
        const QString name = grid()->Cells(0, 2);
        QTRY_COMPARE(m_form->viewer().mFileViewer()->toPlainText(), "text of " + name);
    }

    void saveResultsWritesTheRowsOrSaysWhyNot() {
        QSignalSpy saved(m_form.get(), &TMainForm::resultsSaved);
        const QString csv = m_dir.filePath("out/rows.csv");
        QVERIFY(QDir().mkpath(m_dir.filePath("out")));
        m_form->saveResults(csv.toStdString(), true);
        QTRY_COMPARE(saved.size(), 1);
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.value(0), QByteArray("File,Location,Date,Time,Attribs,Size,Measure,Path\r"));
        QCOMPARE(lines.size(), 5); // header, three rows, the end of the last line
        QCOMPARE(m_form->statusText(), "3 rows saved to " + csv);

        // A folder that is not there: the box says so, and nothing is written.
        BoxWatcher watcher;
        m_form->saveResults(m_dir.filePath("missing/rows.txt").toStdString(), false);
        QTRY_COMPARE(saved.size(), 2);
        QCOMPARE(watcher.boxes.size(), 1);
        QVERIFY2(watcher.boxes[0].startsWith("Save Results As|The results were not saved: "),
                 qPrintable(watcher.boxes[0]));
        QVERIFY(!QFile::exists(m_dir.filePath("missing")));
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestWindowSummary)
#include "test_window_summary.moc"
