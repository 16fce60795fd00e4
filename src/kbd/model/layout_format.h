// The layout format as the host tools read it, expanded from the lists the
// layout itself is built from (include/kbd_*.inc): constants, virtual keys,
// record offsets, and the names of each for printing and parsing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbd {

// Constants of the format: modifier bits, row attributes, cell markers,
// scan-code, locale and dead-key flags.
namespace def {
using BYTE = uint8_t;
using USHORT = uint16_t;
using WCHAR = uint16_t;
using DWORD = uint32_t;
#define KBD_CONST(group, type, name, value) inline constexpr type name = value;
#include "kbd_constants.inc"
inline constexpr uint8_t VK_NONE = 0xFF;  // "no key"; also the VirtualKey of a dead key's second row
}  // namespace def

// Virtual keys by their names without the VK_ prefix: vk::OEM_3.
namespace vk {
#define KBD_VK(name, code) name = code,
enum : uint8_t {
#include "kbd_vk.inc"
};
}  // namespace vk

// The names of the flags of one group of kbd_constants.inc ("Attribute",
// "ScanFlag", "LocaleFlag") set in value, in list order; bits that no flag
// of the group names come last, as one hex number of `digits` digits.
std::vector<std::string> flagNames(std::string_view group, uint32_t value, int digits);

// The name of a modifier mask: "Base", "Shift", "Ctrl", "AltGr" (Ctrl+Alt),
// "Shift+AltGr", "Shift+Ctrl", ...
std::string shiftStateName(uint8_t mask);

// "VK_OEM_3" for a named key, "'A'" for a letter or digit, "0xE8" otherwise.
std::string vkName(uint8_t vk);

// A key from its name: "VK_OEM_3" or "OEM_3" (any case), a single letter or
// digit, or one of the friendly names (Backspace, Enter, Esc, Space, Ctrl,
// AltGr, CapsLock, Num0, ...). None when the name is unknown.
std::optional<uint8_t> vkFromName(std::string_view name);

// Records and their fields (kbd_records.inc): Record::KBDTABLES,
// Field::KBDTABLES_pDeadKey.
#define KBD_SIZE(record, size) record,
#define KBD_FIELD(record, field, offset)
enum class Record {
#include "kbd_records.inc"
};
#define KBD_SIZE(record, size)
#define KBD_FIELD(record, field, offset) record##_##field,
enum class Field {
#include "kbd_records.inc"
};

// Where a field stands in its record and how long a record is, for pointer
// fields of P bytes (4 or 8).
uint64_t offsetOf(Field field, unsigned P);
uint64_t sizeOf(Record record, unsigned P);
// "KBDTABLES.pDeadKey".
std::string_view fieldName(Field field);

}  // namespace kbd
