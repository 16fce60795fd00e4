// The exported files as the programs that read them see them: libxkbcommon
// through a user's rules with our layout in any of the four places a desktop
// puts it, the X server's compiler on the complete keymap, and the report.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/fixture.h"
#include "xkb/xkb_harness.h"

using namespace kbdtest::xkb;

namespace {

Installed& installed() {
    static Installed i(kbdtest::layout(), "kbdqelvo");
    return i;
}

const Outcome waiting{"", true, false};

std::string read(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

// Caps Lock leaves AltGr+Shift+r (ɛ) alone and turns AltGr+, (ç) into Ç:
// only our key types do both, so they must load wherever the layout stands.
TEST(XkbExport, KeyTypesLoadInEveryLayoutPlace) {
    const std::vector<std::string> others = {"us", "de", "fr"};
    for (unsigned place = 0; place < 4; ++place) {
        std::string layouts;
        for (unsigned i = 0, o = 0; i <= place; ++i)
            layouts += (i ? "," : "") + (i == place ? std::string("kbdqelvo") : others[o++]);
        auto keymap = installed().fromRules(layouts);
        ASSERT_TRUE(keymap) << layouts;
        ASSERT_EQ(xkb_keymap_num_layouts(keymap.get()), place + 1) << layouts;
        LinuxTypist l(keymap, installed().composeTable(), place);
        l.press({0, position("CAPS")});
        EXPECT_EQ(l.press({Shift | AltGr, position("AD04")}).text, "ɛ") << layouts;
        EXPECT_EQ(l.press({AltGr, position("AB08")}).text, "Ç") << layouts;
        EXPECT_EQ(l.press({0, position("AD01")}).text, "Q") << layouts;
    }
}

// Our files add nothing to what libxkbcommon says about the system's own.
TEST(XkbExport, LoadWithoutWarnings) {
    auto& inst = installed();
    inst.log.clear();
    ASSERT_TRUE(inst.fromRules("us"));
    const auto baseline = inst.log;
    inst.log.clear();
    ASSERT_TRUE(inst.fromRules("us,kbdqelvo"));
    ASSERT_TRUE(inst.fromRules("custom"));
    ASSERT_TRUE(inst.fromKeymapFile());
    for (const auto& line : inst.log)
        EXPECT_NE(std::find(baseline.begin(), baseline.end(), line), baseline.end()) << line;
    for (const auto& line : inst.composeLog) ADD_FAILURE() << "Compose: " << line;
}

// The X server's compiler reads keymap.xkb and keeps our keys and types.
TEST(XkbExport, XkbcompCompilesTheKeymap) {
    const fs::path out = installed().dir() / "compiled.xkb";
    const std::string cmd = "xkbcomp -w0 -xkb '" + (installed().dir() / "keymap.xkb").string() + "' '" +
                            out.string() + "' 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const std::string compiled = read(out);
    EXPECT_NE(compiled.find("\"KBDQELVO_CAPLOCK_CAPLOKALTGR\""), std::string::npos);
    EXPECT_NE(compiled.find("U025B"), std::string::npos);  // ɛ on AltGr+Shift+r
    EXPECT_NE(compiled.find("dead_macron"), std::string::npos);
}

// The rules pull in the system's and name both ids; the two symbols files
// are the same; the report lists the files with their sizes.
TEST(XkbExport, FilesAndReport) {
    const auto& inst = installed();
    const std::string rules = read(inst.dir() / "xkb/rules/evdev");
    EXPECT_EQ(rules.find("! include %S/evdev\n"), rules.find("! include"));
    EXPECT_EQ(read(inst.dir() / "xkb/symbols/custom"), read(inst.dir() / "xkb/symbols/kbdqelvo"));
    EXPECT_EQ(read(inst.dir() / "Compose").find("\ninclude"), std::string::npos);
    const auto report = nlohmann::json::parse(read(inst.dir() / "report.json"));
    ASSERT_EQ(report["files"].size(), inst.files.size() - 1);
    for (const auto& f : report["files"])
        EXPECT_EQ(fs::file_size(inst.dir() / f["path"].get<std::string>()), f["size"].get<size_t>()) << f["path"];
    EXPECT_EQ(report["composeLines"].get<size_t>(), inst.exported.compose.size());
}

// Every composition of the layout has its line, and only the first of two
// rows for the same pair counts, as on Windows.
TEST(XkbExport, ComposeLinesFollowTheFirstComposition) {
    kbd::Layout layout = kbdtest::layout();
    const kbd::DeadKey first = layout.deadKeys.front();
    kbd::DeadKey shadowed = first;
    shadowed.composed = 0x00A4;  // ¤, never reached
    layout.deadKeys.push_back(shadowed);
    const auto e = kbd::xkb::plan(layout, "twice", "twice.dll");
    size_t found = 0;
    for (const auto& l : e.compose)
        if (l.keys.size() == 2 && l.result == std::u16string(1, first.composed)) {
            for (const auto& d : e.deadKeysyms)
                if (d.dead == first.dead && l.keys[0] == d.keysym) ++found;
        }
    EXPECT_GE(found, 1u);
    for (const auto& l : e.compose) EXPECT_NE(l.result, u"\u00A4");
}

// A key can have rows in more than one place; the report names each key with
// a Ctrl character once, in the order the tables first give it.
TEST(XkbExport, CtrlReportNamesEachKeyOnce) {
    const auto ctrlKeys = [](const kbd::Layout& layout) {
        for (const auto& a : kbd::xkb::plan(layout, "twice", "twice.dll").approximations)
            if (a.kind == "ctrl-column") return a.message.substr(a.message.find('('));
        return std::string();
    };
    kbd::Layout doubled = kbdtest::layout();
    for (auto& t : doubled.charTables) t.rows.insert(t.rows.end(), t.rows.begin(), t.rows.end());
    const std::string once = ctrlKeys(kbdtest::layout());
    ASSERT_NE(once.find(", "), std::string::npos) << once;  // more than one key, so a repeat is not adjacent
    EXPECT_EQ(ctrlKeys(doubled), once);
}

// A chained dead key (a composition that gives another dead key) becomes
// a longer Compose sequence ending where Windows ends.
TEST(XkbExport, ChainedDeadKeysBecomeLongerSequences) {
    kbd::Layout layout = kbdtest::layout();
    // macron, then Shift+6 (circumflex): a dead key of its own, then a.
    layout.deadKeys.insert(layout.deadKeys.begin(), {0x005E, 0x00AF, 0x02C6, kbd::def::DKF_DEAD});
    layout.deadKeys.insert(layout.deadKeys.begin(), {0x0061, 0x02C6, 0x1EA5, 0});  // ấ
    const auto e = kbd::xkb::plan(layout, "chain", "chain.dll");
    bool found = false;
    for (const auto& l : e.compose)
        if (l.keys.size() == 3 && l.result == u"\u1EA5") found = true;
    EXPECT_TRUE(found);
    // Both sides type it.
    Installed inst(layout, "chain");
    WindowsTypist w(layout);
    LinuxTypist   l(inst.fromRules("chain"), inst.composeTable(), 0);
    for (const Press& p : {Press{Shift, position("AE04")}, Press{Shift, position("AE06")}}) {
        EXPECT_EQ(w.press(p), waiting);
        EXPECT_EQ(l.press(p), waiting);
    }
    EXPECT_EQ(w.press({0, position("AC01")}).text, "ấ");
    EXPECT_EQ(l.press({0, position("AC01")}).text, "ấ");
}

// docs/linux/, shipped in the release bundle, is the export of the built
// image as it is now.
TEST(XkbExport, ShippedFilesAreCurrent) {
    const fs::path shipped = fs::path(__FILE__).parent_path() / ".." / ".." / "docs" / "linux";
    const auto e = kbd::xkb::plan(kbdtest::layout(), "kbdqelvo", "kbdQelvo.dll");
    const fs::path fresh = installed().dir() / "fresh";
    for (const auto& f : kbd::xkb::write(e, fresh))
        EXPECT_EQ(read(shipped / f.path), read(fresh / f.path))
            << "docs/linux/" << f.path << " is out of date: cmake --build build/host --target linux-export";
}
