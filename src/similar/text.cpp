#include "similar/text.h"

namespace toka {

std::size_t DecodeName(std::string_view bytes, char32_t* out, std::size_t cap) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t count = 0;
    std::size_t i = 0;
    while (i < size) {
        char32_t cp;
        const std::size_t step = DecodeOne(p + i, size - i, cp);
        if (count < cap) out[count] = cp;
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
    for (std::size_t i = 0; i < end; ++i) s[i] = FoldChar(s[i]);
}

std::u32string NormalizeName(std::u32string_view s, std::size_t n) {
    std::u32string out(s);
    NormalizeName(out.data(), out.size(), n);
    return out;
}

} // namespace toka
