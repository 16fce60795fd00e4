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

}  // namespace kbd
