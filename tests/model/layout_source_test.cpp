// What the version block of a built image says about its layout: name,
// texts, version and language.
#include <gtest/gtest.h>

#include "kbd/model/source_reader.h"
#include "support/fixture.h"
#include "support/foreign.h"

using namespace kbd;

TEST(LayoutSource, ReadsTheVersionBlockOfOurImageAndATestLayout) {
    const LayoutInfo ours = readLayoutInfo(MappedImage::load(kbdtest::imagePath()));
    EXPECT_EQ(ours.name, "kbdqelvo");  // InternalName "kbdqelvo (3.13)" has a suffix; OriginalFilename wins
    EXPECT_EQ(ours.description, "Qelvo Keyboard Layout");
    EXPECT_EQ(ours.company, "The kbdQelvo developers");
    EXPECT_EQ(ours.copyright, "Copyright (c) the kbdQelvo developers");
    EXPECT_EQ(ours.localeId, 0x0409u);
    EXPECT_EQ(ours.localeName, "en-US");
    EXPECT_EQ(ours.versionMajor, 1);
    EXPECT_EQ(ours.versionMinor, 0);

    // A 64-bit image whose OriginalFilename carries ".dll".
    const LayoutInfo sg = readLayoutInfo(MappedImage::load(kbdtest::foreignPath("sgcaps", "x64")));
    EXPECT_EQ(sg.name, "sgcaps");
    EXPECT_EQ(sg.description, "Test layout sgcaps");
    EXPECT_EQ(sg.copyright, "");
    EXPECT_EQ(sg.localeName, "en-US");
}
