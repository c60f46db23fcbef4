// Saving the results: the rows taken from the model as shown, CSV and path
// lists byte for byte, and the atomic write with its failures.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "ui/logic/result_export.h"
#include "ui/logic/result_model.h"

namespace toka::test {

namespace {

using Rows = std::vector<ExportRow>;

ExportRow row(const std::string& location, const std::string& name, const std::string& size = "12") {
    return {name, location, "02.01.2024", "12:00:00", "-A---", size, "100"};
}

const std::string kHeader = "File,Location,Date,Time,Attribs,Size,Measure,Path\r\n";

QByteArray bytesOf(const std::string& text) { return QByteArray::fromStdString(text); }

/// Fails the named call with code once `after` bytes were written (write
/// only; the others fail on their first call).
class FailingCalls : public SystemCalls {
public:
    FailingCalls(QByteArray call, int code, std::size_t after = 0)
        : m_call(std::move(call)), m_code(code), m_after(after) {}
    int openAt(int dirFd, const char* name, int flags, mode_t mode) override {
        if (m_call == "openAt" && (flags & O_CREAT)) return fail();
        return SystemCalls::openAt(dirFd, name, flags, mode);
    }
    ssize_t write(int fd, const void* buffer, std::size_t size) override {
        if (m_call != "write") return SystemCalls::write(fd, buffer, size);
        if (m_written >= m_after) return fail();
        const ssize_t wrote = SystemCalls::write(fd, buffer, std::min(size, m_after - m_written));
        if (wrote > 0) m_written += std::size_t(wrote);
        return wrote;
    }
    int fsync(int fd) override { return m_call == "fsync" ? fail() : SystemCalls::fsync(fd); }
    int close(int fd) override {
        if (m_call != "close" || !isWritten(fd)) return SystemCalls::close(fd);
        SystemCalls::close(fd);
        return fail();
    }
    int renameAt(int oldDirFd, const char* oldName, int newDirFd, const char* newName, unsigned flags) override {
        return m_call == "renameAt" ? fail() : SystemCalls::renameAt(oldDirFd, oldName, newDirFd, newName, flags);
    }

private:
    int fail() {
        errno = m_code;
        return -1;
    }
    // Only the written file's close fails, not the folder's.
    static bool isWritten(int fd) { return (::fcntl(fd, F_GETFL) & O_ACCMODE) == O_WRONLY; }
    QByteArray m_call;
    int m_code;
    std::size_t m_after;
    std::size_t m_written = 0;
};

} // namespace

class TestResultExport : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;

    QByteArray read(const QString& name) const {
        QFile file(m_dir.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    void write(const QString& name, const QByteArray& bytes) const {
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    std::string target(const QString& name) const { return QFile::encodeName(m_dir.filePath(name)).toStdString(); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void csv_data() {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<QByteArray>("expected"); // after the header line
        QTest::newRow("empty result: the header alone") << Rows{} << QByteArray();
        QTest::newRow("plain") << Rows{row("/d/", "a.txt")}
                               << QByteArray("a.txt,/d/,02.01.2024,12:00:00,-A---,12,100,/d/a.txt\r\n");
        // A German measure "41,66" is one field.
        QTest::newRow("comma") << Rows{row("/a,b/", "x, y")}
                               << QByteArray("\"x, y\",\"/a,b/\",02.01.2024,12:00:00,-A---,12,100,\"/a,b/x, y\"\r\n");
        QTest::newRow("quotes doubled") << Rows{row("/d/", "say \"hi\"")}
                                        << QByteArray("\"say \"\"hi\"\"\",/d/,02.01.2024,12:00:00,-A---,12,100,"
                                                      "\"/d/say \"\"hi\"\"\"\r\n");
        // A line break inside a quoted field belongs to the field, as it stands.
        QTest::newRow("line breaks in a name")
            << Rows{row("/d/", "two\nlines\r")}
            << QByteArray("\"two\nlines\r\",/d/,02.01.2024,12:00:00,-A---,12,100,\"/d/two\nlines\r\"\r\n");
        // Latin-1 "café": its own bytes, neither "cafÃ©" nor a replacement mark.
        QTest::newRow("not UTF-8") << Rows{row("/d\xe9/", "caf\xe9")}
                                   << QByteArray("caf\xe9,/d\xe9/,02.01.2024,12:00:00,-A---,12,100,/d\xe9/caf\xe9\r\n");
        QTest::newRow("details not read yet")
            << Rows{{"n", "/d/", "", "", "", "", "50"}} << QByteArray("n,/d/,,,,,50,/d/n\r\n");
    }
    void csv() {
        QFETCH(Rows, rows);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytesOf(resultsAsCsv(rows, ResultModel::columnHeaders())), bytesOf(kHeader) + expected);
    }

    void pathList_data() {
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<bool>("nul");
        QTest::addColumn<QByteArray>("expected");
        const Rows odd{row("/d/", "a b"), row("/d\xe9/", "two\nlines"), row("/", "top")};
        QTest::newRow("empty") << Rows{} << false << QByteArray();
        QTest::newRow("lines: bytes as they are") << odd << false << QByteArray("/d/a b\n/d\xe9/two\nlines\n/top\n");
        QTest::newRow("NUL ended: exact") << odd << true << QByteArray("/d/a b\0/d\xe9/two\nlines\0/top\0", 26);
    }
    void pathList() {
        QFETCH(Rows, rows);
        QFETCH(bool, nul);
        QFETCH(QByteArray, expected);
        QCOMPARE(bytesOf(resultsAsPathList(rows, nul ? PathListEnd::Nul : PathListEnd::LineFeed)), expected);
    }

    // The rows in the order shown, their bytes kept; the empty row left out.
    void rowsFromTheModel() {
        ResultModel model;
        QVERIFY(shownRows(model).empty());
        const auto ranked = [](std::string name, std::string location, double score) {
            const Real48 real = Real48::fromExtended(score);
            return RankedEntry{std::move(name), std::move(location), real, measureText(real, cLocaleFormat())};
        };
        model.setEntries({ranked("b\xe9", "/x\xff/", 0.5), ranked("a", "/", 1.0)});
        model.sort(ResultModel::FileColumn, Qt::AscendingOrder);
        const Rows rows = shownRows(model);
        QCOMPARE(rows.size(), std::size_t(2));
        QCOMPARE(rows[0].path(), std::string("/a"));
        QCOMPARE(rows[1].name, std::string("b\xe9"));
        QCOMPARE(rows[1].location, std::string("/x\xff/"));
        QCOMPARE(rows[1].measure, std::string("50"));
        QCOMPARE(columnCaptions(model), ResultModel::columnHeaders());
    }

    void save() {
        QVERIFY(!saveFileAtomically(target("new.csv"), "first"));
        QCOMPARE(read("new.csv"), QByteArray("first"));
        // A replaced file keeps its permissions.
        QVERIFY(::chmod(target("new.csv").c_str(), 0640) == 0);
        QVERIFY(!saveFileAtomically(target("new.csv"), std::string("second\0", 7)));
        QCOMPARE(read("new.csv"), QByteArray("second\0", 7));
        struct stat status {};
        QVERIFY(::stat(target("new.csv").c_str(), &status) == 0);
        QCOMPARE(status.st_mode & 07777, mode_t(0640));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"new.csv"});
    }

    void failures_data() {
        QTest::addColumn<QByteArray>("call");
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("after");
        QTest::addColumn<QString>("operation");
        QTest::newRow("disk full at once") << QByteArray("write") << ENOSPC << 0 << "write";
        QTest::newRow("disk full after 4 bytes") << QByteArray("write") << ENOSPC << 4 << "write";
        QTest::newRow("read-only file system") << QByteArray("openAt") << EROFS << 0 << "create";
        QTest::newRow("folder not writable") << QByteArray("openAt") << EACCES << 0 << "create";
        QTest::newRow("flush fails") << QByteArray("fsync") << EIO << 0 << "fsync";
        // NFS reports a failed write when the file is closed.
        QTest::newRow("close reports a full disk") << QByteArray("close") << ENOSPC << 0 << "close";
        QTest::newRow("rename refused") << QByteArray("renameAt") << EPERM << 0 << "rename";
    }
    void failures() {
        QFETCH(QByteArray, call);
        QFETCH(int, code);
        QFETCH(int, after);
        QFETCH(QString, operation);
        const QString name = QString("kept-%1.csv").arg(QTest::currentDataTag()).replace(' ', '-');
        write(name, "old contents");
        FailingCalls calls(call, code, std::size_t(after));
        const std::optional<SysError> error = saveFileAtomically(target(name), "new contents", calls);
        QVERIFY(error);
        QCOMPARE(error->code, code);
        QCOMPARE(QString::fromStdString(error->operation), operation);
        QCOMPARE(error->path, target(name));
        // What stood there stands, and nothing else is left behind.
        QCOMPARE(read(name), QByteArray("old contents"));
        QCOMPARE(QDir(m_dir.path()).entryList({"*" + name + "*"}, QDir::Files | QDir::Hidden), QStringList{name});
        QVERIFY(QFile::remove(m_dir.filePath(name)));
    }

    void unusableTargets_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("code");
        QTest::newRow("a directory") << "folder" << EISDIR;
        QTest::newRow("ends in a slash") << "folder/" << EISDIR;
        QTest::newRow("folder missing") << "missing/x.csv" << ENOENT;
    }
    void unusableTargets() {
        QFETCH(QString, name);
        QFETCH(int, code);
        QVERIFY(QDir(m_dir.path()).mkpath("folder"));
        const std::optional<SysError> error = saveFileAtomically(target(name), "x");
        QVERIFY(error);
        QCOMPARE(error->code, code);
        QVERIFY(QDir(m_dir.filePath("folder")).isEmpty());
    }
};

} // namespace toka::test

QTEST_GUILESS_MAIN(toka::test::TestResultExport)
#include "test_result_export.moc"
