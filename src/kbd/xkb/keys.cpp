#include "kbd/xkb/keys.h"

#include <algorithm>
#include <array>

#include <xkbcommon/xkbcommon-keysyms.h>

namespace kbd::xkb {
namespace {

constexpr Prefix P0 = Prefix::None, E0 = Prefix::E0;

// A row of pc_keys.inc as the export sees it; OTHER keys are not listed.
struct Row {
    bool        listed;
    KeyPosition position;
};

struct Role {
    bool    listed;
    KeyRole kind;
};
constexpr Role LAYOUT{true, KeyRole::Layout}, KEYPAD{true, KeyRole::Keypad}, CONTROL{true, KeyRole::Control},
               MODIFIER{true, KeyRole::Modifier}, OTHER{false, KeyRole::Layout};

constexpr Row kRows[] = {
#define KEY(pfx, scan, iso, evdev, xkb, dom, role, stock, nav, row, x, w) \
    {role.listed, {{pfx, scan}, evdev, xkb, role.kind, XKB_KEY_##stock, XKB_KEY_##nav}},
#include "kbd/model/pc_keys.inc"
#undef KEY
};

constexpr auto kPositions = [] {
    std::array<KeyPosition, std::ranges::count_if(kRows, &Row::listed)> out{};
    size_t i = 0;
    for (const auto& r : kRows)
        if (r.listed) out[i++] = r.position;
    return out;
}();

}  // namespace

std::span<const KeyPosition> keyPositions() { return kPositions; }

std::optional<KeyPosition> positionOf(ScanCode scan) {
    for (const auto& p : kPositions)
        if (p.scan.prefix == scan.prefix && p.scan.code == scan.code) return p;
    return std::nullopt;
}

std::optional<KeyPosition> positionNamed(std::string_view name) {
    for (const auto& p : kPositions)
        if (p.name == name) return p;
    return std::nullopt;
}

}  // namespace kbd::xkb
