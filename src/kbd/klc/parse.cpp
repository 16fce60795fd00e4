// Reading a layout source: tokens per line, one state per section, every
// problem collected with its line and column; the tables are assembled only
// from a source without problems.
#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <optional>
#include <set>

#include <fmt/format.h>

#include "kbd/klc/klc.h"
#include "kbd/klc/pc_scan_codes.h"
#include "kbd/klc/text.h"
#include "kbd/model/layout_format.h"
#include "kbd/model/locales.h"
#include "kbd/typing/simulator.h"

namespace kbd::klc {

ParseError::ParseError(std::string file, std::vector<Problem> problems)
    : Error([&] {
          std::string text;
          for (const auto& p : problems) {
              if (!text.empty()) text += '\n';
              text += fmt::format("{}:{}:{}: {}", file, p.line, p.column, p.message);
          }
          return text;
      }()),
      problems_(std::move(problems)) {}

namespace {

using namespace def;

struct Token {
    std::u32string text;
    unsigned       column = 0;
    bool           quoted = false;
};

struct Line {
    unsigned           number = 0;
    std::vector<Token> tokens;
};

// Splits a line into tokens: runs of non-blank characters, or a quoted
// string; `//` outside quotes ends the line. A line whose words cannot be
// told apart gives its problem and no tokens.
std::vector<Token> tokenize(const std::u32string& s, unsigned number, std::vector<Problem>& problems) {
    std::vector<Token> out;
    size_t i = 0;
    while (i < s.size()) {
        const char32_t c = s[i];
        if (c == U' ' || c == U'\t' || c == U'\r' || c == 0xFEFF) {
            ++i;
            continue;
        }
        if (c == U'/' && i + 1 < s.size() && s[i + 1] == U'/') break;
        Token t;
        t.column = static_cast<unsigned>(i + 1);
        if (c == U'"') {
            const size_t end = s.find(U'"', i + 1);
            if (end == std::u32string::npos) {
                problems.push_back({number, t.column, "a quoted text without its closing quote"});
                return {};
            }
            t.text = s.substr(i + 1, end - i - 1);
            t.quoted = true;
            if (const size_t cr = t.text.find(U'\r'); cr != std::u32string::npos) {
                problems.push_back({number, static_cast<unsigned>(i + 2 + cr), "a line break inside a quoted text"});
                return {};
            }
            i = end + 1;
        } else {
            size_t end = i;
            while (end < s.size() && s[end] != U' ' && s[end] != U'\t' && s[end] != U'\r' && s[end] != 0xFEFF &&
                   !(s[end] == U'/' && end + 1 < s.size() && s[end + 1] == U'/' && end > i))
                ++end;
            // A quote inside a word would leave the text's end in doubt.
            if (const size_t q = s.find(U'"', i); q < end) {
                problems.push_back({number, static_cast<unsigned>(q + 1), "a quote inside a word: quote the whole text"});
                return {};
            }
            t.text = s.substr(i, end - i);
            i = end;
        }
        out.push_back(std::move(t));
    }
    return out;
}

std::string show(const std::u32string& s) { return toUtf8(s); }

std::optional<uint32_t> hexNumber(const std::u32string& s, size_t minDigits, size_t maxDigits) {
    if (s.size() < minDigits || s.size() > maxDigits) return std::nullopt;
    uint32_t v = 0;
    for (char32_t c : s) {
        if (c >= U'0' && c <= U'9') v = v * 16 + (c - U'0');
        else if (c >= U'a' && c <= U'f') v = v * 16 + (c - U'a' + 10);
        else if (c >= U'A' && c <= U'F') v = v * 16 + (c - U'A' + 10);
        else return std::nullopt;
    }
    return v;
}

std::optional<uint32_t> decimal(const std::u32string& s, uint32_t max) {
    if (s.empty() || s.size() > 4) return std::nullopt;
    uint32_t v = 0;
    for (char32_t c : s) {
        if (c < U'0' || c > U'9') return std::nullopt;
        v = v * 10 + (c - U'0');
    }
    if (v > max) return std::nullopt;
    return v;
}

bool isKeywordLike(const std::u32string& s) {
    if (s.size() < 3) return false;
    return std::all_of(s.begin(), s.end(), [](char32_t c) { return (c >= U'A' && c <= U'Z') || c == U'_'; });
}

enum class Section {
    None, Attributes, ShiftState, Layout, Ligature, DeadKey, KeyName, KeyNameExt, KeyNameDead, Descriptions,
    LanguageNames
};

// A scan code as a LAYOUT row gives it: prefix byte (0, 0xE0, 0xE1) and code.
struct Scan {
    uint8_t prefix = 0;
    uint8_t code = 0;
    auto operator<=>(const Scan&) const = default;
};

// A cell of a LAYOUT row: a character, -1, %% or a dead character.
struct Cell {
    uint16_t value = WCH_NONE;
    bool     dead = false;
    unsigned column = 0;  // of the token, for messages
};

struct LayoutRow {
    unsigned          line = 0;
    Scan              scan;
    uint8_t           vk = 0;
    uint8_t           attributes = 0;
    std::vector<Cell> cells;
    std::vector<Cell> caps;  // SGCap: the Caps Lock line's cells
    bool              hasCaps = false;
};

class Parser {
public:
    explicit Parser(std::vector<Problem>& problems) : problems_(problems) {}

    LayoutSource run(const std::u32string& text) {
        unsigned number = 0;
        size_t start = 0;
        while (start <= text.size() && !ended_) {
            size_t end = text.find(U'\n', start);
            if (end == std::u32string::npos) end = text.size();
            ++number;
            Line line{number, tokenize(text.substr(start, end - start), number, problems_)};
            if (!line.tokens.empty()) handle(line);
            start = end + 1;
        }
        finish();
        return std::move(out_);
    }

private:
    void problem(unsigned line, unsigned column, std::string message) {
        problems_.push_back({line, column, std::move(message)});
    }
    void problem(const Line& l, const Token& t, std::string message) { problem(l.number, t.column, std::move(message)); }

    // Header lines: the keyword, `want` arguments, then at most a ;-comment.
    bool args(const Line& l, size_t want) {
        if (l.tokens.size() < want + 1) {
            problem(l, l.tokens.back(), fmt::format("{} needs {} value{}", show(l.tokens[0].text), want,
                                                    want == 1 ? "" : "s"));
            return false;
        }
        if (l.tokens.size() > want + 1 && l.tokens[want + 1].text[0] != U';')
            problem(l, l.tokens[want + 1], fmt::format("unexpected '{}' after {}", show(l.tokens[want + 1].text),
                                                       show(l.tokens[0].text)));
        return true;
    }

    void handle(const Line& l) {
        const Token& first = l.tokens[0];
        const std::string key = first.quoted ? "" : show(first.text);
        if (pendingCaps_ && !(key == "-1" && section_ == Section::Layout)) {
            problem(l, first, "an SGCap row must be followed by its Caps Lock line (starting -1 -1)");
            pendingCaps_ = nullptr;
        }
        if (key == "KBD") {
            if (args(l, 2)) {
                const auto& name = l.tokens[1].text;
                const bool ok = !name.empty() && name.size() <= kMaxName &&
                                std::all_of(name.begin(), name.end(), [](char32_t c) {
                                    return c < 0x80 && (std::isalnum(static_cast<int>(c)) || c == U'_' || c == U'-');
                                });
                if (!ok) problem(l, l.tokens[1], fmt::format("the layout's name must be 1 to {} letters, digits, '_' or '-'", kMaxName));
                out_.info.name = show(name);
                out_.info.description = show(l.tokens[2].text);
            }
            section_ = Section::None;
        } else if (key == "COPYRIGHT" || key == "COMPANY" || key == "LOCALENAME") {
            if (args(l, 1))
                (key == "COPYRIGHT" ? out_.info.copyright : key == "COMPANY" ? out_.info.company : out_.info.localeName) =
                    show(l.tokens[1].text);
            section_ = Section::None;
        } else if (key == "LOCALEID") {
            if (args(l, 1)) {
                if (const auto id = hexNumber(l.tokens[1].text, 1, 8); id && *id != 0)
                    localeId_ = *id;
                else
                    problem(l, l.tokens[1], "LOCALEID is a hex number such as \"00000409\"");
            }
            section_ = Section::None;
        } else if (key == "VERSION") {
            if (args(l, 1)) version(l, l.tokens[1]);
            section_ = Section::None;
        } else if (key == "ATTRIBUTES" || key == "SHIFTSTATE" || key == "LAYOUT" || key == "LIGATURE" ||
                   key == "KEYNAME" || key == "KEYNAME_EXT" || key == "KEYNAME_DEAD" || key == "DESCRIPTIONS" ||
                   key == "LANGUAGENAMES") {
            args(l, 0);
            section_ = key == "ATTRIBUTES"     ? Section::Attributes
                       : key == "SHIFTSTATE"   ? Section::ShiftState
                       : key == "LAYOUT"       ? Section::Layout
                       : key == "LIGATURE"     ? Section::Ligature
                       : key == "KEYNAME"      ? Section::KeyName
                       : key == "KEYNAME_EXT"  ? Section::KeyNameExt
                       : key == "KEYNAME_DEAD" ? Section::KeyNameDead
                       : key == "DESCRIPTIONS" ? Section::Descriptions
                                               : Section::LanguageNames;
            if (!seen_.insert(key).second && section_ != Section::Descriptions && section_ != Section::LanguageNames)
                problem(l, first, fmt::format("a second {} section", key));
            if (section_ == Section::Layout && states_.empty())
                problem(l, first, "LAYOUT before SHIFTSTATE: the columns are not known");
        } else if (key == "DEADKEY") {
            section_ = Section::DeadKey;
            dead_.reset();
            if (args(l, 1)) {
                if (const auto c = character(l, l.tokens[1])) {
                    dead_ = c;
                    deadBlocks_.insert(*c);
                }
            }
        } else if (key == "ENDKBD") {
            ended_ = true;
        } else {
            data(l);
        }
    }

    void version(const Line& l, const Token& t) {
        const size_t dot = t.text.find(U'.');
        const auto major = decimal(t.text.substr(0, dot), 0xFFFF);
        const auto minor = dot == std::u32string::npos ? std::optional<uint32_t>(0) : decimal(t.text.substr(dot + 1), 0xFFFF);
        if (!major || !minor) {
            problem(l, t, "VERSION is MAJOR.MINOR, such as 1.0");
            return;
        }
        out_.info.versionMajor = static_cast<uint16_t>(*major);
        out_.info.versionMinor = static_cast<uint16_t>(*minor);
    }

    void unknown(const Line& l, const Token& t, const std::string& what) {
        if (isKeywordLike(t.text))
            problem(l, t, fmt::format("unknown section '{}'", show(t.text)));
        else
            problem(l, t, what);
    }

    void data(const Line& l) {
        const Token& first = l.tokens[0];
        switch (section_) {
        case Section::None:
            unknown(l, first, fmt::format("'{}' outside any section", show(first.text)));
            break;
        case Section::Attributes: {
            const std::string a = show(first.text);
            if (a == "ALTGR") attributes_ |= KLLF_ALTGR;
            else if (a == "SHIFTLOCK") attributes_ |= KLLF_SHIFTLOCK;
            else if (a == "LRM_RLM") attributes_ |= KLLF_LRM_RLM;
            // Any word may follow ATTRIBUTES, so an unknown one is named
            // as either.
            else problem(l, first, fmt::format("unknown attribute '{}' (ALTGR, SHIFTLOCK or LRM_RLM) or section", a));
            break;
        }
        case Section::ShiftState: shiftState(l); break;
        case Section::Layout: layoutRow(l); break;
        case Section::Ligature: ligature(l); break;
        case Section::DeadKey: deadRow(l); break;
        case Section::KeyName:
        case Section::KeyNameExt: keyName(l); break;
        case Section::KeyNameDead: deadName(l); break;
        case Section::Descriptions:
        case Section::LanguageNames:
            if (!hexNumber(first.text, 1, 8) || l.tokens.size() < 2)
                unknown(l, first, "expected a language id in hex and a text");
            break;
        }
    }

    void shiftState(const Line& l) {
        const Token& t = l.tokens[0];
        const auto mask = decimal(t.text, 15);
        if (!mask) {
            unknown(l, t, fmt::format("'{}' is not a shift state (0 to 15: Shift 1, Ctrl 2, Alt 4, Kana 8)",
                                      show(t.text)));
            return;
        }
        if (std::find(states_.begin(), states_.end(), *mask) != states_.end()) {
            problem(l, t, fmt::format("shift state {} is listed twice", *mask));
            return;
        }
        if (states_.size() == kMaxColumns) {
            problem(l, t, fmt::format("more shift states than the format has columns ({})", kMaxColumns));
            return;
        }
        states_.push_back(static_cast<uint8_t>(*mask));
    }

    // A character given as four hex digits or as itself.
    std::optional<uint16_t> character(const Line& l, const Token& t) {
        if (const auto v = hexNumber(t.text, 4, 4)) {
            if (*v >= WCH_NONE && *v <= WCH_LGTR) {
                problem(l, t, fmt::format("{:04x} is a marker of the format, not a character", *v));
                return std::nullopt;
            }
            return static_cast<uint16_t>(*v);
        }
        if (t.text.size() == 1 && t.text[0] < 0x10000 && !(t.text[0] >= WCH_NONE && t.text[0] <= WCH_LGTR))
            return static_cast<uint16_t>(t.text[0]);
        problem(l, t, fmt::format("'{}' is not a hex code point (four digits), a character or -1", show(t.text)));
        return std::nullopt;
    }

    std::optional<Cell> cell(const Line& l, const Token& t, bool deadAllowed) {
        if (t.text == U"-1") return Cell{WCH_NONE, false, t.column};
        if (t.text == U"%%") return Cell{WCH_LGTR, false, t.column};
        Token c = t;
        bool dead = false;
        if (c.text.size() > 1 && c.text.back() == U'@') {
            if (!deadAllowed) {
                problem(l, t, "a dead key on a Caps Lock line; the key's own line makes it dead");
                return std::nullopt;
            }
            c.text.pop_back();
            dead = true;
        }
        const auto v = character(l, c);
        if (!v) return std::nullopt;
        return Cell{*v, dead, t.column};
    }

    std::optional<uint8_t> virtualKey(const Line& l, const Token& t) {
        const std::string s = show(t.text);
        if (s.size() == 4 && (s.starts_with("0x") || s.starts_with("0X")))
            if (const auto v = hexNumber(t.text.substr(2), 2, 2); v && *v != 0) return static_cast<uint8_t>(*v);
        if (const auto v = vkFromName(s); v && s.find(' ') == std::string::npos) return *v;
        problem(l, t, fmt::format("unknown virtual key '{}'", s));
        return std::nullopt;
    }

    std::optional<Scan> scanCode(const Line& l, const Token& t) {
        if (const auto v = hexNumber(t.text, 2, 2)) return Scan{0, static_cast<uint8_t>(*v)};
        if (const auto v = hexNumber(t.text, 4, 4); v && ((*v >> 8) == 0xE0 || (*v >> 8) == 0xE1))
            return Scan{static_cast<uint8_t>(*v >> 8), static_cast<uint8_t>(*v)};
        unknown(l, t, fmt::format("'{}' is not a scan code (two hex digits, or four starting e0 or e1)",
                                  show(t.text)));
        return std::nullopt;
    }

    void layoutRow(const Line& l) {
        const auto& tk = l.tokens;
        if (tk[0].text == U"-1") {
            capsLine(l);
            return;
        }
        const auto sc = scanCode(l, tk[0]);
        if (!sc) return;
        if (tk.size() < 2) {
            problem(l, tk.back(), "a LAYOUT row is: scan code, virtual key, Caps Lock value, then one cell per shift "
                                  "state (or just scan code and virtual key, to map the code only)");
            return;
        }
        const auto vk = virtualKey(l, tk[1]);
        std::optional<uint8_t> attributes;
        const std::string cap = tk.size() > 2 ? show(tk[2].text) : "0";
        if (tk.size() == 2) attributes = 0;
        else if (cap == "SGCap" || cap == "SGCAP" || cap == "sgcap") attributes = SGCAPS;
        else if (const auto a = decimal(tk[2].text, 0xFF)) attributes = static_cast<uint8_t>(*a);
        else problem(l, tk[2], fmt::format("'{}' is not a Caps Lock value (0, 1, 4, 5 or SGCap)", cap));
        LayoutRow row;
        row.line = l.number;
        bool ok = vk && attributes;
        for (size_t i = 3; i < tk.size(); ++i) {
            if (i - 3 == states_.size() && !states_.empty()) {
                problem(l, tk[i], fmt::format("more cells than shift states ({})", states_.size()));
                ok = false;
                break;
            }
            if (const auto c = cell(l, tk[i], true)) row.cells.push_back(*c);
            else ok = false;
        }
        if (const auto prev = scans_.find(*sc); prev != scans_.end()) {
            problem(l, tk[0], fmt::format("scan code {} is used twice (first on line {})", show(tk[0].text),
                                          prev->second));
            ok = false;
        } else {
            scans_.emplace(*sc, l.number);
        }
        if (vk && !row.cells.empty()) {
            if (const auto prev = vks_.find(*vk); prev != vks_.end()) {
                problem(l, tk[1], fmt::format("virtual key {} is used twice (first on line {})", show(tk[1].text),
                                              prev->second));
                ok = false;
            } else {
                vks_.emplace(*vk, l.number);
            }
        }
        if (!ok) return;
        row.scan = *sc;
        row.vk = *vk;
        row.attributes = *attributes;
        rows_.push_back(std::move(row));
        if (*attributes & SGCAPS) pendingCaps_ = &rows_.back();
    }

    void capsLine(const Line& l) {
        const auto& tk = l.tokens;
        if (!pendingCaps_) {
            problem(l, tk[0], "a Caps Lock line (-1 -1) must follow an SGCap row");
            return;
        }
        LayoutRow& row = *pendingCaps_;
        pendingCaps_ = nullptr;
        if (tk.size() < 3 || tk[1].text != U"-1") {
            problem(l, tk[0], "a Caps Lock line is: -1 -1 0, then the Caps Lock characters");
            return;
        }
        for (size_t i = 3; i < tk.size(); ++i) {
            if (i - 3 == row.cells.size()) {
                problem(l, tk[i], fmt::format("more Caps Lock cells than the SGCap row has ({})", row.cells.size()));
                return;
            }
            const auto c = cell(l, tk[i], false);
            if (!c) return;
            if (c->value == WCH_LGTR) {
                problem(l, tk[i], "a ligature on a Caps Lock line");
                return;
            }
            const Cell& above = row.cells[i - 3];
            if (above.dead && c->value != above.value) {
                problem(l, tk[i], "under a dead cell the Caps Lock line must repeat its dead character");
                return;
            }
            row.caps.push_back(*c);
        }
        row.hasCaps = true;
    }

    void ligature(const Line& l) {
        const auto& tk = l.tokens;
        if (tk.size() < 3) {
            unknown(l, tk[0], "a LIGATURE row is: virtual key, column, then the characters");
            return;
        }
        const auto vk = virtualKey(l, tk[0]);
        const auto column = decimal(tk[1].text, kMaxColumns - 1);
        if (!column) problem(l, tk[1], fmt::format("'{}' is not a column (0 to {})", show(tk[1].text), kMaxColumns - 1));
        if (tk.size() - 2 > kMaxLigature) {
            problem(l, tk[2 + kMaxLigature],
                    fmt::format("a ligature of {} characters; the format allows at most {}", tk.size() - 2, kMaxLigature));
            return;
        }
        Ligature g;
        bool ok = vk && column;
        for (size_t i = 2; i < tk.size(); ++i) {
            if (const auto c = character(l, tk[i])) g.chars.push_back(*c);
            else ok = false;
        }
        if (!ok) return;
        g.vk = *vk;
        g.column = static_cast<uint16_t>(*column);
        if (!ligatureAt_.emplace(std::pair{g.vk, g.column}, l.number).second) {
            problem(l, tk[0], fmt::format("a second ligature for {} column {}", show(tk[0].text), g.column));
            return;
        }
        out_.tables.ligatures.push_back(std::move(g));
    }

    void deadRow(const Line& l) {
        const auto& tk = l.tokens;
        if (tk.size() != 2) {
            unknown(l, tk[0], "a DEADKEY row is: the next character, then what the two give");
            return;
        }
        const auto base = character(l, tk[0]);
        Token composed = tk[1];
        uint16_t flags = 0;
        if (composed.text.size() > 1 && composed.text.back() == U'@') {
            composed.text.pop_back();
            flags = DKF_DEAD;
        }
        const auto c = character(l, composed);
        if (base && c && dead_) out_.tables.deadKeys.push_back({*base, *dead_, *c, flags});
    }

    void keyName(const Line& l) {
        const auto& tk = l.tokens;
        const auto sc = hexNumber(tk[0].text, 2, 2);
        if (!sc || tk.size() < 2) {
            unknown(l, tk[0], "a KEYNAME row is: scan code (two hex digits), then the name");
            return;
        }
        std::u32string name = tk[1].text;
        for (size_t i = 2; i < tk.size(); ++i) name += U" " + tk[i].text;
        auto& list = section_ == Section::KeyName ? out_.tables.keyNames : out_.tables.keyNamesExt;
        list.push_back({static_cast<uint8_t>(*sc), toUtf16(name)});
    }

    void deadName(const Line& l) {
        const auto& tk = l.tokens;
        if (tk.size() < 2) {
            unknown(l, tk[0], "a KEYNAME_DEAD row is: the dead character, then its name");
            return;
        }
        const auto c = character(l, tk[0]);
        if (!c) return;
        std::u32string name = tk[1].text;
        for (size_t i = 2; i < tk.size(); ++i) name += U" " + tk[i].text;
        if (name.empty()) {
            problem(l, tk[1], "an empty dead-key name");
            return;
        }
        if (const auto [prev, added] = deadNamed_.emplace(*c, l.number); !added) {
            problem(l, tk[0], fmt::format("dead key {} is named twice (first on line {})", show(tk[0].text), prev->second));
            return;
        }
        out_.tables.deadKeyNames.push_back(std::u16string(1, char16_t(*c)) + toUtf16(name));
    }

    // Checks that need the whole file, then the tables.
    void finish() {
        if (pendingCaps_) problem(pendingCaps_->line, 1, "an SGCap row must be followed by its Caps Lock line");
        if (states_.empty()) problem(1, 1, "no SHIFTSTATE section");
        for (const auto& row : rows_)
            for (size_t c = 0; c < row.cells.size(); ++c) {
                const Cell& cell = row.cells[c];
                if (cell.dead && !deadBlocks_.contains(cell.value))
                    problem(row.line, cell.column, fmt::format("dead key {:04x} has no DEADKEY block", cell.value));
                if (cell.value == WCH_LGTR && !ligatureAt_.contains({row.vk, static_cast<uint16_t>(c)}))
                    problem(row.line, cell.column, fmt::format("ligature cell of column {} has no LIGATURE row", c));
            }
        if (!problems_.empty()) return;
        Layout& L = out_.tables;
        L.localeFlags = (KBD_VERSION << 16) | attributes_;
        modifiers(L);
        characters(L);
        ligatureSizes(L);
        scanCodes(L);
        if (localeId_) out_.info.localeId = *localeId_;
        else if (const auto loc = localeByName(out_.info.localeName)) out_.info.localeId = loc->id;
        if (out_.info.localeName.empty())
            if (const auto loc = localeById(out_.info.localeId)) out_.info.localeName = loc->name;
    }

    void modifiers(Layout& L) {
        L.modifierBits = {{vk::SHIFT, KBDSHIFT}, {vk::CONTROL, KBDCTRL}, {vk::MENU, KBDALT}};
        uint8_t highest = KBDSHIFT | KBDCTRL | KBDALT;
        for (uint8_t m : states_) highest = std::max(highest, m);
        if (highest & KBDKANA) L.modifierBits.push_back({vk::KANA, KBDKANA});
        L.maxModBits = highest;
        L.modNumber.assign(highest + 1, SHFT_INVALID);
        for (size_t c = 0; c < states_.size(); ++c) L.modNumber[states_[c]] = static_cast<uint8_t>(c);
    }

    void characters(Layout& L) {
        std::map<size_t, size_t> tableOfWidth;
        for (const auto& row : rows_) {
            const size_t width = row.cells.size();
            if (width == 0) continue;
            auto [it, added] = tableOfWidth.emplace(width, L.charTables.size());
            if (added)
                L.charTables.push_back({static_cast<uint8_t>(width), static_cast<uint8_t>(2 + 2 * width), {}});
            auto& rows = L.charTables[it->second].rows;
            CharRow r{row.vk, row.attributes, {}};
            CharRow next{VK_NONE, 0, std::vector<uint16_t>(width, WCH_NONE)};
            bool anyDead = false;
            for (size_t c = 0; c < width; ++c) {
                r.cells.push_back(row.cells[c].dead ? WCH_DEAD : row.cells[c].value);
                if (row.cells[c].dead) {
                    next.cells[c] = row.cells[c].value;
                    anyDead = true;
                }
            }
            if (row.attributes & SGCAPS) {
                for (size_t c = 0; c < row.caps.size(); ++c) next.cells[c] = row.caps[c].value;
                if (anyDead) next.vk = row.vk;
            }
            rows.push_back(std::move(r));
            if (anyDead || (row.attributes & SGCAPS)) rows.push_back(std::move(next));
        }
    }

    void ligatureSizes(Layout& L) {
        if (L.ligatures.empty()) return;
        size_t longest = 0;
        for (const auto& g : L.ligatures) longest = std::max(longest, g.chars.size());
        for (auto& g : L.ligatures) g.chars.resize(longest, WCH_NONE);
        L.hasLigatures = true;
        L.nLgMax = static_cast<uint8_t>(longest);
        L.cbLgEntry = static_cast<uint8_t>(offsetOf(Field::LIGATURE1_wch, 4) + 2 * longest);
    }

    // The standard tables, re-mapped by the LAYOUT rows. A row naming the key
    // the code already gives (a keypad key by its Num Lock key too) keeps the
    // code's flags.
    void scanCodes(Layout& L) {
        L.scanCodes = pcScanCodes();
        L.scanCodesE0 = pcScanCodesE0();
        L.scanCodesE1 = pcScanCodesE1();
        for (const auto& row : rows_) {
            if (row.scan.prefix == 0) {
                if (row.scan.code >= L.scanCodes.size()) L.scanCodes.resize(row.scan.code + 1, VK_NONE);
                uint16_t& e = L.scanCodes[row.scan.code];
                if ((e & 0xFF) != row.vk && kbd::virtualKey(e, true, false) != row.vk) e = row.vk;
                continue;
            }
            auto& list = row.scan.prefix == 0xE0 ? L.scanCodesE0 : L.scanCodesE1;
            const uint16_t entry = row.vk | (row.scan.prefix == 0xE0 ? KBDEXT : 0);
            auto it = std::find_if(list.begin(), list.end(), [&](const ScanEntry& s) { return s.scanCode == row.scan.code; });
            if (it == list.end()) list.push_back({row.scan.code, entry});
            else if ((it->entry & 0xFF) != row.vk) it->entry = entry;
        }
    }

    std::vector<Problem>&        problems_;
    LayoutSource                 out_;
    Section                      section_ = Section::None;
    bool                         ended_ = false;
    std::set<std::string>        seen_;
    std::optional<uint32_t>      localeId_;
    uint32_t                     attributes_ = 0;
    std::vector<uint8_t>         states_;
    std::deque<LayoutRow>        rows_;  // a deque: pendingCaps_ points into it
    LayoutRow*                   pendingCaps_ = nullptr;
    std::map<Scan, unsigned>     scans_;
    std::map<uint8_t, unsigned>  vks_;
    std::map<std::pair<uint8_t, uint16_t>, unsigned> ligatureAt_;
    std::optional<uint16_t>      dead_;
    std::set<uint16_t>           deadBlocks_;
    std::map<uint16_t, unsigned> deadNamed_;
};

}  // namespace

LayoutSource parseKlc(std::span<const uint8_t> bytes, std::string_view file) {
    std::vector<Problem> problems;
    if (bytes.size() > kMaxFileBytes)
        throw ParseError(std::string(file), {{1, 1, fmt::format("the file is {} bytes; a layout source is at most {} "
                                                                "bytes (1 MiB)", bytes.size(), kMaxFileBytes)}});
    const auto text = decodeText(bytes, problems);
    if (!text) throw ParseError(std::string(file), problems);
    LayoutSource source = Parser(problems).run(*text);
    if (!problems.empty()) {
        std::stable_sort(problems.begin(), problems.end(), [](const Problem& a, const Problem& b) {
            return std::pair{a.line, a.column} < std::pair{b.line, b.column};
        });
        throw ParseError(std::string(file), problems);
    }
    return source;
}

}  // namespace kbd::klc
