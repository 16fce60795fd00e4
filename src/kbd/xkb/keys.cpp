#include "kbd/xkb/keys.h"

#include <string>
#include <vector>

#include <xkbcommon/xkbcommon.h>

#include "kbd/model/pc_keys.h"

namespace kbd::xkb {
namespace {

// The keysym a name of pc_keys.inc stands for ("KP_7"; NoSymbol is 0).
uint32_t keysym(std::string_view name) {
    return xkb_keysym_from_name(std::string(name).c_str(), XKB_KEYSYM_NO_FLAGS);
}

// The keys the export lists, in the table's order: every key but the Other ones.
const std::vector<KeyPosition>& positions() {
    static const std::vector<KeyPosition> out = [] {
        std::vector<KeyPosition> p;
        for (const auto& k : pcKeys()) {
            if (k.xkbRole == XkbRole::Other) continue;
            const KeyRole role = k.xkbRole == XkbRole::Keypad    ? KeyRole::Keypad
                                 : k.xkbRole == XkbRole::Control  ? KeyRole::Control
                                 : k.xkbRole == XkbRole::Modifier ? KeyRole::Modifier
                                                                  : KeyRole::Layout;
            p.push_back({k.scan, k.evdev, k.xkb, role, keysym(k.stockKeysym), keysym(k.navKeysym)});
        }
        return p;
    }();
    return out;
}

}  // namespace

std::span<const KeyPosition> keyPositions() { return positions(); }

std::optional<KeyPosition> positionOf(ScanCode scan) {
    for (const auto& p : positions())
        if (p.scan.prefix == scan.prefix && p.scan.code == scan.code) return p;
    return std::nullopt;
}

std::optional<KeyPosition> positionNamed(std::string_view name) {
    for (const auto& p : positions())
        if (p.name == name) return p;
    return std::nullopt;
}

}  // namespace kbd::xkb
