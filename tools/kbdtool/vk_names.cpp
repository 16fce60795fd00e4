#include "vk_names.h"

#include <algorithm>
#include <array>
#include <cctype>

#include <fmt/format.h>

namespace kbd {
namespace {

struct Named {
    std::string_view name;
    uint8_t          code;
};

#define KBD_VK_ROW(name, code) Named{#name, code},
constexpr Named kVkNames[] = {KBD_VK_LIST(KBD_VK_ROW)};
#undef KBD_VK_ROW

// Names a person types for keys whose platform name is obscure.
constexpr Named kAliases[] = {
    {"BACKSPACE", vk::BACK},     {"ENTER", vk::RETURN},      {"ESC", vk::ESCAPE},
    {"CAPSLOCK", vk::CAPITAL},   {"CAPS", vk::CAPITAL},      {"SHIFT", vk::LSHIFT},
    {"LSHIFT", vk::LSHIFT},      {"RSHIFT", vk::RSHIFT},     {"CTRL", vk::LCONTROL},
    {"LCTRL", vk::LCONTROL},     {"RCTRL", vk::RCONTROL},    {"ALT", vk::LMENU},
    {"LALT", vk::LMENU},         {"RALT", vk::RMENU},        {"ALTGR", vk::RMENU},
    {"PAGEUP", vk::PRIOR},       {"PAGEDOWN", vk::NEXT},     {"DEL", vk::DELETE},
    {"INS", vk::INSERT},         {"BREAK", vk::CANCEL},      {"PRINTSCREEN", vk::SNAPSHOT},
    {"SCROLLLOCK", vk::SCROLL},  {"MINUS", vk::OEM_MINUS},   {"PLUS", vk::OEM_PLUS},
    {"COMMA", vk::OEM_COMMA},    {"PERIOD", vk::OEM_PERIOD}, {"NUM0", vk::NUMPAD0},
    {"NUM1", vk::NUMPAD1},       {"NUM2", vk::NUMPAD2},      {"NUM3", vk::NUMPAD3},
    {"NUM4", vk::NUMPAD4},       {"NUM5", vk::NUMPAD5},      {"NUM6", vk::NUMPAD6},
    {"NUM7", vk::NUMPAD7},       {"NUM8", vk::NUMPAD8},      {"NUM9", vk::NUMPAD9},
};

std::string upper(std::string_view s) {
    std::string u(s);
    std::transform(u.begin(), u.end(), u.begin(), [](unsigned char c) { return std::toupper(c); });
    return u;
}

}  // namespace

std::string vkName(uint8_t code) {
    if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')) return fmt::format("'{}'", char(code));
    for (const auto& n : kVkNames)
        if (n.code == code) return fmt::format("VK_{}", n.name);
    return fmt::format("0x{:02X}", code);
}

std::optional<uint8_t> vkFromName(std::string_view name) {
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(name[0])));
    std::string u = upper(name);
    for (const auto& a : kAliases)
        if (a.name == u) return a.code;
    if (u.starts_with("VK_")) u.erase(0, 3);
    for (const auto& n : kVkNames)
        if (n.name == u) return n.code;
    return std::nullopt;
}

}  // namespace kbd
