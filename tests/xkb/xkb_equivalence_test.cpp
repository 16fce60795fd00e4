// The exported Linux files type what Windows types: the same presses go
// through our simulator and through libxkbcommon, and every press must give
// the same characters and leave the same dead key pending. The only
// differences allowed are the known ones (control keys, Ctrl chords), which
// the tests in xkb_differences_test.cpp pin one by one, and on the test
// layouts in other tools' styles those the export reports as approximate
// (ligatures, the Kana and Shift locks, characters on Alt chords).
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "support/fixture.h"
#include "support/foreign.h"
#include "xkb/xkb_harness.h"

using namespace kbdtest::xkb;

namespace {

constexpr unsigned kHeldSets[] = {0, Shift, AltGr, Shift | AltGr, Ctrl, Shift | Ctrl, Alt};

// Every press of a character, keypad or control key with each held set.
std::vector<Press> everyChord() {
    std::vector<Press> out;
    for (const auto& k : kbd::xkb::keyPositions())
        if (k.role != KeyRole::Modifier)
            for (unsigned h : kHeldSets) out.push_back({h, k});
    return out;
}

// The chords that leave a dead key pending, with Caps Lock off or on.
std::vector<Press> deadChords(const kbd::Layout& layout, bool caps) {
    std::vector<Press> out;
    for (const auto& p : everyChord()) {
        WindowsTypist w(layout);
        if (caps) w.press({0, position("CAPS")});
        if (w.press(p).pending) out.push_back(p);
    }
    return out;
}

enum class Verdict { Same, ControlKey, CtrlChord, NoCharacterKey, Ligature, Lock, AltColumn, Different };

struct Tally {
    size_t events = 0, same = 0, controlKey = 0, ctrlChord = 0, noCharacter = 0, ligature = 0, lock = 0,
           altColumn = 0, different = 0;
    std::vector<std::string> examples;  // the first unexplained differences

    void print(const std::string& what) const {
        std::printf("[xkb] %s: %zu events, %zu same; known differences: %zu control key, %zu Ctrl chord, "
                    "%zu key without a character after a dead key, %zu ligature, %zu lock, %zu Alt chord; "
                    "%zu other differences\n",
                    what.c_str(), events, same, controlKey, ctrlChord, noCharacter, ligature, lock, altColumn,
                    different);
    }
};

// Types streams of presses on both sides and tallies every press.
class Comparison {
public:
    Comparison(const kbd::Layout& layout, std::shared_ptr<xkb_keymap> keymap, xkb_compose_table* table,
               xkb_layout_index_t group)
        : layout_(layout), keymap_(std::move(keymap)), table_(table), group_(group) {
        restart(false);
    }

    // Fresh sessions on both sides, the Caps Lock key pressed once if asked;
    // sequences start again from the lock states that leaves.
    void restart(bool caps) {
        win_.emplace(layout_);
        lin_.emplace(keymap_, table_, group_);
        if (caps) press({0, position("CAPS")});
        // The states the key leaves, before a difference it makes is forgotten.
        WindowsTypist w(layout_);
        LinuxTypist l(keymap_, table_, group_);
        if (caps) {
            w.press({0, position("CAPS")});
            l.press({0, position("CAPS")});
        }
        pass_ = {w.capsLock(), w.kanaLock(), l.capsLock()};
    }

    void press(const Press& p) {
        const Outcome w = win_->press(p);
        const Outcome l = lin_->press(p);
        ++tally.events;
        Verdict v = Verdict::Same;
        const bool locksDiffer = win_->capsLock() != lin_->capsLock() || win_->kanaLock();
        if (!(w == l) || locksDiffer) {
            if (locksDiffer)
                v = Verdict::Lock;
            else if (p.key.role == KeyRole::Control)
                v = Verdict::ControlKey;
            else if (p.held & Ctrl)
                v = Verdict::CtrlChord;
            else if (w.text.empty() && w.pending && l.cancelled && xkb_keysym_to_utf32(lin_->keysym(p)) == 0)
                v = Verdict::NoCharacterKey;
            else if (win_->lastLigature())
                v = Verdict::Ligature;
            else if ((p.held & (Alt | AltGr)) && l.text.empty())
                v = Verdict::AltColumn;
            else
                v = Verdict::Different;
        }
        switch (v) {
        case Verdict::Same: ++tally.same; return;
        case Verdict::ControlKey: ++tally.controlKey; break;
        case Verdict::CtrlChord: ++tally.ctrlChord; break;
        case Verdict::NoCharacterKey: ++tally.noCharacter; break;
        case Verdict::Ligature: ++tally.ligature; break;
        case Verdict::Lock: ++tally.lock; break;
        case Verdict::AltColumn: ++tally.altColumn; break;
        case Verdict::Different:
            ++tally.different;
            if (tally.examples.size() < 20)
                tally.examples.push_back(describe(p) + " (keysym " + kbd::xkb::keysymName(lin_->keysym(p)) +
                                         "): Windows \"" + w.text + "\"" + (w.pending ? " pending" : "") +
                                         ", Linux \"" + l.text + "\"" + (l.pending ? " pending" : "") +
                                         (l.cancelled ? " cancelled" : ""));
            break;
        }
        // A known difference may leave one side with a dead key pending:
        // start both from no pending key again.
        forget();
    }

    // Drops a pending dead key on both sides; Linux's Caps Lock follows
    // Windows' (the Kana lock, which Linux lacks, goes off).
    void forget() {
        win_->forget();
        lin_->forget();
        lin_->setCapsLock(win_->capsLock());
    }

    // Presses a sequence from no pending dead key, the locks as the pass
    // began (a Shift Lock released by an earlier sequence is on again).
    void sequence(std::initializer_list<Press> presses) {
        forget();
        win_->setCapsLock(pass_.winCaps);
        win_->setKanaLock(pass_.winKana);
        lin_->setCapsLock(pass_.linCaps);
        for (const auto& p : presses) press(p);
    }

    Tally tally;

private:
    const kbd::Layout&           layout_;
    std::shared_ptr<xkb_keymap>  keymap_;
    xkb_compose_table*           table_;
    xkb_layout_index_t           group_;
    std::optional<WindowsTypist> win_;
    std::optional<LinuxTypist>   lin_;
    struct Locks {
        bool winCaps = false, winKana = false, linCaps = false;
    } pass_;
};

// Every chord alone, every dead chord then every chord, dead + dead + chord,
// each with Caps Lock off and on.
void systematic(Comparison& c, const kbd::Layout& layout) {
    const auto chords = everyChord();
    for (bool caps : {false, true}) {
        const auto deads = deadChords(layout, caps);
        c.restart(caps);
        for (const auto& p : chords) {
            c.sequence({p});
            for (const auto& d : deads) c.sequence({d, p});
            for (const auto& d1 : deads)
                for (const auto& d2 : deads) c.sequence({d1, d2, p});
        }
    }
}

// A seeded random stream: chords, dead chords, Caps Lock and Num Lock.
void randomStream(Comparison& c, const kbd::Layout& layout, size_t events, uint32_t rngStart) {
    const auto chords = everyChord();
    const auto deads = deadChords(layout, false);
    std::mt19937 rng(rngStart);
    std::uniform_int_distribution<size_t> pickChord(0, chords.size() - 1);
    std::uniform_int_distribution<size_t> pickDead(0, deads.empty() ? 0 : deads.size() - 1);
    std::uniform_int_distribution<int> kind(0, 99);
    c.restart(false);
    for (size_t i = 0; i < events; ++i) {
        const int k = kind(rng);
        if (k < 3)
            c.press({0, position("CAPS")});
        else if (k < 4)
            c.press({0, position("NMLK")});
        else if (k < 25 && !deads.empty())
            c.press(deads[pickDead(rng)]);
        else
            c.press(chords[pickChord(rng)]);
    }
}

bool reports(const kbd::xkb::Export& e, std::initializer_list<const char*> kinds) {
    for (const auto& a : e.approximations)
        for (const char* k : kinds)
            if (a.kind == k) return true;
    return false;
}

// Every difference is a known one, and those beyond the control keys and
// Ctrl chords only where the export reports the cause.
void expectNoUnexplained(const Tally& t, const kbd::xkb::Export& e, const std::string& what) {
    t.print(what);
    EXPECT_EQ(t.different, 0u) << what;
    for (const auto& x : t.examples) ADD_FAILURE() << what << ": " << x;
    if (t.ligature) {
        EXPECT_TRUE(reports(e, {"ligatures"})) << what;
    }
    if (t.lock) {
        EXPECT_TRUE(reports(e, {"kana-lock", "shift-lock"})) << what;
    }
    if (t.altColumn) {
        EXPECT_TRUE(reports(e, {"alt-column", "other-columns", "alt-not-a-modifier", "ctrl-alt-without-altgr"}))
            << what;
    }
}

struct Config {
    const char* label;
    std::string layouts;  // for the rules; empty: keymap.xkb
    xkb_layout_index_t group;
};

void runAll(const kbd::Layout& layout, const std::string& name) {
    Installed inst(layout, name);
    const Config configs[] = {
        {"alone", name, 0},
        {"second of us", "us," + name, 1},
        {"as custom", "custom", 0},
        {"keymap.xkb", "", 0},
    };
    for (const auto& cfg : configs) {
        auto keymap = cfg.layouts.empty() ? inst.fromKeymapFile() : inst.fromRules(cfg.layouts);
        ASSERT_TRUE(keymap) << cfg.label;
        Comparison sys(layout, keymap, inst.composeTable(), cfg.group);
        systematic(sys, layout);
        expectNoUnexplained(sys.tally, inst.exported, name + " " + cfg.label + " systematic");
        Comparison rnd(layout, keymap, inst.composeTable(), cfg.group);
        randomStream(rnd, layout, 25000, 20261209);
        EXPECT_GE(rnd.tally.events, 20000u);
        expectNoUnexplained(rnd.tally, inst.exported, name + " " + cfg.label + " random");
    }
}

}  // namespace

TEST(XkbEquivalence, OurImageTypesTheSameOnLinux) { runAll(kbdtest::layout(), "kbdqelvo"); }

TEST(XkbEquivalence, TestLayoutsInOtherStylesTypeTheSameOnLinux) {
    for (const char* name : kbdtest::kForeignLayouts) runAll(kbdtest::foreign(name).layout, name);
}
