#include "kbd/model/layout_format.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

namespace kbd {
namespace {

// A named value, in the manner of LLVM's EnumEntry.
struct Named {
    std::string_view group;
    std::string_view name;
    uint32_t         value;
};

#define KBD_CONST(group, type, name, value) Named{#group, #name, value},
constexpr Named kConstants[] = {
#include "kbd_constants.inc"
};

#define KBD_VK(name, code) Named{"", #name, code},
constexpr Named kVkNames[] = {
#include "kbd_vk.inc"
};

// Names a person types for keys whose platform name is obscure.
constexpr Named kAliases[] = {
    {"", "BACKSPACE", vk::BACK},     {"", "ENTER", vk::RETURN},      {"", "ESC", vk::ESCAPE},
    {"", "CAPSLOCK", vk::CAPITAL},   {"", "CAPS", vk::CAPITAL},      {"", "SHIFT", vk::LSHIFT},
    {"", "LSHIFT", vk::LSHIFT},      {"", "RSHIFT", vk::RSHIFT},     {"", "CTRL", vk::LCONTROL},
    {"", "LCTRL", vk::LCONTROL},     {"", "RCTRL", vk::RCONTROL},    {"", "ALT", vk::LMENU},
    {"", "LALT", vk::LMENU},         {"", "RALT", vk::RMENU},        {"", "ALTGR", vk::RMENU},
    {"", "PAGEUP", vk::PRIOR},       {"", "PAGEDOWN", vk::NEXT},     {"", "DEL", vk::DELETE},
    {"", "INS", vk::INSERT},         {"", "BREAK", vk::CANCEL},      {"", "PRINTSCREEN", vk::SNAPSHOT},
    {"", "SCROLLLOCK", vk::SCROLL},  {"", "MINUS", vk::OEM_MINUS},   {"", "PLUS", vk::OEM_PLUS},
    {"", "COMMA", vk::OEM_COMMA},    {"", "PERIOD", vk::OEM_PERIOD}, {"", "NUM0", vk::NUMPAD0},
    {"", "NUM1", vk::NUMPAD1},       {"", "NUM2", vk::NUMPAD2},      {"", "NUM3", vk::NUMPAD3},
    {"", "NUM4", vk::NUMPAD4},       {"", "NUM5", vk::NUMPAD5},      {"", "NUM6", vk::NUMPAD6},
    {"", "NUM7", vk::NUMPAD7},       {"", "NUM8", vk::NUMPAD8},      {"", "NUM9", vk::NUMPAD9},
    {"", "HANGUL", vk::KANA},
};

std::string upper(std::string_view s) {
    std::string u(s);
    std::transform(u.begin(), u.end(), u.begin(), [](unsigned char c) { return std::toupper(c); });
    return u;
}

}  // namespace

std::vector<std::string> flagNames(std::string_view group, uint32_t value, int digits) {
    std::vector<std::string> out;
    uint32_t named = 0;
    for (const Named& c : kConstants) {
        if (c.group != group) continue;
        named |= c.value;
        if (c.value != 0 && (value & c.value) == c.value) out.emplace_back(c.name);
    }
    if (const uint32_t rest = value & ~named) out.push_back(fmt::format("0x{:0{}X}", rest, digits));
    return out;
}

std::string shiftStateName(uint8_t mask) {
    if (mask == def::KBDBASE) return "Base";
    std::string s;
    const auto add = [&](std::string_view part) { s += s.empty() ? std::string(part) : fmt::format("+{}", part); };
    if (mask & def::KBDSHIFT) add("Shift");
    if ((mask & (def::KBDCTRL | def::KBDALT)) == (def::KBDCTRL | def::KBDALT)) {
        add("AltGr");
    } else {
        if (mask & def::KBDCTRL) add("Ctrl");
        if (mask & def::KBDALT) add("Alt");
    }
    if (mask & def::KBDKANA) add("Kana");
    if (const uint8_t rest = mask & ~(def::KBDSHIFT | def::KBDCTRL | def::KBDALT | def::KBDKANA))
        add(fmt::format("0x{:02X}", rest));
    return s;
}

std::string vkName(uint8_t code) {
    if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')) return fmt::format("'{}'", char(code));
    for (const auto& n : kVkNames)
        if (n.value == code) return fmt::format("VK_{}", n.name);
    return fmt::format("0x{:02X}", code);
}

std::optional<uint8_t> vkFromName(std::string_view name) {
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(name[0])));
    std::string u = upper(name);
    for (const auto& a : kAliases)
        if (a.name == u) return static_cast<uint8_t>(a.value);
    if (u.starts_with("VK_")) u.erase(0, 3);
    for (const auto& n : kVkNames)
        if (n.name == u) return static_cast<uint8_t>(n.value);
    return std::nullopt;
}

uint64_t offsetOf(Field field, [[maybe_unused]] unsigned P) {
    switch (field) {
#define KBD_SIZE(record, size)
#define KBD_FIELD(record, field, offset) \
    case Field::record##_##field: return offset;
#include "kbd_records.inc"
    }
    return 0;
}

uint64_t sizeOf(Record record, unsigned P) {
    switch (record) {
#define KBD_SIZE(record, size) \
    case Record::record: return size;
#define KBD_FIELD(record, field, offset)
#include "kbd_records.inc"
    }
    return 0;
}

std::string_view fieldName(Field field) {
    switch (field) {
#define KBD_SIZE(record, size)
#define KBD_FIELD(record, field, offset) \
    case Field::record##_##field: return #record "." #field;
#include "kbd_records.inc"
    }
    return "?";
}

}  // namespace kbd
