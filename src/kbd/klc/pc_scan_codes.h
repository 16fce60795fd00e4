// The scan-code tables of the standard PC keyboard (virtual key in the low
// byte, KBD* flags in the high byte): what a layout source's scan codes start
// from, before its LAYOUT rows re-map keys. The list is include/kbd_scancodes.inc,
// the one the layout's own tables are built from.
#pragma once

#include <cstdint>
#include <vector>

#include "kbd/model/layout.h"

namespace kbd::klc {

std::vector<uint16_t>  pcScanCodes();    // codes 0x00..0x7E without prefix
std::vector<ScanEntry> pcScanCodesE0();  // after E0, in search order
std::vector<ScanEntry> pcScanCodesE1();  // after E1

}  // namespace kbd::klc
