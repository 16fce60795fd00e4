#include "xkb_keys.h"

#include <array>

#include <xkbcommon/xkbcommon-keysyms.h>

namespace kbd::xkb {
namespace {

constexpr Prefix P0 = Prefix::None, E0 = Prefix::E0;
constexpr KeyRole LAYOUT = KeyRole::Layout, KEYPAD = KeyRole::Keypad, CONTROL = KeyRole::Control,
                  MODIFIER = KeyRole::Modifier;

constexpr std::array kPositions = std::to_array<KeyPosition>({
//    scan code      evdev  XKB name  role      stock keysym         navigation keysym
    { {P0, 0x29},     41,   "TLDE",   LAYOUT,   0,                   0                 },
    { {P0, 0x02},      2,   "AE01",   LAYOUT,   0,                   0                 },
    { {P0, 0x03},      3,   "AE02",   LAYOUT,   0,                   0                 },
    { {P0, 0x04},      4,   "AE03",   LAYOUT,   0,                   0                 },
    { {P0, 0x05},      5,   "AE04",   LAYOUT,   0,                   0                 },
    { {P0, 0x06},      6,   "AE05",   LAYOUT,   0,                   0                 },
    { {P0, 0x07},      7,   "AE06",   LAYOUT,   0,                   0                 },
    { {P0, 0x08},      8,   "AE07",   LAYOUT,   0,                   0                 },
    { {P0, 0x09},      9,   "AE08",   LAYOUT,   0,                   0                 },
    { {P0, 0x0A},     10,   "AE09",   LAYOUT,   0,                   0                 },
    { {P0, 0x0B},     11,   "AE10",   LAYOUT,   0,                   0                 },
    { {P0, 0x0C},     12,   "AE11",   LAYOUT,   0,                   0                 },
    { {P0, 0x0D},     13,   "AE12",   LAYOUT,   0,                   0                 },
    { {P0, 0x7D},    124,   "AE13",   LAYOUT,   0,                   0                 },  // Yen key (JIS)
    { {P0, 0x10},     16,   "AD01",   LAYOUT,   0,                   0                 },
    { {P0, 0x11},     17,   "AD02",   LAYOUT,   0,                   0                 },
    { {P0, 0x12},     18,   "AD03",   LAYOUT,   0,                   0                 },
    { {P0, 0x13},     19,   "AD04",   LAYOUT,   0,                   0                 },
    { {P0, 0x14},     20,   "AD05",   LAYOUT,   0,                   0                 },
    { {P0, 0x15},     21,   "AD06",   LAYOUT,   0,                   0                 },
    { {P0, 0x16},     22,   "AD07",   LAYOUT,   0,                   0                 },
    { {P0, 0x17},     23,   "AD08",   LAYOUT,   0,                   0                 },
    { {P0, 0x18},     24,   "AD09",   LAYOUT,   0,                   0                 },
    { {P0, 0x19},     25,   "AD10",   LAYOUT,   0,                   0                 },
    { {P0, 0x1A},     26,   "AD11",   LAYOUT,   0,                   0                 },
    { {P0, 0x1B},     27,   "AD12",   LAYOUT,   0,                   0                 },
    { {P0, 0x1E},     30,   "AC01",   LAYOUT,   0,                   0                 },
    { {P0, 0x1F},     31,   "AC02",   LAYOUT,   0,                   0                 },
    { {P0, 0x20},     32,   "AC03",   LAYOUT,   0,                   0                 },
    { {P0, 0x21},     33,   "AC04",   LAYOUT,   0,                   0                 },
    { {P0, 0x22},     34,   "AC05",   LAYOUT,   0,                   0                 },
    { {P0, 0x23},     35,   "AC06",   LAYOUT,   0,                   0                 },
    { {P0, 0x24},     36,   "AC07",   LAYOUT,   0,                   0                 },
    { {P0, 0x25},     37,   "AC08",   LAYOUT,   0,                   0                 },
    { {P0, 0x26},     38,   "AC09",   LAYOUT,   0,                   0                 },
    { {P0, 0x27},     39,   "AC10",   LAYOUT,   0,                   0                 },
    { {P0, 0x28},     40,   "AC11",   LAYOUT,   0,                   0                 },
    { {P0, 0x2B},     43,   "BKSL",   LAYOUT,   0,                   0                 },
    { {P0, 0x56},     86,   "LSGT",   LAYOUT,   0,                   0                 },  // 102nd key (ISO)
    { {P0, 0x2C},     44,   "AB01",   LAYOUT,   0,                   0                 },
    { {P0, 0x2D},     45,   "AB02",   LAYOUT,   0,                   0                 },
    { {P0, 0x2E},     46,   "AB03",   LAYOUT,   0,                   0                 },
    { {P0, 0x2F},     47,   "AB04",   LAYOUT,   0,                   0                 },
    { {P0, 0x30},     48,   "AB05",   LAYOUT,   0,                   0                 },
    { {P0, 0x31},     49,   "AB06",   LAYOUT,   0,                   0                 },
    { {P0, 0x32},     50,   "AB07",   LAYOUT,   0,                   0                 },
    { {P0, 0x33},     51,   "AB08",   LAYOUT,   0,                   0                 },
    { {P0, 0x34},     52,   "AB09",   LAYOUT,   0,                   0                 },
    { {P0, 0x35},     53,   "AB10",   LAYOUT,   0,                   0                 },
    { {P0, 0x73},     89,   "AB11",   LAYOUT,   0,                   0                 },  // Ro key (JIS)
    { {P0, 0x39},     57,   "SPCE",   LAYOUT,   0,                   0                 },
    { {P0, 0x47},     71,   "KP7",    KEYPAD,   XKB_KEY_KP_7,        XKB_KEY_KP_Home   },
    { {P0, 0x48},     72,   "KP8",    KEYPAD,   XKB_KEY_KP_8,        XKB_KEY_KP_Up     },
    { {P0, 0x49},     73,   "KP9",    KEYPAD,   XKB_KEY_KP_9,        XKB_KEY_KP_Prior  },
    { {P0, 0x4B},     75,   "KP4",    KEYPAD,   XKB_KEY_KP_4,        XKB_KEY_KP_Left   },
    { {P0, 0x4C},     76,   "KP5",    KEYPAD,   XKB_KEY_KP_5,        XKB_KEY_KP_Begin  },
    { {P0, 0x4D},     77,   "KP6",    KEYPAD,   XKB_KEY_KP_6,        XKB_KEY_KP_Right  },
    { {P0, 0x4F},     79,   "KP1",    KEYPAD,   XKB_KEY_KP_1,        XKB_KEY_KP_End    },
    { {P0, 0x50},     80,   "KP2",    KEYPAD,   XKB_KEY_KP_2,        XKB_KEY_KP_Down   },
    { {P0, 0x51},     81,   "KP3",    KEYPAD,   XKB_KEY_KP_3,        XKB_KEY_KP_Next   },
    { {P0, 0x52},     82,   "KP0",    KEYPAD,   XKB_KEY_KP_0,        XKB_KEY_KP_Insert },
    { {P0, 0x53},     83,   "KPDL",   KEYPAD,   XKB_KEY_KP_Decimal,  XKB_KEY_KP_Delete },
    { {P0, 0x37},     55,   "KPMU",   KEYPAD,   XKB_KEY_KP_Multiply, 0                 },
    { {P0, 0x4A},     74,   "KPSU",   KEYPAD,   XKB_KEY_KP_Subtract, 0                 },
    { {P0, 0x4E},     78,   "KPAD",   KEYPAD,   XKB_KEY_KP_Add,      0                 },
    { {E0, 0x35},     98,   "KPDV",   KEYPAD,   XKB_KEY_KP_Divide,   0                 },
    { {P0, 0x01},      1,   "ESC",    CONTROL,  XKB_KEY_Escape,      0                 },
    { {P0, 0x0E},     14,   "BKSP",   CONTROL,  XKB_KEY_BackSpace,   0                 },
    { {P0, 0x0F},     15,   "TAB",    CONTROL,  XKB_KEY_Tab,         0                 },
    { {P0, 0x1C},     28,   "RTRN",   CONTROL,  XKB_KEY_Return,      0                 },
    { {E0, 0x1C},     96,   "KPEN",   CONTROL,  XKB_KEY_KP_Enter,    0                 },
    { {P0, 0x2A},     42,   "LFSH",   MODIFIER, 0,                   0                 },
    { {P0, 0x36},     54,   "RTSH",   MODIFIER, 0,                   0                 },
    { {P0, 0x1D},     29,   "LCTL",   MODIFIER, 0,                   0                 },
    { {E0, 0x1D},     97,   "RCTL",   MODIFIER, 0,                   0                 },
    { {P0, 0x38},     56,   "LALT",   MODIFIER, 0,                   0                 },
    { {E0, 0x38},    100,   "RALT",   MODIFIER, 0,                   0                 },
    { {P0, 0x3A},     58,   "CAPS",   MODIFIER, 0,                   0                 },
    { {P0, 0x45},     69,   "NMLK",   MODIFIER, 0,                   0                 },
});

}  // namespace

std::span<const KeyPosition> keyPositions() { return kPositions; }

std::optional<KeyPosition> positionOf(ScanCode scan) {
    for (const auto& p : kPositions)
        if (p.scan.prefix == scan.prefix && p.scan.code == scan.code) return p;
    return std::nullopt;
}

std::optional<KeyPosition> positionNamed(std::string_view name) {
    for (const auto& p : kPositions)
        if (p.name == name) return p;
    return std::nullopt;
}

}  // namespace kbd::xkb
