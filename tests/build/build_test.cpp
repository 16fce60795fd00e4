// Layouts built from their source with kbdtool's compiler: our image and
// every test layout, written as a .klc from one kind's image, read back and
// built for all four kinds, diff as the same layout as each original kind; a
// build is reproducible; a missing tool is named with its package.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "kbd/build/compiler.h"
#include "kbd/klc/klc.h"
#include "kbd/model/source_reader.h"
#include "kbd/views/diff.h"
#include "support/fixture.h"
#include "support/foreign.h"

using namespace kbd;
namespace fs = std::filesystem;

namespace {

// A fresh folder under the system's temporary folder, removed afterwards.
struct TempDir {
    fs::path path;
    explicit TempDir(const std::string& name)
        : path(fs::temp_directory_path() / ("kbd_build_test_" + name + "_" + std::to_string(::getpid()))) {
        fs::remove_all(path);
    }
    ~TempDir() { fs::remove_all(path); }
};

// The original images of a layout, by kind.
std::vector<std::pair<std::string, std::string>> originals(const std::string& layout) {
    if (layout == "kbdQelvo")
        return {{"x86", KBD_IMAGE_PATH}, {"x64", KBD_IMAGE_X64_PATH}, {"arm64", KBD_IMAGE_ARM64_PATH},
                {"wow64", KBD_IMAGE_WOW64_PATH}};
    std::vector<std::pair<std::string, std::string>> v;
    for (const char* kind : kbdtest::kForeignKinds) v.emplace_back(kind, kbdtest::foreignPath(layout, kind));
    return v;
}

std::vector<char> bytesOf(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class RoundTrip : public testing::TestWithParam<const char*> {};

}  // namespace

// Builds the source into a fresh folder and returns, for every original
// kind, the differences of the rebuilt image from the original.
std::vector<std::pair<std::string, std::vector<Change>>> rebuilt(const LayoutSource& source, const std::string& layout,
                                                                 const std::string& tag) {
    TempDir out(layout + "_" + tag);
    const auto built = build::buildLayout(source, out.path.string(), build::findToolchain());
    EXPECT_EQ(built.images.size(), 4u);
    std::vector<std::pair<std::string, std::vector<Change>>> v;
    for (const auto& [kind, path] : originals(layout)) {
        const fs::path image = out.path / kind / (source.info.name + ".dll");
        v.emplace_back(kind, diffLayouts(decodeFile(path).layout, decodeFile(image.string()).layout));
        // The version block carries the source's texts and language.
        const LayoutInfo back = readLayoutSource(image.string()).info;
        EXPECT_EQ(back.description, source.info.description) << kind;
        EXPECT_EQ(back.localeId, source.info.localeId) << kind;
    }
    return v;
}

TEST_P(RoundTrip, EveryKindBuiltFromItsKlcDiffsAsTheOriginal) {
    const std::string layout = GetParam();
    const auto images = originals(layout);
    // Every kind of the original reads as one source, so the one built from
    // the x64 image stands for all of them.
    const LayoutSource original = readLayoutSource(images[1].second);
    for (const auto& [kind, path] : images) EXPECT_EQ(readLayoutSource(path).tables, original.tables) << kind;
    const auto unsaid = klc::unsaid(original);
    const LayoutSource fromKlc = klc::parseKlc(klc::writeKlc(original));
    for (const auto& [kind, changes] : rebuilt(fromKlc, layout, "klc")) {
        if (unsaid.empty()) {
            EXPECT_TRUE(changes.empty()) << layout << " " << kind << ":\n" << diffText(changes);
            continue;
        }
        // What a .klc cannot say is settings, modifier keys and scan-code
        // rows; every character, composition and name comes through.
        for (const auto& c : changes)
            EXPECT_TRUE(c.section == "settings" || c.section == "modifiers" || c.section == "scan codes")
                << layout << " " << kind << ": " << c.section << " " << c.item;
    }
    // What the .klc cannot say, the compiler builds exactly from the image's
    // own source.
    if (!unsaid.empty())
        for (const auto& [kind, changes] : rebuilt(original, layout, "image"))
            EXPECT_TRUE(changes.empty()) << layout << " " << kind << ":\n" << diffText(changes);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RoundTrip,
                         testing::Values("kbdQelvo", "sgcaps", "ligature2", "ligature4", "deadchain", "kana",
                                         "columns", "shiftlock"));

TEST(Build, TwoBuildsGiveTheSameBytes) {
    const LayoutSource source = readLayoutSource(kbdtest::imagePath());
    TempDir a("a"), b("b");
    const auto tools = build::findToolchain();
    const auto first = build::buildLayout(source, a.path.string(), tools);
    build::buildLayout(source, b.path.string(), tools);
    for (const auto& image : first.images) {
        const fs::path relative = fs::relative(image.path, a.path);
        EXPECT_EQ(bytesOf(image.path), bytesOf(b.path / relative)) << relative;
    }
}

TEST(Build, AMissingToolIsNamedWithItsPackage) {
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    TempDir empty("path");
    fs::create_directories(empty.path);
    setenv("PATH", empty.path.c_str(), 1);
    try {
        build::findToolchain();
        ADD_FAILURE() << "found a toolchain on an empty PATH";
    } catch (const Error& e) {
        EXPECT_STREQ(e.what(), "build: clang++-19 not found on PATH; install the Debian package clang-19 "
                               "(apt-get install clang-19)");
    }
    setenv("PATH", path.c_str(), 1);
}

TEST(Build, AFaultySourceBuildsNothing) {
    TempDir dir("faulty");
    fs::create_directories(dir.path);
    const fs::path klc = dir.path / "bad.klc", out = dir.path / "out";
    std::ofstream(klc) << "KBD\tkbdbad\t\"Bad\"\r\n\r\nSHIFTSTATE\r\n0\r\n1\r\nLAYOUT\r\n"
                          "10\tQ\t1\tq\tQ\r\nNOSUCH\r\nENDKBD\r\n";
    const auto r = kbdtest::kbdtool("build " + klc.string() + " --out " + out.string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("bad.klc:8:1: unknown section 'NOSUCH'"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(out));
}
