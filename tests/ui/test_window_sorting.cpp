// The table's order in the window: View > Sort By, the header's indicator,
// a click on a column header when View > Sort by Clicking Column Headers is
// on, the order kept through the refreshes and given up by a new search,
// and the marks going with their rows.  The window has searched a temporary
// folder with three files of different sizes and dates and one directory.
#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include "ui/mainform.h"
#include "ui/result_model.h"
#include "ui/strgrdex.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

// name, size, last change; the directory has neither.
struct SampleFile {
    const char* name;
    int size;
    QDate changed;
};
const SampleFile kFiles[] = {
    {"TOKASearch_a", 20000, QDate(2021, 3, 1)}, // "19 KB": before "9000" as a text
    {"TOKASearch_b", 9000, QDate(2023, 3, 1)},
    {"TOKASearch_c", 100, QDate(2022, 3, 1)},
};
const char* const kDirectory = "TOKASearch_d";

} // namespace

class TestWindowSorting : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<TMainForm> m_form;
    QString m_ranks; ///< the letters of the rows in rank order

    TStringGridEx* grid() const { return m_form->sgexResults; }

    // The last letters of the names, top down: "cbad".
    QString letters() const {
        QString text;
        for (int r = 1; r < grid()->RowCount(); ++r) text += grid()->Cells(0, r).right(1);
        return text;
    }
    QString markedLetters() const {
        QString text;
        for (int r = 1; r < grid()->RowCount(); ++r)
            if (grid()->IsRowMarked(r)) text += grid()->Cells(0, r).right(1);
        return text;
    }
    int rowOf(QChar letter) const { return letters().indexOf(letter) + 1; }
    void clickRow(int row, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, modifiers,
                          grid()->visualRect(grid()->model()->index(row - 1, 0)).center());
    }
    void clickHeader(int column, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {}) {
        QHeaderView* header = grid()->horizontalHeader();
        grid()->scrollTo(grid()->model()->index(0, column));
        const QPoint pos(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                         header->height() / 2);
        QTest::mouseClick(header->viewport(), button, modifiers, pos);
    }
    // The header's indicator: "5 up", "2 down", or "none".
    QString indicator() const {
        const QHeaderView* header = grid()->horizontalHeader();
        if (!header->isSortIndicatorShown() || header->sortIndicatorSection() < 0) return "none";
        return QString("%1 %2")
            .arg(header->sortIndicatorSection())
            .arg(header->sortIndicatorOrder() == Qt::AscendingOrder ? "up" : "down");
    }
    // The Sort By items checked, by their text without "&".
    QString checkedItems() const {
        QStringList texts;
        for (QAction* action : m_form->SortBy1->actions())
            if (action->isChecked()) texts << action->text().remove('&');
        return texts.join(',');
    }
    QAction* itemNamed(const QString& text) const {
        for (QAction* action : m_form->SortBy1->actions())
            if (action->text().remove('&') == text) return action;
        return nullptr;
    }
    void search() {
        QTest::mouseClick(m_form->sbSearchDir, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!m_form->isSearching(), 30000);
        QVERIFY(waitForResultRows(*m_form));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        for (const SampleFile& sample : kFiles) {
            QFile file(m_dir.filePath(sample.name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(QByteArray(sample.size, 'x')), qint64(sample.size));
            QVERIFY(file.flush()); // a write at closing would change the time again
            QVERIFY(file.setFileTime(QDateTime(sample.changed, QTime(12, 0)), QFileDevice::FileModificationTime));
        }
        mkdirp(m_dir.filePath(kDirectory));
    }

    // A window that searched the folder, no row marked.
    void init() {
        TMainForm& form = shownMainForm(m_form);
        form.FillDrives({volumeAt(m_dir.path().toStdString())});
        form.Explorer->setCurrentItem(form.Explorer->topLevelItem(0));
        form.resize(1200, form.height()); // every column in view
        search();
        QCOMPARE(grid()->RowCount(), 5);
        m_ranks = letters();
        QString sorted = m_ranks;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(sorted, QString("abcd"));
        grid()->ClearMarks();
    }
    void cleanup() { m_form.reset(); }

    void theDesignedStart() {
        QCOMPARE(checkedItems(), QString("Rank"));
        QVERIFY(!m_form->SortDescending1->isEnabled());
        QVERIFY(!m_form->SortByHeaderClick1->isChecked());
        QCOMPARE(indicator(), QString("none"));
        QStringList items;
        for (QAction* action : m_form->SortBy1->actions())
            if (!action->isSeparator()) items << action->text().remove('&');
        QCOMPARE(items,
                 (QStringList{"Rank", "File", "Location", "Date", "Time", "Attribs", "Size", "Measure", "Descending"}));
    }

    void sortByMenu_data() {
        QTest::addColumn<QStringList>("items"); // Sort By items triggered, in turn
        QTest::addColumn<QString>("order");     // the rows' letters; "ranks": as the search gave them
        QTest::addColumn<QString>("indicator");
        QTest::addColumn<QString>("checked");
        QTest::newRow("size: bytes, not texts; the directory last") << QStringList{"Size"} << "cbad"
                                                                    << "5 up"
                                                                    << "Size";
        QTest::newRow("size falling") << QStringList{"Size", "Descending"} << "abcd"
                                      << "5 down"
                                      << "Size,Descending";
        // Under Rank, Descending cannot be chosen.
        QTest::newRow("descending first does nothing") << QStringList{"Descending", "Size"} << "cbad"
                                                       << "5 up"
                                                       << "Size";
        QTest::newRow("date: times, not texts") << QStringList{"Date"} << "acbd"
                                                << "2 up"
                                                << "Date";
        QTest::newRow("falling stays for the next column") << QStringList{"Size", "Descending", "Date"} << "bcad"
                                                           << "2 down"
                                                           << "Date,Descending";
        QTest::newRow("time as date") << QStringList{"Time"} << "acbd"
                                      << "3 up"
                                      << "Time";
        QTest::newRow("file falling") << QStringList{"File", "Descending"} << "dcba"
                                      << "0 down"
                                      << "File,Descending";
        QTest::newRow("back to rank") << QStringList{"Size", "Descending", "Rank"} << "ranks"
                                      << "none"
                                      << "Rank";
    }

    void sortByMenu() {
        QFETCH(QStringList, items);
        QFETCH(QString, order);
        QFETCH(QString, indicator);
        QFETCH(QString, checked);
        if (order == "ranks") order = m_ranks;
        for (const QString& item : items) {
            QAction* action = itemNamed(item);
            QVERIFY2(action, qPrintable(item));
            action->trigger();
        }
        QCOMPARE(letters(), order);
        QCOMPARE(this->indicator(), indicator);
        QCOMPARE(checkedItems(), checked);
        // The order holds through the refreshes.
        m_form->TimerTimer();
        QVERIFY(waitForResultRows(*m_form));
        QCOMPARE(letters(), order);
        // A new search shows the ranks' order.
        search();
        QCOMPARE(letters(), m_ranks);
        QCOMPARE(this->indicator(), QString("none"));
        QCOMPARE(checkedItems(), QString("Rank"));
    }

    void sortByKeys() {
        QTest::keyClick(m_form.get(), Qt::Key_V, Qt::AltModifier);
        QTRY_VERIFY(m_form->Options1->isVisible());
        QTest::keyClick(m_form->Options1, Qt::Key_S);
        QTRY_VERIFY(m_form->SortBy1->isVisible());
        QTest::keyClick(m_form->SortBy1, Qt::Key_Z);
        QTRY_COMPARE(letters(), QString("cbad"));
    }

    void headerClicks_data() {
        QTest::addColumn<bool>("option");
        QTest::addColumn<QString>("clicks"); // column[:right|:ctrl] per click
        QTest::addColumn<QString>("order");
        QTest::addColumn<QString>("indicator");
        QTest::newRow("option off: no order") << false << "5"
                                              << "ranks"
                                              << "none";
        QTest::newRow("first click rising") << true << "5"
                                            << "cbad"
                                            << "5 up";
        QTest::newRow("second click falling") << true << "5 5"
                                              << "abcd"
                                              << "5 down";
        QTest::newRow("third click back to rank") << true << "5 5 5"
                                                  << "ranks"
                                                  << "none";
        QTest::newRow("another column starts rising") << true << "5 5 2"
                                                      << "acbd"
                                                      << "2 up";
        QTest::newRow("right button does not sort") << true << "5:right"
                                                    << "ranks"
                                                    << "none";
        QTest::newRow("ctrl-click does not sort") << true << "5:ctrl"
                                                  << "ranks"
                                                  << "none";
    }

    void headerClicks() {
        QFETCH(bool, option);
        QFETCH(QString, clicks);
        QFETCH(QString, order);
        QFETCH(QString, indicator);
        if (order == "ranks") order = m_ranks;
        if (option) m_form->SortByHeaderClick1->trigger();
        QCOMPARE(m_form->SortByHeaderClick, option);
        for (const QString& click : clicks.split(' ')) {
            clickRow(1);
            clickRow(3, Qt::ControlModifier);
            const QString how = click.section(':', 1);
            clickHeader(click.section(':', 0, 0).toInt(), how == "right" ? Qt::RightButton : Qt::LeftButton,
                        how == "ctrl" ? Qt::ControlModifier : Qt::NoModifier);
            // A plain click on the header clears the marks, as it always did.
            if (how != "ctrl") QCOMPARE(markedLetters(), QString());
        }
        QCOMPARE(letters(), order);
        QCOMPARE(this->indicator(), indicator);
        QCOMPARE(m_form->SortByColumn1[ResultModel::SizeColumn]->isChecked(), indicator.startsWith("5 "));
    }

    // Marked rows stay marked where the new order puts them.
    void marksGoWithTheirRows() {
        clickRow(rowOf('a'));
        clickRow(rowOf('c'), Qt::ControlModifier);
        QCOMPARE(markedLetters().size(), 2);
        itemNamed("Size")->trigger();
        QCOMPARE(letters(), QString("cbad"));
        QCOMPARE(markedLetters(), QString("ca"));
        itemNamed("Descending")->trigger();
        QCOMPARE(markedLetters(), QString("ac"));
        itemNamed("Rank")->trigger();
        QCOMPARE(markedLetters().size(), 2);
        QVERIFY(grid()->IsRowMarked(rowOf('a')) && grid()->IsRowMarked(rowOf('c')));
        // The paths a file operation takes are the marked rows' own.
        const std::vector<std::string> paths = m_form->markedPaths();
        QCOMPARE(paths.size(), std::size_t(2));
        for (const std::string& path : paths) QVERIFY(path.ends_with("_a") || path.ends_with("_c"));
    }

    // The last column takes the width the others leave, as the window grows.
    void lastColumnStretches() {
        for (int width : {1200, 1500}) {
            m_form->resize(width, m_form->height());
            QTRY_COMPARE(grid()->columnViewportPosition(6) + grid()->columnWidth(6), grid()->viewport()->width());
        }
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestWindowSorting)
#include "test_window_sorting.moc"
