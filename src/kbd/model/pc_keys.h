// The keys of a PC keyboard and the names each goes by: its scan code, ISO
// position, Linux evdev code, XKB key name and DOM KeyboardEvent.code. The
// facts live in pc_keys.inc; this is the lookup over them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "kbd/model/scan_code.h"

namespace kbd {

// Where the drawing puts a key: its row (F the function row), or not at all.
enum class KeyRow { F, E, D, C, B, A, None };

// What the stock Linux keymap does with a key (kbd/xkb/keys.h); Other keys
// are left out of the XKB export.
enum class XkbRole { Layout, Keypad, Control, Modifier, Other };

struct PcKey {
    ScanCode         scan;
    std::string_view iso;    // ISO position (E01, D01, ...); empty outside the alphanumeric block
    uint16_t         evdev = 0;
    std::string_view xkb;    // XKB key name, without the angle brackets
    std::string_view dom;    // KeyboardEvent.code; empty where the learning page does not name the key
    int16_t          mac = -1;  // Mac virtual key code of the key at the same place; -1: none
    uint16_t         macChar = 0;  // what a Mac layout types with it where the PC layout types nothing; 0: none
    XkbRole          xkbRole = XkbRole::Other;
    std::string_view stockKeysym;  // keypad and control keys: the keysym name of the key's character
    std::string_view navKeysym;    // keypad keys that move the cursor: their keysym name without Num Lock
    KeyRow           row = KeyRow::None;
    double           x = 0, w = 0;  // left edge and width in key units
};

// Every key of pc_keys.inc, in its order: the one expansion of that table.
std::span<const PcKey> pcKeys();

std::optional<PcKey> keyByScanCode(ScanCode scan);
std::optional<PcKey> keyByIso(std::string_view position);  // exact, upper case: "D01"
std::optional<PcKey> keyByXkbName(std::string_view name);
std::optional<PcKey> keyByDomCode(std::string_view code);  // never for ""

}  // namespace kbd
