// Pictures by the file's own extension, and the wmf2png tool around them.

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <ostream>
#include <string>

#include "../support/process.h"
#include "../support/temp_tree.h"
#include "metafile_writer.h"
#include "viewer/picture_loader.h"

namespace toka::test {
namespace {

QByteArray encoded(const char* format) {
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(qRgb(0, 128, 255));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(QImageWriter(&buffer, format).write(image)) << format;
    return bytes;
}

QByteArray metafile() {
    MetafileWriter m;
    m.createPen(5, 0, 0).selectObject(0).createBrush(0, colorRef(255, 0, 0)).selectObject(1);
    return m.rectangle(0, 0, 10, 10).placeable(0, 0, 40, 20, 96);
}

class PictureFiles : public ::testing::Test {
protected:
    std::string path(const char* name) const { return m_dir / name; }
    std::string write(const char* name, const QByteArray& bytes) const {
        writeFile(m_dir / name, bytes.toStdString());
        return m_dir / name;
    }
    TempTree m_dir;
};

struct ByNameCase {
    std::string name;
    const char* fileName;
    QByteArray (*content)();
    bool loads;
    QSize size;
};

void PrintTo(const ByNameCase& c, std::ostream* os) { *os << c.name; }

class PictureByName : public PictureFiles, public ::testing::WithParamInterface<ByNameCase> {};

TEST_P(PictureByName, ExtensionDecides) {
    const ByNameCase& c = GetParam();
    const auto picture = loadPicture(write(c.fileName, c.content()));
    EXPECT_EQ(picture.ok(), c.loads) << picture.error().toStdString();
    if (picture.ok() && c.loads) {
        EXPECT_EQ(picture.value().size(), c.size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PictureByName,
    ::testing::Values(ByNameCase{"bmp", "a.bmp", [] { return encoded("bmp"); }, true, {16, 8}},
                      ByNameCase{"bmp_mixed_case", "a.Bmp", [] { return encoded("bmp"); }, true, {16, 8}},
                      ByNameCase{"ico", "i.ico", [] { return encoded("ico"); }, true, {16, 8}},
                      ByNameCase{"ico_upper_case", "I.ICO", [] { return encoded("ico"); }, true, {16, 8}},
                      ByNameCase{"wmf_upper_case", "A.WMF", metafile, true, {40, 20}},
                      // Forced to the extension's format: the content is not sniffed.
                      ByNameCase{"png_named_bmp", "photo.bmp", [] { return encoded("png"); }, false, {}},
                      ByNameCase{"bmp_named_ico", "fake.ico", [] { return encoded("bmp"); }, false, {}},
                      ByNameCase{"bmp_named_wmf", "fake.wmf", [] { return encoded("bmp"); }, false, {}},
                      ByNameCase{"wmf_named_bmp", "fake.bmp", metafile, false, {}},
                      // Only the exact extensions: the window routes "x.icons" here on its
                      // first four characters, and it fails.
                      ByNameCase{"longer_extension", "x.icons", [] { return encoded("ico"); }, false, {}},
                      ByNameCase{"bmpx", "x.bmpx", [] { return encoded("bmp"); }, false, {}},
                      ByNameCase{"no_extension", "bmp", [] { return encoded("bmp"); }, false, {}},
                      ByNameCase{"damaged_bmp", "cut.bmp", [] { return encoded("bmp").left(30); }, false, {}},
                      ByNameCase{"damaged_wmf", "cut.wmf", [] { return metafile().left(50); }, false, {}}),
    [](const auto& test) { return test.param.name; });

// The extension is that of the last path component only, and only a file is
// read: a FIFO fails at once instead of waiting for a writer.
TEST_F(PictureFiles, OnlyFilesNamedForTheirFormatLoad) {
    write("pictures.bmp/plain", encoded("bmp"));
    ASSERT_EQ(::mkfifo(path("pipe.wmf").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo(path("pipe.bmp").c_str(), 0644), 0);
    QElapsedTimer timer;
    timer.start();
    for (const char* name : {"pictures.bmp/plain", "pictures.bmp", "pipe.wmf", "pipe.bmp", "missing.bmp"})
        EXPECT_FALSE(loadPicture(path(name)).ok()) << name;
    EXPECT_LT(timer.elapsed(), 1000);
}

ProgramRun wmf2png(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {TOKA_TOOLS_DIR "/wmf2png"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProgram(argv);
}

TEST_F(PictureFiles, Wmf2pngWritesThePicture) {
    const std::string out = path("out.png");
    const ProgramRun written = wmf2png({write("in.wmf", metafile()), out});
    EXPECT_EQ(written.status, 0) << written.err;
    const QImage png(QString::fromStdString(out));
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), QSize(40, 20));
    EXPECT_EQ(png.pixel(5, 5), qRgb(255, 0, 0));
}

TEST_F(PictureFiles, Wmf2pngReportsADamagedFileOnOneLine) {
    const ProgramRun damaged = wmf2png({write("bad.wmf", metafile().left(47)), path("out.png")});
    EXPECT_EQ(damaged.status, 1);
    ASSERT_FALSE(damaged.err.empty());
    EXPECT_EQ(damaged.err.find('\n'), damaged.err.size() - 1) << damaged.err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("out.png"))));
}

TEST_F(PictureFiles, Wmf2pngUsage) {
    EXPECT_EQ(wmf2png({}).status, 2);
    EXPECT_EQ(wmf2png({"only-one.wmf"}).status, 2);
}

} // namespace
} // namespace toka::test
