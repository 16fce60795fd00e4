#include "kbd/views/page.h"

#include <array>
#include <fstream>
#include <map>
#include <string_view>

#include <fmt/format.h>

#include "kbd/views/unicode_names.h"
#include "kbd/image/error.h"
#include "kbd/views/drawn_keyboard.h"
#include "kbd/typing/simulator.h"
#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"

namespace kbd {
namespace {

using json = nlohmann::json;

constexpr std::string_view kTemplate =
#include "page_template.inc"
    ;

// The on-screen and physical modifier keys the page tracks, as bits of a
// combination: the left keys and AltGr (right Alt).
constexpr std::array<uint8_t, 4> kComboKeys = {vk::LSHIFT, vk::LCONTROL, vk::LMENU, vk::RMENU};
constexpr unsigned kCombos = 1u << kComboKeys.size();

KeyState heldOf(unsigned combo) {
    KeyState held;
    for (size_t i = 0; i < kComboKeys.size(); ++i)
        if (combo & (1u << i)) held.set(kComboKeys[i]);
    return held;
}

// What the page calls a modifier or lock key, by the virtual key its scan
// code gives.
const char* keyRole(uint8_t vkey) {
    switch (vkey) {
    case vk::LSHIFT: case vk::RSHIFT: case vk::SHIFT: return "shift";
    case vk::LCONTROL: case vk::RCONTROL: case vk::CONTROL: return "ctrl";
    case vk::LMENU: case vk::MENU: return "alt";
    case vk::RMENU: return "altgr";
    case vk::CAPITAL: return "caps";
    case vk::NUMLOCK: return "numlock";
    default: return "";
    }
}

// A character as a key cap shows it: its glyph, a control's short name, or
// the code point of a character with no glyph (Private Use).
std::string capLabel(uint16_t ch) {
    if (std::string g = glyph(ch); !g.empty()) return g;
    const std::string label = charLabel(ch);  // "U+0008 BS" or "U+F105"
    const size_t space = label.find(' ');
    return space != std::string::npos ? label.substr(space + 1) : fmt::format("{:04X}", ch);
}

struct KeyData {
    ScanCode    scan;
    std::string code;  // KeyboardEvent.code
    const KeySpot* spot = nullptr;
    uint8_t     vk = 0;
};

// Every key the page knows: the drawn keyboard first, then the other keys
// the browser can name (the keypad), by scan code.
std::vector<KeyData> pageKeys(const Layout& L) {
    std::vector<KeyData> keys;
    const auto add = [&](ScanCode sc, const KeySpot* spot) {
        const auto entry = scanEntry(L, sc);
        if (!entry || (*entry & 0xFF) == 0 || (*entry & 0xFF) == def::VK_NONE) return;
        for (const auto& k : keys)
            if (k.scan.prefix == sc.prefix && k.scan.code == sc.code) return;
        keys.push_back({sc, domCode(sc), spot, static_cast<uint8_t>(*entry & 0xFF)});
    };
    for (const auto& s : keySpots()) add({s.prefix, s.code}, &s);
    for (unsigned c = 0; c < 0x100; ++c)
        if (!domCode({Prefix::None, uint8_t(c)}).empty()) add({Prefix::None, uint8_t(c)}, nullptr);
    for (const auto& e : L.scanCodesE0)
        if (!domCode({Prefix::E0, e.scanCode}).empty()) add({Prefix::E0, e.scanCode}, nullptr);
    return keys;
}

std::u16string u16(uint16_t ch) { return std::u16string(1, static_cast<char16_t>(ch)); }

}  // namespace

json pageData(const Finder& finder, const std::string& title) {
    const Layout& L = finder.layout();
    json data;
    data["title"] = title;

    // The shift state each combination of held keys selects, by name.
    json combos = json::array();
    for (unsigned c = 0; c < kCombos; ++c) {
        const uint8_t mask = modifierMask(L, heldOf(c));
        combos.push_back(columnFor(L, mask) ? json(mask) : json(nullptr));
    }
    data["combos"] = combos;

    // Results: every distinct thing a key gives (nothing, a character, a dead
    // key), with a press that gives it, so that the table after a dead key is
    // the simulator's own answer.
    struct Rep {
        ScanCode sc;
        unsigned combo = 0;
        bool     caps = false;
        bool     valid = false;  // false for a lock key, whose press toggles rather than types
    };
    std::vector<KeyChar> results;
    std::vector<Rep>     reps;
    const auto resultIndex = [&](const KeyChar& k, const Rep& rep) {
        for (size_t i = 0; i < results.size(); ++i)
            if (results[i] == k) {
                if (!reps[i].valid) reps[i] = rep;
                return i;
            }
        results.push_back(k);
        reps.push_back(rep);
        return results.size() - 1;
    };

    json keys = json::array();
    for (const auto& k : pageKeys(L)) {
        json key = {{"code", k.code},
                    {"id", k.scan.prefix == Prefix::E0 ? fmt::format("e0-{:02x}", k.scan.code)
                                                       : fmt::format("{:02x}", k.scan.code)},
                    {"pos", k.spot ? k.spot->pos : ""},
                    {"name", keyPlace(L, k.scan)},
                    {"role", keyRole(k.vk)}};
        if (const auto n = keyName(L, k.scan.code, k.scan.prefix == Prefix::E0)) key["name"] = utf8(*n);
        if (k.spot) key["at"] = {k.spot->x, k.spot->y, k.spot->w};
        json r = json::array();
        const bool lock = k.vk == vk::CAPITAL || k.vk == vk::NUMLOCK;
        for (unsigned c = 0; c < kCombos; ++c)
            for (bool caps : {false, true}) {
                Session s(L);
                s.setCapsLock(caps);
                const KeyChar kc = lock ? KeyChar{} : s.press(k.scan, heldOf(c)).key;
                r.push_back(lock ? resultIndex(kc, {}) : resultIndex(kc, {k.scan, c, caps, true}));
            }
        key["r"] = r;
        keys.push_back(key);
    }
    data["keys"] = keys;

    json res = json::array();
    for (const auto& k : results) {
        switch (k.kind) {
        case KeyChar::Kind::None: res.push_back(json::array({0})); break;
        case KeyChar::Kind::Char: res.push_back(json::array({1, k.ch, capLabel(k.ch)})); break;
        case KeyChar::Kind::Dead: res.push_back(json::array({2, k.ch, capLabel(k.ch)})); break;
        case KeyChar::Kind::Ligature: {
            std::string label;
            for (char16_t c : k.chars) label += capLabel(c);
            res.push_back(json::array({3, k.chars.empty() ? 0 : k.chars[0], label}));
            break;
        }
        }
    }
    data["results"] = res;

    // What each result gives with nothing pending and after each dead key a
    // session can have pending: [text typed, dead key pending after or -1].
    const auto pending = finder.pendingStates();
    json after = json::object();
    const auto row = [&](const Session& start) {
        json out = json::array();
        for (size_t i = 0; i < results.size(); ++i) {
            Session s = start;
            std::u16string typed;
            if (reps[i].valid) {
                s.setCapsLock(reps[i].caps);
                typed = s.press(reps[i].sc, heldOf(reps[i].combo)).out;
            }
            out.push_back({utf8(typed), s.pendingDead() ? int(*s.pendingDead()) : -1});
        }
        return out;
    };
    after["-1"] = row(Session(L));
    json dead = json::array();
    for (const auto& [d, seq] : pending) {
        Session s(L);
        for (const Stroke* st : seq.strokes) s.press(st->vk, st->held);
        after[std::to_string(d)] = row(s);

        json comps = json::array();
        std::vector<uint16_t> bases;
        for (const auto& c : L.deadKeys) {
            if (c.dead != d || std::find(bases.begin(), bases.end(), c.base) != bases.end()) continue;
            bases.push_back(c.base);  // only the first composition of a base is ever used
            comps.push_back({capLabel(c.base), c.base, capLabel(c.composed), c.composed, (c.flags & def::DKF_DEAD) != 0});
        }
        const auto name = deadKeyName(L, d);
        dead.push_back({{"ch", d},
                        {"label", capLabel(d)},
                        {"name", name ? utf8(*name) : charName(d)},
                        {"keys", seq.chords()},
                        {"places", seq.places()},
                        {"comps", comps}});
    }
    data["after"] = after;
    data["dead"] = dead;

    // The data of find: every character the layout types on its own.
    json found = json::object();
    for (const auto& [ch, ways] : finder.all()) {
        json w = json::array();
        for (const auto& s : ways) w.push_back({s.chords(), s.places(), s.capsDependent});
        found[utf8(u16(ch))] = {{"cp", ch}, {"name", charName(ch)}, {"ways", w}};
    }
    data["find"] = found;
    return data;
}

std::string pageHtml(const Finder& finder, const std::string& title) {
    // '<' only ever stands inside JSON strings, so writing it as \u003c keeps
    // "</script>" and "<!--" out of the script without changing the data.
    std::string data;
    for (char c : pageData(finder, title).dump(-1, ' ', false, json::error_handler_t::replace)) {
        if (c == '<')
            data += "\\u003c";
        else
            data += c;
    }
    std::string escapedTitle;
    for (char c : title) escapedTitle += c == '<' ? "&lt;" : c == '&' ? "&amp;" : c == '>' ? "&gt;" : std::string(1, c);
    std::string page(kTemplate);
    const auto replace = [&](std::string_view marker, const std::string& with) {
        const size_t at = page.find(marker);
        if (at == std::string::npos) throw Error(fmt::format("page template lacks {}", marker));
        page.replace(at, marker.size(), with);
    };
    replace("@TITLE@", escapedTitle);
    replace("@TITLE@", escapedTitle);
    replace("\"@DATA@\"", data);
    return page;
}

void writePage(const Finder& finder, const std::string& title, const std::string& path) {
    const std::string page = pageHtml(finder, title);
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(page.data(), static_cast<std::streamsize>(page.size()));
    f.close();
    if (!f) throw Error(fmt::format("cannot write {}", path));
}

}  // namespace kbd
