// The exported .keylayout types what Windows types: the same presses go
// through our simulator and through an interpreter of the .keylayout format
// (keylayout_interpreter.h), and every press must give the same characters
// and leave a dead key pending on both sides or on neither. The differences
// allowed are those the export reports, each pinned by a test below.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "kbd/image/utf8.h"
#include "kbd/macos/export.h"
#include "kbd/model/layout_format.h"
#include "kbd/model/pc_keys.h"
#include "macos/keylayout_interpreter.h"
#include "support/fixture.h"
#include "support/foreign.h"

namespace {

using kbdtest::macos::Keylayout;
namespace m = kbdtest::macos;

enum Held : unsigned { Shift = 1, AltGr = 2, Ctrl = 4 };
constexpr unsigned kHeldSets[] = {0, Shift, AltGr, Shift | AltGr, Ctrl, Shift | Ctrl, Ctrl | AltGr};

struct Press {
    unsigned   held = 0;
    kbd::PcKey key;
};

std::string describe(const Press& p) {
    return std::string(p.held & Ctrl ? "Ctrl+" : "") + (p.held & Shift ? "Shift+" : "") +
           (p.held & AltGr ? "AltGr+" : "") + "<" + std::string(p.key.xkb) + ">";
}

// The PC keys a Mac keyboard has at the same place that are no modifiers
// there: the character block, the keypad, the editing keys, the navigation
// and function keys (the Windows keys are the Mac's Command keys).
bool typesOnAMac(const kbd::PcKey& k) {
    return k.mac >= 0 && k.xkbRole != kbd::XkbRole::Modifier && (k.xkbRole != kbd::XkbRole::Other || k.macChar);
}

// Every such key with Shift, AltGr (right Alt, right Option on the Mac) and Ctrl.
std::vector<Press> everyChord() {
    std::vector<Press> out;
    for (const auto& k : kbd::pcKeys())
        if (typesOnAMac(k))
            for (unsigned h : kHeldSets) out.push_back({h, k});
    return out;
}

kbd::KeyState windowsHeld(unsigned held) {
    kbd::KeyState s;
    if (held & Shift) s.set(kbd::vk::LSHIFT);
    if (held & AltGr) s.set(kbd::vk::RMENU);
    if (held & Ctrl) s.set(kbd::vk::LCONTROL);
    return s;
}

unsigned macHeld(unsigned held, bool caps) {
    return (held & Shift ? unsigned(m::LShift) : 0u) | (held & AltGr ? unsigned(m::ROption) : 0u) |
           (held & Ctrl ? unsigned(m::LControl) : 0u) | (caps ? unsigned(m::CapsLock) : 0u);
}

struct Outcome {
    std::string text;
    bool        pending = false;
    bool operator==(const Outcome&) const = default;
};

// Each press, and the differences by the class that explains them.
struct Tally {
    size_t sequences = 0, events = 0, same = 0;
    size_t shiftLock = 0, navigation = 0, unmodified = 0, ctrl = 0, lrmRlm = 0, different = 0;
    std::vector<std::string> examples;

    size_t differences() const { return shiftLock + navigation + unmodified + ctrl + lrmRlm + different; }
};

// Both sides from the same start, Caps Lock as given.
class Comparison {
public:
    Comparison(const kbd::Layout& layout, const std::string& keylayout) : layout_(layout), mac_(keylayout) {
        restart(false);
    }

    // Fresh sessions on both sides; sequences start again from this Caps Lock state.
    void restart(bool caps) {
        passCaps_ = caps;
        setCaps(caps);
        forget();
    }

    void setCaps(bool on) {
        if (win_) win_->setCapsLock(on);
        caps_ = on;
    }
    void toggleCaps() { setCaps(!caps_); }

    void press(const Press& p) {
        const auto waiting = win_->pendingDead();
        const auto r = win_->press(p.key.scan, windowsHeld(p.held));
        const Outcome w{kbd::utf8(r.out), win_->pendingDead().has_value()};
        const std::string text = mac_.press(unsigned(p.key.mac), macHeld(p.held, caps_));
        const Outcome mac{text, mac_.state() != "none"};
        ++tally.events;
        if (w == mac && win_->capsLock() == caps_) {
            ++tally.same;
            return;
        }
        if (size_t* pinned = explain(p, r, waiting, mac)) {
            ++*pinned;
        } else {
            ++tally.different;
            if (tally.examples.size() < 20)
                tally.examples.push_back(describe(p) + (caps_ ? " Caps" : "") + ": Windows \"" + w.text + "\"" +
                                         (w.pending ? " pending" : "") + ", Mac \"" + mac.text + "\"" +
                                         (mac.pending ? " pending" : ""));
        }
        forget();
    }

    // Presses a sequence from no pending dead key, Caps Lock as the pass began.
    void sequence(std::initializer_list<Press> presses) {
        setCaps(passCaps_);
        forget();
        ++tally.sequences;
        for (const auto& p : presses) press(p);
    }

    Tally tally;

private:
    // Drops a pending dead key on both sides; the Mac's Caps Lock follows Windows'.
    void forget() {
        const bool caps = win_ ? win_->capsLock() : caps_;
        win_.emplace(layout_);
        setCaps(caps);
        mac_.reset();
    }

    // The pinned class a difference belongs to, if any.
    size_t* explain(const Press& p, const kbd::Session::Result& r, std::optional<uint16_t> waiting,
                    const Outcome& mac) {
        // Under Shift Lock, Shift turns Caps Lock off on Windows; the Mac's
        // Caps Lock stays on.
        if (win_->capsLock() != caps_ && (layout_.localeFlags & kbd::def::KLLF_SHIFTLOCK)) return &tally.shiftLock;
        // Left and right Shift with Backspace give marks on Windows only.
        if ((layout_.localeFlags & kbd::def::KLLF_LRM_RLM) && r.vk == kbd::vk::BACK &&
            (r.key.ch == 0x200E || r.key.ch == 0x200F))
            return &tally.lrmRlm;
        // The rest: Windows types nothing with the chord, and the Mac one
        // character, after the dead character of a dead key that waited.
        if (r.key.kind != kbd::KeyChar::Kind::None || mac.pending) return nullptr;
        const std::string dead = waiting ? kbd::utf8(std::u16string(1, char16_t(*waiting))) : "";
        if (mac.text.size() <= dead.size() || mac.text.compare(0, dead.size(), dead) != 0) return nullptr;
        const std::string c = mac.text.substr(dead.size());
        switch (p.key.xkbRole) {
        case kbd::XkbRole::Other:  // a navigation or function key: a control character macOS reads
            return c.size() == 1 && (uint8_t(c[0]) < 0x20 || c[0] == 0x7F) ? &tally.navigation : nullptr;
        case kbd::XkbRole::Keypad:
        case kbd::XkbRole::Control: {  // what the key types on Windows without modifiers, Num Lock on
            kbd::Session plain(layout_);
            return c == kbd::utf8(plain.press(p.key.scan, {}).out) ? &tally.unmodified : nullptr;
        }
        default: {  // Control with a letter key: the letter's control character
            const auto entry = kbd::scanEntry(layout_, p.key.scan);
            const uint8_t v = entry ? uint8_t(*entry & 0xFF) : 0;
            return (p.held & Ctrl) && v >= 'A' && v <= 'Z' && c == std::string(1, char(v - 'A' + 1)) ? &tally.ctrl
                                                                                                   : nullptr;
        }
        }
    }

    const kbd::Layout&          layout_;
    Keylayout                   mac_;
    std::optional<kbd::Session> win_;
    bool                        caps_ = false, passCaps_ = false;
};

std::vector<Press> deadChords(const kbd::Layout& layout, bool caps) {
    std::vector<Press> out;
    for (const auto& p : everyChord()) {
        kbd::Session s(layout);
        s.setCapsLock(caps);
        s.press(p.key.scan, windowsHeld(p.held));
        if (s.pendingDead()) out.push_back(p);
    }
    return out;
}

bool reports(const kbd::macos::Export& e, const char* kind) {
    for (const auto& a : e.approximations)
        if (a.kind == kind) return true;
    return false;
}

// No difference beyond the pinned classes, and each class that occurs is
// one the export reports.
void check(const Tally& t, const kbd::macos::Export& e, const std::string& what) {
    EXPECT_EQ(t.different, 0u) << what;
    for (const auto& x : t.examples) ADD_FAILURE() << what << ": " << x;
    for (const auto& [n, kind] : {std::pair{t.shiftLock, "shiftlock"}, {t.navigation, "navigation"},
                                  {t.unmodified, "unmodified"}, {t.ctrl, "ctrl"}, {t.lrmRlm, "lrm-rlm"}})
        if (n) {
            EXPECT_TRUE(reports(e, kind)) << what << ": " << kind;
        }
}

// Every chord alone, every dead chord then every chord, dead + dead + chord,
// each with Caps Lock off and on; then a seeded random stream of chords,
// dead chords and Caps Lock. Prints the figures of the layout in one line.
void runAll(const kbd::Layout& layout, const std::string& name) {
    const auto e = kbd::macos::plan(layout, name, name + ".dll");
    const auto chords = everyChord();
    Comparison sys(layout, e.keylayout);
    for (bool caps : {false, true}) {
        const auto deads = deadChords(layout, caps);
        sys.restart(caps);
        for (const auto& p : chords) {
            sys.sequence({p});
            for (const auto& d : deads) sys.sequence({d, p});
            for (const auto& d1 : deads)
                for (const auto& d2 : deads) sys.sequence({d1, d2, p});
        }
    }
    check(sys.tally, e, name + " systematic");

    Comparison rnd(layout, e.keylayout);
    const auto deads = deadChords(layout, false);
    std::mt19937 rng(20261209);
    std::uniform_int_distribution<size_t> pickChord(0, chords.size() - 1);
    std::uniform_int_distribution<size_t> pickDead(0, deads.empty() ? 0 : deads.size() - 1);
    std::uniform_int_distribution<int> kind(0, 99);
    for (size_t i = 0; i < 25000; ++i) {
        const int k = kind(rng);
        if (k < 3)
            rnd.toggleCaps();
        else if (k < 25 && !deads.empty())
            rnd.press(deads[pickDead(rng)]);
        else
            rnd.press(chords[pickChord(rng)]);
    }
    check(rnd.tally, e, name + " random");

    const auto& s = sys.tally;
    const auto& r = rnd.tally;
    std::printf("[macos] %s: systematic %zu streams, %zu events, %zu differences; random %zu events, %zu "
                "differences; pinned (systematic+random): shiftlock %zu+%zu, navigation %zu+%zu, unmodified "
                "%zu+%zu, ctrl %zu+%zu, lrm-rlm %zu+%zu; other %zu; %zu keys, %zu key maps, %zu states, %zu "
                "actions, %zu bytes\n",
                name.c_str(), s.sequences, s.events, s.differences(), r.events, r.differences(), s.shiftLock,
                r.shiftLock, s.navigation, r.navigation, s.unmodified, r.unmodified, s.ctrl, r.ctrl, s.lrmRlm,
                r.lrmRlm, s.different + r.different, e.keys, e.maps, e.states, e.actions, e.keylayout.size());
}

// A chord and what it types on Windows and on the Mac.
using Case = std::tuple<unsigned, std::string_view, std::string, std::string>;

const kbd::PcKey& key(std::string_view xkb) {
    static std::map<std::string_view, kbd::PcKey> keys;
    if (!keys.count(xkb)) keys[xkb] = *kbd::keyByXkbName(xkb);
    return keys[xkb];
}

// What one chord types on Windows (after the dead chord, if given) and on the Mac.
struct Both {
    std::string windows, mac;
    bool        windowsPending = false;
};
Both typeBoth(const kbd::Layout& layout, const Keylayout& file, unsigned held, std::string_view xkb,
              std::optional<Press> dead = std::nullopt) {
    kbd::Session win(layout);
    Keylayout mac = file;
    if (dead) {
        win.press(dead->key.scan, windowsHeld(dead->held));
        mac.press(unsigned(dead->key.mac), macHeld(dead->held, false));
    }
    const auto r = win.press(key(xkb).scan, windowsHeld(held));
    return {kbd::utf8(r.out), mac.press(unsigned(key(xkb).mac), macHeld(held, false)), win.pendingDead().has_value()};
}

// Each chord types what its case says, on Windows and on the Mac.
void expectTyped(const kbd::Layout& layout, const Keylayout& mac, const std::vector<Case>& cases) {
    for (const auto& [held, xkb, windows, onMac] : cases) {
        const auto b = typeBoth(layout, mac, held, xkb);
        EXPECT_EQ(b.windows, windows) << describe({held, key(xkb)});
        EXPECT_EQ(b.mac, onMac) << describe({held, key(xkb)});
    }
}

}  // namespace

TEST(MacosEquivalence, OurImageTypesTheSameOnAMac) { runAll(kbdtest::layout(), "kbdQelvo"); }

TEST(MacosEquivalence, TestLayoutsTypeTheSameOnAMac) {
    for (const char* name : kbdtest::kForeignLayouts) runAll(kbdtest::foreign(name).layout, name);
}

// Pinned: under Shift Lock, Shift releases Caps Lock on Windows, while a
// Mac's Caps Lock stays on until pressed again; the export says so.
TEST(MacosEquivalence, ShiftLockIsReleasedByShiftOnWindowsOnly) {
    const auto& layout = kbdtest::foreign("shiftlock").layout;
    const auto e = kbd::macos::plan(layout, "shiftlock", "shiftlock.dll");
    EXPECT_TRUE(reports(e, "shiftlock"));
    const auto& a = key("AD01");  // A on this layout
    kbd::Session win(layout);
    win.setCapsLock(true);
    Keylayout mac(e.keylayout);
    // Shift releases Caps Lock on Windows before A is read: Shift+A types A
    // there, and a on the Mac, where Caps Lock still inverts Shift.
    EXPECT_EQ(kbd::utf8(win.press(a.scan, windowsHeld(Shift)).out), "A");
    EXPECT_FALSE(win.capsLock());
    EXPECT_EQ(mac.press(unsigned(a.mac), m::LShift | m::CapsLock), "a");
    // Then A alone: a on Windows, A on the Mac.
    EXPECT_EQ(kbd::utf8(win.press(a.scan, {}).out), "a");
    EXPECT_EQ(mac.press(unsigned(a.mac), m::CapsLock), "A");
}

// Pinned: the navigation and function keys type nothing on Windows and the
// characters macOS reads as those keys on a Mac, also after a dead key,
// which comes out first there.
TEST(MacosEquivalence, NavigationKeysTypeWhatMacOsExpects) {
    const auto& layout = kbdtest::layout();
    const auto e = kbd::macos::plan(layout, "t", "t.dll");
    EXPECT_TRUE(reports(e, "navigation"));
    const Keylayout mac(e.keylayout);
    for (const auto& [xkb, want] : std::vector<std::pair<std::string_view, std::string>>{
             {"LEFT", "\x1C"}, {"RGHT", "\x1D"}, {"UP", "\x1E"}, {"DOWN", "\x1F"}, {"HOME", "\x01"},
             {"END", "\x04"}, {"PGUP", "\x0B"}, {"PGDN", "\x0C"}, {"DELE", "\x7F"}, {"INS", "\x05"},
             {"FK01", "\x10"}, {"FK12", "\x10"}}) {
        for (unsigned held : {0u, unsigned(Shift), unsigned(AltGr | Shift)}) {
            const auto b = typeBoth(layout, mac, held, xkb);
            EXPECT_EQ(b.windows, "") << xkb;
            EXPECT_EQ(b.mac, want) << xkb;
        }
    }
    const auto b = typeBoth(layout, mac, 0, "LEFT", Press{Shift, key("AE04")});  // dead ¯, then Left
    EXPECT_TRUE(b.windowsPending);
    EXPECT_EQ(b.mac, "¯\x1C");
}

// Pinned: a Mac keypad has no Num Lock and its keys, like Return, Tab,
// Backspace and Esc, type the same under every modifier, where Windows'
// Shift+keypad moves the cursor and AltGr chords of these keys type nothing.
// Keypad Enter types a return, as on Windows (not the Mac's U+0003, which a
// terminal reads as an interrupt).
TEST(MacosEquivalence, KeypadAndEditingKeysTypeTheirOwnCharacterUnderEveryModifier) {
    const auto& layout = kbdtest::layout();
    const auto e = kbd::macos::plan(layout, "t", "t.dll");
    EXPECT_TRUE(reports(e, "unmodified"));
    expectTyped(layout, Keylayout(e.keylayout), {
        {0, "KP7", "7", "7"},        {Shift, "KP7", "", "7"},       {AltGr, "KP7", "", "7"},
        {Shift, "KPDL", "", "."},    {AltGr, "KPAD", "", "+"},      {0, "KPEN", "\r", "\r"},
        {AltGr, "RTRN", "", "\r"},   {AltGr, "TAB", "", "\t"},      {Shift | Ctrl, "BKSP", "", "\b"},
        {0, "ESC", "\x1B", "\x1B"}});
}

// Pinned: Control chords type on a Mac what Ctrl chords type on Windows,
// and Control+letter the letter's control character where Windows types
// nothing, as Mac layouts do; Control with Option types what Ctrl+AltGr types.
TEST(MacosEquivalence, ControlChordsTypeWindowsCtrlCharactersAndLetterControls) {
    const auto& layout = kbdtest::layout();
    const auto e = kbd::macos::plan(layout, "t", "t.dll");
    EXPECT_TRUE(reports(e, "ctrl"));
    expectTyped(layout, Keylayout(e.keylayout), {
        {Ctrl, "AC01", "", "\x01"},       {Ctrl | Shift, "AB03", "", "\x03"}, {Ctrl, "RTRN", "\n", "\n"},
        {Ctrl, "BKSP", "\x7F", "\x7F"},   {Ctrl, "SPCE", " ", " "},          {Ctrl, "AE01", "", ""},
        {Ctrl | AltGr, "AD01", "ä", "ä"}});
    // A layout whose Ctrl column holds the letters' control characters types them alike.
    const auto& kana = kbdtest::foreign("kana").layout;
    const auto b = typeBoth(kana, Keylayout(kbd::macos::plan(kana, "k", "k.dll").keylayout), Ctrl, "AD01");
    EXPECT_EQ(b.windows, "\x11");
    EXPECT_EQ(b.mac, "\x11");
}

// Pinned: what the Kana lock types on Windows no modifier types on a Mac.
TEST(MacosEquivalence, KanaLockCharactersAreLeftOut) {
    const auto& layout = kbdtest::foreign("kana").layout;
    const auto e = kbd::macos::plan(layout, "kana", "kana.dll");
    EXPECT_TRUE(reports(e, "kana"));
    Keylayout mac(e.keylayout);
    const auto& q = key("AD01");
    kbd::Session win(layout);
    win.setKanaLock(true);
    const std::string kanaQ = kbd::utf8(win.press(q.scan, {}).out);
    EXPECT_EQ(kanaQ, "й");
    for (unsigned mods = 0; mods < 256; ++mods) {
        mac.reset();
        EXPECT_NE(mac.press(unsigned(q.mac), mods), kanaQ) << mods;
    }
}

// Pinned: an output a .keylayout cannot hold (here a lone surrogate) leaves
// its key out of that key map, and the export says so.
TEST(MacosEquivalence, UnwritableOutputTypesNothing) {
    kbd::Layout layout = kbdtest::layout();
    for (auto& t : layout.charTables)
        for (auto& row : t.rows)
            if (row.vk == 'Q') row.cells[0] = 0xD800;
    const auto e = kbd::macos::plan(layout, "t", "t.dll");
    EXPECT_TRUE(reports(e, "unwritable"));
    const auto b = typeBoth(layout, Keylayout(e.keylayout), 0, "AD01");
    EXPECT_EQ(b.windows, kbd::utf8(std::u16string(1, char16_t(0xD800))));
    EXPECT_EQ(b.mac, "");
}

// Pinned: left and right Shift with Backspace type marks on Windows; a Mac
// layout cannot tell the Shift keys apart and types Backspace's Shift column.
TEST(MacosEquivalence, ShiftBackspaceMarksAreWindowsOnly) {
    const auto& layout = kbdtest::foreign("ligature2").layout;
    const auto e = kbd::macos::plan(layout, "l", "l.dll");
    EXPECT_TRUE(reports(e, "lrm-rlm"));
    const auto b = typeBoth(layout, Keylayout(e.keylayout), Shift, "BKSP");
    EXPECT_EQ(b.windows, "\u200E");
    EXPECT_EQ(b.mac, "\b");
}
