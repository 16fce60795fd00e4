// The layout source read back from built images: the tables the decoder
// reads, and the name, texts, version and language of the version block.
#include <gtest/gtest.h>

#include "kbd/model/source_reader.h"
#include "support/fixture.h"
#include "support/foreign.h"

using namespace kbd;

TEST(LayoutSource, ReadsTablesAndVersionBlockOfOurImageAndATestLayout) {
    const LayoutSource ours = readLayoutSource(kbdtest::imagePath(), kbdtest::kForeignBase);
    EXPECT_EQ(ours.tables, kbdtest::layout());
    EXPECT_EQ(ours.info.name, "kbdqelvo");  // InternalName "kbdqelvo (3.13)" has a suffix; OriginalFilename wins
    EXPECT_EQ(ours.info.description, "Qelvo Keyboard Layout");
    EXPECT_EQ(ours.info.company, "The kbdQelvo developers");
    EXPECT_EQ(ours.info.copyright, "Copyright (c) the kbdQelvo developers");
    EXPECT_EQ(ours.info.localeId, 0x0409u);
    EXPECT_EQ(ours.info.localeName, "en-US");
    EXPECT_EQ(ours.info.versionMajor, 1);
    EXPECT_EQ(ours.info.versionMinor, 0);

    // A 64-bit image whose OriginalFilename carries ".dll".
    const LayoutSource sg = readLayoutSource(kbdtest::foreignPath("sgcaps", "x64"));
    EXPECT_EQ(sg.tables, kbdtest::foreign("sgcaps", "x64").layout);
    EXPECT_EQ(sg.info.name, "sgcaps");
    EXPECT_EQ(sg.info.description, "Test layout sgcaps");
    EXPECT_EQ(sg.info.copyright, "");
    EXPECT_EQ(sg.info.localeName, "en-US");
}
