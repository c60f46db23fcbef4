// The table's order in the window, after a search of a folder with three
// files of different sizes and dates and one directory: View > Sort By, the
// header's indicator, clicks on the header, the marks going with their rows.
#include <QAction>
#include <QDateTime>
#include <QHeaderView>
#include <QMenu>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include "ui/widgets/strgrdex.h"
#include "ui_test_support.h"

namespace toka::test {

class TestWindowSorting : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<TMainForm> m_form;
    QString m_ranks; ///< the rows' letters in rank order

    TStringGridEx* grid() const { return m_form->results().sgexResults(); }
    // The last letters of the names, top down ("cbad"), or of the marked rows.
    QString letters(bool markedOnly = false) const {
        QString text;
        for (int r = 1; r < grid()->RowCount(); ++r)
            if (!markedOnly || grid()->IsRowMarked(r)) text += grid()->Cells(0, r).right(1);
        return text;
    }
    // "5 up", "2 down" or "none", and the Sort By items checked.
    QString shownOrder() const {
        const QHeaderView* header = grid()->horizontalHeader();
        QString text =
            header->isSortIndicatorShown()
                ? QString("%1 %2").arg(header->sortIndicatorSection()).arg(header->sortIndicatorOrder() ? "down" : "up")
                : "none";
        for (QAction* action : m_form->results().sortMenu()->actions())
            if (action->isChecked()) text += "," + action->text().remove('&');
        return text;
    }
    void choose(const QString& item) {
        for (QAction* action : m_form->results().sortMenu()->actions())
            if (action->text().remove('&') == item) action->trigger();
    }

private slots:
    void initTestCase() {
        // As texts "19 KB" comes before "9000", and the dates are not in
        // the order of the sizes.
        const std::tuple<const char*, int, QDate> files[] = {{"TOKASearch_a", 20000, QDate(2021, 3, 1)},
                                                             {"TOKASearch_b", 9000, QDate(2023, 3, 1)},
                                                             {"TOKASearch_c", 100, QDate(2022, 3, 1)}};
        for (const auto& [name, size, day] : files) {
            QFile file(m_dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(size, 'x')) == size && file.flush());
            QVERIFY(file.setFileTime(QDateTime(day, QTime(12, 0)), QFileDevice::FileModificationTime));
        }
        mkdirp(m_dir.filePath("TOKASearch_d"));
    }
    void init() {
        TMainForm& form = shownMainForm(m_form);
        showFolders(form, {m_dir.path()});
        searchAndWait(form);
        m_ranks = letters();
        QCOMPARE(shownOrder(), QString("none,Rank"));
        QVERIFY(!form.results().sortDescendingCommand()->isEnabled()
                && !form.results().sortByHeaderClickCommand()->isChecked());
    }
    void cleanup() { m_form.reset(); }

    // Each row: the steps (a Sort By item; "h5" a click on header 5, "^h5"
    // with Ctrl; "option": Sort by Clicking Column Headers on), then the
    // rows' letters ("ranks": as the search gave them), then what the header
    // and the Sort By items show.
    void order_data() {
        QTest::addColumn<QString>("row");
        const char* const rows[][2] = {
            {"size: bytes; the directory last", "Size | cbad | 5 up,Size"},
            {"size falling", "Size Descending | abcd | 5 down,Size,Descending"},
            {"descending first does nothing", "Descending Size | cbad | 5 up,Size"},
            {"falling stays for the next column", "Size Descending Time | bcad | 3 down,Time,Descending"},
            {"back to rank", "Size Descending Rank | ranks | none,Rank"},
            {"header click, option off", "h5 | ranks | none,Rank"},
            {"first click rising", "option h5 | cbad | 5 up,Size"},
            {"second falling", "option h5 h5 | abcd | 5 down,Size,Descending"},
            {"third back to rank", "option h5 h5 h5 | ranks | none,Rank"},
            {"another column rising", "option h5 h5 h2 | acbd | 2 up,Date"},
            {"ctrl-click does not sort", "option ^h5 | ranks | none,Rank"},
        };
        for (const auto& [name, row] : rows) QTest::newRow(name) << QString(row);
    }

    void order() {
        QFETCH(QString, row);
        const QStringList parts = row.split(" | ");
        const QString order = parts[1] == "ranks" ? m_ranks : parts[1];
        QHeaderView* header = grid()->horizontalHeader();
        for (const QString& step : parts[0].split(' ')) {
            if (step == "option") {
                m_form->results().sortByHeaderClickCommand()->trigger();
            } else if (step.contains('h')) {
                clickRow(grid(), 1);
                clickRow(grid(), 3, Qt::ControlModifier);
                const int col = step.back().digitValue();
                grid()->scrollTo(grid()->model()->index(0, col));
                const QPoint pos(header->sectionViewportPosition(col) + header->sectionSize(col) / 2,
                                 header->height() / 2);
                const bool ctrl = step.startsWith('^');
                QTest::mouseClick(header->viewport(), Qt::LeftButton, ctrl ? Qt::ControlModifier : Qt::NoModifier, pos);
                if (!ctrl) QCOMPARE(letters(true), QString()); // a click on the header clears the marks
            } else {
                choose(step);
            }
        }
        QCOMPARE(letters(), order);
        QCOMPARE(shownOrder(), parts[2]);
        m_form->TimerTimer(); // the order holds through the refreshes
        QVERIFY(waitForResultRows(*m_form));
        QCOMPARE(letters(), order);
        searchAndWait(*m_form); // and a new search shows the ranks'
        QCOMPARE(letters() + shownOrder(), m_ranks + "none,Rank");
    }

    // Marked rows stay marked where the new order puts them; the last column
    // reaches the table's edge.
    void marksGoWithTheirRows() {
        clickRow(grid(), letters().indexOf('a') + 1);
        clickRow(grid(), letters().indexOf('c') + 1, Qt::ControlModifier);
        choose("Size");
        QCOMPARE(letters() + " " + letters(true), QString("cbad ca"));
        choose("Descending");
        QCOMPARE(letters() + " " + letters(true), QString("abcd ac"));
        for (const std::string& path : m_form->results().markedPaths())
            QVERIFY(path.ends_with("_a") || path.ends_with("_c"));
        m_form->resize(1400, m_form->height());
        QTRY_COMPARE(grid()->columnViewportPosition(6) + grid()->columnWidth(6), grid()->viewport()->width());
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestWindowSorting)
#include "test_window_sorting.moc"
