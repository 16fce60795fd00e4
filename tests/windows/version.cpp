#include "version.h"

#include <windows.h>

namespace {

size_t length(const wchar_t* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void append(wchar_t*& at, const wchar_t* end, const wchar_t* s) {
    while (*s && at + 1 < end) *at++ = *s++;
    *at = 0;
}

void appendHex4(wchar_t*& at, const wchar_t* end, unsigned v) {
    for (int shift = 12; shift >= 0 && at + 1 < end; shift -= 4) *at++ = L"0123456789ABCDEF"[(v >> shift) & 0xF];
    *at = 0;
}

const char16_t* units(const wchar_t* s) { return reinterpret_cast<const char16_t*>(s); }

}  // namespace

void writeVersion(const wchar_t* path, const wchar_t* const* keys, size_t count, Json& j, Problems& problems) {
    j.beginObject();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    void* block = size ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size) : nullptr;
    if (!block || !GetFileVersionInfoW(path, 0, size, block)) {
        problems.add(-1, "GetFileVersionInfoW", 0, GetLastError(), "found no version block");
        j.endObject();
        return;
    }

    void* value = nullptr;
    UINT len = 0;
    if (VerQueryValueW(block, L"\\", &value, &len) && len >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* f = static_cast<const VS_FIXEDFILEINFO*>(value);
        j.key("fixed");
        j.beginObject();
        j.field("signature", f->dwSignature);
        j.field("structVersion", f->dwStrucVersion);
        j.field("fileVersionMS", f->dwFileVersionMS);
        j.field("fileVersionLS", f->dwFileVersionLS);
        j.field("productVersionMS", f->dwProductVersionMS);
        j.field("productVersionLS", f->dwProductVersionLS);
        j.field("fileFlagsMask", f->dwFileFlagsMask);
        j.field("fileFlags", f->dwFileFlags);
        j.field("fileOS", f->dwFileOS);
        j.field("fileType", f->dwFileType);
        j.field("fileSubtype", f->dwFileSubtype);
        j.field("fileDateMS", f->dwFileDateMS);
        j.field("fileDateLS", f->dwFileDateLS);
        j.endObject();
    } else {
        problems.add(-1, "VerQueryValueW \\", 0, len, "gives no fixed file information");
    }

    void* translation = nullptr;
    UINT pairBytes = 0;
    if (!VerQueryValueW(block, L"\\VarFileInfo\\Translation", &translation, &pairBytes) || !translation ||
        pairBytes < 4) {
        problems.add(-1, "VerQueryValueW \\VarFileInfo\\Translation", 0, pairBytes, "gives no translation");
        pairBytes = 0;
    }
    const auto* pairs = static_cast<const WORD*>(translation);
    j.key("translations");
    j.beginArray();
    for (UINT i = 0; i + 4 <= pairBytes; i += 4) {
        j.beginArray();
        j.number(pairs[i / 2]);
        j.number(pairs[i / 2 + 1]);
        j.endArray();
    }
    j.endArray();

    // "\StringFileInfo\LLLLCCCC\" of the first translation, then each key.
    wchar_t table[9];
    wchar_t* t = table;
    appendHex4(t, table + 9, pairBytes ? pairs[0] : 0);
    appendHex4(t, table + 9, pairBytes ? pairs[1] : 0);
    j.key("stringTable");
    j.string(units(table), 8);
    j.key("strings");
    j.beginArray();
    for (size_t k = 0; pairBytes && k < count; ++k) {
        wchar_t query[256];
        wchar_t* q = query;
        append(q, query + 256, L"\\StringFileInfo\\");
        append(q, query + 256, table);
        append(q, query + 256, L"\\");
        append(q, query + 256, keys[k]);
        j.beginObject();
        j.key("key");
        j.string(units(keys[k]), length(keys[k]));
        j.key("value");
        wchar_t* text = nullptr;
        UINT chars = 0;
        if (VerQueryValueW(block, query, reinterpret_cast<void**>(&text), &chars) && text) {
            size_t n = 0;  // up to the terminator, never past what was given
            while (n < chars && text[n]) ++n;
            j.string(units(text), n);
        } else {
            j.null();
        }
        j.endObject();
    }
    j.endArray();
    j.endObject();
    HeapFree(GetProcessHeap(), 0, block);
}
