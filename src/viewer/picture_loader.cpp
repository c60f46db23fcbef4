#include "viewer/picture_loader.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include "viewer/regular_file.h"
#include "viewer/svg_document.h"
#include "viewer/wmf_player.h"

namespace toka {

namespace {

// No real metafile comes near this; it bounds what a hostile one can make
// the viewer read into memory.
constexpr std::size_t kMaxMetafileBytes = std::size_t{64} << 20;

// The formats read through Qt's plugins: a picture of 8192 x 8192 pixels at
// four bytes each (a 50-megapixel photo fits), whatever its header claims.
constexpr int kMaxDecodedMiB = 256;
constexpr qint64 kMaxPixels = (qint64{kMaxDecodedMiB} << 20) / 4;
// Drawings: a few hundred KiB is usual, and Qt's SVG reader holds the whole
// document tree in memory; a drawing is never made larger than the pane
// can sensibly show.
constexpr std::size_t kMaxDrawingBytes = std::size_t{16} << 20;
constexpr int kMaxDrawingSide = 4096;

using Result = LoadResult<QImage>;

Result failed(const QString& shownPath, const QString& cause) {
    return Result::failure(QStringLiteral("%1: %2").arg(shownPath, cause));
}

/// Reads with `reader`, forced to its format and within the bounds above.
Result readBounded(QImageReader& reader, const QString& shownPath, bool drawing) {
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(kMaxDecodedMiB);
    const QSize size = reader.size(); // from the header; invalid when the reader cannot tell
    if (drawing) {
        if (size.width() > kMaxDrawingSide || size.height() > kMaxDrawingSide)
            reader.setScaledSize(size.scaled(kMaxDrawingSide, kMaxDrawingSide, Qt::KeepAspectRatio));
    } else if (size.isValid() && qint64(size.width()) * size.height() > kMaxPixels) {
        return failed(
            shownPath,
            QStringLiteral("%1 x %2 pixels, more than the viewer decodes").arg(size.width()).arg(size.height()));
    }
    QImage image = reader.read();
    if (image.isNull()) return failed(shownPath, reader.errorString());
    return Result::success(std::move(image));
}

} // namespace

LoadResult<QImage> loadPicture(const std::string& path, PictureFormats formats) {
    const QString shownPath = QString::fromUtf8(path.data(), qsizetype(path.size()));
    const QByteArray extension = pictureExtension(path);
    const bool designed = extension == "bmp" || extension == "ico" || extension == "wmf";
    const bool readable =
        !designed && formats == PictureFormats::EveryReadable && readableImageFormats().contains(extension);
    if (!designed && !readable)
        return Result::failure(QStringLiteral("%1: not a bitmap, icon or metafile name").arg(shownPath));

    auto fd = openRegularFile(path);
    if (!fd) return Result::failure(fd.error());

    if (extension == "wmf") {
        bool tooLong = false;
        auto bytes = readUpTo(fd.value().get(), path, kMaxMetafileBytes, false, tooLong);
        if (!bytes) return Result::failure(bytes.error());
        if (tooLong) return Result::failure(QStringLiteral("%1: metafile larger than 64 MiB").arg(shownPath));
        auto image = loadMetafile(bytes.value());
        if (!image) return Result::failure(QStringLiteral("%1: %2").arg(shownPath, image.error()));
        return image;
    }

    if (extension == "svg" || extension == "svgz") {
        bool tooLong = false;
        auto bytes = readUpTo(fd.value().get(), path, kMaxDrawingBytes, false, tooLong);
        if (!bytes) return Result::failure(bytes.error());
        if (tooLong) return failed(shownPath, QStringLiteral("drawing larger than 16 MiB"));
        auto text = safeSvgText(bytes.value(), extension == "svgz", kMaxDrawingBytes);
        if (!text) return failed(shownPath, text.error());
        QBuffer buffer(&text.value());
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer, "svg");
        return readBounded(reader, shownPath, true);
    }

    QFile file;
    if (!file.open(fd.value().get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return Result::failure(QStringLiteral("%1: %2").arg(shownPath, file.errorString()));
    fd.value().release(); // the QFile closes it now
    QImageReader reader(&file, extension);
    if (readable) return readBounded(reader, shownPath, false);
    // Forced to the extension's format: never guessed from the content.
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    QImage image = reader.read();
    if (image.isNull()) return Result::failure(QStringLiteral("%1: %2").arg(shownPath, reader.errorString()));
    return Result::success(std::move(image));
}

} // namespace toka
