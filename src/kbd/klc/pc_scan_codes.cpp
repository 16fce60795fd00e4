#include "kbd/klc/pc_scan_codes.h"

#include "kbd/model/layout_format.h"

namespace kbd::klc {
namespace {

// The names the list uses: VK_ constants and the KBD* flags.
using namespace def;
#define KBD_VK(name, code) [[maybe_unused]] constexpr uint8_t VK_##name = code;
#include "kbd_vk.inc"
constexpr uint8_t VK__none_ = VK_NONE;

}  // namespace

std::vector<uint16_t> pcScanCodes() {
    return {
#define KBD_SCAN(code, vk, flags) static_cast<uint16_t>((vk) | (flags)),
#define KBD_SCAN_E0(code, vk, flags)
#define KBD_SCAN_E1(code, vk, flags)
#include "kbd_scancodes.inc"
#undef KBD_SCAN
#undef KBD_SCAN_E0
#undef KBD_SCAN_E1
    };
}

std::vector<ScanEntry> pcScanCodesE0() {
    return {
#define KBD_SCAN(code, vk, flags)
#define KBD_SCAN_E0(code, vk, flags) {code, static_cast<uint16_t>((vk) | (flags))},
#define KBD_SCAN_E1(code, vk, flags)
#include "kbd_scancodes.inc"
#undef KBD_SCAN
#undef KBD_SCAN_E0
#undef KBD_SCAN_E1
    };
}

std::vector<ScanEntry> pcScanCodesE1() {
    return {
#define KBD_SCAN(code, vk, flags)
#define KBD_SCAN_E0(code, vk, flags)
#define KBD_SCAN_E1(code, vk, flags) {code, static_cast<uint16_t>((vk) | (flags))},
#include "kbd_scancodes.inc"
#undef KBD_SCAN
#undef KBD_SCAN_E0
#undef KBD_SCAN_E1
    };
}

}  // namespace kbd::klc
