// Where the keys of a PC keyboard sit in a Linux keymap: the scan code the
// keyboard sends (set 1, as the layout's scan-code tables index it), the
// evdev key code the kernel turns it into, and the key's name in XKB's evdev
// keycodes. Only the keys a layout can give characters on, and the modifier
// and lock keys a typing session needs, are listed; the facts come from
// pc_keys.inc.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "kbd/model/scan_code.h"

namespace kbd::xkb {

// What the stock keymap of a PC keyboard does with a key.
enum class KeyRole {
    Layout,    // a character key: the layout's own symbols define it
    Keypad,    // a keypad key: the layout's symbols define it with the stock keysyms
    Control,   // Esc, Backspace, Tab, Enter: stock, one control character each
    Modifier,  // Shift, Ctrl, Alt, AltGr, Caps Lock, Num Lock: stock
};

struct KeyPosition {
    ScanCode         scan;
    uint16_t         evdev = 0;    // Linux input key code; the XKB key code is evdev + 8
    std::string_view name;         // XKB key name, without the angle brackets
    KeyRole          role = KeyRole::Layout;
    uint32_t         stockKeysym = 0;  // Keypad and Control: the stock keysym of the key's character
    uint32_t         navKeysym = 0;    // keypad keys that move the cursor: their keysym without Num Lock
};

// Every listed key, character keys first in keyboard order.
std::span<const KeyPosition> keyPositions();

// The listed key a scan code comes from, if any.
std::optional<KeyPosition> positionOf(ScanCode scan);

// The listed key with an XKB name, if any.
std::optional<KeyPosition> positionNamed(std::string_view name);

// XKB key codes are evdev codes shifted by this much.
inline constexpr uint32_t kEvdevOffset = 8;

}  // namespace kbd::xkb
