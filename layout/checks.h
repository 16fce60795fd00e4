// Compile-time checks of table invariants that the input subsystem relies on
// but never verifies: a missing terminator or an unpaired dead-key row is read
// past or misread at run time, so each table source proves its shape here.
#pragma once

#include "layout.h"

namespace check {

template <class T, unsigned M>
constexpr unsigned count(const T (&)[M]) { return M; }

template <unsigned N>
constexpr bool isZero(const VK_TO_WCHARS<N>& r) {
    if (r.VirtualKey != 0 || r.Attributes != 0) return false;
    for (unsigned c = 0; c < N; ++c)
        if (r.wch[c] != 0) return false;
    return true;
}

// The last row is the terminator and no row before it is all zero.
template <unsigned N, unsigned M>
constexpr bool terminated(const VK_TO_WCHARS<N> (&rows)[M]) {
    for (unsigned i = 0; i + 1 < M; ++i)
        if (isZero(rows[i])) return false;
    return isZero(rows[M - 1]);
}

template <unsigned N>
constexpr bool hasDead(const VK_TO_WCHARS<N>& r) {
    for (unsigned c = 0; c < N; ++c)
        if (r.wch[c] == WCH_DEAD) return true;
    return false;
}

// Every row with WCH_DEAD is followed by a 0xFF row holding a real dead
// character in exactly the dead columns and WCH_NONE elsewhere; 0xFF rows
// stand nowhere else.
template <unsigned N, unsigned M>
constexpr bool deadRowsPaired(const VK_TO_WCHARS<N> (&rows)[M]) {
    for (unsigned i = 0; i < M; ++i) {
        const auto& r = rows[i];
        if (r.VirtualKey == VK__none_ && (i == 0 || !hasDead(rows[i - 1]))) return false;
        if (!hasDead(r)) continue;
        if (r.VirtualKey == VK__none_ || i + 1 >= M) return false;
        const auto& d = rows[i + 1];
        if (d.VirtualKey != VK__none_ || d.Attributes != 0) return false;
        for (unsigned c = 0; c < N; ++c) {
            if (r.wch[c] == WCH_DEAD) {
                if (d.wch[c] == WCH_NONE || d.wch[c] == WCH_DEAD || d.wch[c] == WCH_LGTR) return false;
            } else if (d.wch[c] != WCH_NONE) {
                return false;
            }
        }
    }
    return true;
}

// No cell holds the ligature marker: this layout defines no ligatures.
template <unsigned N, unsigned M>
constexpr bool noLigatures(const VK_TO_WCHARS<N> (&rows)[M]) {
    for (const auto& r : rows)
        for (unsigned c = 0; c < N; ++c)
            if (r.wch[c] == WCH_LGTR) return false;
    return true;
}

// The dead characters of a table, row by row and column by column, equal
// kDeadChars in order.
template <unsigned N, unsigned M>
constexpr bool deadCharsInOrder(const VK_TO_WCHARS<N> (&rows)[M]) {
    unsigned k = 0;
    for (unsigned i = 0; i + 1 < M; ++i) {
        if (rows[i].VirtualKey != VK__none_) continue;
        for (unsigned c = 0; c < N; ++c) {
            if (rows[i].wch[c] == WCH_NONE) continue;
            if (k >= kDeadCharCount || rows[i].wch[c] != kDeadChars[k]) return false;
            ++k;
        }
    }
    return k == kDeadCharCount;
}

// Each virtual key has at most one row in the table (0xFF rows aside).
template <unsigned N, unsigned M>
constexpr bool keysUnique(const VK_TO_WCHARS<N> (&rows)[M]) {
    for (unsigned i = 0; i + 1 < M; ++i)
        for (unsigned j = i + 1; j + 1 < M; ++j)
            if (rows[i].VirtualKey != VK__none_ && rows[i].VirtualKey == rows[j].VirtualKey)
                return false;
    return true;
}

template <unsigned N, unsigned M>
constexpr bool wellFormed(const VK_TO_WCHARS<N> (&rows)[M]) {
    return terminated(rows) && deadRowsPaired(rows) && noLigatures(rows) && keysUnique(rows);
}

}  // namespace check
