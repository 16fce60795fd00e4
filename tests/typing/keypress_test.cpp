// Whole key presses as a keyboard sends them: scan codes (plain, E0, E1),
// Num Lock on the keypad, dead keys composing with what follows, and names.
#include <set>

#include <gtest/gtest.h>

#include "support/fixture.h"
#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"

using namespace kbd;
using kbdtest::layout;
using kbdtest::typed;

namespace {

std::optional<uint16_t> entry(Prefix p, uint8_t code) { return scanEntry(layout(), {p, code}); }

std::string name(uint8_t sc, bool ext) {
    const auto n = keyName(layout(), sc, ext);
    return n ? utf8(*n) : "<none>";
}

}  // namespace

TEST(ScanCodes, PlainTableCoversCodesBelow0x7FOnly) {
    EXPECT_EQ(entry(Prefix::None, 0x7E), uint16_t{vk::ABNT_C2});
    for (unsigned sc = 0x7F; sc <= 0xFF; ++sc) EXPECT_FALSE(entry(Prefix::None, uint8_t(sc))) << sc;
    EXPECT_EQ(entry(Prefix::None, 0x7C), entry(Prefix::None, 0x0F));  // a second Tab
    for (uint8_t sc : {0x00, 0x55, 0x60, 0x61, 0x70, 0x72, 0x74, 0x75, 0x77, 0x78, 0x79, 0x7A, 0x7D})
        EXPECT_EQ(entry(Prefix::None, sc), uint16_t{0x00FF}) << int(sc);
}

TEST(ScanCodes, PrefixesChooseTheirOwnLists) {
    EXPECT_EQ(entry(Prefix::E0, 0x1D), uint16_t(def::KBDEXT | vk::RCONTROL));
    EXPECT_EQ(entry(Prefix::E0, 0x38), uint16_t(def::KBDEXT | vk::RMENU));
    EXPECT_EQ(entry(Prefix::E0, 0x35), uint16_t(def::KBDEXT | vk::DIVIDE));
    EXPECT_EQ(entry(Prefix::None, 0x35), uint16_t{vk::OEM_2});
    EXPECT_EQ(entry(Prefix::E1, 0x1D), uint16_t{vk::PAUSE});
    for (unsigned sc = 1; sc <= 0xFF; ++sc)
        if (sc != 0x1D) {
            EXPECT_FALSE(entry(Prefix::E1, uint8_t(sc))) << sc;
        }
    for (const auto& r : layout().scanCodesE0) EXPECT_TRUE(r.entry & def::KBDEXT) << int(r.scanCode);
    // Keypad Enter and Ctrl+Break stand last, after the browser keys, where
    // a reverse lookup from the virtual key finds the main keys first.
    const auto& e0 = layout().scanCodesE0;
    ASSERT_GE(e0.size(), 2u);
    EXPECT_EQ(e0[e0.size() - 2].scanCode, 0x1C);
    EXPECT_EQ(e0.back().scanCode, 0x46);
}

TEST(ScanCodes, TypingByScanCodeMatchesTypingByKey) {
    EXPECT_EQ(typed({"e0:38+sc:10"}), typed({"AltGr+q"}));
    EXPECT_EQ(typed({"sc:3a", "e0:38+sc:10"}), u"\u00C4");
    EXPECT_EQ(typed({"sc:2a+sc:02", "sc:36+sc:03", "sc:39"}), u"!=");
    EXPECT_EQ(typed({"e0:1c", "sc:1c", "e0:1d+sc:0e"}), u"\r\r\x7F");
    EXPECT_EQ(typed({"e0:1d+e0:46"}), u"\x03");  // Ctrl+Break
    EXPECT_EQ(typed({"sc:38+sc:10"}), u"");       // left Alt is not AltGr
}

TEST(ScanCodes, KeypadFollowsNumLockAndShift) {
    EXPECT_EQ(typed({"sc:47", "sc:48", "sc:49", "sc:4b", "sc:4c", "sc:4d", "sc:4f", "sc:50", "sc:51", "sc:52", "sc:53"}),
              u"7894561230.");
    EXPECT_EQ(typed({"sc:2a+sc:47"}), u"");               // Shift gives the Home key
    EXPECT_EQ(typed({"NumLock", "sc:47", "sc:53"}), u"");  // Num Lock off: navigation keys
    EXPECT_EQ(typed({"e0:47", "e0:53"}), u"");             // the separate Home and Delete keys
    EXPECT_EQ(typed({"sc:4e", "sc:4a", "sc:37", "e0:35"}), u"+-*/");
}

TEST(DeadKeys, EveryDeadKeyFollowedBySpaceGivesItsOwnCharacter) {
    EXPECT_EQ(typed({"sc:2a+sc:03", "sc:39", "sc:2a+sc:05", "sc:39", "sc:2a+sc:06", "sc:39", "sc:2a+sc:07", "sc:39",
                     "sc:2a+sc:09", "sc:39", "sc:2a+sc:0c", "sc:39", "sc:23", "sc:39", "sc:29", "sc:39",
                     "sc:2a+sc:29", "sc:39", "sc:33", "sc:39", "sc:34", "sc:39"}),
              u"=\u00AF\u00B0^*_h\u00B4~,.");
}

TEST(DeadKeys, TransliteratedWordsComeOutRight) {
    // rāmāyaṇa: macron on Shift+4, dot below on the full-stop key
    EXPECT_EQ(typed({"r", "Shift+4", "a", "m", "Shift+4", "a", "y", "a", "Period", "n", "a"}), u"r\u0101m\u0101ya\u1E47a");
    // kṛṣṇa
    EXPECT_EQ(typed({"k", "Period", "r", "Period", "s", "Period", "n", "a"}), u"k\u1E5B\u1E63\u1E47a");
    // Muḥammad: the H key is itself dead, and its dead h composes with the dot
    EXPECT_EQ(typed({"Shift+m", "u", "Period", "h", "a", "m", "m", "a", "d"}), u"Mu\u1E25ammad");
    // ṯalāṯa: line below on Shift+minus
    EXPECT_EQ(typed({"Shift+Minus", "t", "a", "l", "Shift+4", "a", "Shift+Minus", "t", "a"}),
              u"\u1E6Fal\u0101\u1E6Fa");
    // ʃɪp and ŋ: IPA letters from the comma dead key and AltGr
    EXPECT_EQ(typed({"Comma", "Shift+s", "AltGr+j", "p", "Comma", "Shift+n"}), u"\u0283\u026Ap\u014B");
    // the h dead key before a letter of its own group, and with Shift giving H
    EXPECT_EQ(typed({"h", "t", "Shift+h", "i"}), u"\uF18FHi");
}

TEST(DeadKeys, TheKeysOfOneGroupComposeAsDocumentedForUsers) {
    EXPECT_EQ(typed({"OEM_3", "a", "OEM_3", "s", "OEM_3", "Shift+s"}), u"\u0103\u015B\u015A");       // breve, acute
    EXPECT_EQ(typed({"Shift+6", "c", "Shift+6", "d", "Shift+6", "e"}), u"\u010D\u1E13\u00EA");        // caron, circumflex below
    EXPECT_EQ(typed({"Shift+OEM_3", "OEM_4", "Shift+OEM_3", "OEM_PLUS"}), u"\uE039\uF163");       // tilde on æ, on U+F173
    EXPECT_EQ(typed({"OEM_3", "OEM_2", "OEM_3", "Shift+Period"}), u"\uF182\uF186");                 // acute on ə, on Ɯ
    EXPECT_EQ(typed({"Shift+5", "z", "Shift+8", "z"}), u"\u017C\u017C");                          // two roads to ż
}

TEST(DeadKeys, ABaseWithNoRowGivesBothAndNothingStaysPending) {
    EXPECT_EQ(typed({"h", "h"}), u"hh");
    EXPECT_EQ(typed({"Shift+2", "b", "a"}), u"=ba");
    EXPECT_EQ(typed({"OEM_3", "OEM_3"}), u"\u00B4\u00B4");
    EXPECT_EQ(typed({"Comma", "Period", "n"}), u",.n");

    Session s(layout());
    for (const char* c : {"Shift+4", "Shift"}) type(s, layout(), parseChord(c));
    EXPECT_EQ(s.pendingDead(), uint16_t{0xAF});  // a modifier alone leaves it pending
    type(s, layout(), parseChord("Shift+2"));
    EXPECT_FALSE(s.pendingDead());
}

TEST(DeadKeys, EveryCompositionIsReachableFromTheKeyboard) {
    // Each base of each group is a character some key gives in some state, so
    // no row of the list is dead weight; the first row for a pair decides.
    std::set<uint16_t> typeable;
    for (const auto& t : layout().charTables)
        for (const auto& r : t.rows)
            if (r.vk != def::VK_NONE)
                for (uint8_t m : {0, 1, 6, 7})
                    if (auto k = charFor(layout(), r.vk, m, false); k.kind != KeyChar::Kind::None) typeable.insert(k.ch);
    std::set<uint32_t> pairs;
    for (const auto& d : layout().deadKeys) {
        EXPECT_TRUE(typeable.count(d.base)) << std::hex << d.dead << " " << d.base;
        EXPECT_TRUE(pairs.insert(uint32_t(d.dead) << 16 | d.base).second) << "unreachable row " << std::hex << d.base;
        EXPECT_EQ(d.flags, 0);
    }
    EXPECT_EQ(layout().deadKeys.size(), 201u);
}

TEST(Names, KeysByScanCode) {
    EXPECT_EQ(name(0x7C, false), "F13");
    EXPECT_EQ(name(0x87, false), "F24");
    for (uint8_t sc = 0x7C; sc <= 0x87; ++sc) EXPECT_EQ(name(sc, false), "F" + std::to_string(13 + sc - 0x7C));
    EXPECT_EQ(name(0x54, false), "Sys Req");
    EXPECT_EQ(name(0x54, true), "<00>");
    EXPECT_EQ(name(0x56, true), "Help");
    EXPECT_FALSE(entry(Prefix::E0, 0x54));
    EXPECT_FALSE(entry(Prefix::E0, 0x56));
    EXPECT_EQ(name(0x1C, false), "Enter");
    EXPECT_EQ(name(0x1C, true), "Num Enter");
    EXPECT_EQ(name(0x38, true), "Right Alt");
    // Character keys of the main block have no name: the platform names them
    // by their character.
    for (unsigned sc = 0x02; sc <= 0x35; ++sc)
        if (sc != 0x0E && sc != 0x0F && sc != 0x1C && sc != 0x1D && sc != 0x2A) {
            EXPECT_EQ(name(uint8_t(sc), false), "<none>") << std::hex << sc;
        }
    EXPECT_EQ(name(0x56, false), "<none>");
}

TEST(Names, EachDeadCharacterHasExactlyOneName) {
    const std::vector<uint16_t> dead = kbdtest::deadCharsOfTables();
    ASSERT_EQ(layout().deadKeyNames.size(), dead.size());
    for (size_t i = 0; i < dead.size(); ++i) {
        EXPECT_EQ(layout().deadKeyNames[i][0], dead[i]) << i;  // same order as the keys
        const auto n = deadKeyName(layout(), dead[i]);
        ASSERT_TRUE(n);
        EXPECT_FALSE(n->empty());
    }
    EXPECT_EQ(utf8(*deadKeyName(layout(), u'h')), "LATIN SMALL LETTER H");
    EXPECT_EQ(utf8(layout().deadKeyNames[0]), "=EQUALS SIGN");
    // The composition groups stand in the same order as the names.
    std::vector<uint16_t> groups;
    for (const auto& d : layout().deadKeys)
        if (groups.empty() || groups.back() != d.dead) groups.push_back(d.dead);
    EXPECT_EQ(groups, dead);
}

TEST(Chords, MalformedChordsAreRefusedWithTheirPart) {
    for (const auto& [chord, want] : std::vector<std::pair<std::string, std::string>>{
             {"Shift+", "empty key name"},
             {"+q", "empty key name"},
             {"sc:100", "one to two hex digits"},
             {"sc:", "one to two hex digits"},
             {"e2:10", "sc:XX, e0:XX or e1:XX"},
             {"Hyper+q", "unknown key 'Hyper'"},
         }) {
        try {
            parseChord(chord);
            ADD_FAILURE() << chord;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(want), std::string::npos) << chord << ": " << e.what();
        }
    }
    // Held keys in any order and any case select the same column.
    EXPECT_EQ(kbdtest::typed({"shift+altgr+q"}), kbdtest::typed({"AltGr+Shift+Q"}));
    EXPECT_EQ(kbdtest::typed({"VK_OEM_3", "a"}), kbdtest::typed({"oem_3", "sc:1e"}));
}

TEST(Session, DeadKeysLocksAndModifiersKeepTheirStateAcrossPresses) {
    Session s(kbdtest::layout());
    const auto press = [&](const char* chord) { return type(s, kbdtest::layout(), parseChord(chord)).result; };
    EXPECT_TRUE(s.numLock());
    EXPECT_FALSE(s.capsLock());
    EXPECT_EQ(press("Shift+4").out, u"");
    EXPECT_EQ(press("Ctrl+q").out, u"");  // gives nothing: the dead key waits on
    EXPECT_EQ(s.pendingDead(), uint16_t{0xAF});
    EXPECT_EQ(press("CapsLock").out, u"");
    EXPECT_EQ(press("a").out, u"\u0100");  // Caps Lock capitalises the base, then the macron composes
    EXPECT_FALSE(s.pendingDead());
    EXPECT_EQ(press("NumLock").out, u"");
    EXPECT_FALSE(s.numLock());
    EXPECT_EQ(press("sc:47").out, u"");  // Home, not 7
    EXPECT_EQ(press("Shift+sc:47").out, u"");
    EXPECT_EQ(press("NumLock").out, u"");
    EXPECT_EQ(press("sc:47").out, u"7");
}
