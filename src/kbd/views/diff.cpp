#include "kbd/views/diff.h"

#include <map>
#include <set>

#include <fmt/format.h>

#include "kbd/typing/find.h"
#include "kbd/typing/simulator.h"
#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"

namespace kbd {
namespace {

using json = nlohmann::json;

std::string quoted(const std::u16string& s) { return "\"" + utf8(s) + "\""; }

json units(const std::u16string& s) { return std::vector<uint16_t>(s.begin(), s.end()); }

std::string keyCharText(const KeyChar& c) {
    switch (c.kind) {
    case KeyChar::Kind::None: return "nothing";
    case KeyChar::Kind::Dead: return "dead key " + charLabel(c.ch);
    case KeyChar::Kind::Char: return charLabel(c.ch);
    case KeyChar::Kind::Ligature: {
        std::string o = "ligature";
        for (char16_t ch : c.chars) o += " " + charLabel(ch);
        return o;
    }
    }
    return "";
}

json keyCharJson(const KeyChar& c) {
    if (c.kind == KeyChar::Kind::None) return nullptr;
    if (c.kind == KeyChar::Kind::Ligature)
        return {{"kind", "ligature"}, {"chars", std::vector<uint16_t>(c.chars.begin(), c.chars.end())}};
    return {{"kind", c.kind == KeyChar::Kind::Dead ? "dead" : "char"}, {"ch", c.ch}};
}

class Differ {
public:
    Differ(const Layout& a, const Layout& b) : a_(a), b_(b) {}

    std::vector<Change> run() {
        settings();
        modifiers();
        scanCodes();
        keys();
        compositions();
        names();
        return std::move(out_);
    }

private:
    const Layout&       a_;
    const Layout&       b_;
    std::vector<Change> out_;

    void add(const char* section, std::string item, std::string before, std::string after, json bv, json av) {
        Change c{section, Change::Kind::Changed, std::move(item), std::move(before), std::move(after), bv, av};
        if (bv.is_null()) c.kind = Change::Kind::Added;
        if (av.is_null()) c.kind = Change::Kind::Removed;
        out_.push_back(std::move(c));
    }
    template <class T>
    void number(const char* section, const char* item, T a, T b, bool hex = false) {
        if (a == b) return;
        const auto show = [&](T v) { return hex ? fmt::format("0x{:08X}", v) : fmt::format("{}", v); };
        add(section, item, show(a), show(b), a, b);
    }

    void settings() {
        number("settings", "locale flags (KLLF_*)", a_.localeFlags, b_.localeFlags, true);
        number("settings", "ligature characters (nLgMax)", a_.nLgMax, b_.nLgMax);
        number("settings", "ligature row size (cbLgEntry)", a_.cbLgEntry, b_.cbLgEntry);
        if (a_.hasLigatures != b_.hasLigatures)
            add("settings", "ligature table", a_.hasLigatures ? "present" : "none", b_.hasLigatures ? "present" : "none",
                a_.hasLigatures, b_.hasLigatures);
        number("settings", "keyboard type", a_.type, b_.type);
        number("settings", "keyboard subtype", a_.subType, b_.subType);
    }

    void modifiers() {
        std::map<uint8_t, std::pair<json, json>> bits;
        for (const auto& m : a_.modifierBits) bits[m.vk].first = m.bits;
        for (const auto& m : b_.modifierBits) bits[m.vk].second = m.bits;
        for (const auto& [vkey, ab] : bits)
            if (ab.first != ab.second)
                add("modifiers", vkName(vkey) + " bits",
                    ab.first.is_null() ? "" : fmt::format("0x{:02X}", ab.first.get<int>()),
                    ab.second.is_null() ? "" : fmt::format("0x{:02X}", ab.second.get<int>()), ab.first, ab.second);
        const unsigned top = std::max(a_.maxModBits, b_.maxModBits);
        for (unsigned m = 0; m <= top && m < 0x100; ++m) {
            const auto ca = columnFor(a_, uint8_t(m)), cb = columnFor(b_, uint8_t(m));
            if (ca == cb) continue;
            const auto show = [](std::optional<unsigned> c) { return c ? fmt::format("column {}", *c) : "no column"; };
            add("modifiers", fmt::format("mask {} ({})", m, shiftStateName(uint8_t(m))), show(ca), show(cb),
                ca ? json(*ca) : json(-1), cb ? json(*cb) : json(-1));
        }
    }

    // Every physical key either layout has: plain scan codes, then the E0 and
    // E1 lists.
    std::vector<ScanCode> physical() const {
        std::vector<ScanCode> v;
        const size_t plain = std::max(a_.scanCodes.size(), b_.scanCodes.size());
        for (size_t sc = 0; sc < plain && sc < 0x100; ++sc) v.push_back({Prefix::None, uint8_t(sc)});
        for (auto [prefix, la, lb] : {std::tuple{Prefix::E0, &a_.scanCodesE0, &b_.scanCodesE0},
                                      std::tuple{Prefix::E1, &a_.scanCodesE1, &b_.scanCodesE1}}) {
            std::set<uint8_t> codes;
            for (const auto& e : *la) codes.insert(e.scanCode);
            for (const auto& e : *lb) codes.insert(e.scanCode);
            for (uint8_t c : codes) v.push_back({prefix, c});
        }
        return v;
    }

    static std::string scanText(ScanCode sc) {
        return sc.prefix == Prefix::None ? fmt::format("sc {:02X}", sc.code)
                                         : fmt::format("{} {:02X}", sc.prefix == Prefix::E0 ? "e0" : "e1", sc.code);
    }

    std::string keyText(ScanCode sc) const {
        const std::string place = keyPlace(a_, sc), code = scanText(sc);
        return place == code ? code : fmt::format("{} ({})", place, code);
    }

    void scanCodes() {
        for (const ScanCode sc : physical()) {
            const auto ea = scanEntry(a_, sc), eb = scanEntry(b_, sc);
            if (ea == eb) continue;
            const auto show = [](std::optional<uint16_t> e) {
                if (!e) return std::string("no key");
                std::string s = vkName(*e & 0xFF);
                for (const auto& f : flagNames("ScanFlag", *e & 0xFF00, 4)) s += " " + f;
                return s;
            };
            add("scan codes", keyText(sc), show(ea), show(eb), ea ? json(*ea) : json(nullptr),
                eb ? json(*eb) : json(nullptr));
        }
    }

    static KeyChar keyChar(const Layout& L, ScanCode sc, uint8_t mask, bool caps, bool kana = false) {
        const auto entry = scanEntry(L, sc);
        if (!entry) return {};
        return charFor(L, virtualKey(*entry, true, mask & def::KBDSHIFT), mask, Locks{caps, kana});
    }

    void keys() {
        const unsigned top = std::max(a_.maxModBits, b_.maxModBits);
        for (const ScanCode sc : physical())
            for (unsigned m = 0; m <= top && m < 0x100; ++m) {
                const uint8_t mask = uint8_t(m);
                if (!columnFor(a_, mask) && !columnFor(b_, mask)) continue;
                const KeyChar ka = keyChar(a_, sc, mask, false), kb = keyChar(b_, sc, mask, false);
                if (ka != kb)
                    add("keys", fmt::format("{} {}", keyText(sc), shiftStateName(mask)), keyCharText(ka), keyCharText(kb),
                        keyCharJson(ka), keyCharJson(kb));
                // Caps Lock: reported where it starts or stops acting on the
                // key; a change of what it gives follows from the lines above.
                const bool capsA = keyChar(a_, sc, mask, true) != ka, capsB = keyChar(b_, sc, mask, true) != kb;
                if (capsA != capsB)
                    add("keys", fmt::format("{} {} with Caps Lock", keyText(sc), shiftStateName(mask)),
                        capsA ? "Caps Lock acts" : "Caps Lock does nothing",
                        capsB ? "Caps Lock acts" : "Caps Lock does nothing", capsA, capsB);
                // The Kana lock, on layouts that have one: what the key gives
                // with it on, where that changed.
                if (kanaBits(a_) || kanaBits(b_)) {
                    const KeyChar na = keyChar(a_, sc, mask, false, true), nb = keyChar(b_, sc, mask, false, true);
                    if (na != nb && (na != ka || nb != kb))
                        add("keys", fmt::format("{} {} with Kana", keyText(sc), shiftStateName(mask)),
                            keyCharText(na), keyCharText(nb), keyCharJson(na), keyCharJson(nb));
                }
            }
    }

    // The compositions in effect: the first of each dead and base character.
    static std::map<std::pair<uint16_t, uint16_t>, DeadKey> effective(const Layout& L) {
        std::map<std::pair<uint16_t, uint16_t>, DeadKey> m;
        for (const auto& d : L.deadKeys) m.try_emplace({d.dead, d.base}, d);
        return m;
    }

    void compositions() {
        const auto ma = effective(a_), mb = effective(b_);
        std::set<std::pair<uint16_t, uint16_t>> keys;
        for (const auto& [k, v] : ma) keys.insert(k);
        for (const auto& [k, v] : mb) keys.insert(k);
        const auto show = [](const DeadKey* d) {
            if (!d) return std::string();
            return (d->flags & def::DKF_DEAD ? "dead key " : "") + charLabel(d->composed);
        };
        const auto value = [](const DeadKey* d) -> json {
            if (!d) return nullptr;
            return {{"composed", d->composed}, {"flags", d->flags}};
        };
        for (const auto& k : keys) {
            const auto ia = ma.find(k), ib = mb.find(k);
            const DeadKey* da = ia == ma.end() ? nullptr : &ia->second;
            const DeadKey* db = ib == mb.end() ? nullptr : &ib->second;
            if (da && db && da->composed == db->composed && da->flags == db->flags) continue;
            add("compositions", fmt::format("{} then {}", charLabel(k.first), charLabel(k.second)), show(da), show(db),
                value(da), value(db));
        }
    }

    void names() {
        using Names = std::map<uint16_t, std::u16string>;
        const auto keyNames = [](const std::vector<KeyName>& v) {
            Names m;
            for (const auto& n : v) m.try_emplace(n.scanCode, n.name);
            return m;
        };
        const auto deadNames = [](const Layout& L) {
            Names m;
            for (const auto& n : L.deadKeyNames)
                if (!n.empty()) m.try_emplace(n[0], n.substr(1));
            return m;
        };
        const auto compare = [&](const Names& na, const Names& nb, auto itemOf) {
            std::set<uint16_t> keys;
            for (const auto& [k, v] : na) keys.insert(k);
            for (const auto& [k, v] : nb) keys.insert(k);
            for (uint16_t k : keys) {
                const auto ia = na.find(k), ib = nb.find(k);
                const bool hasA = ia != na.end(), hasB = ib != nb.end();
                if (hasA && hasB && ia->second == ib->second) continue;
                add("names", itemOf(k), hasA ? quoted(ia->second) : "", hasB ? quoted(ib->second) : "",
                    hasA ? units(ia->second) : json(nullptr), hasB ? units(ib->second) : json(nullptr));
            }
        };
        compare(keyNames(a_.keyNames), keyNames(b_.keyNames),
                [](uint16_t sc) { return fmt::format("name of key sc {:02X}", sc); });
        compare(keyNames(a_.keyNamesExt), keyNames(b_.keyNamesExt),
                [](uint16_t sc) { return fmt::format("name of key e0 {:02X}", sc); });
        compare(deadNames(a_), deadNames(b_), [](uint16_t d) { return "name of dead key " + charLabel(d); });
    }
};

const char* kindName(Change::Kind k) {
    switch (k) {
    case Change::Kind::Changed: return "changed";
    case Change::Kind::Added:   return "added";
    case Change::Kind::Removed: return "removed";
    }
    return "";
}

}  // namespace

std::vector<Change> diffLayouts(const Layout& a, const Layout& b) { return Differ(a, b).run(); }

std::string diffText(const std::vector<Change>& changes) {
    std::string o, section;
    for (const auto& c : changes) {
        if (c.section != section) {
            section = c.section;
            o += section + "\n";
        }
        switch (c.kind) {
        case Change::Kind::Changed: o += fmt::format("  {}: {} \u2192 {}\n", c.item, c.before, c.after); break;
        case Change::Kind::Added:   o += fmt::format("  {}: added, {}\n", c.item, c.after); break;
        case Change::Kind::Removed: o += fmt::format("  {}: removed, was {}\n", c.item, c.before); break;
        }
    }
    return o;
}

json diffJson(const std::vector<Change>& changes) {
    json list = json::array();
    for (const auto& c : changes)
        list.push_back({{"section", c.section},
                        {"kind", kindName(c.kind)},
                        {"item", c.item},
                        {"before", c.before},
                        {"after", c.after},
                        {"beforeValue", c.beforeValue},
                        {"afterValue", c.afterValue}});
    return {{"same", changes.empty()}, {"changes", list}};
}

}  // namespace kbd
