// Readable text views of a decoded layout.
#pragma once

#include <string>

#include "kbd/model/decoder.h"

namespace kbd {

// Every table of the layout, in image order, one row per line.
std::string dumpText(const Decoded& decoded);

// A modifier mask as the keys that make it, named from the layout's own
// modifier record: "Base", "Shift", "Ctrl", "AltGr" (Ctrl+Alt under
// KLLF_ALTGR), "Shift+Kana", ...
std::string maskName(const Layout& layout, uint8_t mask);

// A column named by the masks that select it ("Ctrl+Alt or Ctrl").
std::string columnName(const Layout& layout, unsigned column);

// The key names (plain, extended) and the dead-key names.
std::string namesText(const Layout& layout);

}  // namespace kbd
