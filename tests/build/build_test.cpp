// Layouts built from their source with kbdtool's compiler: our image and
// every test layout, written as a .klc from one kind's image, read back and
// built for all four kinds, diff as the same layout as each original kind; a
// build is reproducible; a missing tool is named with its package; a
// layout's setups carry its identity and images.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "../../installer/identity.h"
#include "kbd/build/compiler.h"
#include "kbd/klc/klc.h"
#include "kbd/model/source_reader.h"
#include "kbd/views/diff.h"
#include "support/fixture.h"
#include "support/foreign.h"
#include "support/setup_file.h"

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

// The original images of a layout, by kind. A test layout has no ARM64
// image of its own: its x64 image, with the same 64-bit tables, stands in.
std::vector<std::pair<std::string, std::string>> originals(const std::string& layout) {
    if (layout == "kbdQelvo")
        return {{"x86", KBD_IMAGE_PATH}, {"x64", KBD_IMAGE_X64_PATH}, {"arm64", KBD_IMAGE_ARM64_PATH},
                {"wow64", KBD_IMAGE_WOW64_PATH}};
    std::vector<std::pair<std::string, std::string>> v;
    for (const char* kind : kbdtest::kForeignKinds) v.emplace_back(kind, kbdtest::foreignPath(layout, kind));
    v.emplace_back("arm64", kbdtest::foreignPath(layout, "x64"));
    return v;
}

// The start of the line of klc::unsaid() that accounts for a difference.
// Characters, compositions and names a source always says.
std::string topicOf(const Change& c) {
    const auto starts = [&](const char* s) { return c.item.rfind(s, 0) == 0; };
    if (starts("keyboard")) return "keyboard type";
    if (starts("locale flags")) return "locale flags";
    if (starts("ligature")) return "the ligature table";
    if (c.section == "modifiers") return starts("mask") ? "the mask-to-column array" : "the modifier keys";
    if (c.section == "scan codes")
        return c.item.find("e0 ") != std::string::npos   ? "the E0 list"
               : c.item.find("e1 ") != std::string::npos ? "the E1 list"
                                                         : "scan code";
    return c.section;
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
        // The version block carries the source's texts, language and version.
        const LayoutInfo back = readLayoutSource(image.string()).info;
        EXPECT_EQ(back.description, source.info.description) << kind;
        EXPECT_EQ(back.localeId, source.info.localeId) << kind;
        EXPECT_EQ(versionText(back, "."), versionText(source.info, ".")) << kind;
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
    // Every difference is one that export --klc names on stderr.
    for (const auto& [kind, changes] : rebuilt(fromKlc, layout, "klc"))
        for (const auto& c : changes)
            EXPECT_TRUE(std::any_of(unsaid.begin(), unsaid.end(),
                                    [&](const std::string& line) { return line.rfind(topicOf(c), 0) == 0; }))
                << layout << " " << kind << ": " << c.section << " " << c.item << " is not among what the export names";
    // Tables the .klc cannot say, the compiler builds exactly from the
    // image's own source.
    if (fromKlc.tables != original.tables) {
        for (const auto& [kind, changes] : rebuilt(original, layout, "image"))
            EXPECT_TRUE(changes.empty()) << layout << " " << kind << ":\n" << diffText(changes);
    }
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

// A test layout's .klc built with --setup: three setups, each for its machine,
// saying the layout's name in its identity and carrying the images just
// built; a second build gives the same bytes.
TEST(Build, SetupsForAnotherLayoutCarryItsIdentityAndImages) {
    TempDir dir("setup");
    fs::create_directories(dir.path);
    const LayoutSource source = readLayoutSource(kbdtest::foreignPath("sgcaps", "x64"));
    const std::string name = source.info.name;
    const fs::path klcFile = dir.path / (name + ".klc");
    const auto text = klc::writeKlc(source);
    std::ofstream(klcFile, std::ios::binary).write(reinterpret_cast<const char*>(text.data()), std::streamsize(text.size()));
    for (const char* out : {"a", "b"}) {
        const auto r = kbdtest::kbdtool("build " + klcFile.string() + " --setup --out " + (dir.path / out).string());
        ASSERT_EQ(r.status, 0) << r.out;
    }
    const std::pair<const char*, uint16_t> machines[] = {
        {"x86", llvm::COFF::IMAGE_FILE_MACHINE_I386},
        {"x64", llvm::COFF::IMAGE_FILE_MACHINE_AMD64},
        {"arm64", llvm::COFF::IMAGE_FILE_MACHINE_ARM64}};
    const std::pair<uint32_t, const char*> images[] = {{101, "x86"}, {102, "x64"}, {103, "arm64"}, {104, "wow64"}};
    for (const auto& [machine, code] : machines) {
        SCOPED_TRACE(machine);
        const fs::path setupFile = dir.path / "a" / (name + "-setup-" + machine + ".exe");
        EXPECT_EQ(bytesOf(setupFile), bytesOf(dir.path / "b" / setupFile.filename()));
        kbdtest::Opened o(setupFile.c_str());
        EXPECT_EQ(o.obj->getMachine(), code);
        const auto& record = o.resources.at({10, 100});
        setup::Identity id;
        ASSERT_EQ(setup::parseIdentity(record.data(), record.size(), id), nullptr);
        EXPECT_EQ(std::u16string(id.layoutFile.unit), std::u16string(name.begin(), name.end()) + u".dll");
        EXPECT_EQ(id.language, source.info.localeId & 0xFFFF);
        EXPECT_NE(std::u16string(id.marker.unit), u"Qelvo Setup");
        for (const auto& [resource, kind] : images) {
            const auto image = bytesOf(dir.path / "a" / kind / (name + ".dll"));
            EXPECT_EQ(o.resources.at({10, resource}), std::vector<uint8_t>(image.begin(), image.end())) << kind;
        }
    }
}
