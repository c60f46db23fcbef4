#pragma once
// Pictures for the file viewer: Windows bitmaps, icons and metafiles.

#include <QImage>
#include <QString>

#include <string>

#include "viewer/load_result.h"

namespace toka {

/// Loads the picture at `path` (bytes of a file name, as the walk hands them
/// out).  The kind comes from the file's own extension, the part after the
/// last "." of the last path component, compared without regard to case:
/// "bmp" is read by Qt's BMP reader, "ico" by its icon reader, both forced to
/// that format (a PNG named x.bmp fails); "wmf" is drawn by the metafile
/// player.  Any other extension ("bmpx", none) fails, as does anything that
/// is not a regular file (a FIFO fails at once, without blocking), a
/// metafile above 64 MiB, and every file its reader rejects.
LoadResult<QImage> loadPicture(const std::string& path);

} // namespace toka
