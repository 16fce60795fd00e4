// A short UTF-16 text of fixed capacity: the registry key and value names and
// the short values the setup reads and writes (KLIDs, Layout Ids, file names,
// Preload entries). Portable C++ without a C or C++ library, so the setup can
// use it on Windows without a runtime and the host tests can use it too.
//
// No heap: a registry snapshot is an array of fixed-size records in storage
// the caller owns, so planning has no allocation that could fail and nothing
// to free. A text longer than the capacity keeps its first units and is marked
// cut; a cut text never equals a whole one.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace setup {

struct Text {
    static constexpr uint16_t kCapacity = 31;

    char16_t unit[kCapacity + 1] = {};  // always NUL-terminated
    uint16_t length = 0;
    bool     cut = false;               // the source was longer than kCapacity

    static Text of(const char16_t* s, size_t n) {
        Text t;
        t.cut = n > kCapacity;
        t.length = static_cast<uint16_t>(t.cut ? kCapacity : n);
        for (uint16_t i = 0; i < t.length; ++i) t.unit[i] = s[i];
        return t;
    }
    // From a NUL-terminated string (at most a few thousand units are looked at).
    static Text of(const char16_t* s) {
        size_t n = 0;
        while (s[n] != 0 && n <= kCapacity) ++n;
        return of(s, n);
    }
    // From ASCII text in source code.
    static Text ascii(const char* s) {
        Text t;
        while (s[t.length] != 0 && t.length < kCapacity) {
            t.unit[t.length] = static_cast<char16_t>(static_cast<unsigned char>(s[t.length]));
            ++t.length;
        }
        t.cut = s[t.length] != 0;
        return t;
    }

    bool empty() const { return length == 0 && !cut; }

    bool operator==(const Text& o) const {
        if (length != o.length || cut != o.cut) return false;
        for (uint16_t i = 0; i < length; ++i)
            if (unit[i] != o.unit[i]) return false;
        return true;
    }
    bool operator!=(const Text& o) const { return !(*this == o); }

    // Registry names compare without regard to ASCII case.
    bool sameName(const Text& o) const {
        if (length != o.length || cut != o.cut) return false;
        for (uint16_t i = 0; i < length; ++i)
            if (lower(unit[i]) != lower(o.unit[i])) return false;
        return true;
    }

    static char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }
};

// Hex digit value of c, or -1.
inline int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// `digits` lower-case hex digits of v.
inline Text hexText(uint32_t v, unsigned digits) {
    static constexpr char16_t kDigits[] = u"0123456789abcdef";
    Text t;
    t.length = static_cast<uint16_t>(digits);
    for (unsigned i = 0; i < digits; ++i) t.unit[digits - 1 - i] = kDigits[(v >> (4 * i)) & 0xF];
    return t;
}

}  // namespace setup
