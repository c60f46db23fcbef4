#pragma once
// Which files the viewer shows as pictures.  As designed: the three kinds
// whose extension is ".BMP", ".ICO" or ".WMF" on its first four characters
// (viewer_extension.h).  On request (tokasearch --all-pictures) also every
// file whose whole extension names a format that Qt's image readers take on
// this machine (PNG, JPEG, GIF, WebP, SVG, TIFF, ... as the installed
// image-format plugins allow); everything else stays text.

#include <QByteArray>
#include <QList>

#include <string_view>

namespace toka {

enum class PictureFormats {
    Designed,     ///< .bmp, .ico and .wmf only
    EveryReadable ///< those, and every format QImageReader reads here
};

/// The program's choice, for the rest of the run (Designed until set).  Set
/// it at start-up, before the window exists: EveryReadable loads Qt's
/// image-format plugins at once (readableImageFormats), so that no later
/// decision on the window's thread touches the file system.
void setViewerPictureFormats(PictureFormats formats);
PictureFormats viewerPictureFormats();

/// QImageReader::supportedImageFormats() in lower case, without "bmp" and
/// "ico" (read as designed); read once, on the first call, from the
/// installed image-format plugins.  Safe from any thread.
const QList<QByteArray>& readableImageFormats();

/// The whole extension of the last path component, a-z lower-cased: from
/// the last "." after the last "/" to the end ("" without one).
/// "/a.d/Photo.JPEG" gives "jpeg", "x.tar.gz" gives "gz".
QByteArray pictureExtension(std::string_view path);

/// The window's question: does the picture box load this file?  As designed
/// for ".BMP", ".ICO" and ".WMF" (on the first four characters of the
/// extension, so "x.icons" is a picture that then fails to load); with
/// EveryReadable also when the whole extension is one of
/// readableImageFormats().  Decided on the name alone, without any system
/// call once the formats are read.
bool isViewerPicture(std::string_view path, PictureFormats formats = viewerPictureFormats());

} // namespace toka
