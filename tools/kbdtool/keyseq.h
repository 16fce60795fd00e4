// Key sequences as a person writes them on the command line: "Shift+4",
// "AltGr+q", "CapsLock", "sc:2a+sc:10", "e0:38+sc:10". Each chord is keys
// held, then one key pressed; keys are named (see vkFromName) or given by
// scan code (sc:XX plain, e0:XX or e1:XX after a prefix, in hex).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "simulate.h"

namespace kbd {

// One key of a chord: a virtual key by name, or a scan code.
struct KeyRef {
    std::optional<uint8_t>  vk;
    std::optional<ScanCode> scan;
};

struct Chord {
    std::string         text;  // as written
    std::vector<KeyRef> held;  // modifiers, in order
    KeyRef              key;   // the key pressed
};

// Parses one chord; throws kbd::Error naming the part at fault.
Chord parseChord(std::string_view text);

// The outcome of one chord typed into a session.
struct Typed {
    Chord           chord;
    Session::Result result;
};

// Types the chord into the session. Held keys given by scan code are read
// through the layout's scan-code maps and must be modifier keys.
Typed type(Session& session, const Layout& layout, const Chord& chord);

// Types a whole sequence and returns the text it produces (convenience for
// callers that need only the characters).
std::u16string typeText(const Layout& layout, const std::vector<std::string>& chords,
                        bool capsLock = false);

}  // namespace kbd
