// Open, show in the file manager, copy path, drag out and move to trash, on
// names that a URL or a QString gets wrong easily.  Opening goes to a URL
// handler of the test; the file manager is a fake service on a private
// session bus; the trash lives below a temporary XDG_DATA_HOME.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#ifdef QT_DBUS_LIB // set by the Qt6::DBus target that `ui` links when found
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#define TOKA_TEST_DBUS 1
#endif

#include "ui/dialogs/desktop_actions.h"
#include "ui/logic/display_text.h"
#include "ui_test_support.h"

namespace toka::test {

namespace {

// The path a file URL names, as bytes.
QByteArray pathOfUrl(const QByteArray& encoded) {
    if (!encoded.startsWith("file://")) return "<not a file URL: " + encoded + ">";
    return QByteArray::fromPercentEncoding(encoded.mid(7));
}

bool isUtf8(const QByteArray& bytes) { return QFile::encodeName(QFile::decodeName(bytes)) == bytes; }

bool existsAsEntry(const QByteArray& path) { return ::access(path.constData(), F_OK) == 0; }

// Names that break a path pasted into a URL or decoded into a QString.
void addOddNames() {
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("plain") << QByteArray("report.txt");
    QTest::newRow("spaces") << QByteArray(" two  spaces .txt");
    // Would end the path of a URL built from text.
    QTest::newRow("hash, question mark, percent") << QByteArray("a#b?c%41.txt");
    QTest::newRow("newline") << QByteArray("line\nbreak");
    QTest::newRow("CR LF, the uri-list separator") << QByteArray("a\r\nfile:///etc/passwd");
    QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9 \xe2\x82\xac");
    QTest::newRow("not UTF-8") << QByteArray("caf\xe9 \xff\xfe");
}

} // namespace

// Stands in for the desktop's URL opener.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls << url; }
};

#ifdef TOKA_TEST_DBUS
// Stands in for the file manager on the bus.
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QList<QStringList> calls;
    bool failing = false;
public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        Q_UNUSED(startupId);
        calls << uris;
        if (failing) sendErrorReply(QDBusError::Failed, "cannot show");
    }
};
#endif

class TestDesktopActions : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_busFolder;
    QProcess m_bus;
    UrlCatcher m_catcher;
    std::unique_ptr<QTemporaryDir> m_root;
    QByteArray m_savedDataHome; // null: unset
    bool m_privateBus = false;  // the program's session bus is the test's own
#ifdef TOKA_TEST_DBUS
    FakeFileManager m_fileManager;
#endif

private slots:
    void initTestCase() {
        QDesktopServices::setUrlHandler("file", &m_catcher, "open");
#ifdef TOKA_TEST_DBUS
        // A private session bus, so that no real file manager is started.
        const QString daemon = QStandardPaths::findExecutable("dbus-daemon");
        if (daemon.isEmpty()) return;
        QFile config(m_busFolder.filePath("bus.conf"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QString("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                             "<auth>EXTERNAL</auth><policy context=\"default\">"
                             "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                             "<allow own=\"*\"/></policy></busconfig>")
                         .arg(m_busFolder.path())
                         .toUtf8());
        config.close();
        m_bus.start(daemon, {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        QVERIFY(m_bus.waitForReadyRead(5000));
        const QByteArray address = m_bus.readLine().trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QDBusConnection service = QDBusConnection::connectToBus(QString::fromUtf8(address), "fake");
        QVERIFY(service.isConnected());
        QVERIFY(
            service.registerObject("/org/freedesktop/FileManager1", &m_fileManager, QDBusConnection::ExportAllSlots));
        // Should something have opened the real session bus before, a real
        // file manager could answer: the tests of it are skipped then.
        m_privateBus = QDBusConnection::sessionBus().isConnected()
                       && QDBusConnection::sessionBus().interface()->isServiceRegistered(service.baseService());
#endif
    }

    void cleanupTestCase() {
        QDesktopServices::unsetUrlHandler("file");
        m_bus.terminate();
        m_bus.waitForFinished(2000);
    }

    void init() {
        m_catcher.urls.clear();
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_savedDataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_root->path()) + "/xdg");
    }

    void cleanup() {
        if (m_savedDataHome.isNull()) qunsetenv("XDG_DATA_HOME");
        else qputenv("XDG_DATA_HOME", m_savedDataHome);
        std::filesystem::remove_all(QFile::encodeName(m_root->path()).toStdString());
    }

    void mimeDataForPaths_data() { addOddNames(); }
    void mimeDataForPaths() {
        QFETCH(QByteArray, name);
        const std::vector<std::string> paths = {("/home/user/" + name).toStdString(),
                                                ("/srv/" + name + "/x").toStdString()};
        const std::unique_ptr<QMimeData> data(toka::mimeDataForPaths(paths));
        const QList<QByteArray> lines = data->data("text/uri-list").split('\n');
        QCOMPARE(lines.size(), 3); // two URLs, each ended by CR LF
        QCOMPARE(lines[2], QByteArray());
        // A receiving Qt program parses the same two URLs.
        const QList<QUrl> urls = data->urls();
        QCOMPARE(urls.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QByteArray path = QByteArray::fromStdString(paths[std::size_t(i)]);
            QVERIFY(lines[i].endsWith('\r'));
            QCOMPARE(pathOfUrl(lines[i].chopped(1)), path);
            QCOMPARE(pathOfUrl(urls[i].toEncoded()), path);
            if (isUtf8(path)) {
                QCOMPARE(urls[i].toLocalFile(), QFile::decodeName(path));
            }
        }
        // The plain text names the files as they are, or leaves them out:
        // never another name.
        QCOMPARE(data->formats().contains("text/plain"), isUtf8(name));
        if (isUtf8(name))
            QCOMPARE(data->text(), QString::fromUtf8(QByteArray::fromStdString(paths[0])) + "\n"
                                       + QString::fromUtf8(QByteArray::fromStdString(paths[1])));

        toka::copyPathsToClipboard(paths);
        const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
        QVERIFY(clipboard);
        QCOMPARE(clipboard->data("text/uri-list"), data->data("text/uri-list"));
        QCOMPARE(clipboard->text(), data->text());
    }

    void openWithDefaultApplication_data() { addOddNames(); }
    void openWithDefaultApplication() {
        QFETCH(QByteArray, name);
        const QByteArray path = "/home/user/" + name;
        QVERIFY(toka::openWithDefaultApplication(path.toStdString()));
        QCOMPARE(m_catcher.urls.size(), 1);
        QCOMPARE(m_catcher.urls[0].scheme(), QString("file"));
        QCOMPARE(pathOfUrl(m_catcher.urls[0].toEncoded()), path);
    }

    void showInFileManager_data() {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("fileManager");     // "none", "none, no opener", "answers" or "fails"
        QTest::addColumn<QByteArray>("shownItem");    // empty: ShowItems is not called
        QTest::addColumn<QByteArray>("openedFolder"); // empty: nothing is opened
        QTest::addColumn<QString>("box");             // the message when nothing could show the folder
        QTest::newRow("item selected") << QByteArray("/data/a b.txt") << "answers" << QByteArray("/data/a b.txt")
                                       << QByteArray() << QString();
        QTest::newRow("not UTF-8") << QByteArray("/data/\xff#.txt") << "answers" << QByteArray("/data/\xff#.txt")
                                   << QByteArray() << QString();
        QTest::newRow("folder with trailing slash")
            << QByteArray("/data/sub/") << "answers" << QByteArray("/data/sub") << QByteArray() << QString();
        QTest::newRow("no file manager") << QByteArray("/data/in\nside/a.txt") << "none" << QByteArray()
                                         << QByteArray("/data/in\nside/") << QString();
        QTest::newRow("file manager fails")
            << QByteArray("/data/a.txt") << "fails" << QByteArray("/data/a.txt") << QByteArray("/data/") << QString();
        QTest::newRow("item in the root")
            << QByteArray("/a.txt") << "none" << QByteArray() << QByteArray("/") << QString();
        // No file manager on the bus, and the folder cannot be opened either.
        QTest::newRow("nothing answers") << QByteArray("/data/a.txt") << "none, no opener" << QByteArray()
                                         << QByteArray()
                                         << "Open Containing Folder|No file manager could be started for \"/data/\".";
        // The desktop made this program the opener of folders: it is not
        // started for them.
        QTest::newRow("this program opens folders")
            << QByteArray("/data/a.txt") << "none, opener is this program" << QByteArray() << QByteArray()
            << "Open Containing Folder|No file manager could be started for \"/data/\".";
    }
    void showInFileManager() {
#ifndef TOKA_TEST_DBUS
        QSKIP("built without Qt D-Bus");
#else
        if (!m_privateBus) QSKIP("no private session bus (dbus-daemon missing?)");
        QFETCH(QByteArray, path);
        QFETCH(QString, fileManager);
        QFETCH(QByteArray, shownItem);
        QFETCH(QByteArray, openedFolder);
        QFETCH(QString, box);
        QDBusConnection service = QDBusConnection(QStringLiteral("fake"));
        m_fileManager.calls.clear();
        m_fileManager.failing = fileManager == "fails";
        const bool onBus = !fileManager.startsWith("none");
        if (onBus) QVERIFY(service.registerService("org.freedesktop.FileManager1"));
        // Without a handler the offscreen platform opens nothing.
        if (fileManager == "none, no opener") {
            if (QGuiApplication::platformName() != "offscreen") QSKIP("needs the offscreen platform");
            QDesktopServices::unsetUrlHandler("file");
        }
        auto restore = qScopeGuard([&] { QDesktopServices::setUrlHandler("file", &m_catcher, "open"); });
        // A stand-in for xdg-mime that names this program as the opener.
        QTemporaryDir fakeTools;
        const QByteArray savedPath = qgetenv("PATH");
        auto restorePath = qScopeGuard([&] { qputenv("PATH", savedPath); });
        if (fileManager == "none, opener is this program") {
            QFile tool(fakeTools.filePath("xdg-mime"));
            QVERIFY(tool.open(QIODevice::WriteOnly));
            tool.write("#!/bin/sh\necho io.github.tokasearch.TokaSearch.desktop\n");
            tool.close();
            QVERIFY(tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            qputenv("PATH", QFile::encodeName(fakeTools.path()) + ":" + savedPath);
        }
        BoxWatcher boxes;

        toka::showInFileManager(path.toStdString(), nullptr);
        // The answer of the bus comes later; wait for its outcome.
        const int expected = int(!shownItem.isEmpty()) + int(!openedFolder.isEmpty()) + int(!box.isEmpty());
        QTRY_COMPARE(m_fileManager.calls.size() + m_catcher.urls.size() + boxes.boxes.size(), expected);
        QTest::qWait(100); // and for a fallback that must not come
        if (onBus) QVERIFY(service.unregisterService("org.freedesktop.FileManager1"));
        QCOMPARE(boxes.boxes, box.isEmpty() ? QStringList() : QStringList{box});

        QCOMPARE(m_fileManager.calls.size(), int(!shownItem.isEmpty()));
        if (!shownItem.isEmpty()) {
            QCOMPARE(m_fileManager.calls[0].size(), 1);
            QCOMPARE(pathOfUrl(m_fileManager.calls[0][0].toLatin1()), shownItem);
        }
        QCOMPARE(m_catcher.urls.size(), int(!openedFolder.isEmpty()));
        if (!openedFolder.isEmpty()) QCOMPARE(pathOfUrl(m_catcher.urls[0].toEncoded()), openedFolder);
#endif
    }

    void moveToTrashReporting_data() {
        QTest::addColumn<bool>("trashWorks");         // false: the home trash is a file
        QTest::addColumn<QList<QByteArray>>("names"); // "gone…" names are not created
        QTest::addColumn<QMessageBox::StandardButton>("answer");
        QTest::addColumn<QStringList>("boxes");        // "title|text", ROOT for the item folder
        QTest::addColumn<QList<QByteArray>>("chosen"); // returned for deleting
        const QString gone = QString::fromLocal8Bit(std::strerror(ENOENT));
        const QString notFolder = QString::fromLocal8Bit(std::strerror(ENOTDIR));
        const auto none = QMessageBox::NoButton;
        QTest::newRow("not UTF-8") << true << QList<QByteArray>{"caf\xe9 \xff"} << none << QStringList()
                                   << QList<QByteArray>();
        QTest::newRow("1 of 2 left")
            << true << QList<QByteArray>{"report.txt", "gone.txt"} << none
            << QStringList{"Move to Trash|1 of 2 items could not be moved to the trash and was left where it "
                           "is.\n\n\"ROOT/gone.txt\": "
                           + gone + "."}
            << QList<QByteArray>();
        QTest::newRow("1 left") << true << QList<QByteArray>{"gone"} << none
                                << QStringList{"Move to Trash|1 item could not be moved to the trash and was "
                                               "left where it is.\n\n\"ROOT/gone\": "
                                               + gone + "."}
                                << QList<QByteArray>();
        QTest::newRow("2 left") << true << QList<QByteArray>{"gone1", "gone2"} << none
                                << QStringList{"Move to Trash|2 items could not be moved to the trash and were "
                                               "left where they are.\n\n\"ROOT/gone1\": "
                                               + gone + ".\n\"ROOT/gone2\": " + gone + "."}
                                << QList<QByteArray>();
        const QString noTrash = "\": openat \"XDG/Trash\": " + notFolder + ".";
        QTest::newRow("1 without trash, kept")
            << false << QList<QByteArray>{"report.txt"} << QMessageBox::No
            << QStringList{"Move to Trash|1 item cannot be moved to the trash: its volume offers no usable "
                           "trash.\n\n\"ROOT/report.txt"
                           + noTrash + "\n\nDelete it permanently?"}
            << QList<QByteArray>();
        QTest::newRow("2 without trash, deleted")
            << false << QList<QByteArray>{"a", "b"} << QMessageBox::Yes
            << QStringList{"Move to Trash|2 items cannot be moved to the trash: their volumes offer no usable "
                           "trash.\n\n\"ROOT/a"
                           + noTrash + "\n\"ROOT/b" + noTrash + "\n\nDelete them permanently?"}
            << QList<QByteArray>{"a", "b"};
    }
    void moveToTrashReporting() {
        QFETCH(bool, trashWorks);
        QFETCH(QList<QByteArray>, names);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(QStringList, boxes);
        QFETCH(QList<QByteArray>, chosen);
        const QByteArray root = QFile::encodeName(m_root->path());
        QVERIFY(QDir().mkpath(m_root->path() + "/files"));
        if (!trashWorks) {
            QVERIFY(QDir().mkpath(m_root->path() + "/xdg"));
            writeFile(root + "/xdg/Trash", "not a folder");
        }
        std::vector<std::string> paths;
        for (const QByteArray& name : names) {
            paths.push_back((root + "/files/" + name).toStdString());
            if (!name.startsWith("gone")) writeFile(root + "/files/" + name, "content");
        }
        BoxWatcher answerer(answer);

        const std::vector<std::string> toDelete = toka::moveToTrashReporting(nullptr, paths);

        boxes.replaceInStrings("ROOT", m_root->path() + "/files").replaceInStrings("XDG", m_root->path() + "/xdg");
        QCOMPARE(answerer.boxes, boxes);
        std::vector<std::string> expected;
        for (const QByteArray& name : chosen) expected.push_back((root + "/files/" + name).toStdString());
        QCOMPARE(toDelete, expected);
        for (const QByteArray& name : names) {
            if (name.startsWith("gone")) continue;
            // Trashed where the trash works, else still there.
            QCOMPARE(existsAsEntry(root + "/files/" + name), !trashWorks);
            QCOMPARE(existsAsEntry(root + "/xdg/Trash/files/" + name), trashWorks);
        }
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestDesktopActions)
#include "test_desktop_actions.moc"
