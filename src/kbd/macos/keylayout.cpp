// Working out the .keylayout: which character each key gives in each key
// map, the dead-key states reachable from the keys, and the actions that
// carry a key's output through those states.
#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include <fmt/format.h>

#include "kbd/image/utf8.h"
#include "kbd/macos/export.h"
#include "kbd/model/layout_format.h"
#include "kbd/model/pc_keys.h"
#include "kbd/typing/simulator.h"

namespace kbd::macos {
namespace {

// The modifier combinations each key map stands for, in the order the
// modifierMap lists them. Mac modifier names as the format spells them; a
// trailing '?' makes a modifier optional.
struct MapSelect {
    MapIndex    index;
    const char* keys;
    bool        shift, caps, option;
};
constexpr MapSelect kSelects[] = {
    {Base,            "",                                false, false, false},
    {Shift,           "anyShift",                        true,  false, false},
    {Caps,            "caps",                            false, true,  false},
    {CapsShift,       "anyShift caps",                   true,  true,  false},
    {Option,          "anyOption",                       false, false, true },
    {ShiftOption,     "anyShift anyOption",              true,  false, true },
    {CapsOption,      "caps anyOption",                  false, true,  true },
    {CapsShiftOption, "anyShift caps anyOption",         true,  true,  true },
    {Command,         "command anyShift? caps? anyOption? anyControl?", false, false, false},
};

std::string hex4(uint16_t c) { return fmt::format("{:04X}", c); }
std::string stateName(uint16_t dead) { return "s" + hex4(dead); }

// The text as an XML attribute value, or none when XML cannot hold it (a
// control character other than tab, line feed and return, a lone surrogate,
// U+FFFE, U+FFFF).
std::optional<std::string> attr(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF) return std::nullopt;
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return std::nullopt;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return std::nullopt;
        }
    }
    std::string out;
    for (char ch : utf8(text)) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#x0009;"; break;
        case '\n': out += "&#x000A;"; break;
        case '\r': out += "&#x000D;"; break;
        default: out += ch;
        }
    }
    return out;
}

// UTF-8 as UTF-16; none when the bytes are not well-formed UTF-8.
std::optional<std::u16string> fromUtf8(std::string_view s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char b = s[i];
        const size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return std::nullopt;
        char32_t c = n == 1 ? b : b & (0x7F >> n);
        for (size_t j = 1; j < n; ++j) {
            const unsigned char t = s[i + j];
            if ((t >> 6) != 2) return std::nullopt;
            c = (c << 6) | (t & 0x3F);
        }
        constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        if (c > 0xFFFF) {
            c -= 0x10000;
            out.push_back(char16_t(0xD800 + (c >> 10)));
            out.push_back(char16_t(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(char16_t(c));
        }
        i += n;
    }
    return out;
}

struct KeyCell {
    int16_t code = 0;
    uint8_t vk = 0;
    KeyChar cells[kMaps];
};

class Planner {
public:
    Planner(const Layout& layout, Export& e) : layout_(layout), e_(e) {}

    void run() {
        collectKeys();
        collectStates();
        std::string maps = keyMaps();
        std::string actions = actionsText();
        std::string terminators = terminatorsText();
        std::string modifiers = "    <modifierMap id=\"modifiers\" defaultIndex=\"0\">\n";
        for (const auto& s : kSelects)
            modifiers += fmt::format("        <keyMapSelect mapIndex=\"{}\"><modifier keys=\"{}\"/></keyMapSelect>\n",
                                     unsigned(s.index), s.keys);
        modifiers += "    </modifierMap>\n";
        e_.keylayout = fmt::format(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE keyboard SYSTEM \"file://localhost/System/Library/DTDs/KeyboardLayout.dtd\">\n"
            "<!-- {} from {}, written by kbdtool -->\n"
            "<keyboard group=\"{}\" id=\"{}\" name=\"{}\" maxout=\"{}\">\n"
            "    <layouts>\n"
            "        <layout first=\"0\" last=\"255\" modifiers=\"modifiers\" mapSet=\"maps\"/>\n"
            "    </layouts>\n"
            "{}{}{}{}</keyboard>\n",
            *attr(toU16(e_.name)), *attr(toU16(e_.source)), kGroup, e_.id, *attr(toU16(e_.name)), maxout_, modifiers,
            maps, actions, terminators);
        note();
    }

private:
    static std::u16string toU16(const std::string& s) { return fromUtf8(s).value_or(u"?"); }

    uint8_t mask(bool shift, bool option) const {
        KeyState held;
        if (shift) held.set(vk::LSHIFT);
        if (option) held.set(vk::RMENU);
        return modifierMask(layout_, held);
    }

    void collectKeys() {
        for (const auto& k : pcKeys()) {
            if (k.xkbRole != XkbRole::Layout || k.mac < 0) continue;
            const auto entry = scanEntry(layout_, k.scan);
            if (!entry) continue;
            const uint8_t v = uint8_t(*entry & 0xFF);
            if (v == 0 || v == 0xFF) continue;
            KeyCell cell{k.mac, v, {}};
            for (const auto& s : kSelects) {
                if (s.index == Command) continue;
                cell.cells[s.index] = charFor(layout_, v, mask(s.shift, s.option), Locks{s.caps, false});
            }
            // Command keeps the key's Latin letter or digit (its virtual key),
            // so shortcuts work whatever the layout types.
            if ((v >= 'A' && v <= 'Z') || (v >= '0' && v <= '9'))
                cell.cells[Command] = {KeyChar::Kind::Char, uint16_t(v >= 'A' && v <= 'Z' ? v + 0x20 : v), {}};
            else
                cell.cells[Command] = cell.cells[Base];
            keys_.push_back(cell);
        }
    }

    void collectStates() {
        std::vector<uint16_t> todo;
        for (const auto& k : keys_)
            for (unsigned m = 0; m < Command; ++m)
                if (k.cells[m].kind == KeyChar::Kind::Dead && states_.insert(k.cells[m].ch).second)
                    todo.push_back(k.cells[m].ch);
        while (!todo.empty()) {
            const uint16_t d = todo.back();
            todo.pop_back();
            for (const auto& dk : layout_.deadKeys)
                if (dk.dead == d && (dk.flags & def::DKF_DEAD) && states_.insert(dk.composed).second)
                    todo.push_back(dk.composed);
        }
        for (const auto& dk : layout_.deadKeys)
            if (states_.count(dk.dead)) composing_.insert(dk.base);
    }

    std::optional<std::string> output(const std::u16string& text, const char* what) {
        auto a = attr(text);
        if (!a) {
            ++unwritable_[what];
            return std::nullopt;
        }
        maxout_ = std::max(maxout_, text.size());
        return a;
    }

    // The key element of a cell: a plain output, or an action when the
    // character takes part in dead-key states.
    std::string keyElement(int16_t code, const KeyChar& c, bool plain) {
        if (c.kind == KeyChar::Kind::None) return "";
        if (c.kind == KeyChar::Kind::Dead && !plain) {
            actionFor(c);
            return fmt::format("            <key code=\"{}\" action=\"d{}\"/>\n", code, hex4(c.ch));
        }
        if (c.kind == KeyChar::Kind::Char && !plain && composing_.count(c.ch)) {
            if (!output(std::u16string(1, char16_t(c.ch)), "character")) return "";
            actionFor(c);
            return fmt::format("            <key code=\"{}\" action=\"c{}\"/>\n", code, hex4(c.ch));
        }
        const std::u16string text = c.kind == KeyChar::Kind::Dead ? std::u16string(1, char16_t(c.ch)) : c.text();
        const auto out = output(text, c.kind == KeyChar::Kind::Ligature ? "ligature" : "character");
        if (!out) return "";
        return fmt::format("            <key code=\"{}\" output=\"{}\"/>\n", code, *out);
    }

    void actionFor(const KeyChar& c) { actionChars_.insert({c.kind == KeyChar::Kind::Dead, c.ch}); }

    std::string keyMaps() {
        std::string out = "    <keyMapSet id=\"maps\">\n";
        for (unsigned m = 0; m < kMaps; ++m) {
            std::string body;
            for (const auto& k : keys_) body += keyElement(k.code, k.cells[m], m == Command);
            if (m == Base) e_.keys = std::count(body.begin(), body.end(), '\n');
            // A key map holds at least one key: an empty one holds code 127,
            // which no key of a Mac keyboard sends.
            if (body.empty()) body = "            <key code=\"127\" output=\"\"/>\n";
            out += fmt::format("        <keyMap index=\"{}\">\n{}        </keyMap>\n", m, body);
        }
        return out + "    </keyMapSet>\n";
    }

    // What a character (or a dead key's own character) does in a state:
    // a composition replaces both, or leads to a further state; without one,
    // a dead key gives both dead characters, and a character is left to the
    // state's terminator.
    std::string when(uint16_t state, bool dead, uint16_t ch) {
        const auto c = compose(layout_, state, ch);
        if (c && (c->flags & def::DKF_DEAD))
            return fmt::format("            <when state=\"{}\" next=\"{}\"/>\n", stateName(state), stateName(c->composed));
        std::u16string text;
        if (c)
            text = std::u16string(1, char16_t(c->composed));
        else if (dead)
            text = {char16_t(state), char16_t(ch)};
        else
            return "";
        const auto out = output(text, "composition");
        return out ? fmt::format("            <when state=\"{}\" output=\"{}\"/>\n", stateName(state), *out) : "";
    }

    std::string actionsText() {
        std::string out;
        for (const auto& [dead, ch] : actionChars_) {
            out += fmt::format("        <action id=\"{}{}\">\n", dead ? 'd' : 'c', hex4(ch));
            if (dead)
                out += fmt::format("            <when state=\"none\" next=\"{}\"/>\n", stateName(ch));
            else
                out += fmt::format("            <when state=\"none\" output=\"{}\"/>\n",
                                   *attr(std::u16string(1, char16_t(ch))));
            for (uint16_t s : states_) out += when(s, dead, ch);
            out += "        </action>\n";
        }
        e_.actions = actionChars_.size();
        return out.empty() ? "" : "    <actions>\n" + out + "    </actions>\n";
    }

    std::string terminatorsText() {
        std::string out;
        for (uint16_t s : states_)
            if (const auto t = output(std::u16string(1, char16_t(s)), "dead character"))
                out += fmt::format("        <when state=\"{}\" output=\"{}\"/>\n", stateName(s), *t);
        e_.states = states_.size();
        return out.empty() ? "" : "    <terminators>\n" + out + "    </terminators>\n";
    }

    void add(std::string kind, size_t count, std::string message) {
        e_.approximations.push_back({std::move(kind), count, std::move(message)});
    }

    void note() {
        for (const auto& [what, n] : unwritable_)
            add("unwritable", n, fmt::format("{} {} outputs hold a control character or a lone surrogate, which a "
                                             ".keylayout cannot hold; those keys type nothing",
                                             n, what));
        // Ctrl chords: the Mac keeps Control for shortcuts.
        size_t ctrl = 0;
        for (const auto& k : keys_)
            for (uint8_t m : {uint8_t(def::KBDCTRL), uint8_t(def::KBDCTRL | def::KBDSHIFT)})
                if (charFor(layout_, k.vk, m, false).kind != KeyChar::Kind::None) ++ctrl;
        if (ctrl)
            add("ctrl", ctrl, fmt::format("{} Ctrl chords type a character on Windows; on a Mac Control chords are "
                                          "shortcuts and type nothing",
                                          ctrl));
        if (layout_.localeFlags & def::KLLF_ALTGR)
            add("option", 1, "AltGr is right Alt only on Windows; on a Mac both Option keys give the AltGr "
                             "characters, and left Alt has no menu role");
        if (kanaBits(layout_))
            add("kana", 1, "the Kana lock has no counterpart on a Mac; its characters are left out");
        if (layout_.localeFlags & def::KLLF_SHIFTLOCK)
            add("shiftlock", 1, "Caps Lock works as Shift Lock on Windows (Shift releases it); on a Mac Caps Lock "
                                "toggles and the Caps maps give the locked characters");
    }

    const Layout&                        layout_;
    Export&                              e_;
    std::vector<KeyCell>                 keys_;
    std::set<uint16_t>                   states_;     // dead characters that wait for a key
    std::set<uint16_t>                   composing_;  // characters a state composes with
    std::set<std::pair<bool, uint16_t>>  actionChars_;
    std::map<std::string, size_t>        unwritable_;
    size_t                               maxout_ = 1;
};

}  // namespace

std::string defaultName(const std::filesystem::path& file) {
    const std::string stem = file.stem().string();
    return nameFault(stem).empty() ? stem : "layout";
}

std::string nameFault(std::string_view name) {
    if (name.empty()) return "the name is empty";
    if (name.size() > 200) return "the name is longer than 200 bytes";
    if (name.front() == '.') return "the name starts with '.'";
    const auto chars = fromUtf8(name);
    if (!chars) return "the name is not UTF-8";
    for (char16_t c : *chars) {
        if (c < 0x20 || c == 0x7F) return "the name holds a control character";
        if (c == '/' || c == ':' || c == '\\') return fmt::format("the name holds '{}'", char(c));
        if (c == 0xFFFE || c == 0xFFFF) return "the name holds a non-character";
    }
    return "";
}

int idFor(std::string_view name) {
    uint32_t h = 2166136261u;
    for (unsigned char c : name) h = (h ^ c) * 16777619u;
    return kFirstCustomId - int(h % uint32_t(kFirstCustomId - kLastCustomId + 1));
}

Export plan(const Layout& layout, const std::string& name, const std::string& source) {
    Export e;
    e.name = name;
    e.source = source;
    e.id = idFor(name);
    Planner(layout, e).run();
    return e;
}

}  // namespace kbd::macos
