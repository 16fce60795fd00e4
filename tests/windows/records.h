// The records of a keyboard-layout tree as a 64-bit input subsystem reads
// them: the platform's declarations with native x64 pointers and natural
// alignment. Written here on their own, not taken from the layout's sources,
// so that a record the layout lays out wrongly shows as a difference.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace rec {

struct VK_TO_BIT {
    uint8_t Vk;
    uint8_t ModBits;
};

// ModNumber runs on to index wMaxModBits.
struct MODIFIERS {
    const VK_TO_BIT* pVkToBit;
    uint16_t         wMaxModBits;
    uint8_t          ModNumber[1];
};

// A character row; wch has nModifications cells and rows are cbSize apart.
struct VK_TO_WCHARS1 {
    uint8_t  VirtualKey;
    uint8_t  Attributes;
    char16_t wch[1];
};

struct VK_TO_WCHAR_TABLE {
    const VK_TO_WCHARS1* pVkToWchars;
    uint8_t              nModifications;
    uint8_t              cbSize;
};

struct DEADKEY {
    uint32_t dwBoth;  // base character in the low word, dead character in the high word
    char16_t wchComposed;
    uint16_t uFlags;
};

struct VSC_LPWSTR {
    uint8_t         vsc;
    const char16_t* pwsz;
};

struct VSC_VK {
    uint8_t  Vsc;
    uint16_t Vk;
};

struct KBDTABLES {
    const MODIFIERS*         pCharModifiers;
    const VK_TO_WCHAR_TABLE* pVkToWcharTable;
    const DEADKEY*           pDeadKey;
    const VSC_LPWSTR*        pKeyNames;
    const VSC_LPWSTR*        pKeyNamesExt;
    const char16_t* const*   pKeyNamesDead;
    const uint16_t*          pusVSCtoVK;
    uint8_t                  bMaxVSCtoVK;
    const VSC_VK*            pVSCtoVK_E0;
    const VSC_VK*            pVSCtoVK_E1;
    uint32_t                 fLocaleFlags;
    uint8_t                  nLgMax;
    uint8_t                  cbLgEntry;
    const void*              pLigature;
    uint32_t                 dwType;
    uint32_t                 dwSubType;
};

static_assert(sizeof(void*) == 8, "the records of a 64-bit input subsystem");
static_assert(sizeof(VK_TO_BIT) == 2);
static_assert(offsetof(MODIFIERS, wMaxModBits) == 8 && offsetof(MODIFIERS, ModNumber) == 10);
static_assert(offsetof(VK_TO_WCHARS1, wch) == 2);
static_assert(sizeof(VK_TO_WCHAR_TABLE) == 16 && offsetof(VK_TO_WCHAR_TABLE, nModifications) == 8 &&
              offsetof(VK_TO_WCHAR_TABLE, cbSize) == 9);
static_assert(sizeof(DEADKEY) == 8 && offsetof(DEADKEY, wchComposed) == 4 && offsetof(DEADKEY, uFlags) == 6);
static_assert(sizeof(VSC_LPWSTR) == 16 && offsetof(VSC_LPWSTR, pwsz) == 8);
static_assert(sizeof(VSC_VK) == 4 && offsetof(VSC_VK, Vk) == 2);
static_assert(sizeof(KBDTABLES) == 0x68);
static_assert(offsetof(KBDTABLES, pusVSCtoVK) == 0x30 && offsetof(KBDTABLES, bMaxVSCtoVK) == 0x38 &&
              offsetof(KBDTABLES, pVSCtoVK_E0) == 0x40 && offsetof(KBDTABLES, fLocaleFlags) == 0x50 &&
              offsetof(KBDTABLES, nLgMax) == 0x54 && offsetof(KBDTABLES, cbLgEntry) == 0x55 &&
              offsetof(KBDTABLES, pLigature) == 0x58 && offsetof(KBDTABLES, dwType) == 0x60 &&
              offsetof(KBDTABLES, dwSubType) == 0x64);

}  // namespace rec
