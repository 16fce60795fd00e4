// The keys of a PC keyboard and the names each goes by: its scan code, ISO
// position, Linux evdev code, XKB key name and DOM KeyboardEvent.code. The
// facts live in pc_keys.inc; this is the lookup over them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "kbd/model/scan_code.h"

namespace kbd {

struct PcKey {
    ScanCode         scan;
    std::string_view iso;    // ISO position (E01, D01, ...); empty outside the alphanumeric block
    uint16_t         evdev = 0;
    std::string_view xkb;    // XKB key name, without the angle brackets
    std::string_view dom;    // KeyboardEvent.code; empty where the learning page does not name the key
};

// Every key of pc_keys.inc, in its order.
std::span<const PcKey> pcKeys();

std::optional<PcKey> keyByScanCode(ScanCode scan);
std::optional<PcKey> keyByIso(std::string_view position);  // exact, upper case: "D01"
std::optional<PcKey> keyByXkbName(std::string_view name);
std::optional<PcKey> keyByDomCode(std::string_view code);  // never for ""

}  // namespace kbd
