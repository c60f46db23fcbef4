#pragma once
// Windows-1252, the single-byte code page of the viewer's fallback decoding
// and of metafile text in the ANSI character set.

#include <QChar>

#include <array>
#include <cstdint>

namespace toka {

/// The UTF-16 code unit of every byte.  0x00-0x7F and 0xA0-0xFF are Latin-1;
/// 0x80-0x9F carry the code page's punctuation and letters (0x80 is the euro
/// sign).  The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
/// 0x90, 0x9D) map to the C1 controls of the same value, as the system's own
/// converter does, so that no byte is lost.
extern const std::array<char16_t, 256> kCp1252ToUnicode;

inline QChar cp1252ToQChar(std::uint8_t byte) { return QChar(kCp1252ToUnicode[byte]); }

} // namespace toka
