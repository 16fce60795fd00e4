// The exported Linux files type what Windows types: the same presses go
// through our simulator and through libxkbcommon, and every press must give
// the same characters and leave the same dead key pending. The only
// differences allowed are the known ones (control keys, Ctrl chords), which
// the tests in xkb_differences_test.cpp pin one by one.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "fixture.h"
#include "xkb_harness.h"

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

enum class Verdict { Same, ControlKey, CtrlChord, NoCharacterKey, Different };

struct Tally {
    size_t events = 0, same = 0, controlKey = 0, ctrlChord = 0, noCharacter = 0, different = 0;
    std::vector<std::string> examples;  // the first unexplained differences

    void print(const std::string& what) const {
        std::printf("[xkb] %s: %zu events, %zu same; known differences: %zu control key, %zu Ctrl chord, "
                    "%zu key without a character after a dead key; %zu other differences\n",
                    what.c_str(), events, same, controlKey, ctrlChord, noCharacter, different);
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

    // Fresh sessions on both sides with Caps Lock as given.
    void restart(bool caps) {
        win_.emplace(layout_);
        lin_.emplace(keymap_, table_, group_);
        if (caps) press({0, position("CAPS")});
    }

    void press(const Press& p) {
        const Outcome w = win_->press(p);
        const Outcome l = lin_->press(p);
        ++tally.events;
        Verdict v = Verdict::Same;
        if (!(w == l) || win_->capsLock() != lin_->capsLock()) {
            if (p.key.role == KeyRole::Control)
                v = Verdict::ControlKey;
            else if (p.held & Ctrl)
                v = Verdict::CtrlChord;
            else if (w.text.empty() && w.pending && l.cancelled && xkb_keysym_to_utf32(lin_->keysym(p)) == 0)
                v = Verdict::NoCharacterKey;
            else
                v = Verdict::Different;
        }
        switch (v) {
        case Verdict::Same: ++tally.same; return;
        case Verdict::ControlKey: ++tally.controlKey; break;
        case Verdict::CtrlChord: ++tally.ctrlChord; break;
        case Verdict::NoCharacterKey: ++tally.noCharacter; break;
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

    void forget() {
        win_->forget();
        lin_->forget();
    }

    // Presses a sequence from no pending dead key.
    void sequence(std::initializer_list<Press> presses) {
        forget();
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
};

// Every chord alone, every dead chord then every chord, dead + dead + chord,
// each with Caps Lock off and on.
void systematic(Comparison& c, const kbd::Layout& layout) {
    const auto chords = everyChord();
    for (bool caps : {false, true}) {
        const auto deads = deadChords(layout, caps);
        ASSERT_FALSE(deads.empty() && !layout.deadKeys.empty());
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
void randomStream(Comparison& c, const kbd::Layout& layout, size_t events, uint32_t seed) {
    const auto chords = everyChord();
    const auto deads = deadChords(layout, false);
    std::mt19937 rng(seed);
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

void expectNoUnexplained(const Tally& t, const std::string& what) {
    t.print(what);
    EXPECT_EQ(t.different, 0u) << what;
    for (const auto& e : t.examples) ADD_FAILURE() << what << ": " << e;
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
        expectNoUnexplained(sys.tally, name + " " + cfg.label + " systematic");
        Comparison rnd(layout, keymap, inst.composeTable(), cfg.group);
        randomStream(rnd, layout, 25000, 20261209);
        EXPECT_GE(rnd.tally.events, 20000u);
        expectNoUnexplained(rnd.tally, name + " " + cfg.label + " random");
    }
}

}  // namespace

TEST(XkbEquivalence, OurImageTypesTheSameOnLinux) { runAll(kbdtest::layout(), "kbdqelvo"); }
