// What check says about tables that load but disagree with one another, and
// how the small pieces a user touches (chords, text) treat odd input.
#include <gtest/gtest.h>

#include "check.h"
#include "fixture.h"
#include "text.h"

using namespace kbd;
using kbdtest::ImageCopy;

namespace {

struct Findings {
    std::string errors, notes;
};

Findings findingsOf(const std::vector<uint8_t>& bytes) {
    Findings f;
    for (const auto& x : checkImage(MappedImage::fromBytes(bytes)).findings)
        (x.level == Finding::Level::Error ? f.errors : f.notes) += x.message + "\n";
    return f;
}

bool has(const std::string& s, const std::string& what) { return s.find(what) != std::string::npos; }

}  // namespace

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
}

TEST(Findings, DisagreeingTablesAreErrors) {
    {
        ImageCopy c;  // the dead row after Shift+2 turned into an ordinary key
        const uint64_t rows = c.target("VK_TO_WCHAR_TABLE[1].pVkToWchars");
        ASSERT_EQ(c.img.u8(rows + 2 * 12, "row"), 0xFF);
        c.put8(rows + 2 * 12, 0x07);
        const Findings f = findingsOf(c.bytes);
        EXPECT_TRUE(has(f.errors, "a dead key not followed by its 0xFF row")) << f.errors;
    }
    {
        ImageCopy c;  // the first dead-key name now names Q, which no key makes dead
        c.bytes[c.offsetOf(c.target("pKeyNamesDead[0]"))] = 'Q';
        const Findings f = findingsOf(c.bytes);
        EXPECT_TRUE(has(f.errors, "which no key makes dead")) << f.errors;
        EXPECT_TRUE(has(f.errors, "dead key U+003D = has no name")) << f.errors;
    }
}

TEST(Chords, MalformedChordsAreRefusedWithTheirPart) {
    for (const auto& [chord, want] : std::vector<std::pair<std::string, std::string>>{
             {"Shift+", "empty key name"},
             {"+q", "empty key name"},
             {"sc:100", "one to two hex digits"},
             {"sc:", "one to two hex digits"},
             {"e2:10", "sc:XX, e0:XX or e1:XX"},
             {"Hyper+q", "unknown key 'Hyper'"},
         }) {
        try {
            parseChord(chord);
            ADD_FAILURE() << chord;
        } catch (const Error& e) {
            EXPECT_TRUE(has(e.what(), want)) << chord << ": " << e.what();
        }
    }
    // Held keys in any order and any case select the same column.
    EXPECT_EQ(kbdtest::typed({"shift+altgr+q"}), kbdtest::typed({"AltGr+Shift+Q"}));
    EXPECT_EQ(kbdtest::typed({"VK_OEM_3", "a"}), kbdtest::typed({"oem_3", "sc:1e"}));
}

TEST(Text, Utf8KeepsPairsAndRepairsLoneSurrogates) {
    EXPECT_EQ(utf8(u"a\u0101\u1E47\uF173\U0001D11E"), "a\u0101\u1E47\uF173\U0001D11E");
    EXPECT_EQ(utf8(std::u16string(1, char16_t(0xD800))), "\uFFFD");             // high, at the end
    EXPECT_EQ(utf8(std::u16string{char16_t(0xDC00), u'a'}), "\uFFFDa");         // low, alone
    EXPECT_EQ(utf8(std::u16string{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)}),
              "\uFFFD\U00010000");                                          // high, then a pair
    EXPECT_EQ(utf8(u"\uFEFF\uFFFEx"), "\uFEFF\uFFFEx");                          // no byte-order marks
    EXPECT_EQ(charLabel(0xF173), "U+F173");       // Private Use: no glyph
    EXPECT_EQ(charLabel(0x0008), "U+0008 BS");
    EXPECT_EQ(charLabel(0x0101), "U+0101 \u0101");
}
