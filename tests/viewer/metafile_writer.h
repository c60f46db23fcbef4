#pragma once
// Writes Windows metafiles record by record, for the tests and for the seed
// corpus of the fuzzer.  Coordinates are logical units; every record is laid
// out the way a recording device writes it (parameters in reverse order of
// the drawing call, strings padded to whole words).

#include <QByteArray>
#include <QPoint>
#include <QRgb>

#include <cstdint>
#include <string>
#include <vector>

namespace toka::test {

/// COLORREF: red in the low byte.
constexpr std::uint32_t colorRef(int red, int green, int blue) {
    return std::uint32_t(red) | (std::uint32_t(green) << 8) | (std::uint32_t(blue) << 16);
}

class MetafileWriter {
public:
    using Words = std::vector<std::uint16_t>;

    /// Any record: function and parameter words (the head is added).
    MetafileWriter& record(std::uint16_t function, const Words& params) {
        const std::uint32_t size = std::uint32_t(params.size()) + 3;
        put32(m_records, size);
        put16(m_records, function);
        for (std::uint16_t word : params) put16(m_records, word);
        m_largest = std::max(m_largest, size);
        return *this;
    }
    /// A record with raw parameter bytes (padded to a whole word).
    MetafileWriter& rawRecord(std::uint16_t function, const QByteArray& params) {
        QByteArray padded = params;
        if (padded.size() % 2) padded.append('\0');
        const std::uint32_t size = std::uint32_t(padded.size() / 2) + 3;
        put32(m_records, size);
        put16(m_records, function);
        m_records.append(padded);
        m_largest = std::max(m_largest, size);
        return *this;
    }

    MetafileWriter& setMapMode(int mode) { return record(0x0103, {w(mode)}); }
    MetafileWriter& setWindowOrg(int x, int y) { return record(0x020B, {w(y), w(x)}); }
    MetafileWriter& setWindowExt(int x, int y) { return record(0x020C, {w(y), w(x)}); }
    MetafileWriter& setViewportOrg(int x, int y) { return record(0x020D, {w(y), w(x)}); }
    MetafileWriter& setViewportExt(int x, int y) { return record(0x020E, {w(y), w(x)}); }
    MetafileWriter& setBkMode(int mode) { return record(0x0102, {w(mode)}); }
    MetafileWriter& setBkColor(std::uint32_t c) { return record(0x0201, {lo(c), hi(c)}); }
    MetafileWriter& setTextColor(std::uint32_t c) { return record(0x0209, {lo(c), hi(c)}); }
    MetafileWriter& setTextAlign(int align) { return record(0x012E, {w(align), 0}); }
    MetafileWriter& setPolyFillMode(int mode) { return record(0x0106, {w(mode)}); }
    MetafileWriter& saveDC() { return record(0x001E, {}); }
    MetafileWriter& restoreDC(int which) { return record(0x0127, {w(which)}); }
    MetafileWriter& selectObject(int index) { return record(0x012D, {w(index)}); }
    MetafileWriter& deleteObject(int index) { return record(0x01F0, {w(index)}); }
    MetafileWriter& selectPalette(int index) { return record(0x0234, {w(index)}); }

    MetafileWriter& createPen(int style, int width, std::uint32_t c) {
        ++m_objects;
        return record(0x02FA, {w(style), w(width), 0, lo(c), hi(c)});
    }
    MetafileWriter& createBrush(int style, std::uint32_t c, int hatch = 0) {
        ++m_objects;
        return record(0x02FC, {w(style), lo(c), hi(c), w(hatch)});
    }
    MetafileWriter& createFont(int height, int weight, const std::string& face, int escapement = 0,
                               bool italic = false) {
        ++m_objects;
        QByteArray p;
        for (int value : {height, 0, escapement, escapement, weight}) put16(p, w(value));
        p.append(char(italic ? 1 : 0)).append('\0').append('\0');           // italic, underline, strike-out
        p.append('\0').append('\0').append('\0').append('\0').append('\0'); // charset .. pitch
        QByteArray name = QByteArray::fromStdString(face).left(31);
        name.append(QByteArray(32 - name.size(), '\0'));
        p.append(name);
        return rawRecord(0x02FB, p);
    }
    /// Entries as red, green, blue.
    MetafileWriter& createPalette(const std::vector<QRgb>& entries) {
        ++m_objects;
        QByteArray p;
        put16(p, 0x0300);
        put16(p, w(int(entries.size())));
        for (QRgb rgb : entries)
            p.append(char(qRed(rgb))).append(char(qGreen(rgb))).append(char(qBlue(rgb))).append('\0');
        return rawRecord(0x00F7, p);
    }
    MetafileWriter& dibCreatePatternBrush(const QByteArray& dib) {
        ++m_objects;
        QByteArray p;
        put16(p, 5); // BS_DIBPATTERN
        put16(p, 0); // RGB colours
        return rawRecord(0x0142, p + dib);
    }

    MetafileWriter& moveTo(int x, int y) { return record(0x0214, {w(y), w(x)}); }
    MetafileWriter& lineTo(int x, int y) { return record(0x0213, {w(y), w(x)}); }
    MetafileWriter& rectangle(int l, int t, int r, int b) { return record(0x041B, {w(b), w(r), w(t), w(l)}); }
    MetafileWriter& ellipse(int l, int t, int r, int b) { return record(0x0418, {w(b), w(r), w(t), w(l)}); }
    MetafileWriter& roundRect(int l, int t, int r, int b, int cw, int ch) {
        return record(0x061C, {w(ch), w(cw), w(b), w(r), w(t), w(l)});
    }
    /// Arc 0x0817, pie 0x081A, chord 0x0830.
    MetafileWriter& arcLike(std::uint16_t function, int l, int t, int r, int b, QPoint start, QPoint end) {
        return record(function, {w(end.y()), w(end.x()), w(start.y()), w(start.x()), w(b), w(r), w(t), w(l)});
    }
    MetafileWriter& polygon(const std::vector<QPoint>& points) { return poly(0x0324, points); }
    MetafileWriter& polyline(const std::vector<QPoint>& points) { return poly(0x0325, points); }
    MetafileWriter& polyPolygon(const std::vector<std::vector<QPoint>>& polygons) {
        Words p{w(int(polygons.size()))};
        for (const auto& points : polygons) p.push_back(w(int(points.size())));
        for (const auto& points : polygons)
            for (QPoint point : points) p.insert(p.end(), {w(point.x()), w(point.y())});
        return record(0x0538, p);
    }
    MetafileWriter& setPixel(int x, int y, std::uint32_t c) { return record(0x041F, {lo(c), hi(c), w(y), w(x)}); }
    MetafileWriter& patBlt(int x, int y, int width, int height, std::uint32_t rop) {
        return record(0x061D, {lo(rop), hi(rop), w(height), w(width), w(y), w(x)});
    }
    MetafileWriter& intersectClipRect(int l, int t, int r, int b) { return record(0x0416, {w(b), w(r), w(t), w(l)}); }
    MetafileWriter& excludeClipRect(int l, int t, int r, int b) { return record(0x0415, {w(b), w(r), w(t), w(l)}); }

    MetafileWriter& textOut(int x, int y, const QByteArray& text) {
        QByteArray p;
        put16(p, w(int(text.size())));
        p.append(text);
        if (p.size() % 2) p.append('\0');
        put16(p, w(y));
        put16(p, w(x));
        return rawRecord(0x0521, p);
    }
    /// Options 2 (opaque) or 4 (clipped) carry `rect` (l, t, r, b).
    MetafileWriter& extTextOut(int x, int y, const QByteArray& text, int options = 0, std::vector<int> rect = {},
                               const std::vector<int>& advances = {}) {
        QByteArray p;
        for (int value : {y, x, int(text.size()), options}) put16(p, w(value));
        if (options & 6)
            for (int value : rect) put16(p, w(value));
        p.append(text);
        if (p.size() % 2) p.append('\0');
        for (int advance : advances) put16(p, w(advance));
        return rawRecord(0x0A32, p);
    }

    /// Stretches the whole bitmap onto the destination rectangle.
    MetafileWriter& stretchDib(const QByteArray& dib, int bitmapWidth, int bitmapHeight, int x, int y, int width,
                               int height) {
        QByteArray p;
        put32(p, 0x00CC0020);
        for (int value : {0, bitmapHeight, bitmapWidth, 0, 0, height, width, y, x}) put16(p, w(value));
        return rawRecord(0x0F43, p + dib);
    }
    MetafileWriter& dibStretchBlt(const QByteArray& dib, int bitmapWidth, int bitmapHeight, int x, int y, int width,
                                  int height) {
        QByteArray p;
        put32(p, 0x00CC0020);
        for (int value : {bitmapHeight, bitmapWidth, 0, 0, height, width, y, x}) put16(p, w(value));
        return rawRecord(0x0B41, p + dib);
    }
    MetafileWriter& dibBitBlt(const QByteArray& dib, int width, int height, int x, int y) {
        QByteArray p;
        put32(p, 0x00CC0020);
        for (int value : {0, 0, height, width, y, x}) put16(p, w(value));
        return rawRecord(0x0940, p + dib);
    }
    MetafileWriter& setDibToDev(const QByteArray& dib, int width, int height, int x, int y) {
        QByteArray p;
        for (int value : {0, height, 0, 0, 0, height, width, y, x}) put16(p, w(value));
        return rawRecord(0x0D33, p + dib);
    }

    /// A bottom-up 24-bit bitmap (info header and pixels), one colour per
    /// pixel from `pixel(x, y)` with y counted from the top.
    template <typename Pixel>
    static QByteArray dib24(int width, int height, Pixel pixel) {
        QByteArray d;
        put32(d, 40);
        put32(d, std::uint32_t(width));
        put32(d, std::uint32_t(height));
        put16(d, 1);
        put16(d, 24);
        for (int i = 0; i < 6; ++i) put32(d, 0);
        const int stride = (width * 3 + 3) / 4 * 4;
        for (int row = height - 1; row >= 0; --row) {
            QByteArray line;
            for (int x = 0; x < width; ++x) {
                const QRgb rgb = pixel(x, row);
                line.append(char(qBlue(rgb))).append(char(qGreen(rgb))).append(char(qRed(rgb)));
            }
            line.append(QByteArray(stride - line.size(), '\0'));
            d.append(line);
        }
        return d;
    }

    /// Overrides the object count of the header (default: one slot per
    /// object created).
    MetafileWriter& objectCount(int count) {
        m_objectOverride = count;
        return *this;
    }

    QByteArray plain() const { return header() + m_records + endRecord(); }
    QByteArray placeable(int left, int top, int right, int bottom, int unitsPerInch) const {
        QByteArray p;
        put32(p, 0x9AC6CDD7);
        put16(p, 0);
        for (int value : {left, top, right, bottom, unitsPerInch}) put16(p, w(value));
        put32(p, 0);
        std::uint16_t checksum = 0;
        for (int i = 0; i < 20; i += 2) checksum ^= std::uint16_t(std::uint8_t(p[i]) | (std::uint8_t(p[i + 1]) << 8));
        put16(p, checksum);
        return p + plain();
    }

    static void put16(QByteArray& out, std::uint16_t value) { out.append(char(value & 0xFF)).append(char(value >> 8)); }
    static void put32(QByteArray& out, std::uint32_t value) {
        put16(out, std::uint16_t(value & 0xFFFF));
        put16(out, std::uint16_t(value >> 16));
    }

private:
    static std::uint16_t w(int value) { return std::uint16_t(value); }
    static std::uint16_t lo(std::uint32_t value) { return std::uint16_t(value & 0xFFFF); }
    static std::uint16_t hi(std::uint32_t value) { return std::uint16_t(value >> 16); }

    MetafileWriter& poly(std::uint16_t function, const std::vector<QPoint>& points) {
        Words p{w(int(points.size()))};
        for (QPoint point : points) p.insert(p.end(), {w(point.x()), w(point.y())});
        return record(function, p);
    }
    static QByteArray endRecord() {
        QByteArray e;
        put32(e, 3);
        put16(e, 0);
        return e;
    }
    QByteArray header() const {
        QByteArray h;
        put16(h, 1); // memory metafile
        put16(h, 9);
        put16(h, 0x0300);
        put32(h, std::uint32_t((18 + m_records.size() + 6) / 2));
        put16(h, w(m_objectOverride >= 0 ? m_objectOverride : m_objects));
        put32(h, m_largest);
        put16(h, 0);
        return h;
    }

    QByteArray m_records;
    int m_objects = 0;
    int m_objectOverride = -1;
    std::uint32_t m_largest = 3;
};

} // namespace toka::test
