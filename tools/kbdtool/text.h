// Showing characters to people: UTF-8, code points, cell markers.
#pragma once

#include <cstdint>
#include <string>

namespace kbd {

// UTF-8 of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string utf8(const std::u16string& s);

// "U+00C4 Ä"; for a character with no visible form of its own (controls,
// spaces, Private Use, surrogates) the code point alone, or with its short
// name for the common controls ("U+0008 BS").
std::string charLabel(uint16_t ch);

// A cell as the dump shows it: "—" for WCH_NONE, "dead" for WCH_DEAD, "lgtr"
// for WCH_LGTR, otherwise charLabel.
std::string cellLabel(uint16_t cell);

}  // namespace kbd
