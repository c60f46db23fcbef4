// The records that change the drawing state rather than draw: mapping,
// colours and modes, saved states, the current position, the clip, and the
// objects of the table.  Each handler that reads a parameter fails the
// record when the parameter is missing.

#include <algorithm>
#include <cmath>
#include <memory>
#include <variant>

#include "viewer/cp1252.h"
#include "viewer/wmf_playback.h"

namespace toka::wmf {

namespace {

// The records store a point y first.
QPointF readPoint(ParamReader& in) {
    const double y = in.s16();
    const double x = in.s16();
    return {x, y};
}

} // namespace

// ---------------------------------------------------------------- mapping, colours, modes

bool Player::setMapMode(ParamReader& in, const Record&) {
    const std::uint16_t mode = in.u16();
    if (mode >= MapText && mode <= MapAnisotropic) m_dc.mapMode = mode;
    return !in.failed();
}

bool Player::setWindowOrg(ParamReader& in, const Record&) {
    m_dc.windowOrg = readPoint(in);
    return !in.failed();
}

bool Player::setWindowExt(ParamReader& in, const Record&) {
    const QPointF extent = readPoint(in);
    if (extent.x() != 0 && extent.y() != 0) m_dc.windowExt = extent;
    return !in.failed();
}

bool Player::setViewportOrg(ParamReader& in, const Record&) {
    m_dc.viewportOrg = readPoint(in);
    return !in.failed();
}

bool Player::setViewportExt(ParamReader& in, const Record&) {
    const QPointF extent = readPoint(in);
    if (extent.x() != 0 && extent.y() != 0) m_dc.viewportExt = extent;
    return !in.failed();
}

bool Player::offsetWindowOrg(ParamReader& in, const Record&) {
    m_dc.windowOrg += readPoint(in);
    return !in.failed();
}

bool Player::offsetViewportOrg(ParamReader& in, const Record&) {
    m_dc.viewportOrg += readPoint(in);
    return !in.failed();
}

bool Player::scaleExtent(ParamReader& in, const Record& record) {
    const double yDenominator = in.s16();
    const double yNumerator = in.s16();
    const double xDenominator = in.s16();
    const double xNumerator = in.s16();
    if (in.failed()) return false;
    if (yDenominator == 0 || xDenominator == 0 || yNumerator == 0 || xNumerator == 0) return true;
    QPointF& ext = record.function == ScaleWindowExt ? m_dc.windowExt : m_dc.viewportExt;
    const QPointF scaled(ext.x() * xNumerator / xDenominator, ext.y() * yNumerator / yDenominator);
    // Repeated scaling could otherwise run the extent to infinity or 0.
    if (std::abs(scaled.x()) >= 1e-3 && std::abs(scaled.y()) >= 1e-3 && std::abs(scaled.x()) <= 1e9
        && std::abs(scaled.y()) <= 1e9)
        ext = scaled;
    return true;
}

bool Player::setBkColor(ParamReader& in, const Record&) {
    m_dc.backgroundColor = in.u32();
    return !in.failed();
}

bool Player::setTextColor(ParamReader& in, const Record&) {
    m_dc.textColor = in.u32();
    return !in.failed();
}

bool Player::setBkMode(ParamReader& in, const Record&) {
    const std::uint16_t mode = in.u16();
    if (mode == Transparent || mode == Opaque) m_dc.backgroundMode = mode;
    return !in.failed();
}

bool Player::setPolyFillMode(ParamReader& in, const Record&) {
    const std::uint16_t mode = in.u16();
    if (mode == Alternate || mode == Winding) m_dc.polyFillMode = mode;
    return !in.failed();
}

bool Player::setTextAlign(ParamReader& in, const Record&) {
    m_dc.textAlign = in.u16();
    return !in.failed();
}

bool Player::saveDc(ParamReader&, const Record&) {
    if (int(m_saved.size()) >= m_limits.maxSaveDepth)
        return fail(QStringLiteral("drawing states saved more than %1 deep").arg(m_limits.maxSaveDepth));
    m_saved.push_back(m_dc);
    return true;
}

bool Player::restoreDc(ParamReader& in, const Record&) {
    // Negative: that many levels back; positive: the n-th saved state.
    const int which = in.s16();
    if (in.failed()) return false;
    const int depth = int(m_saved.size());
    const int target = which < 0 ? depth + which : which - 1;
    if (which == 0 || target < 0 || target >= depth) return true;
    m_dc = std::move(m_saved[target]);
    m_saved.resize(target);
    m_clipDirty = true;
    return true;
}

bool Player::moveTo(ParamReader& in, const Record&) {
    m_dc.position = readPoint(in);
    return !in.failed();
}

// ---------------------------------------------------------------- clip

bool Player::clipRect(ParamReader& in, const Record& record) {
    const int bottom = in.s16();
    const int right = in.s16();
    const int top = in.s16();
    const int left = in.s16();
    if (in.failed()) return false;
    const QPoint a = toDevice(left, top);
    const QPoint b = toDevice(right, bottom);
    const QRect rect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                     QPoint(std::max(a.x(), b.x()) - 1, std::max(a.y(), b.y()) - 1));
    const QRegion current = m_dc.clip.value_or(QRegion(m_image.rect()));
    if (record.function == IntersectClipRect) {
        m_dc.clip = current.intersected(rect);
    } else if (current.rectCount() < m_limits.maxClipRects) {
        m_dc.clip = current.subtracted(rect);
    }
    m_clipDirty = true;
    return true;
}

bool Player::offsetClipRegion(ParamReader& in, const Record&) {
    const double y = in.s16();
    const double x = in.s16();
    if (m_dc.clip) {
        const QPointF s = scale();
        m_dc.clip->translate(int(clampCoordinate(x * s.x())), int(clampCoordinate(y * s.y())));
        m_clipDirty = true;
    }
    return !in.failed();
}

bool Player::selectClipRegion(ParamReader&, const Record&) {
    // Regions are not kept; selecting one most often resets the clip.
    m_dc.clip.reset();
    m_clipDirty = true;
    return true;
}

// ---------------------------------------------------------------- objects

bool Player::selectObject(ParamReader& in, const Record&) {
    const std::uint16_t index = in.u16();
    if (in.failed()) return false;
    if (index >= m_objects.size()) return true;
    const GdiObject& object = m_objects[index];
    if (const auto* pen = std::get_if<Pen>(&object)) m_dc.pen = *pen;
    else if (const auto* brush = std::get_if<Brush>(&object)) m_dc.brush = *brush;
    else if (const auto* font = std::get_if<Font>(&object)) m_dc.font = *font;
    return true;
}

bool Player::selectPalette(ParamReader& in, const Record&) {
    const std::uint16_t index = in.u16();
    if (in.failed()) return false;
    if (index >= m_objects.size()) return true;
    if (const auto* palette = std::get_if<std::shared_ptr<Palette>>(&m_objects[index])) m_dc.palette = *palette;
    return true;
}

bool Player::setPaletteEntries(ParamReader& in, const Record&) {
    const std::uint16_t start = in.u16();
    const std::uint16_t count = in.u16();
    if (in.failed() || in.remaining() / 4 < count) return false;
    if (!m_dc.palette) return true;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t red = in.u8(), green = in.u8(), blue = in.u8();
        in.u8(); // flags
        if (std::size_t{start} + i < m_dc.palette->size()) (*m_dc.palette)[start + i] = qRgb(red, green, blue);
    }
    return true;
}

bool Player::deleteObject(ParamReader& in, const Record&) {
    const std::uint16_t index = in.u16();
    if (in.failed()) return false;
    m_objects.remove(index);
    return true;
}

bool Player::createPen(ParamReader& in, const Record&) {
    Pen pen;
    pen.style = in.u16();
    pen.width = in.s16();
    in.s16(); // the height of the width point is unused
    pen.color = in.u32();
    if (in.failed()) return false;
    m_objects.add(pen);
    return true;
}

bool Player::createBrush(ParamReader& in, const Record&) {
    Brush brush;
    brush.style = in.u16();
    brush.color = in.u32();
    brush.hatch = in.u16();
    if (in.failed()) return false;
    m_objects.add(brush);
    return true;
}

bool Player::createFont(ParamReader& in, const Record&) {
    Font font;
    font.height = in.s16();
    in.s16(); // average width: the face's own proportions are kept
    font.escapement = in.s16();
    in.s16(); // orientation
    font.weight = in.s16();
    font.italic = in.u8() != 0;
    font.underline = in.u8() != 0;
    font.strikeOut = in.u8() != 0;
    in.skip(5); // character set, precisions, quality, pitch and family
    if (in.failed()) return false;
    // The face name: up to 32 bytes, ended by NUL; some writers cut it.
    const std::size_t nameBytes = std::min<std::size_t>(in.remaining(), 32);
    const std::uint8_t* name = in.take(nameBytes);
    for (std::size_t i = 0; i < nameBytes && name[i] != 0; ++i) font.face.append(cp1252ToQChar(name[i]));
    m_objects.add(font);
    return true;
}

bool Player::createPalette(ParamReader& in, const Record&) {
    in.u16(); // version
    const std::uint16_t count = in.u16();
    if (in.failed() || in.remaining() / 4 < count) return false;
    auto palette = std::make_shared<Palette>();
    palette->reserve(count);
    for (int i = 0; i < count; ++i) {
        const std::uint8_t red = in.u8(), green = in.u8(), blue = in.u8();
        in.u8(); // flags
        palette->push_back(qRgb(red, green, blue));
    }
    m_objects.add(std::move(palette));
    return true;
}

bool Player::createDibPatternBrush(ParamReader& in, const Record&) {
    Brush brush;
    const std::uint16_t style = in.u16();
    const std::uint16_t colorUsage = in.u16();
    if (in.failed()) return false;
    brush.style = BrushDibPatternPt;
    // Style 3 carries an old device-dependent bitmap, not decoded here.
    if (style != BrushPattern) {
        const DibLimits dibLimits{m_limits.maxSide, m_limits.maxPixels};
        auto dib =
            decodeDib(in.here(), in.remaining(), dibLimits, colorUsage == 1, m_dc.palette ? *m_dc.palette : Palette{});
        if (dib) brush.pattern = std::move(dib).value().image;
    }
    m_objects.add(brush);
    return true;
}

bool Player::createPatternBrush(ParamReader&, const Record&) {
    m_objects.add(Brush{BrushPattern, 0x808080, 0, {}});
    return true;
}

bool Player::createRegion(ParamReader&, const Record&) {
    // Regions are not drawn, but they take their slot in the table.
    m_objects.add(Region{});
    return true;
}

} // namespace toka::wmf
