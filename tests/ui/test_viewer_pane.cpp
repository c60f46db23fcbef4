// The file viewer through the window: real searches of temporary trees, rows
// marked with the mouse, and what the memo and the picture box show after.
// The memo itself (scrolling, selecting, copying) is tested at the end.
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <sys/stat.h>

#include "../viewer/metafile_writer.h"
#include "ui/window/mainform.h"
#include "viewer/picture_formats.h"
#include "ui_test_support.h"
#include "ui/widgets/strgrdex.h"
#include "viewer/viewer_extension.h"

namespace toka::test {

namespace {

const QString kAbout = "TOKA Search\nThe Nufa File Finder";
constexpr QRgb kBlue = qRgb(0, 128, 255);
constexpr QRgb kRed = qRgb(255, 0, 0);

// A plain picture of one colour, encoded in the given format.
QByteArray encoded(int width, int height, QRgb colour, const char* format) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, format).write(image);
    return bytes;
}

QByteArray bitmap(int width, int height, QRgb colour = kBlue) { return encoded(width, height, colour, "bmp"); }

QByteArray jpeg() { return encoded(8, 8, kBlue, "jpg"); }

// 40 x 20 pixels, red in the top left 10 x 10.
QByteArray metafile() {
    MetafileWriter m;
    m.createPen(5, 0, 0).selectObject(0).createBrush(0, colorRef(255, 0, 0)).selectObject(1);
    return m.rectangle(0, 0, 10, 10).placeable(0, 0, 40, 20, 96);
}

QByteArray programFile() {
    QFile self(QCoreApplication::applicationFilePath());
    return self.open(QIODevice::ReadOnly) ? self.readAll() : QByteArray();
}

// Notes what a message box showed and the state of the viewer while it was
// open; the box is closed with OK, as a user does.
BoxWatcher::Describe describedWith(TMainForm& form) {
    return [&form](QMessageBox* box) {
        return QString("%1|%2|%3|%4|memo %5")
            .arg(box->text(), box->windowTitle())
            .arg(box->icon() == QMessageBox::Critical ? "error icon" : "other icon")
            .arg(box->parentWidget() ? "owned" : "no owner")
            .arg(form.viewer().mFileViewer()->isVisible() ? "shown" : "hidden");
    };
}

const QString kBoxSeen = "Grafik fehlerhaft|Problem|error icon|no owner|memo hidden";

} // namespace

class TestViewer : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    std::unique_ptr<TMainForm> m_form;

    QString path(const QString& name) const { return m_dir.path() + "/" + name; }

    void write(const QString& name, const QByteArray& bytes) {
        QVERIFY(QDir().mkpath(QFileInfo(path(name)).path()));
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    // A shown window whose tree holds the directory `sub` as its one volume,
    // selected, after a search for `searchText` in it.
    TMainForm& searched(const QString& sub, const QString& searchText) {
        TMainForm& form = shownMainForm(m_form);
        showFolders(form, {path(sub)});
        typeSearch(form, searchText);
        searchAndWait(form);
        return form;
    }

    static int rowOf(TMainForm& form, const QString& name) {
        return toka::test::rowOf(form.results().sgexResults(), name);
    }

    // A click, and the wait for what it loads into the viewer.
    static void clickRow(TMainForm& form, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        toka::test::clickRow(form.results().sgexResults(), row, modifiers);
        QTRY_VERIFY_WITH_TIMEOUT(!form.viewer().isLoading(), 10000);
    }

    static void toggleViewer(TMainForm& form) { QTest::mouseClick(form.sbFileViewer(), Qt::LeftButton); }

    static QImage shownPicture(TMainForm& form) { return form.viewer().mFileImageView()->pixmap().toImage(); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }
    void cleanup() {
        m_form.reset();
        setViewerPictureFormats(PictureFormats::Designed);
    }

    void extension_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("picture");
        QTest::newRow("mixed case") << "/t/a.Bmp"
                                    << ".BMP" << true;
        QTest::newRow("cut to four with the dot") << "/t/x.icons"
                                                  << ".ICO" << true;
        QTest::newRow("last dot counts") << "/t/report.wmf.txt"
                                         << ".TXT" << false;
        QTest::newRow("dot in a directory only") << "/t/a.bmp/README"
                                                 << "" << false;
        QTest::newRow("dot file") << "/t/.bmp"
                                  << ".BMP" << true;
        QTest::newRow("trailing dot") << "/t/name."
                                      << "." << false;
        // Only a-z change: an umlaut in the extension stays as it is.
        QTest::newRow("umlaut") << "/t/x.\xc3\xa4mf"
                                << ".\xc3\xa4M" << false;
        QTest::newRow("short") << "/t/x.bm"
                               << ".BM" << false;
    }
    void extension() {
        QFETCH(QString, path);
        QFETCH(QString, extension);
        QFETCH(bool, picture);
        const std::string got = viewerExtension(path.toStdString());
        QCOMPARE(QString::fromStdString(got), extension);
        QCOMPARE(isPictureExtension(got), picture);
    }

    // One marked row; a null text means a picture is expected.
    void showsMarkedFile_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<QRgb>("topLeft");
        QTest::newRow("a.Bmp") << "a.Bmp" << bitmap(16, 8) << QString() << QSize(16, 8) << kBlue;
        QTest::newRow("A.WMF") << "A.WMF" << metafile() << QString() << QSize(40, 20) << kRed;
        QTest::newRow("NOTES.TXT") << "NOTES.TXT" << QByteArray("first\r\nsecond\rthird\n\rfourth")
                                   << "first\nsecond\nthird\nfourth" << QSize() << QRgb();
        // A picture the box does not load is text: up to the first NUL, in
        // Windows-1252 as it is not UTF-8.
        QTest::newRow("PHOTO.JPG") << "PHOTO.JPG" << jpeg() << QString::fromLatin1("\xff\xd8\xff\xe0") << QSize()
                                   << QRgb();
        QTest::newRow("DRAWING.EMF") << "DRAWING.EMF" << QByteArray("\x01\x00\x00\x00\x6c\x00", 6) << "\x01" << QSize()
                                     << QRgb();
        QTest::newRow("no extension") << "README"
                                      << QByteArray("Gr\xc3\xbc\xc3\x9f"
                                                    "e\n")
                                      << "Gr\u00fc\u00dfe\n"
                                      << QSize() << QRgb();
        // A program file stops at its first NUL: "\x7f" "ELF" and a few bytes.
        const QByteArray program = programFile();
        QTest::newRow("program file") << "program" << program
                                      << QString::fromLatin1(program.left(program.indexOf('\0'))) << QSize() << QRgb();
    }
    void showsMarkedFile() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QString, text);
        QFETCH(QSize, pictureSize);
        QFETCH(QRgb, topLeft);
        const QString sub = QString("single-%1").arg(QTest::currentDataTag());
        write(sub + "/" + name, content);
        TMainForm& form = searched(sub, name);
        toggleViewer(form);
        const int row = rowOf(form, name);
        QVERIFY(row > 0);
        clickRow(form, row);
        if (text.isNull()) {
            QVERIFY(!form.viewer().mFileViewer()->isVisible());
            QVERIFY(form.viewer().mFileImageView()->isVisible());
            const QImage picture = shownPicture(form);
            QCOMPARE(picture.size(), pictureSize);
            QCOMPARE(picture.pixel(2, 2), topLeft);
            QCOMPARE(form.viewer().mFileViewer()->toPlainText(), kAbout); // kept underneath
        } else {
            QVERIFY(form.viewer().mFileViewer()->isVisible());
            QCOMPARE(form.viewer().mFileViewer()->toPlainText(), text);
            QVERIFY(form.viewer().mFileImageView()->pixmap().isNull());
        }
    }

    // View > All Picture Formats: the JPEG that is text above shows as a
    // picture, and one that lies about its content ends in the box; turned
    // off, the JPEG is text again.
    void everyReadableFormat_showsJpeg() {
        write("every/PHOTO.JPG", jpeg());
        write("every/PHOTO.PNG", jpeg());
        TMainForm& form = searched("every", "photo");
        toggleViewer(form);
        QAction* allFormats = form.settings().AllPictureFormats1();
        QVERIFY(!allFormats->isChecked());
        allFormats->trigger();
        // The formats are found on the viewer's worker.
        QTRY_COMPARE(viewerPictureFormats(), PictureFormats::EveryReadable);
        BoxWatcher watcher(QMessageBox::Ok, describedWith(form));
        clickRow(form, rowOf(form, "PHOTO.JPG"));
        QVERIFY(!form.viewer().mFileViewer()->isVisible());
        QTRY_COMPARE(shownPicture(form).size(), QSize(8, 8)); // lossy: its colour is near blue only
        QVERIFY(watcher.boxes.isEmpty());
        clickRow(form, rowOf(form, "PHOTO.PNG"));
        QTRY_COMPARE(watcher.boxes, QStringList{kBoxSeen});

        allFormats->trigger();
        QCOMPARE(viewerPictureFormats(), PictureFormats::Designed);
        clickRow(form, rowOf(form, "PHOTO.JPG"));
        QTRY_VERIFY(form.viewer().mFileViewer()->isVisible());
    }

    // Rows that name no readable text file.
    void notAvailable_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("directory") << "directory";
        // A FIFO without a writer would block an open() for reading forever.
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("unreadable") << "unreadable";
        QTest::newRow("deleted after the search") << "deleted";
    }
    void notAvailable() {
        QFETCH(QString, kind);
        const QString sub = "na-" + kind;
        const QString name = "entry" + kind;
        QVERIFY(QDir().mkpath(path(sub)));
        if (kind == "directory") QVERIFY(QDir().mkpath(path(sub + "/" + name)));
        else if (kind == "fifo") QCOMPARE(::mkfifo(QFile::encodeName(path(sub + "/" + name)).constData(), 0600), 0);
        else write(sub + "/" + name, "secret");
        if (kind == "unreadable") {
            QFile::setPermissions(path(sub + "/" + name), QFileDevice::WriteOwner);
            if (QFile(path(sub + "/" + name)).open(QIODevice::ReadOnly)) QSKIP("running with rights to read anything");
        }
        TMainForm& form = searched(sub, name);
        if (kind == "deleted") QVERIFY(QFile::remove(path(sub + "/" + name)));
        toggleViewer(form);
        const int row = rowOf(form, name);
        QVERIFY(row > 0);
        clickRow(form, row);
        QVERIFY(form.viewer().mFileViewer()->isVisible());
        QCOMPARE(form.viewer().mFileViewer()->toPlainText(), QString("not available"));
    }

    void hiddenViewer_loadsNothingUntilTheNextMouseUp() {
        write("hidden/NOTES.TXT", "notes");
        TMainForm& form = searched("hidden", "NOTES.TXT");
        const int row = rowOf(form, "NOTES.TXT");
        QVERIFY(row > 0);
        clickRow(form, row);
        QVERIFY(form.results().sgexResults()->IsRowMarked(row));
        toggleViewer(form);
        QVERIFY(form.viewer().pFileViewer()->isVisible());
        QCOMPARE(form.viewer().mFileViewer()->toPlainText(), kAbout);
        QVERIFY(form.viewer().mFileImageView()->pixmap().isNull());
        clickRow(form, row);
        QCOMPARE(form.viewer().mFileViewer()->toPlainText(), QString("notes"));
        // Hidden again, a click on another row changes nothing either.
        toggleViewer(form);
        write("hidden/NOTES.TXT", "changed");
        clickRow(form, row);
        toggleViewer(form);
        QCOMPARE(form.viewer().mFileViewer()->toPlainText(), QString("notes"));
    }

    // Two rows marked; the search ranks "pair*" (100 %) above "pai*", so the
    // first file is always the upper row.
    void marksInOrder_data() {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QByteArray>("firstContent");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QByteArray>("secondContent");
        QTest::addColumn<bool>("memoShown");
        QTest::addColumn<QString>("memoText");
        QTest::addColumn<QSize>("pictureSize");
        QTest::addColumn<int>("boxes"); // over both clicks
        QTest::newRow("picture, then text: the text shows, the picture lies under it")
            << "pair.bmp" << bitmap(16, 8) << "pai.txt" << QByteArray("below") << true << "below" << QSize(16, 8) << 0;
        QTest::newRow("text, then picture: the picture shows")
            << "pair.txt" << QByteArray("above") << "pai.wmf" << metafile() << false << "above" << QSize(40, 20) << 0;
        // x.icons passes the ".ICO" test on four characters, and the loader
        // then refuses the "icons" extension: a box on each click, and the
        // loop goes on after it.
        QTest::newRow("failing picture, then text: box, then the text")
            << "pair.x.icons" << bitmap(16, 8) << "pai.txt" << QByteArray("after the box") << true << "after the box"
            << QSize() << 2;
        QTest::newRow("two failing pictures: one box, then two")
            << "pair.bmp" << QByteArray("not a bitmap") << "pai.ico" << QByteArray() << false << kAbout << QSize() << 3;
    }
    void marksInOrder() {
        QFETCH(QString, first);
        QFETCH(QByteArray, firstContent);
        QFETCH(QString, second);
        QFETCH(QByteArray, secondContent);
        QFETCH(bool, memoShown);
        QFETCH(QString, memoText);
        QFETCH(QSize, pictureSize);
        QFETCH(int, boxes);
        const QString sub = QString("pair-%1").arg(QTest::currentDataTag()).left(30);
        write(sub + "/" + first, firstContent);
        write(sub + "/" + second, secondContent);
        TMainForm& form = searched(sub, "pair");
        toggleViewer(form);
        const int upper = rowOf(form, first);
        const int lower = rowOf(form, second);
        QVERIFY2(upper > 0 && lower > upper, "the search ranks the first file higher");
        BoxWatcher watcher(QMessageBox::Ok, describedWith(form));
        clickRow(form, upper);
        clickRow(form, lower, Qt::ControlModifier);
        QCOMPARE(watcher.boxes, QStringList(boxes, kBoxSeen));
        QCOMPARE(form.viewer().mFileViewer()->isVisible(), memoShown);
        QCOMPARE(form.viewer().mFileViewer()->toPlainText(), memoText);
        QCOMPARE(shownPicture(form).size(), pictureSize.isValid() ? pictureSize : QSize(0, 0));
    }

    void failingPicture_keepsThePreviousOne() {
        write("keep/x.icons", bitmap(16, 8, kRed));
        write("keep/icons.bmp", bitmap(16, 8));
        TMainForm& form = searched("keep", "icons");
        toggleViewer(form);
        BoxWatcher watcher(QMessageBox::Ok, describedWith(form));
        clickRow(form, rowOf(form, "icons.bmp"));
        QVERIFY(watcher.boxes.isEmpty());
        clickRow(form, rowOf(form, "x.icons"));
        QCOMPARE(watcher.boxes, QStringList{kBoxSeen});
        QVERIFY(!form.viewer().mFileViewer()->isVisible());
        QCOMPARE(shownPicture(form).pixel(2, 2), kBlue);
        // The picture box shows it at its own size from the top left.
        const QImage pane = form.viewer().pFileViewer()->grab().toImage();
        QCOMPARE(pane.pixel(0, 0), kBlue);
        QCOMPARE(pane.pixel(15, 7), kBlue);
        QVERIFY(pane.pixel(16, 8) != kBlue);
    }

    // A picture larger than the pane is cut at its edges: the pane keeps its
    // height and the window its size.
    void largePicture_isCutNotScaled() {
        QImage image(3000, 2000, QImage::Format_RGB32);
        image.fill(kBlue);
        image.setPixel(0, 0, kRed);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "bmp").write(image);
        write("large/large.bmp", bytes);
        TMainForm& form = searched("large", "large.bmp");
        toggleViewer(form);
        QTRY_COMPARE(form.viewer().pFileViewer()->height(), 160);
        const QSize window = form.size();
        const QSize pane = form.viewer().pFileViewer()->size();
        clickRow(form, rowOf(form, "large.bmp"));
        QApplication::processEvents();
        QCOMPARE(form.size(), window);
        QCOMPARE(form.viewer().pFileViewer()->size(), pane);
        const QImage shown = form.viewer().pFileViewer()->grab().toImage();
        QCOMPARE(shown.pixel(0, 0), kRed);
        QCOMPARE(shown.pixel(1, 0), kBlue);
        QCOMPARE(shown.pixel(shown.width() - 1, shown.height() - 1), kBlue);
    }

    // --- the memo ------------------------------------------------------------

    // The horizontal bar must reach the end of the widest line, also of a line
    // far too long to be measured when the text is set.
    void memo_scrollsToTheEndOfTheWidestLine_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("widest");
        QTest::newRow("short lines") << "abc\n" + QString(300, 'W') + "\nxyz" << 1;
        // More than 16 lines longer than the widest one, which is only found
        // when it is painted.
        QTest::newRow("wide glyphs beat many narrow ones")
            << QString(30, 'W') + (QChar('\n') + QString(60, 'i')).repeated(20) << 0;
        QTest::newRow("one line of 300000") << QString(300000, 'm') << 0;
        QTest::newRow("long line of wide glyphs in the middle")
            << "a\n" + QString(100000, 'W') + "\n" + QString(120000, 'i') << 1;
    }
    void memo_scrollsToTheEndOfTheWidestLine() {
        QFETCH(QString, text);
        QFETCH(int, widest);
        TextMemo memo;
        memo.resize(300, 120);
        memo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&memo));
        memo.setPlainText(text);
        const qreal width = QFontMetricsF(memo.font()).horizontalAdvance(text.split('\n')[widest]);
        // End scrolls right; painting there may find the line wider still.
        int maximum = -1;
        for (int round = 0; round < 100 && maximum != memo.horizontalScrollBar()->maximum(); ++round) {
            maximum = memo.horizontalScrollBar()->maximum();
            QTest::keyClick(&memo, Qt::Key_End);
            memo.viewport()->repaint();
            QApplication::processEvents();
        }
        QVERIFY2(maximum + memo.viewport()->width() >= width,
                 qPrintable(QString("%1 + %2 < %3").arg(maximum).arg(memo.viewport()->width()).arg(width)));
        QCOMPARE(memo.horizontalScrollBar()->value(), maximum);
    }

    void memo_selectsAndCopies_data() {
        QTest::addColumn<QPoint>("from"); // (column, line)
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<QString>("selected");
        QTest::newRow("down over a line end") << QPoint(0, 0) << QPoint(2, 1) << "alpha\nbe";
        QTest::newRow("upwards") << QPoint(2, 1) << QPoint(1, 0) << "lpha\nbe";
        QTest::newRow("within a line") << QPoint(1, 2) << QPoint(4, 2) << "amm";
        QTest::newRow("a click selects nothing") << QPoint(3, 1) << QPoint(3, 1) << "";
        QTest::newRow("below the last line: on the last line") << QPoint(3, 2) << QPoint(1, 9) << "am";
    }
    void memo_selectsAndCopies() {
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(QString, selected);
        TextMemo memo;
        memo.resize(300, 200);
        memo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&memo));
        memo.setPlainText("alpha\nbeta\ngamma");
        const QFontMetricsF metrics(memo.font());
        const int lineHeight = qCeil(metrics.lineSpacing());
        // Just right of the column's left edge, in the middle of the line.
        auto at = [&](QPoint cell) {
            return QPoint(qRound(3 + memo.advanceTo(std::min(cell.y(), 2), cell.x())),
                          3 + cell.y() * lineHeight + lineHeight / 2);
        };
        QApplication::clipboard()->setText("before");
        QTest::mousePress(memo.viewport(), Qt::LeftButton, Qt::NoModifier, at(from));
        QMouseEvent move(QEvent::MouseMove, at(to), memo.viewport()->mapToGlobal(at(to)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(memo.viewport(), &move);
        QTest::mouseRelease(memo.viewport(), Qt::LeftButton, Qt::NoModifier, at(to));
        QCOMPARE(memo.selectedText(), selected);
        QTest::keyClick(&memo, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), selected.isEmpty() ? QString("before") : selected);
        QTest::keyClick(&memo, Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(memo.selectedText(), memo.toPlainText());
    }
};

} // namespace toka::test

QTEST_MAIN(toka::test::TestViewer)
#include "test_viewer_pane.moc"
