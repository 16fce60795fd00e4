#include "kbd/model/char_labels.h"

#include <fmt/format.h>

#include "kbd/model/layout_format.h"

namespace kbd {
namespace {

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

}  // namespace kbd
