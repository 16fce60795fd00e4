// Virtual-key codes as the host tools name them: listed once here and used
// for constants, for printing and for parsing key names on the command line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// X(name without the VK_ prefix, code)
#define KBD_VK_LIST(X)                                                                              \
    X(LBUTTON, 0x01) X(RBUTTON, 0x02) X(CANCEL, 0x03) X(MBUTTON, 0x04) X(BACK, 0x08) X(TAB, 0x09)   \
    X(CLEAR, 0x0C) X(RETURN, 0x0D) X(SHIFT, 0x10) X(CONTROL, 0x11) X(MENU, 0x12) X(PAUSE, 0x13)     \
    X(CAPITAL, 0x14) X(ESCAPE, 0x1B) X(SPACE, 0x20) X(PRIOR, 0x21) X(NEXT, 0x22) X(END, 0x23)       \
    X(HOME, 0x24) X(LEFT, 0x25) X(UP, 0x26) X(RIGHT, 0x27) X(DOWN, 0x28) X(SELECT, 0x29)            \
    X(PRINT, 0x2A) X(EXECUTE, 0x2B) X(SNAPSHOT, 0x2C) X(INSERT, 0x2D) X(DELETE, 0x2E) X(HELP, 0x2F) \
    X(LWIN, 0x5B) X(RWIN, 0x5C) X(APPS, 0x5D) X(SLEEP, 0x5F) X(NUMPAD0, 0x60) X(NUMPAD1, 0x61)      \
    X(NUMPAD2, 0x62) X(NUMPAD3, 0x63) X(NUMPAD4, 0x64) X(NUMPAD5, 0x65) X(NUMPAD6, 0x66)            \
    X(NUMPAD7, 0x67) X(NUMPAD8, 0x68) X(NUMPAD9, 0x69) X(MULTIPLY, 0x6A) X(ADD, 0x6B)               \
    X(SEPARATOR, 0x6C) X(SUBTRACT, 0x6D) X(DECIMAL, 0x6E) X(DIVIDE, 0x6F) X(F1, 0x70) X(F2, 0x71)   \
    X(F3, 0x72) X(F4, 0x73) X(F5, 0x74) X(F6, 0x75) X(F7, 0x76) X(F8, 0x77) X(F9, 0x78)             \
    X(F10, 0x79) X(F11, 0x7A) X(F12, 0x7B) X(F13, 0x7C) X(F14, 0x7D) X(F15, 0x7E) X(F16, 0x7F)      \
    X(F17, 0x80) X(F18, 0x81) X(F19, 0x82) X(F20, 0x83) X(F21, 0x84) X(F22, 0x85) X(F23, 0x86)      \
    X(F24, 0x87) X(NUMLOCK, 0x90) X(SCROLL, 0x91) X(LSHIFT, 0xA0) X(RSHIFT, 0xA1)                   \
    X(LCONTROL, 0xA2) X(RCONTROL, 0xA3) X(LMENU, 0xA4) X(RMENU, 0xA5) X(BROWSER_BACK, 0xA6)         \
    X(BROWSER_FORWARD, 0xA7) X(BROWSER_REFRESH, 0xA8) X(BROWSER_STOP, 0xA9)                         \
    X(BROWSER_SEARCH, 0xAA) X(BROWSER_FAVORITES, 0xAB) X(BROWSER_HOME, 0xAC) X(VOLUME_MUTE, 0xAD)   \
    X(VOLUME_DOWN, 0xAE) X(VOLUME_UP, 0xAF) X(MEDIA_NEXT_TRACK, 0xB0) X(MEDIA_PREV_TRACK, 0xB1)     \
    X(MEDIA_STOP, 0xB2) X(MEDIA_PLAY_PAUSE, 0xB3) X(LAUNCH_MAIL, 0xB4)                              \
    X(LAUNCH_MEDIA_SELECT, 0xB5) X(LAUNCH_APP1, 0xB6) X(LAUNCH_APP2, 0xB7) X(OEM_1, 0xBA)           \
    X(OEM_PLUS, 0xBB) X(OEM_COMMA, 0xBC) X(OEM_MINUS, 0xBD) X(OEM_PERIOD, 0xBE) X(OEM_2, 0xBF)      \
    X(OEM_3, 0xC0) X(ABNT_C1, 0xC1) X(ABNT_C2, 0xC2) X(OEM_4, 0xDB) X(OEM_5, 0xDC) X(OEM_6, 0xDD)   \
    X(OEM_7, 0xDE) X(OEM_8, 0xDF) X(OEM_102, 0xE2) X(OEM_RESET, 0xE9) X(OEM_JUMP, 0xEA)             \
    X(OEM_PA1, 0xEB) X(OEM_PA2, 0xEC) X(OEM_PA3, 0xED) X(OEM_WSCTRL, 0xEE) X(OEM_CUSEL, 0xEF)       \
    X(OEM_ATTN, 0xF0) X(OEM_FINISH, 0xF1) X(OEM_COPY, 0xF2) X(OEM_AUTO, 0xF3) X(OEM_ENLW, 0xF4)     \
    X(OEM_BACKTAB, 0xF5) X(ATTN, 0xF6) X(CRSEL, 0xF7) X(EXSEL, 0xF8) X(EREOF, 0xF9) X(PLAY, 0xFA)   \
    X(ZOOM, 0xFB) X(NONAME, 0xFC) X(PA1, 0xFD) X(OEM_CLEAR, 0xFE)

namespace kbd {
namespace vk {
#define KBD_VK_ENUM(name, code) name = code,
enum : uint8_t { KBD_VK_LIST(KBD_VK_ENUM) };
#undef KBD_VK_ENUM
}  // namespace vk

// "VK_OEM_3" for a named key, "'A'" for a letter or digit, "0xE8" otherwise.
std::string vkName(uint8_t vk);

// A key from its name: "VK_OEM_3" or "OEM_3" (any case), a single letter or
// digit, or one of the friendly names (Backspace, Enter, Esc, Space, Ctrl,
// AltGr, CapsLock, Num0, ...). None when the name is unknown.
std::optional<uint8_t> vkFromName(std::string_view name);

}  // namespace kbd
