#pragma once
// Pictures for the file viewer: Windows bitmaps, icons and metafiles, and on
// request every format that Qt's image readers take here.

#include <QImage>
#include <QString>

#include <string>

#include "viewer/load_result.h"
#include "viewer/picture_formats.h"

namespace toka {

/// Loads the picture at `path` (bytes of a file name, as the walk hands them
/// out).  The kind comes from the file's own extension, the part after the
/// last "." of the last path component, compared without regard to case:
/// "bmp" is read by Qt's BMP reader, "ico" by its icon reader, both forced to
/// that format (a PNG named x.bmp fails); "wmf" is drawn by the metafile
/// player.  With EveryReadable, an extension that names one of
/// readableImageFormats() is read by that format's reader, forced likewise
/// (a JPEG named x.png fails); such a picture may take at most 256 MiB as
/// decoded pixels, an SVG drawing (.svg, or .svgz inflated) at most 16 MiB of
/// text and is drawn no larger than 4096 pixels on its longer side, scaled
/// down to fit, and a drawing that names any file outside itself is refused
/// (safeSvgText).  Any other extension ("bmpx", none) fails, as does anything
/// that is not a regular file (a FIFO fails at once, without blocking), a
/// metafile above 64 MiB, and every file its reader rejects.
LoadResult<QImage> loadPicture(const std::string& path, PictureFormats formats = viewerPictureFormats());

} // namespace toka
