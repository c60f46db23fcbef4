#pragma once
// The byte level of a Windows metafile: the optional 22-byte placeable
// header, the 18-byte metafile header and the stream of records.  Nothing
// here draws; wmf_player.h does.
//
// Layout (all little-endian):
//   placeable header  key 0x9AC6CDD7, handle, bounding box left/top/right/
//                     bottom (int16), units per inch, reserved, checksum
//                     (XOR of the ten 16-bit words before it)
//   metafile header   type (1 memory, 2 disk), header size in words (9),
//                     version, file size in words, object count, largest
//                     record in words, parameter count (unused)
//   record            size in 16-bit words including this 6-byte head,
//                     function number, parameters; function 0 ends the file
//
// Every length is checked against the bytes that are really there: the
// reader never reads outside the buffer it was given.

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

#include "viewer/load_result.h"

namespace toka::wmf {

/// Record function numbers.  The high byte of most of them is the usual
/// parameter count, which the format itself uses for the two bitmap records
/// that exist with and without a bitmap.
enum Function : std::uint16_t {
    EndOfFile = 0x0000,
    SaveDC = 0x001E,
    RealizePalette = 0x0035,
    SetPaletteEntries = 0x0037,
    CreatePalette = 0x00F7,
    SetBkMode = 0x0102,
    SetMapMode = 0x0103,
    SetRop2 = 0x0104,
    SetRelAbs = 0x0105,
    SetPolyFillMode = 0x0106,
    SetStretchBltMode = 0x0107,
    SetTextCharExtra = 0x0108,
    RestoreDC = 0x0127,
    InvertRegion = 0x012A,
    PaintRegion = 0x012B,
    SelectClipRegion = 0x012C,
    SelectObject = 0x012D,
    SetTextAlign = 0x012E,
    ResizePalette = 0x0139,
    DibCreatePatternBrush = 0x0142,
    DeleteObject = 0x01F0,
    CreatePatternBrush = 0x01F9,
    SetBkColor = 0x0201,
    SetTextColor = 0x0209,
    SetTextJustification = 0x020A,
    SetWindowOrg = 0x020B,
    SetWindowExt = 0x020C,
    SetViewportOrg = 0x020D,
    SetViewportExt = 0x020E,
    OffsetWindowOrg = 0x020F,
    OffsetViewportOrg = 0x0211,
    LineTo = 0x0213,
    MoveTo = 0x0214,
    OffsetClipRgn = 0x0220,
    FillRegion = 0x0228,
    SetMapperFlags = 0x0231,
    SelectPalette = 0x0234,
    CreatePenIndirect = 0x02FA,
    CreateFontIndirect = 0x02FB,
    CreateBrushIndirect = 0x02FC,
    Polygon = 0x0324,
    Polyline = 0x0325,
    ScaleWindowExt = 0x0410,
    ScaleViewportExt = 0x0412,
    ExcludeClipRect = 0x0415,
    IntersectClipRect = 0x0416,
    Ellipse = 0x0418,
    FloodFill = 0x0419,
    Rectangle = 0x041B,
    SetPixel = 0x041F,
    FrameRegion = 0x0429,
    AnimatePalette = 0x0436,
    TextOut = 0x0521,
    PolyPolygon = 0x0538,
    ExtFloodFill = 0x0548,
    RoundRect = 0x061C,
    PatBlt = 0x061D,
    Escape = 0x0626,
    CreateRegion = 0x06FF,
    Arc = 0x0817,
    Pie = 0x081A,
    Chord = 0x0830,
    BitBlt = 0x0922,
    DibBitBlt = 0x0940,
    ExtTextOut = 0x0A32,
    StretchBlt = 0x0B23,
    DibStretchBlt = 0x0B41,
    SetDibToDev = 0x0D33,
    StretchDib = 0x0F43,
};

inline constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
inline constexpr std::size_t kPlaceableHeaderBytes = 22;
inline constexpr std::size_t kMetafileHeaderBytes = 18;
inline constexpr std::size_t kRecordHeadBytes = 6;

struct PlaceableHeader {
    std::int16_t left = 0, top = 0, right = 0, bottom = 0;
    std::uint16_t unitsPerInch = 0;
    std::uint16_t checksum = 0;
    /// Read for the record only: many writers get it wrong, so a mismatch
    /// does not reject the file.
    bool checksumMatches = false;
};

struct MetafileHeader {
    std::uint16_t type = 0;
    std::uint16_t headerWords = 0;
    std::uint16_t version = 0;
    std::uint32_t sizeInWords = 0;
    std::uint16_t objectCount = 0;
    std::uint32_t largestRecordWords = 0;
};

/// Reads little-endian parameters from one record.  A read past the end
/// yields 0 and makes failed() true for good, so a parser can read a whole
/// parameter block and check once.
class ParamReader {
public:
    ParamReader() = default;
    ParamReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    std::uint16_t u16();
    std::int16_t s16() { return static_cast<std::int16_t>(u16()); }
    std::uint32_t u32();
    std::uint8_t u8();
    /// Skips bytes; failed() when fewer remain.
    void skip(std::size_t bytes);
    /// The next `bytes` bytes, or nullptr (and failed()) when fewer remain.
    const std::uint8_t* take(std::size_t bytes);

    std::size_t remaining() const { return m_size - m_position; }
    std::size_t position() const { return m_position; }
    const std::uint8_t* here() const { return m_data + m_position; }
    bool failed() const { return m_failed; }

private:
    const std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_position = 0;
    bool m_failed = false;
};

struct Record {
    std::uint16_t function = 0;
    /// Size of the whole record in words, as the file states it.
    std::uint32_t sizeInWords = 0;
    /// Byte offset of the record in the buffer, for error texts.
    std::size_t offset = 0;
    ParamReader params;
};

/// The headers of a metafile and where its records start.  Refers into the
/// buffer handed to parseMetafile, which must outlive it.
struct Metafile {
    std::optional<PlaceableHeader> placeable;
    MetafileHeader header;
    const std::uint8_t* records = nullptr;
    std::size_t recordBytes = 0;
};

/// Parses the headers.  Fails on a buffer too short for them, a header
/// type other than 1 or 2, a header size other than 9 words, and on a
/// placeable header with an empty bounding box or zero units per inch.
/// The file size and largest-record fields are not trusted for anything.
LoadResult<Metafile> parseMetafile(const QByteArray& data);

/// Walks the records of a parsed metafile in file order.
class RecordStream {
public:
    enum class Step { Record, End, Error };

    explicit RecordStream(const Metafile& metafile);

    /// The next record.  End at the end-of-file record, or when the buffer
    /// ends exactly after a record (some writers omit the last record).
    /// Error for a record shorter than its own 6-byte head or longer than
    /// the bytes left; error() then says which.
    Step next(Record& record);
    const QString& error() const { return m_error; }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
    std::size_t m_baseOffset;
    QString m_error;
};

} // namespace toka::wmf
