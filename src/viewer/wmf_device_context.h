#pragma once
// The drawing state a metafile's records change, as the recording device
// kept it: the mapping from logical units to pixels, the selected pen,
// brush, font and palette, colours and modes, the clip, and the table of
// objects the records create, select and delete.  Nothing here paints;
// the player turns this state into QPainter calls.

#include <QBrush>
#include <QColor>
#include <QImage>
#include <QPen>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace toka::wmf {

// Device coordinates stay within +-2^21: far outside any picture (8192),
// far inside the rasteriser's fixed-point range (2^23).
constexpr double kCoordinateLimit = 2097152.0;
constexpr double kScreenDpi = 96.0;

enum MapMode {
    MapText = 1,
    MapLoMetric,
    MapHiMetric,
    MapLoEnglish,
    MapHiEnglish,
    MapTwips,
    MapIsotropic,
    MapAnisotropic
};
enum BackgroundMode { Transparent = 1, Opaque = 2 };
enum PolyFillMode { Alternate = 1, Winding = 2 };
enum PenStyle { PenSolid = 0, PenDash, PenDot, PenDashDot, PenDashDotDot, PenNull, PenInsideFrame };
enum BrushStyle {
    BrushSolid = 0,
    BrushNull = 1,
    BrushHatched = 2,
    BrushPattern = 3,
    BrushDibPattern = 5,
    BrushDibPatternPt = 6
};
enum TextAlign : std::uint16_t {
    AlignUpdateCp = 0x0001,
    AlignHorizontalMask = 0x0006,
    AlignRight = 0x0002,
    AlignCenter = 0x0006,
    AlignVerticalMask = 0x0018,
    AlignBottom = 0x0008,
    AlignBaseline = 0x0018
};

using Palette = std::vector<QRgb>;

struct Pen {
    std::uint16_t style = PenSolid;
    double width = 0; // logical units; 0 is one pixel
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

/// Clamps a device coordinate into +-kCoordinateLimit; NaN becomes the
/// lower limit.
double clampCoordinate(double value);

/// One drawing state; SaveDC pushes a copy of it, RestoreDC brings one back.
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
    QPointF position{0, 0}; // logical
    /// Device pixels; no value means the whole picture.
    std::optional<QRegion> clip;

    /// Device pixels per logical unit in x and y, signed (the fixed map
    /// modes turn y upwards).
    QPointF scale() const;
    /// A logical point in whole device pixels, clamped to the coordinate limit.
    QPoint toDevice(double x, double y) const;
    /// The device pixels of a logical rectangle, right and bottom exclusive.
    QRect toDeviceRect(int left, int top, int right, int bottom) const;
    /// A colour reference: RGB, or an index into the selected palette
    /// (black when the palette has no such entry).
    QColor color(std::uint32_t colorRef) const;
    /// The selected pen for QPainter, its width at most `maxWidth` pixels.
    QPen qtPen(double maxWidth) const;
    /// The selected brush for QPainter.
    QBrush qtBrush() const;
};

/// The file's object table: created objects take the lowest free slot, as
/// the recording device allocated them, and records refer to them by slot.
class ObjectTable {
public:
    /// Empties the table and gives it `count` free slots.
    void reset(std::uint16_t count);
    /// Stores `object` in the lowest free slot.  A file that creates more
    /// objects than its header announced loses the extra ones, as the
    /// recording device's table would have.
    void add(GdiObject object);
    /// Frees a slot; an empty or missing slot is left alone.
    void remove(std::uint16_t slot);

    std::size_t size() const { return m_objects.size(); }
    const GdiObject& operator[](std::uint16_t slot) const { return m_objects[slot]; }

private:
    std::vector<GdiObject> m_objects;
    // Lowest free slot first, as the recording device allocated them.
    std::vector<std::uint16_t> m_freeSlots;
};

} // namespace toka::wmf
