#include "kbd/views/dump.h"

#include <algorithm>
#include <map>

#include <fmt/format.h>

#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"

namespace kbd {
namespace {

std::string join(const std::vector<std::string>& names, std::string_view separator) {
    std::string s;
    for (const auto& n : names) s += (s.empty() ? "" : std::string(separator)) + n;
    return s;
}

// How a row of a character table reads: a key, or the row after an SGCAPS
// row (what Base and Shift give under Caps Lock) or after a dead key (its
// dead characters), which may be both at once.
std::string rowLabel(const CharTable& t, size_t i) {
    const CharRow& r = t.rows[i];
    const CharRow* prev = i > 0 ? &t.rows[i - 1] : nullptr;
    const bool caps = prev && (prev->attributes & def::SGCAPS);
    const bool dead = prev && std::find(prev->cells.begin(), prev->cells.end(), def::WCH_DEAD) != prev->cells.end();
    const char* what = caps && dead ? "(Caps+dead)" : caps ? "(Caps Lock)" : dead ? "(dead chars)" : nullptr;
    if (r.vk == def::VK_NONE) return fmt::format("  {}", what ? what : "(no key)");
    return what ? fmt::format("{} {}", vkName(r.vk), what) : vkName(r.vk);
}

std::string entryLabel(uint16_t entry) {
    const uint8_t vk = entry & 0xFF;
    std::string s = fmt::format("0x{:04X} {}", entry, vk == def::VK_NONE ? "(no key)" : vkName(vk));
    if (const std::string f = join(flagNames("ScanFlag", entry & 0xFF00, 4), "|"); !f.empty()) s += " " + f;
    return s;
}

}  // namespace

std::string maskName(const Layout& L, uint8_t mask) {
    if (mask == 0) return "Base";
    const bool altGr = (L.localeFlags & def::KLLF_ALTGR) && (mask & (def::KBDCTRL | def::KBDALT)) == (def::KBDCTRL | def::KBDALT);
    std::string s;
    auto add = [&](const std::string& n) { s += s.empty() ? n : "+" + n; };
    for (unsigned bit = 1; bit <= 0x80; bit <<= 1) {
        if (!(mask & bit)) continue;
        if (altGr && bit == def::KBDCTRL) {
            add("AltGr");
            continue;
        }
        if (altGr && bit == def::KBDALT) continue;
        std::string name;
        for (const auto& m : L.modifierBits) {
            if (!(m.bits & bit)) continue;
            switch (m.vk) {
            case vk::SHIFT:   name = "Shift"; break;
            case vk::CONTROL: name = "Ctrl"; break;
            case vk::MENU:    name = "Alt"; break;
            case vk::KANA:    name = "Kana"; break;
            default:          name = vkName(m.vk); if (name.starts_with("VK_")) name.erase(0, 3);
            }
            break;
        }
        add(name.empty() ? fmt::format("0x{:02X}", bit) : name);
    }
    return s;
}

std::string columnName(const Layout& L, unsigned column) {
    // A damaged record can send tens of thousands of masks to one column:
    // the first few are named, the others counted.
    constexpr size_t kNamed = 16;
    std::string s;
    size_t n = 0;
    for (size_t mask = 0; mask < L.modNumber.size(); ++mask) {
        if (L.modNumber[mask] != column) continue;
        if (n++ < kNamed) s += (s.empty() ? "" : " or ") + maskName(L, static_cast<uint8_t>(mask));
    }
    if (n > kNamed) s += fmt::format(" or {} other masks", n - kNamed);
    return s.empty() ? "no mask reaches it" : s;
}

std::string dumpText(const Decoded& d) {
    const Layout& L = d.layout;
    std::map<unsigned, std::string> columnNames;  // each named once: a column can be named on every line
    auto columnName = [&](unsigned column) -> const std::string& {
        auto it = columnNames.find(column);
        if (it == columnNames.end()) it = columnNames.emplace(column, kbd::columnName(L, column)).first;
        return it->second;
    };
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
                                                  : fmt::format("column {} ({})", col, columnName(col)));
    }

    for (size_t t = 0; t < L.charTables.size(); ++t) {
        const CharTable& tab = L.charTables[t];
        o += fmt::format("\ncharacter table {}: {} columns, {} bytes a row, {} rows\n", t + 1, tab.nModifications,
                         tab.cbSize, tab.rows.size());
        for (size_t i = 0; i < tab.rows.size(); ++i) {
            const CharRow& r = tab.rows[i];
            o += fmt::format("  {:<16} {:<20}", rowLabel(tab, i), join(flagNames("Attribute", r.attributes, 2), "|"));
            for (size_t c = 0; c < r.cells.size(); ++c) o += fmt::format(" | {:<12}", cellLabel(r.cells[c]));
            o += "\n";
        }
    }

    if (L.hasLigatures) {
        o += fmt::format("\nligatures: {} rows of up to {} characters\n", L.ligatures.size(), L.nLgMax);
        for (const auto& g : L.ligatures) {
            std::string chars;
            for (uint16_t c : g.chars) chars += fmt::format(" | {:<12}", cellLabel(c));
            o += fmt::format("  {:<16} column {} ({}){}\n", vkName(g.vk), g.column, columnName(g.column), chars);
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
            const bool chained = dk.flags & def::DKF_DEAD;
            o += fmt::format("    {:<14} -> {}{}{}\n", charLabel(dk.base), chained ? "dead " : "", charLabel(dk.composed),
                             dk.flags ? fmt::format("  flags 0x{:04X}{}", dk.flags, chained ? " (DKF_DEAD)" : "")
                                      : "");
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
