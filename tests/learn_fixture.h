// A copy of the built image with one character cell, one composition and one
// dead-key name changed, for the tests of diff.
#pragma once

#include <algorithm>

#include "fixture.h"

namespace kbdtest {

inline std::vector<uint8_t> threeChanges() {
    ImageCopy c;
    const kbd::Layout& L = layout();
    // AltGr+Q: U+00E4 ä becomes U+0103 ă.
    const auto& table = L.charTables.at(1);
    const auto row = std::find_if(table.rows.begin(), table.rows.end(), [](const auto& r) { return r.vk == 'Q'; });
    const uint64_t cell = c.target("VK_TO_WCHAR_TABLE[1].pVkToWchars") + (row - table.rows.begin()) * table.cbSize +
                          2 + 2 * 3;
    c.bytes[c.offsetOf(cell)] = 0x03;
    c.bytes[c.offsetOf(cell) + 1] = 0x01;
    // Macron then a: U+0101 ā becomes U+01E1 ǡ.
    const auto dk = std::find_if(L.deadKeys.begin(), L.deadKeys.end(),
                                 [](const auto& d) { return d.dead == 0xAF && d.base == 'a'; });
    const uint64_t composed = c.target("KBDTABLES.pDeadKey") + (dk - L.deadKeys.begin()) * 8 + 4;
    c.bytes[c.offsetOf(composed)] = 0xE1;
    // The name of the macron dead key: its first letter becomes X.
    for (size_t i = 0; i < L.deadKeyNames.size(); ++i)
        if (L.deadKeyNames[i].at(0) == 0xAF)
            c.bytes[c.offsetOf(c.target("pKeyNamesDead[" + std::to_string(i) + "]") + 2)] = 'X';
    return c.bytes;
}

}  // namespace kbdtest
