// Modifier keys and the columns their combinations select. Shift, Ctrl and
// Alt each contribute one bit; the mask indexes ModNumber to pick the column
// of the character tables (Base, Shift, Ctrl, AltGr, Shift+AltGr). Right Alt
// counts as Ctrl+Alt because the root record sets KLLF_ALTGR.
#include "checks.h"

namespace {

constexpr VK_TO_BIT aVkToBits[] = {
    { VK_SHIFT,   KBDSHIFT },
    { VK_CONTROL, KBDCTRL  },
    { VK_MENU,    KBDALT   },
    { 0,          0        },
};

// Column numbers, as named for the character tables.
constexpr BYTE COL_BASE        = 0;
constexpr BYTE COL_SHIFT       = 1;
constexpr BYTE COL_CTRL        = 2;
constexpr BYTE COL_ALTGR       = 3;
constexpr BYTE COL_SHIFT_ALTGR = 4;

static_assert(aVkToBits[check::count(aVkToBits) - 1].Vk == 0 &&
              aVkToBits[check::count(aVkToBits) - 1].ModBits == 0,
              "the modifier rows end with their terminator");

}  // namespace

constexpr MODIFIERS CharModifiers = {
    aVkToBits,
    MODIFIERS_MAX_MASK,
    {
        COL_BASE,         // 000 = <none>
        COL_SHIFT,        // 001 = Shift
        COL_CTRL,         // 010 = Ctrl
        SHFT_INVALID,     // 011 = Shift Ctrl
        SHFT_INVALID,     // 100 = Alt
        SHFT_INVALID,     // 101 = Shift Alt
        COL_ALTGR,        // 110 = Ctrl Alt (AltGr)
        COL_SHIFT_ALTGR,  // 111 = Shift Ctrl Alt (Shift+AltGr)
    },
};

static_assert(CharModifiers.wMaxModBits + 1 == sizeof CharModifiers.ModNumber,
              "ModNumber covers every mask up to wMaxModBits");
static_assert(CharModifiers.ModNumber[KBDCTRL | KBDALT] == COL_ALTGR &&
              CharModifiers.ModNumber[KBDSHIFT | KBDCTRL | KBDALT] == COL_SHIFT_ALTGR,
              "AltGr reaches the AltGr columns");
