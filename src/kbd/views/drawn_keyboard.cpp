#include "kbd/views/drawn_keyboard.h"

#include <algorithm>

#include <fmt/format.h>

#include "kbd/model/pc_keys.h"
#include "kbd/model/char_labels.h"

namespace kbd {

namespace {

// The drawing's rows, top to bottom, and the y of each in key units; keys
// on row NONE are not drawn.
enum class Row { F, E, D, C, B, A, NONE };

constexpr double rowY(Row r) { return r == Row::F ? 0 : kRowE + (static_cast<int>(r) - static_cast<int>(Row::E)); }

struct Placed {
    Row     row;
    KeySpot spot;
};

constexpr Prefix P0 = Prefix::None, E0 = Prefix::E0;
constexpr Row F = Row::F, E = Row::E, D = Row::D, C = Row::C, B = Row::B, A = Row::A, NONE = Row::NONE;

constexpr Placed kPlaced[] = {
#define KEY(pfx, scan, iso, evdev, xkb, dom, role, stock, nav, row, x, w) {row, {pfx, scan, x, rowY(row), w, iso}},
#include "kbd/model/pc_keys.inc"
#undef KEY
};

}  // namespace

const std::vector<KeySpot>& keySpots() {
    static const std::vector<KeySpot> spots = [] {
        std::vector<const Placed*> drawn;
        for (const auto& p : kPlaced)
            if (p.row != Row::NONE) drawn.push_back(&p);
        // Top row first, each row left to right.
        std::stable_sort(drawn.begin(), drawn.end(), [](const Placed* a, const Placed* b) {
            return a->row != b->row ? a->row < b->row : a->spot.x < b->spot.x;
        });
        std::vector<KeySpot> k;
        for (const Placed* p : drawn) k.push_back(p->spot);
        return k;
    }();
    return spots;
}

const KeySpot* spotFor(ScanCode sc) {
    for (const auto& k : keySpots())
        if (k.prefix == sc.prefix && k.code == sc.code) return &k;
    return nullptr;
}

std::string domCode(ScanCode sc) {
    if (const auto k = keyByScanCode(sc)) return std::string(k->dom);
    return "";
}

}  // namespace kbd
