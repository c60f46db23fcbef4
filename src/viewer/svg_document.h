#pragma once
// An SVG drawing made safe to hand to Qt's SVG reader: bounded in size, and
// kept from reaching outside itself.  Qt's reader inflates a compressed
// drawing without any bound (2 MB of .svgz can ask for gigabytes), and it
// opens the file named by an <image> element, which blocks for good on a
// FIFO; so the drawing is inflated here, within a limit, and one that names
// any outside file is refused.

#include <QByteArray>

#include <cstddef>

#include "viewer/load_result.h"

namespace toka {

/// The SVG text of a drawing: `bytes` as they stand, or inflated from gzip
/// when `compressed` (.svgz).  Fails when the text is longer than `limit`
/// bytes, when the gzip data is damaged or cut short, or when the drawing
/// refers to a resource other than itself or inline data (an attribute
/// "href", with any prefix, that is neither "#fragment" nor a "data:" URL),
/// and when it is not well-formed XML.  Errors name the cause only; the
/// caller adds the path.
LoadResult<QByteArray> safeSvgText(const QByteArray& bytes, bool compressed, std::size_t limit);

} // namespace toka
