// Typing through a .keylayout file as macOS reads one, following the rules
// the format's documentation gives, from the XML alone:
//   - the layout element for the keyboard type gives a modifierMap and a
//     keyMapSet;
//   - the modifierMap picks the key map: the first keyMapSelect with a
//     modifier element that the held modifiers satisfy (each listed modifier
//     held, every held modifier listed, "?" marking one as optional, "any"
//     meaning either side), else defaultIndex;
//   - a key missing from a key map is looked up in its baseMapSet/baseIndex;
//     a key found nowhere types nothing and leaves the state alone;
//   - a key with output emits it; in a dead-key state the state's
//     terminator comes first and the state returns to none;
//   - a key with an action takes the when element for the current state:
//     its output is emitted and its next becomes the state (none without
//     one); with no when for the current state the terminator is emitted
//     and the when for state none applies.
//
// Control characters: Apple's .keylayout files, and ours, write them as
// character references (&#x0008;, &#x001B;, &#x001C;), which XML 1.0 forbids
// for all but tab, line feed and return, so a strict XML parser refuses the
// file. Every reader of the tests (this interpreter, xmllint's DTD
// validation, read_keylayout.py) reads the file after one substitution:
// each reference to a code point XML 1.0 forbids below U+0020 becomes a
// reference to the Private Use code point U+100000 plus it (&#x001C; turns
// into &#x10001C;), and what the interpreter types maps those code points
// back. A file that already holds a code point of U+100000..U+10001F is
// refused, so the substitution cannot be mistaken for the layout's own text.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>

namespace kbdtest::macos {

inline constexpr unsigned long kStandInBase = 0x100000;

inline bool isStandIn(const std::string& s, size_t i) {  // the UTF-8 of U+100000..U+10001F: F4 80 80 80..9F
    return i + 3 < s.size() && uint8_t(s[i]) == 0xF4 && uint8_t(s[i + 1]) == 0x80 && uint8_t(s[i + 2]) == 0x80 &&
           uint8_t(s[i + 3]) <= 0x9F;
}

// The file with its forbidden control character references replaced by
// stand-ins, as described above.
inline std::string withStandIns(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (isStandIn(text, i)) throw std::runtime_error("the .keylayout already holds a stand-in code point");
        if (text.compare(i, 2, "&#") == 0) {
            const bool hex = i + 2 < text.size() && (text[i + 2] == 'x' || text[i + 2] == 'X');
            const size_t digits = i + (hex ? 3 : 2);
            size_t j = digits;
            unsigned long value = 0;
            while (j < text.size() && (hex ? std::isxdigit(uint8_t(text[j])) : std::isdigit(uint8_t(text[j]))) &&
                   value <= 0x10FFFF)
                value = value * (hex ? 16 : 10) + std::stoul(text.substr(j++, 1), nullptr, 16);
            if (j > digits && j < text.size() && text[j] == ';') {
                if (value >= kStandInBase && value < kStandInBase + 0x20)
                    throw std::runtime_error("the .keylayout already holds a stand-in code point");
                if (value < 0x20 && value != 0x09 && value != 0x0A && value != 0x0D) {
                    char ref[16];
                    std::snprintf(ref, sizeof ref, "&#x%lX;", kStandInBase + value);
                    out += ref;
                    i = j;
                    continue;
                }
            }
        }
        out += text[i];
    }
    return out;
}

// Text read from the substituted file, with the stand-ins back as the
// control characters they stand for.
inline std::string withoutStandIns(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (isStandIn(text, i)) {
            out += char(uint8_t(text[i + 3]) - 0x80);
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Physical modifier keys, as macOS tells them apart.
enum Mod : unsigned { LShift = 1, RShift = 2, LOption = 4, ROption = 8, LControl = 16, RControl = 32, Command = 64,
                      CapsLock = 128 };

class Keylayout {
public:
    explicit Keylayout(const std::string& file) {
        const std::string text = withStandIns(file);
        xmlDocPtr doc = xmlReadMemory(text.data(), int(text.size()), "keylayout.xml", nullptr, XML_PARSE_NONET);
        if (!doc) throw std::runtime_error("the .keylayout is not well-formed XML");
        try {
            read(xmlDocGetRootElement(doc));
        } catch (...) {
            xmlFreeDoc(doc);
            throw;
        }
        xmlFreeDoc(doc);
    }

    // The key map index the held modifiers select.
    unsigned mapIndex(unsigned mods) const {
        const auto& mm = modifierMaps_.at(modifiers_);
        for (const auto& [index, lists] : mm.selects)
            for (const auto& keys : lists)
                if (keys.matches(mods)) return index;
        return mm.defaultIndex;
    }

    // One key press: returns what it types; state() is the dead-key state after it.
    std::string press(unsigned code, unsigned mods) {
        const Key* k = find(mapSet_, mapIndex(mods), code);
        if (!k) return "";
        if (k->output) return leave() + *k->output;
        const auto& whens = actions_.at(k->action);
        if (const When* w = whenFor(whens, state_)) return apply(*w);
        std::string out = leave();
        const When* w = whenFor(whens, "none");
        return w ? out + apply(*w) : out;
    }

    const std::string& state() const { return state_; }
    void reset() { state_ = "none"; }

private:
    struct When {
        std::string state;
        std::optional<std::string> output, next;
    };
    struct Key {
        std::optional<std::string> output;
        std::string action;
    };
    struct KeyMap {
        std::map<unsigned, Key> keys;
        std::string baseSet;
        std::optional<unsigned> baseIndex;
    };
    // A modifier element's keys: each listed modifier held (a name marked
    // "?" may be), and no modifier held that none lists.
    struct Modifiers {
        std::vector<unsigned> required;  // for each name not marked "?": the keys any of which it needs
        unsigned listed = 0;
        bool matches(unsigned mods) const {
            for (unsigned r : required)
                if (!(mods & r)) return false;
            return (mods & ~listed) == 0;
        }
    };
    struct ModifierMap {
        unsigned defaultIndex = 0;
        std::vector<std::pair<unsigned, std::vector<Modifiers>>> selects;
    };

    static std::optional<std::string> attr(xmlNodePtr n, const char* name) {
        xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
        if (!v) return std::nullopt;
        std::string s(reinterpret_cast<char*>(v));
        xmlFree(v);
        return withoutStandIns(s);
    }
    static std::string need(xmlNodePtr n, const char* name) {
        auto v = attr(n, name);
        if (!v) throw std::runtime_error(std::string("missing attribute ") + name);
        return *v;
    }
    static bool is(xmlNodePtr n, const char* name) {
        return n->type == XML_ELEMENT_NODE && xmlStrEqual(n->name, reinterpret_cast<const xmlChar*>(name));
    }
    static std::vector<xmlNodePtr> children(xmlNodePtr n, const char* name) {
        std::vector<xmlNodePtr> out;
        for (xmlNodePtr c = n->children; c; c = c->next)
            if (is(c, name)) out.push_back(c);
        return out;
    }

    std::vector<When> readWhens(xmlNodePtr n) {
        std::vector<When> out;
        for (xmlNodePtr w : children(n, "when")) {
            if (attr(w, "through") || attr(w, "multiplier"))
                throw std::runtime_error("state ranges are not interpreted here");
            out.push_back({need(w, "state"), attr(w, "output"), attr(w, "next")});
        }
        return out;
    }

    void read(xmlNodePtr root) {
        if (!root || !is(root, "keyboard")) throw std::runtime_error("no keyboard element");
        for (xmlNodePtr layouts : children(root, "layouts"))
            for (xmlNodePtr l : children(layouts, "layout"))
                if (std::stoul(need(l, "first")) == 0 && modifiers_.empty()) {
                    modifiers_ = need(l, "modifiers");
                    mapSet_ = need(l, "mapSet");
                }
        for (xmlNodePtr m : children(root, "modifierMap")) {
            ModifierMap& mm = modifierMaps_[need(m, "id")];
            mm.defaultIndex = std::stoul(need(m, "defaultIndex"));
            for (xmlNodePtr s : children(m, "keyMapSelect")) {
                std::vector<Modifiers> lists;
                for (xmlNodePtr mod : children(s, "modifier")) lists.push_back(parse(need(mod, "keys")));
                mm.selects.push_back({unsigned(std::stoul(need(s, "mapIndex"))), lists});
            }
        }
        unsigned inlineActions = 0;
        for (xmlNodePtr set : children(root, "keyMapSet")) {
            auto& maps = keyMapSets_[need(set, "id")];
            for (xmlNodePtr km : children(set, "keyMap")) {
                KeyMap& map = maps[std::stoul(need(km, "index"))];
                if (auto b = attr(km, "baseMapSet")) map.baseSet = *b;
                if (auto b = attr(km, "baseIndex")) map.baseIndex = std::stoul(*b);
                for (xmlNodePtr k : children(km, "key")) {
                    Key key{attr(k, "output"), attr(k, "action").value_or("")};
                    const auto inl = children(k, "action");
                    if (!inl.empty()) {
                        key.action = "#inline" + std::to_string(inlineActions++);
                        actions_[key.action] = readWhens(inl[0]);
                    }
                    map.keys[std::stoul(need(k, "code"))] = key;
                }
            }
        }
        for (xmlNodePtr as : children(root, "actions"))
            for (xmlNodePtr a : children(as, "action")) actions_[need(a, "id")] = readWhens(a);
        for (xmlNodePtr ts : children(root, "terminators"))
            for (const auto& w : readWhens(ts)) terminators_[w.state] = w.output.value_or("");
        if (modifiers_.empty()) throw std::runtime_error("no layout for keyboard type 0");
    }

    // The physical keys a modifier name covers.
    static unsigned covers(const std::string& name) {
        static const std::map<std::string, unsigned> kNames = {
            {"shift", LShift}, {"rightShift", RShift}, {"anyShift", LShift | RShift},
            {"option", LOption}, {"rightOption", ROption}, {"anyOption", LOption | ROption},
            {"control", LControl}, {"rightControl", RControl}, {"anyControl", LControl | RControl},
            {"command", Command}, {"caps", CapsLock}};
        const auto it = kNames.find(name);
        if (it == kNames.end()) throw std::runtime_error("unknown modifier " + name);
        return it->second;
    }

    static Modifiers parse(const std::string& keys) {
        std::istringstream in(keys);
        std::string tok;
        Modifiers m;
        while (in >> tok) {
            const bool optional = tok.back() == '?';
            if (optional) tok.pop_back();
            const unsigned c = covers(tok);
            if (!optional) m.required.push_back(c);
            m.listed |= c;
        }
        return m;
    }

    const Key* find(const std::string& set, unsigned index, unsigned code, int depth = 0) const {
        if (depth > 8) return nullptr;
        const auto s = keyMapSets_.find(set);
        if (s == keyMapSets_.end()) return nullptr;
        const auto m = s->second.find(index);
        if (m == s->second.end()) return nullptr;
        if (const auto k = m->second.keys.find(code); k != m->second.keys.end()) return &k->second;
        if (m->second.baseIndex)
            return find(m->second.baseSet.empty() ? set : m->second.baseSet, *m->second.baseIndex, code, depth + 1);
        return nullptr;
    }

    static const When* whenFor(const std::vector<When>& whens, const std::string& state) {
        for (const auto& w : whens)
            if (w.state == state) return &w;
        return nullptr;
    }

    std::string apply(const When& w) {
        state_ = w.next.value_or("none");
        return w.output.value_or("");
    }

    // Leaves a dead-key state, giving its terminator.
    std::string leave() {
        if (state_ == "none") return "";
        const auto t = terminators_.find(state_);
        state_ = "none";
        return t == terminators_.end() ? "" : t->second;
    }

    std::string modifiers_, mapSet_;
    std::map<std::string, ModifierMap> modifierMaps_;
    std::map<std::string, std::map<unsigned, KeyMap>> keyMapSets_;
    std::map<std::string, std::vector<When>> actions_;
    std::map<std::string, std::string> terminators_;
    std::string state_ = "none";
};

}  // namespace kbdtest::macos
