// Diffing two layouts: identical images have nothing to report, and a copy
// with one cell, one composition and one name changed reports exactly those.
#include <gtest/gtest.h>

#include "kbd/views/diff.h"
#include "support/fixture.h"
#include "support/foreign.h"
#include "support/learn_fixture.h"
#include "kbd/model/char_labels.h"

using kbd::Change;

TEST(Diff, OurFourImagesTypeTheSame) {
    for (const char* path : {KBD_IMAGE_X64_PATH, KBD_IMAGE_ARM64_PATH, KBD_IMAGE_WOW64_PATH}) {
        const auto other = kbd::decodeFile(path, std::nullopt);
        const auto changes = kbd::diffLayouts(kbdtest::layout(), other.layout);
        EXPECT_TRUE(changes.empty()) << path << "\n" << kbd::diffText(changes);
        EXPECT_EQ(kbd::diffText(changes), "");
    }
}

TEST(Diff, OneCellOneCompositionOneName) {
    const auto changed = kbdtest::threeChanges();
    const auto d = kbd::decode(kbd::MappedImage::fromBytes(changed));
    const auto changes = kbd::diffLayouts(kbdtest::layout(), d.layout);
    ASSERT_EQ(changes.size(), 3u) << kbd::diffText(changes);
    EXPECT_EQ(kbd::diffText(changes),
              "keys\n"
              "  D01 (sc 10) AltGr: U+00E4 ä \u2192 U+0103 ă\n"
              "compositions\n"
              "  U+00AF ¯ then U+0061 a: U+0101 ā \u2192 U+01E1 ǡ\n"
              "names\n"
              "  name of dead key U+00AF ¯: \"MACRON\" \u2192 \"XACRON\"\n");
    // Backwards, the same three the other way round.
    const auto back = kbd::diffLayouts(d.layout, kbdtest::layout());
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].before, "U+0103 ă");
    EXPECT_EQ(back[0].afterValue, (nlohmann::json{{"kind", "char"}, {"ch", 0xE4}}));
}

TEST(Diff, AddedRemovedAndCapsLock) {
    kbd::Layout b = kbdtest::layout();
    b.deadKeys.push_back({u'x', 0xAF, 0x0078, 0});           // a new composition
    b.deadKeyNames.erase(b.deadKeyNames.begin());             // a name gone
    for (auto& t : b.charTables)
        for (auto& r : t.rows)
            if (r.vk == 'S') r.attributes = 0;                 // Caps Lock no longer acts on S
    const auto changes = kbd::diffLayouts(kbdtest::layout(), b);
    const std::string text = kbd::diffText(changes);
    EXPECT_NE(text.find("  C02 (sc 1F) Base with Caps Lock: Caps Lock acts \u2192 Caps Lock does nothing\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find("  U+00AF ¯ then U+0078 x: added, U+0078 x\n"), std::string::npos) << text;
    EXPECT_NE(text.find(": removed, was \"EQUALS SIGN\"\n"), std::string::npos) << text;
    const auto j = kbd::diffJson(changes);
    EXPECT_FALSE(j["same"].get<bool>());
    for (const auto& c : j["changes"]) EXPECT_TRUE(c["kind"] == "added" || c["kind"] == "removed" || c["kind"] == "changed");
}

TEST(Diff, ForeignLayoutsAcrossKindsAndLigatures) {
    for (const char* name : kbdtest::kForeignLayouts)
        for (const char* kind : {"x64", "wow64"}) {
            const auto changes =
                kbd::diffLayouts(kbdtest::foreign(name).layout, kbdtest::foreign(name, kind).layout);
            EXPECT_TRUE(changes.empty()) << name << " " << kind << "\n" << kbd::diffText(changes);
        }
    // A ligature key changed into a plain character is shown as both.
    kbd::Layout b = kbdtest::foreign("ligature2").layout;
    for (auto& t : b.charTables)
        for (auto& r : t.rows)
            if (r.vk == 'B' && !r.cells.empty()) r.cells[0] = u'x';
    const std::string text = kbd::diffText(kbd::diffLayouts(kbdtest::foreign("ligature2").layout, b));
    EXPECT_NE(text.find("Base: ligature U+0644 ل U+0627 ا \u2192 U+0078 x\n"), std::string::npos) << text;
}
