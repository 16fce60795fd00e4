// The kbdtool command as a user runs it: output, and exit codes on bad input.
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/fixture.h"

namespace {

using kbdtest::kbdtool;

const std::string img = std::string("'") + kbdtest::imagePath() + "'";

}  // namespace

TEST(Kbdtool, TypesASequence) {
    const auto r = kbdtool("type " + img + " CapsLock AltGr+q");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("U+00C4 Ä"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Caps Lock on"), std::string::npos) << r.out;

    const auto d = kbdtool("type --base 0x30000000 " + img + " Shift+4 sc:1e Shift+4");
    EXPECT_EQ(d.status, 0) << d.out;
    EXPECT_NE(d.out.find("U+0101 ā (composed)"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("still pending"), std::string::npos) << d.out;
    EXPECT_NE(d.out.find("text: ā"), std::string::npos) << d.out;
}

TEST(Kbdtool, DumpsAndNames) {
    const auto d = kbdtool("dump " + img);
    EXPECT_EQ(d.status, 0);
    EXPECT_NE(d.out.find("character table 2: 5 columns, 12 bytes a row, 60 rows"), std::string::npos);
    EXPECT_NE(d.out.find("dead keys: 201 compositions"), std::string::npos);
    EXPECT_NE(d.out.find("scan codes after E0: 38 rows"), std::string::npos);
    const auto n = kbdtool("names " + img);
    EXPECT_EQ(n.status, 0);
    EXPECT_NE(n.out.find("E0 0x1C  Num Enter"), std::string::npos) << n.out;
    EXPECT_NE(n.out.find("LATIN SMALL LETTER H"), std::string::npos);
}

TEST(Kbdtool, BadInputGivesOneLineAndANonZeroExit) {
    for (const auto& [args, status, want] : std::vector<std::tuple<std::string, int, std::string>>{
             {"type " + img + " Bogus+q", 1, "unknown key 'Bogus'"},
             {"type " + img + " sc:zz", 1, "hex digits"},
             {"type " + img + " q+w", 1, "only Shift, Ctrl and Alt"},
             {"dump /nonexistent.dll", 1, "/nonexistent.dll"},
             {"dump /etc/passwd", 1, "kbdtool: /etc/passwd: not a PE image"},  // the file named once
             // A base off the loader's grid is a wrong command line, for every subcommand.
             {"dump --base 0x1234 " + img, 2, "64 KiB-aligned"},
             {"check --base 0x20001000 " + img, 2, "64 KiB-aligned"},  // a page, but not the loader's grid
             {"diff --base zz " + img + " " + img, 2, "64 KiB-aligned"},
             {"", 2, ""},
             {"frobnicate", 2, ""},
         }) {
        const auto r = kbdtool(args);
        EXPECT_EQ(r.status, status) << args << "\n" << r.out;
        EXPECT_NE(r.out.find(want), std::string::npos) << args << "\n" << r.out;
        if (!want.empty()) {
            EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        }
    }
}

namespace {

// What an export to DIR with FLAG said: one stderr line per approximation
// report.json lists (and some, for our image); with --strict, nothing
// written.
void expectReportedAndStrict(const std::string& flag, const std::filesystem::path& dir, const std::string& out) {
    namespace fs = std::filesystem;
    std::ifstream reportFile(dir / "report.json");
    const auto report = nlohmann::json::parse(reportFile);
    size_t lines = 0;
    for (size_t at = 0; (at = out.find("kbdtool: export: approximate: ", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, report["approximations"].size()) << flag;
    EXPECT_GT(lines, 0u) << flag;

    const fs::path strictDir = dir / "strict";
    const auto s = kbdtool("export --strict " + flag + " '" + strictDir.string() + "' " + img);
    EXPECT_EQ(s.status, 1) << s.out;
    EXPECT_NE(s.out.find("nothing written"), std::string::npos) << s.out;
    EXPECT_FALSE(fs::exists(strictDir));
}

}  // namespace

// The Linux export: the files and their sizes on stdout, one stderr line per
// approximation, --strict writing nothing, --name checked.
TEST(Kbdtool, ExportsForLinux) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kbdtool-export-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const auto r = kbdtool("export --xkb '" + dir.string() + "' " + img);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find((dir / "xkb/symbols/kbdqelvo").string() + "  "), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(dir / "xkb/symbols/custom"));
    expectReportedAndStrict("--xkb", dir, r.out);

    EXPECT_EQ(kbdtool("export --name 'Bad Name' --xkb '" + dir.string() + "' " + img).status, 2);
    EXPECT_EQ(kbdtool("export --name ../up --xkb '" + dir.string() + "' " + img).status, 2);
    const auto named = kbdtool("export --name qv --xkb '" + dir.string() + "' " + img);
    EXPECT_EQ(named.status, 0) << named.out;
    EXPECT_TRUE(fs::exists(dir / "xkb/types/qv"));
    fs::remove_all(dir);
}

// The macOS export: the files on stdout, one stderr line per thing the
// report lists, --strict writing nothing.
TEST(Kbdtool, ExportsForMac) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kbdtool-macos-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    const auto r = kbdtool("export --macos '" + dir.string() + "' " + img);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find((dir / "kbdQelvo.bundle/Contents/Resources/kbdQelvo.keylayout").string() + "  "),
              std::string::npos)
        << r.out;
    expectReportedAndStrict("--macos", dir, r.out);
    fs::remove_all(dir);
}
