// Records and constants of the Windows keyboard-layout format, laid out as the
// input subsystem reads them: natural alignment, and pointer fields as wide as
// the subsystem's own pointers. Only the layout images include this header.
// The constants, virtual keys and record offsets come from the lists in the
// kbd_*.inc files, which the host tools read too; the types stay here.
#pragma once

#include "vkcodes.h"

using BYTE   = unsigned char;
using WORD   = unsigned short;
using USHORT = unsigned short;
using DWORD  = unsigned int;
using WCHAR  = wchar_t;

static_assert(sizeof(WCHAR) == 2, "the layout format stores UTF-16 code units");
static_assert(sizeof(DWORD) == 4);

// ---- Pointer fields ---------------------------------------------------------
// The one place that chooses the width of the tables' pointer fields. A
// native image (x86, x64, ARM64) uses its own pointers. The WOW64 image is
// 32-bit x86 code whose tables a 64-bit input subsystem reads: every pointer
// field is 8 bytes, 8-aligned, with the address in the low half and the upper
// half zero. KBD_WOW64 is defined by the build of that image only.
#if defined(KBD_WOW64)
static_assert(sizeof(void*) == 4, "the WOW64 image is 32-bit code");

template <class T>
struct alignas(8) KBD_PTR {
    T*    ptr = nullptr;
    DWORD upper = 0;

    constexpr KBD_PTR() = default;
    constexpr KBD_PTR(decltype(nullptr)) {}
    template <class U>
    constexpr KBD_PTR(U* p) : ptr(p) {}

    constexpr T* get() const { return ptr; }
    template <class U = T>  // a template, so that KBD_PTR<const void> has no element type
    constexpr U& operator[](unsigned i) const {
        return ptr[i];
    }
    constexpr bool operator==(decltype(nullptr)) const { return ptr == nullptr; }
};
inline constexpr unsigned KBD_POINTER_FIELD = 8;
#else
template <class T>
using KBD_PTR = T*;
inline constexpr unsigned KBD_POINTER_FIELD = sizeof(void*);
#endif
static_assert(sizeof(KBD_PTR<const void>) == KBD_POINTER_FIELD);

// ---- Constants: modifier bits, row attributes, cell markers, scan-code and
// locale flags (kbd_constants.inc holds the list) ---------------------------
#define KBD_CONST(group, type, name, value) inline constexpr type name = value;
#include "kbd_constants.inc"

// ---- Records ---------------------------------------------------------------

// One modifier key and the bit it contributes to the modifier mask.
struct VK_TO_BIT {
    BYTE Vk;
    BYTE ModBits;
};
using PVK_TO_BIT = KBD_PTR<const VK_TO_BIT>;

// Largest modifier mask this layout maps to a column. The platform's header
// leaves ModNumber open-ended; a C++ aggregate needs its bound, and every
// layout built from this header covers masks 0..MODIFIERS_MAX_MASK.
inline constexpr WORD MODIFIERS_MAX_MASK = KBDSHIFT | KBDCTRL | KBDALT;

struct MODIFIERS {
    PVK_TO_BIT pVkToBit;
    WORD       wMaxModBits;
    BYTE       ModNumber[MODIFIERS_MAX_MASK + 1];
};
using PMODIFIERS = KBD_PTR<const MODIFIERS>;

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
    KBD_PTR<const void> pVkToWchars;
    BYTE        nModifications;
    BYTE        cbSize;
};
using PVK_TO_WCHAR_TABLE = KBD_PTR<const VK_TO_WCHAR_TABLE>;

// One dead-key composition: base character (low word) and dead character
// (high word) give wchComposed.
struct DEADKEY {
    DWORD  dwBoth;
    WCHAR  wchComposed;
    USHORT uFlags;
};
using PDEADKEY = KBD_PTR<const DEADKEY>;

constexpr DWORD DEADTRANS(WCHAR base, WCHAR dead) {
    return static_cast<DWORD>(base) | (static_cast<DWORD>(dead) << 16);
}

// A key name by scan code.
struct VSC_LPWSTR {
    BYTE         vsc;
    KBD_PTR<const WCHAR> pwsz;
};
using PVSC_LPWSTR = KBD_PTR<const VSC_LPWSTR>;

// A dead-key name: the dead character, then the name.
using PKBD_NAME = KBD_PTR<const WCHAR>;

// A scan code after a prefix byte and its virtual-key entry.
struct VSC_VK {
    BYTE   Vsc;
    USHORT Vk;
};
using PVSC_VK = KBD_PTR<const VSC_VK>;

// The root record returned by KbdLayerDescriptor.
struct KBDTABLES {
    PMODIFIERS          pCharModifiers;
    PVK_TO_WCHAR_TABLE  pVkToWcharTable;
    PDEADKEY            pDeadKey;
    PVSC_LPWSTR         pKeyNames;
    PVSC_LPWSTR         pKeyNamesExt;
    KBD_PTR<const PKBD_NAME> pKeyNamesDead;
    KBD_PTR<const USHORT> pusVSCtoVK;
    BYTE                bMaxVSCtoVK;
    PVSC_VK             pVSCtoVK_E0;
    PVSC_VK             pVSCtoVK_E1;
    DWORD               fLocaleFlags;
    BYTE                nLgMax;
    BYTE                cbLgEntry;
    KBD_PTR<const void> pLigature;
    DWORD               dwType;
    DWORD               dwSubType;
};
using PKBDTABLES = KBD_PTR<const KBDTABLES>;

// ---- The record layout, as the input subsystem reads it --------------------
// P is the width of a pointer field: 4 (KBDTABLES is 0x3C bytes) or 8 (0x68).
#define KBD_OFFSET(T, f) __builtin_offsetof(T, f)
inline constexpr unsigned KBD_P = KBD_POINTER_FIELD;

// Every record and field of the list in kbd_records.inc.
#define P KBD_P
#define KBD_SIZE(record, size) static_assert(sizeof(record) == (size), #record);
#define KBD_FIELD(record, field, offset) static_assert(KBD_OFFSET(record, field) == (offset), #record "." #field);
#include "kbd_records.inc"
#undef P

// Rows of every width the layout uses: 2 + 2N bytes.
static_assert(sizeof(VK_TO_WCHARS1) == 4);
static_assert(sizeof(VK_TO_WCHARS2) == 6);
static_assert(sizeof(VK_TO_WCHARS3) == 8);
static_assert(sizeof(VK_TO_WCHARS5) == 12);
static_assert(KBD_OFFSET(VK_TO_WCHARS5, Attributes) == 1);
static_assert(KBD_OFFSET(VK_TO_WCHARS5, wch) == 2);

#undef KBD_OFFSET

// The layout's one export: the address of its root record. The WOW64 image
// returns it as a 64-bit value (upper half, in EDX, zero).
#if defined(KBD_WOW64)
using KBD_ROOT = unsigned long long;
#else
using KBD_ROOT = const KBDTABLES*;
#endif
extern "C" KBD_ROOT KbdLayerDescriptor();
