#include "kbd/model/pc_keys.h"

namespace kbd {
namespace {

constexpr Prefix P0 = Prefix::None, E0 = Prefix::E0;
constexpr XkbRole LAYOUT = XkbRole::Layout, KEYPAD = XkbRole::Keypad, CONTROL = XkbRole::Control,
                  MODIFIER = XkbRole::Modifier, OTHER = XkbRole::Other;
constexpr KeyRow F = KeyRow::F, E = KeyRow::E, D = KeyRow::D, C = KeyRow::C, B = KeyRow::B, A = KeyRow::A,
                 NONE = KeyRow::None;

constexpr PcKey kKeys[] = {
#define KEY(pfx, scan, iso, evdev, xkb, dom, mac, macch, role, stock, nav, row, x, w) \
    {{pfx, scan}, iso, evdev, xkb, dom, mac, macch, role, #stock, #nav, row, x, w},
#include "kbd/model/pc_keys.inc"
#undef KEY
};

template <class Match>
std::optional<PcKey> find(Match match) {
    for (const auto& k : kKeys)
        if (match(k)) return k;
    return std::nullopt;
}

}  // namespace

std::span<const PcKey> pcKeys() { return kKeys; }

std::optional<PcKey> keyByScanCode(ScanCode scan) {
    return find([&](const PcKey& k) { return k.scan.prefix == scan.prefix && k.scan.code == scan.code; });
}

std::optional<PcKey> keyByIso(std::string_view position) {
    if (position.empty()) return std::nullopt;
    return find([&](const PcKey& k) { return k.iso == position; });
}

std::optional<PcKey> keyByXkbName(std::string_view name) {
    return find([&](const PcKey& k) { return k.xkb == name; });
}

std::optional<PcKey> keyByDomCode(std::string_view code) {
    if (code.empty()) return std::nullopt;
    return find([&](const PcKey& k) { return k.dom == code; });
}

}  // namespace kbd
