// Finding keys: what find gives types back to its text through the
// simulator, for every character the layout has and for whole words, and it
// is never longer than a key that gives the character directly.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "kbd/typing/find.h"
#include "kbd/views/unicode_names.h"
#include "kbd/views/find_report.h"
#include "support/fixture.h"
#include "support/foreign.h"
#include "kbd/image/error.h"
#include "kbd/model/char_labels.h"

using kbdtest::layout;

namespace {

const kbd::Finder& finder() {
    static const kbd::Finder f(layout());
    return f;
}

std::vector<std::string> chords(const kbd::Sequence& s) {
    std::vector<std::string> v;
    for (const auto* st : s.strokes) v.push_back(st->chord);
    return v;
}

std::string hex(const std::u16string& s) {
    std::string o;
    for (char16_t c : s) o += fmt::format("{:04X} ", unsigned(c));
    return o;
}

}  // namespace

TEST(Find, EverySequenceTypesItsCharacterBack) {
    const auto& all = finder().all();
    ASSERT_GT(all.size(), 300u);
    for (const auto& [ch, ways] : all) {
        ASSERT_FALSE(ways.empty());
        for (const auto& w : ways) {
            const std::u16string want(1, char16_t(ch));
            EXPECT_EQ(kbd::typeText(layout(), chords(w)), want) << w.chords();
            EXPECT_EQ(w.capsDependent, kbd::typeText(layout(), chords(w), true) != want) << w.chords();
            EXPECT_EQ(w.strokes.size(), ways.front().strokes.size()) << "ties differ in length: " << w.chords();
        }
    }
}

TEST(Find, AllCharactersAtOnceTypeBackAsOneSequence) {
    // Every character the layout has, in one text, typed by one sequence:
    // dead keys that give their own character need a following key that
    // would otherwise compose, and the search has to thread them.
    std::u16string text;
    for (const auto& [ch, ways] : finder().all()) text += char16_t(ch);
    const kbd::Sequence seq = kbd::keysFor(finder(), text);
    EXPECT_EQ(hex(kbd::typeText(layout(), chords(seq))), hex(text));
    for (const char* word : {"rāmāyaṇa", "ṛṣi hha", "ĀḌḤ=¯"}) {
        const auto t = kbd::fromUtf8(word);
        EXPECT_EQ(kbd::utf8(kbd::typeText(layout(), chords(kbd::keysFor(finder(), t)))), word);
    }
}

TEST(Find, NoLongerThanAKeyThatGivesTheCharacterDirectly) {
    for (const auto& st : finder().strokes()) {
        const kbd::KeyChar c = kbd::charFor(layout(), st.vk, st.mask, false);
        if (c.kind != kbd::KeyChar::Kind::Char) continue;
        const auto it = finder().all().find(c.ch);
        ASSERT_NE(it, finder().all().end()) << st.chord;
        EXPECT_EQ(it->second.front().strokes.size(), 1u) << st.chord << " gives U+" << std::hex << c.ch;
    }
    // A dead key that gives its own character after Space takes two presses,
    // and only the fewest-modifier Space is offered.
    const auto h = finder().find(u"h");
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h.front().chords(), "h Space");
    EXPECT_TRUE(h.front().capsDependent);
    EXPECT_FALSE(finder().find(u"@").front().capsDependent);
}

TEST(Find, ACharacterTheLayoutLacks) {
    EXPECT_TRUE(finder().find(u"Ж").empty());
    EXPECT_TRUE(finder().find(u"\U0001F600").empty());
    bool ok = true;
    const std::string text = kbd::charactersText(finder(), kbd::fromUtf8("aЖ"), ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(text.find("U+0416 Ж  CYRILLIC CAPITAL LETTER ZHE\n  not on this layout"), std::string::npos) << text;
    try {
        kbd::keysFor(finder(), kbd::fromUtf8("aЖb"));
        FAIL() << "no error";
    } catch (const kbd::Error& e) {
        EXPECT_EQ(std::string(e.what()), "U+0416 Ж (CYRILLIC CAPITAL LETTER ZHE) is not on this layout");
    }
}

TEST(Find, NamesAndPlacesComeFromUnicodeAndTheKeyboard) {
    const auto j = kbd::allJson(finder());
    bool sawPrivate = false;
    for (const auto& c : j["characters"]) {
        EXPECT_FALSE(c["name"].get<std::string>().empty()) << c.dump();
        if (c["codePoint"].get<unsigned>() >= 0xE000 && c["codePoint"].get<unsigned>() <= 0xF8FF) {
            sawPrivate = true;
            EXPECT_TRUE(c["name"].get<std::string>().starts_with("<private use")) << c.dump();
        }
        for (const auto& s : c["sequences"])
            for (const auto& st : s["strokes"]) EXPECT_FALSE(st["place"].get<std::string>().empty()) << c.dump();
    }
    EXPECT_TRUE(sawPrivate);
    bool ok = false;
    const std::string r = kbd::charactersText(finder(), kbd::fromUtf8("ṛ"), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(r, "U+1E5B ṛ  LATIN SMALL LETTER R WITH DOT BELOW\n  OEM_PERIOD r  keys B09 D04 (with Caps Lock off)\n");
}

TEST(Find, ATextTooLongToSearchIsRefused) {
    EXPECT_EQ(finder().find(std::u16string(kbd::Finder::kMaxText, u'a'), 1).size(), 1u);
    EXPECT_THROW(finder().find(std::u16string(kbd::Finder::kMaxText + 1, u'a')), kbd::Error);
}

// The test layouts in other tools' styles: ligatures, SGCAPS rows, Kana,
// chained dead keys, unusual columns and Shift Lock.
TEST(Find, ForeignLayoutsTypeBackWhatFindGives) {
    for (const char* name : kbdtest::kForeignLayouts) {
        const kbd::Layout& L = kbdtest::foreign(name).layout;
        const kbd::Finder f(L);
        ASSERT_FALSE(f.all().empty()) << name;
        std::u16string text;
        for (const auto& [ch, ways] : f.all()) {
            text += char16_t(ch);
            for (const auto& w : ways)
                EXPECT_EQ(kbd::typeText(L, chords(w)), std::u16string(1, char16_t(ch))) << name << " " << w.chords();
        }
        EXPECT_EQ(hex(kbd::typeText(L, chords(kbd::keysFor(f, text)))), hex(text)) << name;
    }
    // A ligature is one press; a character only an SGCAPS row gives needs
    // Caps Lock, and says so.
    const kbd::Finder lig(kbdtest::foreign("ligature2").layout);
    EXPECT_EQ(lig.find(u"\u0644\u0627").front().chords(), "b");
    const kbd::Finder sg(kbdtest::foreign("sgcaps").layout);
    const auto ue = sg.find(u"\u00DC");
    ASSERT_FALSE(ue.empty());
    EXPECT_EQ(ue.front().chords(), "CapsLock OEM_1");
    EXPECT_TRUE(ue.front().capsDependent);
}
