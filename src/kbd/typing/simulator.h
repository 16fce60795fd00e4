// Typing through a decoded layout, following the tables as the Windows input
// subsystem reads them. Only as much of the platform is modelled as the
// tables need: modifier tracking with AltGr as right Alt, the Caps Lock, Kana
// and Num Lock states, Shift Lock, the scan-code maps, the character tables
// with their SGCAPS rows and ligatures, and dead-key composition with
// chained dead keys.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>

#include "kbd/model/layout.h"
#include "kbd/model/scan_code.h"

namespace kbd {

// What one virtual key gives in one state, before any dead-key composition.
struct KeyChar {
    enum class Kind { None, Char, Dead, Ligature };
    Kind           kind = Kind::None;
    uint16_t       ch = 0;  // the character, or the dead character of a dead key
    std::u16string chars;   // a ligature's characters (Kind::Ligature only)
    bool operator==(const KeyChar&) const = default;

    // What the key types when no dead key waits.
    std::u16string text() const;
};

// The lock states that change what a key gives.
struct Locks {
    bool caps = false;
    bool kana = false;
};

// Held modifier keys, by virtual key (VK_LSHIFT, VK_RMENU, ...).
using KeyState = std::bitset<256>;

// The modifier mask for the held keys: left and right keys count as the
// generic key, and under KLLF_ALTGR right Alt counts as Ctrl+Alt. Every key
// the modifier record lists counts while held, except VK_KANA, which is a
// lock (see kanaBits).
uint8_t modifierMask(const Layout& layout, const KeyState& held);

// The bits the Kana lock adds on rows with KANALOK: those the modifier
// record gives VK_KANA (none when it lists no Kana key).
uint8_t kanaBits(const Layout& layout);

// True for a key of the layout's modifier record or a Shift, Ctrl or Alt key.
bool isHoldable(const Layout& layout, uint8_t vk);

// The column a mask selects, or none (mask beyond wMaxModBits, SHFT_INVALID).
std::optional<unsigned> columnFor(const Layout& layout, uint8_t mask);

// The character a virtual key gives with a modifier mask and the locks.
KeyChar charFor(const Layout& layout, uint8_t vk, uint8_t mask, Locks locks);
inline KeyChar charFor(const Layout& layout, uint8_t vk, uint8_t mask, bool capsLock) {
    return charFor(layout, vk, mask, Locks{capsLock, false});
}

// The ligature of a key in a column, if the table has one.
const Ligature* ligatureFor(const Layout& layout, uint8_t vk, unsigned column);

// The first composition of base after the dead character dead, if any.
std::optional<DeadKey> compose(const Layout& layout, uint16_t dead, uint16_t base);

// The 16-bit scan-code entry (virtual key and KBD* flags) of a scan code, or
// none when the code lies outside the plain table or has no row in its list.
std::optional<uint16_t> scanEntry(const Layout& layout, ScanCode sc);

// The virtual key of a scan-code entry once Num Lock is applied to keypad
// keys. Of the platform's rule only this much is modelled: a KBDNUMPAD key
// gives its digit key (VK_NUMPAD0..9, VK_DECIMAL) with Num Lock on and Shift
// up, and its navigation key otherwise.
uint8_t virtualKey(uint16_t entry, bool numLock, bool shiftHeld);

// The display name of a key by scan code; extended chooses the E0 list.
std::optional<std::u16string> keyName(const Layout& layout, uint8_t scanCode, bool extended);

// The name of a dead key by its dead character (without the leading character).
std::optional<std::u16string> deadKeyName(const Layout& layout, uint16_t dead);

// A typing session: lock states, a pending dead key, and what comes out.
class Session {
public:
    explicit Session(const Layout& layout) : layout_(layout) {}

    const Layout& layout() const { return layout_; }
    bool capsLock() const { return locks_.caps; }
    bool kanaLock() const { return locks_.kana; }
    bool numLock() const { return numLock_; }
    void setCapsLock(bool on) { locks_.caps = on; }
    void setKanaLock(bool on) { locks_.kana = on; }
    void setNumLock(bool on) { numLock_ = on; }
    std::optional<uint16_t> pendingDead() const { return pending_; }

    // What one key press gives.
    struct Result {
        uint8_t        vk = 0;        // the virtual key pressed (0xFF: no key)
        KeyChar        key;           // the key's own character in this state
        std::u16string out;           // characters emitted by this press
        bool           composed = false;  // out came from a composition
    };

    // Presses (and releases) a virtual key while the given modifiers are held.
    // Lock keys toggle their lock (VK_KANA among the held keys toggles it as
    // it goes down); modifier keys give nothing. Under KLLF_SHIFTLOCK Caps
    // Lock only turns Caps on, and a Shift key going down turns it off.
    Result press(uint8_t vk, const KeyState& held);
    // The same from a scan code, through the scan-code maps.
    Result press(ScanCode sc, const KeyState& held);

private:
    const Layout&           layout_;
    Locks                   locks_;
    bool                    numLock_ = true;
    std::optional<uint16_t> pending_;
};

// True for the virtual keys that are modifiers (Shift, Ctrl, Alt, generic
// or left/right).
bool isModifierKey(uint8_t vk);

}  // namespace kbd
