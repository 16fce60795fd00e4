// Characters by virtual key and shift state. The input subsystem searches the
// tables in list order, each row by row, and takes the first row whose virtual
// key matches; the column is the one the modifier record selects (Base, Shift,
// Ctrl, AltGr, Shift+AltGr). Keys with fewer shift states sit in narrower
// tables, so a key of the 2- or 1-column table gives nothing with Ctrl or
// AltGr.
//
// CAPLOCK lets Caps Lock swap Base and Shift; CAPLOKALTGR lets it swap AltGr
// and Shift+AltGr. WCH_DEAD makes a key dead: the row after it (VirtualKey
// VK__none_) holds the dead character in the same column, which then composes
// with the next character through the dead-key list. "PUA" in a comment marks
// a Private Use Area code point, emitted as is.
#include "checks.h"

namespace {

// Backspace, Escape, Enter and Cancel: the only keys that give a character
// with Ctrl alone, apart from Space.
constexpr VK_TO_WCHARS3 aVkToWch3[] = {
//                    Base    Shift   Ctrl
    { VK_BACK,   0, { 0x0008, 0x0008, 0x007F } },  // BS   BS   DEL
    { VK_ESCAPE, 0, { 0x001B, 0x001B, 0x001B } },  // ESC  ESC  ESC
    { VK_RETURN, 0, { 0x000D, 0x000D, 0x000A } },  // CR   CR   LF
    { VK_CANCEL, 0, { 0x0003, 0x0003, 0x0003 } },  // ETX  ETX  ETX
    { 0,         0, { 0,      0,      0      } },
};

// Digits, letters, punctuation, Space, the 102nd key and the keypad decimal
// key: the five shift states of the main block.
constexpr VK_TO_WCHARS5 aVkToWch5[] = {
//                                            Base      Shift     Ctrl      AltGr     Shift+AltGr
    { '1',           0,                     { 0x0031,   0x0021,   WCH_NONE, 0x0040,   0x00B9   } },  // 1       !       —   @    ¹
    { '2',           0,                     { 0x0032,   WCH_DEAD, WCH_NONE, 0x0023,   0x028C   } },  // 2       dead =  —   #    ʌ
    { VK__none_,     0,                     { WCH_NONE, 0x003D,   WCH_NONE, WCH_NONE, WCH_NONE } },  //         =
    { '3',           0,                     { 0x0033,   0xF168,   WCH_NONE, 0x0024,   0x0250   } },  // 3       PUA     —   $    ɐ
    { '4',           0,                     { 0x0034,   WCH_DEAD, WCH_NONE, 0x0025,   0x00A3   } },  // 4       dead ¯  —   %    £
    { VK__none_,     0,                     { WCH_NONE, 0x00AF,   WCH_NONE, WCH_NONE, WCH_NONE } },  //         ¯
    { '5',           0,                     { 0x0035,   WCH_DEAD, WCH_NONE, 0x2020,   0x0252   } },  // 5       dead °  —   †    ɒ
    { VK__none_,     0,                     { WCH_NONE, 0x00B0,   WCH_NONE, WCH_NONE, WCH_NONE } },  //         °
    { '6',           0,                     { 0x0036,   WCH_DEAD, WCH_NONE, 0x2191,   0x0131   } },  // 6       dead ^  —   ↑    ı
    { VK__none_,     0,                     { WCH_NONE, 0x005E,   WCH_NONE, WCH_NONE, WCH_NONE } },  //         ^
    { '7',           0,                     { 0x0037,   0x0026,   WCH_NONE, 0x2193,   WCH_NONE } },  // 7       &       —   ↓    —
    { '8',           0,                     { 0x0038,   WCH_DEAD, WCH_NONE, 0x2192,   WCH_NONE } },  // 8       dead *  —   →    —
    { VK__none_,     0,                     { WCH_NONE, 0x002A,   WCH_NONE, WCH_NONE, WCH_NONE } },  //         *
    { '9',           0,                     { 0x0039,   0x0028,   WCH_NONE, 0x2190,   WCH_NONE } },  // 9       (       —   ←    —
    { '0',           0,                     { 0x0030,   0x0029,   WCH_NONE, 0x2197,   WCH_NONE } },  // 0       )       —   ↗    —
    { VK_OEM_MINUS,  0,                     { 0x002D,   WCH_DEAD, WCH_NONE, 0xF169,   WCH_NONE } },  // -       dead _  —   PUA  —
    { VK__none_,     0,                     { WCH_NONE, 0x005F,   WCH_NONE, WCH_NONE, WCH_NONE } },  //         _
    { VK_OEM_PLUS,   0,                     { 0xF173,   0xF174,   WCH_NONE, 0x00D7,   0x00F7   } },  // PUA     PUA     —   ×    ÷
    { 'Q',           CAPLOCK | CAPLOKALTGR, { 0x0071,   0x0051,   WCH_NONE, 0x00E4,   0x00C4   } },  // q       Q       —   ä    Ä
    { 'W',           CAPLOCK | CAPLOKALTGR, { 0x0077,   0x0057,   WCH_NONE, 0x00E5,   0x00C5   } },  // w       W       —   å    Å
    { 'E',           CAPLOCK | CAPLOKALTGR, { 0x0065,   0x0045,   WCH_NONE, 0x00E9,   0x00C9   } },  // e       E       —   é    É
    { 'R',           CAPLOCK,               { 0x0072,   0x0052,   WCH_NONE, 0x00AE,   0x025B   } },  // r       R       —   ®    ɛ
    { 'T',           CAPLOCK,               { 0x0074,   0x0054,   WCH_NONE, 0x2122,   0x02C8   } },  // t       T       —   ™    ˈ
    { 'Y',           CAPLOCK | CAPLOKALTGR, { 0x0079,   0x0059,   WCH_NONE, 0x00FC,   0x00DC   } },  // y       Y       —   ü    Ü
    { 'U',           CAPLOCK | CAPLOKALTGR, { 0x0075,   0x0055,   WCH_NONE, 0x00FA,   0x00DA   } },  // u       U       —   ú    Ú
    { 'I',           CAPLOCK | CAPLOKALTGR, { 0x0069,   0x0049,   WCH_NONE, 0x00ED,   0x00CD   } },  // i       I       —   í    Í
    { 'O',           CAPLOCK | CAPLOKALTGR, { 0x006F,   0x004F,   WCH_NONE, 0x00F3,   0x00D3   } },  // o       O       —   ó    Ó
    { 'P',           CAPLOCK | CAPLOKALTGR, { 0x0070,   0x0050,   WCH_NONE, 0x00F6,   0x00D6   } },  // p       P       —   ö    Ö
    { VK_OEM_4,      CAPLOCK,               { 0x00E6,   0x00C6,   WCH_NONE, 0x00AB,   0x003C   } },  // æ       Æ       —   «    <
    { VK_OEM_6,      CAPLOCK,               { 0x0254,   0x0186,   WCH_NONE, 0x00BB,   0x003E   } },  // ɔ       Ɔ       —   »    >
    { 'A',           CAPLOCK | CAPLOKALTGR, { 0x0061,   0x0041,   WCH_NONE, 0x00E1,   0x00C1   } },  // a       A       —   á    Á
    { 'S',           CAPLOCK,               { 0x0073,   0x0053,   WCH_NONE, 0x00DF,   0x00A7   } },  // s       S       —   ß    §
    { 'D',           CAPLOCK | CAPLOKALTGR, { 0x0064,   0x0044,   WCH_NONE, 0x00F0,   0x00D0   } },  // d       D       —   ð    Ð
    { 'F',           CAPLOCK | CAPLOKALTGR, { 0x0066,   0x0046,   WCH_NONE, 0x010F,   0x010E   } },  // f       F       —   ď    Ď
    { 'G',           CAPLOCK | CAPLOKALTGR, { 0x0067,   0x0047,   WCH_NONE, 0x0275,   0x019F   } },  // g       G       —   ɵ    Ɵ
    { 'H',           CAPLOCK | CAPLOKALTGR, { WCH_DEAD, 0x0048,   WCH_NONE, 0x00FE,   0x00DE   } },  // dead h  H       —   þ    Þ
    { VK__none_,     0,                     { 0x0068,   WCH_NONE, WCH_NONE, WCH_NONE, WCH_NONE } },  // h
    { 'J',           CAPLOCK,               { 0x006A,   0x004A,   WCH_NONE, 0x026A,   0x025F   } },  // j       J       —   ɪ    ɟ
    { 'K',           CAPLOCK,               { 0x006B,   0x004B,   WCH_NONE, 0x002B,   0x0387   } },  // k       K       —   +    ·
    { 'L',           CAPLOCK | CAPLOKALTGR, { 0x006C,   0x004C,   WCH_NONE, 0x00F8,   0x00D8   } },  // l       L       —   ø    Ø
    { VK_OEM_1,      0,                     { 0x003B,   0x003A,   WCH_NONE, 0x2237,   0x00BA   } },  // ;       :       —   ∷    º
    { VK_OEM_7,      0,                     { 0x0027,   0x0022,   WCH_NONE, 0x0060,   0x00A8   } },  // '       "       —   `    ¨
    { VK_OEM_3,      0,                     { WCH_DEAD, WCH_DEAD, WCH_NONE, 0xF167,   0x207F   } },  // dead ´  dead ~  —   PUA  ⁿ
    { VK__none_,     0,                     { 0x00B4,   0x007E,   WCH_NONE, WCH_NONE, WCH_NONE } },  // ´       ~
    { VK_OEM_5,      0,                     { 0xF175,   0xF176,   WCH_NONE, 0x007B,   0x007D   } },  // PUA     PUA     —   {    }
    { 'Z',           CAPLOCK,               { 0x007A,   0x005A,   WCH_NONE, 0x005B,   0x005D   } },  // z       Z       —   [    ]
    { 'X',           CAPLOCK,               { 0x0078,   0x0058,   WCH_NONE, 0x003F,   0x02C0   } },  // x       X       —   ?    ˀ
    { 'C',           CAPLOCK,               { 0x0063,   0x0043,   WCH_NONE, 0x00A9,   0x00A2   } },  // c       C       —   ©    ¢
    { 'V',           CAPLOCK | CAPLOKALTGR, { 0x0076,   0x0056,   WCH_NONE, 0x028A,   0x01B1   } },  // v       V       —   ʊ    Ʊ
    { 'B',           CAPLOCK,               { 0x0062,   0x0042,   WCH_NONE, 0x002F,   0x25CA   } },  // b       B       —   /    ◊
    { 'N',           CAPLOCK | CAPLOKALTGR, { 0x006E,   0x004E,   WCH_NONE, 0x015F,   0x015E   } },  // n       N       —   ş    Ş
    { 'M',           CAPLOCK,               { 0x006D,   0x004D,   WCH_NONE, 0x00B5,   0x0268   } },  // m       M       —   µ    ɨ
    { VK_OEM_COMMA,  CAPLOKALTGR,           { WCH_DEAD, 0x026F,   WCH_NONE, 0x00E7,   0x00C7   } },  // dead ,  ɯ       —   ç    Ç
    { VK__none_,     0,                     { 0x002C,   WCH_NONE, WCH_NONE, WCH_NONE, WCH_NONE } },  // ,
    { VK_OEM_PERIOD, 0,                     { WCH_DEAD, 0x019C,   WCH_NONE, 0x2026,   0x0365   } },  // dead .  Ɯ       —   …    ◌ͥ
    { VK__none_,     0,                     { 0x002E,   WCH_NONE, WCH_NONE, WCH_NONE, WCH_NONE } },  // .
    { VK_OEM_2,      CAPLOCK,               { 0x0259,   0x018F,   WCH_NONE, 0xF170,   0x2248   } },  // ə       Ə       —   PUA  ≈
    { VK_SPACE,      0,                     { 0x0020,   0x0020,   0x0020,   WCH_NONE, WCH_NONE } },  // SP      SP      SP  —    —
    { VK_OEM_102,    0,                     { 0x005C,   0x007C,   WCH_NONE, WCH_NONE, WCH_NONE } },  // \       |       —   —    —
    { VK_DECIMAL,    0,                     { 0x002E,   0x002E,   WCH_NONE, WCH_NONE, WCH_NONE } },  // .       .       —   —    —
    { 0,             0,                     { 0,        0,        0,        0,        0        } },
};

// Tab and the keypad operators: the same character with or without Shift.
constexpr VK_TO_WCHARS2 aVkToWch2[] = {
//                      Base    Shift
    { VK_TAB,      0, { 0x0009, 0x0009 } },  // HT  HT
    { VK_ADD,      0, { 0x002B, 0x002B } },  // +   +
    { VK_DIVIDE,   0, { 0x002F, 0x002F } },  // /   /
    { VK_MULTIPLY, 0, { 0x002A, 0x002A } },  // *   *
    { VK_SUBTRACT, 0, { 0x002D, 0x002D } },  // -   -
    { 0,           0, { 0,      0      } },
};

// Keypad digits (Num Lock on): Base only.
constexpr VK_TO_WCHARS1 aVkToWch1[] = {
//                     Base
    { VK_NUMPAD0, 0, { 0x0030 } },  // 0
    { VK_NUMPAD1, 0, { 0x0031 } },  // 1
    { VK_NUMPAD2, 0, { 0x0032 } },  // 2
    { VK_NUMPAD3, 0, { 0x0033 } },  // 3
    { VK_NUMPAD4, 0, { 0x0034 } },  // 4
    { VK_NUMPAD5, 0, { 0x0035 } },  // 5
    { VK_NUMPAD6, 0, { 0x0036 } },  // 6
    { VK_NUMPAD7, 0, { 0x0037 } },  // 7
    { VK_NUMPAD8, 0, { 0x0038 } },  // 8
    { VK_NUMPAD9, 0, { 0x0039 } },  // 9
    { 0,          0, { 0      } },
};

// ---- Shape of the row tables ----------------------------------------------

static_assert(check::wellFormed(aVkToWch3));
static_assert(check::wellFormed(aVkToWch5));
static_assert(check::wellFormed(aVkToWch2));
static_assert(check::wellFormed(aVkToWch1));

// The dead keys are in the main table only, in kDeadChars order.
static_assert(check::deadCharsInOrder(aVkToWch5));

template <unsigned N, unsigned M>
constexpr unsigned deadRowCount(const VK_TO_WCHARS<N> (&rows)[M]) {
    unsigned n = 0;
    for (const auto& r : rows)
        if (r.VirtualKey == VK__none_) ++n;
    return n;
}
static_assert(deadRowCount(aVkToWch5) == 10,
              "ten dead keys; the key left of 1 carries two dead characters in one pair");
static_assert(deadRowCount(aVkToWch3) == 0 && deadRowCount(aVkToWch2) == 0 &&
              deadRowCount(aVkToWch1) == 0);
static_assert(check::count(aVkToWch5) == 50 + 10 + 1, "50 keys, 10 dead rows, terminator");

// Caps Lock acts on the letters and on the three keys whose Base and Shift
// are the two cases of one letter (æ Æ, ɔ Ɔ, ə Ə), and on nothing else; the
// attributes use no bits beyond CAPLOCK and CAPLOKALTGR.
constexpr bool isLetter(BYTE vk) { return vk >= 'A' && vk <= 'Z'; }
constexpr bool takesCapsLock(BYTE vk) {
    return isLetter(vk) || vk == VK_OEM_4 || vk == VK_OEM_6 || vk == VK_OEM_2;
}

template <unsigned N, unsigned M>
constexpr bool capsLockWhereExpected(const VK_TO_WCHARS<N> (&rows)[M]) {
    for (unsigned i = 0; i + 1 < M; ++i) {
        const auto& r = rows[i];
        if ((r.Attributes & ~(CAPLOCK | CAPLOKALTGR)) != 0) return false;
        if (((r.Attributes & CAPLOCK) != 0) != takesCapsLock(r.VirtualKey)) return false;
    }
    return true;
}
static_assert(capsLockWhereExpected(aVkToWch3));
static_assert(capsLockWhereExpected(aVkToWch5));
static_assert(capsLockWhereExpected(aVkToWch2));
static_assert(capsLockWhereExpected(aVkToWch1));

template <unsigned N, unsigned M>
constexpr bool hasKey(const VK_TO_WCHARS<N> (&rows)[M], BYTE vk) {
    for (unsigned i = 0; i + 1 < M; ++i)
        if (rows[i].VirtualKey == vk) return true;
    return false;
}

constexpr bool everyLetterInMainTable() {
    for (BYTE vk = 'A'; vk <= 'Z'; ++vk)
        if (!hasKey(aVkToWch5, vk)) return false;
    return true;
}
static_assert(everyLetterInMainTable(), "every letter key has its five-column row");

// A key that stood in two tables would be found only in the earlier one.
template <unsigned N, unsigned M, unsigned P, unsigned Q>
constexpr bool disjoint(const VK_TO_WCHARS<N> (&a)[M], const VK_TO_WCHARS<P> (&b)[Q]) {
    for (unsigned i = 0; i + 1 < M; ++i)
        if (a[i].VirtualKey != VK__none_ && hasKey(b, a[i].VirtualKey)) return false;
    return true;
}
static_assert(disjoint(aVkToWch3, aVkToWch5) && disjoint(aVkToWch3, aVkToWch2) &&
              disjoint(aVkToWch3, aVkToWch1) && disjoint(aVkToWch5, aVkToWch2) &&
              disjoint(aVkToWch5, aVkToWch1) && disjoint(aVkToWch2, aVkToWch1),
              "each virtual key has one row in all the tables together");

// The address a pointer field holds, whether the field is a plain pointer or
// the wide pointer field of an image for a 64-bit reader.
template <class T>
constexpr const void* address(T* p) { return p; }
template <class P>
constexpr auto address(const P& p) -> decltype(p.get()) { return p.get(); }

// An entry of the list describes its row table: the right table, as many
// columns as its rows have, and their size as the stride.
template <unsigned N, unsigned M>
constexpr bool describes(const VK_TO_WCHAR_TABLE& e, const VK_TO_WCHARS<N> (&rows)[M]) {
    return address(e.pVkToWchars) == static_cast<const void*>(rows) && e.nModifications == N &&
           e.cbSize == sizeof(VK_TO_WCHARS<N>);
}

}  // namespace

// The character tables in search order, ended by a null entry.
constexpr VK_TO_WCHAR_TABLE aVkToWcharTable[] = {
    { aVkToWch3, 3, sizeof(VK_TO_WCHARS3) },
    { aVkToWch5, 5, sizeof(VK_TO_WCHARS5) },
    { aVkToWch2, 2, sizeof(VK_TO_WCHARS2) },
    { aVkToWch1, 1, sizeof(VK_TO_WCHARS1) },
    { nullptr,   0, 0                     },
};

static_assert(check::count(aVkToWcharTable) == 5);
static_assert(describes(aVkToWcharTable[0], aVkToWch3));
static_assert(describes(aVkToWcharTable[1], aVkToWch5));
static_assert(describes(aVkToWcharTable[2], aVkToWch2));
static_assert(describes(aVkToWcharTable[3], aVkToWch1));
static_assert(aVkToWcharTable[4].pVkToWchars == nullptr &&
              aVkToWcharTable[4].nModifications == 0 && aVkToWcharTable[4].cbSize == 0,
              "the list ends with its null entry");
