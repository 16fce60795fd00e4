// The decoded keyboard layout: a plain copy of everything reachable from the
// root record of a layout image, with no pointers into the image left. The
// simulator, the dump and every other consumer work on this model only.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kbd/model/layout_format.h"

namespace kbd {

// The widest character row the format defines.
inline constexpr unsigned kMaxColumns = 10;

struct ModifierBit {
    uint8_t vk = 0;
    uint8_t bits = 0;
    auto operator<=>(const ModifierBit&) const = default;
};

struct CharRow {
    uint8_t               vk = 0;
    uint8_t               attributes = 0;
    std::vector<uint16_t> cells;  // one per column, nModifications of them
    auto operator<=>(const CharRow&) const = default;
};

struct CharTable {
    uint8_t              nModifications = 0;
    uint8_t              cbSize = 0;
    std::vector<CharRow> rows;  // without the terminator
    auto operator<=>(const CharTable&) const = default;
};

struct DeadKey {
    uint16_t base = 0;      // character typed after the dead key (low word of dwBoth)
    uint16_t dead = 0;      // the dead character (high word of dwBoth)
    uint16_t composed = 0;
    uint16_t flags = 0;
    auto operator<=>(const DeadKey&) const = default;
};

// A ligature: what a WCH_LGTR cell of key vk in column `column` gives. chars
// holds all nLgMax slots as stored; unused ones are WCH_NONE.
struct Ligature {
    uint8_t               vk = 0;
    uint16_t              column = 0;
    std::vector<uint16_t> chars;
    auto operator<=>(const Ligature&) const = default;
};

struct KeyName {
    uint8_t        scanCode = 0;
    std::u16string name;
    auto operator<=>(const KeyName&) const = default;
};

// A row of the E0 or E1 list: a scan code and its 16-bit entry (virtual key
// in the low byte, KBD* flags in the high byte).
struct ScanEntry {
    uint8_t  scanCode = 0;
    uint16_t entry = 0;
    auto operator<=>(const ScanEntry&) const = default;
};

struct Layout {
    // Root settings.
    uint32_t localeFlags = 0;
    uint8_t  nLgMax = 0;
    uint8_t  cbLgEntry = 0;
    bool     hasLigatures = false;  // pLigature non-null
    uint32_t type = 0;
    uint32_t subType = 0;

    // Modifiers: rows without the terminator, then the mask-to-column array
    // (wMaxModBits + 1 entries).
    std::vector<ModifierBit> modifierBits;
    uint16_t                 maxModBits = 0;
    std::vector<uint8_t>     modNumber;

    std::vector<CharTable> charTables;  // in list order, without the terminator
    std::vector<Ligature>  ligatures;   // without the terminator; empty when pLigature is null

    // Each list below is empty when its root pointer is null.
    std::vector<DeadKey>        deadKeys;      // without the terminator
    std::vector<KeyName>        keyNames;      // plain scan codes
    std::vector<KeyName>        keyNamesExt;   // after E0
    std::vector<std::u16string> deadKeyNames;  // dead character first, then the name
    std::vector<uint16_t>       scanCodes;     // bMaxVSCtoVK entries, indexed by scan code
    std::vector<ScanEntry>      scanCodesE0;
    std::vector<ScanEntry>      scanCodesE1;

    bool operator==(const Layout&) const = default;
};

}  // namespace kbd
