#include "platform/picture/wmf_player.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <QRegion>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <variant>
#include <vector>

#include "platform/picture/cp1252.h"
#include "platform/picture/dib.h"
#include "platform/picture/wmf_reader.h"

namespace toka {

namespace {

using namespace wmf;

// The records store a point y first.
QPointF readPoint(ParamReader& in) {
    const double y = in.s16();
    const double x = in.s16();
    return {x, y};
}

// Device coordinates stay within +-2^21: far outside any picture (8192),
// far inside the rasteriser's fixed-point range (2^23).
constexpr double kCoordinateLimit = 2097152.0;
constexpr double kScreenDpi = 96.0;
// A font above this pixel size only draws parts of glyphs larger than any
// picture, and Qt renders those through slow outline paths.
constexpr double kMaxFontPixels = 2048.0;
// GDI's default font is about this tall on a 96-dpi screen.
constexpr double kDefaultFontPixels = 16.0;
// Fixed work charges (in pixels) that keep many tiny drawings bounded too.
constexpr std::int64_t kWorkPerDrawing = 64;
constexpr std::int64_t kWorkPerPoint = 16;
constexpr std::int64_t kWorkPerCharacter = 1024;

enum MapMode {
    MapText = 1, MapLoMetric, MapHiMetric, MapLoEnglish, MapHiEnglish, MapTwips, MapIsotropic, MapAnisotropic
};
enum BackgroundMode { Transparent = 1, Opaque = 2 };
enum PolyFillMode { Alternate = 1, Winding = 2 };
enum PenStyle { PenSolid = 0, PenDash, PenDot, PenDashDot, PenDashDotDot, PenNull, PenInsideFrame };
enum BrushStyle { BrushSolid = 0, BrushNull = 1, BrushHatched = 2, BrushPattern = 3, BrushDibPattern = 5,
                  BrushDibPatternPt = 6 };
enum TextAlign : std::uint16_t {
    AlignUpdateCp = 0x0001, AlignHorizontalMask = 0x0006, AlignRight = 0x0002, AlignCenter = 0x0006,
    AlignVerticalMask = 0x0018, AlignBottom = 0x0008, AlignBaseline = 0x0018
};
enum ExtTextOptions : std::uint16_t { TextOpaque = 0x0002, TextClipped = 0x0004 };
enum RasterOp : std::uint32_t { Blackness = 0x00000042, Whiteness = 0x00FF0062, PatCopy = 0x00F00021 };

using Palette = std::vector<QRgb>;

struct Pen {
    std::uint16_t style = PenSolid;
    double width = 0;  // logical units; 0 is one pixel
    std::uint32_t color = 0;
};

struct Brush {
    std::uint16_t style = BrushSolid;
    std::uint32_t color = 0xFFFFFF;
    std::uint16_t hatch = 0;
    QImage pattern;
};

struct Font {
    std::int16_t height = 0;
    std::int16_t escapement = 0;
    std::int16_t weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    QString face;
};

struct Region {};

using GdiObject = std::variant<std::monostate, Pen, Brush, Font, std::shared_ptr<Palette>, Region>;

struct DcState {
    int mapMode = MapAnisotropic;
    QPointF windowOrg{0, 0};
    QPointF windowExt{1, 1};
    QPointF viewportOrg{0, 0};
    QPointF viewportExt{1, 1};
    Pen pen;
    Brush brush;
    Font font;
    std::shared_ptr<Palette> palette;
    std::uint32_t textColor = 0x000000;
    std::uint32_t backgroundColor = 0xFFFFFF;
    int backgroundMode = Opaque;
    int polyFillMode = Alternate;
    std::uint16_t textAlign = 0;
    QPointF position{0, 0};  // logical
    /// Device pixels; no value means the whole picture.
    std::optional<QRegion> clip;
};

double clampCoordinate(double value) {
    if (!(value > -kCoordinateLimit))  // also catches NaN
        return -kCoordinateLimit;
    return std::min(value, kCoordinateLimit);
}

class Player {
public:
    Player(const Metafile& metafile, const MetafileLimits& limits) : m_metafile(metafile), m_limits(limits) {}

    LoadResult<QImage> play();

private:
    // Set-up
    bool setUpPicture();
    // Mapping
    QPointF scale() const;
    QPoint toDevice(double x, double y) const;
    QRect toDeviceRect(int left, int top, int right, int bottom) const;
    double deviceWidth(double logical) const { return std::abs(logical * scale().x()); }
    double deviceHeight(double logical) const { return std::abs(logical * scale().y()); }
    // Objects and colours
    void addObject(GdiObject object);
    QColor color(std::uint32_t colorRef) const;
    QPen qtPen() const;
    QBrush qtBrush() const;
    // Drawing
    bool spend(std::int64_t work);
    bool spendArea(const QRectF& deviceBounds, std::int64_t fixed);
    void applyClip();
    void fillBackgroundForHatch(const QPainterPath& shape);
    std::int64_t shapeWork(const QPainterPath& shape, bool fill, double penWidth) const;
    bool drawShape(const QPainterPath& shape, bool fill);
    bool drawRectangle(const QRect& rect);
    // Records
    bool playRecord(Record& record);
    bool polygonRecord(ParamReader& in, bool closed);
    bool polyPolygonRecord(ParamReader& in);
    bool arcRecord(ParamReader& in, std::uint16_t function);
    bool textRecord(ParamReader& in, bool extended);
    bool bitmapRecord(ParamReader& in, const Record& record);
    bool patBlt(std::uint32_t rop, const QRect& rect);
    void drawBitmap(const DecodedDib& dib, QRect source, bool sourceFromBottom, const QRect& dest);
    bool createObjectRecord(ParamReader& in, std::uint16_t function);
    bool fail(const QString& why);

    const Metafile& m_metafile;
    const MetafileLimits& m_limits;
    QImage m_image;
    QPainter m_painter;
    DcState m_dc;
    std::vector<DcState> m_saved;
    std::vector<GdiObject> m_objects;
    // Lowest free slot first, as the recording device allocated them.
    std::vector<std::uint16_t> m_freeSlots;
    std::int64_t m_workLeft = 0;
    bool m_clipDirty = true;
    bool m_canDrawText = false;
    QString m_error;
};

bool Player::fail(const QString& why) {
    if (m_error.isEmpty())
        m_error = why;
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
            if (record.function != SetWindowExt)
                continue;
            const double y = record.params.s16();
            const double x = record.params.s16();
            if (record.params.failed() || x == 0 || y == 0)
                continue;
            width = std::abs(x);
            height = std::abs(y);
            m_dc.windowExt = QPointF(x, y);
            break;
        }
        if (width == 0)
            return fail(QStringLiteral("metafile without placeable header sets no window extent"));
    }
    if (width > m_limits.maxSide || height > m_limits.maxSide || width * height > double(m_limits.maxPixels))
        return fail(QStringLiteral("picture of %1 x %2 pixels exceeds the size limit").arg(width).arg(height));
    m_dc.viewportExt = QPointF(width, height);

    m_image = QImage(int(width), int(height), QImage::Format_ARGB32_Premultiplied);
    if (m_image.isNull())
        return fail(QStringLiteral("out of memory for the picture"));
    m_image.fill(Qt::transparent);
    m_workLeft = m_limits.workBudget;

    // Object slots are handed out lowest first; a min-heap of free slots
    // keeps that O(log n) even for a hostile 65535-entry table.
    m_objects.assign(m_metafile.header.objectCount, std::monostate{});
    m_freeSlots.resize(m_metafile.header.objectCount);
    for (std::size_t i = 0; i < m_freeSlots.size(); ++i)
        m_freeSlots[i] = static_cast<std::uint16_t>(i);  // ascending is already a min-heap
    return true;
}

LoadResult<QImage> Player::play() {
    if (!setUpPicture())
        return LoadResult<QImage>::failure(m_error);
    m_canDrawText = qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
    m_painter.begin(&m_image);
    m_painter.setRenderHint(QPainter::Antialiasing, false);

    RecordStream stream(m_metafile);
    Record record;
    std::size_t count = 0;
    bool ok = true;
    for (;;) {
        const RecordStream::Step step = stream.next(record);
        if (step == RecordStream::Step::End)
            break;
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
    if (!ok)
        return LoadResult<QImage>::failure(m_error);
    return LoadResult<QImage>::success(std::move(m_image));
}

// ---------------------------------------------------------------- mapping

QPointF Player::scale() const {
    auto ratio = [](double viewport, double window) { return window == 0 ? 1.0 : viewport / window; };
    switch (m_dc.mapMode) {
    case MapText: return {1, 1};
    case MapLoMetric: return {kScreenDpi / 254, -kScreenDpi / 254};
    case MapHiMetric: return {kScreenDpi / 2540, -kScreenDpi / 2540};
    case MapLoEnglish: return {kScreenDpi / 100, -kScreenDpi / 100};
    case MapHiEnglish: return {kScreenDpi / 1000, -kScreenDpi / 1000};
    case MapTwips: return {kScreenDpi / 1440, -kScreenDpi / 1440};
    case MapIsotropic: {
        const double x = ratio(m_dc.viewportExt.x(), m_dc.windowExt.x());
        const double y = ratio(m_dc.viewportExt.y(), m_dc.windowExt.y());
        const double uniform = std::min(std::abs(x), std::abs(y));
        return {std::copysign(uniform, x), std::copysign(uniform, y)};
    }
    default:
        return {ratio(m_dc.viewportExt.x(), m_dc.windowExt.x()), ratio(m_dc.viewportExt.y(), m_dc.windowExt.y())};
    }
}

QPoint Player::toDevice(double x, double y) const {
    const QPointF s = scale();
    const double deviceX = (x - m_dc.windowOrg.x()) * s.x() + m_dc.viewportOrg.x();
    const double deviceY = (y - m_dc.windowOrg.y()) * s.y() + m_dc.viewportOrg.y();
    return {int(std::lround(clampCoordinate(deviceX))), int(std::lround(clampCoordinate(deviceY)))};
}

QRect Player::toDeviceRect(int left, int top, int right, int bottom) const {
    const QPoint a = toDevice(left, top);
    const QPoint b = toDevice(right, bottom);
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()) - 1, std::max(a.y(), b.y()) - 1));
}

// ---------------------------------------------------------------- objects

void Player::addObject(GdiObject object) {
    // A file that creates more objects than its header announced loses the
    // extra ones, as the recording device's table would have.
    if (m_freeSlots.empty())
        return;
    std::pop_heap(m_freeSlots.begin(), m_freeSlots.end(), std::greater<>());
    const std::uint16_t slot = m_freeSlots.back();
    m_freeSlots.pop_back();
    m_objects[slot] = std::move(object);
}

QColor Player::color(std::uint32_t colorRef) const {
    if ((colorRef >> 24) == 0x01) {  // an index into the selected palette
        const std::uint32_t index = colorRef & 0xFFFF;
        if (m_dc.palette && index < m_dc.palette->size())
            return QColor::fromRgb((*m_dc.palette)[index]);
        return QColor(Qt::black);
    }
    return QColor(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF));
}

QPen Player::qtPen() const {
    const Pen& pen = m_dc.pen;
    const int style = pen.style & 0x0F;
    if (style == PenNull)
        return QPen(Qt::NoPen);
    QPen qpen(color(pen.color));
    const double width = std::min(deviceWidth(pen.width), 2.0 * m_limits.maxSide);
    qpen.setWidthF(width <= 1.0 ? 0.0 : width);  // 0 is Qt's one-pixel pen
    switch (pen.style & 0x0F00) {
    case 0x0100: qpen.setCapStyle(Qt::SquareCap); break;
    case 0x0200: qpen.setCapStyle(Qt::FlatCap); break;
    default: qpen.setCapStyle(Qt::RoundCap); break;
    }
    switch (pen.style & 0xF000) {
    case 0x1000: qpen.setJoinStyle(Qt::BevelJoin); break;
    case 0x2000: qpen.setJoinStyle(Qt::MiterJoin); break;
    default: qpen.setJoinStyle(Qt::RoundJoin); break;
    }
    switch (style) {
    case PenDash: qpen.setStyle(Qt::DashLine); break;
    case PenDot: qpen.setStyle(Qt::DotLine); break;
    case PenDashDot: qpen.setStyle(Qt::DashDotLine); break;
    case PenDashDotDot: qpen.setStyle(Qt::DashDotDotLine); break;
    default: break;
    }
    return qpen;
}

QBrush Player::qtBrush() const {
    const Brush& brush = m_dc.brush;
    const QColor brushColor = color(brush.color);
    switch (brush.style) {
    case BrushNull: return QBrush(Qt::NoBrush);
    case BrushHatched: {
        static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern, Qt::VerPattern, Qt::FDiagPattern,
                                                      Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(brushColor, brush.hatch < 6 ? kHatches[brush.hatch] : Qt::SolidPattern);
    }
    case BrushPattern:
    case BrushDibPattern:
    case BrushDibPatternPt:
        if (!brush.pattern.isNull())
            return QBrush(brush.pattern);
        return QBrush(Qt::gray);
    default: return QBrush(brushColor);
    }
}

// ---------------------------------------------------------------- drawing

bool Player::spend(std::int64_t work) {
    m_workLeft -= work;
    if (m_workLeft < 0)
        return fail(QStringLiteral("picture too complex to draw"));
    return true;
}

bool Player::spendArea(const QRectF& deviceBounds, std::int64_t fixed) {
    const QRectF visible = deviceBounds.intersected(QRectF(m_image.rect()));
    const double area = visible.isValid() ? visible.width() * visible.height() : 0.0;
    return spend(fixed + std::int64_t(area));
}

void Player::applyClip() {
    if (!m_clipDirty)
        return;
    if (m_dc.clip)
        m_painter.setClipRegion(*m_dc.clip);
    else
        m_painter.setClipping(false);
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
            if (fill && subpath.isValid())
                work += visibleArea(subpath) * fillFactor;
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
    if (fill && subpath.isValid())
        work += visibleArea(subpath) * fillFactor;
    const QRectF extent = shape.controlPointRect();
    work += (extent.width() + extent.height()) / 8;
    return std::int64_t(std::min(work, 1e15));
}

bool Player::drawShape(const QPainterPath& shape, bool fill) {
    QPen pen = qtPen();
    const double penWidth = pen.style() == Qt::NoPen ? 0.0 : std::max(1.0, pen.widthF());
    if (!spend(shapeWork(shape, fill, penWidth)))
        return false;
    applyClip();
    if (fill) {
        fillBackgroundForHatch(shape);
        m_painter.fillPath(shape, qtBrush());
    }
    if (pen.style() == Qt::NoPen)
        return true;
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
    if (!spend(shapeWork(path, true, pen.style() == Qt::NoPen ? 0.0 : std::max(1.0, pen.widthF()))))
        return false;
    applyClip();
    fillBackgroundForHatch(path);
    m_painter.setPen(pen);
    m_painter.setBrush(qtBrush());
    m_painter.drawRect(rect.adjusted(0, 0, -1, -1));
    return true;
}

// ---------------------------------------------------------------- records

bool Player::playRecord(Record& record) {
    ParamReader& in = record.params;
    switch (record.function) {
    case SetMapMode: {
        const std::uint16_t mode = in.u16();
        if (mode >= MapText && mode <= MapAnisotropic)
            m_dc.mapMode = mode;
        break;
    }
    case SetWindowOrg: {
        m_dc.windowOrg = readPoint(in);
        break;
    }
    case SetWindowExt: {
        const QPointF extent = readPoint(in);
        if (extent.x() != 0 && extent.y() != 0)
            m_dc.windowExt = extent;
        break;
    }
    case SetViewportOrg: {
        m_dc.viewportOrg = readPoint(in);
        break;
    }
    case SetViewportExt: {
        const QPointF extent = readPoint(in);
        if (extent.x() != 0 && extent.y() != 0)
            m_dc.viewportExt = extent;
        break;
    }
    case OffsetWindowOrg: {
        m_dc.windowOrg += readPoint(in);
        break;
    }
    case OffsetViewportOrg: {
        m_dc.viewportOrg += readPoint(in);
        break;
    }
    case ScaleWindowExt:
    case ScaleViewportExt: {
        const double yDenominator = in.s16();
        const double yNumerator = in.s16();
        const double xDenominator = in.s16();
        const double xNumerator = in.s16();
        if (in.failed() || yDenominator == 0 || xDenominator == 0 || yNumerator == 0 || xNumerator == 0)
            break;
        QPointF& ext = record.function == ScaleWindowExt ? m_dc.windowExt : m_dc.viewportExt;
        const QPointF scaled(ext.x() * xNumerator / xDenominator, ext.y() * yNumerator / yDenominator);
        // Repeated scaling could otherwise run the extent to infinity or 0.
        if (std::abs(scaled.x()) >= 1e-3 && std::abs(scaled.y()) >= 1e-3 && std::abs(scaled.x()) <= 1e9 &&
            std::abs(scaled.y()) <= 1e9)
            ext = scaled;
        break;
    }
    case SetBkColor: m_dc.backgroundColor = in.u32(); break;
    case SetTextColor: m_dc.textColor = in.u32(); break;
    case SetBkMode: {
        const std::uint16_t mode = in.u16();
        if (mode == Transparent || mode == Opaque)
            m_dc.backgroundMode = mode;
        break;
    }
    case SetPolyFillMode: {
        const std::uint16_t mode = in.u16();
        if (mode == Alternate || mode == Winding)
            m_dc.polyFillMode = mode;
        break;
    }
    case SetTextAlign: m_dc.textAlign = in.u16(); break;
    case SaveDC:
        if (int(m_saved.size()) >= m_limits.maxSaveDepth)
            return fail(QStringLiteral("drawing states saved more than %1 deep").arg(m_limits.maxSaveDepth));
        m_saved.push_back(m_dc);
        break;
    case RestoreDC: {
        // Negative: that many levels back; positive: the n-th saved state.
        const int which = in.s16();
        const int depth = int(m_saved.size());
        const int target = which < 0 ? depth + which : which - 1;
        if (which == 0 || target < 0 || target >= depth)
            break;
        m_dc = std::move(m_saved[target]);
        m_saved.resize(target);
        m_clipDirty = true;
        break;
    }
    case MoveTo: {
        m_dc.position = readPoint(in);
        break;
    }
    case LineTo: {
        const double y = in.s16();
        const double x = in.s16();
        if (in.failed())
            return false;
        QPainterPath path(toDevice(m_dc.position.x(), m_dc.position.y()));
        path.lineTo(toDevice(x, y));
        m_dc.position = QPointF(x, y);
        return drawShape(path, false);
    }
    case Polygon: return polygonRecord(in, true);
    case Polyline: return polygonRecord(in, false);
    case PolyPolygon: return polyPolygonRecord(in);
    case Rectangle:
    case Ellipse:
    case RoundRect: {
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
        if (in.failed())
            return false;
        const QRect rect = toDeviceRect(left, top, right, bottom);
        if (record.function == Rectangle)
            return drawRectangle(rect);
        QPainterPath path;
        const QRectF shape = QRectF(rect).adjusted(0, 0, -1, -1);
        if (record.function == Ellipse)
            path.addEllipse(shape);
        else
            path.addRoundedRect(shape, deviceWidth(cornerWidth) / 2, deviceHeight(cornerHeight) / 2);
        return drawShape(path, true);
    }
    case Arc:
    case Pie:
    case Chord: return arcRecord(in, record.function);
    case SetPixel: {
        const std::uint32_t colorRef = in.u32();
        const int y = in.s16();
        const int x = in.s16();
        if (in.failed())
            return false;
        if (!spend(kWorkPerDrawing))
            return false;
        applyClip();
        m_painter.fillRect(QRect(toDevice(x, y), QSize(1, 1)), color(colorRef));
        break;
    }
    case PatBlt: {
        const std::uint32_t rop = in.u32();
        const int height = in.s16();
        const int width = in.s16();
        const int y = in.s16();
        const int x = in.s16();
        if (in.failed())
            return false;
        return patBlt(rop, toDeviceRect(x, y, x + width, y + height));
    }
    case TextOut: return textRecord(in, false);
    case ExtTextOut: return textRecord(in, true);
    case BitBlt:
    case StretchBlt:
    case DibBitBlt:
    case DibStretchBlt:
    case StretchDib:
    case SetDibToDev: return bitmapRecord(in, record);
    case IntersectClipRect:
    case ExcludeClipRect: {
        const int bottom = in.s16();
        const int right = in.s16();
        const int top = in.s16();
        const int left = in.s16();
        if (in.failed())
            return false;
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
        break;
    }
    case OffsetClipRgn: {
        const double y = in.s16();
        const double x = in.s16();
        if (m_dc.clip) {
            const QPointF s = scale();
            m_dc.clip->translate(int(clampCoordinate(x * s.x())), int(clampCoordinate(y * s.y())));
            m_clipDirty = true;
        }
        break;
    }
    case SelectClipRegion:
        // Regions are not kept; selecting one most often resets the clip.
        m_dc.clip.reset();
        m_clipDirty = true;
        break;
    case SelectObject: {
        const std::uint16_t index = in.u16();
        if (in.failed() || index >= m_objects.size())
            break;
        const GdiObject& object = m_objects[index];
        if (const auto* pen = std::get_if<Pen>(&object))
            m_dc.pen = *pen;
        else if (const auto* brush = std::get_if<Brush>(&object))
            m_dc.brush = *brush;
        else if (const auto* font = std::get_if<Font>(&object))
            m_dc.font = *font;
        break;
    }
    case SelectPalette: {
        const std::uint16_t index = in.u16();
        if (in.failed() || index >= m_objects.size())
            break;
        if (const auto* palette = std::get_if<std::shared_ptr<Palette>>(&m_objects[index]))
            m_dc.palette = *palette;
        break;
    }
    case SetPaletteEntries: {
        const std::uint16_t start = in.u16();
        const std::uint16_t count = in.u16();
        if (in.remaining() / 4 < count)
            return false;
        if (!m_dc.palette)
            break;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint8_t red = in.u8(), green = in.u8(), blue = in.u8();
            in.u8();  // flags
            if (std::size_t{start} + i < m_dc.palette->size())
                (*m_dc.palette)[start + i] = qRgb(red, green, blue);
        }
        break;
    }
    case DeleteObject: {
        const std::uint16_t index = in.u16();
        if (in.failed() || index >= m_objects.size() || std::holds_alternative<std::monostate>(m_objects[index]))
            break;
        m_objects[index] = std::monostate{};
        m_freeSlots.push_back(index);
        std::push_heap(m_freeSlots.begin(), m_freeSlots.end(), std::greater<>());
        break;
    }
    case CreatePenIndirect:
    case CreateBrushIndirect:
    case CreateFontIndirect:
    case CreatePalette:
    case CreatePatternBrush:
    case DibCreatePatternBrush:
    case CreateRegion: return createObjectRecord(in, record.function);
    default:
        // Unknown records and the ones the player leaves out (regions,
        // flood fills, raster-op modes, escapes, palette animation).
        return true;
    }
    return !in.failed();
}

bool Player::createObjectRecord(ParamReader& in, std::uint16_t function) {
    switch (function) {
    case CreatePenIndirect: {
        Pen pen;
        pen.style = in.u16();
        pen.width = in.s16();
        in.s16();  // the height of the width point is unused
        pen.color = in.u32();
        if (in.failed())
            return false;
        addObject(pen);
        return true;
    }
    case CreateBrushIndirect: {
        Brush brush;
        brush.style = in.u16();
        brush.color = in.u32();
        brush.hatch = in.u16();
        if (in.failed())
            return false;
        addObject(brush);
        return true;
    }
    case CreateFontIndirect: {
        Font font;
        font.height = in.s16();
        in.s16();  // average width: the face's own proportions are kept
        font.escapement = in.s16();
        in.s16();  // orientation
        font.weight = in.s16();
        font.italic = in.u8() != 0;
        font.underline = in.u8() != 0;
        font.strikeOut = in.u8() != 0;
        in.skip(5);  // character set, precisions, quality, pitch and family
        if (in.failed())
            return false;
        // The face name: up to 32 bytes, ended by NUL; some writers cut it.
        const std::size_t nameBytes = std::min<std::size_t>(in.remaining(), 32);
        const std::uint8_t* name = in.take(nameBytes);
        for (std::size_t i = 0; i < nameBytes && name[i] != 0; ++i)
            font.face.append(cp1252ToQChar(name[i]));
        addObject(font);
        return true;
    }
    case CreatePalette: {
        in.u16();  // version
        const std::uint16_t count = in.u16();
        if (in.failed() || in.remaining() / 4 < count)
            return false;
        auto palette = std::make_shared<Palette>();
        palette->reserve(count);
        for (int i = 0; i < count; ++i) {
            const std::uint8_t red = in.u8(), green = in.u8(), blue = in.u8();
            in.u8();  // flags
            palette->push_back(qRgb(red, green, blue));
        }
        addObject(std::move(palette));
        return true;
    }
    case DibCreatePatternBrush: {
        Brush brush;
        const std::uint16_t style = in.u16();
        const std::uint16_t colorUsage = in.u16();
        if (in.failed())
            return false;
        brush.style = BrushDibPatternPt;
        // Style 3 carries an old device-dependent bitmap, not decoded here.
        if (style != BrushPattern) {
            const DibLimits dibLimits{m_limits.maxSide, m_limits.maxPixels};
            auto dib = decodeDib(in.here(), in.remaining(), dibLimits, colorUsage == 1,
                                 m_dc.palette ? *m_dc.palette : Palette{});
            if (dib)
                brush.pattern = std::move(dib).value().image;
        }
        addObject(brush);
        return true;
    }
    case CreatePatternBrush:
        addObject(Brush{BrushPattern, 0x808080, 0, {}});
        return true;
    default:
        // Regions are not drawn, but they take their slot in the table.
        addObject(Region{});
        return true;
    }
}

bool Player::polygonRecord(ParamReader& in, bool closed) {
    const std::int16_t count = in.s16();
    if (in.failed() || count < 0 || in.remaining() / 4 < std::size_t(count))
        return false;
    if (!spend(kWorkPerDrawing + kWorkPerPoint * std::int64_t{count}))
        return false;
    QPolygon points(count);
    for (int i = 0; i < count; ++i) {
        const double x = in.s16();
        const double y = in.s16();
        points[i] = toDevice(x, y);
    }
    if (count == 0)
        return true;
    QPainterPath path;
    path.setFillRule(m_dc.polyFillMode == Winding ? Qt::WindingFill : Qt::OddEvenFill);
    path.addPolygon(points);
    if (closed)
        path.closeSubpath();
    return drawShape(path, closed);
}

bool Player::polyPolygonRecord(ParamReader& in) {
    const std::uint16_t polygons = in.u16();
    if (in.failed() || in.remaining() / 2 < polygons)
        return false;
    const std::uint8_t* countBytes = in.take(std::size_t{polygons} * 2);
    ParamReader counts(countBytes, std::size_t{polygons} * 2);
    std::size_t total = 0;
    for (int i = 0; i < polygons; ++i)
        total += counts.u16();
    if (in.remaining() / 4 < total)
        return false;
    if (!spend(kWorkPerDrawing + kWorkPerPoint * std::int64_t(total)))
        return false;
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
    if (total == 0)
        return true;
    return drawShape(path, true);
}

bool Player::arcRecord(ParamReader& in, std::uint16_t function) {
    const double yEnd = in.s16();
    const double xEnd = in.s16();
    const double yStart = in.s16();
    const double xStart = in.s16();
    const int bottom = in.s16();
    const int right = in.s16();
    const int top = in.s16();
    const int left = in.s16();
    if (in.failed())
        return false;
    const QRectF rect = QRectF(toDeviceRect(left, top, right, bottom)).adjusted(0, 0, -1, -1);
    if (!spend(kWorkPerDrawing))
        return false;
    if (rect.width() <= 0 || rect.height() <= 0)
        return true;
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
    while (sweep <= 0)
        sweep += 360;
    QPainterPath path;
    if (function == Pie)
        path.moveTo(centre);
    else
        path.arcMoveTo(rect, start);
    path.arcTo(rect, start, sweep);
    if (function != Arc)
        path.closeSubpath();
    return drawShape(path, function != Arc);
}

bool Player::textRecord(ParamReader& in, bool extended) {
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
    if (in.failed() || length < 0 || in.remaining() < std::size_t(length))
        return false;
    const std::uint8_t* bytes = in.take(std::size_t(length));
    if ((length & 1) && in.remaining() > 0)
        in.skip(1);  // strings are padded to whole words
    std::vector<double> advances;
    if (extended) {
        // Per-character advances are optional: present when they fit.
        if (in.remaining() >= std::size_t(length) * 2) {
            advances.resize(std::size_t(length));
            for (double& advance : advances)
                advance = in.s16();
        }
    } else {
        y = in.s16();
        x = in.s16();
        if (in.failed())
            return false;
    }
    if (!spend(kWorkPerDrawing + kWorkPerPoint * length))
        return false;

    applyClip();
    if (options & TextOpaque) {
        if (!spendArea(QRectF(optionRect), 0))
            return false;
        m_painter.fillRect(optionRect, color(m_dc.backgroundColor));
    }
    if (!m_canDrawText || length == 0)
        return true;

    const Font& font = m_dc.font;
    QFont qfont(font.face.isEmpty() ? QStringLiteral("Sans Serif") : font.face);
    double pixels = font.height == 0 ? kDefaultFontPixels : deviceHeight(font.height);
    pixels = std::clamp(pixels, 1.0, kMaxFontPixels);
    // Qt shapes and draws every character, visible or not: about a
    // microsecond each at 12 pixels, 15 at 2048 (drawn as outlines).
    if (!spend(std::int64_t(length) * (kWorkPerCharacter + std::int64_t(pixels * pixels / 4))))
        return false;
    qfont.setPixelSize(int(std::lround(pixels)));
    if (font.height > 0) {
        // A positive height is the character cell, leading included; Qt's
        // pixel size is the em, so shrink by the face's own proportion.
        const double cell = QFontMetricsF(qfont).height();
        if (cell > 0)
            qfont.setPixelSize(std::max(1, int(std::lround(pixels * pixels / cell))));
    }
    qfont.setWeight(QFont::Weight(font.weight <= 0 ? 400 : std::min<int>(font.weight, 1000)));
    qfont.setItalic(font.italic);
    qfont.setUnderline(font.underline);
    qfont.setStrikeOut(font.strikeOut);
    const QFontMetricsF metrics(qfont);

    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text.append(cp1252ToQChar(bytes[i]));

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
    case AlignRight: left = -width; break;
    case AlignCenter: left = -width / 2; break;
    default: break;
    }
    double baseline = metrics.ascent();
    switch (m_dc.textAlign & AlignVerticalMask) {
    case AlignBottom: baseline = -metrics.descent(); break;
    case AlignBaseline: baseline = 0; break;
    default: break;
    }
    if (updateCp) {
        const double logicalWidth = scale().x() == 0 ? 0 : width / scale().x();
        const int horizontal = m_dc.textAlign & AlignHorizontalMask;
        if (horizontal != AlignCenter)
            m_dc.position.rx() += horizontal == AlignRight ? -logicalWidth : logicalWidth;
    }

    // The work is the visible part of the text's box, or of the circle it
    // can sweep when rotated.
    QRectF box(reference.x() + left, reference.y() + baseline - metrics.ascent(), width, metrics.height());
    if (font.escapement != 0) {
        const double reach = std::hypot(box.width(), box.height());
        box = QRectF(reference.x() - reach, reference.y() - reach, 2 * reach, 2 * reach);
    }
    if (!spendArea(box, 0))
        return false;

    m_painter.save();
    if (options & TextClipped)
        m_painter.setClipRect(optionRect, m_dc.clip ? Qt::IntersectClip : Qt::ReplaceClip);
    m_painter.translate(reference);
    if (font.escapement != 0)
        m_painter.rotate(-font.escapement / 10.0);
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
            if (font.escapement == 0 && (at > m_image.width() || at < -pixels * 4))
                continue;
            m_painter.drawText(QPointF(left + offsets[i], baseline), QString(text[i]));
        }
    }
    m_painter.restore();
    m_clipDirty = true;
    return true;
}

bool Player::patBlt(std::uint32_t rop, const QRect& rect) {
    // Charged as a filled shape: a hatched pattern costs what a hatched
    // rectangle does.
    QPainterPath path;
    path.addRect(QRectF(rect));
    if (!spend(shapeWork(path, true, 0.0)))
        return false;
    applyClip();
    switch (rop) {
    case Blackness: m_painter.fillRect(rect, Qt::black); break;
    case Whiteness: m_painter.fillRect(rect, Qt::white); break;
    case PatCopy:
        m_painter.fillRect(rect, qtBrush());
        break;
    default: break;  // raster operations that read the destination
    }
    return true;
}

bool Player::bitmapRecord(ParamReader& in, const Record& record) {
    const std::uint16_t function = record.function;
    // The blits exist without a bitmap, as pattern fills, recognised by the
    // size the format fixes for that form.
    const bool hasBitmap = record.sizeInWords != std::uint32_t(function >> 8) + 3u;
    int sourceX = 0, sourceY = 0, sourceWidth = 0, sourceHeight = 0;
    int destX = 0, destY = 0, destWidth = 0, destHeight = 0;
    std::uint32_t rop = 0x00CC0020;  // source copy
    std::uint16_t colorUsage = 0;
    bool sourceFromBottom = false;
    switch (function) {
    case BitBlt:
    case DibBitBlt:
        rop = in.u32();
        sourceY = in.s16();
        sourceX = in.s16();
        if (!hasBitmap)
            in.s16();  // reserved
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
        if (!hasBitmap)
            in.s16();  // reserved
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
    default:  // SetDibToDev
        colorUsage = in.u16();
        in.u16();  // scan count
        in.u16();  // start scan
        sourceY = in.s16();
        sourceX = in.s16();
        destHeight = sourceHeight = in.s16();
        destWidth = sourceWidth = in.s16();
        destY = in.s16();
        destX = in.s16();
        sourceFromBottom = true;
        break;
    }
    if (in.failed())
        return false;
    if (!hasBitmap && function != StretchDib && function != SetDibToDev)
        return patBlt(rop, toDeviceRect(destX, destY, destX + destWidth, destY + destHeight));
    // The old device-dependent bitmaps of the first two are not decoded.
    if (function == BitBlt || function == StretchBlt)
        return true;

    const DibLimits dibLimits{m_limits.maxSide, m_limits.maxPixels};
    auto dib = decodeDib(in.here(), in.remaining(), dibLimits, colorUsage == 1,
                         m_dc.palette ? *m_dc.palette : Palette{});
    if (!dib)
        return true;  // a damaged bitmap in a sound file: leave its place empty
    const QPoint corner = toDevice(destX, destY);
    const QPoint opposite = toDevice(double(destX) + destWidth, double(destY) + destHeight);
    drawBitmap(dib.value(), QRect(sourceX, sourceY, sourceWidth, sourceHeight), sourceFromBottom,
               QRect(corner, QSize(opposite.x() - corner.x(), opposite.y() - corner.y())));
    return spend(0);
}

void Player::drawBitmap(const DecodedDib& dib, QRect source, bool sourceFromBottom, const QRect& dest) {
    // A negative extent on either side mirrors the bitmap.
    bool mirrorX = (source.width() < 0) != (dest.width() < 0);
    bool mirrorY = (source.height() < 0) != (dest.height() < 0);
    source = source.normalized();
    if (sourceFromBottom && dib.bottomUp)
        source.moveTop(dib.image.height() - source.bottom() - 1);
    source = source.intersected(dib.image.rect());
    const QRect target(QPoint(std::min(dest.left(), dest.left() + dest.width()),
                              std::min(dest.top(), dest.top() + dest.height())),
                       QSize(std::abs(dest.width()), std::abs(dest.height())));
    if (source.isEmpty() || target.isEmpty())
        return;
    if (!spendArea(QRectF(target), kWorkPerDrawing))
        return;
    applyClip();
    QImage part = dib.image.copy(source);
    if (mirrorX || mirrorY)
        part = part.mirrored(mirrorX, mirrorY);
    m_painter.drawImage(QRectF(target), part);
}

}  // namespace

LoadResult<QImage> loadMetafile(const QByteArray& data, const MetafileLimits& limits) {
    auto metafile = parseMetafile(data);
    if (!metafile)
        return LoadResult<QImage>::failure(metafile.error());
    Player player(metafile.value(), limits);
    return player.play();
}

}  // namespace toka
