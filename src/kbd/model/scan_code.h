// A scan code as the keyboard sends it: the code, and the prefix byte it came
// after (set 1, as the layout's scan-code tables index it).
#pragma once

#include <cstdint>

namespace kbd {

// The prefix a scan code came after.
enum class Prefix { None, E0, E1 };

// A scan code as the keyboard sends it.
struct ScanCode {
    Prefix  prefix = Prefix::None;
    uint8_t code = 0;
};

}  // namespace kbd
