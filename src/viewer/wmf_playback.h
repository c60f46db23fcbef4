#pragma once
// The inside of the metafile player (wmf_player.h is its interface), shared
// by the files that make it up:
//   wmf_player.cpp         picture set-up, the record loop and the table
//                          that routes each record to its handler
//   wmf_painting.cpp       QPainter calls within the work budget and clip
//   wmf_state_records.cpp  records that change the drawing state or the
//                          object table
//   wmf_draw_records.cpp   records that draw lines, shapes and bitmaps
//   wmf_text_record.cpp    the two text records
// The drawing state itself is in wmf_device_context.h.

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cmath>
#include <cstdint>
#include <vector>

#include "viewer/dib.h"
#include "viewer/load_result.h"
#include "viewer/wmf_device_context.h"
#include "viewer/wmf_player.h"
#include "viewer/wmf_reader.h"

namespace toka::wmf {

// Fixed work charges (in pixels) that keep many tiny drawings bounded too.
constexpr std::int64_t kWorkPerDrawing = 64;
constexpr std::int64_t kWorkPerPoint = 16;

/// Plays one parsed metafile into a new image.
class Player {
public:
    Player(const Metafile& metafile, const MetafileLimits& limits) : m_metafile(metafile), m_limits(limits) {}

    LoadResult<QImage> play();

    /// A record handler: reads the record's parameters from `in` and plays
    /// it.  False when the record is damaged or the work budget is spent.
    using Handler = bool (Player::*)(ParamReader& in, const Record& record);

private:
    // Set-up and the record loop
    bool setUpPicture();
    bool playRecord(Record& record);
    bool fail(const QString& why);
    // Mapping and objects of the current drawing state
    QPointF scale() const { return m_dc.scale(); }
    QPoint toDevice(double x, double y) const { return m_dc.toDevice(x, y); }
    QRect toDeviceRect(int left, int top, int right, int bottom) const {
        return m_dc.toDeviceRect(left, top, right, bottom);
    }
    double deviceWidth(double logical) const { return std::abs(logical * scale().x()); }
    double deviceHeight(double logical) const { return std::abs(logical * scale().y()); }
    QColor color(std::uint32_t colorRef) const { return m_dc.color(colorRef); }
    QPen qtPen() const { return m_dc.qtPen(2.0 * m_limits.maxSide); }
    QBrush qtBrush() const { return m_dc.qtBrush(); }
    // Painting
    bool spend(std::int64_t work);
    bool spendArea(const QRectF& deviceBounds, std::int64_t fixed);
    void applyClip();
    void fillBackgroundForHatch(const QPainterPath& shape);
    std::int64_t shapeWork(const QPainterPath& shape, bool fill, double penWidth) const;
    bool drawShape(const QPainterPath& shape, bool fill);
    bool drawRectangle(const QRect& rect);
    bool patBlt(std::uint32_t rop, const QRect& rect);
    void drawBitmap(const DecodedDib& dib, QRect source, bool sourceFromBottom, const QRect& dest);
    // Records that change the mapping, colours and modes
    bool setMapMode(ParamReader& in, const Record& record);
    bool setWindowOrg(ParamReader& in, const Record& record);
    bool setWindowExt(ParamReader& in, const Record& record);
    bool setViewportOrg(ParamReader& in, const Record& record);
    bool setViewportExt(ParamReader& in, const Record& record);
    bool offsetWindowOrg(ParamReader& in, const Record& record);
    bool offsetViewportOrg(ParamReader& in, const Record& record);
    bool scaleExtent(ParamReader& in, const Record& record);
    bool setBkColor(ParamReader& in, const Record& record);
    bool setTextColor(ParamReader& in, const Record& record);
    bool setBkMode(ParamReader& in, const Record& record);
    bool setPolyFillMode(ParamReader& in, const Record& record);
    bool setTextAlign(ParamReader& in, const Record& record);
    bool saveDc(ParamReader& in, const Record& record);
    bool restoreDc(ParamReader& in, const Record& record);
    bool moveTo(ParamReader& in, const Record& record);
    // Records that change the clip
    bool clipRect(ParamReader& in, const Record& record);
    bool offsetClipRegion(ParamReader& in, const Record& record);
    bool selectClipRegion(ParamReader& in, const Record& record);
    // Records that create, select and delete objects
    bool selectObject(ParamReader& in, const Record& record);
    bool selectPalette(ParamReader& in, const Record& record);
    bool setPaletteEntries(ParamReader& in, const Record& record);
    bool deleteObject(ParamReader& in, const Record& record);
    bool createPen(ParamReader& in, const Record& record);
    bool createBrush(ParamReader& in, const Record& record);
    bool createFont(ParamReader& in, const Record& record);
    bool createPalette(ParamReader& in, const Record& record);
    bool createDibPatternBrush(ParamReader& in, const Record& record);
    bool createPatternBrush(ParamReader& in, const Record& record);
    bool createRegion(ParamReader& in, const Record& record);
    // Records that draw
    bool lineTo(ParamReader& in, const Record& record);
    bool polygonRecord(ParamReader& in, const Record& record);
    bool polyPolygonRecord(ParamReader& in, const Record& record);
    bool boxRecord(ParamReader& in, const Record& record);
    bool arcRecord(ParamReader& in, const Record& record);
    bool setPixel(ParamReader& in, const Record& record);
    bool patBltRecord(ParamReader& in, const Record& record);
    bool bitmapRecord(ParamReader& in, const Record& record);
    bool textRecord(ParamReader& in, const Record& record);

    const Metafile& m_metafile;
    const MetafileLimits& m_limits;
    QImage m_image;
    QPainter m_painter;
    DcState m_dc;
    std::vector<DcState> m_saved;
    ObjectTable m_objects;
    std::int64_t m_workLeft = 0;
    bool m_clipDirty = true;
    bool m_canDrawText = false;
    QString m_error;
};

} // namespace toka::wmf
