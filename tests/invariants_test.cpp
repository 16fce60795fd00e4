// Invariants across the decoded tables: what the platform assumes of a
// layout and never checks.
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "fixture.h"
#include "format.h"

using namespace kbd;
using kbdtest::layout;

TEST(Tables, EachVirtualKeyHasExactlyOneRow) {
    std::map<uint8_t, int> seen;
    for (const auto& t : layout().charTables)
        for (const auto& r : t.rows)
            if (r.vk != def::VK_NONE) ++seen[r.vk];
    for (const auto& [v, n] : seen) EXPECT_EQ(n, 1) << vkName(v);
    EXPECT_EQ(seen.size(), 4u + 50u + 5u + 10u);
}

TEST(Tables, DeadRowsArePairedAndHoldRealCharacters) {
    int pairs = 0;
    for (const auto& t : layout().charTables)
        for (size_t i = 0; i < t.rows.size(); ++i) {
            const auto& r = t.rows[i];
            const bool hasDead = std::count(r.cells.begin(), r.cells.end(), def::WCH_DEAD) > 0;
            if (r.vk == def::VK_NONE) {
                ASSERT_GT(i, 0u);
                const auto& key = t.rows[i - 1];
                EXPECT_EQ(r.attributes, 0);
                for (size_t c = 0; c < r.cells.size(); ++c) {
                    if (key.cells[c] == def::WCH_DEAD) {
                        EXPECT_NE(r.cells[c], def::WCH_NONE);
                        EXPECT_NE(r.cells[c], def::WCH_DEAD);
                    } else {
                        EXPECT_EQ(r.cells[c], def::WCH_NONE) << vkName(key.vk) << " column " << c;
                    }
                }
            }
            if (hasDead) {
                ++pairs;
                ASSERT_LT(i + 1, t.rows.size());
                EXPECT_EQ(t.rows[i + 1].vk, def::VK_NONE) << vkName(r.vk);
            }
            for (uint16_t c : r.cells) EXPECT_NE(c, def::WCH_LGTR);
        }
    EXPECT_EQ(pairs, 10);
    EXPECT_EQ(kbdtest::deadCharsOfTables(), (std::vector<uint16_t>{0x3D, 0xAF, 0xB0, 0x5E, 0x2A, 0x5F, 0x68, 0xB4, 0x7E,
                                                          0x2C, 0x2E}));
}

TEST(Tables, CapsLockAttributesStandOnExactlyTheirKeys) {
    std::set<uint8_t> caplock, altgr;
    for (const auto& t : layout().charTables)
        for (const auto& r : t.rows) {
            EXPECT_EQ(r.attributes & ~(def::CAPLOCK | def::CAPLOKALTGR), 0) << vkName(r.vk);
            if (r.attributes & def::CAPLOCK) caplock.insert(r.vk);
            if (r.attributes & def::CAPLOKALTGR) altgr.insert(r.vk);
        }
    std::set<uint8_t> wantCaps{vk::OEM_4, vk::OEM_6, vk::OEM_2};
    for (uint8_t v = 'A'; v <= 'Z'; ++v) wantCaps.insert(v);
    EXPECT_EQ(caplock, wantCaps);
    std::set<uint8_t> wantAltGr{vk::OEM_COMMA};
    for (char c : std::string("QWEYUIOPADFGHLVN")) wantAltGr.insert(uint8_t(c));
    EXPECT_EQ(altgr, wantAltGr);
    // CAPLOKALTGR marks keys whose AltGr cells are one letter in two cases:
    // typing them with Caps Lock must still give a letter and its partner.
    for (uint8_t v : altgr) {
        const auto lower = charFor(layout(), v, def::KBDCTRL | def::KBDALT, false);
        const auto upper = charFor(layout(), v, def::KBDCTRL | def::KBDALT, true);
        EXPECT_EQ(upper, charFor(layout(), v, def::KBDSHIFT | def::KBDCTRL | def::KBDALT, false)) << vkName(v);
        EXPECT_NE(lower, upper);
    }
}
