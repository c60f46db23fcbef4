// The records that draw lines, shapes and bitmaps.  Each reads its whole
// parameter block, fails the record when a parameter is missing, and draws
// through the painting primitives (which charge the work budget).

#include <QPainterPath>
#include <QPolygon>

#include <cmath>
#include <numbers>

#include "viewer/wmf_playback.h"

namespace toka::wmf {

bool Player::lineTo(ParamReader& in, const Record&) {
    const double y = in.s16();
    const double x = in.s16();
    if (in.failed()) return false;
    QPainterPath path(toDevice(m_dc.position.x(), m_dc.position.y()));
    path.lineTo(toDevice(x, y));
    m_dc.position = QPointF(x, y);
    return drawShape(path, false);
}

bool Player::polygonRecord(ParamReader& in, const Record& record) {
    const bool closed = record.function == Polygon;
    const std::int16_t count = in.s16();
    if (in.failed() || count < 0 || in.remaining() / 4 < std::size_t(count)) return false;
    if (!spend(kWorkPerDrawing + kWorkPerPoint * std::int64_t{count})) return false;
    QPolygon points(count);
    for (int i = 0; i < count; ++i) {
        const double x = in.s16();
        const double y = in.s16();
        points[i] = toDevice(x, y);
    }
    if (count == 0) return true;
    QPainterPath path;
    path.setFillRule(m_dc.polyFillMode == Winding ? Qt::WindingFill : Qt::OddEvenFill);
    path.addPolygon(points);
    if (closed) path.closeSubpath();
    return drawShape(path, closed);
}

bool Player::polyPolygonRecord(ParamReader& in, const Record&) {
    const std::uint16_t polygons = in.u16();
    if (in.failed() || in.remaining() / 2 < polygons) return false;
    const std::uint8_t* countBytes = in.take(std::size_t{polygons} * 2);
    ParamReader counts(countBytes, std::size_t{polygons} * 2);
    std::size_t total = 0;
    for (int i = 0; i < polygons; ++i) total += counts.u16();
    if (in.remaining() / 4 < total) return false;
    if (!spend(kWorkPerDrawing + kWorkPerPoint * std::int64_t(total))) return false;
    QPainterPath path;
    path.setFillRule(m_dc.polyFillMode == Winding ? Qt::WindingFill : Qt::OddEvenFill);
    counts = ParamReader(countBytes, std::size_t{polygons} * 2);
    for (int i = 0; i < polygons; ++i) {
        const int count = counts.u16();
        QPolygon points(count);
        for (int j = 0; j < count; ++j) {
            const double x = in.s16();
            const double y = in.s16();
            points[j] = toDevice(x, y);
        }
        path.addPolygon(points);
        path.closeSubpath();
    }
    if (total == 0) return true;
    return drawShape(path, true);
}

bool Player::boxRecord(ParamReader& in, const Record& record) {
    double cornerHeight = 0;
    double cornerWidth = 0;
    if (record.function == RoundRect) {
        cornerHeight = in.s16();
        cornerWidth = in.s16();
    }
    const int bottom = in.s16();
    const int right = in.s16();
    const int top = in.s16();
    const int left = in.s16();
    if (in.failed()) return false;
    const QRect rect = toDeviceRect(left, top, right, bottom);
    if (record.function == Rectangle) return drawRectangle(rect);
    QPainterPath path;
    const QRectF shape = QRectF(rect).adjusted(0, 0, -1, -1);
    if (record.function == Ellipse) path.addEllipse(shape);
    else path.addRoundedRect(shape, deviceWidth(cornerWidth) / 2, deviceHeight(cornerHeight) / 2);
    return drawShape(path, true);
}

bool Player::arcRecord(ParamReader& in, const Record& record) {
    const std::uint16_t function = record.function;
    const double yEnd = in.s16();
    const double xEnd = in.s16();
    const double yStart = in.s16();
    const double xStart = in.s16();
    const int bottom = in.s16();
    const int right = in.s16();
    const int top = in.s16();
    const int left = in.s16();
    if (in.failed()) return false;
    const QRectF rect = QRectF(toDeviceRect(left, top, right, bottom)).adjusted(0, 0, -1, -1);
    if (!spend(kWorkPerDrawing)) return false;
    if (rect.width() <= 0 || rect.height() <= 0) return true;
    // The radials through the start and end points meet the ellipse at
    // these parametric angles; the arc runs counterclockwise from the one
    // to the other, a full turn when they coincide.
    const QPointF centre = rect.center();
    auto angleOf = [&](double x, double y) {
        const QPointF p = toDevice(x, y);
        const double dx = (p.x() - centre.x()) / (rect.width() / 2);
        const double dy = (centre.y() - p.y()) / (rect.height() / 2);
        return (dx == 0 && dy == 0) ? 0.0 : std::atan2(dy, dx) * 180.0 / std::numbers::pi;
    };
    const double start = angleOf(xStart, yStart);
    double sweep = angleOf(xEnd, yEnd) - start;
    while (sweep <= 0) sweep += 360;
    QPainterPath path;
    if (function == Pie) path.moveTo(centre);
    else path.arcMoveTo(rect, start);
    path.arcTo(rect, start, sweep);
    if (function != Arc) path.closeSubpath();
    return drawShape(path, function != Arc);
}

bool Player::setPixel(ParamReader& in, const Record&) {
    const std::uint32_t colorRef = in.u32();
    const int y = in.s16();
    const int x = in.s16();
    if (in.failed()) return false;
    if (!spend(kWorkPerDrawing)) return false;
    applyClip();
    m_painter.fillRect(QRect(toDevice(x, y), QSize(1, 1)), color(colorRef));
    return true;
}

bool Player::patBltRecord(ParamReader& in, const Record&) {
    const std::uint32_t rop = in.u32();
    const int height = in.s16();
    const int width = in.s16();
    const int y = in.s16();
    const int x = in.s16();
    if (in.failed()) return false;
    return patBlt(rop, toDeviceRect(x, y, x + width, y + height));
}

bool Player::bitmapRecord(ParamReader& in, const Record& record) {
    const std::uint16_t function = record.function;
    // The blits exist without a bitmap, as pattern fills, recognised by the
    // size the format fixes for that form.
    const bool hasBitmap = record.sizeInWords != std::uint32_t(function >> 8) + 3u;
    int sourceX = 0, sourceY = 0, sourceWidth = 0, sourceHeight = 0;
    int destX = 0, destY = 0, destWidth = 0, destHeight = 0;
    std::uint32_t rop = 0x00CC0020; // source copy
    std::uint16_t colorUsage = 0;
    bool sourceFromBottom = false;
    switch (function) {
    case BitBlt:
    case DibBitBlt:
        rop = in.u32();
        sourceY = in.s16();
        sourceX = in.s16();
        if (!hasBitmap) in.s16(); // reserved
        destHeight = sourceHeight = in.s16();
        destWidth = sourceWidth = in.s16();
        destY = in.s16();
        destX = in.s16();
        break;
    case StretchBlt:
    case DibStretchBlt:
        rop = in.u32();
        sourceHeight = in.s16();
        sourceWidth = in.s16();
        sourceY = in.s16();
        sourceX = in.s16();
        if (!hasBitmap) in.s16(); // reserved
        destHeight = in.s16();
        destWidth = in.s16();
        destY = in.s16();
        destX = in.s16();
        break;
    case StretchDib:
        rop = in.u32();
        colorUsage = in.u16();
        sourceHeight = in.s16();
        sourceWidth = in.s16();
        sourceY = in.s16();
        sourceX = in.s16();
        destHeight = in.s16();
        destWidth = in.s16();
        destY = in.s16();
        destX = in.s16();
        sourceFromBottom = true;
        break;
    default: // SetDibToDev
        colorUsage = in.u16();
        in.u16(); // scan count
        in.u16(); // start scan
        sourceY = in.s16();
        sourceX = in.s16();
        destHeight = sourceHeight = in.s16();
        destWidth = sourceWidth = in.s16();
        destY = in.s16();
        destX = in.s16();
        sourceFromBottom = true;
        break;
    }
    if (in.failed()) return false;
    if (!hasBitmap && function != StretchDib && function != SetDibToDev)
        return patBlt(rop, toDeviceRect(destX, destY, destX + destWidth, destY + destHeight));
    // The old device-dependent bitmaps of the first two are not decoded.
    if (function == BitBlt || function == StretchBlt) return true;

    const DibLimits dibLimits{m_limits.maxSide, m_limits.maxPixels};
    auto dib =
        decodeDib(in.here(), in.remaining(), dibLimits, colorUsage == 1, m_dc.palette ? *m_dc.palette : Palette{});
    if (!dib) return true; // a damaged bitmap in a sound file: leave its place empty
    const QPoint corner = toDevice(destX, destY);
    const QPoint opposite = toDevice(double(destX) + destWidth, double(destY) + destHeight);
    drawBitmap(dib.value(), QRect(sourceX, sourceY, sourceWidth, sourceHeight), sourceFromBottom,
               QRect(corner, QSize(opposite.x() - corner.x(), opposite.y() - corner.y())));
    return spend(0);
}

} // namespace toka::wmf
