// The resource tree and version block of damaged copies: a reader walks
// offsets the file gives it, so each must stay inside the directory.
#include <gtest/gtest.h>

#include "kbd/check/check.h"
#include "support/fixture.h"
#include "kbd/image/version.h"

using namespace kbd;
using kbdtest::ImageCopy;

namespace {

// The copy, and the file offset of its resource directory.
struct ResourceCopy : ImageCopy {
    size_t root = offsetOf(directory(llvm::COFF::RESOURCE_TABLE));
};

std::string versionError(const std::vector<uint8_t>& bytes) {
    try {
        readVersion(MappedImage::fromBytes(bytes));
        return "";
    } catch (const Error& e) {
        return e.what();
    }
}

}  // namespace

TEST(Resources, OurImageHasOneVersionResourceAndNothingElse) {
    const auto res = readResources(MappedImage::load(kbdtest::imagePath()));
    ASSERT_EQ(res.size(), 1u);
    EXPECT_EQ(res[0].type, RT_VERSION);
    EXPECT_EQ(res[0].id, 1u);
    EXPECT_EQ(res[0].language, 0x0409u);
    // The same block from every image kind.
    const auto v = readVersion(MappedImage::load(kbdtest::imagePath()));
    for (const char* path : {KBD_IMAGE_X64_PATH, KBD_IMAGE_ARM64_PATH, KBD_IMAGE_WOW64_PATH}) {
        const auto w = readVersion(MappedImage::load(path));
        ASSERT_TRUE(w) << path;
        EXPECT_EQ(w->stringTables[0].strings, v->stringTables[0].strings) << path;
        EXPECT_EQ(w->fixed.fileVersionLS, v->fixed.fileVersionLS) << path;
    }
}

TEST(Resources, DamagedTreesAreRefused) {
    {
        ResourceCopy c;  // the type entry's subdirectory offset points back at the root: a loop
        c.file32(c.root + 16 + 4, 0x80000000u);
        EXPECT_NE(versionError(c.bytes).find("loops back"), std::string::npos) << versionError(c.bytes);
    }
    {
        ResourceCopy c;  // an entry count far beyond the directory
        c.bytes[c.root + 14] = 0xFF;
        c.bytes[c.root + 15] = 0x7F;
        EXPECT_NE(versionError(c.bytes), "");
    }
    {
        ResourceCopy c;  // the type entry points past the end of the directory
        c.file32(c.root + 16 + 4, 0x80000000u | 0x00FFFFF0u);
        EXPECT_NE(versionError(c.bytes).find("runs past the resource directory"), std::string::npos)
            << versionError(c.bytes);
    }
    {
        ResourceCopy c;  // data at the type level, with no name or language under it
        c.file32(c.root + 16 + 4, c.get32(c.root + 16 + 4) & 0x7FFFFFFF);
        EXPECT_NE(versionError(c.bytes).find("not under a language"), std::string::npos) << versionError(c.bytes);
    }
}

TEST(Resources, ADamagedVersionBlockFailsCheck) {
    ResourceCopy c;
    const auto res = readResources(c.img);
    ASSERT_EQ(res.size(), 1u);
    const size_t block = c.offsetOf(c.img.base() + res[0].dataRva);
    c.bytes[block + 6] = 'X';  // the root key is no longer VS_VERSION_INFO
    EXPECT_NE(versionError(c.bytes).find("not VS_VERSION_INFO"), std::string::npos);
    bool reported = false;
    for (const auto& f : checkImage(MappedImage::fromBytes(c.bytes)).findings)
        reported |= f.level == Finding::Level::Error && f.message.find("version block") != std::string::npos;
    EXPECT_TRUE(reported);
}

namespace {

// A version-block entry: wLength, wValueLength, wType, key, value, children,
// each part 4-aligned from the block's start (offsets here start at 0).
std::vector<uint8_t> entry(const std::u16string& key, uint16_t type, const std::vector<uint8_t>& value,
                           uint16_t valueLength, const std::vector<uint8_t>& children = {}) {
    std::vector<uint8_t> b(6, 0);
    for (char16_t c : key + u'\0') b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8)});
    while (b.size() % 4) b.push_back(0);
    b.insert(b.end(), value.begin(), value.end());
    while (!children.empty() && b.size() % 4) b.push_back(0);
    b.insert(b.end(), children.begin(), children.end());
    b[0] = uint8_t(b.size()), b[1] = uint8_t(b.size() >> 8), b[2] = uint8_t(valueLength), b[4] = uint8_t(type);
    return b;
}

std::vector<uint8_t> text(const std::u16string& s) {
    std::vector<uint8_t> b;
    for (char16_t c : s + u'\0') b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8)});
    return b;
}

std::vector<uint8_t> join(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    while (a.size() % 4) a.push_back(0);
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(Resources, AnEmptyTextValueCutShortReadsAsEmptyNotAsTheNextEntries) {
    // "A" with no value: its entry ends before the 4-aligned place a value
    // would start. Its length field is cut to the key alone.
    auto empty = entry(u"A", 1, {}, 0);
    empty.resize(10);
    empty[0] = 10;
    const auto full = entry(u"Name", 1, text(u"value"), 6);
    const auto table = entry(u"000004B0", 1, {}, 0, join(empty, full));
    const auto sfi = entry(u"StringFileInfo", 1, {}, 0, table);
    const VersionInfo v = parseVersionInfo(entry(u"VS_VERSION_INFO", 0, {}, 0, sfi));
    ASSERT_EQ(v.stringTables.size(), 1u);
    ASSERT_EQ(v.stringTables[0].strings.size(), 2u);
    EXPECT_EQ(v.stringTables[0].strings[0], (std::pair<std::string, std::string>{"A", ""}));
    EXPECT_EQ(v.stringTables[0].strings[1], (std::pair<std::string, std::string>{"Name", "value"}));
}
