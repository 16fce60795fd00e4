// Typing through the real image: modifiers, Caps Lock, AltGr, Ctrl and the
// cells that give nothing.
#include <gtest/gtest.h>

#include "support/fixture.h"
#include "kbd/model/layout_format.h"

using namespace kbd;
using kbdtest::layout;
using kbdtest::typed;

namespace {

constexpr uint8_t SHIFT = def::KBDSHIFT, CTRL = def::KBDCTRL, ALT = def::KBDALT;
constexpr uint8_t ALTGR = CTRL | ALT;

KeyChar ch(uint16_t c) { return {KeyChar::Kind::Char, c, {}}; }
KeyChar dead(uint16_t c) { return {KeyChar::Kind::Dead, c, {}}; }
const KeyChar none{};

KeyChar key(uint8_t v, uint8_t mask, bool caps = false) { return kbd::charFor(layout(), v, mask, caps); }

}  // namespace

TEST(Modifiers, MasksSelectColumns) {
    const auto& L = layout();
    EXPECT_EQ(kbd::columnFor(L, 0), 0u);
    EXPECT_EQ(kbd::columnFor(L, SHIFT), 1u);
    EXPECT_EQ(kbd::columnFor(L, CTRL), 2u);
    EXPECT_EQ(kbd::columnFor(L, ALTGR), 3u);
    EXPECT_EQ(kbd::columnFor(L, SHIFT | ALTGR), 4u);
    for (uint8_t m : {uint8_t(SHIFT | CTRL), ALT, uint8_t(SHIFT | ALT), uint8_t(8), uint8_t(0xFF)})
        EXPECT_FALSE(kbd::columnFor(L, m)) << "mask " << int(m);
}

TEST(Modifiers, RightAltIsAltGrAndLeftAltIsAlt) {
    const auto& L = layout();
    kbd::KeyState held;
    held.set(vk::RMENU);
    EXPECT_EQ(kbd::modifierMask(L, held), ALTGR);
    held.set(vk::RSHIFT);
    EXPECT_EQ(kbd::modifierMask(L, held), SHIFT | ALTGR);
    kbd::KeyState left;
    left.set(vk::LMENU);
    EXPECT_EQ(kbd::modifierMask(L, left), ALT);
    EXPECT_EQ(typed({"LAlt+q"}), u"");
    EXPECT_EQ(typed({"Ctrl+Alt+q"}), u"\u00E4");
    EXPECT_EQ(typed({"AltGr+q"}), u"\u00E4");
    EXPECT_EQ(typed({"RShift+AltGr+q"}), u"\u00C4");
}

TEST(Modifiers, ShiftCtrlAltAndShiftAltGiveNothingFromAnyKey) {
    for (const auto& t : layout().charTables)
        for (const auto& r : t.rows) {
            if (r.vk == def::VK_NONE) continue;
            for (uint8_t m : {uint8_t(SHIFT | CTRL), ALT, uint8_t(SHIFT | ALT)})
                EXPECT_EQ(key(r.vk, m), none) << kbd::vkName(r.vk) << " mask " << int(m);
        }
}

TEST(CapsLock, LettersSwapBaseShiftAndAltGrColumnsWhereMarked) {
    EXPECT_EQ(typed({"CapsLock", "q"}), u"Q");
    EXPECT_EQ(typed({"CapsLock", "Shift+q"}), u"q");
    EXPECT_EQ(typed({"CapsLock", "AltGr+q"}), u"\u00C4");
    EXPECT_EQ(typed({"CapsLock", "Shift+AltGr+q"}), u"\u00E4");
    EXPECT_EQ(typed({"CapsLock", "r"}), u"R");
    EXPECT_EQ(typed({"CapsLock", "AltGr+r"}), u"\u00AE");  // R has no CAPLOKALTGR
    EXPECT_EQ(typed({"CapsLock", "CapsLock", "q"}), u"q");
}

TEST(CapsLock, MovesTheDeadHBetweenColumns) {
    EXPECT_EQ(key('H', 0), dead(u'h'));
    EXPECT_EQ(key('H', SHIFT), ch(u'H'));
    EXPECT_EQ(key('H', 0, true), ch(u'H'));
    EXPECT_EQ(key('H', SHIFT, true), dead(u'h'));
}

TEST(CapsLock, LeavesTheCommaKeyDeadButActsOnItsAltGrColumns) {
    EXPECT_EQ(key(vk::OEM_COMMA, 0, true), dead(u','));
    EXPECT_EQ(key(vk::OEM_COMMA, SHIFT, true), ch(0x026F));
    EXPECT_EQ(key(vk::OEM_COMMA, ALTGR, true), ch(0x00C7));
    EXPECT_EQ(key(vk::OEM_COMMA, ALTGR, false), ch(0x00E7));
}

TEST(CapsLock, DoesNotActUnderCtrl) {
    EXPECT_EQ(key(vk::BACK, CTRL, true), ch(0x007F));
    EXPECT_EQ(key('Q', CTRL, true), none);
}

TEST(Ctrl, OnlyControlKeysAndSpaceGiveCharacters) {
    std::u16string got;
    for (const auto& t : layout().charTables)
        for (const auto& r : t.rows)
            if (r.vk != def::VK_NONE)
                if (const auto k = key(r.vk, CTRL); k.kind != KeyChar::Kind::None) got.push_back(k.ch);
    EXPECT_EQ(got, (std::u16string{0x7F, 0x1B, 0x0A, 0x03, 0x20}));
    EXPECT_EQ(typed({"Ctrl+Back"}), u"\x7F");
    EXPECT_EQ(typed({"Ctrl+Enter"}), u"\n");
    EXPECT_EQ(typed({"Ctrl+Tab"}), u"");       // two-column table
    EXPECT_EQ(typed({"Ctrl+Num5"}), u"");      // one-column table
}

TEST(AltGr, ShiftAltGrGapsAndAltGrGaps) {
    for (uint8_t v : {uint8_t('7'), uint8_t('8'), uint8_t('9'), uint8_t('0'), uint8_t(vk::OEM_MINUS)})
        EXPECT_EQ(key(v, SHIFT | ALTGR), none) << kbd::vkName(v);
    for (uint8_t v : {uint8_t(vk::SPACE), uint8_t(vk::OEM_102), uint8_t(vk::DECIMAL)}) EXPECT_EQ(key(v, ALTGR), none) << kbd::vkName(v);
    EXPECT_EQ(typed({"AltGr+k"}), u"+");
    EXPECT_EQ(typed({"AltGr+1", "Shift+AltGr+2", "AltGr+b"}), u"@\u028C/");
}

TEST(Keys, PrivateUseAndKeypadCharacters) {
    EXPECT_EQ(key(vk::OEM_PLUS, 0), ch(0xF173));
    EXPECT_EQ(key(vk::OEM_PLUS, SHIFT), ch(0xF174));
    EXPECT_EQ(key(vk::DECIMAL, 0), ch(u'.'));
    EXPECT_EQ(key(vk::DECIMAL, SHIFT), ch(u'.'));
    for (uint8_t d = 0; d < 10; ++d) {
        EXPECT_EQ(key(vk::NUMPAD0 + d, 0), ch(u'0' + d));
        EXPECT_EQ(key(vk::NUMPAD0 + d, SHIFT), none);
        EXPECT_EQ(key(vk::NUMPAD0 + d, CTRL), none);
    }
    EXPECT_EQ(typed({"Add", "Shift+Multiply", "Divide", "Subtract", "Tab"}), u"+*/-\t");
}

TEST(Keys, UnknownKeysGiveNothing) {
    EXPECT_EQ(key(vk::F1, 0), none);
    EXPECT_EQ(key(def::VK_NONE, 0), none);  // dead rows are never looked up
    EXPECT_EQ(key(0, 0), none);
}
