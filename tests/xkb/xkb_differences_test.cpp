// The known differences between Windows and the exported Linux files, each
// pinned to what either side gives, so that a change on either side shows.
// None of them can be removed by a file: the input method decides what a
// control key or a shortcut does to a pending dead key, and on Linux a Ctrl
// chord is a shortcut rather than a character.
#include <gtest/gtest.h>

#include "support/fixture.h"
#include "xkb/xkb_harness.h"

using namespace kbdtest::xkb;

namespace {

struct Sides {
    Installed                   installed{kbdtest::layout(), "kbdqelvo"};
    std::shared_ptr<xkb_keymap> keymap = installed.fromRules("kbdqelvo");

    // Both sides after the same presses, from a fresh start.
    std::pair<Outcome, Outcome> type(std::initializer_list<Press> presses) {
        WindowsTypist w(kbdtest::layout());
        LinuxTypist   l(keymap, installed.composeTable(), 0);
        std::pair<Outcome, Outcome> last;
        for (const auto& p : presses) last = {w.press(p), l.press(p)};
        return last;
    }
};

Sides& sides() {
    static Sides s;
    return s;
}

const Outcome nothing{};
const Outcome waiting{"", true, false};
const Outcome cancelled{"", false, true};
Outcome text(const char* s) { return {s, false, false}; }

// The dead chords of our layout, with the dead character each leaves.
struct Dead {
    Press       press;
    const char* ch;
};
const Dead kDeads[] = {
    {{Shift, position("AE02")}, "="},  {{Shift, position("AE04")}, "¯"}, {{Shift, position("AE05")}, "°"},
    {{Shift, position("AE06")}, "^"},  {{Shift, position("AE08")}, "*"}, {{Shift, position("AE11")}, "_"},
    {{0, position("AC06")}, "h"},      {{0, position("TLDE")}, "´"},     {{Shift, position("TLDE")}, "~"},
    {{0, position("AB08")}, ","},      {{0, position("AB09")}, "."},
};

}  // namespace

// Windows types the dead character and the control character; libxkbcommon's
// Compose cancels the sequence and the input method decides the rest.
TEST(XkbDifferences, ControlKeyAfterDeadKey) {
    const std::pair<const char*, const char*> controls[] = {
        {"RTRN", "\r"}, {"KPEN", "\r"}, {"TAB", "\t"}, {"BKSP", "\b"}, {"ESC", "\x1b"}};
    for (const auto& d : kDeads)
        for (const auto& [key, ch] : controls) {
            const auto [w, l] = sides().type({d.press, {0, position(key)}});
            EXPECT_EQ(w, text((std::string(d.ch) + ch).c_str())) << d.ch << " then " << key;
            EXPECT_EQ(l, cancelled) << d.ch << " then " << key;
        }
}

// A Ctrl chord is a shortcut on Linux: it leaves a pending dead key alone.
// On Windows Ctrl+Space types a space, which completes the dead key; other
// Ctrl chords type nothing there either, so the dead key waits on both.
TEST(XkbDifferences, CtrlChordAfterDeadKey) {
    for (const auto& d : kDeads) {
        const auto [w, l] = sides().type({d.press, {Ctrl, position("SPCE")}});
        EXPECT_EQ(w, text(d.ch)) << d.ch;
        EXPECT_EQ(l, waiting) << d.ch;
        const auto [w2, l2] = sides().type({d.press, {Ctrl, position("AC01")}});
        EXPECT_EQ(w2, waiting) << d.ch;
        EXPECT_EQ(l2, waiting) << d.ch;
    }
}

// A key that types nothing (the keypad's cursor keys) keeps a dead key
// pending on Windows; libxkbcommon's Compose cancels the sequence.
TEST(XkbDifferences, KeyWithoutCharacterAfterDeadKey) {
    for (const auto& d : kDeads) {
        const auto [w, l] = sides().type({d.press, {Shift, position("KP7")}});
        EXPECT_EQ(w, waiting) << d.ch;
        EXPECT_EQ(l, cancelled) << d.ch;
    }
}

// The control keys keep their stock symbols on Linux, so they type their
// control character with AltGr too, Shift+Tab is ISO_Left_Tab (no
// character), and their Ctrl characters are shortcuts. Every other held set
// gives the same on both sides.
TEST(XkbDifferences, ControlKeysAndCtrlCharacters) {
    struct Row {
        const char* key;
        unsigned    held;
        const char* windows;
        const char* onLinux;
    };
    const Row differing[] = {
        {"RTRN", AltGr, "", "\r"},         {"RTRN", Shift | AltGr, "", "\r"}, {"RTRN", Ctrl, "\n", ""},
        {"KPEN", AltGr, "", "\r"},         {"KPEN", Shift | AltGr, "", "\r"}, {"KPEN", Ctrl, "\n", ""},
        {"BKSP", AltGr, "", "\b"},         {"BKSP", Shift | AltGr, "", "\b"}, {"BKSP", Ctrl, "\x7f", ""},
        {"ESC", AltGr, "", "\x1b"},        {"ESC", Shift | AltGr, "", "\x1b"}, {"ESC", Ctrl, "\x1b", ""},
        {"TAB", AltGr, "", "\t"},          {"TAB", Shift, "\t", ""},          {"SPCE", Ctrl, " ", ""},
    };
    const unsigned heldSets[] = {0, Shift, AltGr, Shift | AltGr, Ctrl, Shift | Ctrl, Alt};
    for (const char* key : {"RTRN", "KPEN", "BKSP", "ESC", "TAB", "SPCE"})
        for (unsigned h : heldSets) {
            const Press p{h, position(key)};
            const auto [w, l] = sides().type({p});
            const Row* row = nullptr;
            for (const auto& r : differing)
                if (std::string_view(r.key) == key && r.held == h) row = &r;
            if (row) {
                EXPECT_EQ(w, text(row->windows)) << describe(p);
                EXPECT_EQ(l, text(row->onLinux)) << describe(p);
            } else {
                EXPECT_EQ(w, l) << describe(p);
            }
        }
}

// Windows also takes left Ctrl+Alt as AltGr; on Linux it is a shortcut.
TEST(XkbDifferences, CtrlAltIsAltGrOnlyOnWindows) {
    const auto [w, l] = sides().type({{Ctrl | Alt, position("AD01")}});
    EXPECT_EQ(w, text("ä"));
    EXPECT_EQ(l, nothing);
    const auto [w2, l2] = sides().type({{AltGr, position("AD01")}});
    EXPECT_EQ(w2, text("ä"));
    EXPECT_EQ(l2, text("ä"));
}
