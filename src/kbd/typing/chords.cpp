#include "kbd/typing/chords.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include <fmt/format.h>

#include "kbd/image/error.h"
#include "kbd/model/layout_format.h"
#include "kbd/model/pc_keys.h"

namespace kbd {
namespace {

KeyRef parseKey(std::string_view part, std::string_view chord) {
    if (part.empty()) throw Error(fmt::format("empty key name in '{}'", chord));
    const auto colon = part.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view kind = part.substr(0, colon), digits = part.substr(colon + 1);
        if (kind == "pos") {
            const auto code = positionScanCode(digits);
            if (!code)
                throw Error(fmt::format("'{}' in '{}': a position is E00 to E12, D01 to D12, C01 to C12, B00 to "
                                        "B10 or A03", part, chord));
            return {std::nullopt, ScanCode{Prefix::None, *code}};
        }
        ScanCode sc;
        if (kind == "sc")
            sc.prefix = Prefix::None;
        else if (kind == "e0")
            sc.prefix = Prefix::E0;
        else if (kind == "e1")
            sc.prefix = Prefix::E1;
        else
            throw Error(fmt::format("'{}' in '{}': a scan code is written sc:XX, e0:XX or e1:XX, a position pos:D01",
                                    part, chord));
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
        if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || value > 0xFF)
            throw Error(fmt::format("'{}' in '{}': the scan code must be one to two hex digits (00 to ff)", part,
                                    chord));
        sc.code = static_cast<uint8_t>(value);
        return {std::nullopt, sc};
    }
    if (const auto vk = vkFromName(part)) return {*vk, std::nullopt};
    throw Error(fmt::format("unknown key '{}' in '{}'", part, chord));
}

}  // namespace

std::optional<uint8_t> positionScanCode(std::string_view p) {
    // Position names are upper case in the key table; a chord may write them in either case.
    std::string upper(p);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (const auto k = keyByIso(upper)) return k->scan.code;
    return std::nullopt;
}

Chord parseChord(std::string_view text) {
    Chord c;
    c.text = std::string(text);
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t plus = text.find('+', start);
        parts.push_back(text.substr(start, plus == std::string_view::npos ? std::string_view::npos : plus - start));
        if (plus == std::string_view::npos) break;
        start = plus + 1;
    }
    for (size_t i = 0; i + 1 < parts.size(); ++i) c.held.push_back(parseKey(parts[i], text));
    c.key = parseKey(parts.back(), text);
    return c;
}

Typed type(Session& session, const Layout& layout, const Chord& chord) {
    KeyState held;
    for (const auto& k : chord.held) {
        uint8_t vk = 0;
        if (k.vk) {
            vk = *k.vk;
        } else {
            const auto entry = scanEntry(layout, *k.scan);
            vk = entry ? static_cast<uint8_t>(*entry & 0xFF) : def::VK_NONE;
        }
        if (!isHoldable(layout, vk)) {
            std::string others;
            for (const auto& m : layout.modifierBits)
                if (!isModifierKey(m.vk)) others += (others.empty() ? "" : ", ") + vkName(m.vk);
            throw Error(fmt::format("'{}': only Shift, Ctrl and Alt keys{} can be held in a chord", chord.text,
                                    others.empty() ? "" : " and this layout's " + others));
        }
        held.set(vk);
    }
    Typed t{chord, {}};
    t.result = chord.key.vk ? session.press(*chord.key.vk, held) : session.press(*chord.key.scan, held);
    return t;
}

std::u16string typeText(const Layout& layout, const std::vector<std::string>& chords, bool capsLock) {
    Session s(layout);
    s.setCapsLock(capsLock);
    std::u16string out;
    for (const auto& c : chords) out += type(s, layout, parseChord(c)).result.out;
    return out;
}

}  // namespace kbd
