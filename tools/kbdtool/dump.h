// Readable text views of a decoded layout.
#pragma once

#include <string>

#include "decode.h"

namespace kbd {

// Every table of the layout, in image order, one row per line.
std::string dumpText(const Decoded& decoded);

// The key names (plain, extended) and the dead-key names.
std::string namesText(const Layout& layout);

}  // namespace kbd
