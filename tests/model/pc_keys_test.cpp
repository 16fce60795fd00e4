// The one table of PC keyboard keys, checked against itself: every name picks
// out one key, the ISO block is complete, and the drawn rows are in order.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "kbd/views/drawn_keyboard.h"
#include "kbd/model/pc_keys.h"
#include "kbd/typing/chords.h"

namespace {

int scanId(kbd::ScanCode s) { return static_cast<int>(s.prefix) << 8 | s.code; }

TEST(KeyboardKeys, EveryNameIsUniqueAndLeadsBackToItsKey) {
    std::set<int>         scans;
    std::set<std::string> isos, xkbs, doms;
    std::set<uint16_t>    evdevs;
    for (const auto& k : kbd::pcKeys()) {
        EXPECT_TRUE(scans.insert(scanId(k.scan)).second) << k.xkb;
        EXPECT_TRUE(evdevs.insert(k.evdev).second) << k.xkb;
        EXPECT_TRUE(xkbs.insert(std::string(k.xkb)).second) << k.xkb;
        if (!k.dom.empty()) {
            EXPECT_TRUE(doms.insert(std::string(k.dom)).second) << k.dom;
        }
        if (!k.iso.empty()) {
            EXPECT_TRUE(isos.insert(std::string(k.iso)).second) << k.iso;
        }
    }
    // The ISO alphanumeric block a chord can name: E00-E12, D01-D12, C01-C12, B00-B10, A03.
    EXPECT_EQ(isos.size(), 13u + 12 + 12 + 11 + 1);
    EXPECT_FALSE(kbd::keyByIso(""));
    EXPECT_FALSE(kbd::keyByDomCode("KeyQ "));
    EXPECT_FALSE(kbd::keyByDomCode(""));
}

// pos: takes a position in either case.
TEST(KeyboardKeys, ChordPositionsIgnoreCase) {
    EXPECT_EQ(kbd::positionScanCode("d01"), kbd::positionScanCode("D01"));
    EXPECT_EQ(kbd::positionScanCode("D01"), 0x10);
}

// The drawn keyboard: every drawn key is a key of the table, rows top to
// bottom, and no two drawn keys of a row overlap.
TEST(KeyboardKeys, TheDrawnRowsRunLeftToRight) {
    const auto& spots = kbd::keySpots();
    for (size_t i = 0; i < spots.size(); ++i) {
        EXPECT_TRUE(kbd::keyByScanCode({spots[i].prefix, spots[i].code})) << i;
        if (i == 0) continue;
        const auto& a = spots[i - 1];
        const auto& b = spots[i];
        EXPECT_LE(a.y, b.y) << i;  // top row first
        if (a.y == b.y) {
            EXPECT_LE(a.x + a.w, b.x) << i;  // left to right, no overlap
        }
    }
    EXPECT_EQ(kbd::domCode({kbd::Prefix::None, 0xFF}), "");
}

}  // namespace
