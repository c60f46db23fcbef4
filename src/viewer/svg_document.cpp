#include "viewer/svg_document.h"

#include <QXmlStreamReader>

#include <zlib.h>

namespace toka {

namespace {

/// Inflates gzip data (one or more members) up to `limit` bytes.
LoadResult<QByteArray> inflateGzip(const QByteArray& bytes, std::size_t limit) {
    using Result = LoadResult<QByteArray>;
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip header and trailer around the deflate data.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return Result::failure(QStringLiteral("inflateInit2 failed"));
    QByteArray text;
    // Output in 256 KiB steps: a drawing's usual size in one or two.
    constexpr std::size_t kStep = std::size_t{256} << 10;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    int status = Z_OK;
    while (status != Z_STREAM_END || stream.avail_in > 0) {
        if (status == Z_STREAM_END) {
            // Another gzip member follows (as `cat a.gz b.gz` makes).
            if (inflateReset(&stream) != Z_OK) break;
        }
        if (text.size() > qsizetype(limit)) break;
        const std::size_t used = std::size_t(text.size());
        text.resize(qsizetype(used + kStep));
        stream.next_out = reinterpret_cast<Bytef*>(text.data() + used);
        stream.avail_out = uInt(kStep);
        status = inflate(&stream, Z_NO_FLUSH);
        text.resize(qsizetype(used + kStep - stream.avail_out));
        if (status != Z_OK && status != Z_STREAM_END) break;
        if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0) break; // cut short
    }
    inflateEnd(&stream);
    if (text.size() > qsizetype(limit))
        return Result::failure(QStringLiteral("drawing larger than %1 bytes when inflated").arg(limit));
    if (status != Z_STREAM_END) return Result::failure(QStringLiteral("damaged or incomplete gzip data"));
    return Result::success(std::move(text));
}

bool isInside(QStringView reference) {
    const QStringView trimmed = reference.trimmed();
    return trimmed.startsWith(u'#') || trimmed.startsWith(QLatin1String("data:"), Qt::CaseInsensitive);
}

} // namespace

LoadResult<QByteArray> safeSvgText(const QByteArray& bytes, bool compressed, std::size_t limit) {
    using Result = LoadResult<QByteArray>;
    if (!compressed && bytes.size() > qsizetype(limit))
        return Result::failure(QStringLiteral("drawing larger than %1 bytes").arg(limit));
    LoadResult<QByteArray> text = compressed ? inflateGzip(bytes, limit) : Result::success(bytes);
    if (!text) return text;

    // Read as Qt's SVG reader reads it, without namespace processing: an
    // attribute's name is then "xlink:href" whatever the prefix is bound to.
    QXmlStreamReader xml(text.value());
    xml.setNamespaceProcessing(false);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        for (const QXmlStreamAttribute& attribute : xml.attributes()) {
            const QStringView name = attribute.qualifiedName();
            if ((name == QLatin1String("href") || name.endsWith(QLatin1String(":href")))
                && !isInside(attribute.value()))
                return Result::failure(
                    QStringLiteral("the drawing refers to %1, outside itself").arg(attribute.value().toString()));
        }
    }
    // Qt's reader may draw what stands before a fault; a damaged drawing is
    // refused whole, as a damaged bitmap is.
    if (xml.hasError()) return Result::failure(QStringLiteral("not well-formed: %1").arg(xml.errorString()));
    return text;
}

} // namespace toka
