#include "kbd/typing/simulator.h"

#include "kbd/model/layout_format.h"

namespace kbd {

bool isModifierKey(uint8_t vk) {
    using namespace vk;
    switch (vk) {
    case SHIFT: case CONTROL: case MENU:
    case LSHIFT: case RSHIFT: case LCONTROL: case RCONTROL: case LMENU: case RMENU:
        return true;
    default:
        return false;
    }
}

uint8_t modifierMask(const Layout& layout, const KeyState& held) {
    using namespace vk;
    KeyState down = held;
    if (held[LSHIFT] || held[RSHIFT]) down.set(SHIFT);
    if (held[LCONTROL] || held[RCONTROL]) down.set(CONTROL);
    if (held[LMENU] || held[RMENU]) down.set(MENU);
    if ((layout.localeFlags & def::KLLF_ALTGR) && held[RMENU]) down.set(CONTROL).set(LCONTROL);
    uint8_t mask = 0;
    for (const auto& m : layout.modifierBits)
        if (m.vk != KANA && down[m.vk]) mask |= m.bits;
    return mask;
}

uint8_t kanaBits(const Layout& layout) {
    uint8_t bits = 0;
    for (const auto& m : layout.modifierBits)
        if (m.vk == vk::KANA) bits |= m.bits;
    return bits;
}

bool isHoldable(const Layout& layout, uint8_t key) {
    if (isModifierKey(key)) return true;
    for (const auto& m : layout.modifierBits)
        if (m.vk == key) return true;
    return false;
}

std::optional<unsigned> columnFor(const Layout& layout, uint8_t mask) {
    if (mask > layout.maxModBits || mask >= layout.modNumber.size()) return std::nullopt;
    const uint8_t col = layout.modNumber[mask];
    if (col == def::SHFT_INVALID) return std::nullopt;
    return col;
}

const Ligature* ligatureFor(const Layout& layout, uint8_t key, unsigned column) {
    for (const auto& g : layout.ligatures)
        if (g.vk == key && g.column == column) return &g;
    return nullptr;
}

std::u16string KeyChar::text() const {
    switch (kind) {
    case Kind::Char:     return std::u16string(1, static_cast<char16_t>(ch));
    case Kind::Ligature: return chars;
    default:             return {};
    }
}

KeyChar charFor(const Layout& layout, uint8_t key, uint8_t mask, Locks locks) {
    if (key == 0 || key == def::VK_NONE) return {};
    for (const auto& table : layout.charTables) {
        for (size_t i = 0; i < table.rows.size(); ++i) {
            const CharRow& row = table.rows[i];
            if (row.vk != key) continue;
            // The Kana lock acts only on rows that ask for it (KANALOK).
            uint8_t m = mask;
            if (locks.kana && (row.attributes & def::KANALOK)) m |= kanaBits(layout);
            // Caps Lock acts as Shift on the rows that ask for it: CAPLOCK
            // while neither Ctrl nor Alt is held, CAPLOKALTGR under AltGr. An
            // SGCAPS row instead takes Base and Shift from the row after it.
            size_t at = i;
            const uint8_t ctrlAlt = m & (def::KBDCTRL | def::KBDALT);
            if (locks.caps && ctrlAlt == 0 && (row.attributes & def::SGCAPS)) {
                if (i + 1 >= table.rows.size()) return {};
                at = i + 1;
            } else if (locks.caps && (row.attributes & def::CAPLOCK) && ctrlAlt == 0) {
                m ^= def::KBDSHIFT;
            }
            if (locks.caps && (row.attributes & def::CAPLOKALTGR) && ctrlAlt == (def::KBDCTRL | def::KBDALT))
                m ^= def::KBDSHIFT;
            const auto col = columnFor(layout, m);
            if (!col || *col >= table.rows[at].cells.size()) return {};
            const uint16_t cell = table.rows[at].cells[*col];
            if (cell == def::WCH_NONE) return {};
            if (cell == def::WCH_DEAD) {
                // The dead character stands in the same column of the next
                // row, whatever that row's key code (0xFF as a rule, but an
                // SGCAPS row may double as it).
                if (at + 1 >= table.rows.size()) return {};
                const uint16_t d = table.rows[at + 1].cells[*col];
                if (d == def::WCH_NONE || d == def::WCH_DEAD || d == def::WCH_LGTR) return {};
                return {KeyChar::Kind::Dead, d, {}};
            }
            if (cell == def::WCH_LGTR) {
                // The ligature table gives the characters by key and column;
                // they run up to the first WCH_NONE or nLgMax.
                const Ligature* g = ligatureFor(layout, key, *col);
                if (!g) return {};
                std::u16string chars;
                for (uint16_t c : g->chars) {
                    if (c == def::WCH_NONE) break;
                    chars.push_back(static_cast<char16_t>(c));
                }
                if (chars.empty()) return {};
                return {KeyChar::Kind::Ligature, 0, chars};
            }
            return {KeyChar::Kind::Char, cell, {}};
        }
    }
    return {};
}

std::optional<DeadKey> compose(const Layout& layout, uint16_t dead, uint16_t base) {
    for (const auto& d : layout.deadKeys)
        if (d.dead == dead && d.base == base) return d;
    return std::nullopt;
}

std::optional<uint16_t> scanEntry(const Layout& layout, ScanCode sc) {
    if (sc.prefix == Prefix::None) {
        if (sc.code >= layout.scanCodes.size()) return std::nullopt;
        return layout.scanCodes[sc.code];
    }
    const auto& list = sc.prefix == Prefix::E0 ? layout.scanCodesE0 : layout.scanCodesE1;
    for (const auto& row : list)
        if (row.scanCode == sc.code) return row.entry;
    return std::nullopt;
}

uint8_t virtualKey(uint16_t entry, bool numLock, bool shiftHeld) {
    using namespace vk;
    const uint8_t key = entry & 0xFF;
    if (!(entry & def::KBDNUMPAD) || !numLock || shiftHeld) return key;
    switch (key) {
    case INSERT: return NUMPAD0;
    case END:    return NUMPAD1;
    case DOWN:   return NUMPAD2;
    case NEXT:   return NUMPAD3;
    case LEFT:   return NUMPAD4;
    case CLEAR:  return NUMPAD5;
    case RIGHT:  return NUMPAD6;
    case HOME:   return NUMPAD7;
    case UP:     return NUMPAD8;
    case PRIOR:  return NUMPAD9;
    case DELETE: return DECIMAL;
    default:     return key;
    }
}

std::optional<std::u16string> keyName(const Layout& layout, uint8_t scanCode, bool extended) {
    for (const auto& n : extended ? layout.keyNamesExt : layout.keyNames)
        if (n.scanCode == scanCode) return n.name;
    return std::nullopt;
}

std::optional<std::u16string> deadKeyName(const Layout& layout, uint16_t dead) {
    for (const auto& n : layout.deadKeyNames)
        if (!n.empty() && n[0] == dead) return n.substr(1);
    return std::nullopt;
}

Session::Result Session::press(uint8_t key, const KeyState& held) {
    Result r;
    r.vk = key;
    const bool shiftLock = layout_.localeFlags & def::KLLF_SHIFTLOCK;
    const bool shiftDown = held[vk::SHIFT] || held[vk::LSHIFT] || held[vk::RSHIFT];
    // Under Shift Lock a Shift key going down turns Caps Lock off, and the
    // Caps Lock key only turns it on.
    if (shiftLock && (shiftDown || key == vk::SHIFT || key == vk::LSHIFT || key == vk::RSHIFT)) locks_.caps = false;
    if (key == vk::CAPITAL) locks_.caps = shiftLock || !locks_.caps;
    if (key == vk::NUMLOCK) numLock_ = !numLock_;
    // The Kana key is a lock: it toggles as it goes down, pressed alone or
    // held for the next key. Only a layout that lists it in its modifier
    // record has a Kana state.
    const bool hasKana = kanaBits(layout_) != 0;
    if (hasKana && (key == vk::KANA || held[vk::KANA])) locks_.kana = !locks_.kana;
    if (isModifierKey(key) || key == vk::KANA) return r;

    const uint8_t mask = modifierMask(layout_, held);
    // Left-to-right and right-to-left marks on left and right Shift with
    // Backspace, for the layouts that ask for them (KLLF_LRM_RLM).
    if ((layout_.localeFlags & def::KLLF_LRM_RLM) && key == vk::BACK && mask == def::KBDSHIFT &&
        held[vk::LSHIFT] != held[vk::RSHIFT]) {
        const uint16_t mark = held[vk::LSHIFT] ? 0x200E : 0x200F;
        r.key = {KeyChar::Kind::Char, mark, {}};
    } else {
        r.key = charFor(layout_, key, mask, locks_);
    }
    if (r.key.kind == KeyChar::Kind::None) return r;  // a pending dead key waits on

    if (!pending_) {
        if (r.key.kind == KeyChar::Kind::Dead)
            pending_ = r.key.ch;
        else
            r.out = r.key.text();
        return r;
    }
    const uint16_t dead = *pending_;
    pending_.reset();
    // A ligature after a dead key composes with nothing: the dead character
    // comes out, then the ligature. (The platform documents no rule here;
    // this is the least that keeps both visible.)
    if (r.key.kind == KeyChar::Kind::Ligature) {
        r.out.push_back(static_cast<char16_t>(dead));
        r.out += r.key.chars;
        return r;
    }
    // After a dead key, the next character, or the next dead key's own dead
    // character, is looked up with it; a match replaces both. A match flagged
    // DKF_DEAD gives a new dead key instead of a character.
    if (const auto c = compose(layout_, dead, r.key.ch)) {
        r.composed = true;
        if (c->flags & def::DKF_DEAD)
            pending_ = c->composed;
        else
            r.out.push_back(static_cast<char16_t>(c->composed));
        return r;
    }
    r.out.push_back(static_cast<char16_t>(dead));
    r.out.push_back(static_cast<char16_t>(r.key.ch));
    return r;
}

Session::Result Session::press(ScanCode sc, const KeyState& held) {
    const auto entry = scanEntry(layout_, sc);
    if (!entry) {
        Result r;
        r.vk = def::VK_NONE;
        return r;
    }
    const bool shift = held[vk::LSHIFT] || held[vk::RSHIFT] || held[vk::SHIFT];
    return press(virtualKey(*entry, numLock_, shift), held);
}

}  // namespace kbd
