#include "kbd/image/utf8.h"

#include <cstdint>

#include <llvm/Support/ConvertUTF.h>

namespace kbd {

std::string utf8(const std::u16string& s) {
    // Converts up to each unpaired surrogate, which becomes U+FFFD.
    std::string out(s.size() * 3, '\0');  // 3 bytes for a unit, 4 for a pair of them
    const auto* src = reinterpret_cast<const llvm::UTF16*>(s.data());
    const auto* end = src + s.size();
    auto* dst = reinterpret_cast<llvm::UTF8*>(out.data());
    auto* const dstEnd = dst + out.size();
    while (llvm::ConvertUTF16toUTF8(&src, end, &dst, dstEnd, llvm::strictConversion) != llvm::conversionOK) {
        ++src;
        for (const uint8_t b : {0xEF, 0xBF, 0xBD}) *dst++ = b;
    }
    out.resize(reinterpret_cast<char*>(dst) - out.data());
    return out;
}

std::u32string codePoints(std::u16string_view s) {
    std::u32string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const char32_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(u);
        }
    }
    return out;
}

}  // namespace kbd
