// Working out the Linux keymap from the layout: one key per character key
// of the keyboard, the key types its Caps Lock behaviour needs, a dead keysym
// per dead character, the Compose sequences, and what does not carry over.
#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <set>

#include <fmt/format.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include "kbd/typing/simulator.h"
#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"
#include "kbd/xkb/export.h"

namespace kbd::xkb {
namespace {

// The modifier masks of the base levels: Base, Shift, AltGr, Shift+AltGr.
constexpr std::array<uint8_t, 4> kLevelMasks = {0, def::KBDSHIFT, def::KBDCTRL | def::KBDALT,
                                                def::KBDSHIFT | def::KBDCTRL | def::KBDALT};

// Dead keysyms whose accent is the dead character itself.
struct NaturalDead {
    char16_t ch;
    uint32_t keysym;
};
constexpr NaturalDead kNaturalDead[] = {
    { 0x0060, XKB_KEY_dead_grave       },  // `
    { 0x00B4, XKB_KEY_dead_acute       },  // ´
    { 0x005E, XKB_KEY_dead_circumflex  },  // ^
    { 0x007E, XKB_KEY_dead_tilde       },  // ~
    { 0x00AF, XKB_KEY_dead_macron      },  // ¯
    { 0x02D8, XKB_KEY_dead_breve       },  // ˘
    { 0x02D9, XKB_KEY_dead_abovedot    },  // ˙
    { 0x00A8, XKB_KEY_dead_diaeresis   },  // ¨
    { 0x00B0, XKB_KEY_dead_abovering   },  // °
    { 0x02DA, XKB_KEY_dead_abovering   },  // ˚
    { 0x02DD, XKB_KEY_dead_doubleacute },  // ˝
    { 0x02C7, XKB_KEY_dead_caron       },  // ˇ
    { 0x00B8, XKB_KEY_dead_cedilla     },  // ¸
    { 0x02DB, XKB_KEY_dead_ogonek      },  // ˛
};

// Dead keysyms for dead characters without a natural one, oldest first, so
// that an older libxkbcommon reading the files knows them too. Only the
// Compose file gives them meaning.
constexpr uint32_t kSpareDead[] = {
    XKB_KEY_dead_belowdot,      XKB_KEY_dead_hook,             XKB_KEY_dead_horn,
    XKB_KEY_dead_stroke,        XKB_KEY_dead_abovecomma,       XKB_KEY_dead_abovereversedcomma,
    XKB_KEY_dead_doublegrave,   XKB_KEY_dead_belowring,        XKB_KEY_dead_belowmacron,
    XKB_KEY_dead_belowcircumflex, XKB_KEY_dead_belowtilde,     XKB_KEY_dead_belowbreve,
    XKB_KEY_dead_belowdiaeresis, XKB_KEY_dead_invertedbreve,   XKB_KEY_dead_belowcomma,
    XKB_KEY_dead_currency,      XKB_KEY_dead_iota,             XKB_KEY_dead_voiced_sound,
    XKB_KEY_dead_semivoiced_sound, XKB_KEY_dead_a,             XKB_KEY_dead_A,
    XKB_KEY_dead_e,             XKB_KEY_dead_E,                XKB_KEY_dead_i,
    XKB_KEY_dead_I,             XKB_KEY_dead_o,                XKB_KEY_dead_O,
    XKB_KEY_dead_u,             XKB_KEY_dead_U,                XKB_KEY_dead_small_schwa,
    XKB_KEY_dead_capital_schwa, XKB_KEY_dead_greek,            XKB_KEY_dead_lowline,
    XKB_KEY_dead_aboveverticalline, XKB_KEY_dead_belowverticalline,
    XKB_KEY_dead_longsolidusoverlay,
};

// How deep chained dead keys are followed into Compose sequences.
constexpr unsigned kMaxChain = 4;

bool knownToLibrary(uint32_t keysym) {
    const std::string name = keysymName(keysym);
    return xkb_keysym_from_name(name.c_str(), XKB_KEYSYM_NO_FLAGS) == keysym && name.rfind("0x", 0) != 0;
}

std::string typeName(const std::string& layoutName, const KeyType& t) {
    std::string upper;
    for (char c : layoutName) upper += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (t.keypad) return upper + "_KEYPAD";
    std::vector<unsigned> identity(t.baseLevels), caplock(t.baseLevels), altgr(t.baseLevels), both(t.baseLevels);
    for (unsigned i = 0; i < t.baseLevels; ++i) {
        identity[i] = i;
        caplock[i] = i < 2 ? 1 - i : i;
        altgr[i] = i < 2 ? i : 5 - i;
        both[i] = i ^ 1;
    }
    if (t.capsLevels == identity) return upper;
    if (t.capsLevels == caplock) return upper + "_CAPLOCK";
    if (t.baseLevels == 4 && t.capsLevels == altgr) return upper + "_CAPLOKALTGR";
    if (t.baseLevels == 4 && t.capsLevels == both) return upper + "_CAPLOCK_CAPLOKALTGR";
    std::string digits;
    for (unsigned l : t.capsLevels) digits += static_cast<char>('1' + l);
    return upper + "_CAPS_" + digits;
}

class Planner {
public:
    Planner(const Layout& layout, Export& out) : L(layout), E(out) {}

    void run() {
        E.altgr = (L.localeFlags & def::KLLF_ALTGR) != 0;
        base_ = E.altgr ? 4u : 2u;
        assignDeadKeysyms();
        for (const auto& pos : keyPositions()) {
            if (pos.role == KeyRole::Layout) addKey(pos);
            if (pos.role == KeyRole::Keypad) addKeypadKey(pos);
            if (pos.role == KeyRole::Control) checkStockKey(pos);
        }
        checkControlKeys();
        checkColumns();
        checkUnplacedRows();
        checkFlags();
        planCompose();
        checkImDependent();
    }

private:
    const Layout& L;
    Export&       E;
    unsigned      base_ = 4;
    std::set<uint8_t> placedVks_;
    size_t            unencodable_ = 0;
    size_t            stockControlKeys_ = 0;
    std::set<std::u16string> ligatureCells_;

    void note(std::string kind, size_t count, std::string message) {
        if (count > 0) E.approximations.push_back({std::move(kind), count, std::move(message)});
    }

    uint32_t deadKeysym(uint16_t dead) const {
        for (const auto& d : E.deadKeysyms)
            if (d.dead == dead) return d.keysym;
        return 0;
    }

    // Every dead character the layout can reach, in table order, then the
    // dead characters that only chained compositions give.
    void assignDeadKeysyms() {
        std::vector<uint16_t> deads;
        auto add = [&](uint16_t d) {
            if (std::find(deads.begin(), deads.end(), d) == deads.end()) deads.push_back(d);
        };
        for (const auto& t : L.charTables)
            for (const auto& r : t.rows) {
                if (r.vk == def::VK_NONE) continue;
                for (uint8_t mask = 0; mask < 8; ++mask)
                    for (bool caps : {false, true})
                        if (const KeyChar k = charFor(L, r.vk, mask, caps); k.kind == KeyChar::Kind::Dead) add(k.ch);
            }
        for (const auto& d : L.deadKeys)
            if (d.flags & def::DKF_DEAD) add(d.composed);
        std::set<uint32_t> used;
        size_t spare = 0, unassigned = 0;
        for (uint16_t d : deads) {
            uint32_t ks = 0;
            for (const auto& n : kNaturalDead)
                if (n.ch == d && !used.count(n.keysym)) ks = n.keysym;
            while (ks == 0 && spare < std::size(kSpareDead)) {
                const uint32_t candidate = kSpareDead[spare++];
                const bool natural = std::any_of(std::begin(kNaturalDead), std::end(kNaturalDead),
                                                 [&](const NaturalDead& n) { return n.keysym == candidate; });
                if (!used.count(candidate) && !natural && knownToLibrary(candidate)) ks = candidate;
            }
            if (ks == 0) {
                ++unassigned;
                continue;
            }
            used.insert(ks);
            E.deadKeysyms.push_back({d, ks});
        }
        note("dead-keys-beyond-spare-keysyms", unassigned,
             fmt::format("{} dead keys have no dead keysym left to stand for them and type nothing", unassigned));
    }

    // The keysym for what a cell gives; stock is the keysym a keypad key
    // keeps when its character is the stock one.
    uint32_t keysymOf(const KeyChar& k, uint32_t stock = 0) {
        if (k.kind == KeyChar::Kind::None) return XKB_KEY_VoidSymbol;
        if (k.kind == KeyChar::Kind::Ligature) {
            ligatureCells_.insert(k.chars);
            return XKB_KEY_VoidSymbol;
        }
        if (stock && k.kind == KeyChar::Kind::Char && xkb_keysym_to_utf32(stock) == k.ch) return stock;
        if (k.kind == KeyChar::Kind::Dead) {
            const uint32_t ks = deadKeysym(k.ch);
            return ks ? ks : XKB_KEY_VoidSymbol;
        }
        const uint32_t ks = keysymFor(k.ch);
        if (ks == 0 || xkb_keysym_to_utf32(ks) != k.ch) {
            ++unencodable_;
            return XKB_KEY_VoidSymbol;
        }
        return ks;
    }

    size_t typeIndex(const std::vector<unsigned>& capsLevels, unsigned levels, bool keypad = false) {
        for (size_t i = 0; i < E.types.size(); ++i)
            if (E.types[i].capsLevels == capsLevels && E.types[i].keypad == keypad) return i;
        KeyType t;
        t.baseLevels = base_;
        t.capsLevels = capsLevels;
        t.levels = levels;
        t.keypad = keypad;
        t.name = typeName(E.name, t);
        E.types.push_back(t);
        return E.types.size() - 1;
    }

    void addKey(const KeyPosition& pos) {
        Key key;
        key.position = pos;
        const auto entry = scanEntry(L, pos.scan);
        key.vk = entry ? static_cast<uint8_t>(*entry & 0xFF) : def::VK_NONE;
        placedVks_.insert(key.vk);
        std::vector<uint32_t> off(base_), on(base_);
        for (unsigned i = 0; i < base_; ++i) {
            off[i] = keysymOf(charFor(L, key.vk, kLevelMasks[i], false), pos.stockKeysym);
            on[i] = keysymOf(charFor(L, key.vk, kLevelMasks[i], true), pos.stockKeysym);
        }
        // Caps Lock selects the level that already holds its keysym, the same
        // level when nothing changes, and a level of its own otherwise.
        key.keysyms = off;
        std::vector<unsigned> caps(base_);
        for (unsigned i = 0; i < base_; ++i) {
            if (on[i] == off[i]) {
                caps[i] = i;
                continue;
            }
            const auto at = std::find(key.keysyms.begin(), key.keysyms.end(), on[i]);
            caps[i] = static_cast<unsigned>(at - key.keysyms.begin());
            if (at == key.keysyms.end()) key.keysyms.push_back(on[i]);
        }
        key.type = typeIndex(caps, static_cast<unsigned>(key.keysyms.size()));
        for (uint32_t ks : key.keysyms) addTypable(ks);
        E.keys.push_back(std::move(key));
    }

    // A keypad key that moves the cursor without Num Lock: Windows gives
    // its digit only with Num Lock on and Shift up, and nothing with AltGr.
    void addKeypadKey(const KeyPosition& pos) {
        const auto entry = scanEntry(L, pos.scan);
        if (!entry) return;
        if (!(*entry & def::KBDNUMPAD) || pos.navKeysym == 0) return addKey(pos);
        Key key;
        key.position = pos;
        const uint8_t nav = static_cast<uint8_t>(*entry & 0xFF), number = virtualKey(*entry, true, false);
        key.vk = number;
        placedVks_.insert(nav);
        placedVks_.insert(number);
        const KeyChar navChar = charFor(L, nav, 0, false);
        key.keysyms.push_back(navChar.kind == KeyChar::Kind::None ? pos.navKeysym : keysymOf(navChar));
        key.keysyms.push_back(keysymOf(charFor(L, number, 0, false), pos.stockKeysym));
        if (base_ == 4) key.keysyms.push_back(keysymOf(charFor(L, number, kLevelMasks[2], false), pos.stockKeysym));
        size_t differ = 0;
        if (charFor(L, nav, def::KBDSHIFT, false) != navChar) ++differ;
        if (base_ == 4 && charFor(L, nav, kLevelMasks[2], false) != charFor(L, number, kLevelMasks[2], false)) ++differ;
        note("keypad-key", differ,
             fmt::format("<{}> gives different characters with Shift or AltGr depending on Num Lock; "
                         "the export follows Num Lock on",
                         pos.name));
        std::vector<unsigned> caps(key.keysyms.size());
        for (unsigned i = 0; i < caps.size(); ++i) caps[i] = i;
        key.type = typeIndex(caps, static_cast<unsigned>(key.keysyms.size()), true);
        for (uint32_t ks : key.keysyms) addTypable(ks);
        E.keys.push_back(std::move(key));
    }

    void addTypable(uint32_t keysym) {
        if (keysym == XKB_KEY_VoidSymbol || xkb_keysym_to_utf32(keysym) == 0) return;
        for (const auto& d : E.deadKeysyms)
            if (d.keysym == keysym) return;
        for (const auto& t : E.typables)
            if (t.keysym == keysym) return;
        E.typables.push_back({keysym, static_cast<uint16_t>(xkb_keysym_to_utf32(keysym))});
    }

    // Control keys keep the stock symbols: what Windows gives on them must
    // be what the stock keysym means.
    void checkStockKey(const KeyPosition& pos) {
        const auto entry = scanEntry(L, pos.scan);
        if (!entry) return;
        const uint32_t stock = xkb_keysym_to_utf32(pos.stockKeysym);
        const uint8_t  vk = virtualKey(*entry, true, false);
        placedVks_.insert(vk);
        placedVks_.insert(static_cast<uint8_t>(*entry & 0xFF));
        const KeyChar k = charFor(L, vk, 0, false);
        if (k.kind == KeyChar::Kind::Char && k.ch == stock) {
            ++stockControlKeys_;
            return;
        }
        const std::string windows = k.kind == KeyChar::Kind::Char ? charLabel(k.ch)
                                    : k.kind == KeyChar::Kind::Dead ? "dead key " + charLabel(k.ch)
                                                                   : "nothing";
        note("control-key", 1,
             fmt::format("<{}> gives {} on Windows; the stock {} stays on Linux", pos.name, windows,
                         keysymName(pos.stockKeysym)));
    }

    // Characters on modifier combinations other than the four levels:
    // Ctrl and Shift+Ctrl (a shortcut on Linux), Alt and Shift+Alt, and
    // without AltGr the Ctrl+Alt columns.
    void checkColumns() {
        size_t ctrl = 0, alt = 0, ctrlAlt = 0, other = 0;
        std::vector<std::string> ctrlKeys;
        for (const auto& t : L.charTables)
            for (const auto& r : t.rows) {
                if (r.vk == def::VK_NONE) continue;
                for (unsigned mask = 0; mask <= L.maxModBits && mask < 256; ++mask) {
                    if (std::find(kLevelMasks.begin(), kLevelMasks.begin() + base_, mask) != kLevelMasks.begin() + base_)
                        continue;
                    if (charFor(L, r.vk, static_cast<uint8_t>(mask), false).kind == KeyChar::Kind::None) continue;
                    if ((mask & ~def::KBDSHIFT) == def::KBDCTRL) {
                        ++ctrl;
                        // A key can have rows in several tables: name it once, where it first comes.
                        if (std::find(ctrlKeys.begin(), ctrlKeys.end(), vkName(r.vk)) == ctrlKeys.end())
                            ctrlKeys.push_back(vkName(r.vk));
                    } else if ((mask & ~def::KBDSHIFT) == def::KBDALT) {
                        ++alt;
                    } else if ((mask & ~def::KBDSHIFT) == (def::KBDCTRL | def::KBDALT)) {
                        ++ctrlAlt;
                    } else {
                        ++other;
                    }
                }
            }
        std::string keys;
        for (const auto& k : ctrlKeys) keys += (keys.empty() ? "" : ", ") + k;
        note("ctrl-column", ctrl,
             fmt::format("{} characters on Ctrl chords ({}) are not exported: on Linux a Ctrl chord is a shortcut",
                         ctrl, keys));
        note("alt-column", alt, fmt::format("{} characters on Alt chords are not exported", alt));
        note("ctrl-alt-without-altgr", ctrlAlt,
             fmt::format("{} characters on Ctrl+Alt are not exported: the layout has no AltGr", ctrlAlt));
        note("other-columns", other,
             fmt::format("{} characters on other modifier combinations are not exported", other));
        const bool altListed = std::any_of(L.modifierBits.begin(), L.modifierBits.end(),
                                           [](const ModifierBit& m) { return (m.bits & def::KBDALT) != 0; });
        if (!altListed)
            note("alt-not-a-modifier", 1,
                 "the layout does not list Alt as a modifier, so Windows types the same with Alt held; on Linux an "
                 "Alt chord is a shortcut");
        if (E.altgr)
            note("ctrl-alt-as-altgr", 1,
                 "Windows also gives the AltGr characters with left Ctrl+Alt; on Linux only AltGr (right Alt) does");
        note("unencodable-characters", unencodable_,
             fmt::format("{} cells hold a character no keysym stands for (a lone surrogate) and type nothing",
                         unencodable_));
    }

    // Rows no key position reaches on Linux.
    void checkUnplacedRows() {
        std::vector<std::string> names;
        for (const auto& t : L.charTables)
            for (const auto& r : t.rows)
                if (r.vk != def::VK_NONE && !placedVks_.count(r.vk)) names.push_back(vkName(r.vk));
        std::string list;
        for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
        note("keys-without-position", names.size(),
             fmt::format("{} keys have characters but no key of a PC keyboard on Linux: {}", names.size(), list));
    }

    void checkControlKeys() {
        note("control-keys-stock", stockControlKeys_,
             fmt::format("{} control keys (Return, Tab, BackSpace, Esc) keep the stock symbols: with AltGr they type "
                         "their control character (nothing on Windows), and Shift+Tab is ISO_Left_Tab",
                         stockControlKeys_));
    }

    void checkFlags() {
        note("ligatures", ligatureCells_.size(),
             fmt::format("{} ligatures (keys that type several characters) are not exported: a keysym is one "
                         "character; those keys type nothing",
                         ligatureCells_.size()));
        bool kanaRows = false;
        for (const auto& t : L.charTables)
            for (const auto& r : t.rows) kanaRows |= (r.attributes & def::KANALOK) != 0;
        if (kanaBits(L) != 0 || kanaRows)
            note("kana-lock", 1, "the Kana lock and the characters it selects are not exported");
        if (L.localeFlags & def::KLLF_SHIFTLOCK)
            note("shift-lock", 1, "Shift turns Caps Lock off on Windows (KLLF_SHIFTLOCK); on Linux Caps Lock toggles");
        if (L.localeFlags & def::KLLF_LRM_RLM)
            note("lrm-rlm", 1, "the layout's LRM/RLM keys (KLLF_LRM_RLM) are not exported");
    }

    // Every sequence a dead key starts: the composition where the layout
    // has one, Windows' fallback (the dead character, then the character)
    // where not, and chained dead keys followed to their end.
    void planCompose() {
        std::vector<Typable> seconds = E.typables;
        for (const auto& d : E.deadKeysyms) seconds.push_back({d.keysym, d.dead});
        size_t tooDeep = 0;
        std::function<void(std::vector<uint32_t>, uint16_t, unsigned)> expand =
            [&](std::vector<uint32_t> prefix, uint16_t dead, unsigned depth) {
                for (const auto& s : seconds) {
                    std::vector<uint32_t> keys = prefix;
                    keys.push_back(s.keysym);
                    const auto c = compose(L, dead, s.ch);
                    if (c && (c->flags & def::DKF_DEAD)) {
                        if (depth < kMaxChain && deadKeysym(c->composed))
                            expand(keys, c->composed, depth + 1);
                        else
                            ++tooDeep;
                    } else if (c) {
                        E.compose.push_back({keys, std::u16string(1, static_cast<char16_t>(c->composed))});
                    } else {
                        E.compose.push_back({keys, std::u16string{static_cast<char16_t>(dead), static_cast<char16_t>(s.ch)}});
                    }
                }
            };
        for (const auto& d : E.deadKeysyms) {
            bool reachable = false;
            for (const auto& k : E.keys) reachable |= std::count(k.keysyms.begin(), k.keysyms.end(), d.keysym) > 0;
            if (reachable) expand({d.keysym}, d.dead, 1);
        }
        note("dead-key-chains-too-deep", tooDeep,
             fmt::format("{} chained dead-key sequences are longer than {} keys and are not exported", tooDeep,
                         kMaxChain + 1));
    }

    void checkImDependent() {
        if (E.compose.empty()) return;
        note("control-key-after-dead-key", 1,
             "a dead key followed by Return, Tab, BackSpace or Esc: Windows types the dead character and the "
             "control character; on Linux the input method decides");
        note("no-character-key-after-dead-key", 1,
             "a dead key followed by a key that types nothing (the keypad's cursor keys): Windows keeps the dead "
             "key pending; on Linux the input method decides");
        note("ctrl-chord-after-dead-key", 1,
             "a dead key followed by a Ctrl chord: on Linux the input method decides whether the dead key "
             "stays pending");
        const size_t wide = wideComposeLines(E);
        note("compose-keysyms-above-16-bit", wide,
             fmt::format("{} of {} Compose lines name a keysym above 0xFFFF: GTK's simple input method and IBus "
                         "before 2024 cannot read them",
                         wide, E.compose.size()));
    }
};

}  // namespace

std::string keysymName(uint32_t keysym) {
    char buf[64];
    const int n = xkb_keysym_get_name(keysym, buf, sizeof buf);
    return n < 0 ? fmt::format("0x{:08x}", keysym) : std::string(buf);
}

uint32_t keysymFor(char32_t ch) {
    if (ch >= 0xD800 && ch <= 0xDFFF) return 0;
    return xkb_utf32_to_keysym(ch);
}

std::string defaultName(const std::filesystem::path& file) {
    std::string out;
    for (char c : file.stem().string()) {
        const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if ((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9') || l == '_' || l == '-') out += l;
    }
    while (!out.empty() && !(out[0] >= 'a' && out[0] <= 'z')) out.erase(0, 1);
    return out.empty() ? "layout" : out.substr(0, 64);
}

bool validName(std::string_view name) {
    if (name.empty() || name.size() > 64 || !(name[0] >= 'a' && name[0] <= 'z')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

size_t wideComposeLines(const Export& e) {
    return static_cast<size_t>(std::count_if(e.compose.begin(), e.compose.end(), [](const ComposeLine& l) {
        return std::any_of(l.keys.begin(), l.keys.end(), [](uint32_t k) { return k > 0xFFFF; });
    }));
}

Export plan(const Layout& layout, const std::string& name, const std::string& source) {
    Export e;
    e.name = name;
    e.source = source;
    Planner(layout, e).run();
    return e;
}

}  // namespace kbd::xkb
