// find, diff and html as a person runs them: find --keys types back through
// type for every character the layout has, a character it lacks fails, diff
// reports exactly what a test changed in a copy of the image, and the
// committed character list is current.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

#include "support/fixture.h"
#include "support/learn_fixture.h"

using kbdtest::Ran;
using kbdtest::runKbdtool;
using json = nlohmann::json;
namespace fs = std::filesystem;

namespace {

const std::string img = kbdtest::imagePath();

// A scratch folder of the test's own, removed afterwards.
struct Scratch {
    fs::path dir = fs::temp_directory_path() / ("kbd-learn-" + std::to_string(getpid()));
    Scratch() { fs::create_directories(dir); }
    ~Scratch() { fs::remove_all(dir); }
};

std::string utf8(char32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += char(cp);
    } else if (cp < 0x800) {
        s += char(0xC0 | cp >> 6), s += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += char(0xE0 | cp >> 12), s += char(0x80 | (cp >> 6 & 0x3F)), s += char(0x80 | (cp & 0x3F));
    } else {
        s += char(0xF0 | cp >> 18), s += char(0x80 | (cp >> 12 & 0x3F)), s += char(0x80 | (cp >> 6 & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    }
    return s;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> v;
    size_t at = 0;
    while (at < line.size()) {
        const size_t sp = line.find_first_of(" \n", at);
        if (sp != at) v.push_back(line.substr(at, sp == std::string::npos ? std::string::npos : sp - at));
        if (sp == std::string::npos) break;
        at = sp + 1;
    }
    return v;
}

}  // namespace

TEST(FindCommand, KeysTypeBackEveryCharacterOfTheList) {
    const Ran all = runKbdtool({"find", "--all", "--json", img});
    ASSERT_EQ(all.status, 0) << all.err;
    std::vector<uint16_t> units;
    std::string text;
    const json list = json::parse(all.out);
    for (const auto& c : list["characters"]) {
        units.push_back(c["codePoint"].get<uint16_t>());
        text += utf8(c["codePoint"].get<char32_t>());
    }
    ASSERT_GT(units.size(), 300u);
    // All of them as one text: find --keys, then type what it printed.
    const Ran keys = runKbdtool({"find", "--keys", img, text});
    ASSERT_EQ(keys.status, 0) << keys.err;
    std::vector<std::string> typeArgs{"type", "--json", img};
    for (auto& w : words(keys.out)) typeArgs.push_back(w);
    const Ran typed = runKbdtool(typeArgs);
    ASSERT_EQ(typed.status, 0) << typed.err;
    EXPECT_EQ(json::parse(typed.out)["output"].get<std::vector<uint16_t>>(), units);
    // And the word the README shows.
    const Ran word = runKbdtool({"find", "--keys", img, "rāmāyaṇa"});
    ASSERT_EQ(word.status, 0) << word.err;
    std::vector<std::string> args{"type", img};
    for (auto& w : words(word.out)) args.push_back(w);
    EXPECT_NE(runKbdtool(args).out.find("text: rāmāyaṇa\n"), std::string::npos);
}

TEST(FindCommand, ACharacterTheLayoutLacks) {
    const Ran r = runKbdtool({"find", img, "ṛЖ"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("U+1E5B ṛ  LATIN SMALL LETTER R WITH DOT BELOW\n  OEM_PERIOD r"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("U+0416 Ж  CYRILLIC CAPITAL LETTER ZHE\n  not on this layout\n"), std::string::npos) << r.out;
    const Ran k = runKbdtool({"find", "--keys", img, "aЖ"});
    EXPECT_EQ(k.status, 1);
    EXPECT_EQ(k.out, "");
    EXPECT_EQ(k.err, "kbdtool: U+0416 Ж (CYRILLIC CAPITAL LETTER ZHE) is not on this layout\n");
    const Ran j = runKbdtool({"find", "--json", img, "Ж"});
    EXPECT_EQ(j.status, 1);
    EXPECT_FALSE(json::parse(j.out)["characters"][0]["found"].get<bool>());
}

TEST(FindCommand, CommittedCharacterListIsCurrent) {
    const Ran r = runKbdtool({"find", "--all", "--markdown", img});
    ASSERT_EQ(r.status, 0) << r.err;
    std::ifstream f(fs::path(__FILE__).parent_path() / ".." / ".." / "docs" / "characters.md", std::ios::binary);
    const std::string committed{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    EXPECT_TRUE(committed == r.out) << "docs/characters.md is out of date: cmake --build build/host --target pictures";
}

TEST(DiffCommand, ReportsExactlyWhatChanged) {
    Scratch s;
    const fs::path copy = s.dir / "changed.dll";
    {
        const auto bytes = kbdtest::threeChanges();
        std::ofstream(copy, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    const Ran r = runKbdtool({"diff", img, copy.string()});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out,
              "keys\n"
              "  D01 (sc 10) AltGr: U+00E4 ä \u2192 U+0103 ă\n"
              "compositions\n"
              "  U+00AF ¯ then U+0061 a: U+0101 ā \u2192 U+01E1 ǡ\n"
              "names\n"
              "  name of dead key U+00AF ¯: \"MACRON\" \u2192 \"XACRON\"\n");
    const Ran j = runKbdtool({"diff", "--json", img, copy.string()});
    EXPECT_EQ(j.status, 1);
    const json changes = json::parse(j.out)["changes"];
    ASSERT_EQ(changes.size(), 3u);
    EXPECT_EQ(changes[1]["beforeValue"]["composed"], 0x0101);
    EXPECT_EQ(changes[1]["afterValue"]["composed"], 0x01E1);

    // Our four images type the same; a file that is not a layout is trouble,
    // not a difference.
    for (const char* other : {KBD_IMAGE_X64_PATH, KBD_IMAGE_ARM64_PATH, KBD_IMAGE_WOW64_PATH}) {
        const Ran same = runKbdtool({"diff", img, other});
        EXPECT_EQ(same.status, 0) << other << same.out << same.err;
        EXPECT_EQ(same.out, "");
    }
    const Ran bad = runKbdtool({"diff", img, (s.dir / "missing.dll").string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.out, "");
    EXPECT_NE(bad.err.find("missing.dll"), std::string::npos) << bad.err;
}

TEST(HtmlCommand, WritesOnePageUnder300KB) {
    Scratch s;
    const fs::path page = s.dir / "page.html";
    const Ran r = runKbdtool({"html", img, "--out", page.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_LT(fs::file_size(page), 300u * 1024);
    const Ran bad = runKbdtool({"html", img, "--out", (s.dir / "no" / "such" / "dir.html").string()});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("cannot write"), std::string::npos) << bad.err;
}
