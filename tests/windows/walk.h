// Walks a loaded layout's tree through its real pointers and writes it as the
// JSON layout model kbdtool documents (docs/json.md), numbers and strings
// only: the names kbdtool sets beside numbers for reading (vkName,
// attributeNames, localeFlagNames, scan-code flag names) are the host's
// business. Every pointer is checked to lie inside the module before it is
// followed, every record before it is read, and every page read must not be
// writable; what fails is written to the problem list and not followed.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "json.h"
#include "records.h"

// A field name for messages, built from pieces: "pKeyNamesDead[3]".
class Name {
public:
    explicit Name(const char* s) { add(s); }
    Name& add(const char* s);
    Name& index(size_t i);  // "[i]"
    const char* str() const { return buf_; }

private:
    char   buf_[96] = {};
    size_t n_ = 0;
};

// What was found wrong, as a JSON array of
// {"load", "what", "field", "value", "problem"}: the load (0 or 1, or null
// for neither), what was read, where the field is and the value it held
// (0 when neither applies).
class Problems {
public:
    Problems() { json_.beginArray(); }
    void add(int load, const char* what, uintptr_t field, uintptr_t value, const char* problem);
    bool any() const { return count_ > 0; }
    // The finished array.
    const Text& array() {
        json_.endArray();
        return text_;
    }

private:
    Text   text_;
    Json   json_{text_};
    size_t count_ = 0;
};

struct Module {
    uintptr_t base = 0;
    uintptr_t end = 0;  // base + SizeOfImage
};

// Protection of the pages at an address (PAGE_*), and whether it lets them be
// written or run.
uint32_t protectionAt(uintptr_t address);
bool isWritable(uint32_t protect);
bool isExecutable(uint32_t protect);

// Writes the layout object reached from root; root itself is checked first.
void walkLayout(const Module& module, uintptr_t root, int load, Json& out, Problems& problems);
