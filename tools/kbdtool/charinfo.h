// What Unicode says about a character, from ICU: its name, and whether it
// can be shown on its own.
#pragma once

#include <string>

namespace kbd {

// The character's Unicode name ("LATIN SMALL LETTER A WITH MACRON"); for a
// character without one, ICU's label for it ("<private use area-F105>",
// "<control-0008>").
std::string charName(char32_t ch);

// The character as UTF-8 to show alone: a combining mark on a dotted circle;
// empty for a character with no visible form of its own (controls, spaces,
// format characters, Private Use, surrogates, unassigned code points).
std::string glyph(char32_t ch);

}  // namespace kbd
