// What the layout's sources share: the tables each source defines, which the
// root record ties together, and the facts that several tables must agree on.
#pragma once

#include "kbd.h"

// ---- Tables, one source each; only the root refers to them -----------------
extern const MODIFIERS         CharModifiers;     // modifiers.cpp
extern const VK_TO_WCHAR_TABLE aVkToWcharTable[]; // characters.cpp
extern const DEADKEY           aDeadKey[];        // deadkeys.cpp
extern const VSC_LPWSTR        aKeyNames[];       // keynames.cpp
extern const VSC_LPWSTR        aKeyNamesExt[];    // keynames.cpp
extern const PKBD_NAME         aKeyNamesDead[];   // keynames.cpp
extern const USHORT            ausVK[];           // scancodes.cpp
extern const VSC_VK            aE0VscToVk[];      // scancodes.cpp
extern const VSC_VK            aE1VscToVk[];      // scancodes.cpp

// Entries of the plain scan-code table: codes 0x00..0x7E.
inline constexpr BYTE SCANCODE_TABLE_SIZE = 0x7F;

// The dead characters, in the order of their keys in the character tables.
// The composition groups and the dead-key names stand in this same order.
inline constexpr WCHAR kDeadChars[] = {
    0x003D,  // =  Shift+2
    0x00AF,  // ¯  Shift+4
    0x00B0,  // °  Shift+5
    0x005E,  // ^  Shift+6
    0x002A,  // *  Shift+8
    0x005F,  // _  Shift+minus
    0x0068,  // h  H
    0x00B4,  // ´  the key left of 1
    0x007E,  // ~  Shift and the key left of 1
    0x002C,  // ,  comma
    0x002E,  // .  full stop
};
inline constexpr unsigned kDeadCharCount = sizeof kDeadChars / sizeof kDeadChars[0];
