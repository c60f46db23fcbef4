#pragma once
// Text handling of the engine: names and search texts are sequences of code
// points.  File names are bytes; they are decoded as UTF-8, and every byte
// that is not part of a valid UTF-8 sequence reads as the Latin-1 character of
// the same value, so a name in a legacy single-byte encoding scores as the
// single-byte design scored it.

#include <cstddef>
#include <string>
#include <string_view>

namespace toka {

namespace detail {
// Length of the valid UTF-8 sequence that starts at p, or 0 when the bytes
// there do not form one (overlong forms, surrogates and values above
// U+10FFFF are not valid).
inline std::size_t validUtf8Sequence(const unsigned char* p, std::size_t left, char32_t& cp) {
    const unsigned char b0 = p[0];
    auto cont = [&](std::size_t i) { return i < left && (p[i] & 0xC0) == 0x80; };
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (!cont(1)) return 0;
        cp = (char32_t(b0 & 0x1F) << 6) | (p[1] & 0x3F);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        cp = (char32_t(b0 & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        cp = (char32_t(b0 & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) | (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF) return 0;
        return 4;
    }
    return 0;
}

} // namespace detail

/// Decodes the code point that starts at p (left >= 1 bytes remain) and
/// returns the number of bytes it takes; a byte that does not start a valid
/// UTF-8 sequence is one code point, its Latin-1 character.
inline std::size_t DecodeOne(const unsigned char* p, std::size_t left, char32_t& cp) {
    cp = p[0];
    if (cp < 0x80) return 1;
    const std::size_t step = detail::validUtf8Sequence(p, left, cp);
    if (step == 0) {
        cp = p[0];
        return 1;
    }
    return step;
}

/// Decodes up to cap code points of bytes into out; returns the total number
/// of code points in bytes (which may exceed cap).  Allocates nothing.
std::size_t DecodeName(std::string_view bytes, char32_t* out, std::size_t cap);

/// Decodes all of bytes.
std::u32string DecodeName(std::string_view bytes);

/// The case folding of the engine: a-z to A-Z, and U+00E4, U+00F6, U+00FC
/// (a, o, u umlaut) to U+00C4, U+00D6, U+00DC.  Nothing else changes.
constexpr char32_t FoldChar(char32_t c) {
    if (c >= U'a' && c <= U'z') return c - 32;
    if (c == 0xE4 || c == 0xF6 || c == 0xFC) return c - 32;
    return c;
}

/// Folds the first n code points of s; the rest is copied unchanged; the
/// length does not change.
std::u32string NormalizeName(std::u32string_view s, std::size_t n);

/// In-place variant on a buffer.
void NormalizeName(char32_t* s, std::size_t size, std::size_t n);

} // namespace toka
