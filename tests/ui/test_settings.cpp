// The remembered choices: the first start, a restart, damaged files, and the
// command line over what is remembered.  Each test has an XDG_CONFIG_HOME
// of its own.
#include <QCompleter>
#include <QLineEdit>
#include <QSpinBox>
#include <QSplitter>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <mutex>
#include <QToolButton>
#include <QTreeWidget>

#include "search/parallel_walk.h"
#include "ui/widgets/explorer_tree.h"
#include "ui/widgets/filter_bar.h"
#include "ui/widgets/path_label.h"
#include "ui/logic/remembered_settings.h"
#include "ui/widgets/strgrdex.h"
#include "ui_test_support.h"
#include "viewer/picture_formats.h"

namespace toka::test {

namespace {

QString joined(const QList<int>& numbers) {
    QStringList texts;
    for (int n : numbers) texts << QString::number(n);
    return texts.join(',');
}

// The filter bar's choices as one text; the days only where they count.
QString filtersOf(const FilterChoices& f) {
    const auto size = [](const SizeBound& b) { return QString("%1x%2").arg(b.value).arg(int(b.unit)); };
    QString text = QString("%1|%2|%3|%4|%5|%6|%7|%8")
                       .arg(f.exclude, f.extensions, QString::number(f.skipHidden), QString::number(int(f.kind)),
                            size(f.minSize), size(f.maxSize), QString::number(int(f.modified)))
                       .arg(f.oneFileSystem);
    if (f.modified == ModifiedChoice::Between)
        text += "|" + f.from.toString(Qt::ISODate) + "-" + f.until.toString(Qt::ISODate);
    return text;
}

// Everything the window remembers, by name.
QMap<QString, QString> stateOf(TMainForm& form) {
    QList<int> columns;
    for (int c = 0; c < form.results().sgexResults()->columnCount(); ++c)
        columns << form.results().sgexResults()->columnWidth(c);
    const QRect g = form.normalGeometry();
    const auto* recent = qobject_cast<QStringListModel*>(form.search().eSearch()->completer()->model());
    return {
        {"recurse", QString::number(form.settings().RecurseDirs())},
        {"fuzzy", QString::number(form.settings().FuzzySearch())},
        {"warn", QString::number(form.settings().WarnResultChanged())},
        {"toolbar", QString::number(form.Toolbar1()->isVisible())},
        {"hints", QString::number(form.settings().ShowHints())},
        {"viewer", QString::number(form.viewer().pFileViewer()->isVisible())},
        {"items", QString::number(form.seNumberofItems()->value())},
        {"columns", joined(columns)},
        {"tree", joined(form.Splitter1()->splitter()->sizes())},
        {"viewerSizes", joined(form.Splitter2()->splitter()->sizes())},
        {"geometry", joined({g.x(), g.y(), g.width(), g.height()})},
        {"dir", QString::fromStdString(form.selectedDirectory())},
        {"recent", recent ? recent->stringList().join('|') : "no completer"},
        {"filterBar", QString::number(form.pFilters()->isVisible())},
        {"filters", filtersOf(form.pFilters()->choices())},
        {"mark", QString::number(form.StatusPanel()->lFiltered()->isVisible())},
        {"headerSort", QString("%1%2")
                           .arg(form.settings().SortByHeaderClick())
                           .arg(form.results().sortByHeaderClickCommand()->isChecked())},
        {"pictures", QString("%1%2")
                         .arg(form.settings().AllPictureFormats())
                         .arg(form.settings().AllPictureFormats1()->isChecked())},
        {"deleteKey",
         QString("%1%2").arg(form.settings().DeleteKeyMovesToTrash()).arg(form.MoveToTrash1()->shortcut().toString())},
        {"records", QString("%1%2%3")
                        .arg(form.settings().RecordWalks1()->isChecked())
                        .arg(form.settings().SearchAsYouType1()->isChecked())
                        .arg(form.settings().SearchAsYouType1()->isEnabled())},
    };
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<QTemporaryDir> m_config;
    QTemporaryDir m_dir;
    std::unique_ptr<TMainForm> m_form;

    QString ini() const { return m_config->path() + "/tokasearch/tokasearch.ini"; }
    std::string tree(const char* sub) const { return (m_dir.path() + sub).toStdString(); }

    // The window as the program starts it: remembered choices, then these.
    TMainForm& started(const StartOptions& options = {}) {
        return shownMainForm(m_form, [&](TMainForm& form) {
            form.settings().setFile(settingsFilePath());
            form.settings().setStartOptions(options);
        });
    }

    void writeIni(const QByteArray& text) {
        QVERIFY(QDir().mkpath(m_config->path() + "/tokasearch"));
        QFile file(ini());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

private slots:
    void initTestCase() {
        mkdirp(m_dir.path() + "/a/b");
        mkdirp(m_dir.path() + "/c/.hidden");
        touch(m_dir.path() + "/c/.hidden/needle.txt");
    }
    void init() {
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
        QCOMPARE(settingsFilePath(), ini());
    }
    void cleanup() {
        m_form.reset();
        setViewerPictureFormats(PictureFormats::Designed);
    }

    void firstStartAndDamagedFiles_data() {
        QTest::addColumn<QByteArray>("file"); // null: none
        QTest::addColumn<QString>("changed"); // what differs from the design's start
        const QByteArray toolbarOff = "\n[options]\nshowToolbar=false\n";
        QTest::newRow("no file") << QByteArray() << "";
        QTest::newRow("one good value") << toolbarOff << "toolbar=0";
        QTest::newRow("damaged: cut off in a section name") << toolbarOff + "[sea"
                                                            << "";
        QTest::newRow("items out of range") << "[search]\nnumberOfItems=110" + toolbarOff << "toolbar=0";
        QTest::newRow("items no number") << "[search]\nnumberOfItems=thirty" + toolbarOff << "toolbar=0";
        QTest::newRow("items in range") << "[search]\nnumberOfItems=70" + toolbarOff << "toolbar=0 items=70";
        QTest::newRow("option no boolean") << "[options]\nshowViewer=maybe" + toolbarOff << "toolbar=0";
        QTest::newRow("splitter size 0") << "[window]\ntreeSplitter=0, 500" + toolbarOff << "toolbar=0";
        QTest::newRow("six column widths") << "[window]\nresultColumns=9,9,9,9,9,9" + toolbarOff << "toolbar=0";
        // Sizes measured in another font or scale leave the designed ones.
        QTest::newRow("sizes of another font")
            << "[window]\nresultColumns=300,300,300,300,300,300,300\ntreeSplitter=5, 900\n"
               "layoutKey=Other 30pt 300dpi x3"
                   + toolbarOff
            << "toolbar=0";
        QTest::newRow("geometry garbage") << "[window]\ngeometry=@ByteArray(garbage)" + toolbarOff << "toolbar=0";
        QTest::newRow("geometry no bytes") << "[window]\ngeometry=0,0,10,10" + toolbarOff << "toolbar=0";
        QTest::newRow("relative directory") << "[search]\nlastDirectory=tmp" + toolbarOff << "toolbar=0";
        QTest::newRow("directory gone") << "[search]\nlastDirectory=/gone/for/good" + toolbarOff << "toolbar=0";
        // An over-long text goes on its own; a repeated one counts once.
        QTest::newRow("recent texts") << "[search]\nrecentTexts=a, b, a, " + QByteArray(256, 'x') + toolbarOff
                                      << "toolbar=0 recent=a|b";
        QTest::newRow("filter bar shown") << QByteArray("[options]\nshowFilters=true\n") << "filterBar=1";
        // Both off at first: turned on, they are remembered.
        QTest::newRow("records on") << QByteArray("[options]\nrecordWalks=true\n") << "records=101";
        QTest::newRow("records and typing on")
            << QByteArray("[options]\nrecordWalks=true\nsearchAsYouType=true\n") << "records=111";
        QTest::newRow("typing on, records off") << QByteArray("[options]\nsearchAsYouType=true\n") << "records=010";
        QTest::newRow("header sorting on") << QByteArray("[options]\nsortByHeaderClick=true\n") << "headerSort=11";
        QTest::newRow("all picture formats") << QByteArray("[options]\nallPictureFormats=true\n") << "pictures=11";
        QTest::newRow("Delete key moves to trash")
            << QByteArray("[options]\ndeleteKeyMovesToTrash=true\n") << "deleteKey=1Del";
        QTest::newRow("header sorting no boolean")
            << QByteArray("[options]\nsortByHeaderClick=1\n") + toolbarOff << "toolbar=0";
        // Each damaged filter goes on its own; a good one in the same group stays.
        QTest::newRow("filters, one good value")
            << QByteArray("[filters]\nkind=files\nminSize=12 TB\nmaxSize=1234567 KB\nmodified=yesterday\nskipHidden=2\n"
                          "from=2026-02-30\noneFileSystem=yes\n")
            << "filters=||0|1|0x2|0x2|0|0 mark=1";
        QTest::newRow("filters, every value")
            << QByteArray(
                   "[filters]\nexclude=\".git;node_modules\"\nextensions=\"pdf,odt\"\nskipHidden=true\nkind=special\n"
                   "minSize=0 bytes\nmaxSize=10 GB\nmodified=between\nfrom=2025-12-24\nuntil=2026-01-06\n"
                   "oneFileSystem=true\n")
            << "filters=.git;node_modules|pdf,odt|1|4|0x0|10x3|5|1|2025-12-24-2026-01-06 mark=1";
    }

    void firstStartAndDamagedFiles() {
        QFETCH(QByteArray, file);
        QFETCH(QString, changed);
        // The design's start: a window that remembers nothing.
        QMap<QString, QString> expected = stateOf(shownMainForm(m_form));
        QCOMPARE(expected["recurse"] + expected["fuzzy"] + expected["warn"] + expected["toolbar"] + expected["hints"]
                     + expected["viewer"] + expected["items"] + expected["dir"] + expected["recent"]
                     + expected["filterBar"] + expected["mark"] + expected["records"] + expected["headerSort"]
                     + expected["deleteKey"],
                 QString("111110"
                         "30"
                         "00"
                         "000"
                         "00"
                         "0"));
        for (const QString& pair : changed.split(' ', Qt::SkipEmptyParts))
            expected[pair.section('=', 0, 0)] = pair.section('=', 1);
        if (!file.isNull()) writeIni(file);
        QCOMPARE(stateOf(started()), expected);
        m_form->close();
        QVERIFY(QFile::exists(ini()));
    }

    void unreadableFile_givesTheDesignsStart() {
        const QMap<QString, QString> expected = stateOf(shownMainForm(m_form));
        QVERIFY(QDir().mkpath(ini())); // a folder where the file belongs
        QCOMPARE(stateOf(started()), expected);
        m_form->close();
    }

    void everyChoice_survivesARestart() {
        TMainForm& form = started();
        QVERIFY(form.selectDirectory(tree("/a/b")));
        for (QToolButton* toggle : {form.search().sbSimilar(), form.search().sbRecurseDirs(), form.sbFileViewer()})
            QTest::mouseClick(toggle, Qt::LeftButton);
        form.ShowFileToolbar1Click();
        form.ShowFlybyHints1Click();
        form.WarningSearchResultChanged1Click();
        form.ShowFilters1Click();
        form.settings().SearchAsYouType1()->trigger();
        form.settings().RecordWalks1()->trigger();
        form.results().sortByHeaderClickCommand()->trigger();
        form.pFilters()->setFilter({"*.tmp; build",
                                    true,
                                    KindChoice::SymbolicLinks,
                                    ".pdf",
                                    {3, SizeUnit::Bytes},
                                    {2, SizeUnit::KB},
                                    ModifiedChoice::Between,
                                    QDate(2024, 2, 29),
                                    QDate(2024, 3, 1),
                                    true});
        form.seNumberofItems()->setValue(70);
        form.setGeometry(40, 50, 900, 640);
        form.results().sgexResults()->setColumnWidth(1, 300);
        form.Splitter1()->splitter()->setSizes({300, 500});
        form.Splitter2()->splitter()->setSizes({300, 200});
        QStringList texts;
        for (int i = 1; i <= 20; ++i) texts << QString("t%1").arg(i);
        texts << "x, \"y\""
              << "t3";
        for (const QString& text : texts) {
            form.search().eSearch()->setText(text);
            QTest::keyClick(form.search().eSearch(), Qt::Key_Return);
            QTRY_VERIFY(!form.isSearching());
        }
        const QMap<QString, QString> before = stateOf(form);
        QCOMPARE(before["recent"].split('|').size(), 20); // t1 is the oldest and went
        QVERIFY(before["recent"].startsWith("t3|x, \"y\"|t20|"));
        QCOMPARE(before["dir"], QString::fromStdString(tree("/a/b/")));
        QCOMPARE(before["headerSort"], QString("11"));
        form.close();

        QCOMPARE(stateOf(started()), before);
    }

    // The launcher's "Search All Hard Disks": the search box has the focus
    // and Enter searches every fixed disk, until a directory is chosen.
    void allFixedDisksWithoutText_enterSearchesThem() {
        StartOptions options;
        options.allFixedDisks = true;
        TMainForm& form = started(options);
        QTRY_VERIFY(form.search().eSearch()->hasFocus());
        std::mutex mutex;
        std::vector<std::string> listed;
        form.search().setWalkObserver([&](std::string_view dir) {
            std::lock_guard lock(mutex);
            listed.emplace_back(dir);
        });
        const auto firstListed = [&] {
            std::lock_guard lock(mutex);
            return listed.empty() ? std::string() : listed.front();
        };
        const auto searchWithEnter = [&] {
            {
                std::lock_guard lock(mutex);
                listed.clear();
            }
            form.search().eSearch()->setText("needle");
            QTest::keyClick(form.search().eSearch(), Qt::Key_Return);
            QTRY_VERIFY(!firstListed().empty());
            QTest::mouseClick(form.search().sbStop(), Qt::LeftButton);
            QTRY_VERIFY(!form.isSearching());
        };
        searchWithEnter();
        std::vector<std::string> disks;
        for (const WalkRoot& root : fixedVolumeRoots(fixedVolumes())) disks.push_back(root.path);
        QVERIFY2(std::find(disks.begin(), disks.end(), firstListed()) != disks.end(), firstListed().c_str());

        QVERIFY(form.selectDirectory(tree("/a")));
        searchWithEnter();
        QCOMPARE(firstListed(), tree("/a/"));
        form.search().setWalkObserver({});
    }

    void commandLine_winsForThisRun() {
        writeIni("[options]\nfuzzy=true\nrecurseSubdirectories=true\n[search]\nlastDirectory="
                 + QFile::encodeName(m_dir.path()) + "/a\n");
        StartOptions options;
        options.fuzzySearch = false;
        options.noRecurse = true;
        options.allPictures = true;
        options.directory = tree("/c/.hidden"); // not in the tree's listing: a node of its own
        options.searchText = "needle";
        TMainForm& form = started(options);
        QVERIFY(form.search().sbSimilar()->isChecked() && !form.search().sbMeasure()->isChecked());
        QVERIFY(!form.search().sbRecurseDirs()->isChecked());
        QVERIFY(form.settings().AllPictureFormats1()->isChecked());
        QTRY_COMPARE(viewerPictureFormats(), PictureFormats::EveryReadable);
        QCOMPARE(form.search().eSearch()->text(), QString("needle"));
        const std::string selected = tree("/c/.hidden/");
        QCOMPARE(form.selectedDirectory(), selected);
        QCOMPARE(form.StatusPanel()->lCurrentDir()->text(), QString::fromStdString(selected));
        QTreeWidgetItem* node = form.Explorer()->currentItem();
        QCOMPARE(GetNodePath(node), selected);
        // In view: its row, from its start (the tree scrolls sideways, so a
        // long name may run on beyond the right edge).
        const auto inView = [&] {
            const QRect row = form.Explorer()->visualItemRect(node);
            const QRect view = form.Explorer()->viewport()->rect();
            return view.contains(row.topLeft()) && view.contains(row.bottomLeft());
        };
        QTRY_VERIFY(inView());
        QTRY_COMPARE(form.results().resultPath(1), tree("/c/.hidden/needle.txt"));
        QTRY_VERIFY(!form.isSearching());
        form.close();

        // Measure and recursion were for this run; the directory and the text stay.
        const RememberedSettings remembered = readSettings(ini());
        QCOMPARE(remembered.fuzzySearch, std::optional<bool>(true));
        QCOMPARE(remembered.recurseDirs, std::optional<bool>(true));
        QCOMPARE(remembered.allPictureFormats, std::optional<bool>(false));
        QCOMPARE(remembered.lastDirectory, selected);
        QCOMPARE(remembered.recentTexts, QStringList{"needle"});
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestSettings)
#include "test_settings.moc"
