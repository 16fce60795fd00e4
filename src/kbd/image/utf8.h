// UTF-16 text, as the layout format stores it, in UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kbd {

// UTF-8 of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string utf8(const std::u16string& s);

// The code points of UTF-16 text: a surrogate pair is one, a lone surrogate
// stays a code point of its own.
std::u32string codePoints(std::u16string_view s);

}  // namespace kbd
