// Key names for display. Keys without prefix and keys after E0 are named by
// scan code, in ascending order; the character keys of the main block have no
// entry. A dead key's name string begins with its dead character, followed at
// once by the character's name, in the order of the dead keys.
#include "checks.h"

// Keys without prefix.
constexpr VSC_LPWSTR aKeyNames[] = {
    { 0x01, L"Esc"         },
    { 0x0E, L"Backspace"   },
    { 0x0F, L"Tab"         },
    { 0x1C, L"Enter"       },
    { 0x1D, L"Ctrl"        },
    { 0x2A, L"Shift"       },
    { 0x36, L"Right Shift" },
    { 0x37, L"Num *"       },
    { 0x38, L"Alt"         },
    { 0x39, L"Space"       },
    { 0x3A, L"Caps Lock"   },
    { 0x3B, L"F1"          },
    { 0x3C, L"F2"          },
    { 0x3D, L"F3"          },
    { 0x3E, L"F4"          },
    { 0x3F, L"F5"          },
    { 0x40, L"F6"          },
    { 0x41, L"F7"          },
    { 0x42, L"F8"          },
    { 0x43, L"F9"          },
    { 0x44, L"F10"         },
    { 0x45, L"Pause"       },
    { 0x46, L"Scroll Lock" },
    { 0x47, L"Num 7"       },
    { 0x48, L"Num 8"       },
    { 0x49, L"Num 9"       },
    { 0x4A, L"Num -"       },
    { 0x4B, L"Num 4"       },
    { 0x4C, L"Num 5"       },
    { 0x4D, L"Num 6"       },
    { 0x4E, L"Num +"       },
    { 0x4F, L"Num 1"       },
    { 0x50, L"Num 2"       },
    { 0x51, L"Num 3"       },
    { 0x52, L"Num 0"       },
    { 0x53, L"Num Del"     },
    { 0x54, L"Sys Req"     },
    { 0x57, L"F11"         },
    { 0x58, L"F12"         },
    { 0x7C, L"F13"         },
    { 0x7D, L"F14"         },
    { 0x7E, L"F15"         },
    { 0x7F, L"F16"         },
    { 0x80, L"F17"         },
    { 0x81, L"F18"         },
    { 0x82, L"F19"         },
    { 0x83, L"F20"         },
    { 0x84, L"F21"         },
    { 0x85, L"F22"         },
    { 0x86, L"F23"         },
    { 0x87, L"F24"         },
    { 0,    nullptr        },
};

// Keys after the E0 prefix.
constexpr VSC_LPWSTR aKeyNamesExt[] = {
    { 0x1C, L"Num Enter"     },
    { 0x1D, L"Right Ctrl"    },
    { 0x35, L"Num /"         },
    { 0x37, L"Prnt Scrn"     },
    { 0x38, L"Right Alt"     },
    { 0x45, L"Num Lock"      },
    { 0x46, L"Break"         },
    { 0x47, L"Home"          },
    { 0x48, L"Up"            },
    { 0x49, L"Page Up"       },
    { 0x4B, L"Left"          },
    { 0x4D, L"Right"         },
    { 0x4F, L"End"           },
    { 0x50, L"Down"          },
    { 0x51, L"Page Down"     },
    { 0x52, L"Insert"        },
    { 0x53, L"Delete"        },
    { 0x54, L"<00>"          },
    { 0x56, L"Help"          },
    { 0x5B, L"Left Windows"  },
    { 0x5C, L"Right Windows" },
    { 0x5D, L"Application"   },
    { 0,    nullptr          },
};

// Dead keys: dead character, then its name.
constexpr PKBD_NAME aKeyNamesDead[] = {
    L"\x003D" L"EQUALS SIGN",           // =
    L"\x00AF" L"MACRON",                // ¯
    L"\x00B0" L"DEGREE SIGN",           // °
    L"\x005E" L"CIRCUMFLEX ACCENT",     // ^
    L"\x002A" L"ASTERISK",              // *
    L"\x005F" L"LOW LINE",              // _
    L"\x0068" L"LATIN SMALL LETTER H",  // h
    L"\x00B4" L"ACUTE ACCENT",          // ´
    L"\x007E" L"TILDE",                 // ~
    L"\x002C" L"COMMA",                 // ,
    L"\x002E" L"FULL STOP",             // .
    nullptr,
};

namespace {

template <unsigned M>
constexpr bool ascendingAndTerminated(const VSC_LPWSTR (&rows)[M]) {
    for (unsigned i = 0; i + 1 < M; ++i) {
        if (rows[i].pwsz == nullptr || rows[i].pwsz[0] == 0) return false;
        if (i > 0 && rows[i - 1].vsc >= rows[i].vsc) return false;
    }
    return rows[M - 1].vsc == 0 && rows[M - 1].pwsz == nullptr;
}

// Each dead name starts with its dead character and has a name after it.
constexpr bool deadNamesMatch() {
    for (unsigned i = 0; i < kDeadCharCount; ++i) {
        const PKBD_NAME& s = aKeyNamesDead[i];
        if (s == nullptr || s[0] != kDeadChars[i] || s[1] == 0) return false;
    }
    return aKeyNamesDead[kDeadCharCount] == nullptr;
}

}  // namespace

static_assert(check::count(aKeyNames) == 51 + 1);
static_assert(check::count(aKeyNamesExt) == 22 + 1);
static_assert(check::count(aKeyNamesDead) == kDeadCharCount + 1 && kDeadCharCount == 11);
static_assert(ascendingAndTerminated(aKeyNames));
static_assert(ascendingAndTerminated(aKeyNamesExt));
static_assert(deadNamesMatch());
