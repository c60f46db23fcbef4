// Writes the seed metafiles of the fuzzer: small, valid files that between
// them use every record the player knows, so that mutation starts from
// inputs that reach deep into each record's code.
//
//   make_corpus DIR

#include <QFile>
#include <QString>

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include "metafile_writer.h"

using toka::test::colorRef;
using toka::test::MetafileWriter;

namespace {

QByteArray checkerDib(int width, int height) {
    return MetafileWriter::dib24(width, height,
                                 [](int x, int y) { return ((x + y) & 1) ? qRgb(255, 0, 0) : qRgb(0, 0, 255); });
}

/// An 8-bit bitmap with a four-entry colour table.
QByteArray paletteDib() {
    QByteArray d;
    MetafileWriter::put32(d, 40);
    MetafileWriter::put32(d, 4);
    MetafileWriter::put32(d, 2);
    MetafileWriter::put16(d, 1);
    MetafileWriter::put16(d, 8);
    MetafileWriter::put32(d, 0);
    MetafileWriter::put32(d, 0);
    MetafileWriter::put32(d, 0);
    MetafileWriter::put32(d, 0);
    MetafileWriter::put32(d, 4);
    MetafileWriter::put32(d, 0);
    for (QRgb rgb : {qRgb(0, 0, 0), qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)})
        d.append(char(qBlue(rgb))).append(char(qGreen(rgb))).append(char(qRed(rgb))).append('\0');
    d.append(QByteArray::fromHex("0001020303020100"));
    return d;
}

std::vector<std::pair<const char*, QByteArray>> seeds() {
    std::vector<std::pair<const char*, QByteArray>> out;
    {
        MetafileWriter m;
        m.setWindowOrg(0, 0).setWindowExt(200, 100);
        m.createBrush(0, colorRef(255, 0, 0)).selectObject(0);
        m.createPen(5, 0, 0).selectObject(1);
        m.rectangle(10, 10, 60, 40);
        out.emplace_back("rectangle.wmf", m.placeable(0, 0, 200, 100, 96));
    }
    {
        MetafileWriter m;
        m.setMapMode(8).setWindowOrg(0, 0).setWindowExt(1000, 1000);
        m.createPen(0, 3, colorRef(0, 0, 128)).selectObject(0);
        m.createBrush(2, colorRef(0, 128, 0), 4).selectObject(1);
        m.setPolyFillMode(2);
        m.polygon({{100, 100}, {900, 200}, {500, 900}, {200, 600}});
        m.polyline({{0, 0}, {1000, 1000}, {0, 1000}});
        m.polyPolygon({{{100, 100}, {400, 100}, {400, 400}}, {{500, 500}, {900, 500}, {900, 900}, {500, 900}}});
        m.moveTo(0, 500).lineTo(1000, 500);
        out.emplace_back("polygons.wmf", m.placeable(0, 0, 1000, 1000, 1440));
    }
    {
        MetafileWriter m;
        m.setWindowExt(300, 200);
        m.createPen(1, 0, colorRef(0, 0, 0)).selectObject(0);
        m.createBrush(0, colorRef(255, 255, 0)).selectObject(1);
        m.ellipse(10, 10, 100, 80);
        m.roundRect(110, 10, 200, 80, 20, 20);
        m.arcLike(0x0817, 10, 100, 100, 190, {100, 145}, {55, 100});
        m.arcLike(0x081A, 110, 100, 200, 190, {200, 145}, {155, 100});
        m.arcLike(0x0830, 210, 100, 290, 190, {290, 145}, {210, 145});
        out.emplace_back("curves.wmf", m.plain());
    }
    {
        MetafileWriter m;
        m.setWindowOrg(0, 0).setWindowExt(400, 100);
        m.createFont(-24, 700, "DejaVu Sans").selectObject(0);
        m.setTextColor(colorRef(0, 0, 0)).setBkMode(1);
        m.textOut(10, 10, "Hello");
        m.setBkMode(2).setBkColor(colorRef(200, 200, 255)).setTextAlign(24);
        m.extTextOut(100, 60, "World", 6, {90, 30, 300, 70}, {12, 12, 12, 12, 12});
        m.createFont(20, 400, "DejaVu Serif", 450, true).selectObject(1);
        m.setTextAlign(1).moveTo(20, 90).textOut(0, 0, "Angle\xe4");
        out.emplace_back("text.wmf", m.placeable(0, 0, 400, 100, 96));
    }
    {
        MetafileWriter m;
        m.setWindowExt(64, 64);
        const QByteArray dib = checkerDib(4, 4);
        m.stretchDib(dib, 4, 4, 0, 0, 32, 32);
        m.dibStretchBlt(dib, 4, 4, 32, 0, 32, 32);
        m.dibBitBlt(dib, 4, 4, 0, 40);
        m.setDibToDev(paletteDib(), 4, 2, 10, 40);
        m.dibCreatePatternBrush(checkerDib(2, 2)).selectObject(0);
        m.rectangle(40, 40, 64, 64);
        out.emplace_back("bitmaps.wmf", m.plain());
    }
    {
        MetafileWriter m;
        m.setWindowExt(100, 100);
        m.createPalette({qRgb(255, 0, 0), qRgb(0, 255, 0)}).selectPalette(0);
        m.createBrush(0, 0x01000001).selectObject(1);
        m.rectangle(0, 0, 50, 50);
        m.record(0x0037, {0, 1, 0x00FF, 0x00FF}); // set palette entries
        m.setPixel(60, 60, 0x01000000);
        m.patBlt(50, 50, 40, 40, 0x00F00021).patBlt(0, 60, 20, 20, 0x00000042);
        m.deleteObject(1).createBrush(1, 0).selectObject(1);
        out.emplace_back("palette.wmf", m.plain());
    }
    {
        MetafileWriter m;
        m.setWindowExt(100, 100);
        m.saveDC().intersectClipRect(10, 10, 90, 90).excludeClipRect(40, 40, 60, 60);
        m.createBrush(0, colorRef(0, 0, 255)).selectObject(0);
        m.rectangle(0, 0, 100, 100);
        m.restoreDC(-1).saveDC().saveDC().restoreDC(1);
        m.setViewportOrg(10, 10).setViewportExt(50, 50).setMapMode(7).ellipse(0, 0, 100, 100);
        m.record(0x0410, {1, 2, 1, 2}).record(0x0412, {2, 1, 2, 1});
        m.record(0x020F, {5, 5}).record(0x0211, {5, 5}).record(0x0220, {1, 1});
        m.setMapMode(2).rectangle(0, 0, 100, -100).setMapMode(6).rectangle(0, 0, 1440, -1440);
        out.emplace_back("state.wmf", m.plain());
    }
    {
        MetafileWriter m;
        m.setWindowExt(-100, -100).setWindowOrg(100, 100);
        m.record(0x0626, {15, 0}).record(0x06FF, {0, 0, 0}).record(0x012C, {0}); // escape, region
        m.record(0x0548, {0, 0, 0, 0, 0}).record(0x1234, {1, 2, 3});             // unknown record
        m.rectangle(0, 0, 50, 50);
        out.emplace_back("odd.wmf", m.plain());
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_corpus DIR\n");
        return 2;
    }
    for (const auto& [name, bytes] : seeds()) {
        QFile file(QString::fromLocal8Bit(argv[1]) + QLatin1Char('/') + QLatin1String(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "make_corpus: cannot write %s\n", name);
            return 1;
        }
    }
    return 0;
}
