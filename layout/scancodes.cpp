// Scan codes to virtual keys: the standard PC keyboard's (kbd_scancodes.inc).
// A code without prefix indexes ausVK directly; a code after E0 or E1 is
// looked up row by row in its list. An entry is the virtual key in the low
// byte and the key flags in the high byte.
#include "checks.h"

// Codes 0x00..0x7E without prefix, one entry per code.
constexpr USHORT ausVK[] = {
#define KBD_SCAN(code, vk, flags) static_cast<USHORT>((vk) | (flags)),
#define KBD_SCAN_E0(code, vk, flags)
#define KBD_SCAN_E1(code, vk, flags)
#include "kbd_scancodes.inc"
#undef KBD_SCAN
#undef KBD_SCAN_E0
#undef KBD_SCAN_E1
};

static_assert(check::count(ausVK) == SCANCODE_TABLE_SIZE,
              "one entry for every code below bMaxVSCtoVK");

// The list gives the codes in order, each once.
constexpr bool codesInOrder() {
    unsigned next = 0;
#define KBD_SCAN(code, vk, flags) if ((code) != next++) return false;
#define KBD_SCAN_E0(code, vk, flags)
#define KBD_SCAN_E1(code, vk, flags)
#include "kbd_scancodes.inc"
#undef KBD_SCAN
#undef KBD_SCAN_E0
#undef KBD_SCAN_E1
    return true;
}
static_assert(codesInOrder());

// Codes after the E0 prefix, in search order, ended by a zero row.
constexpr VSC_VK aE0VscToVk[] = {
#define KBD_SCAN(code, vk, flags)
#define KBD_SCAN_E0(code, vk, flags) { code, static_cast<USHORT>((vk) | (flags)) },
#define KBD_SCAN_E1(code, vk, flags)
#include "kbd_scancodes.inc"
#undef KBD_SCAN
#undef KBD_SCAN_E0
#undef KBD_SCAN_E1
    { 0, 0 },
};

// Codes after the E1 prefix: Pause.
constexpr VSC_VK aE1VscToVk[] = {
#define KBD_SCAN(code, vk, flags)
#define KBD_SCAN_E0(code, vk, flags)
#define KBD_SCAN_E1(code, vk, flags) { code, static_cast<USHORT>((vk) | (flags)) },
#include "kbd_scancodes.inc"
#undef KBD_SCAN
#undef KBD_SCAN_E0
#undef KBD_SCAN_E1
    { 0, 0 },
};

namespace {

template <unsigned M>
constexpr bool terminated(const VSC_VK (&rows)[M]) {
    for (unsigned i = 0; i + 1 < M; ++i)
        if (rows[i].Vsc == 0 && rows[i].Vk == 0) return false;
    return rows[M - 1].Vsc == 0 && rows[M - 1].Vk == 0;
}

// Each code stands once: a second row for a code would never be found.
template <unsigned M>
constexpr bool codesUnique(const VSC_VK (&rows)[M]) {
    for (unsigned i = 0; i + 1 < M; ++i)
        for (unsigned j = i + 1; j + 1 < M; ++j)
            if (rows[i].Vsc == rows[j].Vsc) return false;
    return true;
}

// Every key reached through E0 is an extended key.
template <unsigned M>
constexpr bool allExtended(const VSC_VK (&rows)[M]) {
    for (unsigned i = 0; i + 1 < M; ++i)
        if ((rows[i].Vk & KBDEXT) == 0) return false;
    return true;
}

}  // namespace

static_assert(terminated(aE0VscToVk) && check::count(aE0VscToVk) == 38 + 1);
static_assert(terminated(aE1VscToVk) && check::count(aE1VscToVk) == 1 + 1);
static_assert(codesUnique(aE0VscToVk) && codesUnique(aE1VscToVk));
static_assert(allExtended(aE0VscToVk));
