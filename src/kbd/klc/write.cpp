// Writing a layout source, laid out so that parseKlc gives the same tables
// back wherever the format can say them; unsaid() names the rest by reading
// the written source back.
#include <algorithm>
#include <cctype>
#include <optional>

#include <fmt/format.h>

#include "kbd/image/utf8.h"
#include "kbd/klc/klc.h"
#include "kbd/klc/pc_scan_codes.h"
#include "kbd/klc/text.h"
#include "kbd/model/layout_format.h"
#include "kbd/model/locales.h"
#include "kbd/typing/simulator.h"

namespace kbd::klc {
namespace {

using namespace def;

// A name of 1 to kMaxName letters, digits, '_' or '-', as KBD takes it.
std::string layoutName(const std::string& name) {
    std::string out;
    for (char c : name)
        if (out.size() < kMaxName && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) out.push_back(c);
    return out.empty() ? "kbdlyt" : out;
}

// Quoted text: a .klc string cannot hold a double quote or a line break.
std::string quoted(std::string s) {
    std::replace(s.begin(), s.end(), '"', '\'');
    std::replace(s.begin(), s.end(), '\r', ' ');
    std::replace(s.begin(), s.end(), '\n', ' ');
    return "\"" + s + "\"";
}

std::string keyToken(uint8_t vk) {
    std::string n = vkName(vk);
    if (n.starts_with("VK_")) return n.substr(3);
    if (n.size() == 3 && n[0] == '\'') return n.substr(1, 1);
    return n;
}

std::string character(uint16_t c) {
    if (c < 0x80 && std::isalnum(c)) return std::string(1, static_cast<char>(c));
    return fmt::format("{:04x}", c);
}

std::string cellText(uint16_t c) {
    if (c == WCH_NONE) return "-1";
    if (c == WCH_LGTR) return "%%";
    return character(c);
}

std::string scanToken(Prefix prefix, uint8_t code) {
    return prefix == Prefix::E0 ? fmt::format("e0{:02x}", code)
           : prefix == Prefix::E1 ? fmt::format("e1{:02x}", code)
                                  : fmt::format("{:02x}", code);
}

struct Source {
    std::string text;
    void line(const std::string& s = "") { text += s + "\r\n"; }
};

// The scan code a LAYOUT row of this key goes on: a plain code that gives
// the key (a keypad key by its Num Lock key), else an E0 or E1 code.
std::optional<std::string> scanFor(const Layout& L, uint8_t vk) {
    for (size_t i = 0; i < L.scanCodes.size(); ++i)
        if ((L.scanCodes[i] & 0xFF) == vk) return scanToken(Prefix::None, static_cast<uint8_t>(i));
    for (size_t i = 0; i < L.scanCodes.size(); ++i)
        if (kbd::virtualKey(L.scanCodes[i], true, false) == vk) return scanToken(Prefix::None, static_cast<uint8_t>(i));
    for (const auto& e : L.scanCodesE0)
        if ((e.entry & 0xFF) == vk) return scanToken(Prefix::E0, e.scanCode);
    for (const auto& e : L.scanCodesE1)
        if ((e.entry & 0xFF) == vk) return scanToken(Prefix::E1, e.scanCode);
    return std::nullopt;
}

void header(Source& s, const LayoutSource& src) {
    const LayoutInfo& info = src.info;
    s.line(fmt::format("KBD\t{}\t{}", layoutName(info.name), quoted(info.description)));
    s.line();
    s.line(fmt::format("COPYRIGHT\t{}", quoted(info.copyright)));
    s.line();
    s.line(fmt::format("COMPANY\t{}", quoted(info.company)));
    s.line();
    const auto locale = localeById(info.localeId);
    const std::string localeName = !info.localeName.empty() ? info.localeName : locale ? std::string(locale->name) : "";
    if (!localeName.empty()) {
        s.line(fmt::format("LOCALENAME\t{}", quoted(localeName)));
        s.line();
    }
    s.line(fmt::format("LOCALEID\t\"{:08x}\"", info.localeId));
    s.line();
    s.line(fmt::format("VERSION\t{}.{}", info.versionMajor, info.versionMinor));
    s.line();
    const uint32_t flags = src.tables.localeFlags;
    if (flags & (KLLF_ALTGR | KLLF_SHIFTLOCK | KLLF_LRM_RLM)) {
        s.line("ATTRIBUTES");
        if (flags & KLLF_ALTGR) s.line("ALTGR");
        if (flags & KLLF_SHIFTLOCK) s.line("SHIFTLOCK");
        if (flags & KLLF_LRM_RLM) s.line("LRM_RLM");
        s.line();
    }
}

// The mask of each column: the lowest mask the array sends there.
std::vector<uint8_t> columnMasks(const Layout& L) {
    size_t columns = 0;
    for (const auto& t : L.charTables) columns = std::max<size_t>(columns, t.nModifications);
    for (uint8_t c : L.modNumber)
        if (c != SHFT_INVALID) columns = std::max<size_t>(columns, c + 1u);
    columns = std::min<size_t>(columns, kMaxColumns);
    std::vector<uint8_t> masks;
    for (size_t c = 0; c < columns; ++c) {
        std::optional<uint8_t> mask;
        for (size_t m = 0; m < L.modNumber.size() && m < 16 && !mask; ++m)
            if (L.modNumber[m] == c) mask = static_cast<uint8_t>(m);
        // A column no mask reaches still needs a line: the first mask no
        // other column takes.
        for (uint8_t m = 0; m < 16 && !mask; ++m)
            if (std::find(masks.begin(), masks.end(), m) == masks.end() &&
                (m >= L.modNumber.size() || L.modNumber[m] == SHFT_INVALID))
                mask = m;
        masks.push_back(mask.value_or(15));
    }
    return masks;
}

void shiftStates(Source& s, const std::vector<uint8_t>& masks) {
    s.line("SHIFTSTATE");
    s.line();
    for (size_t c = 0; c < masks.size(); ++c)
        s.line(fmt::format("{}\t// column {}: {}", masks[c], c, shiftStateName(masks[c])));
    s.line();
}

void layoutRows(Source& s, const Layout& L, const std::vector<uint8_t>& masks) {
    s.line("LAYOUT\t\t; an extra '@' at the end is a dead key");
    s.line();
    std::string head = "//SC\tVK_\t\tCap";
    for (uint8_t m : masks) head += fmt::format("\t{}", m);
    s.line(head);
    s.line();
    std::vector<uint8_t> written;
    for (const auto& t : L.charTables) {
        for (size_t i = 0; i < t.rows.size(); ++i) {
            const CharRow& r = t.rows[i];
            const bool dead = std::find(r.cells.begin(), r.cells.end(), WCH_DEAD) != r.cells.end();
            const CharRow* next = (dead || (r.attributes & SGCAPS)) && i + 1 < t.rows.size() ? &t.rows[i + 1] : nullptr;
            if (next) ++i;
            if (r.vk == VK_NONE || r.vk == 0) continue;  // a companion row without its key: cannot be said
            if (std::find(written.begin(), written.end(), r.vk) != written.end()) continue;  // never reached
            const auto sc = scanFor(L, r.vk);
            if (!sc) continue;
            written.push_back(r.vk);
            std::string line = fmt::format("{}\t{}\t\t{}", *sc, keyToken(r.vk),
                                           r.attributes == SGCAPS ? std::string("SGCap") : std::to_string(r.attributes));
            for (size_t c = 0; c < r.cells.size() && c < masks.size(); ++c) {
                if (r.cells[c] == WCH_DEAD) {
                    const uint16_t d = next && c < next->cells.size() ? next->cells[c] : WCH_NONE;
                    line += "\t" + (d >= WCH_NONE && d <= WCH_LGTR ? std::string("-1") : character(d) + "@");
                } else {
                    line += "\t" + cellText(r.cells[c]);
                }
            }
            s.line(line);
            if ((r.attributes & SGCAPS) && next) {
                std::string caps = "-1\t-1\t\t0";
                for (size_t c = 0; c < next->cells.size() && c < r.cells.size() && c < masks.size(); ++c)
                    caps += "\t" + (next->cells[c] >= WCH_NONE && next->cells[c] <= WCH_LGTR
                                        ? std::string("-1") : character(next->cells[c]));
                s.line(caps);
            }
        }
    }
    // Codes whose key the standard table does not give and no row above maps.
    const auto standard = pcScanCodes();
    for (size_t i = 0; i < L.scanCodes.size(); ++i) {
        const uint16_t e = L.scanCodes[i];
        const uint16_t was = i < standard.size() ? standard[i] : VK_NONE;
        const auto sc = scanFor(L, e & 0xFF);
        if (e != was && (e >> 8) == 0 && (e & 0xFF) != VK_NONE &&
            (std::find(written.begin(), written.end(), e & 0xFF) == written.end() ||
             sc != scanToken(Prefix::None, static_cast<uint8_t>(i))))
            s.line(fmt::format("{}\t{}", scanToken(Prefix::None, static_cast<uint8_t>(i)), keyToken(e & 0xFF)));
    }
    // Likewise after E0: a code of its own, or a second one for a key whose
    // row above went on another code.
    const auto standardE0 = pcScanCodesE0();
    for (const auto& e : L.scanCodesE0) {
        const bool known = std::find(standardE0.begin(), standardE0.end(), e) != standardE0.end();
        const uint8_t vk = e.entry & 0xFF;
        if (!known && (e.entry >> 8) == (KBDEXT >> 8) &&
            (std::find(written.begin(), written.end(), vk) == written.end() ||
             scanFor(L, vk) != scanToken(Prefix::E0, e.scanCode)))
            s.line(fmt::format("{}\t{}", scanToken(Prefix::E0, e.scanCode), keyToken(vk)));
    }
    s.line();
}

void ligatures(Source& s, const Layout& L) {
    if (L.ligatures.empty()) return;
    s.line("LIGATURE");
    s.line();
    s.line("//VK_\tMod#\tChar0\tChar1\t...");
    s.line();
    for (const auto& g : L.ligatures) {
        std::string line = fmt::format("{}\t{}", keyToken(g.vk), g.column);
        for (uint16_t c : g.chars)
            if (c != WCH_NONE) line += "\t" + character(c);
        s.line(line);
    }
    s.line();
}

void deadKeys(Source& s, const Layout& L) {
    // Every dead character of the character tables gets its block, with or
    // without compositions; blocks follow the list's order.
    std::vector<uint16_t> order;
    for (const auto& d : L.deadKeys)
        if (std::find(order.begin(), order.end(), d.dead) == order.end()) order.push_back(d.dead);
    for (const auto& t : L.charTables)
        for (size_t i = 0; i + 1 < t.rows.size(); ++i)
            for (size_t c = 0; c < t.rows[i].cells.size(); ++c)
                if (t.rows[i].cells[c] == WCH_DEAD && c < t.rows[i + 1].cells.size()) {
                    const uint16_t d = t.rows[i + 1].cells[c];
                    if (!(d >= WCH_NONE && d <= WCH_LGTR) && std::find(order.begin(), order.end(), d) == order.end())
                        order.push_back(d);
                }
    // Consecutive rows of one dead character form one block.
    size_t i = 0;
    std::vector<uint16_t> done;
    while (i < L.deadKeys.size()) {
        const uint16_t dead = L.deadKeys[i].dead;
        s.line(fmt::format("DEADKEY\t{}", character(dead)));
        s.line();
        for (; i < L.deadKeys.size() && L.deadKeys[i].dead == dead; ++i) {
            const DeadKey& d = L.deadKeys[i];
            s.line(fmt::format("{}\t{}{}", character(d.base), character(d.composed), d.flags & DKF_DEAD ? "@" : ""));
        }
        s.line();
        done.push_back(dead);
    }
    for (uint16_t dead : order)
        if (std::find(done.begin(), done.end(), dead) == done.end()) {
            s.line(fmt::format("DEADKEY\t{}", character(dead)));
            s.line();
        }
}

// A line's text (DESCRIPTIONS, LANGUAGENAMES): bare words when they read
// back, else quoted.
std::string lineText(const std::string& u) {
    const bool bare = !u.empty() && u.front() != ' ' && u.back() != ' ' && u.find_first_of("\t\r\"") == std::string::npos &&
                      u.find("\xEF\xBB\xBF") == std::string::npos && u.find("//") == std::string::npos;
    return bare ? u : quoted(u);
}

std::string nameText(const std::u16string& n) {
    const std::string u = toUtf8(codePoints(n));
    const bool bare = !u.empty() && u.find_first_of(" \t\r") == std::string::npos &&
                      u.find("\xEF\xBB\xBF") == std::string::npos && u.find("//") == std::string::npos;
    return bare ? u : quoted(u);
}

void keyNames(Source& s, const Layout& L) {
    auto list = [&](const char* title, const std::vector<KeyName>& names) {
        if (names.empty()) return;
        s.line(title);
        s.line();
        for (const auto& k : names) s.line(fmt::format("{:02x}\t{}", k.scanCode, nameText(k.name)));
        s.line();
    };
    list("KEYNAME", L.keyNames);
    list("KEYNAME_EXT", L.keyNamesExt);
    if (L.deadKeyNames.empty()) return;
    s.line("KEYNAME_DEAD");
    s.line();
    for (const auto& n : L.deadKeyNames)
        if (!n.empty()) s.line(fmt::format("{}\t{}", character(n[0]), nameText(n.substr(1))));
    s.line();
}

void languages(Source& s, const LayoutInfo& info) {
    s.line("DESCRIPTIONS");
    s.line();
    s.line(fmt::format("{:04x}\t{}", info.localeId & 0xFFFF, lineText(info.description)));
    s.line();
    s.line("LANGUAGENAMES");
    s.line();
    const auto locale = localeById(info.localeId);
    s.line(fmt::format("{:04x}\t{}", info.localeId & 0xFFFF,
                       lineText(locale ? std::string(locale->displayName) : info.localeName)));
    s.line();
}

}  // namespace

std::vector<uint8_t> writeKlc(const LayoutSource& source) {
    const Layout& L = source.tables;
    Source s;
    header(s, source);
    const auto masks = columnMasks(L);
    shiftStates(s, masks);
    layoutRows(s, L, masks);
    ligatures(s, L);
    deadKeys(s, L);
    keyNames(s, L);
    languages(s, source.info);
    s.line("ENDKBD");
    std::vector<uint8_t> out{0xFF, 0xFE};
    for (char16_t u : toUtf16(fromUtf8(s.text))) {
        out.push_back(static_cast<uint8_t>(u));
        out.push_back(static_cast<uint8_t>(u >> 8));
    }
    return out;
}

std::vector<std::string> unsaid(const LayoutSource& source) {
    std::vector<std::string> out;
    const Layout& a = source.tables;
    LayoutSource back;
    try {
        back = parseKlc(writeKlc(source), "written");
    } catch (const Error& e) {
        return {fmt::format("the written source does not read back: {}", e.what())};
    }
    const Layout& b = back.tables;
    if (layoutName(source.info.name) != source.info.name)
        out.push_back(fmt::format("the name '{}' becomes '{}' (1 to {} letters, digits, '_' or '-')", source.info.name,
                                  back.info.name, kMaxName));
    if (versionText(source.info, ".") != versionText(back.info, "."))
        out.push_back(fmt::format("the version {} becomes {}: a source's VERSION has two numbers",
                                  versionText(source.info, "."), versionText(back.info, ".")));
    for (const auto* s : {&source.info.description, &source.info.company, &source.info.copyright})
        if (s->find_first_of("\"\r\n") != std::string::npos)
            out.push_back("double quotes in the texts become single quotes, line breaks spaces");
    if (a.type != b.type || a.subType != b.subType)
        out.push_back(fmt::format("keyboard type {} and subtype {}: a source leaves them {} and {}", a.type, a.subType,
                                  b.type, b.subType));
    if (a.localeFlags != b.localeFlags)
        out.push_back(fmt::format("locale flags 0x{:08X} become 0x{:08X}: a source has the format version 1 and "
                                  "ALTGR, SHIFTLOCK and LRM_RLM only", a.localeFlags, b.localeFlags));
    if (a.modifierBits != b.modifierBits)
        out.push_back("the modifier keys: a source gives Shift, Ctrl and Alt their bits (and Kana when a shift state "
                      "uses it), no other keys or bits");
    if (a.maxModBits != b.maxModBits || a.modNumber != b.modNumber)
        out.push_back("the mask-to-column array: a source gives each column one mask (the lowest that reaches it) "
                      "and leaves every other mask without a column, up to at least mask 7");
    if (a.charTables.size() != b.charTables.size()) {
        out.push_back(fmt::format("the {} character tables become {}: a source keeps one table per row width",
                                  a.charTables.size(), b.charTables.size()));
    } else {
        for (size_t t = 0; t < a.charTables.size(); ++t) {
            const auto& x = a.charTables[t];
            const auto& y = b.charTables[t];
            if (x.nModifications != y.nModifications || x.cbSize != y.cbSize) {
                out.push_back(fmt::format("character table {} ({} columns, {}-byte rows) becomes {} columns, {}-byte "
                                          "rows", t + 1, x.nModifications, x.cbSize, y.nModifications, y.cbSize));
                continue;
            }
            for (size_t r = 0; r < std::max(x.rows.size(), y.rows.size()); ++r)
                if (r >= x.rows.size() || r >= y.rows.size() || x.rows[r] != y.rows[r]) {
                    const CharRow& row = r < x.rows.size() ? x.rows[r] : y.rows[r];
                    out.push_back(fmt::format("character table {} row {} (key {}) differs: rows of unreachable "
                                              "keys, keys without a scan code, and companion rows other than the "
                                              "dead or Caps Lock row a source makes cannot be said", t + 1, r + 1,
                                              vkName(row.vk)));
                    break;
                }
        }
    }
    if (a.ligatures != b.ligatures || a.nLgMax != b.nLgMax || a.cbLgEntry != b.cbLgEntry ||
        a.hasLigatures != b.hasLigatures)
        out.push_back(fmt::format("the ligature table (nLgMax {}, {}-byte rows): a source makes it as wide as its "
                                  "longest ligature, {}-byte rows", a.nLgMax, a.cbLgEntry, b.cbLgEntry));
    if (a.deadKeys != b.deadKeys)
        out.push_back("the dead-key list: flags other than DKF_DEAD, and markers as characters, cannot be said");
    if (a.keyNames != b.keyNames || a.keyNamesExt != b.keyNamesExt || a.deadKeyNames != b.deadKeyNames)
        out.push_back("key names: empty names and names holding quotes or '//' cannot be said");
    for (size_t i = 0; i < std::max(a.scanCodes.size(), b.scanCodes.size()); ++i) {
        const uint16_t x = i < a.scanCodes.size() ? a.scanCodes[i] : 0xFFFF;
        const uint16_t y = i < b.scanCodes.size() ? b.scanCodes[i] : 0xFFFF;
        if (x != y)
            out.push_back(fmt::format("scan code 0x{:02X}: entry 0x{:04X} becomes 0x{:04X} (a source maps a code to "
                                      "a key; the flags and the table's length come from the standard PC table)",
                                      i, x, y));
    }
    if (a.scanCodesE0 != b.scanCodesE0)
        out.push_back("the E0 list: a source can map codes after E0 to keys (KBDEXT) but not drop rows, reorder "
                      "them or set other flags");
    if (a.scanCodesE1 != b.scanCodesE1)
        out.push_back("the E1 list: a source keeps the standard one (Pause) plus rows it maps");
    return out;
}

}  // namespace kbd::klc
