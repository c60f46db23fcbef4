// The metafile player on generated files: known records to known pixels,
// the picture size rules, and damaged files that must fail, not crash.

#include <QImage>

#include <gtest/gtest.h>

#include <functional>
#include <ios>
#include <ostream>
#include <string>
#include <vector>

#include "metafile_writer.h"
#include "viewer/wmf_player.h"
#include "viewer/wmf_reader.h"

namespace toka::test {
namespace {

constexpr std::uint32_t kRed = colorRef(255, 0, 0);
constexpr std::uint32_t kBlue = colorRef(0, 0, 255);
constexpr std::uint32_t kGreen = colorRef(0, 255, 0);
constexpr QRgb kNone = 0; // transparent: nothing drawn
constexpr int kNullPen = 5;
constexpr int kNullBrush = 1;

/// A writer whose picture is `width` x `height` pixels, with a null pen
/// and a solid brush of `brush` selected in slots 0 and 1.
MetafileWriter canvas(int width, int height, std::uint32_t brush) {
    MetafileWriter m;
    m.setWindowOrg(0, 0).setWindowExt(width, height);
    m.createPen(kNullPen, 0, 0).selectObject(0);
    m.createBrush(0, brush).selectObject(1);
    return m;
}

struct Probe {
    int x, y;
    QRgb expected;
};

struct PixelCase {
    std::string name;
    std::function<QByteArray()> file;
    QSize size;
    std::vector<Probe> probes;
};

void PrintTo(const PixelCase& c, std::ostream* os) { *os << c.name; }

class PlayerPixels : public ::testing::TestWithParam<PixelCase> {};

TEST_P(PlayerPixels, DrawsKnownPixels) {
    const PixelCase& c = GetParam();
    const auto image = loadMetafile(c.file());
    ASSERT_TRUE(image.ok()) << image.error().toStdString();
    ASSERT_EQ(image.value().size(), c.size);
    for (const Probe& probe : c.probes)
        EXPECT_EQ(image.value().pixel(probe.x, probe.y), probe.expected) << "at " << probe.x << "," << probe.y;
}

const QRgb red = qRgb(255, 0, 0), blue = qRgb(0, 0, 255), green = qRgb(0, 255, 0), black = qRgb(0, 0, 0);

INSTANTIATE_TEST_SUITE_P(
    Records, PlayerPixels,
    ::testing::Values(
        // A null pen leaves the right column and bottom row unfilled, as on
        // the recording device.
        PixelCase{"placeable_red_rectangle",
                  [] { return canvas(200, 100, kRed).rectangle(10, 10, 60, 40).placeable(0, 0, 200, 100, 96); },
                  {200, 100},
                  {{10, 10, red}, {58, 38, red}, {59, 20, kNone}, {20, 39, kNone}, {9, 20, kNone}, {20, 9, kNone}}},
        // 2880 units at 1440 per inch are two inches: 192 pixels.
        PixelCase{"placeable_units_per_inch",
                  [] {
                      MetafileWriter m;
                      m.createPen(kNullPen, 0, 0).selectObject(0).createBrush(0, kRed).selectObject(1);
                      return m.rectangle(1440, 0, 2880, 1440).placeable(0, 0, 2880, 1440, 1440);
                  },
                  {192, 96},
                  {{100, 10, red}, {190, 90, red}, {94, 10, kNone}}},
        // The bounding box's origin is the picture's top left corner.
        PixelCase{"placeable_offset_box",
                  [] {
                      MetafileWriter m;
                      m.createPen(kNullPen, 0, 0).selectObject(0).createBrush(0, kRed).selectObject(1);
                      return m.rectangle(1000, 1000, 1010, 1010).placeable(1000, 1000, 1100, 1050, 96);
                  },
                  {100, 50},
                  {{0, 0, red}, {8, 8, red}, {20, 20, kNone}}},
        PixelCase{"plain_size_from_window_extent",
                  [] { return canvas(120, 30, kBlue).rectangle(0, 0, 121, 31).plain(); },
                  {120, 30},
                  {{0, 0, blue}, {119, 29, blue}}},
        PixelCase{"window_origin_shifts",
                  [] { return canvas(100, 100, kRed).setWindowOrg(100, 100).rectangle(100, 100, 151, 151).plain(); },
                  {100, 100},
                  {{0, 0, red}, {49, 49, red}, {50, 50, kNone}}},
        // A negative window height turns y upwards: logical 0 is the bottom.
        PixelCase{"negative_extent_flips",
                  [] {
                      return canvas(100, 100, kRed)
                          .setWindowOrg(0, 100)
                          .setWindowExt(100, -100)
                          .rectangle(0, 0, 50, 50)
                          .plain();
                  },
                  {100, 100},
                  {{10, 90, red}, {10, 10, kNone}}},
        PixelCase{"viewport_scales",
                  [] { return canvas(100, 100, kRed).setViewportExt(50, 50).rectangle(0, 0, 100, 100).plain(); },
                  {100, 100},
                  {{40, 40, red}, {60, 60, kNone}}},
        // Isotropic keeps the smaller scale on both axes.
        PixelCase{"isotropic_uniform",
                  [] {
                      return canvas(100, 100, kRed)
                          .setMapMode(7)
                          .setWindowExt(100, 50)
                          .setViewportExt(100, 100)
                          .rectangle(0, 0, 100, 50)
                          .plain();
                  },
                  {100, 100},
                  {{90, 40, red}, {90, 60, kNone}}},
        // The text mode ignores extents: one unit is one pixel.
        PixelCase{
            "text_map_mode_ignores_extent",
            [] { return canvas(100, 100, kRed).setMapMode(1).setWindowExt(10, 10).rectangle(0, 0, 11, 11).plain(); },
            {100, 100},
            {{5, 5, red}, {20, 20, kNone}}},
        PixelCase{"polygon_triangle",
                  [] {
                      return canvas(100, 100, kBlue).polygon({{10, 10}, {90, 10}, {10, 90}}).plain();
                  },
                  {100, 100},
                  {{15, 15, blue}, {70, 15, blue}, {15, 70, blue}, {80, 80, kNone}}},
        // A pentagram: its centre is covered twice, a hole when alternating.
        PixelCase{"poly_fill_alternate",
                  [] {
                      return canvas(100, 100, kBlue).polygon({{50, 0}, {80, 95}, {0, 35}, {100, 35}, {20, 95}}).plain();
                  },
                  {100, 100},
                  {{50, 50, kNone}, {50, 20, blue}}},
        PixelCase{"poly_fill_winding",
                  [] {
                      return canvas(100, 100, kBlue)
                          .setPolyFillMode(2)
                          .polygon({{50, 0}, {80, 95}, {0, 35}, {100, 35}, {20, 95}})
                          .plain();
                  },
                  {100, 100},
                  {{50, 50, blue}, {50, 20, blue}}},
        PixelCase{"poly_polygon_two_squares",
                  [] {
                      return canvas(100, 100, kGreen)
                          .polyPolygon(
                              {{{0, 0}, {40, 0}, {40, 40}, {0, 40}}, {{60, 60}, {100, 60}, {100, 100}, {60, 100}}})
                          .plain();
                  },
                  {100, 100},
                  {{20, 20, green}, {80, 80, green}, {50, 50, kNone}}},
        // The pen's frame runs through the last column inside the rectangle.
        PixelCase{
            "pen_frames_rectangle",
            [] {
                MetafileWriter m;
                m.setWindowExt(100, 100).createPen(0, 1, 0).selectObject(0);
                m.createBrush(kNullBrush, 0).selectObject(1);
                return m.rectangle(10, 10, 60, 40).plain();
            },
            {100, 100},
            {{10, 25, black}, {59, 25, black}, {30, 10, black}, {30, 39, black}, {30, 25, kNone}, {60, 25, kNone}}},
        PixelCase{"line_to",
                  [] {
                      MetafileWriter m;
                      m.setWindowExt(100, 100).createPen(0, 1, kRed).selectObject(0);
                      return m.moveTo(10, 50).lineTo(90, 50).plain();
                  },
                  {100, 100},
                  {{10, 50, red}, {50, 50, red}, {50, 40, kNone}}},
        PixelCase{"ellipse",
                  [] { return canvas(100, 100, kRed).ellipse(0, 0, 100, 100).plain(); },
                  {100, 100},
                  {{50, 50, red}, {2, 2, kNone}, {97, 97, kNone}}},
        // Counterclockwise from 3 o'clock to 12 o'clock: the upper right.
        PixelCase{"pie_quadrant",
                  [] {
                      return canvas(100, 100, kRed).arcLike(0x081A, 0, 0, 100, 100, {100, 50}, {50, 0}).plain();
                  },
                  {100, 100},
                  {{70, 30, red}, {30, 30, kNone}, {70, 70, kNone}, {30, 70, kNone}}},
        PixelCase{"chord_upper_half",
                  [] {
                      return canvas(100, 100, kRed).arcLike(0x0830, 0, 0, 100, 100, {100, 50}, {0, 50}).plain();
                  },
                  {100, 100},
                  {{50, 20, red}, {50, 80, kNone}}},
        // Slots are handed out lowest free first: after deleting slot 1 the
        // next brush takes it back.
        PixelCase{"object_slot_reuse",
                  [] {
                      MetafileWriter m = canvas(100, 100, kRed);
                      m.createBrush(0, kGreen).deleteObject(1).createBrush(0, kBlue).selectObject(1);
                      return m.objectCount(3).rectangle(0, 0, 50, 50).plain();
                  },
                  {100, 100},
                  {{20, 20, blue}}},
        PixelCase{"restore_brings_back_brush",
                  [] {
                      MetafileWriter m = canvas(100, 100, kRed);
                      m.saveDC().createBrush(0, kGreen).selectObject(2).restoreDC(-1);
                      return m.rectangle(0, 0, 50, 50).plain();
                  },
                  {100, 100},
                  {{20, 20, red}}},
        PixelCase{"restore_absolute_level",
                  [] {
                      MetafileWriter m = canvas(100, 100, kRed);
                      m.saveDC().createBrush(0, kGreen).selectObject(2).saveDC().saveDC().restoreDC(1);
                      return m.rectangle(0, 0, 50, 50).plain();
                  },
                  {100, 100},
                  {{20, 20, red}}},
        PixelCase{"clip_intersect_and_exclude",
                  [] {
                      return canvas(100, 100, kRed)
                          .intersectClipRect(0, 0, 50, 100)
                          .excludeClipRect(0, 0, 20, 20)
                          .rectangle(0, 0, 101, 101)
                          .plain();
                  },
                  {100, 100},
                  {{30, 50, red}, {10, 10, kNone}, {70, 50, kNone}}},
        PixelCase{"clip_restored",
                  [] {
                      return canvas(100, 100, kRed)
                          .saveDC()
                          .intersectClipRect(0, 0, 10, 10)
                          .restoreDC(-1)
                          .rectangle(0, 0, 101, 101)
                          .plain();
                  },
                  {100, 100},
                  {{50, 50, red}}},
        // Rows of a bottom-up bitmap are stored last row first.
        PixelCase{"stretch_dib_quadrants",
                  [] {
                      const QByteArray dib = MetafileWriter::dib24(2, 2, [](int x, int y) {
                          return y == 0 ? (x == 0 ? qRgb(255, 0, 0) : qRgb(0, 255, 0))
                                        : (x == 0 ? qRgb(0, 0, 255) : qRgb(0, 0, 0));
                      });
                      MetafileWriter m;
                      return m.setWindowExt(40, 40).stretchDib(dib, 2, 2, 0, 0, 40, 40).plain();
                  },
                  {40, 40},
                  {{5, 5, red}, {35, 5, green}, {5, 35, blue}, {35, 35, black}}},
        PixelCase{"dib_bit_blt_unscaled",
                  [] {
                      const QByteArray dib = MetafileWriter::dib24(3, 3, [](int, int) { return qRgb(0, 0, 255); });
                      MetafileWriter m;
                      return m.setWindowExt(10, 10).dibBitBlt(dib, 3, 3, 5, 5).plain();
                  },
                  {10, 10},
                  {{5, 5, blue}, {7, 7, blue}, {8, 8, kNone}, {4, 4, kNone}}},
        PixelCase{"palette_index_colour",
                  [] {
                      MetafileWriter m;
                      m.setWindowExt(100, 100).createPen(kNullPen, 0, 0).selectObject(0);
                      m.createPalette({qRgb(255, 0, 0), qRgb(0, 255, 0)}).selectPalette(1);
                      m.createBrush(0, 0x01000001).selectObject(2);
                      return m.rectangle(0, 0, 50, 50).plain();
                  },
                  {100, 100},
                  {{20, 20, green}}},
        PixelCase{"pat_blt_blackness",
                  [] { return canvas(100, 100, kRed).patBlt(10, 10, 20, 20, 0x00000042).plain(); },
                  {100, 100},
                  {{10, 10, black}, {29, 29, black}, {30, 30, kNone}}},
        // Unknown records are skipped; drawing goes on after them.
        PixelCase{"unknown_record_skipped",
                  [] {
                      return canvas(100, 100, kRed).record(0x7777, {1, 2, 3}).rectangle(0, 0, 50, 50).plain();
                  },
                  {100, 100},
                  {{20, 20, red}}}),
    [](const auto& test) { return test.param.name; });

/// Dark, opaque pixels: text drawn in black.
int darkPixels(const QImage& image, const QRect& area) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            count += qAlpha(p) > 128 && qGray(p) < 100;
        }
    return count;
}

TEST(PlayerText, TextOutDrawsInItsArea) {
    MetafileWriter m;
    m.setWindowExt(200, 60).createFont(-30, 700, "DejaVu Sans").selectObject(0);
    m.setBkMode(1).setTextColor(0).textOut(5, 5, "Hello");
    const auto image = loadMetafile(m.plain());
    ASSERT_TRUE(image.ok()) << image.error().toStdString();
    EXPECT_GT(darkPixels(image.value(), QRect(0, 0, 100, 45)), 100);
    EXPECT_EQ(darkPixels(image.value(), QRect(120, 0, 80, 60)), 0); // "Hello" at 30 px ends well before
}

// Right and bottom alignment put the text left of and above the point.
TEST(PlayerText, AlignmentMovesTextToTheOtherSide) {
    MetafileWriter m;
    m.setWindowExt(200, 100).createFont(-30, 700, "DejaVu Sans").selectObject(0);
    m.setBkMode(1).setTextAlign(2 | 8).extTextOut(190, 90, "Hello");
    const auto image = loadMetafile(m.plain());
    ASSERT_TRUE(image.ok()) << image.error().toStdString();
    EXPECT_GT(darkPixels(image.value(), QRect(100, 50, 100, 50)), 100);
    EXPECT_EQ(darkPixels(image.value(), QRect(0, 0, 200, 50)), 0);
}

TEST(PlayerText, OpaqueExtTextOutFillsItsRectangle) {
    MetafileWriter m;
    m.setWindowExt(100, 40).setBkColor(kBlue).extTextOut(0, 0, "x", 2, {10, 10, 50, 30});
    const auto image = loadMetafile(m.plain());
    ASSERT_TRUE(image.ok()) << image.error().toStdString();
    EXPECT_EQ(image.value().pixel(45, 25), blue);
    EXPECT_EQ(image.value().pixel(60, 25), kNone);
}

TEST(PlayerHeader, ChecksumMismatchIsAccepted) {
    QByteArray file = canvas(10, 10, kRed).placeable(0, 0, 10, 10, 96);
    file[20] = char(file[20] ^ 0x55);
    EXPECT_TRUE(loadMetafile(file).ok());
}

TEST(PlayerHeader, MissingEndRecordAtRecordBoundaryIsAccepted) {
    QByteArray file = canvas(10, 10, kRed).rectangle(0, 0, 5, 5).plain();
    file.chop(6);
    EXPECT_TRUE(loadMetafile(file).ok());
}

// A bitmap whose pixels are cut short is left out; the rest still draws.
TEST(PlayerBitmap, DamagedBitmapIsSkipped) {
    QByteArray dib = MetafileWriter::dib24(8, 8, [](int, int) { return qRgb(0, 0, 255); });
    dib.chop(40);
    const auto image =
        loadMetafile(canvas(20, 20, kRed).stretchDib(dib, 8, 8, 0, 0, 20, 20).rectangle(10, 10, 21, 21).plain());
    ASSERT_TRUE(image.ok()) << image.error().toStdString();
    EXPECT_EQ(image.value().pixel(2, 2), kNone);
    EXPECT_EQ(image.value().pixel(15, 15), red);
}

struct FailureCase {
    std::string name;
    std::function<QByteArray()> file;
    MetafileLimits limits;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class PlayerFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PlayerFailures, FailsWithReason) {
    const auto image = loadMetafile(GetParam().file(), GetParam().limits);
    EXPECT_FALSE(image.ok());
    EXPECT_FALSE(image.error().isEmpty());
}

/// Replaces the 16-bit word at byte `at`.
QByteArray patched(QByteArray file, int at, std::uint16_t value) {
    file[at] = char(value & 0xFF);
    file[at + 1] = char(value >> 8);
    return file;
}

MetafileLimits tight(std::function<void(MetafileLimits&)> change) {
    MetafileLimits limits;
    change(limits);
    return limits;
}

constexpr int kFirstRecord = 18; // in a plain file

INSTANTIATE_TEST_SUITE_P(
    Damaged, PlayerFailures,
    ::testing::Values(
        FailureCase{"empty", [] { return QByteArray(); }, {}},
        FailureCase{"header_cut_short", [] { return canvas(10, 10, kRed).plain().left(17); }, {}},
        FailureCase{"type_neither_memory_nor_disk", [] { return patched(canvas(10, 10, kRed).plain(), 0, 3); }, {}},
        FailureCase{"header_size_not_nine", [] { return patched(canvas(10, 10, kRed).plain(), 2, 10); }, {}},
        FailureCase{
            "placeable_cut_short", [] { return canvas(10, 10, kRed).placeable(0, 0, 10, 10, 96).left(21); }, {}},
        FailureCase{
            "placeable_zero_units_per_inch", [] { return canvas(10, 10, kRed).placeable(0, 0, 10, 10, 0); }, {}},
        FailureCase{"placeable_empty_box", [] { return canvas(10, 10, kRed).placeable(5, 0, 5, 10, 96); }, {}},
        // 32767 units at one unit per inch would be 3 million pixels wide.
        FailureCase{"placeable_too_large", [] { return canvas(10, 10, kRed).placeable(0, 0, 32767, 10, 1); }, {}},
        FailureCase{"plain_without_window_extent", [] { return MetafileWriter().rectangle(0, 0, 5, 5).plain(); }, {}},
        FailureCase{"plain_picture_above_pixel_cap", [] { return canvas(8000, 8000, kRed).plain(); }, {}},
        FailureCase{
            "record_shorter_than_its_head", [] { return patched(canvas(10, 10, kRed).plain(), kFirstRecord, 2); }, {}},
        FailureCase{"record_longer_than_the_file",
                    [] { return patched(canvas(10, 10, kRed).plain(), kFirstRecord, 0xFFFF); },
                    {}},
        FailureCase{"record_size_high_word",
                    [] { return patched(canvas(10, 10, kRed).plain(), kFirstRecord + 2, 0x8000); },
                    {}},
        FailureCase{"truncated_last_record",
                    [] { return canvas(10, 10, kRed).rectangle(0, 0, 5, 5).plain().chopped(6 + 3); },
                    {}},
        FailureCase{"polygon_count_beyond_points",
                    [] {
                        return canvas(10, 10, kRed).record(0x0324, {1000, 1, 1, 5, 5}).plain();
                    },
                    {}},
        FailureCase{"polygon_negative_count",
                    [] {
                        return canvas(10, 10, kRed).record(0x0324, {0xFFFF, 1, 1}).plain();
                    },
                    {}},
        FailureCase{"poly_polygon_counts_beyond_points",
                    [] {
                        return canvas(10, 10, kRed).record(0x0538, {2, 3, 0xFFFF, 0, 0, 1, 1, 2, 2}).plain();
                    },
                    {}},
        FailureCase{"poly_polygon_more_counts_than_words",
                    [] {
                        return canvas(10, 10, kRed).record(0x0538, {0xFFFF, 1}).plain();
                    },
                    {}},
        FailureCase{"text_length_beyond_record",
                    [] {
                        return canvas(10, 10, kRed).record(0x0521, {5000, 0x4141, 0, 0}).plain();
                    },
                    {}},
        FailureCase{"palette_count_beyond_entries",
                    [] {
                        return canvas(10, 10, kRed).record(0x00F7, {0x0300, 5000, 0, 0}).plain();
                    },
                    {}},
        FailureCase{"rectangle_missing_parameters",
                    [] {
                        return canvas(10, 10, kRed).record(0x041B, {5, 5}).plain();
                    },
                    {}},
        FailureCase{"save_depth_limit",
                    [] {
                        MetafileWriter m = canvas(10, 10, kRed);
                        for (int i = 0; i < 1100; ++i) m.saveDC();
                        return m.plain();
                    },
                    {}},
        FailureCase{"record_count_limit",
                    [] {
                        MetafileWriter m = canvas(10, 10, kRed);
                        for (int i = 0; i < 50; ++i) m.setBkMode(1);
                        return m.plain();
                    },
                    tight([](MetafileLimits& l) { l.maxRecords = 20; })},
        // Each full-picture fill costs its area: a thousand of them exceed
        // a budget of a hundred pictures' worth.
        FailureCase{"work_budget",
                    [] {
                        MetafileWriter m = canvas(100, 100, kRed);
                        for (int i = 0; i < 1000; ++i) m.rectangle(0, 0, 100, 100);
                        return m.plain();
                    },
                    tight([](MetafileLimits& l) { l.workBudget = 100 * 100 * 100; })}),
    [](const auto& test) { return test.param.name; });

// Files that once took seconds each to draw: every one must now run out of
// its work budget (with the default limits) instead of freezing the window.
INSTANTIATE_TEST_SUITE_P(
    TooMuchWork, PlayerFailures,
    ::testing::Values(
        // Hatched fills cost about eight times a solid fill.
        FailureCase{"hatched_fills",
                    [] {
                        MetafileWriter m;
                        m.setWindowExt(8192, 2048).createBrush(2, 0, 5).selectObject(0);
                        for (int i = 0; i < 100; ++i) m.rectangle(0, 0, 8192, 2048);
                        return m.plain();
                    },
                    {}},
        // A 4096-pixel pen sweeps the whole picture with every segment.
        FailureCase{"wide_pen_polyline",
                    [] {
                        MetafileWriter m;
                        m.setWindowExt(4096, 4096).createPen(0, 4096, 0).selectObject(0);
                        std::vector<QPoint> points;
                        for (int i = 0; i < 16000; ++i) points.push_back({(i * 37) % 4096, (i * 91) % 4096});
                        return m.polyline(points).plain();
                    },
                    {}},
        // Glyphs of 2048 pixels are drawn as outlines, visible or not.
        FailureCase{"huge_glyphs",
                    [] {
                        MetafileWriter m;
                        m.setWindowExt(4096, 4096).createFont(-32000, 400, "DejaVu Sans").selectObject(0);
                        return m.textOut(0, 0, QByteArray(30000, 'W')).plain();
                    },
                    {}},
        // Curves are flattened whole before clipping: a millionfold scale
        // makes each ellipse cost as much as a picture full of them.
        FailureCase{"huge_curves_on_a_tiny_picture",
                    [] {
                        MetafileWriter m;
                        m.setWindowExt(1, 1).setViewportExt(32767, 32767).createPen(2, 1, 0).selectObject(0);
                        for (int i = 0; i < 5000; ++i) m.ellipse(-30000, -30000, 30000, 30000);
                        return m.plain();
                    },
                    {}},
        // Each subpath fills its own area, overlapping or not.
        FailureCase{"overlapping_subpaths",
                    [] {
                        MetafileWriter m = canvas(100, 100, kRed);
                        const std::vector<std::vector<QPoint>> triangles(8000, {{0, 0}, {100, 100}, {0, 100}});
                        for (int i = 0; i < 50; ++i) m.polyPolygon(triangles);
                        return m.plain();
                    },
                    {}}),
    [](const auto& test) { return test.param.name; });

// The limits are not a blanket refusal: the same kind of file within them
// draws.
TEST(PlayerLimits, JustBelowTheLimitsDraws) {
    MetafileWriter m = canvas(100, 100, kRed);
    for (int i = 0; i < 1023; ++i) m.saveDC();
    m.rectangle(0, 0, 100, 100);
    EXPECT_TRUE(loadMetafile(m.plain()).ok());
    EXPECT_TRUE(loadMetafile(canvas(8192, 2048, kRed).plain()).ok());
}

// The budget must not refuse a busy but ordinary drawing: a page of 800 x
// 600 with 5000 twenty-point lines, 1000 filled shapes, 50 hatched areas
// and 3000 labels.
TEST(PlayerLimits, BusyOrdinaryDrawingFitsTheBudget) {
    MetafileWriter m;
    m.setWindowExt(8000, 6000).createPen(0, 15, 0).selectObject(0);
    m.createBrush(0, kBlue).createBrush(2, kRed, 3).createFont(-120, 400, "DejaVu Sans").selectObject(3);
    for (int i = 0; i < 5000; ++i) {
        std::vector<QPoint> points;
        for (int k = 0; k < 20; ++k) points.push_back({(i * 13 + k * 97) % 8000, (i * 7 + k * 211) % 6000});
        m.polyline(points);
    }
    m.selectObject(1);
    for (int i = 0; i < 1000; ++i) m.ellipse(i * 7 % 7000, i * 5 % 5000, i * 7 % 7000 + 800, i * 5 % 5000 + 600);
    m.selectObject(2);
    for (int i = 0; i < 50; ++i) m.rectangle(0, 0, 8000, 6000);
    for (int i = 0; i < 3000; ++i) m.textOut(i * 31 % 7500, i * 17 % 5800, "Label of twenty char");
    const auto image = loadMetafile(m.placeable(0, 0, 8000, 6000, 960));
    EXPECT_TRUE(image.ok()) << image.error().toStdString();
}

// Every record the player plays (all but the four that take no parameters)
// reads them through the bounds checks: without any, it is damaged.
TEST(PlayerRecords, EveryPlayedRecordChecksItsParameters) {
    using namespace toka::wmf;
    // The device context's state, the objects, the drawing.
    for (const auto& played :
         {std::vector<std::uint16_t>{SetMapMode, SetWindowOrg, SetWindowExt, SetViewportOrg, SetViewportExt,
                                     OffsetWindowOrg, OffsetViewportOrg, ScaleWindowExt, ScaleViewportExt, SetBkColor,
                                     SetTextColor, SetBkMode, SetPolyFillMode, SetTextAlign, RestoreDC, MoveTo,
                                     IntersectClipRect, ExcludeClipRect, OffsetClipRgn},
          {SelectObject, SelectPalette, SetPaletteEntries, DeleteObject, CreatePenIndirect, CreateBrushIndirect,
           CreateFontIndirect, CreatePalette, DibCreatePatternBrush},
          {LineTo, Polygon,    Polyline,  PolyPolygon,   Rectangle,  Ellipse,    RoundRect,
           Arc,    Pie,        Chord,     SetPixel,      PatBlt,     TextOut,    ExtTextOut,
           BitBlt, StretchBlt, DibBitBlt, DibStretchBlt, StretchDib, SetDibToDev}})
        for (const std::uint16_t function : played)
            EXPECT_FALSE(loadMetafile(canvas(10, 10, kRed).record(function, {}).plain()).ok()) << std::hex << function;
}

// Records are told apart by the whole function number: one that shares only
// the low byte with a played record (Rectangle, Polygon, TextOut, LineTo) is
// unknown and skipped.
TEST(PlayerRecords, NumbersSharingOnlyTheLowByteAreSkipped) {
    for (const std::uint16_t function : {0x001B, 0x0124, 0x0621, 0x0A13}) {
        const auto image = loadMetafile(canvas(10, 10, kRed).record(function, {}).rectangle(0, 0, 10, 10).plain());
        ASSERT_TRUE(image.ok()) << std::hex << function << ": " << image.error().toStdString();
        EXPECT_EQ(image.value().pixel(5, 5), red) << std::hex << function;
    }
}

// Objects beyond the table the header announces are lost, and selecting
// a slot past the table changes nothing.
TEST(PlayerLimits, ObjectsBeyondTheTableAreLost) {
    MetafileWriter m = canvas(10, 10, kRed);
    m.createBrush(0, kBlue).selectObject(2).objectCount(2);
    const auto image = loadMetafile(m.rectangle(0, 0, 10, 10).plain());
    ASSERT_TRUE(image.ok()) << image.error().toStdString();
    EXPECT_EQ(image.value().pixel(5, 5), red);
}

} // namespace
} // namespace toka::test
