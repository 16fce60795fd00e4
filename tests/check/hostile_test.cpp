// kbdtool on small versions of the files built to exhaust it (tests/support/hostile.h;
// scripts/hostile runs the full-size ones): each ends with exit status 1 and
// one line naming the fault, or, where the file is a legal if absurd layout,
// with its result. What is asserted is behaviour, never a time.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "kbd/views/dump.h"
#include "support/fixture.h"
#include "support/hostile.h"

using namespace kbd;
using kbdtest::kbdtool;

namespace {

// Writes bytes to a file of the test's own and returns its quoted path.
std::string file(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::filesystem::path path = std::filesystem::path(::testing::TempDir()) / name;
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return "'" + path.string() + "'";
}

size_t lines(const std::string& s) { return static_cast<size_t>(std::count(s.begin(), s.end(), '\n')); }

size_t occurrences(const std::string& s, const std::string& part) {
    size_t n = 0;
    for (size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + 1)) ++n;
    return n;
}

// The command fails with exit status 1 and one line that contains `want`.
void expectOneLine(const std::string& args, const std::string& want) {
    const auto r = kbdtool(args);
    EXPECT_EQ(r.status, 1) << args << "\n" << r.out;
    EXPECT_EQ(lines(r.out), 1u) << args << "\n" << r.out;
    EXPECT_NE(r.out.find(want), std::string::npos) << args << "\n" << r.out;
}

}  // namespace

TEST(Hostile, TablesSharingOneBlockOfRowsStopAtTheReadingBudget) {
    // 2,000 tables on one 100-row block: 200,000 rows from a 70 KB file.
    const std::string shared = file("shared.dll", hostile::sharedRows(kbdtest::imageBytes(), 2000, 100));
    for (const char* cmd : {"dump ", "names ", "type "}) {
        const std::string args = cmd + shared + (cmd[0] == 't' ? " q" : "");
        expectOneLine(args, "more than the file");
        expectOneLine(args, "its lists overlap");
    }
    const auto c = kbdtool("check " + shared);
    EXPECT_EQ(c.status, 1) << c.out;
    EXPECT_NE(c.out.find("error: VK_TO_WCHAR_TABLE["), std::string::npos) << c.out;
    EXPECT_EQ(occurrences(c.out, "its lists overlap"), 1u) << c.out;
}

TEST(Hostile, AFewTablesOnOneBlockAreALegalLayout) {
    // The image's own tables come first, so it types as before; a second
    // row for a key is a note, and notes of one kind are counted past ten.
    for (uint32_t sharers : {1u, 2u}) {
        const std::string f = file("few.dll", hostile::sharedRows(kbdtest::imageBytes(), sharers, 100));
        const auto t = kbdtool("type " + f + " Shift+4 a");
        EXPECT_EQ(t.status, 0) << t.out;
        EXPECT_NE(t.out.find("text: ā"), std::string::npos) << t.out;
        const auto c = kbdtool("check " + f);
        EXPECT_EQ(c.status, 0) << c.out;
        EXPECT_EQ(occurrences(c.out, "has a second row"), 10u) << c.out;
        const size_t more = sharers * 100 - 10;
        EXPECT_NE(c.out.find("note: ... and " + std::to_string(more) + " more notes like the one above"),
                  std::string::npos)
            << c.out;
    }
}

TEST(Hostile, StrayRelocationsAreListedUpToTenAndCounted) {
    const std::string f = file("relocs.dll", hostile::manyRelocations(kbdtest::imageBytes(), 3000));
    const auto c = kbdtool("check " + f);
    EXPECT_EQ(c.status, 1) << c.out;
    EXPECT_EQ(occurrences(c.out, "fixes up something that is neither a pointer"), 10u) << c.out;
    EXPECT_NE(c.out.find("error: ... and 2990 more errors like the one above"), std::string::npos) << c.out;
    EXPECT_LT(lines(c.out), 40u) << c.out;
    // The mapper itself takes them: a dump of the tables is unaffected.
    EXPECT_EQ(kbdtool("dump " + f).status, 0);
}

TEST(Hostile, FilesThatCannotBeLayoutsAreRefusedBeforeTheyAreRead) {
    const std::filesystem::path dir(::testing::TempDir());
    // 200 MB of zeros (sparse: nothing is written), and an MZ header that
    // leads on to 2 MB of them.
    const auto sparse = [&](const char* name, std::vector<uint8_t> head, uintmax_t size) {
        const std::string quoted = file(name, head);
        std::filesystem::resize_file(dir / name, size);
        return quoted;
    };
    expectOneLine("dump " + sparse("zeros", {}, 200'000'000), "not a PE image: it does not begin with an MZ header");
    expectOneLine("check " + sparse("big.dll", {'M', 'Z'}, 2'000'000), "2000000 bytes is too large for a layout image");
    // Two zero bytes are no COFF object: its machine would be unknown.
    expectOneLine("dump " + file("short", {0, 0, 0, 0}), "not a PE image: it does not begin with an MZ header");
    // A COFF object for x86 with no sections is one.
    std::vector<uint8_t> object(20, 0);
    object[0] = 0x4C;
    object[1] = 0x01;
    expectOneLine("dump " + file("empty.obj", object), "a COFF object file for x86, not an image");
    std::vector<uint8_t> mz(4096, 'x');
    mz[0] = 'M';
    mz[1] = 'Z';
    expectOneLine("dump " + file("mz", mz), "not a PE image: its MZ header leads to no PE signature");
}

TEST(Hostile, AnExportThatHaltsIsNamedForIt) {
    const std::string f = file("hlt.dll", hostile::haltingExport(kbdtest::imageBytes()));
    expectOneLine("dump " + f, "KbdLayerDescriptor: hlt at pc 0x10001000 (RVA 0x1000) halts the processor");
    const auto c = kbdtool("check " + f);
    EXPECT_EQ(c.status, 1) << c.out;
    EXPECT_NE(c.out.find("error: KbdLayerDescriptor: hlt at pc"), std::string::npos) << c.out;
}

TEST(Hostile, MasksBeyondAFewOnOneColumnAreCountedNotNamed) {
    // 65,536 masks on one column: every mask's line names the column, so a
    // full list on each would be billions of bytes.
    kbd::Decoded d = kbdtest::decoded();
    d.layout.modNumber.assign(0x10000, 1);
    const std::string out = dumpText(d);
    EXPECT_LT(out.size(), size_t{0x10000} * 400);  // a line a mask
    EXPECT_EQ(occurrences(out, "or 65520 other masks)"), 0x10000u);
}
