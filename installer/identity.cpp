// The setup's identity record; see identity.h. No library calls: compiled for
// Windows without a runtime and for the host tests.
#include "identity.h"

#include "plan.h"

namespace setup {
namespace {

// One line's value as UTF-16, decoded from strict UTF-8.
struct Value {
    char16_t unit[LongText::kCapacity + 1] = {};
    size_t   length = 0;
    bool     tooLong = false;
};

// The code point at bytes[i], advancing i; -1 for a malformed sequence.
int32_t nextCodePoint(const unsigned char* b, size_t end, size_t& i) {
    const unsigned char lead = b[i++];
    if (lead < 0x80) return lead;
    int extra = lead >= 0xF0 && lead <= 0xF4 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
    if (extra < 0 || lead > 0xF4 || end - i < static_cast<size_t>(extra)) return -1;
    int32_t c = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        if ((b[i] & 0xC0) != 0x80) return -1;
        c = c << 6 | (b[i++] & 0x3F);
    }
    static constexpr int32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return -1;
    return c;
}

bool decode(const unsigned char* b, size_t begin, size_t end, Value& v) {
    for (size_t i = begin; i < end;) {
        const int32_t c = nextCodePoint(b, end, i);
        if (c < 0x20 || c == 0x7F) return false;   // malformed, or a control character
        const bool pair = c > 0xFFFF;
        if (v.length + (pair ? 2 : 1) > LongText::kCapacity) {
            v.tooLong = true;
            return true;
        }
        if (pair) {
            v.unit[v.length++] = static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            v.unit[v.length++] = static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            v.unit[v.length++] = static_cast<char16_t>(c);
        }
    }
    return true;
}

bool keyIs(const unsigned char* b, size_t begin, size_t end, const char* key) {
    size_t i = begin;
    for (; i < end && *key; ++i, ++key)
        if (b[i] != static_cast<unsigned char>(*key)) return false;
    return i == end && !*key;
}

bool isHex(char16_t c) { return hexDigit(c) >= 0; }

bool endsWithDll(const Value& v) {
    if (v.length < 5) return false;
    const char16_t* t = v.unit + v.length - 4;
    return t[0] == u'.' && Text::lower(t[1]) == u'd' && Text::lower(t[2]) == u'l' && Text::lower(t[3]) == u'l';
}

// A file name Windows takes as it is: no folders, devices or wildcards.
bool plainFileName(const Value& v) {
    if (v.unit[0] == u'.' || v.unit[0] == u' ') return false;
    for (size_t i = 0; i < v.length; ++i)
        for (const char16_t* bad = u"\\/:*?\"<>|"; *bad; ++bad)
            if (v.unit[i] == *bad) return false;
    return true;
}

// Four numbers up to 65535, joined by dots.
bool isVersion(const Value& v) {
    int parts = 0;
    size_t i = 0;
    while (i <= v.length) {
        uint32_t n = 0;
        size_t digits = 0;
        for (; i < v.length && v.unit[i] >= u'0' && v.unit[i] <= u'9' && digits < 6; ++i, ++digits)
            n = n * 10 + (v.unit[i] - u'0');
        if (digits == 0 || n > 0xFFFF) return false;
        ++parts;
        if (i == v.length) break;
        if (v.unit[i++] != u'.') return false;
    }
    return parts == 4;
}

// {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
bool isGuid(const Value& v) {
    static constexpr char kForm[] = "{########-####-####-####-############}";
    if (v.length != sizeof kForm - 1) return false;
    for (size_t i = 0; i < v.length; ++i)
        if (kForm[i] == '#' ? !isHex(v.unit[i]) : v.unit[i] != static_cast<char16_t>(kForm[i])) return false;
    return true;
}

// The system's own values of a layout's key all begin with "Layout"; a
// marker among them would make every layout look like ours.
bool markerCollides(const Value& v) {
    static constexpr char kLayout[] = "layout";
    if (v.length < sizeof kLayout - 1) return false;
    for (size_t i = 0; i < sizeof kLayout - 1; ++i)
        if (Text::lower(v.unit[i]) != static_cast<char16_t>(kLayout[i])) return false;
    return true;
}

Text shortText(const Value& v) { return Text::of(v.unit, v.length); }

LongText longText(const Value& v) {
    LongText t;
    for (size_t i = 0; i < v.length; ++i) t.unit[i] = v.unit[i];
    t.length = static_cast<uint16_t>(v.length);
    return t;
}

enum Key { kFile, kText, kMarker, kVersion, kPublisher, kActiveSetup, kLanguage, kKeyCount };
constexpr const char* kKeyNames[kKeyCount] = {"File", "Text", "Marker", "Version", "Publisher", "ActiveSetup", "Language"};
constexpr bool kRequired[kKeyCount] = {true, true, true, true, true, true, false};

}  // namespace

const char* parseIdentity(const unsigned char* b, size_t size, Identity& out) {
    out = Identity{};
    bool seen[kKeyCount] = {};
    size_t line = 0;
    while (line < size) {
        size_t end = line;
        while (end < size && b[end] != '\n') ++end;
        const size_t next = end + 1;
        if (end > line && b[end - 1] == '\r') --end;
        size_t eq = line;
        while (eq < end && b[eq] != '=') ++eq;
        if (end == line) {
            line = next;
            continue;
        }
        if (eq == end) return "a line is not Key=Value";
        int key = 0;
        while (key < kKeyCount && !keyIs(b, line, eq, kKeyNames[key])) ++key;
        if (key == kKeyCount) return "an unknown key";
        if (seen[key]) return "a key given twice";
        seen[key] = true;
        Value v;
        if (!decode(b, eq + 1, end, v)) return "a value that is not UTF-8 text";
        if (v.length == 0) return "an empty value";
        const bool fitsText = !v.tooLong && v.length <= Text::kCapacity;
        switch (key) {
        case kFile:
            if (!fitsText || !endsWithDll(v) || !plainFileName(v)) return "File is not a file name NAME.dll";
            out.layoutFile = shortText(v);
            out.name = Text::of(v.unit, v.length - 4);
            break;
        case kText:
            if (!fitsText) return "Text is longer than 31 characters";
            out.layoutText = shortText(v);
            break;
        case kMarker:
            if (!fitsText || markerCollides(v)) return "Marker is too long or a name the system uses";
            out.marker = shortText(v);
            break;
        case kVersion:
            if (!fitsText || !isVersion(v)) return "Version is not four numbers such as 1.0.0.0";
            out.version = shortText(v);
            break;
        case kPublisher:
            if (v.tooLong) return "Publisher is too long";
            out.publisher = longText(v);
            break;
        case kActiveSetup:
            if (!isGuid(v)) return "ActiveSetup is not a {GUID}";
            out.activeSetupId = longText(v);
            break;
        case kLanguage:
            if (!fitsText || !parseLanguage(shortText(v), out.language)) return "Language is not 4 hex digits";
            break;
        }
        line = next;
    }
    for (int key = 0; key < kKeyCount; ++key)
        if (kRequired[key] && !seen[key]) return "a required key is missing";
    return nullptr;
}

}  // namespace setup
