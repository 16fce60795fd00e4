#include "kbd/klc/text.h"

#include <fmt/format.h>

namespace kbd::klc {
namespace {

// Line and column of the code point after `text`.
Problem at(const std::u32string& text, std::string message) {
    unsigned line = 1, column = 1;
    for (char32_t c : text) {
        if (c == U'\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return {line, column, std::move(message)};
}

bool decodeUtf16(std::span<const uint8_t> b, std::u32string& out, std::vector<Problem>& problems) {
    if (b.size() % 2) {
        problems.push_back(at(out, "the file is UTF-16 (it starts with a byte-order mark) but has an odd number of bytes"));
        return false;
    }
    for (size_t i = 0; i < b.size(); i += 2) {
        const char32_t u = b[i] | (b[i + 1] << 8);
        if (u >= 0xD800 && u <= 0xDBFF && i + 3 < b.size()) {
            const char32_t v = b[i + 2] | (b[i + 3] << 8);
            if (v >= 0xDC00 && v <= 0xDFFF) {
                out.push_back(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                i += 2;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            problems.push_back(at(out, fmt::format("bad UTF-16: a lone surrogate 0x{:04X}", uint32_t(u))));
            return false;
        }
        if (u == 0) {
            problems.push_back(at(out, "a NUL character in the text"));
            return false;
        }
        out.push_back(u);
    }
    return true;
}

bool decodeUtf8(std::span<const uint8_t> b, std::u32string& out, std::vector<Problem>& problems) {
    for (size_t i = 0; i < b.size();) {
        const uint8_t c = b[i];
        unsigned n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        char32_t cp = n == 0 ? c : n == 1 ? (c & 0x1F) : n == 2 ? (c & 0x0F) : (c & 0x07);
        bool ok = n != 9 && i + n < b.size();
        for (unsigned k = 1; ok && k <= n; ++k) {
            if ((b[i + k] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (b[i + k] & 0x3F);
        }
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (cp < kMin[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (!ok) {
            problems.push_back(at(out, fmt::format("bad UTF-8 at byte 0x{:X} (a UTF-16 file needs its byte-order mark)", i)));
            return false;
        }
        if (cp == 0) {
            problems.push_back(at(out, "a NUL character in the text (a UTF-16 file needs its byte-order mark)"));
            return false;
        }
        out.push_back(cp);
        i += n + 1;
    }
    return true;
}

}  // namespace

std::optional<std::u32string> decodeText(std::span<const uint8_t> bytes, std::vector<Problem>& problems) {
    std::u32string out;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        if (!decodeUtf16(bytes.subspan(2), out, problems)) return std::nullopt;
    } else if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        problems.push_back({1, 1, "the file is UTF-16 big-endian; save it as UTF-16 LE or UTF-8"});
        return std::nullopt;
    } else {
        const bool bom = bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF;
        if (!decodeUtf8(bytes.subspan(bom ? 3 : 0), out, problems)) return std::nullopt;
    }
    return out;
}

std::string toUtf8(std::u32string_view s) {
    std::string out;
    for (char32_t c : s) {
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string toUtf16(std::u32string_view s) {
    std::u16string out;
    for (char32_t c : s) {
        if (c >= 0x10000) {
            out.push_back(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
    }
    return out;
}

std::u32string fromUtf8(std::string_view s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<uint8_t>(s[i]);
        const unsigned n = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        char32_t cp = n == 0 ? c : n == 1 ? (c & 0x1F) : n == 2 ? (c & 0x0F) : (c & 0x07);
        for (unsigned k = 1; k <= n && i + k < s.size(); ++k) cp = (cp << 6) | (s[i + k] & 0x3F);
        out.push_back(cp);
        i += n + 1;
    }
    return out;
}

}  // namespace kbd::klc
