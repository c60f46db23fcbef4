// Open, show in the file manager, copy path, drag out and move to trash, on
// names that a URL or a QString gets wrong easily.  Opening goes to a URL
// handler of the test; the file manager is a fake service on a private
// session bus; the trash lives below a temporary HOME.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#ifdef QT_DBUS_LIB  // set by the Qt6::DBus target that `ui` links when found
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusError>
#define TOKA_TEST_DBUS 1
#endif

#include "ui/desktop_actions.h"
#include "ui/display_text.h"

namespace toka::test {

namespace {

// The path a file URL names, as bytes.
QByteArray pathOfUrl(const QByteArray& encoded) {
    if (!encoded.startsWith("file://")) return "<not a file URL: " + encoded + ">";
    return QByteArray::fromPercentEncoding(encoded.mid(7));
}

bool isUtf8(const QByteArray& bytes) { return QFile::encodeName(QFile::decodeName(bytes)) == bytes; }

bool existsAsEntry(const QByteArray& path) { return ::access(path.constData(), F_OK) == 0; }

void writeFile(const QByteArray& path, const QByteArray& content) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY2(fd >= 0, std::strerror(errno));
    QFile file;
    QVERIFY(file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    QCOMPARE(file.write(content), content.size());
}

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
    QString m_savedCurrent;
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
        QVERIFY(service.registerObject("/org/freedesktop/FileManager1", &m_fileManager,
                                       QDBusConnection::ExportAllSlots));
        // Should something have opened the real session bus before, a real
        // file manager could answer: the tests of it are skipped then.
        m_privateBus = QDBusConnection::sessionBus().isConnected() &&
                       QDBusConnection::sessionBus().interface()->isServiceRegistered(service.baseService());
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
        m_savedCurrent = QDir::currentPath();
    }

    void cleanup() {
        QDir::setCurrent(m_savedCurrent);
        std::filesystem::remove_all(QFile::encodeName(m_root->path()).toStdString());
    }

    void mimeDataForPaths_data() { addOddNames(); }
    void mimeDataForPaths() {
        QFETCH(QByteArray, name);
        const std::vector<std::string> paths = {("/home/user/" + name).toStdString(),
                                                ("/srv/" + name + "/x").toStdString()};
        const std::unique_ptr<QMimeData> data(toka::mimeDataForPaths(paths));
        const QList<QByteArray> lines = data->data("text/uri-list").split('\n');
        QCOMPARE(lines.size(), 3);  // two URLs, each ended by CR LF
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
        QCOMPARE(data->text(), toka::displayText(paths[0]) + "\n" + toka::displayText(paths[1]));

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
        QTest::addColumn<QString>("fileManager");  // "none", "answers" or "fails"
        QTest::addColumn<QByteArray>("shownItem");  // empty: ShowItems is not called
        QTest::addColumn<QByteArray>("openedFolder");  // empty: nothing is opened
        QTest::newRow("item selected") << QByteArray("/data/a b.txt") << "answers"
                                       << QByteArray("/data/a b.txt") << QByteArray();
        QTest::newRow("not UTF-8") << QByteArray("/data/\xff#.txt") << "answers"
                                   << QByteArray("/data/\xff#.txt") << QByteArray();
        QTest::newRow("folder with trailing slash") << QByteArray("/data/sub/") << "answers"
                                                    << QByteArray("/data/sub") << QByteArray();
        QTest::newRow("no file manager") << QByteArray("/data/in\nside/a.txt") << "none"
                                         << QByteArray() << QByteArray("/data/in\nside/");
        QTest::newRow("file manager fails") << QByteArray("/data/a.txt") << "fails"
                                            << QByteArray("/data/a.txt") << QByteArray("/data/");
        QTest::newRow("item in the root") << QByteArray("/a.txt") << "none" << QByteArray()
                                          << QByteArray("/");
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
        QDBusConnection service = QDBusConnection(QStringLiteral("fake"));
        m_fileManager.calls.clear();
        m_fileManager.failing = fileManager == "fails";
        if (fileManager != "none") QVERIFY(service.registerService("org.freedesktop.FileManager1"));

        toka::showInFileManager(path.toStdString());
        // The answer of the bus comes later; wait for its outcome.
        const int expected = int(!shownItem.isEmpty()) + int(!openedFolder.isEmpty());
        QTRY_COMPARE(m_fileManager.calls.size() + m_catcher.urls.size(), expected);
        QTest::qWait(100);  // and for a fallback that must not come
        if (fileManager != "none") QVERIFY(service.unregisterService("org.freedesktop.FileManager1"));

        QCOMPARE(m_fileManager.calls.size(), int(!shownItem.isEmpty()));
        if (!shownItem.isEmpty()) {
            QCOMPARE(m_fileManager.calls[0].size(), 1);
            QCOMPARE(pathOfUrl(m_fileManager.calls[0][0].toLatin1()), shownItem);
        }
        QCOMPARE(m_catcher.urls.size(), int(!openedFolder.isEmpty()));
        if (!openedFolder.isEmpty()) QCOMPARE(pathOfUrl(m_catcher.urls[0].toEncoded()), openedFolder);
#endif
    }

    void moveToTrash_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("trash");  // below the root; empty: not trashed
        QTest::addColumn<QString>("error");  // part of the error when not trashed
        const QString homeTrash = "home/.local/share/Trash";
        const QString noSuchFile = QString::fromLocal8Bit(std::strerror(ENOENT));
        QTest::newRow("data folder exists") << "data folder" << QByteArray("report.txt") << false
                                            << homeTrash << QString();
        // Qt 6.4 alone would move the file into ./files and report success.
        QTest::newRow("data folder missing") << "no data folder" << QByteArray("report.txt") << false
                                             << homeTrash << QString();
        QTest::newRow("XDG_DATA_HOME missing") << "missing XDG_DATA_HOME" << QByteArray("report.txt")
                                               << false << "xdg/share/Trash" << QString();
        QTest::newRow("folder, data folder missing") << "no data folder" << QByteArray("album") << true
                                                     << homeTrash << QString();
        QTest::newRow("odd name") << "no data folder" << QByteArray("a#b\nc d") << false << homeTrash
                                  << QString();
        QTest::newRow("trash is a file") << "trash is a file" << QByteArray("report.txt") << false
                                         << QString() << "is not a folder";
        QTest::newRow("not UTF-8") << "data folder" << QByteArray("caf\xe9") << false << QString()
                                   << "not valid UTF-8";
        QTest::newRow("vanished") << "vanished" << QByteArray("report.txt") << false << QString()
                                  << noSuchFile;
    }
    void moveToTrash() {
        QFETCH(QString, setup);
        QFETCH(QByteArray, name);
        QFETCH(bool, folder);
        QFETCH(QString, trash);
        QFETCH(QString, error);
        const QString root = m_root->path();
        const QByteArray rootBytes = QFile::encodeName(root);
        QVERIFY(QDir().mkpath(root + "/home"));
        QVERIFY(QDir().mkpath(root + "/work"));
        QVERIFY(QDir().mkpath(root + "/files"));
        const QByteArray oldHome = qgetenv("HOME");
        const QByteArray oldDataHome = qgetenv("XDG_DATA_HOME");
        const bool hadDataHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        auto restoreEnvironment = qScopeGuard([&] {
            qputenv("HOME", oldHome);
            if (hadDataHome)
                qputenv("XDG_DATA_HOME", oldDataHome);
            else
                qunsetenv("XDG_DATA_HOME");
        });
        qputenv("HOME", rootBytes + "/home");
        qunsetenv("XDG_DATA_HOME");
        if (setup == "data folder") QVERIFY(QDir().mkpath(root + "/home/.local/share"));
        if (setup == "missing XDG_DATA_HOME") qputenv("XDG_DATA_HOME", rootBytes + "/xdg/share");
        if (setup == "trash is a file") {
            QVERIFY(QDir().mkpath(root + "/home/.local/share"));
            writeFile(rootBytes + "/home/.local/share/Trash", "not a folder");
        }
        const QByteArray item = rootBytes + "/files/" + name;
        if (folder) {
            QVERIFY(QDir().mkpath(QFile::decodeName(item)));
            writeFile(item + "/inner", "inside");
        } else if (setup != "vanished") {
            writeFile(item, "content");
        }
        QVERIFY(QDir::setCurrent(root + "/work"));

        const toka::TrashOutcome outcome = toka::moveToTrash(item.toStdString());

        QCOMPARE(outcome.trashed, !trash.isEmpty());
        // Never anything below the working directory.
        QCOMPARE(QDir(root + "/work").entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList());
        if (trash.isEmpty()) {
            QVERIFY2(outcome.error.contains(error), qPrintable(outcome.error));
            QCOMPARE(existsAsEntry(item), setup != "vanished");
            return;
        }
        QVERIFY(outcome.error.isEmpty());
        const QByteArray trashBytes = rootBytes + "/" + QFile::encodeName(trash);
        QCOMPARE(QFile::encodeName(outcome.pathInTrash), trashBytes + "/files/" + name);
        QVERIFY(!existsAsEntry(item));
        QVERIFY(existsAsEntry(folder ? trashBytes + "/files/" + name + "/inner" : trashBytes + "/files/" + name));
        QVERIFY(existsAsEntry(trashBytes + "/info/" + name + ".trashinfo"));
        // The trash is private, as the trash layout asks.
        QCOMPARE(QFileInfo(QFile::decodeName(trashBytes)).permissions() & 0x0077, QFile::Permissions());
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestDesktopActions)
#include "test_desktop_actions.moc"
