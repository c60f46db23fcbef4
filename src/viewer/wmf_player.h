#pragma once
// The metafile player: draws the records of a Windows metafile with QPainter
// into an image of the picture's own size.
//
// Picture size.  With a placeable header, the bounding box in its units per
// inch at 96 dots per inch (a 1440-units-per-inch box 2880 wide is 192
// pixels), and the window starts out as that box.  Without one, the first
// window extent the file sets, one pixel per logical unit; a plain file that
// sets none has no size and fails.
//
// Coordinates.  The file's window (origin, extent) maps onto the viewport,
// which starts out as the whole image; map modes, window and viewport
// records change the mapping as a drawing device would.  Points are rounded
// to whole pixels as on such a device, and kept within +-2^21 pixels so that
// no hostile scale pushes the rasteriser past its fixed-point range.
//
// What is drawn: lines, polylines, polygons, poly-polygons, rectangles,
// rounded rectangles, ellipses, arcs, pies, chords, pixels, pattern blits,
// text (plain and extended, with alignment, escapement, opaque background
// and per-character advances), device-independent bitmaps (stretched and plain),
// with pens, brushes (solid, hatched, bitmap patterns), fonts and palettes
// from the object table, clip rectangles and a saved-state stack.  Regions,
// flood fills, raster operations other than copying and escapes are skipped,
// as is every record the player does not know.
//
// A file fails when a header is damaged, a record overruns the file or its
// own length, a count does not fit the bytes that carry it, or a limit below
// is hit; a damaged bitmap inside an otherwise sound file is only skipped.
// Text needs a QGuiApplication (fonts); without one, text records are
// skipped rather than risking Qt's abort.

#include <QByteArray>
#include <QImage>

#include <cstddef>
#include <cstdint>

#include "viewer/load_result.h"

namespace toka {

struct MetafileLimits {
    /// Width and height of the picture, and of any embedded bitmap.
    int maxSide = 8192;
    /// 16 Mpixel is a 64 MB image; larger pictures fail.
    std::int64_t maxPixels = std::int64_t{16} * 1024 * 1024;
    /// A real-world drawing with half a million records plays in about a
    /// second; four million trivial ones still do.
    std::size_t maxRecords = std::size_t{1} << 22;
    int maxSaveDepth = 1024;
    /// Exclusions beyond this many clip rectangles are ignored, since every
    /// one makes the clip region and each later drawing slower.
    int maxClipRects = 1024;
    /// Work budget, in units of about a nanosecond on the raster engine:
    /// the visible area of every fill and stroke (eight per pixel for
    /// hatched and bitmap brushes), a charge per drawing, point and
    /// character, more for large glyphs and huge curves.  2^30 is about a
    /// second; a file that needs more fails instead of freezing the window.
    /// The same for every picture size: a small picture can take as long.
    std::int64_t workBudget = std::int64_t{1} << 30;
};

/// Draws the metafile in `data` (with or without placeable header) onto a
/// transparent ARGB32 premultiplied image of the picture's size.  Returns
/// the image, or a failure with a one-line reason ("record at byte 84 states
/// 900 words, only 20 bytes left").  Never reads outside `data`.
LoadResult<QImage> loadMetafile(const QByteArray& data, const MetafileLimits& limits = {});

} // namespace toka
