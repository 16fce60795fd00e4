#include "json.h"

#include <windows.h>

Text::~Text() {
    if (data_) HeapFree(GetProcessHeap(), 0, data_);
}

void Text::append(const char* s, size_t n) {
    if (size_ + n > capacity_) {
        size_t want = capacity_ ? capacity_ * 2 : 1 << 16;
        while (want < size_ + n) want *= 2;
        void* p = data_ ? HeapReAlloc(GetProcessHeap(), 0, data_, want) : HeapAlloc(GetProcessHeap(), 0, want);
        if (!p) {
            static const char message[] = "kbdwalk: out of memory\n";
            DWORD written;
            WriteFile(GetStdHandle(STD_ERROR_HANDLE), message, sizeof message - 1, &written, nullptr);
            ExitProcess(3);
        }
        data_ = static_cast<char*>(p);
        capacity_ = want;
    }
    for (size_t i = 0; i < n; ++i) data_[size_ + i] = s[i];
    size_ += n;
}

void Text::append(const char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    append(s, n);
}

void Text::decimal(uint64_t v) {
    char buf[24];
    int i = sizeof buf;
    do {
        buf[--i] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    append(buf + i, sizeof buf - i);
}

void Text::hex(uint64_t v) {
    char buf[18];
    int i = sizeof buf;
    do {
        buf[--i] = "0123456789ABCDEF"[v & 0xF];
        v >>= 4;
    } while (v);
    buf[--i] = 'x';
    buf[--i] = '0';
    append(buf + i, sizeof buf - i);
}

void Json::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (depth_ > 0) {
        if (!first_[depth_]) out_.append(',');
        first_[depth_] = false;
    }
}

void Json::open(char c) {
    separate();
    out_.append(c);
    if (depth_ + 1 < static_cast<int>(sizeof first_)) ++depth_;
    first_[depth_] = true;
}

void Json::close(char c) {
    out_.append(c);
    if (depth_ > 0) --depth_;
}

void Json::key(const char* k) {
    separate();
    size_t n = 0;
    while (k[n]) ++n;
    quoted(k, n);
    out_.append(':');
    afterKey_ = true;
}

void Json::number(uint64_t v) {
    separate();
    out_.decimal(v);
}

void Json::boolean(bool v) {
    separate();
    out_.append(v ? "true" : "false");
}

void Json::null() {
    separate();
    out_.append("null");
}

void Json::raw(const Text& value) {
    separate();
    out_.append(value.data() ? value.data() : "", value.size());
}

void Json::string(const char* ascii) {
    separate();
    size_t n = 0;
    while (ascii[n]) ++n;
    quoted(ascii, n);
}

void Json::quoted(const char* s, size_t n) {
    out_.append('"');
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out_.append('\\');
            out_.append(static_cast<char>(c));
        } else if (c < 0x20) {
            out_.append("\\u00");
            out_.append("0123456789abcdef"[c >> 4]);
            out_.append("0123456789abcdef"[c & 0xF]);
        } else {
            out_.append(static_cast<char>(c));
        }
    }
    out_.append('"');
}

void Json::string(const char16_t* units, size_t n) {
    Text utf8;
    for (size_t i = 0; i < n; ++i) {
        uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        char b[4];
        size_t len;
        if (u < 0x80) {
            b[0] = static_cast<char>(u);
            len = 1;
        } else if (u < 0x800) {
            b[0] = static_cast<char>(0xC0 | u >> 6);
            b[1] = static_cast<char>(0x80 | (u & 0x3F));
            len = 2;
        } else if (u < 0x10000) {
            b[0] = static_cast<char>(0xE0 | u >> 12);
            b[1] = static_cast<char>(0x80 | (u >> 6 & 0x3F));
            b[2] = static_cast<char>(0x80 | (u & 0x3F));
            len = 3;
        } else {
            b[0] = static_cast<char>(0xF0 | u >> 18);
            b[1] = static_cast<char>(0x80 | (u >> 12 & 0x3F));
            b[2] = static_cast<char>(0x80 | (u >> 6 & 0x3F));
            b[3] = static_cast<char>(0x80 | (u & 0x3F));
            len = 4;
        }
        utf8.append(b, len);
    }
    separate();
    quoted(utf8.data() ? utf8.data() : "", utf8.size());
}
