#include "kbd/views/drawn_keyboard.h"

#include <algorithm>

#include <fmt/format.h>

#include "kbd/model/pc_keys.h"
#include "kbd/model/char_labels.h"

namespace kbd {

namespace {

constexpr double rowY(KeyRow r) {
    return r == KeyRow::F ? 0 : kRowE + (static_cast<int>(r) - static_cast<int>(KeyRow::E));
}

}  // namespace

const std::vector<KeySpot>& keySpots() {
    static const std::vector<KeySpot> spots = [] {
        std::vector<const PcKey*> drawn;
        for (const auto& k : pcKeys())
            if (k.row != KeyRow::None) drawn.push_back(&k);
        // Top row first, each row left to right.
        std::stable_sort(drawn.begin(), drawn.end(), [](const PcKey* a, const PcKey* b) {
            return a->row != b->row ? a->row < b->row : a->x < b->x;
        });
        std::vector<KeySpot> k;
        for (const PcKey* p : drawn) k.push_back({p->scan.prefix, p->scan.code, p->x, rowY(p->row), p->w, p->iso.data()});
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
