// UTF-16 text, as the layout format stores it, in UTF-8.
#pragma once

#include <string>

namespace kbd {

// UTF-8 of UTF-16 text; a lone surrogate becomes U+FFFD.
std::string utf8(const std::u16string& s);

}  // namespace kbd
