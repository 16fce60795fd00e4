// The text of a layout source: its bytes decoded to code points, and the
// code points encoded back. UTF-16 LE needs its byte-order mark; anything
// else is read as UTF-8 (with or without one).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kbd/klc/klc.h"

namespace kbd::klc {

// The decoded text, or none with a problem where the bytes stop being text
// (at that line and column).
std::optional<std::u32string> decodeText(std::span<const uint8_t> bytes, std::vector<Problem>& problems);

std::string    toUtf8(std::u32string_view s);
std::u16string toUtf16(std::u32string_view s);
std::u32string fromUtf8(std::string_view s);     // assumes valid UTF-8 (the model's strings)

}  // namespace kbd::klc
