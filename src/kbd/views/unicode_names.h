// What Unicode says about a character, from ICU: its name, and whether it
// can be shown on its own; and text from the command line as UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace kbd {

// The character's Unicode name ("LATIN SMALL LETTER A WITH MACRON"); for a
// character without one, ICU's label for it ("<private use area-F105>",
// "<control-0008>").
std::string charName(char32_t ch);

// The character as UTF-8 to show alone: a combining mark on a dotted circle;
// empty for a character with no visible form of its own (controls, spaces,
// format characters, Private Use, surrogates, unassigned code points).
std::string glyph(char32_t ch);

// UTF-16 of UTF-8 text; throws kbd::Error when the text is not well-formed
// UTF-8 (a command-line argument in another encoding, cut short, ...).
std::u16string fromUtf8(std::string_view text);

}  // namespace kbd
