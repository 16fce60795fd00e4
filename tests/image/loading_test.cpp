// The image as the input subsystem loads it: mapped at any base, its export
// run on a CPU model, its root settings and its pointers.
#include <vector>

#include <gtest/gtest.h>

#include "support/fixture.h"

using namespace kbd;
using kbdtest::kForeignBase;

TEST(Loading, ExportReturnsTheSameRootInsideTheImageEveryTime) {
    const auto img = MappedImage::load(kbdtest::imagePath(), kForeignBase);
    const uint64_t a = runExport(img, kRootExport), b = runExport(img, kRootExport);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, 0u);
    EXPECT_TRUE(img.contains(a, 0x3C));
    EXPECT_EQ(img.base(), kForeignBase);
    EXPECT_EQ(img.preferredBase(), 0x10000000u);
}

// What an export returned is kept by mapping: more mappings than are kept,
// read in turn, each give the root at their own base.
TEST(Loading, EachMappingGetsItsOwnRootWhateverRanBefore) {
    std::vector<MappedImage> maps;
    for (uint64_t i = 0; i < 6; ++i) maps.push_back(MappedImage::load(kbdtest::imagePath(), kForeignBase + i * 0x10000));
    const uint64_t rva = runExport(maps[0], kRootExport) - maps[0].base();
    for (int round = 0; round < 2; ++round)
        for (const MappedImage& m : maps) EXPECT_EQ(runExport(m, kRootExport), m.base() + rva);
    const MappedImage copy = maps[0];
    EXPECT_EQ(copy.id(), maps[0].id());
    EXPECT_NE(maps[1].id(), maps[0].id());
}

TEST(Loading, OneExportByNameAtOrdinalOneAndNothingRunsAtLoad) {
    const auto img = MappedImage::load(kbdtest::imagePath());
    ASSERT_EQ(img.exports().size(), 1u);
    EXPECT_EQ(img.exports()[0].name, kRootExport);
    EXPECT_EQ(img.exports()[0].ordinal, 1u);
    EXPECT_EQ(img.entryPoint(), 0u);
    EXPECT_FALSE(img.hasImports());
    EXPECT_EQ(img.machine(), 0x14C);
    EXPECT_FALSE(img.is64());
}

TEST(Loading, TheModelIsTheSameAtEveryBase) {
    const auto& foreign = kbdtest::decoded();
    for (uint64_t base : {uint64_t{0x10000000}, uint64_t{0x00400000}, uint64_t{0x7FF00000}}) {
        const auto d = decodeFile(kbdtest::imagePath(), base);
        EXPECT_EQ(d.layout, foreign.layout) << std::hex << base;
        EXPECT_EQ(d.root - base, foreign.root - kForeignBase);
    }
}

TEST(Loading, EveryPointerOfTheTreeLandsInsideTheImageAfterRelocation) {
    const auto img = MappedImage::load(kbdtest::imagePath(), kForeignBase);
    const auto d = decode(img);
    ASSERT_FALSE(d.pointers.empty());
    for (const auto& p : d.pointers)
        if (p.target != 0) {
            EXPECT_TRUE(img.contains(p.target, 1)) << p.what;
        }
    // Each non-null pointer field carries a relocation; without one it would
    // still point at the preferred base.
    for (const auto& p : d.pointers) {
        if (p.target == 0) continue;
        bool relocated = false;
        for (const auto& r : img.relocations()) relocated |= (r.rva == p.field - img.base());
        EXPECT_TRUE(relocated) << p.what;
    }
}

TEST(Root, Settings) {
    const Layout& L = kbdtest::layout();
    EXPECT_EQ(L.localeFlags, 0x00010001u);  // KLLF_ALTGR, version 1
    EXPECT_EQ(L.nLgMax, 0);
    EXPECT_EQ(L.cbLgEntry, 0);
    EXPECT_FALSE(L.hasLigatures);
    EXPECT_EQ(L.type, 0u);
    EXPECT_EQ(L.subType, 0u);
    EXPECT_EQ(L.scanCodes.size(), 127u);
    // Only pLigature is null.
    for (const auto& p : kbdtest::decoded().pointers)
        EXPECT_EQ(p.target == 0, p.what == "KBDTABLES.pLigature" || p.what.starts_with("VK_TO_WCHAR_TABLE[4]") ||
                                     p.what == "pKeyNamesDead[11]")
            << p.what;
}

TEST(Root, EachSettingIsReadFromItsOwnField) {
    // Our root has zeros in all of these, so a reader that confuses them
    // would pass on the real image; distinct values in a copy tell them apart.
    kbdtest::ImageCopy c;
    const uint64_t root = c.d.root;
    c.put32(root + 0x28, 0x00020005);  // fLocaleFlags
    c.put8(root + 0x2C, 3);            // nLgMax
    c.put8(root + 0x2D, 9);            // cbLgEntry
    c.put32(root + 0x34, 0x11);        // dwType
    c.put32(root + 0x38, 0x22);        // dwSubType
    const Layout L = decode(MappedImage::fromBytes(c.bytes)).layout;
    EXPECT_EQ(L.localeFlags, 0x00020005u);
    EXPECT_EQ(L.nLgMax, 3);
    EXPECT_EQ(L.cbLgEntry, 9);
    EXPECT_FALSE(L.hasLigatures);  // pLigature at 0x30 is still null
    EXPECT_EQ(L.type, 0x11u);
    EXPECT_EQ(L.subType, 0x22u);
}
