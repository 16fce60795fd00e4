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

// A combination of the Mac's modifiers, as bits. Each combination selects a
// key map; combinations whose keys all type the same share one. Option stands
// for AltGr (either Option key: macOS does not tell a layout which one is
// down), Control for Ctrl.
enum : unsigned { kShift = 1, kCaps = 2, kOption = 4, kControl = 8, kCombos = 16 };

// The combination as a modifier element lists it, in the format's names.
std::string modifierKeys(unsigned combo) {
    std::string out;
    const auto add = [&](const char* name) { out += (out.empty() ? "" : " ") + std::string(name); };
    if (combo & kShift) add("anyShift");
    if (combo & kCaps) add("caps");
    if (combo & kOption) add("anyOption");
    if (combo & kControl) add("anyControl");
    return out;
}

// Command with any other modifier: the key map that keeps the Latin letters.
constexpr const char* kCommandKeys = "command anyShift? caps? anyOption? anyControl?";

std::string hex4(uint16_t c) { return fmt::format("{:04X}", c); }
std::string stateName(uint16_t dead) { return "s" + hex4(dead); }

// The text as an XML attribute value, or none when it holds what a
// .keylayout cannot (a lone surrogate, U+FFFE, U+FFFF). Control characters
// are written as character references, as Apple's own layouts write them;
// XML 1.0 allows only tab, line feed and return among them, so a strict XML
// parser refuses the others (the tests' readers substitute them first; see
// tests/macos/keylayout_interpreter.h).
std::optional<std::string> attr(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == 0xFFFE || c == 0xFFFF) return std::nullopt;
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
        default:
            if ((unsigned char)ch < 0x20 || ch == 0x7F)
                out += fmt::format("&#x{:04X};", unsigned((unsigned char)ch));
            else
                out += ch;
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

// Text for the file's opening comment, which names the layout and its file:
// whatever XML cannot hold becomes '?' (all of it when it is not UTF-8), and
// a '-' after a '-' gets a space between, since "--" may not stand in a
// comment. (The name itself goes unchanged into the keyboard element.)
std::string commentText(const std::string& s) {
    std::string plain;
    if (const auto chars = fromUtf8(s)) {
        std::u16string kept;
        for (char16_t c : *chars) kept.push_back(c < 0x20 || c == 0xFFFE || c == 0xFFFF ? u'?' : c);
        plain = utf8(kept);
    } else {
        for (unsigned char c : s) plain.push_back(c < 0x20 || c >= 0x80 ? '?' : char(c));
    }
    std::string out;
    for (char c : plain) {
        if (c == '-' && !out.empty() && out.back() == '-') out += ' ';
        out += c;
    }
    return out;
}

// Where a cell of a key map comes from.
enum class Origin {
    Windows,        // what Windows types with the chord
    Unmodified,     // a keypad or editing key: what it types without modifiers (Windows types nothing)
    MacFunction,    // a navigation or function key: the character macOS expects of it
    ControlLetter,  // Control with a letter key: the letter's control character, as Mac layouts give
};

struct Cell {
    KeyChar key;
    Origin  origin = Origin::Windows;
};

struct KeyCells {
    const PcKey* key = nullptr;
    uint16_t     entry = 0;         // the scan-code entry: virtual key and flags
    Cell         cells[kCombos];
    KeyChar      command;
};

class Planner {
public:
    Planner(const Layout& layout, Export& e) : layout_(layout), e_(e) {}

    void run() {
        collectKeys();
        collectMaps();
        collectStates();
        std::string maps = keyMaps();
        std::string actions = actionsText();
        std::string terminators = terminatorsText();
        e_.keylayout = fmt::format(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE keyboard SYSTEM \"file://localhost/System/Library/DTDs/KeyboardLayout.dtd\">\n"
            "<!-- {} from {}, written by kbdtool -->\n"
            "<keyboard group=\"{}\" id=\"{}\" name=\"{}\" maxout=\"{}\">\n"
            "    <layouts>\n"
            "        <layout first=\"0\" last=\"255\" modifiers=\"modifiers\" mapSet=\"maps\"/>\n"
            "    </layouts>\n"
            "{}{}{}{}</keyboard>\n",
            commentText(e_.name), commentText(e_.source), kGroup, e_.id, attr(toU16(e_.name)).value_or("?"),
            maxout_, modifierMap(), maps, actions, terminators);
        note();
    }

private:
    static std::u16string toU16(const std::string& s) { return fromUtf8(s).value_or(u"?"); }

    // What Windows types with a key and a combination, before dead keys:
    // AltGr is right Alt, Num Lock is on (the keypad types its digits
    // unless Shift is down), Caps Lock as the combination says.
    KeyChar windows(uint16_t entry, unsigned combo) const {
        KeyState held;
        if (combo & kShift) held.set(vk::LSHIFT);
        if (combo & kOption) held.set(vk::RMENU);
        if (combo & kControl) held.set(vk::LCONTROL);
        const uint8_t key = virtualKey(entry, true, combo & kShift);
        return charFor(layout_, key, modifierMask(layout_, held), Locks{bool(combo & kCaps), false});
    }

    // What the key types on the Mac with a combination: what Windows types,
    // and where Windows types nothing, what Mac keys of that kind type.
    Cell cellFor(const KeyCells& k, unsigned combo) const {
        const KeyChar w = windows(k.entry, combo);
        if (w.kind != KeyChar::Kind::None) return {w, Origin::Windows};
        const uint8_t v = uint8_t(k.entry & 0xFF);
        switch (k.key->xkbRole) {
        case XkbRole::Keypad:
        case XkbRole::Control:
            // A Mac keypad has no Num Lock, and Return, Tab, Backspace, Esc
            // and Enter type the same under every modifier.
            if (const KeyChar plain = windows(k.entry, 0); plain.kind != KeyChar::Kind::None)
                return {plain, Origin::Unmodified};
            break;
        case XkbRole::Layout:
            if ((combo & kControl) && v >= 'A' && v <= 'Z')
                return {{KeyChar::Kind::Char, uint16_t(v - 'A' + 1), {}}, Origin::ControlLetter};
            break;
        default:
            if (k.key->macChar) return {{KeyChar::Kind::Char, k.key->macChar, {}}, Origin::MacFunction};
        }
        return {w, Origin::Windows};
    }

    // The keys a Mac keyboard has at the PC keys' places that type: the
    // character block, the keypad, the editing keys, and the navigation and
    // function keys.
    void collectKeys() {
        for (const auto& k : pcKeys()) {
            if (k.mac < 0 || k.xkbRole == XkbRole::Modifier) continue;
            if (k.xkbRole == XkbRole::Other && !k.macChar) continue;
            const auto entry = scanEntry(layout_, k.scan);
            if (!entry) continue;
            const uint8_t v = uint8_t(*entry & 0xFF);
            if (v == 0 || v == def::VK_NONE) continue;
            KeyCells cells;
            cells.key = &k;
            cells.entry = *entry;
            for (unsigned c = 0; c < kCombos; ++c) cells.cells[c] = cellFor(cells, c);
            // Command keeps the key's Latin letter or digit (its virtual key),
            // so shortcuts work whatever the layout types.
            if ((v >= 'A' && v <= 'Z') || (v >= '0' && v <= '9'))
                cells.command = {KeyChar::Kind::Char, uint16_t(v >= 'A' && v <= 'Z' ? v + 0x20 : v), {}};
            else
                cells.command = cells.cells[0].key;
            keys_.push_back(cells);
        }
    }

    // One key map for each different set of cells, the base map first; the
    // Command map stands apart (it types dead keys' characters plainly).
    void collectMaps() {
        for (unsigned c = 0; c < kCombos; ++c) {
            std::vector<KeyChar> map;
            for (const auto& k : keys_) map.push_back(k.cells[c].key);
            auto at = std::find(maps_.begin(), maps_.end(), map);
            comboMap_[c] = unsigned(at - maps_.begin());
            if (at == maps_.end()) maps_.push_back(std::move(map));
        }
        commandMap_ = unsigned(maps_.size());
        std::vector<KeyChar> command;
        for (const auto& k : keys_) command.push_back(k.command);
        maps_.push_back(std::move(command));
        e_.maps = maps_.size();
    }

    std::string modifierMap() const {
        std::string out = "    <modifierMap id=\"modifiers\" defaultIndex=\"0\">\n";
        for (unsigned m = 0; m < maps_.size(); ++m) {
            out += fmt::format("        <keyMapSelect mapIndex=\"{}\">\n", m);
            for (unsigned c = 0; c < kCombos; ++c)
                if (comboMap_[c] == m) out += fmt::format("            <modifier keys=\"{}\"/>\n", modifierKeys(c));
            if (m == commandMap_) out += fmt::format("            <modifier keys=\"{}\"/>\n", kCommandKeys);
            out += "        </keyMapSelect>\n";
        }
        return out + "    </modifierMap>\n";
    }

    void collectStates() {
        std::vector<uint16_t> todo;
        for (unsigned m = 0; m < maps_.size(); ++m)
            if (m != commandMap_)
                for (const auto& c : maps_[m])
                    if (c.kind == KeyChar::Kind::Dead && states_.insert(c.ch).second) todo.push_back(c.ch);
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
        for (unsigned m = 0; m < maps_.size(); ++m) {
            std::string body;
            for (size_t i = 0; i < keys_.size(); ++i)
                body += keyElement(keys_[i].key->mac, maps_[m][i], m == commandMap_);
            if (m == 0) e_.keys = std::count(body.begin(), body.end(), '\n');
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

    // How many chords of the keys (the combinations without Caps Lock, with
    // the modifiers of need held and none of without) type a cell of an origin.
    size_t chords(Origin origin, unsigned need = 0, unsigned without = 0) const {
        size_t n = 0;
        for (const auto& k : keys_)
            for (unsigned c = 0; c < kCombos; ++c)
                if (!(c & (kCaps | without)) && (c & need) == need && k.cells[c].origin == origin &&
                    k.cells[c].key.kind != KeyChar::Kind::None)
                    ++n;
        return n;
    }

    void note() {
        for (const auto& [what, n] : unwritable_)
            add("unwritable", n, fmt::format("{} {} outputs hold a lone surrogate, U+FFFE or U+FFFF, which a "
                                             ".keylayout cannot hold; those keys type nothing",
                                             n, what));
        // Ctrl chords: the Control maps give what Windows' Ctrl columns give,
        // and the letters' control characters where those give nothing.
        const size_t ctrlWindows = chords(Origin::Windows, kControl, kOption);
        const size_t ctrlLetters = chords(Origin::ControlLetter);
        if (ctrlWindows || ctrlLetters) {
            std::string message;
            if (ctrlWindows)
                message = fmt::format("{} Ctrl chords type a character on Windows and type it with Control on a Mac, "
                                      "where an application or the system may take the chord as a shortcut first "
                                      "(Control+Space switches input sources)",
                                      ctrlWindows);
            if (ctrlLetters)
                message += fmt::format("{}{} Control+letter chords that type nothing on Windows give the letter's "
                                       "control character (Control+A U+0001), as Mac layouts do",
                                       message.empty() ? "" : "; ", ctrlLetters);
            add("ctrl", ctrlWindows + ctrlLetters, message);
        }
        if (const size_t n = chords(Origin::Unmodified))
            add("unmodified", n,
                fmt::format("{} chords of the keypad, Return, Tab, Backspace, Esc and keypad Enter type nothing on "
                            "Windows (Shift+keypad moves the cursor under Num Lock; AltGr and Ctrl chords); on a Mac "
                            "these keys type their own character under every modifier",
                            n));
        size_t navigation = 0;
        for (const auto& k : keys_) navigation += k.cells[0].origin == Origin::MacFunction;
        if (navigation)
            add("navigation", navigation,
                fmt::format("{} navigation and function keys type nothing on Windows; on a Mac they type the "
                            "characters macOS expects of them (the arrows U+001C-U+001F, the F-keys U+0010), so "
                            "after a dead key they type the dead character first, where Windows keeps it waiting",
                            navigation));
        if (layout_.localeFlags & def::KLLF_ALTGR)
            add("option", 1, "AltGr is right Alt only on Windows; on a Mac both Option keys give the AltGr "
                             "characters, and left Alt has no menu role");
        if (layout_.localeFlags & def::KLLF_LRM_RLM)
            add("lrm-rlm", 2, "left and right Shift with Backspace type a left-to-right and a right-to-left mark on "
                              "Windows; macOS does not tell a layout which Shift key is down, so Shift+Backspace "
                              "types what Backspace's Shift column gives");
        if (kanaBits(layout_))
            add("kana", 1, "the Kana lock has no counterpart on a Mac; its characters are left out");
        if (layout_.localeFlags & def::KLLF_SHIFTLOCK)
            add("shiftlock", 1, "Caps Lock works as Shift Lock on Windows (Shift releases it); on a Mac Caps Lock "
                                "toggles and the Caps maps give the locked characters");
    }

    const Layout&                        layout_;
    Export&                              e_;
    std::vector<KeyCells>                keys_;
    std::vector<std::vector<KeyChar>>    maps_;   // the key maps' cells, by map index and key
    unsigned                             comboMap_[kCombos] = {};
    unsigned                             commandMap_ = 0;
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
