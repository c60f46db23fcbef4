#include "viewer/wmf_player.h"

#include <QGuiApplication>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "viewer/wmf_playback.h"

namespace toka::wmf {

namespace {

using Handler = Player::Handler;

struct Route {
    std::uint16_t function = 0;
    Handler handler = nullptr;
};

// Function numbers differ in their low byte (the high byte is the usual
// parameter count), so the low byte indexes a table of 256 routes and one
// comparison of the whole number rejects a record that is not there.
using RouteTable = std::array<Route, 256>;

template <std::size_t N>
consteval RouteTable makeRouteTable(const Route (&routes)[N]) {
    RouteTable table{};
    for (const Route& route : routes) {
        Route& slot = table[route.function & 0xFF];
        if (slot.handler != nullptr) throw "two records share the low byte of their function number";
        slot = route;
    }
    return table;
}

} // namespace

bool Player::fail(const QString& why) {
    if (m_error.isEmpty()) m_error = why;
    return false;
}

bool Player::setUpPicture() {
    double width = 0;
    double height = 0;
    if (m_metafile.placeable) {
        const PlaceableHeader& box = *m_metafile.placeable;
        const double unitsWide = std::abs(double(box.right) - box.left);
        const double unitsHigh = std::abs(double(box.bottom) - box.top);
        width = std::max(1.0, std::round(unitsWide * kScreenDpi / box.unitsPerInch));
        height = std::max(1.0, std::round(unitsHigh * kScreenDpi / box.unitsPerInch));
        m_dc.windowOrg = QPointF(std::min(box.left, box.right), std::min(box.top, box.bottom));
        m_dc.windowExt = QPointF(unitsWide, unitsHigh);
    } else {
        // The first window extent decides; the record itself sets it again
        // when it is played.
        RecordStream stream(m_metafile);
        Record record;
        std::size_t looked = 0;
        while (looked++ < m_limits.maxRecords && stream.next(record) == RecordStream::Step::Record) {
            if (record.function != SetWindowExt) continue;
            const double y = record.params.s16();
            const double x = record.params.s16();
            if (record.params.failed() || x == 0 || y == 0) continue;
            width = std::abs(x);
            height = std::abs(y);
            m_dc.windowExt = QPointF(x, y);
            break;
        }
        if (width == 0) return fail(QStringLiteral("metafile without placeable header sets no window extent"));
    }
    if (width > m_limits.maxSide || height > m_limits.maxSide || width * height > double(m_limits.maxPixels))
        return fail(QStringLiteral("picture of %1 x %2 pixels exceeds the size limit").arg(width).arg(height));
    m_dc.viewportExt = QPointF(width, height);

    m_image = QImage(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    if (m_image.isNull()) return fail(QStringLiteral("out of memory for the picture"));
    m_image.fill(Qt::transparent);
    m_workLeft = m_limits.workBudget;

    m_objects.reset(m_metafile.header.objectCount);
    return true;
}

LoadResult<QImage> Player::play() {
    if (!setUpPicture()) return LoadResult<QImage>::failure(m_error);
    m_canDrawText = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    m_painter.begin(&m_image);
    m_painter.setRenderHint(QPainter::Antialiasing, false);

    RecordStream stream(m_metafile);
    Record record;
    std::size_t count = 0;
    bool ok = true;
    for (;;) {
        const RecordStream::Step step = stream.next(record);
        if (step == RecordStream::Step::End) break;
        if (step == RecordStream::Step::Error) {
            ok = fail(stream.error());
            break;
        }
        if (++count > m_limits.maxRecords) {
            ok = fail(QStringLiteral("more than %1 records").arg(m_limits.maxRecords));
            break;
        }
        if (!playRecord(record)) {
            ok = fail(QStringLiteral("record 0x%1 at byte %2 is damaged")
                          .arg(record.function, 4, 16, QLatin1Char('0'))
                          .arg(record.offset));
            break;
        }
    }
    m_painter.end();
    if (!ok) return LoadResult<QImage>::failure(m_error);
    return LoadResult<QImage>::success(std::move(m_image));
}

bool Player::playRecord(Record& record) {
    // Records left out (regions, flood fills, raster-op modes, escapes,
    // palette animation) and unknown ones are skipped.
    static constexpr RouteTable kRoutes = makeRouteTable({
        {SetMapMode, &Player::setMapMode},
        {SetWindowOrg, &Player::setWindowOrg},
        {SetWindowExt, &Player::setWindowExt},
        {SetViewportOrg, &Player::setViewportOrg},
        {SetViewportExt, &Player::setViewportExt},
        {OffsetWindowOrg, &Player::offsetWindowOrg},
        {OffsetViewportOrg, &Player::offsetViewportOrg},
        {ScaleWindowExt, &Player::scaleExtent},
        {ScaleViewportExt, &Player::scaleExtent},
        {SetBkColor, &Player::setBkColor},
        {SetTextColor, &Player::setTextColor},
        {SetBkMode, &Player::setBkMode},
        {SetPolyFillMode, &Player::setPolyFillMode},
        {SetTextAlign, &Player::setTextAlign},
        {SaveDC, &Player::saveDc},
        {RestoreDC, &Player::restoreDc},
        {MoveTo, &Player::moveTo},
        {IntersectClipRect, &Player::clipRect},
        {ExcludeClipRect, &Player::clipRect},
        {OffsetClipRgn, &Player::offsetClipRegion},
        {SelectClipRegion, &Player::selectClipRegion},
        {SelectObject, &Player::selectObject},
        {SelectPalette, &Player::selectPalette},
        {SetPaletteEntries, &Player::setPaletteEntries},
        {DeleteObject, &Player::deleteObject},
        {CreatePenIndirect, &Player::createPen},
        {CreateBrushIndirect, &Player::createBrush},
        {CreateFontIndirect, &Player::createFont},
        {CreatePalette, &Player::createPalette},
        {DibCreatePatternBrush, &Player::createDibPatternBrush},
        {CreatePatternBrush, &Player::createPatternBrush},
        {CreateRegion, &Player::createRegion},
        {LineTo, &Player::lineTo},
        {Polygon, &Player::polygonRecord},
        {Polyline, &Player::polygonRecord},
        {PolyPolygon, &Player::polyPolygonRecord},
        {Rectangle, &Player::boxRecord},
        {Ellipse, &Player::boxRecord},
        {RoundRect, &Player::boxRecord},
        {Arc, &Player::arcRecord},
        {Pie, &Player::arcRecord},
        {Chord, &Player::arcRecord},
        {SetPixel, &Player::setPixel},
        {PatBlt, &Player::patBltRecord},
        {TextOut, &Player::textRecord},
        {ExtTextOut, &Player::textRecord},
        {BitBlt, &Player::bitmapRecord},
        {StretchBlt, &Player::bitmapRecord},
        {DibBitBlt, &Player::bitmapRecord},
        {DibStretchBlt, &Player::bitmapRecord},
        {StretchDib, &Player::bitmapRecord},
        {SetDibToDev, &Player::bitmapRecord},
    });
    const Route& route = kRoutes[record.function & 0xFF];
    if (route.handler == nullptr || route.function != record.function) return true;
    return (this->*route.handler)(record.params, record);
}

} // namespace toka::wmf

namespace toka {

LoadResult<QImage> loadMetafile(const QByteArray& data, const MetafileLimits& limits) {
    auto metafile = wmf::parseMetafile(data);
    if (!metafile) return LoadResult<QImage>::failure(metafile.error());
    wmf::Player player(metafile.value(), limits);
    return player.play();
}

} // namespace toka
