// The physical keyboard the pictures and the learning page show: an ISO
// keyboard's main block and function row, each key by the scan code it
// sends, where it sits, and its ISO 9995 position name.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kbd/model/layout.h"
#include "kbd/typing/simulator.h"

namespace kbd {

// A key of the ISO main block and the function row, in key units from the
// top-left corner of Esc. pos is the ISO position name of character keys
// ("E01", "D01", ..., "A03" for the space bar), empty for the others.
struct KeySpot {
    Prefix      prefix;
    uint8_t     code;
    double      x, y, w;
    const char* pos = "";
};

// The function row lies half a unit above row E.
inline constexpr double kRowE = 1.5;

// Every key, function row first, then rows E to A, left to right.
const std::vector<KeySpot>& keySpots();

// The key that sends a scan code, if the drawn keyboard has it.
const KeySpot* spotFor(ScanCode sc);

// The browser's name for the key at a scan code (KeyboardEvent.code:
// "KeyQ", "Digit4", "Backquote", "IntlBackslash", ...), for the keys of the
// main block and the keypad; empty when there is none.
std::string domCode(ScanCode sc);

}  // namespace kbd
