#include "viewer/dib.h"

#include <QByteArray>

#include <cstdlib>

#include "viewer/wmf_reader.h"

namespace toka {

namespace {

constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kLargestHeaderBytes = 124;
constexpr std::uint32_t kFileHeaderBytes = 14;

enum Compression : std::uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3 };

void put16(QByteArray& out, std::uint16_t value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>(value >> 8));
}

void put32(QByteArray& out, std::uint32_t value) {
    put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

LoadResult<DecodedDib> fail(const char* why) {
    return LoadResult<DecodedDib>::failure(QStringLiteral("bitmap: %1").arg(QLatin1String(why)));
}

} // namespace

LoadResult<DecodedDib> decodeDib(const std::uint8_t* data, std::size_t size, const DibLimits& limits,
                                 bool paletteIndices, const std::vector<QRgb>& palette) {
    wmf::ParamReader in(data, size);
    const std::uint32_t headerBytes = in.u32();
    if (in.failed()) return fail("header cut short");

    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = Rgb;
    std::uint32_t colorsUsed = 0;
    std::uint32_t imageBytes = 0;
    const bool core = headerBytes == kCoreHeaderBytes;
    if (core) {
        width = in.u16();
        height = in.u16();
        in.u16(); // planes
        bitCount = in.u16();
    } else if (headerBytes >= kInfoHeaderBytes && headerBytes <= kLargestHeaderBytes) {
        width = static_cast<std::int32_t>(in.u32());
        height = static_cast<std::int32_t>(in.u32());
        in.u16(); // planes
        bitCount = in.u16();
        compression = in.u32();
        imageBytes = in.u32();
        in.u32(); // horizontal resolution
        in.u32(); // vertical resolution
        colorsUsed = in.u32();
        in.skip(headerBytes - 36);
    } else {
        return fail("unknown header size");
    }
    if (in.failed()) return fail("header cut short");

    const bool bottomUp = height > 0;
    height = std::llabs(height);
    if (width <= 0 || height == 0) return fail("empty");
    if (width > limits.maxSide || height > limits.maxSide || width * height > limits.maxPixels)
        return fail("too large");
    switch (bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        return fail("unsupported bit count");
    }
    const bool compressionFits = compression == Rgb || (compression == Rle8 && bitCount == 8)
                                 || (compression == Rle4 && bitCount == 4)
                                 || (compression == BitFields && (bitCount == 16 || bitCount == 32));
    if (!compressionFits) return fail("unsupported compression");

    const std::uint32_t maskBytes = (compression == BitFields && headerBytes == kInfoHeaderBytes) ? 12 : 0;
    std::uint32_t colors = colorsUsed;
    if (bitCount <= 8) {
        const std::uint32_t full = 1u << bitCount;
        if (colors == 0) colors = full;
        if (colors > full) return fail("colour table larger than the bit count allows");
    } else if (colors > 256) {
        return fail("colour table too large");
    }
    const std::uint32_t entryBytes = paletteIndices ? 2 : (core ? 3 : 4);
    const std::uint8_t* masks = in.take(maskBytes);
    const std::uint8_t* table = in.take(std::size_t{colors} * entryBytes);
    if (in.failed()) return fail("colour table cut short");

    const std::size_t pixelBytes = in.remaining();
    if (compression == Rgb || compression == BitFields) {
        const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bitCount + 31) / 32) * 4;
        if (stride * static_cast<std::uint64_t>(height) > pixelBytes) return fail("pixels cut short");
    } else if (pixelBytes == 0 || (imageBytes != 0 && imageBytes > pixelBytes)) {
        return fail("compressed pixels cut short");
    }

    // Rebuild as a .bmp file: file header, the header as it was (core headers
    // stay core), masks, a colour table of the reader's entry size, pixels.
    const std::uint32_t outEntryBytes = core ? 3 : 4;
    const std::uint32_t offset = kFileHeaderBytes + headerBytes + maskBytes + colors * outEntryBytes;
    QByteArray file;
    file.reserve(static_cast<qsizetype>(offset + pixelBytes));
    file.append("BM", 2);
    put32(file, static_cast<std::uint32_t>(offset + pixelBytes));
    put32(file, 0);
    put32(file, offset);
    file.append(reinterpret_cast<const char*>(data), headerBytes);
    if (maskBytes != 0) file.append(reinterpret_cast<const char*>(masks), maskBytes);
    if (paletteIndices) {
        wmf::ParamReader indices(table, std::size_t{colors} * 2);
        for (std::uint32_t i = 0; i < colors; ++i) {
            const std::uint16_t index = indices.u16();
            const QRgb rgb = index < palette.size() ? palette[index] : qRgb(0, 0, 0);
            file.append(static_cast<char>(qBlue(rgb)));
            file.append(static_cast<char>(qGreen(rgb)));
            file.append(static_cast<char>(qRed(rgb)));
            if (outEntryBytes == 4) file.append('\0');
        }
    } else {
        file.append(reinterpret_cast<const char*>(table), colors * entryBytes);
    }
    file.append(reinterpret_cast<const char*>(in.here()), static_cast<qsizetype>(pixelBytes));

    DecodedDib decoded;
    decoded.image = QImage::fromData(file, "BMP");
    decoded.bottomUp = bottomUp;
    if (decoded.image.isNull()) return fail("not readable");
    return LoadResult<DecodedDib>::success(std::move(decoded));
}

} // namespace toka
