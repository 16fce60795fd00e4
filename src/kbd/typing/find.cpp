#include "kbd/typing/find.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include <fmt/format.h>

#include "kbd/model/char_labels.h"
#include "kbd/model/pc_keys.h"
#include "kbd/image/error.h"
#include "kbd/image/utf8.h"
#include "kbd/model/layout_format.h"

namespace kbd {

std::string keyPlace(const Layout& layout, ScanCode sc) {
    if (const auto k = keyByScanCode(sc); k && !k->iso.empty()) return std::string(k->iso);
    if (sc.prefix != Prefix::E1)
        if (const auto n = keyName(layout, sc.code, sc.prefix == Prefix::E0); n && !n->empty()) return utf8(*n);
    const char* prefix = sc.prefix == Prefix::E0 ? "e0" : sc.prefix == Prefix::E1 ? "e1" : "sc";
    return fmt::format("{} {:02X}", prefix, sc.code);
}
namespace {

// How `type` is told about a key: the letter or digit itself, a key name
// ("Space", "OEM_3"), or its scan code when the key has no name `type` reads.
std::string keyArg(uint8_t vkey, ScanCode sc) {
    if ((vkey >= '0' && vkey <= '9') || (vkey >= 'A' && vkey <= 'Z'))
        return std::string(1, static_cast<char>(std::tolower(vkey)));
    std::string n = vkName(vkey);
    if (n.starts_with("VK_")) {
        n.erase(0, 3);
        if (!n.starts_with("OEM_"))
            std::transform(n.begin() + 1, n.end(), n.begin() + 1, [](unsigned char c) { return std::tolower(c); });
        if (vkFromName(n) == vkey) return n;
    }
    const char* prefix = sc.prefix == Prefix::E0 ? "e0" : sc.prefix == Prefix::E1 ? "e1" : "sc";
    return fmt::format("{}:{:02x}", prefix, sc.code);
}

// The scan code that gives a virtual key with Num Lock on and Shift up: the
// plain table first, then the E0 list.
std::vector<std::pair<ScanCode, uint8_t>> physicalKeys(const Layout& L) {
    std::vector<std::pair<ScanCode, uint8_t>> keys;
    for (size_t sc = 0; sc < L.scanCodes.size() && sc < 0x100; ++sc)
        keys.push_back({{Prefix::None, static_cast<uint8_t>(sc)}, virtualKey(L.scanCodes[sc], true, false)});
    for (const auto& e : L.scanCodesE0) keys.push_back({{Prefix::E0, e.scanCode}, virtualKey(e.entry, true, false)});
    return keys;
}

// The held keys for each modifier mask that selects a column: the fewest keys
// that give it, Shift, Ctrl, Alt, AltGr in that order of preference.
struct Held {
    uint8_t     mask;
    KeyState    keys;
    std::string name;
};
std::vector<Held> shiftStates(const Layout& L) {
    struct Mod {
        uint8_t     vk;
        std::string name;
    };
    std::vector<Mod> mods = {{vk::LSHIFT, "Shift"}, {vk::LCONTROL, "Ctrl"}, {vk::LMENU, "Alt"}, {vk::RMENU, "AltGr"}};
    // Other keys of the modifier record (VK_OEM_8, VK_ROYA, ...) are held
    // too; Kana is a lock, toggled by its own stroke.
    for (const auto& m : L.modifierBits)
        if (!isModifierKey(m.vk) && m.vk != vk::KANA && isHoldable(L, m.vk) && mods.size() < 8)
            mods.push_back({m.vk, keyArg(m.vk, {})});
    std::vector<unsigned> subsets;
    for (unsigned s = 0; s < (1u << mods.size()); ++s) subsets.push_back(s);
    std::stable_sort(subsets.begin(), subsets.end(),
                     [](unsigned a, unsigned b) { return __builtin_popcount(a) < __builtin_popcount(b); });
    std::vector<Held> out;
    for (unsigned s : subsets) {
        Held h;
        for (unsigned i = 0; i < mods.size(); ++i)
            if (s & (1u << i)) {
                h.keys.set(mods[i].vk);
                h.name += (h.name.empty() ? "" : "+") + mods[i].name;
            }
        h.mask = modifierMask(L, h.keys);
        if (!columnFor(L, h.mask)) continue;
        if (std::any_of(out.begin(), out.end(), [&](const Held& o) { return o.mask == h.mask; })) continue;
        out.push_back(h);
    }
    std::sort(out.begin(), out.end(), [](const Held& a, const Held& b) { return a.mask < b.mask; });
    return out;
}

// Of ties that press the same keys, the ones with the fewest modifier keys
// held: "h Space" rather than "h Shift+Space" when Space gives the same
// either way. Ties on other keys all stay.
void keepFewestModifiers(std::vector<std::vector<const Stroke*>>& ways, size_t max) {
    const auto held = [](const std::vector<const Stroke*>& w) {
        size_t n = 0;
        for (const Stroke* s : w) n += s->held.count();
        return n;
    };
    const auto sameKeys = [](const std::vector<const Stroke*>& a, const std::vector<const Stroke*>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const Stroke* x, const Stroke* y) { return x->vk == y->vk; });
    };
    std::vector<std::vector<const Stroke*>> kept;
    for (const auto& w : ways) {
        const auto better = [&](const auto& o) { return sameKeys(o, w) && held(o) < held(w); };
        const auto same = [&](const auto& o) { return sameKeys(o, w) && held(o) == held(w); };
        if (std::any_of(ways.begin(), ways.end(), better)) continue;
        if (std::any_of(kept.begin(), kept.end(), same) && held(w) > 0) continue;
        kept.push_back(w);
    }
    if (kept.size() > max) kept.resize(max);
    ways = std::move(kept);
}

// Ties are collected up to this many before the fewest-modifier ones are kept.
constexpr size_t kTiesExamined = 64;

bool givesAnything(const Layout& L, uint8_t vkey) {
    for (unsigned m = 0; m <= L.maxModBits && m < 0x100; ++m)
        for (bool caps : {false, true})
            for (bool kana : {false, true})
                if (charFor(L, vkey, static_cast<uint8_t>(m), Locks{caps, kana}).kind != KeyChar::Kind::None)
                    return true;
    return false;
}

}  // namespace

std::string Sequence::chords() const {
    std::string o;
    for (const Stroke* s : strokes) o += (o.empty() ? "" : " ") + s->chord;
    return o;
}

std::string Sequence::places() const {
    std::string o;
    for (const Stroke* s : strokes) o += (o.empty() ? "" : " ") + (s->mods.empty() ? "" : s->mods + "+") + s->place;
    return o;
}

Finder::Finder(const Layout& layout) : layout_(layout) {
    std::vector<uint8_t> seen;
    std::optional<ScanCode> capsKey, kanaKey;
    std::vector<std::pair<ScanCode, uint8_t>> keys;
    for (const auto& [sc, vkey] : physicalKeys(layout)) {
        if (vkey == vk::CAPITAL && !capsKey) capsKey = sc;
        if (vkey == vk::KANA && !kanaKey && kanaBits(layout)) kanaKey = sc;
        if (vkey == 0 || vkey == def::VK_NONE || isModifierKey(vkey) || vkey == vk::CAPITAL || vkey == vk::NUMLOCK ||
            vkey == vk::KANA || isHoldable(layout, vkey))
            continue;
        if (std::find(seen.begin(), seen.end(), vkey) != seen.end() || !givesAnything(layout, vkey)) continue;
        seen.push_back(vkey);
        keys.push_back({sc, vkey});
    }
    for (const auto& h : shiftStates(layout))
        for (const auto& [sc, vkey] : keys) {
            const std::string arg = keyArg(vkey, sc);
            strokes_.push_back({vkey, h.mask, h.keys, sc, h.name.empty() ? arg : h.name + "+" + arg,
                                keyPlace(layout, sc), h.name});
        }
    if (capsKey) strokes_.push_back({vk::CAPITAL, 0, {}, *capsKey, "CapsLock", keyPlace(layout, *capsKey), ""});
    if (kanaKey)
        strokes_.push_back({vk::KANA, 0, {}, *kanaKey, keyArg(vk::KANA, *kanaKey), keyPlace(layout, *kanaKey), ""});
}

// The search graph: sessions reached from a fresh one, each with how much of
// the wanted text it has typed, and every shortest way in.
struct Finder::Search {
    struct Node {
        Session                                  session;
        size_t                                   typed = 0;
        unsigned                                 depth = 0;
        std::vector<std::pair<int, const Stroke*>> from;  // (node, stroke); node -1 for the start
    };
    const Finder&     f;
    std::vector<Node> nodes;
    std::map<std::tuple<size_t, int, bool, bool>, int> index;

    explicit Search(const Finder& finder) : f(finder) {
        nodes.push_back({Session(f.layout_), 0, 0, {}});
        index[{0, -1, false, false}] = 0;
    }

    // The node for a session state at a depth, and whether it is new.
    std::pair<int, bool> reach(const Session& s, size_t typed, unsigned depth, int from, const Stroke* st) {
        const auto key =
            std::make_tuple(typed, s.pendingDead() ? int(*s.pendingDead()) : -1, s.capsLock(), s.kanaLock());
        if (const auto it = index.find(key); it != index.end()) {
            Node& n = nodes[it->second];
            if (n.depth == depth) n.from.push_back({from, st});
            return {it->second, false};
        }
        nodes.push_back({s, typed, depth, {{from, st}}});
        index[key] = static_cast<int>(nodes.size() - 1);
        return {static_cast<int>(nodes.size() - 1), true};
    }

    // Every shortest path into a node, at most max of them, appended to out.
    void paths(int node, std::vector<const Stroke*>& tail, std::vector<std::vector<const Stroke*>>& out,
               size_t max) const {
        if (out.size() >= max) return;
        if (node == 0) {
            out.emplace_back(tail.rbegin(), tail.rend());
            return;
        }
        for (const auto& [prev, st] : nodes[node].from) {
            tail.push_back(st);
            paths(prev, tail, out, max);
            tail.pop_back();
            if (out.size() >= max) return;
        }
    }
};

const std::vector<Finder::Step>& Finder::steps(const Session& from) const {
    const std::tuple<int, bool, bool> key{from.pendingDead() ? int(*from.pendingDead()) : -1, from.capsLock(),
                                          from.kanaLock()};
    if (const auto it = steps_.find(key); it != steps_.end()) return it->second;
    std::vector<Step> v;
    v.reserve(strokes_.size());
    for (const Stroke& st : strokes_) {
        Session s = from;
        std::u16string out = s.press(st.vk, st.held).out;
        v.push_back({s, std::move(out)});
    }
    return steps_.emplace(key, std::move(v)).first->second;
}

std::vector<Sequence> Finder::find(const std::u16string& text, size_t maxWays) const {
    if (text.size() > kMaxText)
        throw Error(fmt::format("the text is too long to search: {} UTF-16 code units, at most {}", text.size(),
                                kMaxText));
    Search g(*this);
    std::vector<int> frontier{0};
    std::vector<int> goals;
    if (text.empty()) return {Sequence{}};
    for (unsigned depth = 0; !frontier.empty() && goals.empty(); ++depth) {
        std::vector<int> next;
        for (int n : frontier) {
            const auto& from = steps(g.nodes[n].session);
            const size_t typed = g.nodes[n].typed;
            for (size_t i = 0; i < strokes_.size(); ++i) {
                const Step& step = from[i];
                if (typed + step.out.size() > text.size() || text.compare(typed, step.out.size(), step.out) != 0)
                    continue;
                const auto [id, fresh] = g.reach(step.after, typed + step.out.size(), depth + 1, n, &strokes_[i]);
                if (!fresh) continue;
                next.push_back(id);
                if (g.nodes[id].typed == text.size() && !step.after.pendingDead()) goals.push_back(id);
            }
        }
        frontier = std::move(next);
    }
    std::vector<std::vector<const Stroke*>> found;
    for (int goal : goals) {
        std::vector<const Stroke*> tail;
        g.paths(goal, tail, found, kTiesExamined);
    }
    keepFewestModifiers(found, maxWays);
    std::vector<Sequence> out;
    for (auto& strokes : found) {
        Sequence seq{std::move(strokes), false};
        seq.capsDependent = replay(layout_, seq, true) != text;
        out.push_back(std::move(seq));
    }
    return out;
}

const std::map<uint16_t, std::vector<Sequence>>& Finder::all() const {
    if (all_) return *all_;
    constexpr size_t kMaxWays = 8;
    // Only sessions that have typed nothing yet are explored: a character
    // typed alone comes from the last press of its sequence.
    Search g(*this);
    std::map<uint16_t, std::pair<unsigned, std::vector<std::pair<int, const Stroke*>>>> best;
    std::vector<int> frontier{0};
    for (unsigned depth = 0; !frontier.empty(); ++depth) {
        std::vector<int> next;
        for (int n : frontier) {
            const auto& from = steps(g.nodes[n].session);
            for (size_t i = 0; i < strokes_.size(); ++i) {
                const Step& step = from[i];
                if (step.out.empty()) {
                    if (const auto [id, fresh] = g.reach(step.after, 0, depth + 1, n, &strokes_[i]); fresh)
                        next.push_back(id);
                    continue;
                }
                if (step.out.size() != 1 || step.after.pendingDead()) continue;
                auto& b = best.try_emplace(step.out[0], depth + 1, std::vector<std::pair<int, const Stroke*>>{})
                              .first->second;
                if (b.first == depth + 1) b.second.push_back({n, &strokes_[i]});
            }
        }
        frontier = std::move(next);
    }
    all_.emplace();
    for (const auto& [ch, b] : best) {
        std::vector<std::vector<const Stroke*>> found;
        for (const auto& [node, last] : b.second) {
            std::vector<const Stroke*> tail{last};
            g.paths(node, tail, found, kTiesExamined);
        }
        keepFewestModifiers(found, kMaxWays);
        std::vector<Sequence>& ways = (*all_)[ch];
        for (auto& strokes : found) {
            Sequence seq{std::move(strokes), false};
            seq.capsDependent = replay(layout_, seq, true) != std::u16string(1, char16_t(ch));
            ways.push_back(std::move(seq));
        }
    }
    return *all_;
}

std::map<uint16_t, Sequence> Finder::pendingStates() const {
    Search g(*this);
    std::vector<int> frontier{0};
    std::map<uint16_t, Sequence> out;
    for (unsigned depth = 0; !frontier.empty(); ++depth) {
        std::vector<int> next;
        for (int n : frontier) {
            const auto& from = steps(g.nodes[n].session);
            for (size_t i = 0; i < strokes_.size(); ++i) {
                const Step& step = from[i];
                if (!step.out.empty()) continue;
                const auto [id, fresh] = g.reach(step.after, 0, depth + 1, n, &strokes_[i]);
                if (!fresh) continue;
                next.push_back(id);
                if (const auto p = step.after.pendingDead(); p && !out.count(*p)) {
                    std::vector<std::vector<const Stroke*>> found;
                    std::vector<const Stroke*> tail;
                    g.paths(id, tail, found, 1);
                    out[*p] = Sequence{found.front(), false};
                }
            }
        }
        frontier = std::move(next);
    }
    return out;
}

std::u16string replay(const Layout& layout, const Sequence& seq, bool capsLock) {
    Session s(layout);
    s.setCapsLock(capsLock);
    std::u16string out;
    for (const Stroke* st : seq.strokes) out += s.press(st->vk, st->held).out;
    return s.pendingDead() ? std::u16string() : out;
}

std::vector<std::u16string> characters(const std::u16string& text) {
    std::vector<std::u16string> out;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        out.push_back(text.substr(i, pair ? 2 : 1));
        if (pair) ++i;
    }
    return out;
}

char32_t codePoint(const std::u16string& ch) {
    return ch.empty() ? 0 : codePoints(ch)[0];
}

}  // namespace kbd
