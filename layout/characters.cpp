// Character tables: the characters each virtual key gives in each shift
// state, how Caps Lock acts on the key, and which keys are dead. The input
// subsystem searches the tables in list order and each table's rows in
// order; the first row with the key decides.
//
// Columns: Base, Shift, Ctrl, AltGr, Shift+AltGr (as many as the row type
// has). A dead key's row is followed by a VK__none_ row that holds the dead
// character in the dead columns.
#include "checks.h"

namespace {

// Backspace, Escape, Enter, Cancel: Base, Shift, Ctrl.
constexpr VK_TO_WCHARS3 aVkToWch3[] = {
//  VirtualKey  Attributes  Base    Shift   Ctrl
    {VK_BACK,   0,         {0x0008, 0x0008, 0x007F}},  // BS BS DEL
    {VK_ESCAPE, 0,         {0x001B, 0x001B, 0x001B}},  // ESC
    {VK_RETURN, 0,         {0x000D, 0x000D, 0x000A}},  // CR CR LF
    {VK_CANCEL, 0,         {0x0003, 0x0003, 0x0003}},  // ETX (Ctrl+Break)
    {0,         0,         {0,      0,      0     }},
};

// Digits, letters, punctuation, Space, the 102nd key and keypad decimal.
constexpr VK_TO_WCHARS5 aVkToWch5[] = {
//  VirtualKey     Attributes              Base      Shift     Ctrl      AltGr     Shift+AltGr
    {'1',           0,                     {'1',     '!',      WCH_NONE, '@',      0x00B9  }},  // 1 ! @ ¹
    {'2',           0,                     {'2',     WCH_DEAD, WCH_NONE, '#',      0x028C  }},  // 2 (dead) # ʌ
    {VK__none_,     0,                     {WCH_NONE, '=',     WCH_NONE, WCH_NONE, WCH_NONE}},  //   =
    {'3',           0,                     {'3',     0xF168,   WCH_NONE, '$',      0x0250  }},  // 3 U+F168 $ ɐ
    {'4',           0,                     {'4',     WCH_DEAD, WCH_NONE, '%',      0x00A3  }},  // 4 (dead) % £
    {VK__none_,     0,                     {WCH_NONE, 0x00AF,  WCH_NONE, WCH_NONE, WCH_NONE}},  //   ¯
    {'5',           0,                     {'5',     WCH_DEAD, WCH_NONE, 0x2020,   0x0252  }},  // 5 (dead) † ɒ
    {VK__none_,     0,                     {WCH_NONE, 0x00B0,  WCH_NONE, WCH_NONE, WCH_NONE}},  //   °
    {'6',           0,                     {'6',     WCH_DEAD, WCH_NONE, 0x2191,   0x0131  }},  // 6 (dead) ↑ ı
    {VK__none_,     0,                     {WCH_NONE, '^',     WCH_NONE, WCH_NONE, WCH_NONE}},  //   ^
    {'7',           0,                     {'7',     '&',      WCH_NONE, 0x2193,   WCH_NONE}},  // 7 & ↓
    {'8',           0,                     {'8',     WCH_DEAD, WCH_NONE, 0x2192,   WCH_NONE}},  // 8 (dead) →
    {VK__none_,     0,                     {WCH_NONE, '*',     WCH_NONE, WCH_NONE, WCH_NONE}},  //   *
    {'9',           0,                     {'9',     '(',      WCH_NONE, 0x2190,   WCH_NONE}},  // 9 ( ←
    {'0',           0,                     {'0',     ')',      WCH_NONE, 0x2197,   WCH_NONE}},  // 0 ) ↗
    {VK_OEM_MINUS,  0,                     {'-',     WCH_DEAD, WCH_NONE, 0xF169,   WCH_NONE}},  // - (dead) U+F169
    {VK__none_,     0,                     {WCH_NONE, '_',     WCH_NONE, WCH_NONE, WCH_NONE}},  //   _
    {VK_OEM_PLUS,   0,                     {0xF173,  0xF174,   WCH_NONE, 0x00D7,   0x00F7  }},  // U+F173 U+F174 × ÷
    {'Q',           CAPLOCK | CAPLOKALTGR, {'q',     'Q',      WCH_NONE, 0x00E4,   0x00C4  }},  // q Q ä Ä
    {'W',           CAPLOCK | CAPLOKALTGR, {'w',     'W',      WCH_NONE, 0x00E5,   0x00C5  }},  // w W å Å
    {'E',           CAPLOCK | CAPLOKALTGR, {'e',     'E',      WCH_NONE, 0x00E9,   0x00C9  }},  // e E é É
    {'R',           CAPLOCK,               {'r',     'R',      WCH_NONE, 0x00AE,   0x025B  }},  // r R ® ɛ
    {'T',           CAPLOCK,               {'t',     'T',      WCH_NONE, 0x2122,   0x02C8  }},  // t T ™ ˈ
    {'Y',           CAPLOCK | CAPLOKALTGR, {'y',     'Y',      WCH_NONE, 0x00FC,   0x00DC  }},  // y Y ü Ü
    {'U',           CAPLOCK | CAPLOKALTGR, {'u',     'U',      WCH_NONE, 0x00FA,   0x00DA  }},  // u U ú Ú
    {'I',           CAPLOCK | CAPLOKALTGR, {'i',     'I',      WCH_NONE, 0x00ED,   0x00CD  }},  // i I í Í
    {'O',           CAPLOCK | CAPLOKALTGR, {'o',     'O',      WCH_NONE, 0x00F3,   0x00D3  }},  // o O ó Ó
    {'P',           CAPLOCK | CAPLOKALTGR, {'p',     'P',      WCH_NONE, 0x00F6,   0x00D6  }},  // p P ö Ö
    {VK_OEM_4,      CAPLOCK,               {0x00E6,  0x00C6,   WCH_NONE, 0x00AB,   '<'     }},  // æ Æ « <
    {VK_OEM_6,      CAPLOCK,               {0x0254,  0x0186,   WCH_NONE, 0x00BB,   '>'     }},  // ɔ Ɔ » >
    {'A',           CAPLOCK | CAPLOKALTGR, {'a',     'A',      WCH_NONE, 0x00E1,   0x00C1  }},  // a A á Á
    {'S',           CAPLOCK,               {'s',     'S',      WCH_NONE, 0x00DF,   0x00A7  }},  // s S ß §
    {'D',           CAPLOCK | CAPLOKALTGR, {'d',     'D',      WCH_NONE, 0x00F0,   0x00D0  }},  // d D ð Ð
    {'F',           CAPLOCK | CAPLOKALTGR, {'f',     'F',      WCH_NONE, 0x010F,   0x010E  }},  // f F ď Ď
    {'G',           CAPLOCK | CAPLOKALTGR, {'g',     'G',      WCH_NONE, 0x0275,   0x019F  }},  // g G ɵ Ɵ
    {'H',           CAPLOCK | CAPLOKALTGR, {WCH_DEAD, 'H',     WCH_NONE, 0x00FE,   0x00DE  }},  // (dead) H þ Þ
    {VK__none_,     0,                     {'h',     WCH_NONE, WCH_NONE, WCH_NONE, WCH_NONE}},  // h
    {'J',           CAPLOCK,               {'j',     'J',      WCH_NONE, 0x026A,   0x025F  }},  // j J ɪ ɟ
    {'K',           CAPLOCK,               {'k',     'K',      WCH_NONE, '+',      0x0387  }},  // k K + ·
    {'L',           CAPLOCK | CAPLOKALTGR, {'l',     'L',      WCH_NONE, 0x00F8,   0x00D8  }},  // l L ø Ø
    {VK_OEM_1,      0,                     {';',     ':',      WCH_NONE, 0x2237,   0x00BA  }},  // ; : ∷ º
    {VK_OEM_7,      0,                     {'\'',    '"',      WCH_NONE, '`',      0x00A8  }},  // ' " ` ¨
    {VK_OEM_3,      0,                     {WCH_DEAD, WCH_DEAD, WCH_NONE, 0xF167,  0x207F  }},  // (dead) (dead) U+F167 ⁿ
    {VK__none_,     0,                     {0x00B4,  '~',      WCH_NONE, WCH_NONE, WCH_NONE}},  // ´ ~
    {VK_OEM_5,      0,                     {0xF175,  0xF176,   WCH_NONE, '{',      '}'     }},  // U+F175 U+F176 { }
    {'Z',           CAPLOCK,               {'z',     'Z',      WCH_NONE, '[',      ']'     }},  // z Z [ ]
    {'X',           CAPLOCK,               {'x',     'X',      WCH_NONE, '?',      0x02C0  }},  // x X ? ˀ
    {'C',           CAPLOCK,               {'c',     'C',      WCH_NONE, 0x00A9,   0x00A2  }},  // c C © ¢
    {'V',           CAPLOCK | CAPLOKALTGR, {'v',     'V',      WCH_NONE, 0x028A,   0x01B1  }},  // v V ʊ Ʊ
    {'B',           CAPLOCK,               {'b',     'B',      WCH_NONE, '/',      0x25CA  }},  // b B / ◊
    {'N',           CAPLOCK | CAPLOKALTGR, {'n',     'N',      WCH_NONE, 0x015F,   0x015E  }},  // n N ş Ş
    {'M',           CAPLOCK,               {'m',     'M',      WCH_NONE, 0x00B5,   0x0268  }},  // m M µ ɨ
    {VK_OEM_COMMA,  CAPLOKALTGR,           {WCH_DEAD, 0x026F,  WCH_NONE, 0x00E7,   0x00C7  }},  // (dead) ɯ ç Ç
    {VK__none_,     0,                     {',',     WCH_NONE, WCH_NONE, WCH_NONE, WCH_NONE}},  // ,
    {VK_OEM_PERIOD, 0,                     {WCH_DEAD, 0x019C,  WCH_NONE, 0x2026,   0x0365  }},  // (dead) Ɯ … combining i
    {VK__none_,     0,                     {'.',     WCH_NONE, WCH_NONE, WCH_NONE, WCH_NONE}},  // .
    {VK_OEM_2,      CAPLOCK,               {0x0259,  0x018F,   WCH_NONE, 0xF170,   0x2248  }},  // ə Ə U+F170 ≈
    {VK_SPACE,      0,                     {' ',     ' ',      ' ',      WCH_NONE, WCH_NONE}},  // space
    {VK_OEM_102,    0,                     {'\\',    '|',      WCH_NONE, WCH_NONE, WCH_NONE}},  // \ |
    {VK_DECIMAL,    0,                     {'.',     '.',      WCH_NONE, WCH_NONE, WCH_NONE}},  // . .
    {0,             0,                     {0,       0,        0,        0,        0       }},
};

// Tab and the keypad operators: Base, Shift.
constexpr VK_TO_WCHARS2 aVkToWch2[] = {
//  VirtualKey    Attributes  Base    Shift
    {VK_TAB,      0,         {'\t',   '\t'  }},  // TAB
    {VK_ADD,      0,         {'+',    '+'   }},
    {VK_DIVIDE,   0,         {'/',    '/'   }},
    {VK_MULTIPLY, 0,         {'*',    '*'   }},
    {VK_SUBTRACT, 0,         {'-',    '-'   }},
    {0,           0,         {0,      0     }},
};

// Keypad digits: Base only.
constexpr VK_TO_WCHARS1 aVkToWch1[] = {
//  VirtualKey   Attributes  Base
    {VK_NUMPAD0, 0,         {'0'}},
    {VK_NUMPAD1, 0,         {'1'}},
    {VK_NUMPAD2, 0,         {'2'}},
    {VK_NUMPAD3, 0,         {'3'}},
    {VK_NUMPAD4, 0,         {'4'}},
    {VK_NUMPAD5, 0,         {'5'}},
    {VK_NUMPAD6, 0,         {'6'}},
    {VK_NUMPAD7, 0,         {'7'}},
    {VK_NUMPAD8, 0,         {'8'}},
    {VK_NUMPAD9, 0,         {'9'}},
    {0,          0,         {0  }},
};

// A list entry whose column count and row size come from its row type.
template <unsigned N, unsigned M>
constexpr VK_TO_WCHAR_TABLE entry(const VK_TO_WCHARS<N> (&rows)[M]) {
    return {rows, N, sizeof(VK_TO_WCHARS<N>)};
}

static_assert(check::wellFormed(aVkToWch3));
static_assert(check::wellFormed(aVkToWch5));
static_assert(check::wellFormed(aVkToWch2));
static_assert(check::wellFormed(aVkToWch1));
static_assert(check::deadCharsInOrder(aVkToWch5), "dead characters agree with kDeadChars");
static_assert(check::count(aVkToWch5) == 50 + 10 + 1, "50 keys, 10 dead rows, the terminator");

// Caps Lock acts on the letters and on the three keys whose Shift column is
// the capital of their Base letter (æ Æ, ɔ Ɔ, ə Ə), and on nothing else.
constexpr bool capsLockOnLettersOnly() {
    for (const auto& r : aVkToWch5) {
        const bool letter = r.VirtualKey >= 'A' && r.VirtualKey <= 'Z';
        const bool extra = r.VirtualKey == VK_OEM_4 || r.VirtualKey == VK_OEM_6 || r.VirtualKey == VK_OEM_2;
        if (((r.Attributes & CAPLOCK) != 0) != (letter || extra)) return false;
        if (r.Attributes & ~(CAPLOCK | CAPLOKALTGR)) return false;
    }
    return true;
}
static_assert(capsLockOnLettersOnly());

}  // namespace

constexpr VK_TO_WCHAR_TABLE aVkToWcharTable[] = {
    entry(aVkToWch3),
    entry(aVkToWch5),
    entry(aVkToWch2),
    entry(aVkToWch1),
    {nullptr, 0, 0},
};
