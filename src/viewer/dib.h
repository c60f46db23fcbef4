#pragma once
// Device-independent bitmaps as metafiles embed them: a bitmap info header,
// the colour table and the pixels, without the 14-byte file header of a .bmp
// file.  Decoded by Qt's BMP reader after the header has been checked against
// the bytes and the size limits, and the missing file header put in front.

#include <QImage>
#include <QRgb>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "viewer/load_result.h"

namespace toka {

struct DibLimits {
    int maxSide = 8192;
    std::int64_t maxPixels = std::int64_t{16} * 1024 * 1024;
};

struct DecodedDib {
    QImage image;
    /// True for the usual bottom-up row order (positive height): source
    /// rectangles of some records count rows from the bottom then.
    bool bottomUp = true;
};

/// Decodes the bitmap at data[0, size).  With `paletteIndices` the colour
/// table holds 16-bit indices into `palette` (an index beyond it is black)
/// instead of RGB quads.  Fails on a header or colour table cut short, pixel
/// data shorter than an uncompressed bitmap needs, a side or pixel count
/// above the limits, and on any format Qt's reader does not take (JPEG and
/// PNG payloads included).
LoadResult<DecodedDib> decodeDib(const std::uint8_t* data, std::size_t size, const DibLimits& limits,
                                 bool paletteIndices = false, const std::vector<QRgb>& palette = {});

} // namespace toka
