// The four images built from the same tables: x86, x64, ARM64 and WOW64.
// Each is read on its own CPU model, at a base of its own, and must give the
// same layout and type the same text.
#include <gtest/gtest.h>

#include "check.h"
#include "fixture.h"

using namespace kbd;

namespace {

struct Kind {
    const char* name;
    const char* path;
    uint16_t    machine;
    bool        is64;
    unsigned    pointerSize;
    uint8_t     relocationType;  // HIGHLOW 3, DIR64 10
    size_t      relocations;     // the 64-bit exports address the root PC-relatively
    uint64_t    base;            // a foreign base to map it at
};

const Kind kKinds[] = {
    {"x86", KBD_IMAGE_PATH, 0x14C, false, 4, 3, 99, 0x5A3C0000},
    {"x64", KBD_IMAGE_X64_PATH, 0x8664, true, 8, 10, 98, 0x7FF6A0000000},
    {"arm64", KBD_IMAGE_ARM64_PATH, 0xAA64, true, 8, 10, 98, 0x7FF6B0000000},
    {"wow64", KBD_IMAGE_WOW64_PATH, 0x14C, false, 8, 3, 99, 0x6B200000},
};

const std::vector<std::vector<std::string>> kSequences = {
    {"CapsLock", "AltGr+q", "Shift+AltGr+q", "q"},
    {"r", "Shift+4", "a", "m", "Shift+4", "a", "y", "a", "Period", "n", "a"},
    {"Shift+m", "u", "Period", "h", "a", "m", "m", "a", "d"},
    {"sc:2a+sc:03", "sc:39", "sc:29", "sc:1e", "e0:38+sc:2f", "sc:47", "e0:1c", "Ctrl+Back"},
    {"h", "h", "Shift+2", "b", "Comma", "Shift+s", "OEM_3", "OEM_2"},
};

}  // namespace

TEST(Architectures, EachImageHasItsMachinePointerWidthAndRelocations) {
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const auto img = MappedImage::load(k.path, k.base);
        EXPECT_EQ(img.machine(), k.machine);
        EXPECT_EQ(img.is64(), k.is64);
        EXPECT_EQ(img.relocations().size(), k.relocations);
        for (const auto& r : img.relocations()) EXPECT_EQ(r.type, k.relocationType);
        const Decoded d = decode(img);
        EXPECT_EQ(d.pointerSize, k.pointerSize);
        EXPECT_TRUE(img.contains(d.root, k.pointerSize == 4 ? 0x3C : 0x68));
        EXPECT_FALSE(img.hasImports());
        EXPECT_EQ(img.entryPoint(), 0u);
        EXPECT_EQ(img.exports().size(), 1u);
        EXPECT_EQ(img.exportDllName(), "kbdQelvo.dll");
        EXPECT_EQ(img.headerChecksum(), img.computedChecksum());
    }
}

TEST(Architectures, AllDecodeToTheSameLayoutAndTypeTheSame) {
    const Layout& x86 = kbdtest::layout();
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const Layout L = decodeFile(k.path, k.base).layout;
        EXPECT_EQ(L, x86);
        for (const auto& seq : kSequences) EXPECT_EQ(typeText(L, seq), typeText(x86, seq));
    }
}

TEST(Architectures, CheckPassesOnEveryImageAndSaysWhichPointersItFound) {
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const CheckReport r = checkImage(MappedImage::load(k.path));
        EXPECT_TRUE(r.ok());
        for (const auto& f : r.findings) EXPECT_EQ(f.level, Finding::Level::Note) << f.message;
        EXPECT_EQ(r.pointerSize, k.pointerSize);
    }
}

TEST(Architectures, TheWow64ExportReturnsA64BitAddressWithAZeroUpperHalf) {
    const auto img = MappedImage::load(KBD_IMAGE_WOW64_PATH, 0x6B200000);
    const uint64_t wide = runExport(img, kRootExport, true);
    EXPECT_EQ(wide >> 32, 0u);
    EXPECT_TRUE(img.contains(wide, 0x68));
    // Read as a native 32-bit tree it is not valid: the reading is detected,
    // and forcing 4-byte pointers fails rather than giving a wrong answer.
    EXPECT_THROW(decode(img, {4}), Error);
    EXPECT_EQ(decode(img, {8}).layout, kbdtest::layout());
}
