// Showing characters to people: code points, cell markers (UTF-8 from kbd/image/utf8.h).
#pragma once

#include <cstdint>
#include <string>

#include "kbd/image/utf8.h"

namespace kbd {

// "U+00C4 Ä"; for a character with no visible form of its own (controls,
// spaces, Private Use, surrogates) the code point alone, or with its short
// name for the common controls ("U+0008 BS").
std::string charLabel(uint16_t ch);

// A cell as the dump shows it: "—" for WCH_NONE, "dead" for WCH_DEAD, "lgtr"
// for WCH_LGTR, otherwise charLabel.
std::string cellLabel(uint16_t cell);

}  // namespace kbd
