// The reverse of typing: which keys give a character or a text. A breadth-
// first search over the states of a typing session (the pending dead key,
// Caps Lock and the Kana lock), one chord a step, driven by the simulator itself, so the
// sequences found are the shortest and are exactly what `type` replays.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "kbd/model/layout.h"
#include "kbd/typing/simulator.h"

namespace kbd {

// Where a key is, for a person: its ISO position name ("D01"), else the
// layout's own name for it ("Num 7"), else its scan code ("sc 5E", "e0 5E").
std::string keyPlace(const Layout& layout, ScanCode sc);

// One chord of a sequence: modifiers held and one key pressed.
struct Stroke {
    uint8_t     vk = 0;    // the key pressed; VK_CAPITAL and VK_KANA toggle their locks
    uint8_t     mask = 0;  // the modifier mask of the held keys
    KeyState    held;      // the held modifier keys
    ScanCode    scan;      // the key's scan code
    std::string chord;     // as `type` accepts it: "Shift+4", "AltGr+q", "CapsLock"
    std::string place;     // where the key is: "E04", "A03", "Num 7"
    std::string mods;      // the held keys as `type` names them: "Shift+AltGr", "" for none
};

// A shortest way to type something.
struct Sequence {
    std::vector<const Stroke*> strokes;
    // True when it gives its text only with Caps Lock off at the start (with
    // Caps Lock on, the same keys give something else).
    bool capsDependent = false;
    std::string chords() const;  // "Shift+4 a"
    std::string places() const;  // "E04 C01"
};

class Finder {
public:
    explicit Finder(const Layout& layout);

    // The chords the search may press, in the order ties are listed: shift
    // states by mask, keys by scan code, then the Caps Lock and Kana toggles.
    const std::vector<Stroke>& strokes() const { return strokes_; }

    // The shortest sequences that type exactly text in a fresh session (Caps
    // Lock off, nothing pending) and leave no dead key pending; at most
    // maxWays of them, all of the same length. Empty when there is none.
    // Throws kbd::Error for a text longer than kMaxText code units.
    std::vector<Sequence> find(const std::u16string& text, size_t maxWays = 8) const;
    static constexpr size_t kMaxText = 10000;

    // Every character (UTF-16 code unit) the layout types on its own, with its
    // shortest sequences, by code point.
    const std::map<uint16_t, std::vector<Sequence>>& all() const;

    // One way to reach each dead key a session can have pending (also those
    // reached only through a chain), by dead character.
    std::map<uint16_t, Sequence> pendingStates() const;

    const Layout& layout() const { return layout_; }

private:
    struct Search;
    // What one stroke does from a session state: the session after it and
    // the text it typed.
    struct Step {
        Session        after;
        std::u16string out;
    };
    // Every stroke's step from a session. What a press does depends only on
    // the pending dead key and Caps Lock, so each stroke is pressed once per
    // such state and remembered.
    const std::vector<Step>& steps(const Session& from) const;

    const Layout&                                                    layout_;
    std::vector<Stroke>                                              strokes_;
    mutable std::optional<std::map<uint16_t, std::vector<Sequence>>> all_;
    mutable std::map<std::tuple<int, bool, bool>, std::vector<Step>> steps_;
};

// Replays a sequence in a session that starts with the given Caps Lock
// state and returns the text it gives (nothing when a dead key is left
// pending at the end: that text is not typed yet).
std::u16string replay(const Layout& layout, const Sequence& seq, bool capsLock = false);

// The text split into characters (a surrogate pair stays together).
std::vector<std::u16string> characters(const std::u16string& text);

// The code point of a character of characters().
char32_t codePoint(const std::u16string& ch);

}  // namespace kbd
