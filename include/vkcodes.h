// Virtual-key codes of the Windows input subsystem, from the list in
// kbd_vk.inc. Digits and letters are their ASCII upper-case codes ('0'..'9',
// 'A'..'Z') and have no names here.
#pragma once

#define KBD_VK(name, code) inline constexpr unsigned char VK_##name = code;
#include "kbd_vk.inc"

// Not a key: the VirtualKey of a dead key's second row, and "no key" in a
// scan-code entry.
inline constexpr unsigned char VK__none_              = 0xFF;
