// The one table of PC keyboard keys, checked against itself and against the
// views the tools take of it: every name picks out one key, and a key found
// by one name is the same key by all the others.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "kbd/views/drawn_keyboard.h"
#include "kbd/model/pc_keys.h"
#include "kbd/typing/chords.h"
#include "kbd/xkb/keys.h"

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
            EXPECT_EQ(kbd::keyByDomCode(k.dom)->xkb, k.xkb);
        }
        if (!k.iso.empty()) {
            EXPECT_TRUE(isos.insert(std::string(k.iso)).second) << k.iso;
            EXPECT_EQ(kbd::keyByIso(k.iso)->xkb, k.xkb);
        }

        EXPECT_EQ(kbd::keyByScanCode(k.scan)->xkb, k.xkb);
        EXPECT_EQ(kbd::keyByXkbName(k.xkb)->dom, k.dom);
    }
    // The ISO alphanumeric block a chord can name: E00-E12, D01-D12, C01-C12, B00-B10, A03.
    EXPECT_EQ(isos.size(), 13u + 12 + 12 + 11 + 1);
    EXPECT_FALSE(kbd::keyByIso(""));
    EXPECT_FALSE(kbd::keyByDomCode("KeyQ "));
    EXPECT_FALSE(kbd::keyByDomCode(""));
}

TEST(KeyboardKeys, ChordPositionsAndTheXkbExportAgreeOnEveryKey) {
    for (const auto& k : kbd::pcKeys()) {
        if (!k.iso.empty()) {
            EXPECT_EQ(kbd::positionScanCode(k.iso), k.scan.code) << k.iso;
            std::string lower(k.iso);
            lower[0] = static_cast<char>(lower[0] - 'A' + 'a');
            EXPECT_EQ(kbd::positionScanCode(lower), k.scan.code) << lower;
        }
        if (const auto p = kbd::xkb::positionOf(k.scan)) {
            EXPECT_EQ(p->name, k.xkb);
            EXPECT_EQ(p->evdev, k.evdev);
        }
    }
    // Every key the export lists is a key of the table; the keys it leaves
    // out (function row, Windows and menu keys) are found only here.
    for (const auto& p : kbd::xkb::keyPositions()) EXPECT_TRUE(kbd::keyByXkbName(p.name)) << p.name;
    EXPECT_FALSE(kbd::xkb::positionNamed("FK01"));
    EXPECT_EQ(kbd::keyByDomCode("F1")->xkb, "FK01");
}

// The drawing and the page take their keys from the same table: every
// position a chord can name is drawn under that name, the page names each key
// as the table does, and no two drawn keys of a row overlap.
TEST(KeyboardKeys, TheDrawnKeyboardIsTheTablesKeyboard) {
    for (const auto& k : kbd::pcKeys()) {
        EXPECT_EQ(kbd::domCode(k.scan), k.dom) << k.xkb;
        if (k.iso.empty()) continue;
        const kbd::KeySpot* s = kbd::spotFor(k.scan);
        ASSERT_NE(s, nullptr) << k.iso;
        EXPECT_EQ(std::string(s->pos), k.iso);
    }
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
