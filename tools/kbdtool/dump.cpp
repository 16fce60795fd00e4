#include "dump.h"

#include <fmt/format.h>

#include "text.h"
#include "format.h"

namespace kbd {
namespace {

std::string join(const std::vector<std::string>& names, std::string_view separator) {
    std::string s;
    for (const auto& n : names) s += (s.empty() ? "" : std::string(separator)) + n;
    return s;
}

// A column by the shift state that first selects it.
std::string columnName(const Layout& L, unsigned c) {
    for (size_t mask = 0; mask < L.modNumber.size(); ++mask)
        if (L.modNumber[mask] == c) return shiftStateName(static_cast<uint8_t>(mask));
    return fmt::format("col{}", c);
}

std::string entryLabel(uint16_t entry) {
    const uint8_t vk = entry & 0xFF;
    std::string s = fmt::format("0x{:04X} {}", entry, vk == def::VK_NONE ? "(no key)" : vkName(vk));
    if (const std::string f = join(flagNames("ScanFlag", entry & 0xFF00, 4), "|"); !f.empty()) s += " " + f;
    return s;
}

}  // namespace

std::string dumpText(const Decoded& d) {
    const Layout& L = d.layout;
    std::string o;
    o += fmt::format("root at 0x{:X} ({}-bit pointers)\n", d.root, d.pointerSize * 8);
    std::string flags;
    for (const auto& f : flagNames("LocaleFlag", L.localeFlags & 0xFFFF, 4)) flags += ", " + f;
    o += fmt::format("  fLocaleFlags 0x{:08X} (version {}{})\n", L.localeFlags, L.localeFlags >> 16, flags);
    o += fmt::format("  nLgMax {}, cbLgEntry {}, pLigature {}\n", L.nLgMax, L.cbLgEntry,
                     L.hasLigatures ? "set" : "null");
    o += fmt::format("  dwType {}, dwSubType {}\n", L.type, L.subType);

    o += "\nmodifiers\n";
    for (const auto& m : L.modifierBits) o += fmt::format("  {:<14} bits 0x{:02X}\n", vkName(m.vk), m.bits);
    o += fmt::format("  wMaxModBits {}\n", L.maxModBits);
    for (size_t mask = 0; mask < L.modNumber.size(); ++mask) {
        const uint8_t col = L.modNumber[mask];
        o += fmt::format("  mask {} -> {}\n", mask,
                         col == def::SHFT_INVALID ? std::string("SHFT_INVALID")
                                                  : fmt::format("column {} ({})", col, columnName(L, col)));
    }

    for (size_t t = 0; t < L.charTables.size(); ++t) {
        const CharTable& tab = L.charTables[t];
        o += fmt::format("\ncharacter table {}: {} columns, {} bytes a row, {} rows\n", t + 1, tab.nModifications,
                         tab.cbSize, tab.rows.size());
        for (const auto& r : tab.rows) {
            o += fmt::format("  {:<16} {:<20}", r.vk == def::VK_NONE ? std::string("  (dead chars)") : vkName(r.vk),
                             join(flagNames("Attribute", r.attributes, 2), "|"));
            for (size_t c = 0; c < r.cells.size(); ++c) o += fmt::format(" | {:<12}", cellLabel(r.cells[c]));
            o += "\n";
        }
    }

    if (!L.deadKeys.empty()) {
        o += fmt::format("\ndead keys: {} compositions\n", L.deadKeys.size());
        uint32_t group = 0x10000;
        for (const auto& dk : L.deadKeys) {
            if (dk.dead != group) {
                group = dk.dead;
                o += fmt::format("  dead {}\n", charLabel(dk.dead));
            }
            o += fmt::format("    {:<14} -> {}{}\n", charLabel(dk.base), charLabel(dk.composed),
                             dk.flags ? fmt::format("  flags 0x{:04X}", dk.flags) : "");
        }
    }

    if (!L.scanCodes.empty()) {
        o += fmt::format("\nscan codes: {} entries\n", L.scanCodes.size());
        for (size_t sc = 0; sc < L.scanCodes.size(); ++sc)
            o += fmt::format("  0x{:02X}  {}\n", sc, entryLabel(L.scanCodes[sc]));
    }
    for (const auto* list : {&L.scanCodesE0, &L.scanCodesE1}) {
        if (list->empty()) continue;
        o += fmt::format("\nscan codes after {}: {} rows\n", list == &L.scanCodesE0 ? "E0" : "E1", list->size());
        for (const auto& r : *list) o += fmt::format("  0x{:02X}  {}\n", r.scanCode, entryLabel(r.entry));
    }

    if (!L.keyNames.empty() || !L.keyNamesExt.empty() || !L.deadKeyNames.empty()) o += "\n" + namesText(L);
    return o;
}

std::string namesText(const Layout& L) {
    std::string o;
    o += fmt::format("key names: {}\n", L.keyNames.size());
    for (const auto& n : L.keyNames) o += fmt::format("  0x{:02X}  {}\n", n.scanCode, utf8(n.name));
    o += fmt::format("extended key names (E0): {}\n", L.keyNamesExt.size());
    for (const auto& n : L.keyNamesExt) o += fmt::format("  E0 0x{:02X}  {}\n", n.scanCode, utf8(n.name));
    o += fmt::format("dead key names: {}\n", L.deadKeyNames.size());
    for (const auto& n : L.deadKeyNames) {
        if (n.empty()) {
            o += "  (empty)\n";
            continue;
        }
        o += fmt::format("  {:<14} {}\n", charLabel(n[0]), utf8(n.substr(1)));
    }
    return o;
}

}  // namespace kbd
