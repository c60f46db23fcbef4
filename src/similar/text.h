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
