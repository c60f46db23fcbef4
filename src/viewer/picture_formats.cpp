#include "viewer/picture_formats.h"

#include <QImageReader>

#include <atomic>

#include "viewer/viewer_extension.h"

namespace toka {

namespace {

std::atomic<PictureFormats> g_formats{PictureFormats::Designed};

} // namespace

void setViewerPictureFormats(PictureFormats formats) {
    if (formats == PictureFormats::EveryReadable) readableImageFormats();
    g_formats.store(formats);
}

PictureFormats viewerPictureFormats() { return g_formats.load(); }

const QList<QByteArray>& readableImageFormats() {
    static const QList<QByteArray> formats = [] {
        QList<QByteArray> readable;
        for (const QByteArray& format : QImageReader::supportedImageFormats()) {
            const QByteArray name = format.toLower();
            if (name != "bmp" && name != "ico" && !readable.contains(name)) readable.append(name);
        }
        return readable;
    }();
    return formats;
}

QByteArray pictureExtension(std::string_view path) {
    const std::size_t dot = path.rfind('.');
    const std::size_t slash = path.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    return QByteArray(path.data() + dot + 1, qsizetype(path.size() - dot - 1)).toLower();
}

bool isViewerPicture(std::string_view path, PictureFormats formats) {
    if (isPictureExtension(viewerExtension(path))) return true;
    return formats == PictureFormats::EveryReadable && readableImageFormats().contains(pictureExtension(path));
}

} // namespace toka
