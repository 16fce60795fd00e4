// Wide strings for the setup without a C runtime: a fixed-capacity builder for
// paths, registry paths and messages. Text that does not fit is cut and the
// builder remembers it, so a cut path is never used.
#pragma once

#include <windows.h>

#include "fixed_text.h"

namespace setup {

inline size_t wideLength(const wchar_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

inline bool wideEqual(const wchar_t* a, const wchar_t* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

// A Text for a Windows call: wchar_t and char16_t are both UTF-16 units here
// (the setup is built with -fno-strict-aliasing for this view).
inline const wchar_t* wide(const Text& t) { return reinterpret_cast<const wchar_t*>(t.unit); }

template <size_t N>
struct WideBuf {
    wchar_t s[N] = {};
    size_t  n = 0;
    bool    cut = false;

    WideBuf& clear() {
        n = 0;
        cut = false;
        s[0] = 0;
        return *this;
    }
    WideBuf& add(const wchar_t* p, size_t len) {
        for (size_t i = 0; i < len; ++i) {
            if (n + 1 >= N) {
                cut = true;
                break;
            }
            s[n++] = p[i];
        }
        s[n] = 0;
        return *this;
    }
    WideBuf& add(const wchar_t* p) { return add(p, wideLength(p)); }
    WideBuf& add(const Text& t) {
        for (uint16_t i = 0; i < t.length; ++i) {
            const wchar_t c = static_cast<wchar_t>(t.unit[i]);
            add(&c, 1);
        }
        return *this;
    }
    WideBuf& ascii(const char* p) {
        while (*p) {
            const wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(*p++));
            add(&c, 1);
        }
        return *this;
    }
    WideBuf& hex(uint32_t v, unsigned digits) { return add(hexText(v, digits)); }
    WideBuf& number(uint32_t v) {
        wchar_t d[10];
        unsigned k = 0;
        do {
            d[k++] = static_cast<wchar_t>(L'0' + v % 10);
            v /= 10;
        } while (v);
        while (k) add(&d[--k], 1);
        return *this;
    }
    // The system's text for an error code, and the code.
    WideBuf& error(DWORD code) {
        wchar_t msg[256];
        DWORD len = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, msg,
                                   256, nullptr);
        while (len && (msg[len - 1] == L'\r' || msg[len - 1] == L'\n' || msg[len - 1] == L' ' || msg[len - 1] == L'.'))
            --len;
        if (len) add(msg, len).add(L" ");
        return add(L"(error ").number(code).add(L")");
    }
};

// Paths here are system folders and Program Files: MAX_PATH is plenty.
using Path = WideBuf<400>;

}  // namespace setup
