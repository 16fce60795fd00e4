#include "kbd/build/layout_files.h"

#include <algorithm>
#include <map>
#include <vector>

#include <fmt/format.h>
#include <llvm/ADT/SmallVector.h>
#include <llvm/ADT/StringRef.h>
#include <llvm/Support/ConvertUTF.h>

#include "kbd/image/error.h"
#include "kbd/image/utf8.h"
#include "kbd/model/layout_format.h"

namespace kbd::build {
namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string hex4(uint32_t v) { return fmt::format("0x{:04X}", v); }
std::string hex2(uint32_t v) { return fmt::format("0x{:02X}", v); }

// Characters that show as themselves in a comment or a string: no controls,
// spaces, format characters, surrogates, Private Use or non-characters.
bool graphic(uint16_t c) {
    if (c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0xAD) return false;
    if ((c >= 0x2000 && c <= 0x200F) || (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F)) return false;
    if (c == 0x3000 || c == 0xFEFF || c >= 0xFFF0 || c == 0x034F || c == 0x180E) return false;
    if (c >= 0xD800 && c <= 0xF8FF) return false;  // surrogates and Private Use
    return true;
}

std::string shown(uint16_t c) {
    static const std::map<uint16_t, const char*> controls = {
        {0x0003, "ETX"}, {0x0008, "BS"}, {0x0009, "TAB"}, {0x000A, "LF"},  {0x000D, "CR"},
        {0x001B, "ESC"}, {0x001C, "FS"}, {0x001D, "GS"},  {0x001E, "RS"},  {0x001F, "US"},
        {0x0020, "SP"},  {0x007F, "DEL"}, {0x00A0, "NBSP"}, {0x200C, "ZWNJ"}, {0x200D, "ZWJ"},
        {0x200E, "LRM"}, {0x200F, "RLM"}};
    if (const auto it = controls.find(c); it != controls.end()) return it->second;
    if (c >= 0xE000 && c <= 0xF8FF) return "PUA";
    if (!graphic(c)) return fmt::format("U+{:04X}", c);
    std::string s = utf8(std::u16string(1, char16_t(c)));
    // A comment must not end in a backslash, which would join the next line to it.
    return c == '\\' ? "\\ " : s;
}

std::string join(const std::vector<std::string>& parts, const char* sep) {
    std::string o;
    for (const auto& p : parts) o += (o.empty() ? "" : sep) + p;
    return o;
}

std::string flags(std::string_view group, uint32_t value, int digits) {
    const auto names = flagNames(group, value, digits);
    return names.empty() ? "0" : join(names, " | ");
}

std::string vkConst(uint8_t vk) {
    if (vk == 0) return "0";
    if (vk == def::VK_NONE) return "VK__none_";
    return vkName(vk);
}

std::string scanEntry(uint16_t entry) {
    if (entry == 0) return "0";
    std::string s = vkConst(entry & 0xFF);
    if (entry & 0xFF00) s += " | " + flags("ScanFlag", entry & 0xFF00, 4);
    return s;
}

std::string cell(uint16_t c) {
    if (c == def::WCH_NONE) return "WCH_NONE";
    if (c == def::WCH_DEAD) return "WCH_DEAD";
    if (c == def::WCH_LGTR) return "WCH_LGTR";
    return hex4(c);
}

// A wide string literal: printable ASCII as is, other visible characters as
// UTF-8, everything else as a \x escape in a literal of its own, so that a
// following hex digit does not join the escape.
std::string wideLiteral(const std::u16string& s) {
    std::string o = "L\"";
    bool afterEscape = false;
    for (char16_t c : s) {
        const bool escape = !graphic(c) && c != ' ';
        if (afterEscape && !escape && std::isxdigit(static_cast<unsigned char>(c < 0x80 ? c : 'g')))
            o += "\" L\"";
        if (escape) {
            o += fmt::format("\\x{:04X}", unsigned(c));
        } else if (c == '"' || c == '\\') {
            o += '\\';
            o += char(c);
        } else if (c < 0x80) {
            o += char(c);
        } else {
            o += utf8(std::u16string(1, c));
        }
        afterEscape = escape;
    }
    return o + "\"";
}

// Rows of fields, each field padded to its column's widest, then a comment.
std::string aligned(const Rows& rows, const std::vector<std::string>& comments, const std::string& indent) {
    std::vector<size_t> width;
    for (const auto& r : rows)
        for (size_t i = 0; i < r.size(); ++i) {
            if (width.size() <= i) width.push_back(0);
            width[i] = std::max(width[i], r[i].size());
        }
    std::string o;
    for (size_t n = 0; n < rows.size(); ++n) {
        std::string line = indent;
        for (size_t i = 0; i < rows[n].size(); ++i) line += fmt::format("{:<{}}", rows[n][i], width[i]);
        if (n < comments.size() && !comments[n].empty()) line += "  // " + comments[n];
        while (!line.empty() && line.back() == ' ') line.pop_back();
        o += line + "\n";
    }
    return o;
}

class TableWriter {
public:
    explicit TableWriter(const LayoutSource& s) : s_(s), L_(s.tables) {}

    std::string run() {
        header();
        modifiers();
        characters();
        ligatures();
        deadKeys();
        keyNames();
        scanCodes();
        root();
        return out_;
    }

private:
    const LayoutSource& s_;
    const Layout&       L_;
    std::string         out_;
    std::vector<std::string> tableNames_;
    std::vector<unsigned>    widths_;

    void header() {
        std::string description = s_.info.description;
        for (char& c : description)
            if (static_cast<unsigned char>(c) < 0x20) c = ' ';
        out_ += fmt::format(
            "// The keyboard layout {}{}.\n"
            "// Written by kbdtool build from the layout's source. The records are those of\n"
            "// kbd.h; the root record at the end ties the tables together, and\n"
            "// KbdLayerDescriptor returns it.\n"
            "#include \"kbd.h\"\n\nnamespace {{\n",
            s_.info.name, description.empty() ? "" : ": " + description);
    }

    void modifiers() {
        if (L_.modNumber.size() != size_t(L_.maxModBits) + 1)
            throw Error(fmt::format("the modifier record has {} columns for masks 0..{}", L_.modNumber.size(),
                                    L_.maxModBits));
        out_ += "\n// Modifier keys and the bit each adds to the mask.\nconstexpr VK_TO_BIT aVkToBits[] = {\n";
        Rows rows;
        for (const auto& b : L_.modifierBits) rows.push_back({"{ ", vkConst(b.vk) + ",", " " + flags("ShiftBit", b.bits, 2), " },"});
        rows.push_back({"{ ", "0,", " 0", " },"});
        out_ += aligned(rows, {}, "    ");
        out_ += fmt::format(
            "}};\n\n// The column of the character tables for each modifier mask.\n"
            "constexpr MODIFIERS_UPTO<{}> CharModifiers = {{\n    aVkToBits,\n    {},\n    {{\n",
            L_.maxModBits, L_.maxModBits);
        Rows cols;
        std::vector<std::string> comments;
        for (size_t m = 0; m < L_.modNumber.size(); ++m) {
            const uint8_t c = L_.modNumber[m];
            cols.push_back({(c == def::SHFT_INVALID ? std::string("SHFT_INVALID") : std::to_string(c)) + ","});
            comments.push_back(fmt::format("{} = {}", m, m == 0 ? "<none>" : shiftStateName(uint8_t(m))));
        }
        out_ += aligned(cols, comments, "        ");
        out_ += "    },\n};\n";
    }

    void characters() {
        std::map<unsigned, int> seen;
        for (size_t t = 0; t < L_.charTables.size(); ++t) {
            const CharTable& table = L_.charTables[t];
            // Rows may be stored wider than their columns (cbSize says how
            // wide); the spare cells are written as 0.
            const unsigned n = table.nModifications, width = (table.cbSize - 2u) / 2;
            if (n == 0 || table.cbSize % 2 || table.cbSize < 2 + 2 * n || width > kMaxColumns)
                throw Error(fmt::format("character table {} has {} columns in rows of {} bytes, which no record has",
                                        t + 1, n, table.cbSize));
            std::string name = fmt::format("aVkToWch{}", n);
            if (seen[n]++) name += fmt::format("_{}", seen[n]);
            tableNames_.push_back(name);
            widths_.push_back(width);
            out_ += fmt::format("\n// Characters of the keys with {} shift state{}{}.\nconstexpr VK_TO_WCHARS{} {}[] = {{\n",
                                n, n == 1 ? "" : "s",
                                width > n ? fmt::format(", in rows of {} cells ({} spare)", width, width - n) : "",
                                width, name);
            Rows rows;
            std::vector<std::string> comments;
            for (size_t r = 0; r < table.rows.size(); ++r) {
                const CharRow& row = table.rows[r];
                if (row.cells.size() != n)
                    throw Error(fmt::format("a row of character table {} has {} cells for {} columns", t + 1,
                                            row.cells.size(), n));
                std::vector<std::string> f = {"{ ", vkConst(row.vk) + ", ", flags("Attribute", row.attributes, 2) + ", ",
                                              "{ "};
                std::vector<std::string> shownCells;
                for (unsigned c = n; c < width; ++c) f.push_back(c + 1 < width ? "0, " : "0 ");
                for (unsigned c = 0; c < n; ++c) {
                    f.insert(f.end() - (width - n), cell(row.cells[c]) + (c + 1 < width ? ", " : " "));
                    const uint16_t v = row.cells[c];
                    std::string label = v == def::WCH_NONE ? "—" : v == def::WCH_LGTR ? "lgtr" : shown(v);
                    if (v == def::WCH_DEAD) {
                        label = "dead";
                        if (r + 1 < table.rows.size() && table.rows[r + 1].vk == def::VK_NONE &&
                            table.rows[r + 1].cells.size() == n)
                            label += " " + shown(table.rows[r + 1].cells[c]);
                    }
                    shownCells.push_back(label);
                }
                f.push_back("} },");
                rows.push_back(std::move(f));
                comments.push_back(row.vk == def::VK_NONE && std::all_of(shownCells.begin(), shownCells.end(),
                                                                         [](auto& x) { return x == "—"; })
                                       ? ""
                                       : join(shownCells, "  "));
            }
            std::vector<std::string> end = {"{ ", "0, ", "0, ", "{ "};
            for (unsigned c = 0; c < width; ++c) end.push_back(c + 1 < width ? "0, " : "0 ");
            end.push_back("} },");
            rows.push_back(std::move(end));
            out_ += aligned(rows, comments, "    ");
            out_ += "};\n";
        }
        out_ += "\n// The character tables, searched in this order.\nconstexpr VK_TO_WCHAR_TABLE aVkToWcharTable[] = {\n";
        Rows list;
        for (size_t t = 0; t < tableNames_.size(); ++t) {
            const unsigned n = L_.charTables[t].nModifications;
            list.push_back({"{ ", tableNames_[t] + ", ", fmt::format("{}, ", n),
                            fmt::format("sizeof(VK_TO_WCHARS{})", widths_[t]), " },"});
        }
        list.push_back({"{ ", "nullptr, ", "0, ", "0", " },"});
        out_ += aligned(list, {}, "    ");
        out_ += "};\n";
    }

    bool standardLigatureRow() const { return L_.nLgMax >= 1 && L_.cbLgEntry == 4 + 2 * L_.nLgMax; }
    // LIGATURE1..LIGATURE5 by their names, longer rows by the template.
    std::string ligatureRecord() const {
        return L_.nLgMax <= 5 ? fmt::format("LIGATURE{}", L_.nLgMax) : fmt::format("LIGATURE<{}>", L_.nLgMax);
    }

    void ligatures() {
        if (!L_.hasLigatures) return;
        if (!standardLigatureRow())
            throw Error(fmt::format("ligature rows of {} characters in {} bytes, which no record has", L_.nLgMax,
                                    L_.cbLgEntry));
        out_ += fmt::format("\n// Ligatures: key, column, then the characters.\nconstexpr {} aLigature[] = {{\n",
                            ligatureRecord());
        Rows rows;
        std::vector<std::string> comments;
        for (const auto& g : L_.ligatures) {
            if (g.chars.size() != L_.nLgMax)
                throw Error(fmt::format("a ligature holds {} characters, not {}", g.chars.size(), L_.nLgMax));
            std::vector<std::string> f = {"{ ", vkConst(g.vk) + ", ", fmt::format("{}, ", g.column), "{ "};
            std::vector<std::string> chars;
            for (size_t i = 0; i < g.chars.size(); ++i) {
                f.push_back(cell(g.chars[i]) + (i + 1 < g.chars.size() ? ", " : " "));
                if (g.chars[i] != def::WCH_NONE) chars.push_back(shown(g.chars[i]));
            }
            f.push_back("} },");
            rows.push_back(std::move(f));
            comments.push_back(join(chars, " "));
        }
        std::vector<std::string> end = {"{ ", "0, ", "0, ", "{ "};
        for (unsigned i = 0; i < L_.nLgMax; ++i) end.push_back(i + 1 < L_.nLgMax ? "0, " : "0 ");
        end.push_back("} },");
        rows.push_back(std::move(end));
        out_ += aligned(rows, comments, "    ");
        out_ += "};\n";
    }

    void deadKeys() {
        if (L_.deadKeys.empty()) return;
        out_ += "\n// Dead-key compositions: base character and dead character give the result.\n"
                "constexpr DEADKEY aDeadKey[] = {\n";
        Rows rows;
        std::vector<std::string> comments;
        for (const auto& d : L_.deadKeys) {
            rows.push_back({"{ ", fmt::format("DEADTRANS({}, {}), ", hex4(d.base), hex4(d.dead)), hex4(d.composed) + ", ",
                            d.flags == def::DKF_DEAD ? "DKF_DEAD" : hex4(d.flags), " },"});
            comments.push_back(fmt::format("{} {} → {}{}", shown(d.base), shown(d.dead),
                                           d.flags & def::DKF_DEAD ? "dead " : "", shown(d.composed)));
        }
        rows.push_back({"{ ", "0, ", "0, ", "0", " },"});
        out_ += aligned(rows, comments, "    ");
        out_ += "};\n";
    }

    void keyNameList(const std::vector<KeyName>& names, const char* what, const char* array) {
        if (names.empty()) return;
        out_ += fmt::format("\n// Names of the keys {}, by scan code.\nconstexpr VSC_LPWSTR {}[] = {{\n", what, array);
        Rows rows;
        for (const auto& n : names) rows.push_back({"{ ", hex2(n.scanCode) + ", ", wideLiteral(n.name), " },"});
        rows.push_back({"{ ", "0, ", "nullptr", " },"});
        out_ += aligned(rows, {}, "    ");
        out_ += "};\n";
    }

    void keyNames() {
        keyNameList(L_.keyNames, "without prefix", "aKeyNames");
        keyNameList(L_.keyNamesExt, "after the E0 prefix", "aKeyNamesExt");
        if (L_.deadKeyNames.empty()) return;
        out_ += "\n// Names of the dead keys: the dead character, then its name.\nconstexpr PKBD_NAME aKeyNamesDead[] = {\n";
        Rows rows;
        std::vector<std::string> comments;
        for (const auto& n : L_.deadKeyNames) {
            if (n.empty()) {
                rows.push_back({"L\"\","});
                comments.push_back("");
                continue;
            }
            rows.push_back({wideLiteral(n.substr(0, 1)) + " ", wideLiteral(n.substr(1)) + ","});
            comments.push_back(shown(n[0]));
        }
        rows.push_back({"nullptr,"});
        out_ += aligned(rows, comments, "    ");
        out_ += "};\n";
    }

    void scanList(const std::vector<ScanEntry>& list, const char* what, const char* array) {
        if (list.empty()) return;
        out_ += fmt::format("\n// Scan codes after the {} prefix.\nconstexpr VSC_VK {}[] = {{\n", what, array);
        Rows rows;
        for (const auto& e : list) rows.push_back({"{ ", hex2(e.scanCode) + ", ", scanEntry(e.entry), " },"});
        rows.push_back({"{ ", "0, ", "0", " },"});
        out_ += aligned(rows, {}, "    ");
        out_ += "};\n";
    }

    void scanCodes() {
        if (L_.scanCodes.size() > 0xFF)
            throw Error(fmt::format("the scan-code table has {} entries; the format counts at most 255",
                                    L_.scanCodes.size()));
        if (!L_.scanCodes.empty()) {
            out_ += "\n// Virtual keys by scan code, from 0x00.\nconstexpr USHORT ausVK[] = {\n";
            Rows rows;
            std::vector<std::string> comments;
            for (size_t sc = 0; sc < L_.scanCodes.size(); ++sc) {
                rows.push_back({scanEntry(L_.scanCodes[sc]) + ","});
                comments.push_back(hex2(unsigned(sc)));
            }
            out_ += aligned(rows, comments, "    ");
            out_ += "};\n";
        }
        scanList(L_.scanCodesE0, "E0", "aE0VscToVk");
        scanList(L_.scanCodesE1, "E1", "aE1VscToVk");
    }

    std::string localeFlags() const {
        const uint32_t version = L_.localeFlags >> 16, low = L_.localeFlags & 0xFFFF;
        std::string v = version == def::KBD_VERSION ? "KBD_VERSION" : hex4(version);
        return low ? fmt::format("({} << 16) | {}", v, flags("LocaleFlag", low, 4)) : fmt::format("{} << 16", v);
    }

    void root() {
        const auto pointer = [](bool present, const std::string& name) { return present ? name : std::string("nullptr"); };
        const std::string lgEntry = L_.hasLigatures && standardLigatureRow() ? fmt::format("sizeof({})", ligatureRecord())
                                                    : std::to_string(L_.cbLgEntry);
        out_ += fmt::format(
            "\n// The root record.\nconstinit const KBDTABLES KbdTables = {{\n"
            "    /* pCharModifiers  */ &CharModifiers,\n"
            "    /* pVkToWcharTable */ aVkToWcharTable,\n"
            "    /* pDeadKey        */ {},\n"
            "    /* pKeyNames       */ {},\n"
            "    /* pKeyNamesExt    */ {},\n"
            "    /* pKeyNamesDead   */ {},\n"
            "    /* pusVSCtoVK      */ {},\n"
            "    /* bMaxVSCtoVK     */ {},\n"
            "    /* pVSCtoVK_E0     */ {},\n"
            "    /* pVSCtoVK_E1     */ {},\n"
            "    /* fLocaleFlags    */ {},\n"
            "    /* nLgMax          */ {},\n"
            "    /* cbLgEntry       */ {},\n"
            "    /* pLigature       */ {},\n"
            "    /* dwType          */ {},\n"
            "    /* dwSubType       */ {},\n"
            "}};\n\n}}  // namespace\n\n",
            pointer(!L_.deadKeys.empty(), "aDeadKey"), pointer(!L_.keyNames.empty(), "aKeyNames"),
            pointer(!L_.keyNamesExt.empty(), "aKeyNamesExt"), pointer(!L_.deadKeyNames.empty(), "aKeyNamesDead"),
            pointer(!L_.scanCodes.empty(), "ausVK"), L_.scanCodes.size(),
            pointer(!L_.scanCodesE0.empty(), "aE0VscToVk"), pointer(!L_.scanCodesE1.empty(), "aE1VscToVk"),
            localeFlags(), L_.nLgMax, lgEntry, pointer(L_.hasLigatures, "aLigature"), L_.type, L_.subType);
        out_ +=
            "// The image has no code section: the export's few instructions live in .data\n"
            "// with the tables, which the link makes readable and executable but not\n"
            "// writable.\n"
            "#pragma code_seg(\".data\")\n\n"
            "extern \"C\" KBD_ROOT KbdLayerDescriptor() {\n"
            "#if defined(KBD_WOW64)\n"
            "    return reinterpret_cast<DWORD>(&KbdTables);\n"
            "#else\n"
            "    return &KbdTables;\n"
            "#endif\n"
            "}\n";
    }
};

// What the version block (resources/version.rc) says of the layout.
std::string versionTexts(const LayoutInfo& info) {
    const uint16_t lang = info.localeId & 0xFFFF;
    return fmt::format(
        "// What the version block ({0}.rc) says of {0}.dll, written by kbdtool build.\n"
        "#define KBD_VER_MAJOR           {1}\n"
        "#define KBD_VER_MINOR           {2}\n"
        "#define KBD_VER_PATCH           {3}\n"
        "#define KBD_VER_TWEAK           {4}\n"
        "#define KBD_LANG_PRIMARY        0x{5:02X}\n"
        "#define KBD_LANG_SUB            0x{6:02X}\n"
        "#define KBD_STRING_BLOCK        \"{7:04X}04B0\"\n"
        "#define KBD_TRANSLATION         0x{7:04X}\n"
        "#define KBD_COMPANY             {8}\n"
        "#define KBD_DESCRIPTION         {9}\n"
        "#define KBD_INTERNAL_NAME       \"{0}\"\n"
        "#define KBD_COPYRIGHT           {10}\n"
        "#define KBD_ORIGINAL_FILENAME   \"{0}\"\n",
        info.name, info.versionMajor, info.versionMinor, info.versionBuild, info.versionRevision, lang & 0x3FF,
        lang >> 10, lang, rcString(info.company), rcString(info.description), rcString(info.copyright));
}

}  // namespace

std::string rcString(const std::string& utf8Text) {
    llvm::SmallVector<llvm::UTF16, 64> s;
    if (!llvm::convertUTF8ToUTF16String(utf8Text, s))
        throw Error(fmt::format("the text \"{}\" is not valid UTF-8", utf8Text));
    std::string o = "L\"";
    for (const llvm::UTF16 c : s) {
        if (c == '"') o += "\"\"";
        else if (c == '\\') o += "\\\\";
        else if (c >= 0x20 && c < 0x7F) o += char(c);
        else o += fmt::format("\\x{:04X}", unsigned(c));
    }
    return o + "\"";
}

std::string nameFault(const std::string& name) {
    if (name.empty() || name.size() > 64) return "a file name of 1 to 64 characters";
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-')
            return fmt::format("'{}': letters, digits, '_' and '-' only", name);
    return "";
}

LayoutFiles writeLayoutFiles(const LayoutSource& source) {
    if (const auto fault = nameFault(source.info.name); !fault.empty()) throw Error("layout name: " + fault);
    LayoutFiles f;
    f.tables = TableWriter(source).run();
    f.def = fmt::format("LIBRARY {}\nEXPORTS\n    KbdLayerDescriptor @1\n", source.info.name);
    f.versionTexts = versionTexts(source.info);
    return f;
}

}  // namespace kbd::build
