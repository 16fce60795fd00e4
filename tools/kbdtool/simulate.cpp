#include "simulate.h"

#include "format.h"

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
        if (down[m.vk]) mask |= m.bits;
    return mask;
}

std::optional<unsigned> columnFor(const Layout& layout, uint8_t mask) {
    if (mask > layout.maxModBits || mask >= layout.modNumber.size()) return std::nullopt;
    const uint8_t col = layout.modNumber[mask];
    if (col == def::SHFT_INVALID) return std::nullopt;
    return col;
}

KeyChar charFor(const Layout& layout, uint8_t vk, uint8_t mask, bool capsLock) {
    if (vk == 0 || vk == def::VK_NONE) return {};
    for (const auto& table : layout.charTables) {
        for (size_t i = 0; i < table.rows.size(); ++i) {
            const CharRow& row = table.rows[i];
            if (row.vk != vk) continue;
            // Caps Lock acts as Shift on the rows that ask for it: CAPLOCK
            // while neither Ctrl nor Alt is held, CAPLOKALTGR under AltGr.
            uint8_t m = mask;
            const uint8_t ctrlAlt = mask & (def::KBDCTRL | def::KBDALT);
            if (capsLock && (row.attributes & def::CAPLOCK) && ctrlAlt == 0) m ^= def::KBDSHIFT;
            if (capsLock && (row.attributes & def::CAPLOKALTGR) && ctrlAlt == (def::KBDCTRL | def::KBDALT))
                m ^= def::KBDSHIFT;
            const auto col = columnFor(layout, m);
            if (!col || *col >= row.cells.size()) return {};
            const uint16_t cell = row.cells[*col];
            if (cell == def::WCH_NONE) return {};
            if (cell == def::WCH_DEAD) {
                // The dead character stands in the same column of the next row.
                if (i + 1 >= table.rows.size() || table.rows[i + 1].vk != def::VK_NONE) return {};
                const uint16_t d = table.rows[i + 1].cells[*col];
                if (d == def::WCH_NONE) return {};
                return {KeyChar::Kind::Dead, d};
            }
            return {KeyChar::Kind::Char, cell};
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

Session::Result Session::press(uint8_t vk, const KeyState& held) {
    Result r;
    r.vk = vk;
    if (vk == vk::CAPITAL) capsLock_ = !capsLock_;
    if (vk == vk::NUMLOCK) numLock_ = !numLock_;
    if (isModifierKey(vk)) return r;

    r.key = charFor(layout_, vk, modifierMask(layout_, held), capsLock_);
    if (r.key.kind == KeyChar::Kind::None) return r;  // a pending dead key waits on

    if (!pending_) {
        if (r.key.kind == KeyChar::Kind::Dead)
            pending_ = r.key.ch;
        else
            r.out.push_back(static_cast<char16_t>(r.key.ch));
        return r;
    }
    // After a dead key, the next character, or the next dead key's own dead
    // character, is looked up with it; a match replaces both.
    const uint16_t dead = *pending_;
    pending_.reset();
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
