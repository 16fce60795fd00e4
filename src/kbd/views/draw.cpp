#include "kbd/views/draw.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <fmt/format.h>

#include "kbd/views/dump.h"
#include "kbd/image/error.h"
#include "kbd/typing/simulator.h"
#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"
#include "kbd/views/drawn_keyboard.h"

namespace kbd {
namespace {

constexpr uint8_t SHIFT = def::KBDSHIFT, CTRL = def::KBDCTRL, ALTGR = def::KBDCTRL | def::KBDALT;
constexpr double kUnit = 60;    // one key width in px
constexpr double kMargin = 20;  // around everything
constexpr double kTop = 70;     // title block above the keyboard
const char* const kFont = "'DejaVu Sans', 'Noto Sans', sans-serif";

// ---- Keys and where they sit ------------------------------------------------

std::string keyId(const KeySpot& k) {
    return k.prefix == Prefix::E0 ? fmt::format("sc-e0-{:02x}", k.code) : fmt::format("sc-{:02x}", k.code);
}

std::string utf8(uint16_t ch) { return kbd::utf8(std::u16string(1, static_cast<char16_t>(ch))); }

// ---- Characters as they are shown -------------------------------------------

struct Shown {
    enum class Style { Glyph, Code, Control };
    std::string text;
    Style       style = Style::Glyph;
};

bool combining(uint16_t ch) {
    return (ch >= 0x0300 && ch <= 0x036F) || (ch >= 0x1AB0 && ch <= 0x1AFF) || (ch >= 0x1DC0 && ch <= 0x1DFF) ||
           (ch >= 0x20D0 && ch <= 0x20FF) || (ch >= 0xFE20 && ch <= 0xFE2F);
}

// Controls by their short name, characters without a visible form of their
// own (Private Use, surrogates, spacing and format characters) by code point,
// combining marks on a dotted circle.
Shown shown(uint16_t ch) {
    static const char* const ascii[] = {"NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS", "TAB", "LF",
                                        "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
                                        "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US"};
    using S = Shown::Style;
    if (ch < 0x20) return {ascii[ch], S::Control};
    if (ch == 0x20) return {"SP", S::Control};
    if (ch == 0x7F) return {"DEL", S::Control};
    if (ch == 0xA0) return {"NBSP", S::Control};
    if ((ch >= 0x80 && ch < 0xA0) || (ch >= 0xD800 && ch <= 0xF8FF) || (ch >= 0x2000 && ch <= 0x200F) ||
        (ch >= 0x2028 && ch <= 0x202F) || (ch >= 0x205F && ch <= 0x206F) || ch == 0xFEFF || ch >= 0xFFF0)
        return {fmt::format("{:04X}", ch), S::Code};
    if (combining(ch)) return {utf8(0x25CC) + utf8(ch), S::Glyph};
    return {utf8(ch), S::Glyph};
}

// A key's character as drawn: a ligature shows its characters together.
Shown shown(const KeyChar& c) {
    if (c.kind == KeyChar::Kind::Ligature) return {kbd::utf8(c.chars), Shown::Style::Glyph};
    return shown(c.ch);
}

std::string xml(std::string_view s) {
    std::string o;
    for (char c : s) {
        switch (c) {
        case '&': o += "&amp;"; break;
        case '<': o += "&lt;"; break;
        case '>': o += "&gt;"; break;
        case '"': o += "&quot;"; break;
        default:  o += c;
        }
    }
    return o;
}

const char* styleClass(Shown::Style s) {
    switch (s) {
    case Shown::Style::Glyph:   return "ch";
    case Shown::Style::Code:    return "code";
    case Shown::Style::Control: return "ctl";
    }
    return "ch";
}

// ---- SVG pieces -------------------------------------------------------------

class Svg {
public:
    Svg(double w, double h) : w_(w), h_(h) {}
    template <typename... A>
    void add(fmt::format_string<A...> f, A&&... a) {
        fmt::format_to(std::back_inserter(body_), f, std::forward<A>(a)...);
    }
    void text(double x, double y, std::string_view cls, std::string_view s, std::string_view extra = "") {
        add("<text x=\"{:g}\" y=\"{:g}\" class=\"{}\"{}>{}</text>\n", x, y, cls, extra, xml(s));
    }
    void setHeight(double h) { h_ = h; }
    std::string finish(std::string_view title) const {
        std::string o = fmt::format(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"{0:g}\" height=\"{1:g}\" viewBox=\"0 0 {0:g} {1:g}\">\n"
            "<title>{2}</title>\n<style>\n"
            "text {{ font-family: {3}; fill: #1c1c1c; }}\n"
            ".bg {{ fill: #ffffff; }}\n"
            ".h1 {{ font-size: 20px; font-weight: bold; }}\n"
            ".h2 {{ font-size: 12px; fill: #555555; }}\n"
            ".cap {{ fill: #f6f6f2; stroke: #8a8a8a; stroke-width: 1; }}\n"
            ".blank .cap {{ fill: #e2e2de; }}\n"
            ".nokey .cap {{ fill: #ffffff; stroke: #c8c8c8; stroke-dasharray: 2 2; }}\n"
            ".dead .cap {{ fill: #fff1e0; stroke: #e07000; stroke-width: 2; stroke-dasharray: 6 3; }}\n"
            ".ch {{ font-size: 21px; }}\n"
            ".code {{ font-size: 11px; fill: #6a3d9a; }}\n"
            ".ctl {{ font-size: 11px; fill: #1a5fb4; font-weight: bold; }}\n"
            ".dk {{ fill: #c05000; font-weight: bold; }}\n"
            ".name {{ font-size: 10px; fill: #444444; }}\n"
            ".ref {{ font-size: 11px; fill: #9a9a9a; }}\n"
            ".caps {{ font-size: 13px; fill: #1a5fb4; }}\n"
            ".cp {{ font-size: 11px; fill: #666666; }}\n"
            ".arrow {{ font-size: 14px; fill: #888888; }}\n"
            ".note {{ font-size: 12px; }}\n"
            ".stripe {{ fill: #f3f3ee; }}\n"
            ".shadowed text {{ fill: #b0b0b0; }}\n"
            "</style>\n<rect class=\"bg\" width=\"100%\" height=\"100%\"/>\n",
            w_, h_, xml(title), kFont);
        return o + body_ + "</svg>\n";
    }

private:
    double      w_, h_;
    std::string body_;
};

// ---- Keyboard drawings --------------------------------------------------------

// One keyboard drawing: what a key gives with two masks, the lower one at the
// bottom left of each key and the upper one at the top left.
struct Board {
    std::string file;
    uint8_t     lower, upper;
    bool        showBase;      // the Base character small at the bottom right, to find the key by
    bool        kana = false;  // drawn with the Kana lock on
};

// A board's shift state by the keys that make it, from the layout's own
// modifier record ("Shift+AltGr", "Kana", "OEM_8").
std::string stateName(const Layout& L, const Board& b, uint8_t mask) {
    return maskName(L, b.kana ? static_cast<uint8_t>(mask | kanaBits(L)) : mask);
}

KeyChar keyChar(const Layout& L, const KeySpot& k, uint8_t mask, bool caps, bool kana = false) {
    const auto entry = scanEntry(L, {k.prefix, k.code});
    if (!entry) return {};
    return charFor(L, virtualKey(*entry, true, mask & SHIFT), mask, Locks{caps, kana});
}

bool gives(const KeyChar& c) { return c.kind != KeyChar::Kind::None; }

std::string keyLabel(const Layout& L, const KeySpot& k) {
    if (const auto n = keyName(L, k.code, k.prefix == Prefix::E0)) return kbd::utf8(*n);
    const auto entry = scanEntry(L, {k.prefix, k.code});
    return entry ? vkName(*entry & 0xFF) : "";
}

void keyShape(Svg& s, const KeySpot& k, double ox, double oy) {
    const double x = ox + k.x * kUnit + 2, y = oy + k.y * kUnit + 2, w = k.w * kUnit - 4, h = kUnit - 4;
    if (k.prefix == Prefix::None && k.code == 0x1C) {
        // ISO Enter: 1.5 units wide on row D, 1.25 on row C.
        const double top = y - kUnit, left = x - 0.25 * kUnit, r = x + w;
        s.add("<path class=\"cap\" d=\"M{:g} {:g}H{:g}V{:g}H{:g}V{:g}H{:g}Z\"/>\n", left, top, r, y + h, x, y - 4,
              left, y - 4);
        return;
    }
    s.add("<rect class=\"cap\" x=\"{:g}\" y=\"{:g}\" width=\"{:g}\" height=\"{:g}\" rx=\"5\"/>\n", x, y, w, h);
}

void nameLines(Svg& s, double x, double y, double w, const std::string& name) {
    // Names too wide for the key go on two lines, split at the last space.
    const size_t sp = name.rfind(' ');
    if (name.size() * 6.0 > w - 12 && sp != std::string::npos) {
        s.text(x, y, "name", name.substr(0, sp));
        s.text(x, y + 12, "name", name.substr(sp + 1));
    } else {
        s.text(x, y, "name", name);
    }
}

// Marks a drawing uses, so that its legend explains only those.
constexpr unsigned kDeadMark = 1, kCapsMark = 2, kCodeMark = 4, kControlMark = 8, kCombiningMark = 16, kBlankMark = 32;

unsigned marksOf(const KeyChar& c) {
    if (!gives(c)) return 0;
    const Shown sh = shown(c);
    unsigned m = c.kind == KeyChar::Kind::Dead ? kDeadMark : 0;
    if (sh.style == Shown::Style::Code) m |= kCodeMark;
    if (sh.style == Shown::Style::Control) m |= kControlMark;
    if (combining(c.ch)) m |= kCombiningMark;
    return m;
}

// Draws one key and returns the marks it used.
unsigned drawKey(Svg& s, const Layout& L, const Board& b, const KeySpot& k, double ox, double oy) {
    const auto entry = scanEntry(L, {k.prefix, k.code});
    const bool present = entry && (*entry & 0xFF) != def::VK_NONE && (*entry & 0xFF) != 0;
    const KeyChar lo = keyChar(L, k, b.lower, false, b.kana), up = keyChar(L, k, b.upper, false, b.kana);
    const bool caps = keyChar(L, k, b.lower, true, b.kana) != lo || keyChar(L, k, b.upper, true, b.kana) != up;
    const bool dead = lo.kind == KeyChar::Kind::Dead || up.kind == KeyChar::Kind::Dead;
    const auto isControl = [](const KeyChar& c) {
        return c.kind == KeyChar::Kind::Char && shown(c.ch).style == Shown::Style::Control;
    };
    // Keys that give only controls (Backspace, Enter, Space...) are labelled by
    // their name, with the controls small underneath.
    const bool named = (!gives(lo) || isControl(lo)) && (!gives(up) || isControl(up));
    const KeyChar base = b.showBase ? keyChar(L, k, 0, false) : KeyChar{};
    const bool showBase = b.showBase && gives(base) && !isControl(base);

    unsigned marks = marksOf(lo) | marksOf(up) | (caps ? kCapsMark : 0);
    std::string cls = "key";
    if (!present) cls += " nokey";
    else if (named && !showBase) cls += " blank", marks |= kBlankMark;
    if (dead) cls += " dead";
    if (caps) cls += " caps-affected";
    s.add("<g class=\"{}\" id=\"{}\">\n", cls, keyId(k));
    keyShape(s, k, ox, oy);

    const double x = ox + k.x * kUnit, y = oy + k.y * kUnit, w = k.w * kUnit;
    const auto glyph = [&](const KeyChar& c, double baseline) {
        if (!gives(c)) return;
        const Shown sh = shown(c);
        const double yy = sh.style == Shown::Style::Glyph ? baseline : baseline - 4;
        std::string cls2 = styleClass(sh.style);
        if (c.kind == KeyChar::Kind::Dead) cls2 += " dk";
        s.text(x + 9, yy, cls2, sh.text);
    };
    if (present && named) {
        const std::string label = keyLabel(L, k);
        const double nameY = k.code == 0x1C && k.prefix == Prefix::None ? y - kUnit + 16 : y + 16;
        if (!showBase && !label.empty()) nameLines(s, x + 7, nameY, k.code == 0x1C ? 1.5 * kUnit : w, label);
        std::string ctl;
        if (isControl(lo)) ctl = shown(lo.ch).text;
        if (isControl(up) && (!isControl(lo) || up.ch != lo.ch))
            ctl += (ctl.empty() ? "" : " · ") + stateName(L, b, b.upper) + " " + shown(up.ch).text;
        if (!ctl.empty()) s.text(x + 8, y + kUnit - 11, "ctl", ctl);
    } else if (present) {
        glyph(up, y + 27);
        glyph(lo, y + 52);
    }
    if (showBase) {
        const Shown sh = shown(base);
        s.text(x + w - 8, y + kUnit - 9, sh.style == Shown::Style::Glyph ? "ref" : "ref code", sh.text,
               " text-anchor=\"end\"");
    }
    if (caps) s.text(x + w - 7, y + 18, "caps", "\u21EA", " text-anchor=\"end\"");
    s.add("</g>\n");
    return marks;
}

std::string drawBoard(const Layout& L, const Board& b, const std::vector<KeySpot>& spots) {
    const double kbW = 15 * kUnit, kbH = (kRowE + 5) * kUnit;
    const double legendTop = kTop + kbH + 24;
    Svg s(kbW + 2 * kMargin, legendTop);
    const std::string title = fmt::format("{} and {}{}", stateName(L, b, b.lower), stateName(L, b, b.upper),
                                          b.kana ? " (Kana lock on)" : "");
    s.text(kMargin, 32, "h1", title);
    s.text(
        kMargin, 52, "h2",
        fmt::format("Bottom left of each key: {}; top left: {}.{} Caps Lock off. ISO keyboard, keys placed by "
                    "scan code.",
                    stateName(L, b, b.lower), stateName(L, b, b.upper), b.showBase ? " Grey, bottom right: Base." : ""));
    unsigned marks = 0;
    for (const auto& k : spots) marks |= drawKey(s, L, b, k, kMargin, kTop);

    // The legend: a sample of each mark and what it means.
    struct Item {
        unsigned    mark;
        const char* box;  // style of a sample key drawn behind the sample, if any
        std::string sample, cls, text;
    };
    const std::vector<Item> items = {
        {kDeadMark, "fill:#fff1e0;stroke:#e07000;stroke-width:2;stroke-dasharray:6 3", "\u00B4", "ch dk",
         "Dead key: the orange character waits for the next key"},
        {kCapsMark, nullptr, "\u21EA", "caps",
         fmt::format("Caps Lock swaps {} and {} on this key", stateName(L, b, b.lower), stateName(L, b, b.upper))},
        {kCodeMark, nullptr, "F173", "code", "Private Use character, by its code point"},
        {kControlMark, nullptr, "BS", "ctl", "Control character by its short name (SP: space)"},
        {kCombiningMark, nullptr, utf8(0x25CC) + utf8(0x0301), "ch", "Combining mark, on a dotted circle"},
        {kBlankMark, "fill:#e2e2de", "", "", "Gives no character here: the key's name"},
    };
    size_t n = 0;
    for (const auto& it : items) {
        if (!(marks & it.mark)) continue;
        const double x = kMargin + (n % 2) * (kbW / 2), y = legendTop + 24 + (n / 2) * 30;
        ++n;
        if (it.box)
            s.add("<rect class=\"cap\" style=\"{}\" x=\"{:g}\" y=\"{:g}\" width=\"30\" height=\"26\" rx=\"4\"/>\n",
                  it.box, x, y - 19);
        if (!it.sample.empty()) s.text(x + 6, y, it.cls, it.sample);
        s.text(x + 42, y - 2, "note", it.text);
    }
    s.setHeight(legendTop + 24 + (n + 1) / 2 * 30);
    return s.finish(title);
}

// ---- Dead-key sheets ----------------------------------------------------------

// The shift states a dead key is looked for in.
constexpr uint8_t kStates[] = {0, SHIFT, CTRL, ALTGR, SHIFT | ALTGR};

// How a dead key is typed: every key and state of the drawn block that gives it.
std::string typedWith(const Layout& L, uint16_t dead, const std::vector<KeySpot>& spots) {
    std::string o;
    for (const auto& k : spots)
        for (const auto& st : kStates) {
            const KeyChar c = keyChar(L, k, st, false);
            if (c.kind != KeyChar::Kind::Dead || c.ch != dead) continue;
            const KeyChar base = keyChar(L, k, 0, false);
            std::string key = *k.pos ? fmt::format("key {}", k.pos) : keyLabel(L, k);
            if (gives(base)) key += fmt::format(" ({})", shown(base).text);
            o += fmt::format("{}{} on {}, scan code {:02X}", o.empty() ? "" : "; or ", shiftStateName(st), key, k.code);
        }
    return o.empty() ? "not on any key of the main block" : "typed with " + o;
}

void sheetChar(Svg& s, double x, double y, uint16_t ch, bool dead) {
    // A character without a glyph is its code point alone.
    const Shown sh = shown(ch);
    std::string cls = styleClass(sh.style);
    if (dead) cls += " dk";
    if (sh.style != Shown::Style::Code) s.text(x, sh.style == Shown::Style::Glyph ? y : y - 3, cls, sh.text);
    s.text(x + 34, y - 3, sh.style == Shown::Style::Code ? "code" : "cp", fmt::format("U+{:04X}", ch));
}

std::string drawDeadSheet(const Layout& L, uint16_t dead, const std::vector<KeySpot>& spots) {
    std::vector<size_t> group;
    for (size_t i = 0; i < L.deadKeys.size(); ++i)
        if (L.deadKeys[i].dead == dead) group.push_back(i);
    constexpr int kCols = 4;
    constexpr double kColW = 250, kRowH = 32;
    const size_t rows = (group.size() + kCols - 1) / kCols;
    const double gridTop = 100, width = kCols * kColW + 2 * kMargin;
    const double height = gridTop + std::max<size_t>(rows, 1) * kRowH + 50;
    Svg s(width, height);

    const auto name = deadKeyName(L, dead);
    const Shown d = shown(dead);
    const std::string title =
        fmt::format("Dead key {} {}", d.text, name ? kbd::utf8(*name) : fmt::format("U+{:04X}", dead));
    s.text(kMargin, 32, "h1", title);
    s.text(kMargin, 54, "h2", fmt::format("U+{:04X}, {}.", dead, typedWith(L, dead, spots)));
    bool chained = false;
    for (size_t i : group) chained |= (L.deadKeys[i].flags & def::DKF_DEAD) != 0;
    s.text(kMargin, 72, "h2",
           fmt::format("{} compositions: press the dead key, then the character on the left to get the one on the "
                       "right.{}",
                       group.size(), chained ? " Orange results are dead keys themselves." : ""));

    bool anyShadowed = false;
    for (size_t n = 0; n < group.size(); ++n) {
        const DeadKey& dk = L.deadKeys[group[n]];
        // Only the first composition of a base character is ever used.
        bool shadowed = false;
        for (size_t m = 0; m < n; ++m) shadowed |= L.deadKeys[group[m]].base == dk.base;
        anyShadowed |= shadowed;
        const size_t col = n / rows, row = n % rows;  // down the columns, in list order
        const double x = kMargin + col * kColW, y = gridTop + row * kRowH;
        s.add("<g class=\"comp{}\">\n", shadowed ? " shadowed" : "");
        if (row % 2 == 0)
            s.add("<rect class=\"stripe\" x=\"{:g}\" y=\"{:g}\" width=\"{:g}\" height=\"{:g}\"/>\n", x, y, kColW - 8,
                  kRowH);
        sheetChar(s, x + 6, y + 23, dk.base, false);
        s.text(x + 98, y + 21, "arrow", "\u2192");
        sheetChar(s, x + 124, y + 23, dk.composed, dk.flags & def::DKF_DEAD);
        s.add("</g>\n");
    }
    const double footY = gridTop + std::max<size_t>(rows, 1) * kRowH + 28;
    if (group.empty()) s.text(kMargin, gridTop + 20, "note", "This dead key has no compositions.");
    s.text(kMargin, footY, "h2",
           anyShadowed ? "Grey entries repeat an earlier base character and are never reached. "
                         "Private Use characters are shown by code point."
                       : "Private Use characters are shown by code point; combining marks on a dotted circle.");
    return s.finish(title);
}

}  // namespace

std::vector<Drawing> drawLayout(const Layout& layout) {
    const std::vector<KeySpot>& spots = keySpots();
    std::vector<Board> boards = {
        {"base-shift.svg", 0, SHIFT, false},
        {"altgr.svg", ALTGR, SHIFT | ALTGR, true},
        {"ctrl.svg", CTRL, SHIFT | CTRL, true},
    };
    // With a Kana lock, the keyboard with it on; with a held level key, with that held.
    if (kanaBits(layout) != 0) boards.push_back({"kana.svg", 0, SHIFT, true, true});
    for (const auto& m : layout.modifierBits)
        if (m.vk != vk::KANA && (m.bits & ~(SHIFT | CTRL | def::KBDALT)) != 0)
            boards.push_back({fmt::format("level-{:02X}.svg", m.bits), m.bits, static_cast<uint8_t>(m.bits | SHIFT), true});
    std::vector<Drawing> out;
    std::vector<uint16_t> deads;
    for (const auto& b : boards) {
        bool any = false;
        for (const auto& k : spots)
            any |= gives(keyChar(layout, k, b.lower, false, b.kana)) || gives(keyChar(layout, k, b.upper, false, b.kana));
        if (any) out.push_back({b.file, drawBoard(layout, b, spots)});
    }
    // A sheet for every dead character with compositions, then for any other
    // dead character a key gives.
    const auto addDead = [&](uint16_t d) {
        if (std::find(deads.begin(), deads.end(), d) == deads.end()) deads.push_back(d);
    };
    for (const auto& dk : layout.deadKeys) addDead(dk.dead);
    for (const auto& k : spots)
        for (const auto& st : kStates)
            if (const KeyChar c = keyChar(layout, k, st, false); c.kind == KeyChar::Kind::Dead) addDead(c.ch);
    for (uint16_t d : deads) out.push_back({fmt::format("dead-{:04X}.svg", d), drawDeadSheet(layout, d, spots)});
    return out;
}

std::vector<std::string> writeDrawings(const Layout& layout, const std::string& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) throw Error(fmt::format("cannot create folder {}: {}", dir, ec.message()));
    std::vector<std::string> paths;
    for (const auto& d : drawLayout(layout)) {
        const std::string path = (fs::path(dir) / d.fileName).string();
        std::ofstream f(path, std::ios::binary | std::ios::trunc);
        f.write(d.svg.data(), static_cast<std::streamsize>(d.svg.size()));
        f.close();
        if (!f) throw Error(fmt::format("cannot write {}", path));
        paths.push_back(path);
    }
    return paths;
}

}  // namespace kbd
