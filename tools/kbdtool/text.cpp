#include "text.h"

#include <fmt/format.h>

#include "layout_model.h"

namespace kbd {
namespace {

void append(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

const char* controlName(uint16_t ch) {
    switch (ch) {
    case 0x03: return "ETX";
    case 0x08: return "BS";
    case 0x09: return "TAB";
    case 0x0A: return "LF";
    case 0x0D: return "CR";
    case 0x1B: return "ESC";
    case 0x20: return "SPACE";
    case 0x7F: return "DEL";
    default:   return nullptr;
    }
}

bool visible(uint16_t ch) {
    if (ch <= 0x20 || (ch >= 0x7F && ch <= 0xA0)) return false;
    if (ch >= 0xD800 && ch <= 0xF8FF) return false;  // surrogates and Private Use
    if (ch >= 0xFFF0) return false;
    return true;
}

}  // namespace

std::string utf8(const std::u16string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const uint32_t u = s[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            append(out, 0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            append(out, 0xFFFD);
        } else {
            append(out, u);
        }
    }
    return out;
}

std::u16string utf16(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        uint32_t cp = n == 1 ? b : n == 2 ? b & 0x1F : n == 3 ? b & 0x0F : b & 0x07;
        bool ok = n != 0 && i + n <= s.size();
        for (int k = 1; ok && k < n; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            ok = (c >> 6) == 2;
            cp = cp << 6 | (c & 0x3F);
        }
        if (!ok) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += n;
    }
    return out;
}

std::string charLabel(uint16_t ch) {
    if (const char* n = controlName(ch)) return fmt::format("U+{:04X} {}", ch, n);
    if (!visible(ch)) return fmt::format("U+{:04X}", ch);
    return fmt::format("U+{:04X} {}", ch, utf8(std::u16string(1, static_cast<char16_t>(ch))));
}

std::string cellLabel(uint16_t cell) {
    switch (cell) {
    case def::WCH_NONE: return "—";
    case def::WCH_DEAD: return "dead";
    case def::WCH_LGTR: return "lgtr";
    default:            return charLabel(cell);
    }
}

std::string attributeNames(uint8_t a) {
    std::string s;
    auto add = [&](const char* n) { s += s.empty() ? n : fmt::format("|{}", n); };
    if (a & def::CAPLOCK) add("CAPLOCK");
    if (a & def::SGCAPS) add("SGCAPS");
    if (a & def::CAPLOKALTGR) add("CAPLOKALTGR");
    if (const uint8_t rest = a & ~(def::CAPLOCK | def::SGCAPS | def::CAPLOKALTGR))
        add(fmt::format("0x{:02X}", rest).c_str());
    return s.empty() ? "0" : s;
}

std::string scanFlagNames(uint16_t f) {
    std::string s;
    auto add = [&](const std::string& n) { s += s.empty() ? n : "|" + n; };
    if (f & def::KBDEXT) add("KBDEXT");
    if (f & def::KBDMULTIVK) add("KBDMULTIVK");
    if (f & def::KBDSPECIAL) add("KBDSPECIAL");
    if (f & def::KBDNUMPAD) add("KBDNUMPAD");
    if (const uint16_t rest = f & 0xF000) add(fmt::format("0x{:04X}", rest));
    return s;
}

}  // namespace kbd
