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

enum Held : unsigned { Shift = 1, AltGr = 2 };

struct Press {
    unsigned        held = 0;
    kbd::PcKey      key;
};

std::string describe(const Press& p) {
    return std::string(p.held & Shift ? "Shift+" : "") + (p.held & AltGr ? "AltGr+" : "") + "<" +
           std::string(p.key.xkb) + ">";
}

// Every character key with Shift and AltGr (right Alt, right Option on the Mac).
std::vector<Press> everyChord() {
    std::vector<Press> out;
    for (const auto& k : kbd::pcKeys())
        if (k.xkbRole == kbd::XkbRole::Layout && k.mac >= 0)
            for (unsigned h : {0u, unsigned(Shift), unsigned(AltGr), unsigned(Shift | AltGr)}) out.push_back({h, k});
    return out;
}

struct Outcome {
    std::string text;
    bool        pending = false;
    bool operator==(const Outcome&) const = default;
};

struct Tally {
    size_t events = 0, same = 0, shiftLock = 0, different = 0;
    std::vector<std::string> examples;
};

// Both sides from the same start, Caps Lock as given.
class Comparison {
public:
    Comparison(const kbd::Layout& layout, const std::string& keylayout) : layout_(layout), mac_(keylayout) {
        restart(false);
    }

    void restart(bool caps) {
        win_.emplace(layout_);
        win_->setCapsLock(caps);
        caps_ = caps;
        mac_.reset();
    }

    void setCaps(bool on) {
        win_->setCapsLock(on);
        caps_ = on;
    }
    void toggleCaps() { setCaps(!caps_); }

    void press(const Press& p) {
        kbd::KeyState held;
        if (p.held & Shift) held.set(kbd::vk::LSHIFT);
        if (p.held & AltGr) held.set(kbd::vk::RMENU);
        const auto r = win_->press(p.key.scan, held);
        const Outcome w{kbd::utf8(r.out), win_->pendingDead().has_value()};
        unsigned mods = (p.held & Shift ? m::LShift : 0) | (p.held & AltGr ? m::ROption : 0) | (caps_ ? m::CapsLock : 0);
        const std::string text = mac_.press(unsigned(p.key.mac), mods);
        const Outcome mac{text, mac_.state() != "none"};
        ++tally.events;
        if (w == mac && win_->capsLock() == caps_) {
            ++tally.same;
            return;
        }
        // Under Shift Lock, Shift turns Caps Lock off on Windows; the Mac's
        // Caps Lock stays on.
        if (win_->capsLock() != caps_ && (layout_.localeFlags & kbd::def::KLLF_SHIFTLOCK)) {
            ++tally.shiftLock;
        } else {
            ++tally.different;
            if (tally.examples.size() < 20)
                tally.examples.push_back(describe(p) + (caps_ ? " Caps" : "") + ": Windows \"" + w.text + "\"" +
                                         (w.pending ? " pending" : "") + ", Mac \"" + mac.text + "\"" +
                                         (mac.pending ? " pending" : ""));
        }
        forget();
    }

    // Drops a pending dead key on both sides; the Mac's Caps Lock follows Windows'.
    void forget() {
        const bool caps = win_->capsLock();
        win_.emplace(layout_);
        win_->setCapsLock(caps);
        caps_ = caps;
        mac_.reset();
    }

    void sequence(std::initializer_list<Press> presses) {
        forget();
        for (const auto& p : presses) press(p);
    }

    bool pending() const { return win_->pendingDead().has_value(); }

    Tally tally;

private:
    const kbd::Layout&          layout_;
    Keylayout                   mac_;
    std::optional<kbd::Session> win_;
    bool                        caps_ = false;
};

std::vector<Press> deadChords(const kbd::Layout& layout, bool caps) {
    std::vector<Press> out;
    for (const auto& p : everyChord()) {
        kbd::Session s(layout);
        s.setCapsLock(caps);
        kbd::KeyState held;
        if (p.held & Shift) held.set(kbd::vk::LSHIFT);
        if (p.held & AltGr) held.set(kbd::vk::RMENU);
        s.press(p.key.scan, held);
        if (s.pendingDead()) out.push_back(p);
    }
    return out;
}

bool reports(const kbd::macos::Export& e, const char* kind) {
    for (const auto& a : e.approximations)
        if (a.kind == kind) return true;
    return false;
}

void check(const Tally& t, const kbd::macos::Export& e, const std::string& what) {
    std::printf("[macos] %s: %zu events, %zu same; known differences: %zu Shift Lock; %zu other differences\n",
                what.c_str(), t.events, t.same, t.shiftLock, t.different);
    EXPECT_EQ(t.different, 0u) << what;
    for (const auto& x : t.examples) ADD_FAILURE() << what << ": " << x;
    if (t.shiftLock) EXPECT_TRUE(reports(e, "shiftlock")) << what;
}

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
    const auto a = std::find_if(kbd::pcKeys().begin(), kbd::pcKeys().end(), [](const kbd::PcKey& k) {
        return k.scan.prefix == kbd::Prefix::None && k.scan.code == 0x10;  // A on this layout
    });
    ASSERT_NE(a, kbd::pcKeys().end());
    kbd::Session win(layout);
    win.setCapsLock(true);
    Keylayout mac(e.keylayout);
    kbd::KeyState shift;
    shift.set(kbd::vk::LSHIFT);
    // Shift releases Caps Lock on Windows before A is read: Shift+A types A
    // there, and a on the Mac, where Caps Lock still inverts Shift.
    EXPECT_EQ(kbd::utf8(win.press(a->scan, shift).out), "A");
    EXPECT_FALSE(win.capsLock());
    EXPECT_EQ(mac.press(unsigned(a->mac), m::LShift | m::CapsLock), "a");
    // Then A alone: a on Windows, A on the Mac.
    EXPECT_EQ(kbd::utf8(win.press(a->scan, {}).out), "a");
    EXPECT_EQ(mac.press(unsigned(a->mac), m::CapsLock), "A");
}
