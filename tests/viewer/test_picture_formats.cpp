// Every picture Qt reads here, on request: which names the viewer takes for
// pictures, each format good, damaged and under a lying name, and the bounds
// that keep a hostile drawing from hanging or flooding the viewer.

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <zlib.h>

#include <ostream>
#include <string>

#include "viewer/picture_loader.h"

namespace toka::test {
namespace {

constexpr QRgb kBlue = qRgb(0, 128, 255);

QByteArray written(const char* format) {
    QImage image(16, 8, QImage::Format_RGB32);
    image.fill(kBlue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(QImageWriter(&buffer, format).write(image)) << format;
    return bytes;
}

// Qt writes neither GIF nor TGA nor SVG: these are made by hand.
QByteArray gif() { // one red pixel
    return QByteArray("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                      ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                      35);
}

QByteArray tga() { // uncompressed, 24 bits, top row first
    QByteArray bytes("\x00\x00\x02\x00\x00\x00\x00\x00\x00\x00\x00\x00\x10\x00\x08\x00\x18\x20", 18);
    for (int i = 0; i < 16 * 8; ++i) bytes.append("\xff\x80\x00", 3); // blue, green, red
    // Qt reads only version 2 files, which end in this footer.
    return bytes + QByteArray(8, '\0') + QByteArray("TRUEVISION-XFILE.", 18);
}

QByteArray svg(int width = 16, int height = 8, const QByteArray& inside = {}) {
    return "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='"
           + QByteArray::number(width) + "' height='" + QByteArray::number(height) + "'>"
           + "<rect width='100%' height='100%' fill='#0080ff'/>" + inside + "</svg>";
}

QByteArray gzipped(const QByteArray& bytes) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

class PictureFiles : public ::testing::Test {
protected:
    std::string path(const std::string& name) const {
        return m_dir.filePath(QString::fromStdString(name)).toStdString();
    }
    std::string write(const std::string& name, const QByteArray& bytes) const {
        QFile file(QString::fromStdString(path(name)));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path(name);
    }
    QTemporaryDir m_dir;
};

struct NameCase {
    const char* path;
    bool designed;      ///< a picture as designed
    bool everyReadable; ///< a picture with every readable format
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.path; }

class PictureName : public ::testing::TestWithParam<NameCase> {};

TEST_P(PictureName, DecidedOnTheName) {
    const NameCase& c = GetParam();
    EXPECT_EQ(isViewerPicture(c.path, PictureFormats::Designed), c.designed);
    EXPECT_EQ(isViewerPicture(c.path, PictureFormats::EveryReadable), c.everyReadable);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PictureName,
    ::testing::Values(NameCase{"/t/a.Bmp", true, true}, NameCase{"/t/A.WMF", true, true},
                      // The designed four-character rule holds in both: a picture that then fails.
                      NameCase{"/t/x.icons", true, true},
                      // The whole extension counts for the added formats, past four characters too.
                      NameCase{"/t/PHOTO.JPEG", false, true}, NameCase{"/t/p.svgz", false, true},
                      NameCase{"/t/x.pngs", false, false}, NameCase{"/t/x.pn", false, false},
                      NameCase{"/t/report.png.txt", false, false}, NameCase{"/t/a.png/README", false, false},
                      NameCase{"/t/png", false, false}),
    [](const auto& test) {
        std::string name;
        for (const char c : std::string(test.param.path).substr(3)) name += std::isalnum(c) ? c : '_';
        return name;
    });

struct FormatCase {
    const char* extension;
    QByteArray (*good)();
    QSize size;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.extension; }

class PictureFormat : public PictureFiles, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(PictureFormat, GoodDamagedAndMisnamed) {
    const FormatCase& c = GetParam();
    // The packages that install-deps names bring every one of these.
    ASSERT_TRUE(readableImageFormats().contains(c.extension)) << "no Qt reader for " << c.extension;
    const QByteArray good = c.good();
    const std::string name = std::string("picture.") + c.extension;
    const std::string file = write(name, good);

    const auto picture = loadPicture(file, PictureFormats::EveryReadable);
    ASSERT_TRUE(picture.ok()) << picture.error().toStdString();
    EXPECT_EQ(picture.value().size(), c.size);
    // As designed, the same file is no picture.
    EXPECT_FALSE(loadPicture(file, PictureFormats::Designed).ok());
    // Upper case names the same format.
    std::string upper = "PICTURE.";
    for (const char* e = c.extension; *e; ++e) upper += char(std::toupper(*e));
    EXPECT_TRUE(loadPicture(write(upper, good), PictureFormats::EveryReadable).ok());

    // Cut inside its header: a load failure, as a damaged bitmap is.
    EXPECT_FALSE(
        loadPicture(write("damaged." + std::string(c.extension), good.left(12)), PictureFormats::EveryReadable).ok());
    // Read by the named format only: another format's content fails.
    const QByteArray other = std::string(c.extension) == "png" ? written("bmp") : written("png");
    EXPECT_FALSE(loadPicture(write("lying." + std::string(c.extension), other), PictureFormats::EveryReadable).ok());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, PictureFormat,
    ::testing::Values(FormatCase{"png", [] { return written("png"); }, {16, 8}},
                      FormatCase{"jpg", [] { return written("jpg"); }, {16, 8}},
                      FormatCase{"jpeg", [] { return written("jpeg"); }, {16, 8}}, FormatCase{"gif", gif, {1, 1}},
                      FormatCase{"webp", [] { return written("webp"); }, {16, 8}},
                      FormatCase{"tif", [] { return written("tif"); }, {16, 8}},
                      FormatCase{"tiff", [] { return written("tiff"); }, {16, 8}},
                      FormatCase{"svg", [] { return svg(); }, {16, 8}},
                      FormatCase{"svgz", [] { return gzipped(svg()); }, {16, 8}}, FormatCase{"tga", tga, {16, 8}},
                      FormatCase{"cur", [] { return written("cur"); }, {16, 8}},
                      FormatCase{"icns", [] { return written("icns"); }, {16, 16}}, // square sizes only,
                      FormatCase{"wbmp", [] { return written("wbmp"); }, {16, 8}},
                      FormatCase{"pbm", [] { return written("pbm"); }, {16, 8}},
                      FormatCase{"pgm", [] { return written("pgm"); }, {16, 8}},
                      FormatCase{"ppm", [] { return written("ppm"); }, {16, 8}},
                      FormatCase{"xbm", [] { return written("xbm"); }, {16, 8}},
                      FormatCase{"xpm", [] { return written("xpm"); }, {16, 8}}),
    [](const auto& test) { return std::string(test.param.extension); });

struct HostileCase {
    std::string name;
    const char* fileName;
    QByteArray (*content)(const std::string& fifo);
    QSize size; ///< invalid: the load fails
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

class HostileDrawing : public PictureFiles, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileDrawing, BoundedOrRefused) {
    const HostileCase& c = GetParam();
    const std::string fifo = path("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const auto picture = loadPicture(write(c.fileName, c.content(fifo)), PictureFormats::EveryReadable);
    EXPECT_EQ(picture.ok(), c.size.isValid()) << picture.error().toStdString();
    if (picture.ok()) {
        EXPECT_EQ(picture.value().size(), c.size);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drawings, HostileDrawing,
    ::testing::Values(
        // Qt's reader would allocate 160 GB for it and give up: drawn at the bound instead.
        HostileCase{"huge_drawing_scaled_down",
                    "huge.svg",
                    [](const std::string&) { return svg(200000, 100000); },
                    {4096, 2048}},
        // 20 KB that inflate to 17 MiB: Qt's reader would inflate any amount.
        HostileCase{"compressed_bomb",
                    "bomb.svgz",
                    [](const std::string&) { return gzipped(svg(16, 8, "<!--" + QByteArray(17 << 20, ' ') + "-->")); },
                    {}},
        // Qt's reader would open the FIFO and wait for a writer for good.
        HostileCase{
            "outside_file",
            "fifo.svg",
            [](const std::string& fifo) {
                return svg(16, 8, "<image xlink:href='" + QByteArray::fromStdString(fifo) + "' width='4' height='4'/>");
            },
            {}},
        HostileCase{"inline_data",
                    "inline.svg",
                    [](const std::string&) {
                        return svg(16, 8,
                                   "<image href='data:image/png;base64," + written("png").toBase64()
                                       + "' width='4' height='4'/>");
                    },
                    {16, 8}},
        HostileCase{"cut_gzip", "cut.svgz", [](const std::string&) { return gzipped(svg()).chopped(10); }, {}}),
    [](const auto& test) { return test.param.name; });

} // namespace
} // namespace toka::test
