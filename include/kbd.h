// Records and constants of the Windows keyboard-layout format, laid out as the
// input subsystem reads them from a 32-bit x86 image: 4-byte pointers, natural
// alignment. Only the layout image includes this header; host tools read the
// built file with their own offsets and never see these types.
#pragma once

#include "vkcodes.h"

using BYTE   = unsigned char;
using WORD   = unsigned short;
using USHORT = unsigned short;
using DWORD  = unsigned int;
using WCHAR  = wchar_t;

static_assert(sizeof(WCHAR) == 2, "the layout format stores UTF-16 code units");
static_assert(sizeof(DWORD) == 4);
static_assert(sizeof(void*) == 4, "this header describes the 32-bit image");

// ---- Modifier bits and shift-state columns --------------------------------
inline constexpr BYTE KBDBASE  = 0x00;
inline constexpr BYTE KBDSHIFT = 0x01;
inline constexpr BYTE KBDCTRL  = 0x02;
inline constexpr BYTE KBDALT   = 0x04;
inline constexpr BYTE KBDKANA  = 0x08;

// ModNumber value for a modifier combination that gives no character.
inline constexpr BYTE SHFT_INVALID = 0x0F;

// ---- Row attributes --------------------------------------------------------
inline constexpr BYTE CAPLOCK     = 0x01;  // Caps Lock swaps Base and Shift
inline constexpr BYTE SGCAPS      = 0x02;
inline constexpr BYTE CAPLOKALTGR = 0x04;  // Caps Lock swaps AltGr and Shift+AltGr
inline constexpr BYTE KANALOK     = 0x08;
inline constexpr BYTE GRPSELTAP   = 0x80;

// ---- Cell markers (not characters) -----------------------------------------
inline constexpr WCHAR WCH_NONE = 0xF000;  // no character in this cell
inline constexpr WCHAR WCH_DEAD = 0xF001;  // dead key: next row holds the dead character
inline constexpr WCHAR WCH_LGTR = 0xF002;  // ligature

// ---- Scan-code entry flags (high byte of a 16-bit entry) -------------------
inline constexpr USHORT KBDEXT     = 0x0100;
inline constexpr USHORT KBDMULTIVK = 0x0200;
inline constexpr USHORT KBDSPECIAL = 0x0400;
inline constexpr USHORT KBDNUMPAD  = 0x0800;
inline constexpr USHORT KBDUNICODE = 0x1000;
inline constexpr USHORT KBDINJECTEDVK = 0x2000;
inline constexpr USHORT KBDMAPPEDVK   = 0x4000;
inline constexpr USHORT KBDBREAK      = 0x8000;

// ---- Locale flags (low word) and table version (high word) -----------------
inline constexpr DWORD KLLF_ALTGR     = 0x0001;
inline constexpr DWORD KLLF_SHIFTLOCK = 0x0002;
inline constexpr DWORD KLLF_LRM_RLM   = 0x0004;
inline constexpr DWORD KBD_VERSION    = 1;

// Dead-key composition flag: the composed character is itself dead.
inline constexpr USHORT DKF_DEAD = 0x0001;

// ---- Records ---------------------------------------------------------------

// One modifier key and the bit it contributes to the modifier mask.
struct VK_TO_BIT {
    BYTE Vk;
    BYTE ModBits;
};
using PVK_TO_BIT = const VK_TO_BIT*;

// Largest modifier mask this layout maps to a column. The platform's header
// leaves ModNumber open-ended; a C++ aggregate needs its bound, and every
// layout built from this header covers masks 0..MODIFIERS_MAX_MASK.
inline constexpr WORD MODIFIERS_MAX_MASK = KBDSHIFT | KBDCTRL | KBDALT;

struct MODIFIERS {
    PVK_TO_BIT pVkToBit;
    WORD       wMaxModBits;
    BYTE       ModNumber[MODIFIERS_MAX_MASK + 1];
};
using PMODIFIERS = const MODIFIERS*;

// A character row with N shift-state columns: Base, Shift, Ctrl, AltGr, Shift+AltGr.
template <unsigned N>
struct VK_TO_WCHARS {
    BYTE  VirtualKey;
    BYTE  Attributes;
    WCHAR wch[N];
};
using VK_TO_WCHARS1 = VK_TO_WCHARS<1>;
using VK_TO_WCHARS2 = VK_TO_WCHARS<2>;
using VK_TO_WCHARS3 = VK_TO_WCHARS<3>;
using VK_TO_WCHARS5 = VK_TO_WCHARS<5>;

// One entry of the list of character tables. The platform types the row
// pointer as a pointer to the one-column row and reads it with cbSize as the
// stride; here it is an untyped pointer of the same width, so that tables of
// every row type can be named in a constant initialiser without a cast.
struct VK_TO_WCHAR_TABLE {
    const void* pVkToWchars;
    BYTE        nModifications;
    BYTE        cbSize;
};
using PVK_TO_WCHAR_TABLE = const VK_TO_WCHAR_TABLE*;

// One dead-key composition: base character (low word) and dead character
// (high word) give wchComposed.
struct DEADKEY {
    DWORD  dwBoth;
    WCHAR  wchComposed;
    USHORT uFlags;
};
using PDEADKEY = const DEADKEY*;

constexpr DWORD DEADTRANS(WCHAR base, WCHAR dead) {
    return static_cast<DWORD>(base) | (static_cast<DWORD>(dead) << 16);
}

// A key name by scan code.
struct VSC_LPWSTR {
    BYTE         vsc;
    const WCHAR* pwsz;
};
using PVSC_LPWSTR = const VSC_LPWSTR*;

// A scan code after a prefix byte and its virtual-key entry.
struct VSC_VK {
    BYTE   Vsc;
    USHORT Vk;
};
using PVSC_VK = const VSC_VK*;

// The root record returned by KbdLayerDescriptor.
struct KBDTABLES {
    PMODIFIERS          pCharModifiers;
    PVK_TO_WCHAR_TABLE  pVkToWcharTable;
    PDEADKEY            pDeadKey;
    PVSC_LPWSTR         pKeyNames;
    PVSC_LPWSTR         pKeyNamesExt;
    const WCHAR* const* pKeyNamesDead;
    const USHORT*       pusVSCtoVK;
    BYTE                bMaxVSCtoVK;
    PVSC_VK             pVSCtoVK_E0;
    PVSC_VK             pVSCtoVK_E1;
    DWORD               fLocaleFlags;
    BYTE                nLgMax;
    BYTE                cbLgEntry;
    const void*         pLigature;
    DWORD               dwType;
    DWORD               dwSubType;
};
using PKBDTABLES = const KBDTABLES*;

// ---- The 32-bit record layout, as the input subsystem reads it ------------
#define KBD_OFFSET(T, f) __builtin_offsetof(T, f)

static_assert(sizeof(VK_TO_BIT) == 2);
static_assert(sizeof(MODIFIERS) == 16);
static_assert(KBD_OFFSET(MODIFIERS, pVkToBit) == 0);
static_assert(KBD_OFFSET(MODIFIERS, wMaxModBits) == 4);
static_assert(KBD_OFFSET(MODIFIERS, ModNumber) == 6);

static_assert(sizeof(VK_TO_WCHARS1) == 4);
static_assert(sizeof(VK_TO_WCHARS2) == 6);
static_assert(sizeof(VK_TO_WCHARS3) == 8);
static_assert(sizeof(VK_TO_WCHARS5) == 12);
static_assert(KBD_OFFSET(VK_TO_WCHARS5, Attributes) == 1);
static_assert(KBD_OFFSET(VK_TO_WCHARS5, wch) == 2);

static_assert(sizeof(VK_TO_WCHAR_TABLE) == 8);
static_assert(KBD_OFFSET(VK_TO_WCHAR_TABLE, nModifications) == 4);
static_assert(KBD_OFFSET(VK_TO_WCHAR_TABLE, cbSize) == 5);

static_assert(sizeof(DEADKEY) == 8);
static_assert(KBD_OFFSET(DEADKEY, wchComposed) == 4);
static_assert(KBD_OFFSET(DEADKEY, uFlags) == 6);

static_assert(sizeof(VSC_LPWSTR) == 8);
static_assert(KBD_OFFSET(VSC_LPWSTR, pwsz) == 4);

static_assert(sizeof(VSC_VK) == 4);
static_assert(KBD_OFFSET(VSC_VK, Vk) == 2);

static_assert(sizeof(KBDTABLES) == 0x3C);
static_assert(KBD_OFFSET(KBDTABLES, pCharModifiers) == 0x00);
static_assert(KBD_OFFSET(KBDTABLES, pVkToWcharTable) == 0x04);
static_assert(KBD_OFFSET(KBDTABLES, pDeadKey) == 0x08);
static_assert(KBD_OFFSET(KBDTABLES, pKeyNames) == 0x0C);
static_assert(KBD_OFFSET(KBDTABLES, pKeyNamesExt) == 0x10);
static_assert(KBD_OFFSET(KBDTABLES, pKeyNamesDead) == 0x14);
static_assert(KBD_OFFSET(KBDTABLES, pusVSCtoVK) == 0x18);
static_assert(KBD_OFFSET(KBDTABLES, bMaxVSCtoVK) == 0x1C);
static_assert(KBD_OFFSET(KBDTABLES, pVSCtoVK_E0) == 0x20);
static_assert(KBD_OFFSET(KBDTABLES, pVSCtoVK_E1) == 0x24);
static_assert(KBD_OFFSET(KBDTABLES, fLocaleFlags) == 0x28);
static_assert(KBD_OFFSET(KBDTABLES, nLgMax) == 0x2C);
static_assert(KBD_OFFSET(KBDTABLES, cbLgEntry) == 0x2D);
static_assert(KBD_OFFSET(KBDTABLES, pLigature) == 0x30);
static_assert(KBD_OFFSET(KBDTABLES, dwType) == 0x34);
static_assert(KBD_OFFSET(KBDTABLES, dwSubType) == 0x38);

#undef KBD_OFFSET

// The layout's one export: the address of its root record.
extern "C" PKBDTABLES KbdLayerDescriptor();
