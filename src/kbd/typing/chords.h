// Key sequences as a person writes them on the command line: "Shift+4",
// "AltGr+q", "CapsLock", "sc:2a+sc:10", "e0:38+sc:10", "pos:D01". Each chord
// is keys held, then one key pressed. A named key is a virtual key (see
// vkFromName: "q" is VK_Q, wherever the layout puts it); a key by position
// is the key at an ISO 9995 position of the keyboard ("pos:D01" is the key
// right of Tab, whatever the layout makes of it); a scan code is given in
// hex (sc:XX plain, e0:XX or e1:XX after a prefix).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kbd/typing/simulator.h"

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

// The scan code of the key at an ISO 9995 position of the main block (E00
// to E12, D01 to D12, C01 to C12, B00 to B10, A03 the space bar), any case.
std::optional<uint8_t> positionScanCode(std::string_view position);

// The outcome of one chord typed into a session.
struct Typed {
    Chord           chord;
    Session::Result result;
};

// Types the chord into the session. Held keys given by scan code or position
// are read through the layout's scan-code maps; each must be a key of the
// layout's modifier record or a Shift, Ctrl or Alt key.
Typed type(Session& session, const Layout& layout, const Chord& chord);

// Types a whole sequence and returns the text it produces (convenience for
// callers that need only the characters).
std::u16string typeText(const Layout& layout, const std::vector<std::string>& chords,
                        bool capsLock = false);

}  // namespace kbd
