// The dialogs of copy, move and delete, answered by a script that clicks the
// real buttons of the real message boxes while the engine works on real
// temporary trees.
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTextBoundaryFinder>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "ui/dialogs/file_op_dialogs.h"
#include "ui/dialogs/file_op_job.h"
#include "ui_test_support.h"

namespace toka::test {

using Button = toka::FileOpDialogs::ButtonName;

namespace {

// Answers the dialogs of one operation in turn, as a user would: it waits
// for each message box to become the active modal widget, notes its text and
// buttons, and clicks.  An answer is a button's object name, "escape",
// "enter", or "ok"; a trailing "+all" ticks "apply to all" first.  A box
// beyond the script is noted as unexpected and escaped, so a test never
// hangs.  With cancelProgress set it presses Cancel of the progress dialog as
// soon as that appears.
class DialogScript : public QObject {
public:
    explicit DialogScript(QStringList answers, bool cancelProgress = false)
        : m_answers(std::move(answers)), m_cancelProgress(cancelProgress) {
        m_clock.start();
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(5);
    }

    QStringList texts;         ///< text and informative text of every box, in order, as seen
    QStringList rawTexts;      ///< the text of every box with its invisible line-break marks
    QStringList replaceLabels; ///< the caption of the "replace" button, where there was one
    QList<QMessageBox::Icon> icons;
    int unexpected = 0;
    qint64 progressShownAfterMs = -1; ///< when the progress dialog was first seen

private:
    void poll() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* progress = qobject_cast<QProgressDialog*>(modal); progress && progress->isVisible()) {
            if (progressShownAfterMs < 0) progressShownAfterMs = m_clock.elapsed();
            if (m_cancelProgress)
                if (auto* cancel = progress->findChild<QPushButton*>()) QTest::mouseClick(cancel, Qt::LeftButton);
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box || !box->isVisible()) return;
        rawTexts << box->text();
        // The marks that steer line breaks in paths are not seen.
        QString seen = box->text() + "\n" + box->informativeText();
        texts << seen.remove(QChar(0x2060)).remove(QChar(0x200B));
        icons << box->icon();
        if (auto* replace = box->findChild<QAbstractButton*>(Button::Replace)) replaceLabels << replace->text();
        if (m_answers.isEmpty()) {
            ++unexpected;
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        QString answer = m_answers.takeFirst();
        if (answer.endsWith("+all")) {
            answer.chop(4);
            auto* check = box->findChild<QCheckBox*>(Button::ApplyToAll);
            QVERIFY2(check, "the question has no \"apply to all\" check box");
            QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(5, check->height() / 2));
        }
        if (answer == "escape") {
            QTest::keyClick(box, Qt::Key_Escape);
        } else if (answer == "enter") {
            QTest::keyClick(box, Qt::Key_Return);
        } else if (answer == "ok") {
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        } else {
            auto* button = box->findChild<QAbstractButton*>(answer);
            QVERIFY2(button, qPrintable("no button " + answer));
            QTest::mouseClick(button, Qt::LeftButton);
        }
    }

    QStringList m_answers;
    bool m_cancelProgress;
    QTimer m_timer;
    QElapsedTimer m_clock;
};

std::string bytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// Every name in folder, hidden ones too (the engine's temporaries are hidden).
QStringList namesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Fails opening for reading the files of the given name: a source the user
// may not read, which a test running as root cannot arrange with chmod.
class UnreadableNamed : public toka::SystemCalls {
public:
    explicit UnreadableNamed(std::string name) : m_name(std::move(name)) {}
    int openAt(int dirFd, const char* name, int flags, mode_t mode) override {
        if (m_name == name && !(flags & O_CREAT)) {
            errno = EACCES;
            return -1;
        }
        return SystemCalls::openAt(dirFd, name, flags, mode);
    }

private:
    std::string m_name;
};

// Makes every write slow, so that a copy lasts long enough for the progress
// dialog to appear: the kernel's copy too, and no reflink, which would copy
// the whole file in one call.
class SlowWrites : public toka::SystemCalls {
public:
    ssize_t write(int fd, const void* buffer, std::size_t size) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return SystemCalls::write(fd, buffer, size);
    }
    ssize_t copyFileRange(int inFd, off_t* inOffset, int outFd, off_t* outOffset, std::size_t size) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        return SystemCalls::copyFileRange(inFd, inOffset, outFd, outOffset, size);
    }
    int cloneFile(int, int) override { return errno = EOPNOTSUPP, -1; }
};

} // namespace

class TestFileOpDialogs : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_root;
    QString m_source;      // <root>/src
    QString m_destination; // <root>/dest

private slots:
    void init() {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        m_source = m_root->filePath("src");
        m_destination = m_root->filePath("dest");
        QVERIFY(QDir().mkpath(m_source));
        QVERIFY(QDir().mkpath(m_destination));
    }

    void cleanup() {
        // QTemporaryDir cannot remove a name that is not UTF-8; remove by bytes.
        std::filesystem::remove_all(QFile::encodeName(m_root->path()).toStdString());
        // No dialog of an operation may outlive it.
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void deleteAsksFirst_data() {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("deleted");
        QTest::addColumn<QString>("question");
        QTest::newRow("two, confirmed") << 2 << "delete" << true << "Permanently delete 2 items?";
        QTest::newRow("one, confirmed") << 1 << "delete" << true << "Permanently delete 1 item?";
        QTest::newRow("refused") << 2 << "cancel" << false << "Permanently delete 2 items?";
        QTest::newRow("escape") << 2 << "escape" << false << "Permanently delete 2 items?";
        // Enter must not delete: the default button is Cancel.
        QTest::newRow("enter") << 2 << "enter" << false << "Permanently delete 2 items?";
    }
    void deleteAsksFirst() {
        QFETCH(int, count);
        QFETCH(QString, answer);
        QFETCH(bool, deleted);
        QFETCH(QString, question);
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            const QString path = m_source + QString("/item %1").arg(i);
            writeFile(QFile::encodeName(path), "content");
            paths.push_back(bytes(path));
        }
        QVERIFY(QDir().mkpath(m_source + "/folder/inner"));
        DialogScript script({answer});
        const FileOpResult result = runFileOperation(nullptr, paths, FileOpKind::Delete, bytes(m_destination + "/"));
        QCOMPARE(script.texts.size(), 1);
        QVERIFY2(script.texts[0].startsWith(question + "\n"), qPrintable(script.texts[0]));
        QVERIFY(script.texts[0].contains("cannot be restored"));
        QCOMPARE(result.cancelled, !deleted);
        QCOMPARE(namesIn(m_source).size(), deleted ? 1 : count + 1);
        QCOMPARE(namesIn(m_source).contains("folder"), true); // never on the list
    }

    void existingItems_data() {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<int>("asked");
        QTest::addColumn<QByteArray>("expected"); // contents of dest a, b, c in one string
        QTest::newRow("skip for all") << QStringList{"skip+all"} << 1 << QByteArray("old-a old-b old-c");
        QTest::newRow("replace for all") << QStringList{"replace+all"} << 1 << QByteArray("new-a new-b new-c");
        QTest::newRow("each on its own") << QStringList{"skip", "replace", "skip"} << 3
                                         << QByteArray("old-a new-b old-c");
        QTest::newRow("replace once, then skip for all")
            << QStringList{"replace", "skip+all"} << 2 << QByteArray("new-a old-b old-c");
        // "Apply to all" does not turn a cancel into anything else.
        QTest::newRow("cancel") << QStringList{"cancel+all"} << 1 << QByteArray("old-a old-b old-c");
        QTest::newRow("escape") << QStringList{"skip", "escape"} << 2 << QByteArray("old-a old-b old-c");
        QTest::newRow("enter skips") << QStringList{"enter", "replace", "enter"} << 3
                                     << QByteArray("old-a new-b old-c");
    }
    void existingItems() {
        QFETCH(QStringList, answers);
        QFETCH(int, asked);
        QFETCH(QByteArray, expected);
        std::vector<std::string> paths;
        for (const char* name : {"a", "b", "c"}) {
            writeFile(QFile::encodeName(m_source + "/" + name), QByteArray("new-") + name);
            writeFile(QFile::encodeName(m_destination + "/" + name), QByteArray("old-") + name);
            paths.push_back(bytes(m_source + "/" + name));
        }
        DialogScript script(answers);
        runFileOperation(nullptr, paths, FileOpKind::Copy, bytes(m_destination + "/"));
        QCOMPARE(script.texts.size(), asked);
        QCOMPARE(script.unexpected, 0);
        QVERIFY2(
            script.texts[0].startsWith(QString("An item named \"a\" already exists in \"%1\".").arg(m_destination)),
            qPrintable(script.texts[0]));
        QByteArray found;
        for (const char* name : {"a", "b", "c"})
            found += (found.isEmpty() ? "" : " ") + readFile(QFile::encodeName(m_destination + "/" + name));
        QCOMPARE(found, expected);
        QCOMPARE(namesIn(m_destination), (QStringList{"a", "b", "c"})); // no temporary left
        QCOMPARE(readFile(QFile::encodeName(m_source + "/b")), QByteArray("new-b"));
    }

    // The question shows the time as the result table does (even seconds)
    // and breaks the names' lines only after a "/", never at "-" or " ".
    void existsQuestionShowsTableTimeAndBreaksOnlyAtSlashes() {
        const QString folder = m_destination + "/my-dest folder";
        QVERIFY(QDir().mkpath(folder));
        writeFile(QFile::encodeName(m_source + "/a-b c"), "new");
        writeFile(QFile::encodeName(folder + "/a-b c"), "old");
        const qint64 changed = QDateTime(QDate(2021, 3, 4), QTime(10, 6, 7)).toSecsSinceEpoch();
        const timespec times[2] = {{changed, 0}, {changed, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(folder + "/a-b c").constData(), times, 0), 0);
        DialogScript script({"skip"});
        runFileOperation(nullptr, {bytes(m_source + "/a-b c")}, FileOpKind::Copy, bytes(folder + "/"));
        QCOMPARE(script.texts.size(), 1);
        const QString date = QLocale::system().toString(QDate(2021, 3, 4), QLocale::ShortFormat);
        QVERIFY2(script.texts[0].contains("Existing: file, 3 bytes, modified " + date + " 10:06:06"),
                 qPrintable(script.texts[0]));
        QVERIFY2(script.texts[0].startsWith(QString("An item named \"a-b c\" already exists in \"%1\".").arg(folder)),
                 qPrintable(script.texts[0]));
        // Inside the quotes a line may break only right after a "/" (and
        // the zero-width space that follows it).
        const QString raw = script.rawTexts[0];
        QTextBoundaryFinder breaks(QTextBoundaryFinder::Line, raw);
        for (qsizetype open = raw.indexOf('"'); open >= 0; open = raw.indexOf('"', raw.indexOf('"', open + 1) + 1)) {
            const qsizetype close = raw.indexOf('"', open + 1);
            breaks.setPosition(open + 1);
            for (qsizetype at = breaks.toNextBoundary(); at >= 0 && at < close; at = breaks.toNextBoundary())
                QVERIFY2(raw[at - 1] == u'/' || raw[at - 1] == QChar(0x200B), qPrintable(raw.left(at) + "|"));
        }
    }

    void replaceButtonSaysWhatHappens_data() {
        QTest::addColumn<bool>("sourceIsFolder");
        QTest::addColumn<bool>("existingIsFolder");
        QTest::addColumn<QString>("label");
        // Replace on two folders merges them; anything else is replaced.
        QTest::newRow("folder onto folder") << true << true << "Merge";
        QTest::newRow("file onto folder") << false << true << "Replace";
        QTest::newRow("folder onto file") << true << false << "Replace";
        QTest::newRow("file onto file") << false << false << "Replace";
    }
    void replaceButtonSaysWhatHappens() {
        QFETCH(bool, sourceIsFolder);
        QFETCH(bool, existingIsFolder);
        QFETCH(QString, label);
        const auto make = [](const QString& path, bool folder, const QString& inner) {
            if (folder) QVERIFY(QDir().mkpath(path + "/" + inner));
            else writeFile(QFile::encodeName(path), "file");
        };
        make(m_source + "/x", sourceIsFolder, "new");
        make(m_destination + "/x", existingIsFolder, "kept");
        DialogScript script({"replace"});
        runFileOperation(nullptr, {bytes(m_source + "/x")}, FileOpKind::Copy, bytes(m_destination + "/"));
        QCOMPARE(script.replaceLabels, QStringList{label});
        QCOMPARE(QFileInfo(m_destination + "/x").isDir(), sourceIsFolder);
        if (sourceIsFolder && existingIsFolder) QCOMPARE(namesIn(m_destination + "/x"), (QStringList{"kept", "new"}));
    }

    void failures_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("secondCopied");
        QTest::addColumn<QString>("message");
        const QString denied = QString::fromLocal8Bit(std::strerror(EACCES));
        QTest::newRow("vanished, cancel") << "vanished"
                                          << "cancel" << false << "no longer exists";
        QTest::newRow("vanished, skip") << "vanished"
                                        << "skip" << true << "no longer exists";
        QTest::newRow("denied, cancel") << "denied"
                                        << "cancel" << false << denied;
        QTest::newRow("denied, escape") << "denied"
                                        << "escape" << false << denied;
        QTest::newRow("denied, skip") << "denied"
                                      << "skip" << true << denied;
    }
    void failures() {
        QFETCH(QString, fault);
        QFETCH(QString, answer);
        QFETCH(bool, secondCopied);
        QFETCH(QString, message);
        const QString first = m_source + "/locked";
        if (fault == "denied") writeFile(QFile::encodeName(first), "secret");
        writeFile(QFile::encodeName(m_source + "/second"), "2");
        UnreadableNamed unreadable("locked");
        toka::SystemCalls& system = fault == "denied" ? unreadable : toka::posixSystemCalls();
        DialogScript script({answer});
        const FileOpResult result = runFileOperation(nullptr, {bytes(first), bytes(m_source + "/second")},
                                                     FileOpKind::Copy, bytes(m_destination + "/"), system);
        QCOMPARE(script.texts.size(), 1);
        QVERIFY2(script.texts[0].contains(message), qPrintable(script.texts[0]));
        QVERIFY2(script.texts[0].contains(first), qPrintable(script.texts[0]));
        QCOMPARE(script.icons, QList<QMessageBox::Icon>{QMessageBox::Warning});
        QCOMPARE(result.cancelled, !secondCopied);
        QCOMPARE(namesIn(m_destination), secondCopied ? QStringList{"second"} : QStringList{});
    }

    void unusableDestination_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing"
                                 << "does not exist";
        QTest::newRow("a file") << "file"
                                << "is not a folder";
    }
    void unusableDestination() {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QString destination = m_root->filePath("target");
        if (kind == "file") writeFile(QFile::encodeName(destination), "in the way");
        writeFile(QFile::encodeName(m_source + "/one"), "1");
        writeFile(QFile::encodeName(m_source + "/two"), "2");
        DialogScript script({"ok"});
        runFileOperation(nullptr, {bytes(m_source + "/one"), bytes(m_source + "/two")}, FileOpKind::Move,
                         bytes(destination + "/"));
        QCOMPARE(script.texts.size(), 1); // one message for the whole list
        QCOMPARE(script.unexpected, 0);
        QVERIFY2(script.texts[0].contains(message) && script.texts[0].contains(destination),
                 qPrintable(script.texts[0]));
        QCOMPARE(script.icons, QList<QMessageBox::Icon>{QMessageBox::Critical});
        QCOMPARE(namesIn(m_source), (QStringList{"one", "two"}));
    }

    void progressDialog_data() {
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<int>("operation");
        QTest::addColumn<qulonglong>("bytesDone");
        QTest::addColumn<qulonglong>("bytesTotal");
        QTest::addColumn<int>("itemsDone");
        QTest::addColumn<int>("itemsTotal");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<int>("value"); // thousandths
        const qulonglong mib = 1024 * 1024;
        QTest::newRow("quick") << 0 << 0 << 0ull << mib << 0 << 1 << false << 0;
        QTest::newRow("just below the delay") << 499 << 0 << mib / 2 << mib << 0 << 1 << false << 0;
        QTest::newRow("at the delay") << 500 << 0 << mib / 4 << mib << 0 << 1 << true << 250;
        // Byte counts beyond what an int holds.
        QTest::newRow("large copy") << 900 << 1 << 6 * 1024 * mib << 8 * 1024 * mib << 0 << 2 << true << 750;
        // A move that falls back to copying may pass the counted total.
        QTest::newRow("past the total") << 900 << 1 << 3 * mib << 2 * mib << 1 << 2 << true << 1000;
        QTest::newRow("delete counts items") << 700 << 2 << 0ull << 0ull << 3 << 10 << true << 300;
    }
    void progressDialog() {
        QFETCH(int, elapsedMs);
        QFETCH(int, operation);
        QFETCH(qulonglong, bytesDone);
        QFETCH(qulonglong, bytesTotal);
        QFETCH(int, itemsDone);
        QFETCH(int, itemsTotal);
        QFETCH(bool, shown);
        QFETCH(int, value);
        QWidget window;
        window.show();
        FileOpDialogs dialogs(&window, FileOpKind(operation));
        FileOpProgress progress;
        progress.operation = FileOpKind(operation);
        progress.currentItem = "/data/photos/holiday \xff.jpg";
        progress.bytesDone = bytesDone;
        progress.bytesTotal = bytesTotal;
        progress.itemsDone = std::size_t(itemsDone);
        progress.itemsTotal = std::size_t(itemsTotal);
        progress.elapsed = std::chrono::milliseconds(elapsedMs);
        dialogs.progress(progress);
        QProgressDialog* dialog = dialogs.progressDialog();
        QCOMPARE(dialog != nullptr && dialog->isVisible(), shown);
        QVERIFY(!dialogs.cancelRequested());
        if (!shown) return;
        QCOMPARE(dialog->windowModality(), Qt::ApplicationModal);
        QCOMPARE(dialog->value(), value);
        const QString label = dialog->labelText();
        QVERIFY2(label.contains("holiday \u00ff.jpg"), qPrintable(label));
        const QLocale locale;
        const QString amount = bytesTotal > 0 ? QString("%1 of %2")
                                                    .arg(locale.formattedDataSize(qint64(bytesDone)),
                                                         locale.formattedDataSize(qint64(bytesTotal)))
                                              : QString("%1 of %2 items").arg(itemsDone).arg(itemsTotal);
        QVERIFY2(label.contains(amount), qPrintable(label + " / " + amount));
        QTest::mouseClick(dialog->findChild<QPushButton*>(), Qt::LeftButton);
        QVERIFY(dialogs.cancelRequested());
        dialogs.finish();
        QVERIFY(dialogs.progressDialog() == nullptr);
    }

    void cancelDuringSlowCopy() {
        // 16 chunks of 1 MiB at 40 ms each: about 0.65 s, beyond the delay.
        const QByteArray content(16 * 1024 * 1024, 'x');
        writeFile(QFile::encodeName(m_source + "/big"), content);
        writeFile(QFile::encodeName(m_destination + "/big"), "old");
        SlowWrites system;
        DialogScript script({"replace"}, /*cancelProgress=*/true);
        const FileOpResult result =
            runFileOperation(nullptr, {bytes(m_source + "/big")}, FileOpKind::Copy, bytes(m_destination + "/"), system);
        QVERIFY(result.cancelled);
        QVERIFY2(script.progressShownAfterMs >= 500, qPrintable(QString::number(script.progressShownAfterMs)));
        // The replaced file is untouched and the half copy is gone.
        QCOMPARE(namesIn(m_destination), QStringList{"big"});
        QCOMPARE(readFile(QFile::encodeName(m_destination + "/big")), QByteArray("old"));
        QCOMPARE(QFileInfo(m_source + "/big").size(), content.size());
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestFileOpDialogs)
#include "test_file_op_dialogs.moc"
