// Key names for display, English, by scan code: keys without prefix, keys
// after E0, and the dead keys. Character keys of the main block have no row:
// the platform names them by the character they give.
#include "checks.h"

constexpr VSC_LPWSTR aKeyNames[] = {
    {0x01, L"Esc"        },
    {0x0E, L"Backspace"  },
    {0x0F, L"Tab"        },
    {0x1C, L"Enter"      },
    {0x1D, L"Ctrl"       },
    {0x2A, L"Shift"      },
    {0x36, L"Right Shift"},
    {0x37, L"Num *"      },
    {0x38, L"Alt"        },
    {0x39, L"Space"      },
    {0x3A, L"Caps Lock"  },
    {0x3B, L"F1"         },
    {0x3C, L"F2"         },
    {0x3D, L"F3"         },
    {0x3E, L"F4"         },
    {0x3F, L"F5"         },
    {0x40, L"F6"         },
    {0x41, L"F7"         },
    {0x42, L"F8"         },
    {0x43, L"F9"         },
    {0x44, L"F10"        },
    {0x45, L"Pause"      },
    {0x46, L"Scroll Lock"},
    {0x47, L"Num 7"      },
    {0x48, L"Num 8"      },
    {0x49, L"Num 9"      },
    {0x4A, L"Num -"      },
    {0x4B, L"Num 4"      },
    {0x4C, L"Num 5"      },
    {0x4D, L"Num 6"      },
    {0x4E, L"Num +"      },
    {0x4F, L"Num 1"      },
    {0x50, L"Num 2"      },
    {0x51, L"Num 3"      },
    {0x52, L"Num 0"      },
    {0x53, L"Num Del"    },
    {0x54, L"Sys Req"    },
    {0x57, L"F11"        },
    {0x58, L"F12"        },
    // F13 to F24 by the codes that keyboards with those keys send for names.
    {0x7C, L"F13"        },
    {0x7D, L"F14"        },
    {0x7E, L"F15"        },
    {0x7F, L"F16"        },
    {0x80, L"F17"        },
    {0x81, L"F18"        },
    {0x82, L"F19"        },
    {0x83, L"F20"        },
    {0x84, L"F21"        },
    {0x85, L"F22"        },
    {0x86, L"F23"        },
    {0x87, L"F24"        },
    {0,    nullptr       },
};

constexpr VSC_LPWSTR aKeyNamesExt[] = {
    {0x1C, L"Num Enter"    },
    {0x1D, L"Right Ctrl"   },
    {0x35, L"Num /"        },
    {0x37, L"Prnt Scrn"    },
    {0x38, L"Right Alt"    },
    {0x45, L"Num Lock"     },
    {0x46, L"Break"        },
    {0x47, L"Home"         },
    {0x48, L"Up"           },
    {0x49, L"Page Up"      },
    {0x4B, L"Left"         },
    {0x4D, L"Right"        },
    {0x4F, L"End"          },
    {0x50, L"Down"         },
    {0x51, L"Page Down"    },
    {0x52, L"Insert"       },
    {0x53, L"Delete"       },
    {0x54, L"<00>"         },
    {0x56, L"Help"         },
    {0x5B, L"Left Windows" },
    {0x5C, L"Right Windows"},
    {0x5D, L"Application"  },
    {0,    nullptr         },
};

// Each name starts with the dead character itself, then its Unicode name;
// the platform finds a dead key's name by that first character.
constexpr PKBD_NAME aKeyNamesDead[] = {
    L"="       L"EQUALS SIGN",
    L"\x00AF"  L"MACRON",
    L"\x00B0"  L"DEGREE SIGN",
    L"^"       L"CIRCUMFLEX ACCENT",
    L"*"       L"ASTERISK",
    L"_"       L"LOW LINE",
    L"h"       L"LATIN SMALL LETTER H",
    L"\x00B4"  L"ACUTE ACCENT",
    L"~"       L"TILDE",
    L","       L"COMMA",
    L"."       L"FULL STOP",
    nullptr,
};

namespace {

template <unsigned M>
constexpr bool ascendingAndTerminated(const VSC_LPWSTR (&rows)[M]) {
    for (unsigned i = 0; i + 1 < M; ++i) {
        if (rows[i].vsc == 0 || rows[i].pwsz == nullptr || rows[i].pwsz[0] == 0) return false;
        if (i > 0 && rows[i].vsc <= rows[i - 1].vsc) return false;
    }
    return rows[M - 1].vsc == 0 && rows[M - 1].pwsz == nullptr;
}
static_assert(check::count(aKeyNames) == 51 + 1 && ascendingAndTerminated(aKeyNames));
static_assert(check::count(aKeyNamesExt) == 22 + 1 && ascendingAndTerminated(aKeyNamesExt));

// One name per dead character, in the same order, each starting with it.
constexpr bool deadNamesAgree() {
    if (check::count(aKeyNamesDead) != kDeadCharCount + 1 || aKeyNamesDead[kDeadCharCount] != nullptr)
        return false;
    for (unsigned i = 0; i < kDeadCharCount; ++i)
        if (aKeyNamesDead[i][0] != kDeadChars[i] || aKeyNamesDead[i][1] == 0) return false;
    return true;
}
static_assert(deadNamesAgree());

}  // namespace
