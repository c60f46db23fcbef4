// The two text records: plain text at a point, and extended text with an
// optional opaque or clipping rectangle and per-character advances.

#include <QFont>
#include <QFontMetricsF>

#include <algorithm>
#include <cmath>
#include <vector>

#include "viewer/cp1252.h"
#include "viewer/wmf_playback.h"

namespace toka::wmf {

namespace {

// A font above this pixel size only draws parts of glyphs larger than any
// picture, and Qt renders those through slow outline paths.
constexpr double kMaxFontPixels = 2048.0;
// GDI's default font is about this tall on a 96-dpi screen.
constexpr double kDefaultFontPixels = 16.0;
// The fixed work charge of a character, on top of its share of the glyph area.
constexpr std::int64_t kWorkPerCharacter = 1024;

enum ExtTextOptions : std::uint16_t { TextOpaque = 0x0002, TextClipped = 0x0004 };

} // namespace

bool Player::textRecord(ParamReader& in, const Record& record) {
    const bool extended = record.function == ExtTextOut;
    double x = 0;
    double y = 0;
    std::int16_t length = 0;
    std::uint16_t options = 0;
    QRect optionRect;
    if (extended) {
        y = in.s16();
        x = in.s16();
        length = in.s16();
        options = in.u16();
        if (options & (TextOpaque | TextClipped)) {
            const int left = in.s16();
            const int top = in.s16();
            const int right = in.s16();
            const int bottom = in.s16();
            optionRect = toDeviceRect(left, top, right, bottom);
        }
    } else {
        length = in.s16();
    }
    if (in.failed() || length < 0 || in.remaining() < std::size_t(length)) return false;
    const std::uint8_t* bytes = in.take(std::size_t(length));
    if ((length & 1) && in.remaining() > 0) in.skip(1); // strings are padded to whole words
    std::vector<double> advances;
    if (extended) {
        // Per-character advances are optional: present when they fit.
        if (in.remaining() >= std::size_t(length) * 2) {
            advances.resize(std::size_t(length));
            for (double& advance : advances) advance = in.s16();
        }
    } else {
        y = in.s16();
        x = in.s16();
        if (in.failed()) return false;
    }
    if (!spend(kWorkPerDrawing + kWorkPerPoint * length)) return false;

    applyClip();
    if (options & TextOpaque) {
        if (!spendArea(QRectF(optionRect), 0)) return false;
        m_painter.fillRect(optionRect, color(m_dc.backgroundColor));
    }
    if (!m_canDrawText || length == 0) return true;

    const Font& font = m_dc.font;
    QFont qfont(font.face.isEmpty() ? QStringLiteral("Sans Serif") : font.face);
    double pixels = font.height == 0 ? kDefaultFontPixels : deviceHeight(font.height);
    pixels = std::clamp(pixels, 1.0, kMaxFontPixels);
    // Qt shapes and draws every character, visible or not: about a
    // microsecond each at 12 pixels, 15 at 2048 (drawn as outlines).
    if (!spend(std::int64_t(length) * (kWorkPerCharacter + std::int64_t(pixels * pixels / 4)))) return false;
    qfont.setPixelSize(int(std::lround(pixels)));
    if (font.height > 0) {
        // A positive height is the character cell, leading included; Qt's
        // pixel size is the em, so shrink by the face's own proportion.
        const double cell = QFontMetricsF(qfont).height();
        if (cell > 0) qfont.setPixelSize(std::max(1, int(std::lround(pixels * pixels / cell))));
    }
    qfont.setWeight(QFont::Weight(font.weight <= 0 ? 400 : std::min<int>(font.weight, 1000)));
    qfont.setItalic(font.italic);
    qfont.setUnderline(font.underline);
    qfont.setStrikeOut(font.strikeOut);
    const QFontMetricsF metrics(qfont);

    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i) text.append(cp1252ToQChar(bytes[i]));

    // Character positions relative to the reference point, in pixels.
    std::vector<double> offsets(std::size_t(length), 0.0);
    double width = 0;
    if (!advances.empty()) {
        for (int i = 0; i < length; ++i) {
            offsets[i] = width;
            width += clampCoordinate(advances[i] * scale().x());
        }
        width = std::abs(width);
    } else {
        width = metrics.horizontalAdvance(text);
    }

    const bool updateCp = m_dc.textAlign & AlignUpdateCp;
    const QPoint reference = updateCp ? toDevice(m_dc.position.x(), m_dc.position.y()) : toDevice(x, y);
    double left = 0;
    switch (m_dc.textAlign & AlignHorizontalMask) {
    case AlignRight:
        left = -width;
        break;
    case AlignCenter:
        left = -width / 2;
        break;
    default:
        break;
    }
    double baseline = metrics.ascent();
    switch (m_dc.textAlign & AlignVerticalMask) {
    case AlignBottom:
        baseline = -metrics.descent();
        break;
    case AlignBaseline:
        baseline = 0;
        break;
    default:
        break;
    }
    if (updateCp) {
        const double logicalWidth = scale().x() == 0 ? 0 : width / scale().x();
        const int horizontal = m_dc.textAlign & AlignHorizontalMask;
        if (horizontal != AlignCenter) m_dc.position.rx() += horizontal == AlignRight ? -logicalWidth : logicalWidth;
    }

    // The work is the visible part of the text's box, or of the circle it
    // can sweep when rotated.
    QRectF box(reference.x() + left, reference.y() + baseline - metrics.ascent(), width, metrics.height());
    if (font.escapement != 0) {
        const double reach = std::hypot(box.width(), box.height());
        box = QRectF(reference.x() - reach, reference.y() - reach, 2 * reach, 2 * reach);
    }
    if (!spendArea(box, 0)) return false;

    m_painter.save();
    if (options & TextClipped) m_painter.setClipRect(optionRect, m_dc.clip ? Qt::IntersectClip : Qt::ReplaceClip);
    m_painter.translate(reference);
    if (font.escapement != 0) m_painter.rotate(-font.escapement / 10.0);
    if (m_dc.backgroundMode == Opaque)
        m_painter.fillRect(QRectF(left, baseline - metrics.ascent(), width, metrics.height()),
                           color(m_dc.backgroundColor));
    m_painter.setFont(qfont);
    m_painter.setPen(color(m_dc.textColor));
    if (advances.empty()) {
        m_painter.drawText(QPointF(left, baseline), text);
    } else {
        for (int i = 0; i < length; ++i) {
            // Characters that land outside the picture are not shaped at all.
            const double at = reference.x() + left + offsets[i];
            if (font.escapement == 0 && (at > m_image.width() || at < -pixels * 4)) continue;
            m_painter.drawText(QPointF(left + offsets[i], baseline), QString(text[i]));
        }
    }
    m_painter.restore();
    m_clipDirty = true;
    return true;
}

} // namespace toka::wmf
