// The player's drawing primitives: every QPainter call goes through here,
// charged against the work budget and drawn inside the current clip.

#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "viewer/wmf_playback.h"

namespace toka::wmf {

namespace {

enum RasterOp : std::uint32_t { Blackness = 0x00000042, Whiteness = 0x00FF0062, PatCopy = 0x00F00021 };

} // namespace

bool Player::spend(std::int64_t work) {
    m_workLeft -= work;
    if (m_workLeft < 0) return fail(QStringLiteral("picture too complex to draw"));
    return true;
}

bool Player::spendArea(const QRectF& deviceBounds, std::int64_t fixed) {
    const QRectF visible = deviceBounds.intersected(QRectF(m_image.rect()));
    const double area = visible.isValid() ? visible.width() * visible.height() : 0.0;
    return spend(fixed + std::int64_t(area));
}

void Player::applyClip() {
    if (!m_clipDirty) return;
    if (m_dc.clip) m_painter.setClipRegion(*m_dc.clip);
    else m_painter.setClipping(false);
    m_clipDirty = false;
}

void Player::fillBackgroundForHatch(const QPainterPath& shape) {
    // Hatch lines are drawn over the background colour in opaque mode.
    if (m_dc.brush.style == BrushHatched && m_dc.backgroundMode == Opaque)
        m_painter.fillPath(shape, color(m_dc.backgroundColor));
}

std::int64_t Player::shapeWork(const QPainterPath& shape, bool fill, double penWidth) const {
    // Measured on the raster engine: a solid fill costs about a nanosecond
    // a pixel, a hatched or bitmap fill about eight.  Each subpath is
    // charged its own visible box (8000 overlapping triangles in one
    // record fill 8000 times), each stroked segment the band it covers,
    // and every shape an eighth of its unclipped extent, since curves are
    // flattened whole before they are clipped (a 4-million-pixel ellipse
    // takes most of a millisecond even when one pixel of it shows).
    const QRectF picture(m_image.rect());
    const double pixels = picture.width() * picture.height();
    const double fillFactor = m_dc.brush.style == BrushNull ? 0.0 : m_dc.brush.style == BrushSolid ? 1.0 : 8.0;
    double work = kWorkPerDrawing;
    auto visibleArea = [&](const QRectF& box) {
        const QRectF visible = box.adjusted(-1, -1, 1, 1).intersected(picture);
        return visible.isValid() ? visible.width() * visible.height() : 0.0;
    };
    QRectF subpath;
    QPointF previous;
    for (int i = 0; i < shape.elementCount(); ++i) {
        const QPainterPath::Element element = shape.elementAt(i);
        const QPointF point(element.x, element.y);
        if (element.isMoveTo()) {
            if (fill && subpath.isValid()) work += visibleArea(subpath) * fillFactor;
            subpath = QRectF(point, QSizeF(0.001, 0.001));
        } else {
            subpath |= QRectF(point, QSizeF(0.001, 0.001));
            if (penWidth > 0) {
                const double length = std::hypot(point.x() - previous.x(), point.y() - previous.y());
                work += std::min(pixels, (length + penWidth) * penWidth);
            }
        }
        previous = point;
        work += kWorkPerPoint;
    }
    if (fill && subpath.isValid()) work += visibleArea(subpath) * fillFactor;
    const QRectF extent = shape.controlPointRect();
    work += (extent.width() + extent.height()) / 8;
    return std::int64_t(std::min(work, 1e15));
}

bool Player::drawShape(const QPainterPath& shape, bool fill) {
    QPen pen = qtPen();
    const double penWidth = pen.style() == Qt::NoPen ? 0.0 : std::max(1.0, pen.widthF());
    if (!spend(shapeWork(shape, fill, penWidth))) return false;
    applyClip();
    if (fill) {
        fillBackgroundForHatch(shape);
        m_painter.fillPath(shape, qtBrush());
    }
    if (pen.style() == Qt::NoPen) return true;
    // A dashed outline far larger than the picture would be split into
    // millions of dashes; a solid one looks the same at that scale.
    const QRectF bounds = shape.controlPointRect();
    if (pen.style() != Qt::SolidLine && std::max(bounds.width(), bounds.height()) > 4.0 * m_limits.maxSide)
        pen.setStyle(Qt::SolidLine);
    m_painter.strokePath(shape, pen);
    return true;
}

bool Player::drawRectangle(const QRect& rect) {
    // The device fills and frames left..right-1 and top..bottom-1: the
    // outline runs through the last column and row inside the rectangle.
    QPainterPath path;
    path.addRect(QRectF(rect));
    const QPen pen = qtPen();
    if (!spend(shapeWork(path, true, pen.style() == Qt::NoPen ? 0.0 : std::max(1.0, pen.widthF())))) return false;
    applyClip();
    fillBackgroundForHatch(path);
    m_painter.setPen(pen);
    m_painter.setBrush(qtBrush());
    m_painter.drawRect(rect.adjusted(0, 0, -1, -1));
    return true;
}

bool Player::patBlt(std::uint32_t rop, const QRect& rect) {
    // Charged as a filled shape: a hatched pattern costs what a hatched
    // rectangle does.
    QPainterPath path;
    path.addRect(QRectF(rect));
    if (!spend(shapeWork(path, true, 0.0))) return false;
    applyClip();
    switch (rop) {
    case Blackness:
        m_painter.fillRect(rect, Qt::black);
        break;
    case Whiteness:
        m_painter.fillRect(rect, Qt::white);
        break;
    case PatCopy:
        m_painter.fillRect(rect, qtBrush());
        break;
    default:
        break; // raster operations that read the destination
    }
    return true;
}

void Player::drawBitmap(const DecodedDib& dib, QRect source, bool sourceFromBottom, const QRect& dest) {
    // A negative extent on either side mirrors the bitmap.
    bool mirrorX = (source.width() < 0) != (dest.width() < 0);
    bool mirrorY = (source.height() < 0) != (dest.height() < 0);
    source = source.normalized();
    if (sourceFromBottom && dib.bottomUp) source.moveTop(dib.image.height() - source.bottom() - 1);
    source = source.intersected(dib.image.rect());
    const QRect target(
        QPoint(std::min(dest.left(), dest.left() + dest.width()), std::min(dest.top(), dest.top() + dest.height())),
        QSize(std::abs(dest.width()), std::abs(dest.height())));
    if (source.isEmpty() || target.isEmpty()) return;
    if (!spendArea(QRectF(target), kWorkPerDrawing)) return;
    applyClip();
    QImage part = dib.image.copy(source);
    if (mirrorX || mirrorY) part = part.mirrored(mirrorX, mirrorY);
    m_painter.drawImage(QRectF(target), part);
}

} // namespace toka::wmf
