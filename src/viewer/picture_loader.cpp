#include "viewer/picture_loader.h"

#include <QByteArray>
#include <QFile>
#include <QImageReader>

#include "viewer/regular_file.h"
#include "viewer/wmf_player.h"

namespace toka {

namespace {

// No real metafile comes near this; it bounds what a hostile one can make
// the viewer read into memory.
constexpr std::size_t kMaxMetafileBytes = std::size_t{64} << 20;

/// The last component's extension in lower case ("" without a dot).
QByteArray extensionOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return QByteArray(path.data() + dot + 1, qsizetype(path.size() - dot - 1)).toLower();
}

} // namespace

LoadResult<QImage> loadPicture(const std::string& path) {
    using Result = LoadResult<QImage>;
    const QString shownPath = QString::fromUtf8(path.data(), qsizetype(path.size()));
    const QByteArray extension = extensionOf(path);
    if (extension != "bmp" && extension != "ico" && extension != "wmf")
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

    QFile file;
    if (!file.open(fd.value().get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return Result::failure(QStringLiteral("%1: %2").arg(shownPath, file.errorString()));
    fd.value().release(); // the QFile closes it now
    QImageReader reader(&file, extension);
    // Forced to the extension's format: never guessed from the content.
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    QImage image = reader.read();
    if (image.isNull()) return Result::failure(QStringLiteral("%1: %2").arg(shownPath, reader.errorString()));
    return Result::success(std::move(image));
}

} // namespace toka
