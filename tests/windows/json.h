// A growing text buffer and a JSON writer on it, for a program without a C
// runtime: objects, arrays, unsigned numbers, booleans, and strings given as
// ASCII or as UTF-16 code units (written as UTF-8, an unpaired surrogate as
// U+FFFD).
#pragma once

#include <stddef.h>
#include <stdint.h>

class Text {
public:
    Text() = default;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text();
    void append(const char* s, size_t n);
    void append(const char* s);
    void append(char c) { append(&c, 1); }
    void hex(uint64_t v);  // 0x-prefixed, upper case
    void decimal(uint64_t v);
    const char* data() const { return data_; }
    size_t size() const { return size_; }
    void clear() { size_ = 0; }

private:
    char*  data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

class Json {
public:
    explicit Json(Text& out) : out_(out) {}

    void beginObject() { open('{'); }
    void endObject() { close('}'); }
    void beginArray() { open('['); }
    void endArray() { close(']'); }
    // The key of the next value inside an object.
    void key(const char* k);

    void number(uint64_t v);
    void boolean(bool v);
    void null();
    void string(const char* ascii);
    void string(const char16_t* units, size_t n);

    // A value written beforehand by another Json on its own Text.
    void raw(const Text& value);

    // key and value in one step
    void field(const char* k, uint64_t v) { key(k); number(v); }

private:
    void open(char c);
    void close(char c);
    void separate();  // the comma before a value, unless it is the first
    void quoted(const char* s, size_t n);

    Text& out_;
    bool  first_[64] = {};
    int   depth_ = 0;
    bool  afterKey_ = false;
};
