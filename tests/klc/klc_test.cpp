// The .klc source: a hand-written source types as it says, built images come
// back as the same tables through a written source, and a faulty source gets
// one message per problem with its line and column.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "kbd/klc/klc.h"
#include "kbd/model/source_reader.h"
#include "kbd/typing/chords.h"
#include "support/fixture.h"
#include "support/foreign.h"

using namespace kbd;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A small source: Shift and AltGr, a dead key, an SGCap key, a ligature.
const std::string kSource = R"(KBD	kbdtest	"Test layout"
COPYRIGHT	"(c) nobody"
COMPANY	"nobody"
LOCALENAME	"de-CH"
LOCALEID	"00000807"
VERSION	2.5
ATTRIBUTES
ALTGR

SHIFTSTATE
0	//Column 4
1	//Column 5 : Shft
6	//Column 6 :       Ctrl Alt

LAYOUT		;an extra '@' at the end is a dead key
//SC	VK_		Cap	0	1	6
10	Q		1	q	Q	%%
1a	OEM_1		SGCap	00fc	00e8	005b
-1	-1		0	00dc	00c8
0d	OEM_PLUS	0	005e@	0060@	~
1e	A		1	a	A	-1
39	SPACE		0	0020	0020

LIGATURE
Q	2	q	u	e

DEADKEY	005e
a	00e2
0020	005e

DEADKEY	0060
ENDKBD
this is not read
)";

}  // namespace

TEST(Klc, AHandWrittenSourceTypesAsItSays) {
    const LayoutSource s = klc::parseKlc(bytes(kSource), "test.klc");
    EXPECT_EQ(s.info.name, "kbdtest");
    EXPECT_EQ(s.info.localeId, 0x0807u);
    EXPECT_EQ(s.info.versionMajor, 2);
    EXPECT_EQ(s.info.versionMinor, 5);
    const Layout& L = s.tables;
    EXPECT_EQ(typeText(L, {"Q", "Shift+Q", "AltGr+Q", "sc:1a", "Shift+sc:1a", "AltGr+sc:1a"}), u"qQque\u00FC\u00E8[");
    EXPECT_EQ(typeText(L, {"sc:1a", "Shift+sc:1a"}, true), u"\u00DC\u00C8");
    EXPECT_EQ(typeText(L, {"sc:0d", "A", "sc:0d", "Space", "AltGr+sc:0d"}), u"\u00E2^~");
    // A dead key without compositions types itself and the next character.
    EXPECT_EQ(typeText(L, {"Shift+sc:0d", "A"}), u"`a");
    // Rows of two cells stand in a table of their own, after the wider one.
    ASSERT_EQ(L.charTables.size(), 2u);
    EXPECT_EQ(L.charTables[1].nModifications, 2);
    // UTF-16 with its byte-order mark reads the same.
    const auto written = klc::writeKlc(s);
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(written[0], 0xFF);
    EXPECT_EQ(written[1], 0xFE);
    EXPECT_EQ(klc::parseKlc(written).tables, L);
}

// A key on a second code after E0 (the keypad's / also on e015) keeps both
// codes through a written source: its row goes on the first, the second gets
// a row of its own.
TEST(Klc, ASecondCodeAfterE0ComesBackThroughAWrittenSource) {
    std::string source = kSource;
    const std::string space = "39\tSPACE\t\t0\t0020\t0020\n";
    source.insert(source.find(space) + space.size(), "e015\tDIVIDE\t\t0\t002f\t002f\n");
    const LayoutSource s = klc::parseKlc(bytes(source), "test.klc");
    EXPECT_EQ(klc::parseKlc(klc::writeKlc(s)).tables, s.tables);
}

// What a .klc source cannot say, set alike: the root's keyboard type, the
// modifier record, the E0 and E1 lists, and row sizes beyond the cells.
Layout sayable(Layout L) {
    L.type = L.subType = 0;
    L.modifierBits.clear();
    L.maxModBits = 0;
    L.modNumber.clear();
    L.scanCodesE0.clear();
    L.scanCodesE1.clear();
    for (auto& t : L.charTables) t.cbSize = 0;
    return L;
}

// Every built layout, written as a source and read back, gives the tables it
// holds: our image exactly, the test layouts in everything a source can say;
// unsaid() speaks up exactly when something differs.
TEST(Klc, BuiltLayoutsComeBackThroughASource) {
    std::vector<std::pair<std::string, std::string>> images;
    for (const char* path : {KBD_IMAGE_PATH, KBD_IMAGE_X64_PATH, KBD_IMAGE_ARM64_PATH, KBD_IMAGE_WOW64_PATH})
        images.push_back({path, "kbdqelvo"});
    for (const char* name : kbdtest::kForeignLayouts)
        for (const char* kind : kbdtest::kForeignKinds) images.push_back({kbdtest::foreignPath(name, kind), name});
    for (const auto& [path, name] : images) {
        const LayoutSource s = readLayoutSource(path, kbdtest::kForeignBase);
        const LayoutSource back = klc::parseKlc(klc::writeKlc(s), path);
        const bool same = back.tables == s.tables && versionText(back.info, ".") == versionText(s.info, ".");
        EXPECT_EQ(same, klc::unsaid(s).empty()) << path;
        if (name == "kbdqelvo") {
            EXPECT_EQ(back.tables, s.tables) << path;
        }
        EXPECT_EQ(sayable(back.tables), sayable(s.tables)) << path;
        EXPECT_EQ(back.info.name, name);
        EXPECT_EQ(back.info.description, s.info.description);
        EXPECT_EQ(back.info.localeId, s.info.localeId);
    }
}

TEST(Klc, EachFaultOfASourceIsReportedWithItsPlace) {
    const std::string head = "KBD\tk\t\"d\"\nSHIFTSTATE\n0\n1\nLAYOUT\n";
    const struct {
        std::string source;
        std::string message;  // the first line of the error
    } cases[] = {
        {head + "FOO\n", "t.klc:6:1: unknown section 'FOO'"},
        {"ATTRIBUTES\nALTGR\nFOO\n" + head, "t.klc:3:1: unknown attribute 'FOO' (ALTGR, SHIFTLOCK or LRM_RLM) or section"},
        {head + "10\tQ\t1\tq\tQ\n11\tQ\t1\tw\tW\n", "t.klc:7:4: virtual key Q is used twice (first on line 6)"},
        {head + "10\tQ\t1\tq\tQ\n10\tW\t1\tw\tW\n", "t.klc:7:1: scan code 10 is used twice (first on line 6)"},
        {head + "10\tQ\t1\tq\t005e@\n", "t.klc:6:10: dead key 005e has no DEADKEY block"},
        {head + "10\tQ\t1\tq\t%%\n", "t.klc:6:10: ligature cell of column 1 has no LIGATURE row"},
        {head + "LIGATURE\nQ\t1\ta\tb\tc\td\te\tf\tg\th\ti\tj\tk\tl\tm\tn\to\tp\tq\n",
         "t.klc:7:37: a ligature of 17 characters; the format allows at most 16"},
        {head + "10\tQ\t1\tq\tQQ\n", "t.klc:6:10: 'QQ' is not a hex code point (four digits), a character or -1"},
        {head + "10\tQ\t1\tq\tf001\n", "t.klc:6:10: f001 is a marker of the format, not a character"},
        {head + "10\tQ\t1\tq\tQ\tx\n", "t.klc:6:12: more cells than shift states (2)"},
        {"SHIFTSTATE\n0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n", "t.klc:12:1: more shift states than the format has columns (10)"},
        {head + "1a\tOEM_1\tSGCap\ta\tb\n1e\tA\t1\ta\tA\n", "t.klc:7:1: an SGCap row must be followed by its Caps Lock line (starting -1 -1)"},
        {head + "10\tQ\t1\tq\t\"Q\n", "t.klc:6:10: a quoted text without its closing quote"},
        {head + "10\tQ\t1\tq\ta\"b\n", "t.klc:6:11: a quote inside a word: quote the whole text"},
        {head + "KEYNAME\n38\t\"Right\rAlt\"\n", "t.klc:7:10: a line break inside a quoted text"},
        {head + "KEYNAME_DEAD\n005e\tCaret\n^\tHat\n", "t.klc:8:1: dead key ^ is named twice (first on line 7)"},
        {std::string("\xFE\xFF"), "t.klc:1:1: the file is UTF-16 big-endian; save it as UTF-16 LE or UTF-8"},
        {head + "10\tQ\t1\tq\t\xC3\x28\n", "t.klc:6:10: bad UTF-8 at byte 0x29 (a UTF-16 file needs its byte-order mark)"},
        {std::string("\xFF\xFE\x41"), "t.klc:1:1: the file is UTF-16 (it starts with a byte-order mark) but has an odd number of bytes"},
        {std::string(klc::kMaxFileBytes + 1, ' '), "t.klc:1:1: the file is 1048577 bytes; a layout source is at most 1048576 bytes (1 MiB)"},
    };
    for (const auto& c : cases) {
        try {
            klc::parseKlc(bytes(c.source), "t.klc");
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const klc::ParseError& e) {
            const std::string what = e.what();
            EXPECT_EQ(what.substr(0, what.find('\n')), c.message);
        }
    }
    // Every problem is reported, not just the first.
    try {
        klc::parseKlc(bytes(head + "10\tQ\t1\tqq\tQ\n11\tW\t7\tw\tWW\n"), "t.klc");
        ADD_FAILURE();
    } catch (const klc::ParseError& e) {
        EXPECT_EQ(e.problems().size(), 2u);
    }
}

// export --klc says on stderr what a .klc leaves out (of our image, only its
// version's last two numbers), and --strict then writes nothing.
TEST(Klc, ExportWritesTheSourceAndSaysWhatItLeavesOut) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kbd-klc-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string ours = (dir / "ours.klc").string();
    auto r = kbdtest::kbdtool("export --klc " + ours + " '" + kbdtest::imagePath() + "'");
    ASSERT_EQ(r.status, 0) << r.out;
    const LayoutInfo info = readLayoutSource(kbdtest::imagePath()).info;
    EXPECT_NE(r.out.find("kbdtool: export: not in the .klc: the version " + versionText(info, ".") + " becomes " +
                         std::to_string(info.versionMajor) + "." + std::to_string(info.versionMinor) + ".0.0"),
              std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("not in the .klc"), r.out.rfind("not in the .klc")) << r.out;
    std::ifstream f(ours, std::ios::binary);
    const std::vector<uint8_t> written{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    EXPECT_EQ(klc::parseKlc(written).tables, kbdtest::layout());

    const std::string sg = (dir / "sg.klc").string();
    r = kbdtest::kbdtool("export --klc " + sg + " '" + kbdtest::foreignPath("sgcaps") + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("kbdtool: export: not in the .klc: keyboard type 4 and subtype 0"), std::string::npos) << r.out;
    fs::remove(sg);
    r = kbdtest::kbdtool("export --strict --klc " + sg + " '" + kbdtest::foreignPath("sgcaps") + "'");
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(fs::exists(sg));
    EXPECT_NE(kbdtest::kbdtool("export --klc " + sg + " --xkb " + dir.string() + " '" + kbdtest::imagePath() + "'").status, 0);
    fs::remove_all(dir);
}
