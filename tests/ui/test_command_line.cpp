// The command line: what each line asks of the window, every mistake, and
// the program answering --help, --version and mistakes without a display.
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

#include "../support/process.h"
#include "ui/logic/command_line.h"
#include "ui_test_support.h"

namespace toka::test {

class TestCommandLine : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QByteArray m_root;

    // "@" in a test row stands for the temporary directory.
    QByteArray rooted(QByteArray text) const { return text.replace('@', m_root); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_root = QFile::encodeName(QDir(m_dir.path()).canonicalPath());
        for (const char* dir : {"/a b/.hidden", "/x%41"})
            QVERIFY(QDir().mkpath(QString::fromUtf8(rooted(QByteArray("@") + dir))));
        QVERIFY(mkdir(rooted("@/caf\xe9").constData(), 0755) == 0); // Latin-1, not UTF-8
        touch(QString::fromUtf8(rooted("@/file.txt")));
        QVERIFY(symlink("a b", rooted("@/link").constData()) == 0);
    }
    // QDir cannot name the Latin-1 directory; it goes by its bytes.
    void cleanupTestCase() { QVERIFY(rmdir(rooted("@/caf\xe9").constData()) == 0); }

    void parse_data() {
        QTest::addColumn<QByteArrayList>("arguments");
        QTest::addColumn<QByteArray>("outcome"); // "start", "help", "version" or the error's words
        QTest::addColumn<QByteArray>("directory");
        QTest::addColumn<QString>("options"); // fuzzy/similar, norecurse, all, pictures, search=TEXT

        QTest::newRow("nothing") << QByteArrayList{} << QByteArray("start") << QByteArray() << "";
        QTest::newRow("every option") << QByteArrayList{"--similar", "--no-recurse", "--search", "read me", "@/a b"}
                                      << QByteArray("start") << QByteArray("@/a b")
                                      << "similar norecurse search=read me";
        QTest::newRow("all fixed disks") << QByteArrayList{"--search=x", "--fuzzy", "--all-fixed-disks"}
                                         << QByteArray("start") << QByteArray() << "fuzzy all search=x";
        // The launcher's action: the window ready to search every fixed disk.
        QTest::newRow("all fixed disks, no text")
            << QByteArrayList{"--all-fixed-disks"} << QByteArray("start") << QByteArray() << "all";
        QTest::newRow("all pictures") << QByteArrayList{"--all-pictures", "@/a b"} << QByteArray("start")
                                      << QByteArray("@/a b") << "pictures";
        // Qt's own options are QApplication's, in each of their spellings.
        QTest::newRow("Qt's options") << QByteArrayList{"-style",   "Fusion",      "--platform=offscreen",
                                                        "-reverse", "-stylesheet", "@/file.txt",
                                                        "--fuzzy",  "@/a b"}
                                      << QByteArray("start") << QByteArray("@/a b") << "fuzzy";
        QTest::newRow("search text is UTF-8") << QByteArrayList{"--search", "gr\xc3\xbc\xc3\x9f"
                                                                            "e"}
                                              << QByteArray("start") << QByteArray() << "search=grüße";
        QTest::newRow("hidden directory, trailing slash")
            << QByteArrayList{"@/a b/.hidden/"} << QByteArray("start") << QByteArray("@/a b/.hidden") << "";
        // The tree has no links: the real directory is selected.
        QTest::newRow("link and ..") << QByteArrayList{"@/link/../link"} << QByteArray("start") << QByteArray("@/a b")
                                     << "";
        QTest::newRow("file URL") << QByteArrayList{"file://@/a%20b"} << QByteArray("start") << QByteArray("@/a b")
                                  << "";
        QTest::newRow("file URL, localhost") << QByteArrayList{"file://localhost@/a%20b/%2Ehidden"}
                                             << QByteArray("start") << QByteArray("@/a b/.hidden") << "";
        // Percent-encoded bytes are bytes: %E9 alone is not UTF-8.
        QTest::newRow("file URL, Latin-1 byte")
            << QByteArrayList{"file://@/caf%E9"} << QByteArray("start") << QByteArray("@/caf\xe9") << "";
        QTest::newRow("a plain path is not decoded")
            << QByteArrayList{"@/x%41"} << QByteArray("start") << QByteArray("@/x%41") << "";
        QTest::newRow("help") << QByteArrayList{"--search", "x", "-h"} << QByteArray("help") << QByteArray() << "";
        QTest::newRow("version") << QByteArrayList{"--version"} << QByteArray("version") << QByteArray() << "";

        const auto error = [](const char* name, QByteArrayList arguments, const char* words) {
            QTest::newRow(name) << arguments << QByteArray(words) << QByteArray() << "";
        };
        error("unknown option", {"--bogus"}, "Unknown option 'bogus'.");
        error("a mistake wins over help", {"--help", "--bogus"}, "Unknown option 'bogus'.");
        error("no search text", {"--search"}, "Missing value after '--search'.");
        error("both measures", {"--fuzzy", "--similar"}, "--fuzzy and --similar exclude each other");
        error("two directories", {"@", "@/a b"}, "one directory at most, not 2");
        error("missing directory", {"@/gone"}, "@/gone: No such file or directory");
        error("missing encoded directory", {"file://@/gone%21"}, "@/gone!: No such file or directory");
        error("a file", {"@/file.txt"}, "@/file.txt: not a directory");
        error("another host", {"file://elsewhere@"}, "file://elsewhere@: not a local directory");
        // The system would read each path only up to the NUL: "/" here.
        error("NUL in a file URL", {"file:///%00"}, "file:///%00: a path cannot hold a NUL byte");
        error("NUL inside a file URL", {"file://@/a%20b%00/x"}, "file://@/a%20b%00/x: a path cannot hold a NUL byte");
        error("NUL in a path", {QByteArray("@/a b\0x", 7)}, "@/a b%00x: a path cannot hold a NUL byte");
        error("text too long", {"--search", QByteArray(256, 'a')}, "the search text is longer than 255 characters");
    }

    void parse() {
        QFETCH(QByteArrayList, arguments);
        QFETCH(QByteArray, outcome);
        QFETCH(QByteArray, directory);
        QFETCH(QString, options);
        std::vector<std::string> line{"tokasearch"};
        for (const QByteArray& argument : arguments) line.push_back(rooted(argument).toStdString());
        const CommandLine parsed = parseCommandLine(line);

        using Outcome = CommandLine::Outcome;
        const std::map<QByteArray, Outcome> named = {
            {"start", Outcome::Start}, {"help", Outcome::Help}, {"version", Outcome::Version}};
        QCOMPARE(parsed.outcome, named.count(outcome) ? named.at(outcome) : Outcome::Error);
        if (parsed.outcome == Outcome::Error) QCOMPARE(parsed.message, "tokasearch: " + rooted(outcome).toStdString());
        if (parsed.outcome == Outcome::Help)
            QVERIFY2(parsed.message.starts_with("Usage: tokasearch [options] [DIR]\n"), parsed.message.c_str());
        if (parsed.outcome != Outcome::Start) return;

        const StartOptions& start = parsed.start;
        QCOMPARE(start.directory, directory.isEmpty() ? std::string() : rooted(directory).toStdString());
        QStringList got;
        if (start.fuzzySearch) got << (*start.fuzzySearch ? "fuzzy" : "similar");
        if (start.noRecurse) got << "norecurse";
        if (start.allFixedDisks) got << "all";
        if (start.allPictures) got << "pictures";
        if (start.searchText) got << "search=" + *start.searchText;
        QCOMPARE(got.join(' '), options);
    }

    // The program answers before it needs a display: with none, the window
    // system's plugin would abort the start.
    void withoutDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: tokasearch [options] [DIR]\n"
                              << "";
        QTest::newRow("version") << QStringList{"--version"} << 0 << "tokasearch " TOKA_VERSION "\n"
                                 << "";
        QTest::newRow("mistake") << QStringList{"--fuzzy", "--similar"} << 2 << ""
                                 << "tokasearch: --fuzzy and --similar exclude each other\n";
        QTest::newRow("Qt's options with --version")
            << QStringList{"-style", "Fusion", "--version"} << 0 << "tokasearch " TOKA_VERSION "\n"
            << "";
        QTest::newRow("NUL in a file URL") << QStringList{"file:///%00"} << 2 << ""
                                           << "tokasearch: file:///%00: a path cannot hold a NUL byte\n";
    }

    void withoutDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QString, out);
        QFETCH(QString, err);
        std::vector<std::string> argv = {TOKA_PROGRAM};
        for (const QString& argument : arguments) argv.push_back(argument.toStdString());
        const ProgramRun program = runProgram(argv, {.environment = {{"DISPLAY", std::nullopt},
                                                                     {"WAYLAND_DISPLAY", std::nullopt},
                                                                     {"QT_QPA_PLATFORM", "xcb"}}});
        QCOMPARE(program.status, status);
        const QString printed = QString::fromStdString(program.out);
        QVERIFY2(out.isEmpty() ? printed.isEmpty() : printed.startsWith(out), qPrintable(printed));
        QCOMPARE(QString::fromStdString(program.err), err);
    }
};

} // namespace toka::test

QTEST_GUILESS_MAIN(toka::test::TestCommandLine)
#include "test_command_line.moc"
