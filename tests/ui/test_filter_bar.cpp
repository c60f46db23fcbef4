// The filter bar: what each control makes of the walk's filter, Reset, the
// View menu item, the "Filtered" mark, the access keys, the hints, and a
// search that shows only the entries that pass.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <functional>

#include "ui/widgets/filter_bar.h"
#include "ui/widgets/strgrdex.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

// Noon in local time: "today" began 12.5 hours before.
const QDateTime kNow(QDate(2026, 3, 15), QTime(12, 30));

std::int64_t localSeconds(QDate day, QTime time = QTime(0, 0)) { return QDateTime(day, time).toSecsSinceEpoch(); }

void typeInto(QWidget* widget, const QString& text) {
    widget->setFocus();
    QTest::keyClick(widget, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(widget, text);
}

// Moves a combo box by steps items (up when negative) with the arrow keys.
void stepCombo(QComboBox* combo, int steps) {
    combo->setFocus();
    for (int i = 0; i < std::abs(steps); ++i) QTest::keyClick(combo, steps > 0 ? Qt::Key_Down : Qt::Key_Up);
}

QString described(const WalkFilter& filter) {
    QStringList lines;
    for (const std::string& line : filter.describe()) lines << QString::fromStdString(line);
    return lines.join(" / ");
}

} // namespace

class TestFilterBar : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<TMainForm> m_form;
    QTemporaryDir m_dir;

    TMainForm& formWithFilters() {
        TMainForm& form = shownMainForm(m_form);
        form.activateWindow();
        form.ShowFilters1Click();
        return form;
    }

private slots:
    void cleanup() { m_form.reset(); }

    void eachControl_setsItsField() {
        struct Case {
            const char* name;
            std::function<void(FilterBar&)> act;
            std::function<void(WalkFilter&)> expect; // on the default filter
        };
        const QDate today = kNow.date();
        const Case cases[] = {
            // A trailing "/" means the directory; blanks and ";" both separate.
            {"exclude", [](FilterBar& bar) { typeInto(bar.excludeEdit, ".git node_modules;*.tmp  build/"); },
             [](WalkFilter& f) {
                 f.exclude = {".git", "node_modules", "*.tmp", "build"};
             }},
            {"exclude a path", [](FilterBar& bar) { typeInto(bar.excludeEdit, "/home/*/cache"); },
             [](WalkFilter& f) { f.exclude = {"/home/*/cache"}; }},
            // The dot and "*." users type are dropped; case stays for the walk to fold.
            {"extensions", [](FilterBar& bar) { typeInto(bar.extensionsEdit, "pdf, .ODT *.docx"); },
             [](WalkFilter& f) {
                 f.extensions = {"pdf", "ODT", "docx"};
             }},
            {"hidden", [](FilterBar& bar) { QTest::mouseClick(bar.hiddenCheck, Qt::LeftButton); },
             [](WalkFilter& f) { f.skipHidden = true; }},
            {"kind files", [](FilterBar& bar) { stepCombo(bar.kindCombo, 1); },
             [](WalkFilter& f) { f.kinds = kKindFile; }},
            {"kind directories", [](FilterBar& bar) { stepCombo(bar.kindCombo, 2); },
             [](WalkFilter& f) { f.kinds = kKindDirectory; }},
            {"kind links", [](FilterBar& bar) { stepCombo(bar.kindCombo, 3); },
             [](WalkFilter& f) { f.kinds = kKindSymlink; }},
            {"kind special", [](FilterBar& bar) { stepCombo(bar.kindCombo, 4); },
             [](WalkFilter& f) { f.kinds = kKindSpecial; }},
            {"at least 5 KB",
             [](FilterBar& bar) {
                 typeInto(bar.minSizeSpin, "5");
                 stepCombo(bar.minUnitCombo, -1); // MB is the default unit
             },
             [](WalkFilter& f) { f.minSize = 5 * 1024; }},
            {"at most 3 GB",
             [](FilterBar& bar) {
                 typeInto(bar.maxSizeSpin, "3");
                 stepCombo(bar.maxUnitCombo, 1);
             },
             [](WalkFilter& f) { f.maxSize = 3ull << 30; }},
            {"at most 700 bytes",
             [](FilterBar& bar) {
                 typeInto(bar.maxSizeSpin, "700");
                 stepCombo(bar.maxUnitCombo, -2);
             },
             [](WalkFilter& f) { f.maxSize = 700; }},
            // A unit without a number sets no bound.
            {"unit alone", [](FilterBar& bar) { stepCombo(bar.minUnitCombo, 1); }, [](WalkFilter&) {}},
            {"today", [](FilterBar& bar) { stepCombo(bar.modifiedCombo, 1); },
             [&](WalkFilter& f) { f.modifiedFrom = localSeconds(today); }},
            {"last 7 days", [](FilterBar& bar) { stepCombo(bar.modifiedCombo, 2); },
             [&](WalkFilter& f) { f.modifiedFrom = localSeconds(QDate(2026, 3, 8), QTime(12, 30)); }},
            {"last 365 days", [](FilterBar& bar) { stepCombo(bar.modifiedCombo, 4); },
             [&](WalkFilter& f) { f.modifiedFrom = localSeconds(QDate(2025, 3, 15), QTime(12, 30)); }},
            // From the start of the earlier day to the end of the later one.
            {"between, days reversed",
             [](FilterBar& bar) {
                 stepCombo(bar.modifiedCombo, 5);
                 bar.fromDate->setDate(QDate(2026, 3, 10));
                 bar.untilDate->setDate(QDate(2026, 3, 1));
             },
             [](WalkFilter& f) {
                 f.modifiedFrom = localSeconds(QDate(2026, 3, 1));
                 f.modifiedUntil = localSeconds(QDate(2026, 3, 11));
             }},
            {"one file system", [](FilterBar& bar) { QTest::mouseClick(bar.oneFileSystemCheck, Qt::LeftButton); },
             [](WalkFilter& f) { f.oneFileSystem = true; }},
        };
        for (const Case& c : cases) {
            FilterBar bar;
            bar.show();
            QVERIFY(QTest::qWaitForWindowExposed(&bar));
            bar.activateWindow();
            QCOMPARE(bar.filter(kNow), WalkFilter{});
            QSignalSpy changed(&bar, &FilterBar::changed);
            c.act(bar);
            WalkFilter expected;
            c.expect(expected);
            const WalkFilter actual = bar.filter(kNow);
            QVERIFY2(actual == expected, qPrintable(QString(c.name) + ": " + described(actual)));
            QVERIFY2(changed.count() >= 1, c.name);
            // The days are shown exactly for "between dates".
            const bool between = bar.modifiedCombo->currentIndex() == int(ModifiedChoice::Between);
            QCOMPARE(bar.fromDate->isVisible(), between);
            QCOMPARE(bar.untilDate->isVisible(), between);
        }
    }

    void reset_clearsEverything() {
        FilterBar bar;
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        const FilterChoices everything{".git",
                                       true,
                                       KindChoice::Files,
                                       "pdf",
                                       {1, SizeUnit::KB},
                                       {9, SizeUnit::GB},
                                       ModifiedChoice::Between,
                                       QDate(2025, 1, 1),
                                       QDate(2025, 2, 1),
                                       true};
        bar.setFilter(everything);
        QCOMPARE(bar.choices(), everything);
        QSignalSpy changed(&bar, &FilterBar::changed);
        QTest::mouseClick(bar.resetButton, Qt::LeftButton);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(bar.filter(kNow), WalkFilter{});
        FilterChoices cleared;
        cleared.from = everything.from; // the days stay for the next "between"
        cleared.until = everything.until;
        QCOMPARE(bar.choices(), cleared);
        QVERIFY(!bar.fromDate->isVisible());
    }

    // The mark tells what filter the rows on view passed and whether the bar
    // has changed since; Enter in any field of the bar searches with it.
    void mark_followsTheRowsAndEnterApplies() {
        TMainForm& form = formWithFilters();
        form.FillDrives({volumeAt(m_dir.path().toStdString())});
        form.Explorer()->setCurrentItem(form.Explorer()->topLevelItem(0));
        QVERIFY(!form.StatusPanel()->lFiltered()->isVisible());
        const auto enterIn = [&](QWidget* field) {
            field->setFocus();
            QTest::keyClick(field, Qt::Key_Return);
            QVERIFY(form.isSearching());
            QTRY_VERIFY_WITH_TIMEOUT(!form.isSearching(), 30000);
            QCOMPARE(form.currentFilter(), form.pFilters()->filter(kNow));
        };
        typeInto(form.pFilters()->extensionsEdit, "pdf");
        QCOMPARE(form.StatusPanel()->lFiltered()->text(), QString("Not filtered (changed, press Enter to apply)"));
        QVERIFY(form.StatusPanel()->lFiltered()->toolTip().endsWith(
            "press Enter to apply it:\n" + QString::fromStdString(form.pFilters()->filter(kNow).describe().at(0))));
        QVERIFY(form.StatusPanel()->lFiltered()->geometry().right() <= form.StatusPanel()->Label2()->geometry().left());
        enterIn(form.pFilters()->extensionsEdit);
        QCOMPARE(form.StatusPanel()->lFiltered()->text(), QString("Filtered"));
        QCOMPARE(form.StatusPanel()->lFiltered()->toolTip().split('\n').size(), 2);
        QTest::mouseClick(form.pFilters()->hiddenCheck, Qt::LeftButton);
        QCOMPARE(form.StatusPanel()->lFiltered()->text(), QString("Filtered (changed, press Enter to apply)"));
        enterIn(form.pFilters()->minSizeSpin);
        QCOMPARE(form.StatusPanel()->lFiltered()->toolTip().split('\n').size(), 3);
        // Still there with the bar hidden: the rows on view are filtered all the same.
        form.ShowFilters1Click();
        QVERIFY(form.StatusPanel()->lFiltered()->isVisible());
        form.ShowFilters1Click();
        QTest::mouseClick(form.pFilters()->resetButton, Qt::LeftButton);
        QVERIFY(form.StatusPanel()->lFiltered()->text().endsWith("(changed, press Enter to apply)"));
        enterIn(form.pFilters()->kindCombo);
        QVERIFY(!form.StatusPanel()->lFiltered()->isVisible());
    }

    void accessKeys_data() {
        QTest::addColumn<char>("key");
        QTest::addColumn<QString>("control"); // object path inside the bar, by member name
        for (const auto& [key, control] : std::initializer_list<std::pair<char, const char*>>{
                 {'X', "exclude"},
                 {'T', "extensions"},
                 {'K', "kind"},
                 {'L', "minSize"},
                 {'O', "maxSize"},
                 {'D', "modified"},
                 {'M', "from"},
                 {'U', "until"},
                 {'H', "hidden"},
                 {'N', "oneFileSystem"},
                 {'R', "reset"},
             })
            QTest::newRow(control) << key << QString(control);
    }

    void accessKeys() {
        QFETCH(char, key);
        QFETCH(QString, control);
        TMainForm& form = formWithFilters();
        FilterBar* bar = form.pFilters();
        const QMap<QString, QWidget*> controls = {
            {"exclude", bar->excludeEdit}, {"extensions", bar->extensionsEdit},
            {"kind", bar->kindCombo},      {"minSize", bar->minSizeSpin},
            {"maxSize", bar->maxSizeSpin}, {"modified", bar->modifiedCombo},
            {"from", bar->fromDate},       {"until", bar->untilDate},
            {"hidden", bar->hiddenCheck},  {"oneFileSystem", bar->oneFileSystemCheck},
            {"reset", bar->resetButton},
        };
        bar->modifiedCombo->setCurrentIndex(int(ModifiedChoice::Between)); // shows the days
        form.Explorer()->setFocus();
        const Qt::Key letter = Qt::Key(Qt::Key_A + (key - 'A'));
        QTest::keyClick(&form, letter, Qt::AltModifier);
        // A button's key presses it; any other control gets the focus.
        if (control == "hidden") QTRY_VERIFY(bar->choices().skipHidden);
        else if (control == "oneFileSystem") QTRY_VERIFY(bar->choices().oneFileSystem);
        else if (control == "reset") QTRY_COMPARE(bar->choices().modified, ModifiedChoice::AnyTime);
        else QTRY_VERIFY2(controls[control]->hasFocus(), qPrintable(QApplication::focusWidget()->objectName()));
        QVERIFY(!QApplication::activePopupWidget()); // no menu opened instead

        // With the bar hidden the key reaches none of its controls.
        form.ShowFilters1Click();
        form.Explorer()->setFocus();
        QTest::keyClick(&form, letter, Qt::AltModifier);
        QVERIFY(form.Explorer()->hasFocus());
    }

    void tabOrder_runsThroughTheBar() {
        TMainForm& form = formWithFilters();
        form.seNumberofItems()->setFocus();
        QList<QWidget*> expected = form.pFilters()->controls();
        expected.removeAll(form.pFilters()->fromDate); // hidden but for "between dates"
        expected.removeAll(form.pFilters()->untilDate);
        expected << form.Explorer(); // the viewer is hidden
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QVERIFY2(next->hasFocus(), qPrintable(QApplication::focusWidget()->metaObject()->className()));
        }
    }

    void hints_followTheSwitch() {
        TMainForm& form = formWithFilters();
        typeInto(form.pFilters()->extensionsEdit, "pdf"); // the mark shows
        QList<QWidget*> controls = form.pFilters()->controls();
        controls.removeAll(form.pFilters()->fromDate);
        controls.removeAll(form.pFilters()->untilDate);
        controls << form.StatusPanel()->lFiltered();
        for (bool on : {true, false}) {
            if (!on) form.ShowFlybyHints1Click();
            for (QWidget* control : controls) {
                QVERIFY2(!control->toolTip().isEmpty(), control->metaObject()->className());
                QVERIFY2(tipShownFor(control) == on, control->metaObject()->className());
            }
        }
    }

    void search_showsOnlyThePassingRows() {
        const QString root = m_dir.path();
        for (const char* file : {"report.pdf", "report.txt", "skip/report.pdf", "deep/er/report.PDF", "reports/x"}) {
            mkdirp(QFileInfo(root + "/" + file).path());
            touch(root + "/" + file);
        }
        TMainForm& form = formWithFilters();
        showFolders(form, {root});
        form.search().eSearch()->setText("report");
        const auto rows = [&] {
            QStringList paths;
            for (int row = 1; row < form.results().sgexResults()->RowCount(); ++row)
                if (form.results().sgexResults()->Cells(6, row) == "100") // names with "report" in them
                    paths << QString::fromStdString(form.results().resultPath(row)).mid(root.size());
            paths.sort();
            return paths;
        };
        searchAndWait(form);
        QCOMPARE(rows(),
                 QStringList({"/deep/er/report.PDF", "/report.pdf", "/report.txt", "/reports", "/skip/report.pdf"}));

        typeInto(form.pFilters()->extensionsEdit, "pdf");
        typeInto(form.pFilters()->excludeEdit, "skip");
        const WalkFilter filter = form.pFilters()->filter(QDateTime::currentDateTime());
        QTest::mouseClick(form.search().sbSearchDir(), Qt::LeftButton);
        // The bar stays usable during a search; the running one keeps its filter.
        QVERIFY(form.isSearching());
        QVERIFY(form.pFilters()->extensionsEdit->isEnabled());
        typeInto(form.pFilters()->extensionsEdit, "txt");
        QCOMPARE(form.currentFilter(), filter);
        QVERIFY(form.StatusPanel()->lFiltered()->toolTip().contains("pdf"));
        QTRY_VERIFY_WITH_TIMEOUT(!form.isSearching(), 30000);
        QCOMPARE(rows(), QStringList({"/deep/er/report.PDF", "/report.pdf"}));
        searchAndWait(form);
        QCOMPARE(rows(), QStringList({"/report.txt"}));
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestFilterBar)
#include "test_filter_bar.moc"
