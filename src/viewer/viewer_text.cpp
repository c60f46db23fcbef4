#include "viewer/viewer_text.h"

#include <cstdint>
#include <cstring>

#include "viewer/cp1252.h"
#include "viewer/regular_file.h"

namespace toka {

namespace {

/// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const unsigned char* text, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        // ASCII runs dominate real text: skip them eight bytes at a time.
        while (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, text + i, 8);
            if (word & 0x8080808080808080ull) break;
            i += 8;
        }
        if (i >= size) break;
        const unsigned char lead = text[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;       // overlong
            else if (lead == 0xED) high = 0x9F; // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;       // overlong
            else if (lead == 0xF4) high = 0x8F; // above U+10FFFF
        } else {
            return false;
        }
        if (size - i < length || text[i + 1] < low || text[i + 1] > high) return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((text[i + k] & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

/// Writes the line-normalised text through `put(byte)`.
/// CR LF and LF CR are one line end; lone CR and LF are one each.
template <typename Put>
void normaliseLineEnds(const unsigned char* text, std::size_t size, Put&& put) {
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = text[i];
        if (c == '\r' || c == '\n') {
            put('\n');
            const unsigned char partner = c == '\r' ? '\n' : '\r';
            if (i + 1 < size && text[i + 1] == partner) ++i;
        } else {
            put(c);
        }
    }
}

} // namespace

QString decodeViewerText(const char* bytes, std::size_t size) {
    if (const void* nul = std::memchr(bytes, '\0', size)) size = std::size_t(static_cast<const char*>(nul) - bytes);
    const auto* text = reinterpret_cast<const unsigned char*>(bytes);
    const bool hasCarriageReturn = std::memchr(text, '\r', size) != nullptr;

    if (isValidUtf8(text, size)) {
        // Without a CR every line end is a lone LF already.
        if (!hasCarriageReturn) return QString::fromUtf8(bytes, qsizetype(size));
        QByteArray normalised;
        normalised.resize(qsizetype(size));
        char* out = normalised.data();
        normaliseLineEnds(text, size, [&out](unsigned char c) { *out++ = char(c); });
        return QString::fromUtf8(normalised.constData(), qsizetype(out - normalised.constData()));
    }

    QString result(qsizetype(size), Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(result.data());
    char16_t* const begin = out;
    normaliseLineEnds(text, size, [&out](unsigned char c) { *out++ = kCp1252ToUnicode[c]; });
    result.truncate(qsizetype(out - begin));
    return result;
}

LoadResult<QString> loadViewerText(const std::string& path) {
    auto fd = openRegularFile(path);
    if (!fd) return LoadResult<QString>::failure(fd.error());
    bool tooLong = false;
    auto bytes = readUpTo(fd.value().get(), path, kViewerTextCapacity, true, tooLong);
    if (!bytes) return LoadResult<QString>::failure(bytes.error());
    if (tooLong)
        return LoadResult<QString>::failure(
            QStringLiteral("%1: text longer than the memo's 64 MiB").arg(QString::fromUtf8(path.c_str())));
    const QByteArray& data = bytes.value();
    return LoadResult<QString>::success(decodeViewerText(data.constData(), std::size_t(data.size())));
}

} // namespace toka
