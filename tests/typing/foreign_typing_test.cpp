// Typing through the test layouts: the parts of the format our own layout
// does not use, each as the platform applies it.
#include <gtest/gtest.h>

#include "support/fixture.h"
#include "support/foreign.h"

using kbdtest::typedOn;

TEST(ForeignTyping, SgcapsRowsGiveTheCapsLockCharactersOfBaseAndShift) {
    EXPECT_EQ(typedOn("sgcaps", {"sc:1a", "Shift+sc:1a"}), u"üè");
    EXPECT_EQ(typedOn("sgcaps", {"sc:1a", "Shift+sc:1a", "sc:28"}, true), u"ÜÈÄ");
    // AltGr is not Base or Shift: Caps Lock leaves it to the key's own row.
    EXPECT_EQ(typedOn("sgcaps", {"AltGr+sc:1a"}, true), u"[");
    // CAPLOCK rows of the same layout still swap as before.
    EXPECT_EQ(typedOn("sgcaps", {"q", "Shift+q"}, true), u"Qq");
}

TEST(ForeignTyping, DeadCharactersComeFromTheNextRowWhateverItsKey) {
    // The key's SGCAPS row carries its own virtual key, not 0xFF, and holds
    // the dead characters; under Caps Lock the same cells are plain text.
    EXPECT_EQ(typedOn("sgcaps", {"sc:0d", "a", "Shift+sc:0d", "e", "sc:0d", "Space"}), u"âè^");
    EXPECT_EQ(typedOn("sgcaps", {"sc:0d", "Shift+sc:0d"}, true), u"^`");
}

TEST(ForeignTyping, LigaturesGiveEveryCharacterOfTheirRow) {
    EXPECT_EQ(typedOn("ligature2", {"b", "Shift+b", "Shift+g"}), u"لالآلأ");
    EXPECT_EQ(typedOn("ligature2", {"Shift+y"}), u"إ");  // stops at the first WCH_NONE
    EXPECT_EQ(typedOn("ligature4", {"AltGr+r"}), u"श्री");  // all four slots
    EXPECT_EQ(typedOn("ligature4", {"AltGr+sc:29", "sc:29"}), u"🙏्र");  // a surrogate pair; Base column
    // Caps Lock picks the column first; the ligature is the Shift column's.
    EXPECT_EQ(typedOn("ligature4", {"x", "Shift+x"}, true), u"क्षष");
}

TEST(ForeignTyping, ChainedDeadKeysWaitForTheNextKey) {
    EXPECT_EQ(typedOn("deadchain", {"sc:27", "sc:27", "o", "sc:27", "sc:27", "Shift+u"}), u"őŰ");
    EXPECT_EQ(typedOn("deadchain", {"sc:27", "sc:27", "Space"}), u"˝");
    EXPECT_EQ(typedOn("deadchain", {"sc:27", "a", "Shift+sc:27", "o"}), u"áö");
    // Two dead keys that do not compose give both dead characters.
    EXPECT_EQ(typedOn("deadchain", {"Shift+sc:27", "sc:27"}), u"¨´");
}

TEST(ForeignTyping, TheKanaLockSwitchesTheKanalokRows) {
    // The Caps Lock key sends VK_KANA: held or pressed, it toggles the lock.
    EXPECT_EQ(typedOn("kana", {"sc:3a+sc:10", "sc:10", "Shift+sc:11", "sc:3a", "sc:10"}), u"ййЦq");
    EXPECT_EQ(typedOn("kana", {"Kana", "sc:28", "sc:1a"}), u"'х");  // no KANALOK on the ' key
    EXPECT_EQ(typedOn("kana", {"Kana", "Ctrl+q", "Ctrl+1"}), u"");  // Ctrl+Kana selects no column
    EXPECT_EQ(typedOn("kana", {"Kana", "q", "Shift+q"}, true), u"Йй");
    // A layout without a Kana key has no Kana state, and only the usual
    // modifiers can be held.
    EXPECT_THROW(kbd::typeText(kbdtest::layout(), {"sc:3a+q"}), kbd::Error);
}

TEST(ForeignTyping, ColumnsFollowTheLayoutsOwnModifierRecord) {
    EXPECT_EQ(typedOn("columns", {"a", "Shift+a", "AltGr+a", "Shift+AltGr+a", "OEM_8+a", "sc:56+s"}), u"aAæÆασ");
    EXPECT_EQ(typedOn("columns", {"Ctrl+a", "Ctrl+Shift+OEM_MINUS", "Shift+OEM_8+a"}), u"\x01\x1F");
    // Rows stored 8 bytes apart with two columns read right.
    EXPECT_EQ(typedOn("columns", {"Space", "Shift+Back", "Enter"}), u" \b\r");
}

TEST(ForeignTyping, ShiftLockIsReleasedByShift) {
    EXPECT_EQ(typedOn("shiftlock", {"CapsLock", "sc:02", "a", "CapsLock", "sc:03"}), u"1A2");
    EXPECT_EQ(typedOn("shiftlock", {"CapsLock", "Shift+sc:02", "sc:02", "a"}), u"1&a");
    EXPECT_EQ(typedOn("shiftlock", {"CapsLock", "Shift", "a"}), u"a");
    // Without the flag Shift inverts Caps Lock and leaves it on.
    EXPECT_EQ(kbdtest::typed({"CapsLock", "Shift+q", "q"}), u"qQ");
}

TEST(ForeignTyping, LeftAndRightMarksOnShiftBackspace) {
    EXPECT_EQ(typedOn("ligature2", {"Shift+Back", "RShift+Back", "Back", "Ctrl+Back"}), u"\u200E\u200F\b\x7F");
    // Our layout does not ask for them.
    EXPECT_EQ(kbdtest::typed({"Shift+Back"}), u"\b");
}

TEST(ForeignTyping, KeysByPositionAreWhereverTheLayoutPutsThem) {
    // On AZERTY the key right of Tab is A, and VK_Q is where US has A.
    EXPECT_EQ(typedOn("shiftlock", {"pos:D01", "q", "pos:C01", "pos:c10", "pos:B01"}), u"aqqmw");
    EXPECT_EQ(kbdtest::typed({"pos:D01", "Shift+pos:E02", "pos:A03"}), u"q=");  // dead = then space
    EXPECT_EQ(kbd::positionScanCode("E00"), 0x29);
    EXPECT_EQ(kbd::positionScanCode("B00"), 0x56);
    for (const char* bad : {"D13", "D00", "C1", "X01", "A01", ""}) EXPECT_FALSE(kbd::positionScanCode(bad)) << bad;
    EXPECT_THROW(kbd::parseChord("pos:Z9"), kbd::Error);
}
