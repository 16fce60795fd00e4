// Key names for display: the standard keyboard's (kbd_keynames.inc), by scan
// code in ascending order; the character keys of the main block have no
// entry. A dead key's name string begins with its dead character, followed at
// once by the character's name, in the order of the dead keys.
#include "checks.h"

// Keys without prefix.
constexpr VSC_LPWSTR aKeyNames[] = {
#define KBD_KEY_NAME(code, name)         { code, name },
#define KBD_KEY_NAME_MORE(code, name)    { code, name },
#define KBD_KEY_NAME_E0(code, name)
#define KBD_KEY_NAME_E0_MORE(code, name)
#include "kbd_keynames.inc"
#undef KBD_KEY_NAME
#undef KBD_KEY_NAME_MORE
#undef KBD_KEY_NAME_E0
#undef KBD_KEY_NAME_E0_MORE
    { 0, nullptr },
};

// Keys after the E0 prefix.
constexpr VSC_LPWSTR aKeyNamesExt[] = {
#define KBD_KEY_NAME(code, name)
#define KBD_KEY_NAME_MORE(code, name)
#define KBD_KEY_NAME_E0(code, name)      { code, name },
#define KBD_KEY_NAME_E0_MORE(code, name) { code, name },
#include "kbd_keynames.inc"
#undef KBD_KEY_NAME
#undef KBD_KEY_NAME_MORE
#undef KBD_KEY_NAME_E0
#undef KBD_KEY_NAME_E0_MORE
    { 0, nullptr },
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

static_assert(check::count(aKeyNamesDead) == kDeadCharCount + 1 && kDeadCharCount == 11);
static_assert(ascendingAndTerminated(aKeyNames));
static_assert(ascendingAndTerminated(aKeyNamesExt));
static_assert(deadNamesMatch());
