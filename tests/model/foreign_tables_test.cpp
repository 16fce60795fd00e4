// The test layouts as tables: each passes check on every kind, reads the same
// whatever the kind, survives the JSON round trip, and dump names what it
// holds; damage that would break the platform still fails check.

#include <gtest/gtest.h>

#include "kbd/check/check.h"
#include "kbd/views/draw.h"
#include "kbd/views/dump.h"
#include "support/foreign.h"
#include "kbd/model/layout_json.h"

using namespace kbd;
using kbdtest::foreign;

namespace {

std::string findings(const CheckReport& r, Finding::Level level) {
    std::string out;
    for (const auto& f : r.findings)
        if (f.level == level) out += f.message + "\n";
    return out;
}

}  // namespace

TEST(ForeignTables, EveryLayoutPassesCheckOnEveryKind) {
    for (const char* kind : kbdtest::kForeignKinds)
        for (const char* name : kbdtest::kForeignLayouts) {
            const CheckReport r = checkImage(MappedImage::load(kbdtest::foreignPath(name, kind)));
            EXPECT_EQ(findings(r, Finding::Level::Error), "") << name << " " << kind;
            // Dotted version strings name the same numbers as the fixed ones.
            EXPECT_EQ(findings(r, Finding::Level::Note).find("version string"), std::string::npos) << name;
        }
}

TEST(ForeignTables, EveryKindReadsAsTheSameLayout) {
    for (const char* name : kbdtest::kForeignLayouts) {
        EXPECT_EQ(foreign(name, "x64").layout, foreign(name).layout) << name;
        EXPECT_EQ(foreign(name, "wow64").layout, foreign(name).layout) << name;
        EXPECT_EQ(foreign(name, "wow64").pointerSize, 8u) << name;
    }
}

TEST(ForeignTables, JsonRoundTripsEveryLayout) {
    for (const char* name : kbdtest::kForeignLayouts)
        EXPECT_EQ(layoutFromJson(nlohmann::json::parse(toJson(foreign(name)).dump())), foreign(name).layout) << name;
    const Layout& lig = foreign("ligature4").layout;
    ASSERT_EQ(lig.ligatures.size(), 6u);
    EXPECT_EQ(lig.ligatures[3].chars, (std::vector<uint16_t>{0x0936, 0x094D, 0x0930, 0x0940}));
    EXPECT_EQ(toJson(foreign("ligature2"))["ligatures"][4]["chars"], nlohmann::json::array({0x0625, 0xF000}));
}

TEST(ForeignTables, DumpNamesColumnsByTheirMasksAndRowsByWhatTheyHold) {
    const std::string columns = dumpText(foreign("columns"));
    EXPECT_NE(columns.find("mask 2 -> column 4 (Ctrl)"), std::string::npos);
    EXPECT_NE(columns.find("mask 6 -> column 2 (AltGr)"), std::string::npos);
    EXPECT_NE(columns.find("mask 8 -> column 6 (OEM_8)"), std::string::npos);
    EXPECT_NE(dumpText(foreign("kana")).find("mask 9 -> column 4 (Shift+Kana)"), std::string::npos);
    EXPECT_EQ(columnName(foreign("deadchain").layout, 3), "no mask reaches it");
    const std::string sg = dumpText(foreign("sgcaps"));
    EXPECT_NE(sg.find("  (Caps Lock)"), std::string::npos);
    EXPECT_NE(sg.find("VK_OEM_6 (Caps+dead)"), std::string::npos);
    EXPECT_NE(dumpText(foreign("deadchain")).find("-> dead U+02DD"), std::string::npos);
    EXPECT_NE(dumpText(foreign("ligature4")).find("column 2 (AltGr) | U+0936"), std::string::npos);
}

TEST(ForeignTables, CheckStillFailsWhatWouldBreakThePlatform) {
    // cbLgEntry stands three bytes before pLigature in a 32-bit tree.
    const Decoded& d = foreign("ligature4");
    std::vector<uint8_t> bytes = kbdtest::foreignBytes("ligature4");
    const MappedImage img = MappedImage::fromBytes(bytes);
    uint64_t lig = 0;
    for (const auto& p : d.pointers)
        if (p.what == "KBDTABLES.pLigature") lig = p.field;
    ASSERT_NE(lig, 0u);
    const auto offsetOf = [&](uint64_t va) {
        for (const auto& s : img.sections())
            if (va - img.base() >= s.rva && va - img.base() < s.rva + s.rawSize)
                return s.rawOffset + (va - img.base() - s.rva);
        throw std::logic_error("not in the file");
    };
    std::vector<uint8_t> narrow = bytes;
    narrow[offsetOf(lig - 3)] = 10;  // rows of 4 characters need 12 bytes
    EXPECT_NE(findings(checkImage(MappedImage::fromBytes(narrow)), Finding::Level::Error).find("cbLgEntry is 10"),
              std::string::npos);
}

TEST(ForeignTables, LegalOdditiesAreNotes) {
    const CheckReport sg = checkImage(MappedImage::load(kbdtest::foreignPath("sgcaps")));
    EXPECT_EQ(findings(sg, Finding::Level::Error), "");
    const std::string notes = findings(checkImage(MappedImage::load(kbdtest::foreignPath("columns"))), Finding::Level::Note);
    EXPECT_NE(notes.find("character table 3 has 8-byte rows for 2 columns"), std::string::npos);
    // The chain reaches the double acute, so its name is no finding at all.
    EXPECT_EQ(findings(checkImage(MappedImage::load(kbdtest::foreignPath("deadchain"))), Finding::Level::Note)
                  .find("no key makes dead"),
              std::string::npos);
}

TEST(ForeignTables, DrawingsShowLigaturesAndTheKanaAndLevelBoards) {
    const auto find = [](const std::vector<Drawing>& all, const std::string& file) -> std::string {
        for (const auto& d : all)
            if (d.fileName == file) return d.svg;
        return "";
    };
    const auto lig = drawLayout(foreign("ligature4").layout);
    EXPECT_NE(find(lig, "base-shift.svg").find("क्ष"), std::string::npos);
    EXPECT_EQ(find(lig, "base-shift.svg").find("F002"), std::string::npos);
    EXPECT_NE(find(drawLayout(foreign("kana").layout), "kana.svg").find("й"), std::string::npos);
    EXPECT_NE(find(drawLayout(foreign("columns").layout), "level-08.svg").find("α"), std::string::npos);
}
