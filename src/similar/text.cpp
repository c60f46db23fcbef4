#include "similar/text.h"

namespace toka {

namespace {

// Length of the valid UTF-8 sequence that starts at p, or 0 when the bytes
// there do not form one (overlong forms, surrogates and values above
// U+10FFFF are not valid).
std::size_t validSequence(const unsigned char* p, std::size_t left, char32_t& cp) {
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
        cp = (char32_t(b0 & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
             (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF) return 0;
        return 4;
    }
    return 0;
}

} // namespace

std::size_t DecodeName(std::string_view bytes, char32_t* out, std::size_t cap) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < size) {
        char32_t cp = p[i];
        std::size_t step = 1;
        if (cp >= 0x80) {
            step = validSequence(p + i, size - i, cp);
            if (step == 0) { // a stray byte reads as the Latin-1 character
                cp = p[i];
                step = 1;
            }
        }
        if (count < cap)
            out[count] = cp;
        ++count;
        i += step;
    }
    return count;
}

std::u32string DecodeName(std::string_view bytes) {
    std::u32string out(DecodeName(bytes, nullptr, 0), U'\0');
    DecodeName(bytes, out.data(), out.size());
    return out;
}

void NormalizeName(char32_t* s, std::size_t size, std::size_t n) {
    const std::size_t end = n < size ? n : size;
    for (std::size_t i = 0; i < end; ++i)
        s[i] = FoldChar(s[i]);
}

std::u32string NormalizeName(std::u32string_view s, std::size_t n) {
    std::u32string out(s);
    NormalizeName(out.data(), out.size(), n);
    return out;
}

} // namespace toka
