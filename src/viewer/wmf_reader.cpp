#include "viewer/wmf_reader.h"

namespace toka::wmf {

std::uint16_t ParamReader::u16() {
    if (m_failed || remaining() < 2) {
        m_failed = true;
        return 0;
    }
    const std::uint8_t* p = m_data + m_position;
    m_position += 2;
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ParamReader::u32() {
    const std::uint32_t low = u16();
    const std::uint32_t high = u16();
    return low | (high << 16);
}

std::uint8_t ParamReader::u8() {
    if (m_failed || remaining() < 1) {
        m_failed = true;
        return 0;
    }
    return m_data[m_position++];
}

void ParamReader::skip(std::size_t bytes) { take(bytes); }

const std::uint8_t* ParamReader::take(std::size_t bytes) {
    if (m_failed || remaining() < bytes) {
        m_failed = true;
        return nullptr;
    }
    const std::uint8_t* p = m_data + m_position;
    m_position += bytes;
    return p;
}

LoadResult<Metafile> parseMetafile(const QByteArray& data) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.constData());
    const auto size = static_cast<std::size_t>(data.size());
    ParamReader in(bytes, size);
    Metafile metafile;

    if (size >= 4 && ParamReader(bytes, 4).u32() == kPlaceableKey) {
        if (size < kPlaceableHeaderBytes)
            return LoadResult<Metafile>::failure(QStringLiteral("placeable header cut short"));
        PlaceableHeader placeable;
        std::uint16_t xorOfWords = 0;
        ParamReader words(bytes, 20);
        for (int i = 0; i < 10; ++i) xorOfWords ^= words.u16();
        in.skip(4 + 2); // key, handle
        placeable.left = in.s16();
        placeable.top = in.s16();
        placeable.right = in.s16();
        placeable.bottom = in.s16();
        placeable.unitsPerInch = in.u16();
        in.skip(4); // reserved
        placeable.checksum = in.u16();
        placeable.checksumMatches = placeable.checksum == xorOfWords;
        if (placeable.unitsPerInch == 0)
            return LoadResult<Metafile>::failure(QStringLiteral("placeable header: zero units per inch"));
        if (placeable.left == placeable.right || placeable.top == placeable.bottom)
            return LoadResult<Metafile>::failure(QStringLiteral("placeable header: empty bounding box"));
        metafile.placeable = placeable;
    }

    if (in.remaining() < kMetafileHeaderBytes)
        return LoadResult<Metafile>::failure(QStringLiteral("metafile header cut short"));
    MetafileHeader& header = metafile.header;
    header.type = in.u16();
    header.headerWords = in.u16();
    header.version = in.u16();
    header.sizeInWords = in.u32();
    header.objectCount = in.u16();
    header.largestRecordWords = in.u32();
    in.u16(); // parameter count, unused by the format
    if (header.type != 1 && header.type != 2)
        return LoadResult<Metafile>::failure(
            QStringLiteral("metafile header: type %1 is neither memory nor disk").arg(header.type));
    if (header.headerWords != kMetafileHeaderBytes / 2)
        return LoadResult<Metafile>::failure(
            QStringLiteral("metafile header: header size %1 words, not 9").arg(header.headerWords));

    metafile.records = in.here();
    metafile.recordBytes = in.remaining();
    return LoadResult<Metafile>::success(metafile);
}

RecordStream::RecordStream(const Metafile& metafile)
    : m_data(metafile.records), m_size(metafile.recordBytes),
      m_baseOffset(metafile.placeable ? kPlaceableHeaderBytes + kMetafileHeaderBytes : kMetafileHeaderBytes) {}

RecordStream::Step RecordStream::next(Record& record) {
    const std::size_t left = m_size - m_position;
    if (left == 0) return Step::End;
    const std::size_t offset = m_baseOffset + m_position;
    if (left < kRecordHeadBytes) {
        m_error = QStringLiteral("record at byte %1 cut short").arg(offset);
        return Step::Error;
    }
    ParamReader head(m_data + m_position, kRecordHeadBytes);
    const std::uint32_t words = head.u32();
    const std::uint16_t function = head.u16();
    if (function == EndOfFile) return Step::End;
    if (words < kRecordHeadBytes / 2) {
        m_error = QStringLiteral("record at byte %1 states %2 words, less than its head").arg(offset).arg(words);
        return Step::Error;
    }
    // Compare in words so that a size near 2^32 cannot overflow.
    if (words > left / 2) {
        m_error =
            QStringLiteral("record at byte %1 states %2 words, only %3 bytes left").arg(offset).arg(words).arg(left);
        return Step::Error;
    }
    const std::size_t bytes = std::size_t{words} * 2;
    record.function = function;
    record.sizeInWords = words;
    record.offset = offset;
    record.params = ParamReader(m_data + m_position + kRecordHeadBytes, bytes - kRecordHeadBytes);
    m_position += bytes;
    return Step::Record;
}

} // namespace toka::wmf
