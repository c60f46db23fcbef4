#include "viewer/wmf_device_context.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace toka::wmf {

double clampCoordinate(double value) {
    if (!(value > -kCoordinateLimit)) // also catches NaN
        return -kCoordinateLimit;
    return std::min(value, kCoordinateLimit);
}

QPointF DcState::scale() const {
    auto ratio = [](double viewport, double window) { return window == 0 ? 1.0 : viewport / window; };
    switch (mapMode) {
    case MapText:
        return {1, 1};
    case MapLoMetric:
        return {kScreenDpi / 254, -kScreenDpi / 254};
    case MapHiMetric:
        return {kScreenDpi / 2540, -kScreenDpi / 2540};
    case MapLoEnglish:
        return {kScreenDpi / 100, -kScreenDpi / 100};
    case MapHiEnglish:
        return {kScreenDpi / 1000, -kScreenDpi / 1000};
    case MapTwips:
        return {kScreenDpi / 1440, -kScreenDpi / 1440};
    case MapIsotropic: {
        const double x = ratio(viewportExt.x(), windowExt.x());
        const double y = ratio(viewportExt.y(), windowExt.y());
        const double uniform = std::min(std::abs(x), std::abs(y));
        return {std::copysign(uniform, x), std::copysign(uniform, y)};
    }
    default:
        return {ratio(viewportExt.x(), windowExt.x()), ratio(viewportExt.y(), windowExt.y())};
    }
}

QPoint DcState::toDevice(double x, double y) const {
    const QPointF s = scale();
    const double deviceX = (x - windowOrg.x()) * s.x() + viewportOrg.x();
    const double deviceY = (y - windowOrg.y()) * s.y() + viewportOrg.y();
    return {int(std::lround(clampCoordinate(deviceX))), int(std::lround(clampCoordinate(deviceY)))};
}

QRect DcState::toDeviceRect(int left, int top, int right, int bottom) const {
    const QPoint a = toDevice(left, top);
    const QPoint b = toDevice(right, bottom);
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()) - 1, std::max(a.y(), b.y()) - 1));
}

QColor DcState::color(std::uint32_t colorRef) const {
    if ((colorRef >> 24) == 0x01) { // an index into the selected palette
        const std::uint32_t index = colorRef & 0xFFFF;
        if (palette && index < palette->size()) return QColor::fromRgb((*palette)[index]);
        return QColor(Qt::black);
    }
    return QColor(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF));
}

QPen DcState::qtPen(double maxWidth) const {
    const int style = pen.style & 0x0F;
    if (style == PenNull) return QPen(Qt::NoPen);
    QPen qpen(color(pen.color));
    const double width = std::min(std::abs(pen.width * scale().x()), maxWidth);
    qpen.setWidthF(width <= 1.0 ? 0.0 : width); // 0 is Qt's one-pixel pen
    switch (pen.style & 0x0F00) {
    case 0x0100:
        qpen.setCapStyle(Qt::SquareCap);
        break;
    case 0x0200:
        qpen.setCapStyle(Qt::FlatCap);
        break;
    default:
        qpen.setCapStyle(Qt::RoundCap);
        break;
    }
    switch (pen.style & 0xF000) {
    case 0x1000:
        qpen.setJoinStyle(Qt::BevelJoin);
        break;
    case 0x2000:
        qpen.setJoinStyle(Qt::MiterJoin);
        break;
    default:
        qpen.setJoinStyle(Qt::RoundJoin);
        break;
    }
    switch (style) {
    case PenDash:
        qpen.setStyle(Qt::DashLine);
        break;
    case PenDot:
        qpen.setStyle(Qt::DotLine);
        break;
    case PenDashDot:
        qpen.setStyle(Qt::DashDotLine);
        break;
    case PenDashDotDot:
        qpen.setStyle(Qt::DashDotDotLine);
        break;
    default:
        break;
    }
    return qpen;
}

QBrush DcState::qtBrush() const {
    const QColor brushColor = color(brush.color);
    switch (brush.style) {
    case BrushNull:
        return QBrush(Qt::NoBrush);
    case BrushHatched: {
        static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,   Qt::FDiagPattern,
                                                      Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(brushColor, brush.hatch < 6 ? kHatches[brush.hatch] : Qt::SolidPattern);
    }
    case BrushPattern:
    case BrushDibPattern:
    case BrushDibPatternPt:
        if (!brush.pattern.isNull()) return QBrush(brush.pattern);
        return QBrush(Qt::gray);
    default:
        return QBrush(brushColor);
    }
}

void ObjectTable::reset(std::uint16_t count) {
    // Object slots are handed out lowest first; a min-heap of free slots
    // keeps that O(log n) even for a hostile 65535-entry table.
    m_objects.assign(count, std::monostate{});
    m_freeSlots.resize(count);
    for (std::size_t i = 0; i < m_freeSlots.size(); ++i)
        m_freeSlots[i] = static_cast<std::uint16_t>(i); // ascending is already a min-heap
}

void ObjectTable::add(GdiObject object) {
    if (m_freeSlots.empty()) return;
    std::pop_heap(m_freeSlots.begin(), m_freeSlots.end(), std::greater<>());
    const std::uint16_t slot = m_freeSlots.back();
    m_freeSlots.pop_back();
    m_objects[slot] = std::move(object);
}

void ObjectTable::remove(std::uint16_t slot) {
    if (slot >= m_objects.size() || std::holds_alternative<std::monostate>(m_objects[slot])) return;
    m_objects[slot] = std::monostate{};
    m_freeSlots.push_back(slot);
    std::push_heap(m_freeSlots.begin(), m_freeSlots.end(), std::greater<>());
}

} // namespace toka::wmf
