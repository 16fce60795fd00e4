#include "keyboard.h"

#include <fmt/format.h>

#include "text.h"

namespace kbd {

const std::vector<KeySpot>& keySpots() {
    static const std::vector<KeySpot> spots = [] {
        std::vector<KeySpot> k;
        const auto plain = [&](uint8_t code, double x, double y, double w, const char* pos = "") {
            k.push_back({Prefix::None, code, x, y, w, pos});
        };
        static const char* const e[] = {"E01", "E02", "E03", "E04", "E05", "E06",
                                        "E07", "E08", "E09", "E10", "E11", "E12"};
        static const char* const d[] = {"D01", "D02", "D03", "D04", "D05", "D06",
                                        "D07", "D08", "D09", "D10", "D11", "D12"};
        static const char* const c[] = {"C01", "C02", "C03", "C04", "C05", "C06", "C07", "C08", "C09", "C10", "C11"};
        static const char* const b[] = {"B01", "B02", "B03", "B04", "B05", "B06", "B07", "B08", "B09", "B10"};
        static const uint8_t f[] = {0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x57, 0x58};

        plain(0x01, 0, 0, 1);
        for (int i = 0; i < 12; ++i) plain(f[i], 2 + i + (i / 4) * 0.5, 0, 1);
        double y = kRowE;
        plain(0x29, 0, y, 1, "E00");
        for (int i = 0; i < 12; ++i) plain(0x02 + i, 1 + i, y, 1, e[i]);
        plain(0x0E, 13, y, 2);
        y += 1;
        plain(0x0F, 0, y, 1.5);
        for (int i = 0; i < 12; ++i) plain(0x10 + i, 1.5 + i, y, 1, d[i]);
        y += 1;
        plain(0x3A, 0, y, 1.75);
        for (int i = 0; i < 11; ++i) plain(0x1E + i, 1.75 + i, y, 1, c[i]);
        plain(0x2B, 12.75, y, 1, "C12");
        plain(0x1C, 13.75, y, 1.25);  // drawn as the two-row ISO Enter
        y += 1;
        plain(0x2A, 0, y, 1.25);
        plain(0x56, 1.25, y, 1, "B00");
        for (int i = 0; i < 10; ++i) plain(0x2C + i, 2.25 + i, y, 1, b[i]);
        plain(0x36, 12.25, y, 2.75);
        y += 1;
        const auto e0 = [&](uint8_t code, double x, double w) { k.push_back({Prefix::E0, code, x, y, w, ""}); };
        plain(0x1D, 0, y, 1.25);
        e0(0x5B, 1.25, 1.25);
        plain(0x38, 2.5, y, 1.25);
        plain(0x39, 3.75, y, 6.25, "A03");
        e0(0x38, 10, 1.25);
        e0(0x5C, 11.25, 1.25);
        e0(0x5D, 12.5, 1.25);
        e0(0x1D, 13.75, 1.25);
        return k;
    }();
    return spots;
}

const KeySpot* spotFor(ScanCode sc) {
    for (const auto& k : keySpots())
        if (k.prefix == sc.prefix && k.code == sc.code) return &k;
    return nullptr;
}

std::string keyPlace(const Layout& layout, ScanCode sc) {
    if (const KeySpot* k = spotFor(sc); k && *k->pos) return k->pos;
    if (sc.prefix != Prefix::E1)
        if (const auto n = keyName(layout, sc.code, sc.prefix == Prefix::E0); n && !n->empty()) return utf8(*n);
    const char* prefix = sc.prefix == Prefix::E0 ? "e0" : sc.prefix == Prefix::E1 ? "e1" : "sc";
    return fmt::format("{} {:02X}", prefix, sc.code);
}

std::string domCode(ScanCode sc) {
    // Scan code set 1 as browsers name the keys (UI Events KeyboardEvent code
    // values). Index: the plain scan code.
    static const char* const plain[0x59] = {
        "",             "Escape",      "Digit1",       "Digit2",       "Digit3",        "Digit4",
        "Digit5",       "Digit6",      "Digit7",       "Digit8",       "Digit9",        "Digit0",
        "Minus",        "Equal",       "Backspace",    "Tab",          "KeyQ",          "KeyW",
        "KeyE",         "KeyR",        "KeyT",         "KeyY",         "KeyU",          "KeyI",
        "KeyO",         "KeyP",        "BracketLeft",  "BracketRight", "Enter",         "ControlLeft",
        "KeyA",         "KeyS",        "KeyD",         "KeyF",         "KeyG",          "KeyH",
        "KeyJ",         "KeyK",        "KeyL",         "Semicolon",    "Quote",         "Backquote",
        "ShiftLeft",    "Backslash",   "KeyZ",         "KeyX",         "KeyC",          "KeyV",
        "KeyB",         "KeyN",        "KeyM",         "Comma",        "Period",        "Slash",
        "ShiftRight",   "NumpadMultiply", "AltLeft",   "Space",        "CapsLock",      "F1",
        "F2",           "F3",          "F4",           "F5",           "F6",            "F7",
        "F8",           "F9",          "F10",          "NumLock",      "ScrollLock",    "Numpad7",
        "Numpad8",      "Numpad9",     "NumpadSubtract", "Numpad4",    "Numpad5",       "Numpad6",
        "NumpadAdd",    "Numpad1",     "Numpad2",      "Numpad3",      "Numpad0",       "NumpadDecimal",
        "",             "",            "IntlBackslash", "F11",         "F12",
    };
    struct Ext {
        uint8_t     code;
        const char* name;
    };
    static const Ext e0[] = {
        {0x1C, "NumpadEnter"}, {0x1D, "ControlRight"}, {0x35, "NumpadDivide"}, {0x38, "AltRight"},
        {0x47, "Home"},        {0x48, "ArrowUp"},      {0x49, "PageUp"},       {0x4B, "ArrowLeft"},
        {0x4D, "ArrowRight"},  {0x4F, "End"},          {0x50, "ArrowDown"},    {0x51, "PageDown"},
        {0x52, "Insert"},      {0x53, "Delete"},       {0x5B, "MetaLeft"},     {0x5C, "MetaRight"},
        {0x5D, "ContextMenu"},
    };
    if (sc.prefix == Prefix::None) return sc.code < std::size(plain) ? plain[sc.code] : "";
    if (sc.prefix == Prefix::E0)
        for (const auto& e : e0)
            if (e.code == sc.code) return e.name;
    return "";
}

}  // namespace kbd
