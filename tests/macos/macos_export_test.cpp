// The .keylayout as other readers see it, the pinned differences from
// Windows typing, and the command's handling of names and its output folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "kbd/image/error.h"
#include "kbd/macos/export.h"
#include "kbd/model/pc_keys.h"
#include "macos/keylayout_interpreter.h"
#include "support/fixture.h"
#include "support/foreign.h"

namespace fs = std::filesystem;
namespace m = kbdtest::macos;

namespace {

fs::path freshDir(const std::string& what) {
    const fs::path d = fs::temp_directory_path() / ("kbd-macos-" + what + "-" + std::to_string(::getpid()));
    fs::remove_all(d);
    return d;
}

std::string shellQuote(const std::string& s) { return "'" + s + "'"; }

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeText(const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; }

}  // namespace

// Every layout's .keylayout validates against the DTD (xmllint) and Python's
// parser reads it, both after the substitution of the control character
// references that keylayout_interpreter.h describes; so does one whose name
// and file name hold "--", which may not stand in an XML comment.
TEST(MacosExport, KeylayoutsValidateAgainstTheDtdAndPythonReadsThem) {
    const fs::path dir = freshDir("valid");
    fs::create_directories(dir);
    const std::string here = fs::path(__FILE__).parent_path().string();
    std::vector<std::tuple<std::string, const kbd::Layout*, std::string>> layouts = {
        {"kbdQelvo", &kbdtest::layout(), "kbdQelvo.dll"}, {"a--b-", &kbdtest::layout(), "my--layout-.dll"}};
    for (const char* name : kbdtest::kForeignLayouts) layouts.push_back({name, &kbdtest::foreign(name).layout, name});
    for (const auto& [name, layout, source] : layouts) {
        const std::string text = kbd::macos::plan(*layout, name, source).keylayout;
        const fs::path file = dir / "file.keylayout", readable = dir / "readable.keylayout";
        writeText(file, text);
        writeText(readable, m::withStandIns(text));
        EXPECT_EQ(std::system(("xmllint --noout --nonet --dtdvalid " + shellQuote(here + "/KeyboardLayout.dtd") +
                               " " + shellQuote(readable.string()))
                                  .c_str()),
                  0)
            << name;
        EXPECT_EQ(std::system(("python3 " + shellQuote(here + "/read_keylayout.py") + " " + shellQuote(file.string()))
                                  .c_str()),
                  0)
            << name;
    }
    fs::remove_all(dir);
}

// Command keeps the Latin letter of each letter key, whatever the layout types there.
TEST(MacosExport, CommandGivesEachLetterKeysLatinLetter) {
    const auto& layout = kbdtest::layout();
    m::Keylayout k(kbd::macos::plan(layout, "t", "t.dll").keylayout);
    size_t letters = 0;
    for (const auto& key : kbd::pcKeys()) {
        if (key.xkbRole != kbd::XkbRole::Layout || key.mac < 0) continue;
        const auto entry = kbd::scanEntry(layout, key.scan);
        const uint8_t v = entry ? uint8_t(*entry & 0xFF) : 0;
        if (v < 'A' || v > 'Z') continue;
        ++letters;
        EXPECT_EQ(k.press(unsigned(key.mac), m::Command | m::LShift), std::string(1, char(v + 0x20))) << key.xkb;
    }
    EXPECT_EQ(letters, 26u);
}

// Pinned: on a Mac left Option types the AltGr characters too, where
// Windows' left Alt types nothing; the export says so.
TEST(MacosExport, LeftOptionTypesWhatAltGrTypesAndIsReported) {
    const auto& layout = kbdtest::layout();
    const auto e = kbd::macos::plan(layout, "t", "t.dll");
    m::Keylayout k(e.keylayout);
    for (const auto& key : kbd::pcKeys())
        if (key.xkbRole == kbd::XkbRole::Layout && key.mac >= 0) {
            const std::string right = k.press(unsigned(key.mac), m::ROption);
            k.reset();
            EXPECT_EQ(k.press(unsigned(key.mac), m::LOption), right) << key.xkb;
            k.reset();
        }
    bool reported = false;
    for (const auto& a : e.approximations) reported |= a.kind == "option";
    EXPECT_TRUE(reported);
}

// A name no bundle can carry is refused in one line, and nothing is left behind.
TEST(MacosExport, BadNameIsRefusedAndLeavesNothing) {
    const fs::path dir = freshDir("name");
    fs::create_directories(dir);
    for (const char* name : {"a/b", "x:y", ".hidden", ""}) {
        const auto r = kbdtest::kbdtool("export --macos " + dir.string() + " --name " + shellQuote(name) + " " +
                                        kbdtest::imagePath());
        EXPECT_NE(r.status, 0) << name;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    }
    EXPECT_TRUE(fs::is_empty(dir));
    // A good export leaves the bundle and the report only, no temporary folder.
    ASSERT_EQ(kbdtest::kbdtool("export --macos " + dir.string() + " --name 'Qelvo Ā' " + kbdtest::imagePath()).status, 0);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Qelvo Ā.bundle", "report.json"}));
    fs::remove_all(dir);
}

// Names that differ only in characters a bundle identifier cannot hold
// still get different identifiers, of the characters it can.
TEST(MacosExport, BundleIdentifiersOfDifferentNamesDiffer) {
    const fs::path dir = freshDir("ids");
    std::set<std::string> ids;
    const std::vector<std::string> names = {"Qelvo Ā", "Qelvo ē", "Qelvo-", "Qelvo.", "Qelvo-2D"};
    for (const auto& name : names) {
        kbd::macos::write(kbd::macos::plan(kbdtest::layout(), name, "t.dll"), dir);
        const std::string plist = readFile(dir / (name + ".bundle") / "Contents/Info.plist");
        const size_t at = plist.find("<string>", plist.find("CFBundleIdentifier")) + 8;
        const std::string id = plist.substr(at, plist.find('<', at) - at);
        EXPECT_TRUE(std::all_of(id.begin(), id.end(),
                                [](char c) { return std::isalnum(uint8_t(c)) || c == '-' || c == '.'; }))
            << id;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), names.size());
    fs::remove_all(dir);
}

// When the report cannot be put in place, the bundle goes too: nothing of
// the export is left.
TEST(MacosExport, AReportThatCannotBeWrittenLeavesNoBundle) {
    const fs::path dir = freshDir("report");
    fs::create_directories(dir / "report.json" / "in the way");
    EXPECT_THROW(kbd::macos::write(kbd::macos::plan(kbdtest::layout(), "kbdQelvo", "t.dll"), dir), kbd::Error);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"report.json"});
    fs::remove_all(dir);
}

// docs/macos/, shipped in the release bundle, is the export of the built
// image as it is now, file by file, with nothing else beside it.
TEST(MacosExport, ShippedBundleIsCurrent) {
    const fs::path shipped = fs::path(__FILE__).parent_path() / ".." / ".." / "docs" / "macos";
    const fs::path fresh = freshDir("shipped");
    const auto files = kbd::macos::write(kbd::macos::plan(kbdtest::layout(), "kbdQelvo", "kbdQelvo.dll"), fresh);
    const std::string hint = "cmake --build build/host --target macos-export";
    std::set<std::string> written, there;
    for (const auto& f : files) {
        written.insert(f.path);
        EXPECT_EQ(readFile(shipped / f.path), readFile(fresh / f.path))
            << "docs/macos/" << f.path << " is out of date: " << hint;
    }
    for (const auto& e : fs::recursive_directory_iterator(shipped))
        if (!e.is_directory()) there.insert(fs::relative(e.path(), shipped).generic_string());
    EXPECT_EQ(there, written) << "docs/macos/ holds other files than the export: " << hint;
    fs::remove_all(fresh);
}
