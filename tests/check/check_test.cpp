// kbdtool check on our image and on copies of it that the input subsystem
// would crash on, or load wrongly at another base.
#include <algorithm>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "kbd/check/check.h"
#include "support/fixture.h"
#include "kbd/image/version.h"

using namespace kbd;
using kbdtest::ImageCopy;

namespace {

// The file offset of the relocation entry for `rva`, found by walking the
// .reloc blocks of the file.
size_t relocationEntry(const ImageCopy& c, uint32_t rva) {
    const DataDirectory dir = c.img.directory(llvm::COFF::BASE_RELOCATION_TABLE);
    const size_t start = c.offsetOf(c.img.base() + dir.rva);
    for (size_t off = 0; off < dir.size;) {
        const uint32_t page = c.get32(start + off), size = c.get32(start + off + 4);
        for (size_t e = 8; e < size; e += 2) {
            const uint16_t entry = c.get16(start + off + e);
            if ((entry >> 12) != 0 && page + (entry & 0xFFF) == rva) return start + off + e;
        }
        off += size;
    }
    throw std::logic_error("no relocation entry");
}

struct Findings {
    std::string errors, notes;
};

Findings findingsOf(const std::vector<uint8_t>& bytes) {
    Findings f;
    for (const auto& x : checkImage(MappedImage::fromBytes(bytes)).findings)
        (x.level == Finding::Level::Error ? f.errors : f.notes) += x.message + "\n";
    return f;
}

std::string errors(const std::vector<uint8_t>& bytes) { return findingsOf(bytes).errors; }

bool has(const std::string& s, const std::string& what) { return s.find(what) != std::string::npos; }

}  // namespace

TEST(Check, OurImagePassesWithoutErrors) {
    const CheckReport r = checkImage(MappedImage::load(kbdtest::imagePath(), 0x7E000000));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.pointerSize, 4u);
    for (const auto& f : r.findings) EXPECT_EQ(f.level, Finding::Level::Note) << f.message;
}

TEST(Check, EveryRelocationIsAPointerOfTheTreeOrTheExportsAddress) {
    const auto img = MappedImage::load(kbdtest::imagePath());
    std::vector<Executed> code;
    const Decoded d = decode(img, {0, &code});
    std::set<uint32_t> pointers;  // RVAs of the non-null pointer fields
    for (const auto& p : d.pointers)
        if (p.target != 0) pointers.insert(static_cast<uint32_t>(p.field - img.base()));
    std::set<uint32_t> relocated, inCode;
    for (const auto& r : img.relocations()) {
        EXPECT_EQ(r.type, llvm::COFF::IMAGE_REL_BASED_HIGHLOW) << std::hex << r.rva;
        relocated.insert(r.rva);
        if (pointers.count(r.rva)) continue;
        const uint64_t va = img.base() + r.rva;
        for (const Executed& e : code)
            if (va >= e.address && va + 4 <= e.address + e.size) inCode.insert(r.rva);
    }
    // Each pointer has its relocation; the one left over is the root's
    // address inside the export's code.
    for (uint32_t p : pointers) EXPECT_TRUE(relocated.count(p)) << std::hex << p;
    EXPECT_EQ(relocated.size(), pointers.size() + 1);
    EXPECT_EQ(inCode.size(), 1u);
}

TEST(Check, DamagedCopiesFailWithTheRightMessage) {
    {
        ImageCopy c;  // the relocation of pDeadKey turned into padding
        const size_t e = relocationEntry(c, static_cast<uint32_t>(c.field("KBDTABLES.pDeadKey") - c.img.base()));
        c.bytes[e + 1] &= 0x0F;
        EXPECT_NE(errors(c.bytes).find("KBDTABLES.pDeadKey at RVA"), std::string::npos) << errors(c.bytes);
        EXPECT_NE(errors(c.bytes).find("has no relocation"), std::string::npos);
    }
    {
        ImageCopy c;  // the terminator of the list of character tables overwritten
        c.put32(c.field("VK_TO_WCHAR_TABLE[4].pVkToWchars"), 0x41414141);
        EXPECT_NE(errors(c.bytes).find("VK_TO_WCHAR_TABLE[4].pVkToWchars"), std::string::npos) << errors(c.bytes);
    }
    {
        ImageCopy c;  // the terminator of the dead-key names overwritten
        c.put32(c.field("pKeyNamesDead[11]"), 0xFFFFFFFF);
        EXPECT_NE(errors(c.bytes).find("pKeyNamesDead[11]"), std::string::npos) << errors(c.bytes);
    }
    {
        ImageCopy c;  // a root pointer aimed outside the image
        c.put32(c.field("KBDTABLES.pDeadKey"), 0x7FFFFFF0);
        EXPECT_NE(errors(c.bytes).find("KBDTABLES.pDeadKey"), std::string::npos);
        EXPECT_NE(errors(c.bytes).find("outside the image"), std::string::npos);
    }
    {
        ImageCopy c;  // .data made writable
        c.bytes[c.sectionHeader(0) + 39] |= 0x80;
        EXPECT_NE(errors(c.bytes).find("section .data is both writable and executable"), std::string::npos)
            << errors(c.bytes);
    }
    {
        ImageCopy c;  // a wrong header checksum
        c.bytes[c.opt() + 64] ^= 0x01;  // CheckSum
        EXPECT_NE(errors(c.bytes).find("header checksum"), std::string::npos) << errors(c.bytes);
    }
}

TEST(Check, TheVersionBlockReadsBack) {
    const auto v = readVersion(MappedImage::load(kbdtest::imagePath()));
    ASSERT_TRUE(v);
    EXPECT_EQ(v->key, "VS_VERSION_INFO");
    EXPECT_EQ(v->language, 0x0409u);
    const FixedFileInfo& f = v->fixed;
    EXPECT_EQ(f.signature, 0xFEEF04BDu);
    EXPECT_EQ(f.structVersion, 0x00010000u);
    EXPECT_EQ(f.fileVersionMS, 0x00010000u);
    EXPECT_EQ(f.fileVersionLS, 0x0003000Du);
    EXPECT_EQ(f.productVersionMS, f.fileVersionMS);
    EXPECT_EQ(f.productVersionLS, f.fileVersionLS);
    EXPECT_EQ(f.fileFlagsMask, 0x3Fu);
    EXPECT_EQ(f.fileFlags, 0u);
    EXPECT_EQ(f.fileOS, 0x00040004u);
    EXPECT_EQ(f.fileType, 2u);
    EXPECT_EQ(f.fileSubtype, 2u);
    EXPECT_EQ(f.fileDateMS | f.fileDateLS, 0u);
    ASSERT_EQ(v->stringTables.size(), 1u);
    EXPECT_EQ(v->stringTables[0].key, "000004B0");
    std::vector<std::string> keys;
    std::map<std::string, std::string> s;
    for (const auto& [k, val] : v->stringTables[0].strings) {
        keys.push_back(k);
        s[k] = val;
        EXPECT_FALSE(val.empty()) << k;
        EXPECT_EQ(val.find('\n'), std::string::npos) << k;
    }
    EXPECT_EQ(keys, (std::vector<std::string>{"CompanyName", "FileDescription", "FileVersion", "InternalName",
                                              "Release Information", "LegalCopyright", "OriginalFilename",
                                              "ProductVersion"}));
    EXPECT_EQ(s["FileDescription"], "Qelvo Keyboard Layout");
    // The strings' numbers agree with the fixed information, and the
    // internal name repeats the last two of them.
    EXPECT_EQ(s["FileVersion"], "1, 0, 3, 13");
    EXPECT_EQ(s["ProductVersion"], s["FileVersion"]);
    EXPECT_EQ(s["InternalName"], "kbdqelvo (3.13)");
    EXPECT_EQ(s["OriginalFilename"], "kbdqelvo");
    EXPECT_EQ(v->translations, (std::vector<std::pair<uint16_t, uint16_t>>{{0x0000, 0x04B0}}));
}

TEST(Check, MalformedVersionBlocksAreRefused) {
    EXPECT_THROW(parseVersionInfo({}), Error);
    EXPECT_THROW(parseVersionInfo({0xFF, 0xFF, 0, 0, 0, 0}), Error);       // longer than the block
    EXPECT_THROW(parseVersionInfo({8, 0, 0, 0, 0, 0, 'V', 0}), Error);     // key without terminator
    std::vector<uint8_t> loop(64, 0);
    loop[0] = 64;
    EXPECT_THROW(parseVersionInfo(loop), Error);  // a root key that is not VS_VERSION_INFO
}

TEST(Findings, LegalOdditiesAreNotesNotFailures) {
    {
        ImageCopy c;  // the second composition made a copy of the first: never reached
        const uint64_t rows = c.target("KBDTABLES.pDeadKey");
        c.put32(rows + 8, c.img.u32(rows, "first composition"));
        const Findings f = findingsOf(c.bytes);
        EXPECT_TRUE(has(f.notes, "appears again and is never reached")) << f.notes;
    }
    {
        ImageCopy c;  // the first two key names swapped: out of order, still legal
        const uint64_t row0 = c.field("pKeyNames[0].pwsz") - 4, row1 = c.field("pKeyNames[1].pwsz") - 4;
        const uint8_t a = c.img.u8(row0, "vsc"), b = c.img.u8(row1, "vsc");
        c.put8(row0, b);
        c.put8(row1, a);
        const Findings f = findingsOf(c.bytes);
        EXPECT_TRUE(has(f.notes, "pKeyNames is not in ascending scan-code order")) << f.notes;
    }
    {
        ImageCopy c;  // the dead row after Shift+2 carries a key code: it is still the dead row
        const uint64_t rows = c.target("VK_TO_WCHAR_TABLE[1].pVkToWchars");
        ASSERT_EQ(c.img.u8(rows + 2 * 12, "row"), 0xFF);
        c.put8(rows + 2 * 12, 0x07);
        const Findings f = findingsOf(c.bytes);
        EXPECT_TRUE(has(f.notes, "the row read for key 0x32 carries key 0x07")) << f.notes;
        EXPECT_FALSE(has(f.errors, "0xFF")) << f.errors;
    }
    {
        ImageCopy c;  // the first dead-key name now names Q, which no key makes dead: never shown
        c.bytes[c.offsetOf(c.target("pKeyNamesDead[0]"))] = 'Q';
        const Findings f = findingsOf(c.bytes);
        EXPECT_TRUE(has(f.notes, "which no key makes dead")) << f.notes;
        EXPECT_TRUE(has(f.notes, "dead key U+003D = has no name")) << f.notes;
        EXPECT_FALSE(has(f.errors, "dead key")) << f.errors;
    }
    {
        ImageCopy c;  // the first dead key's compositions moved to Q: it types itself and the next character
        const uint64_t rows = c.target("KBDTABLES.pDeadKey");
        const uint16_t first = c.d.layout.deadKeys.at(0).dead;
        for (size_t i = 0; i < c.d.layout.deadKeys.size(); ++i)
            if (c.d.layout.deadKeys[i].dead == first) c.put16(rows + 8 * i + 2, 'Q');
        const Findings f = findingsOf(c.bytes);
        EXPECT_TRUE(has(f.notes, "has no compositions")) << f.notes;
        EXPECT_FALSE(has(f.errors, "dead key")) << f.errors;
    }
    {
        // FileVersion "1, 0, 3" beside fixed numbers 1.0.3.0: the same version;
        // beside 1.0.3.13 it is not.
        ImageCopy c;
        const std::u16string full = u"1, 0, 3, 13", shorter = u"1, 0, 3    ";
        const auto* b = reinterpret_cast<const char16_t*>(c.bytes.data());
        const std::u16string_view all(b, c.bytes.size() / 2);
        const size_t at = all.find(full, all.find(u"FileVersion"));
        ASSERT_NE(at, std::u16string_view::npos);
        std::copy(shorter.begin(), shorter.end(), reinterpret_cast<char16_t*>(c.bytes.data()) + at);
        EXPECT_TRUE(has(findingsOf(c.bytes).notes, "version string FileVersion is '1, 0, 3 "));
        const uint8_t sig[] = {0xBD, 0x04, 0xEF, 0xFE};
        const auto fixed = std::search(c.bytes.begin(), c.bytes.end(), std::begin(sig), std::end(sig)) - c.bytes.begin();
        c.file32(fixed + 12, 0x00030000);
        EXPECT_FALSE(has(findingsOf(c.bytes).notes, "version string FileVersion")) << findingsOf(c.bytes).notes;
    }
}

TEST(Findings, DisagreeingTablesAreErrors) {
    ImageCopy c;  // the dead row after Shift+2 holds no dead character in the dead column
    const uint64_t rows = c.target("VK_TO_WCHAR_TABLE[1].pVkToWchars");
    ASSERT_EQ(c.img.u8(rows + 2 * 12, "row"), 0xFF);
    c.bytes[c.offsetOf(rows + 2 * 12 + 4)] = 0x00;
    c.bytes[c.offsetOf(rows + 2 * 12 + 5)] = 0xF0;
    const Findings f = findingsOf(c.bytes);
    EXPECT_TRUE(has(f.errors, "column 1: dead key without a dead character")) << f.errors;
}
