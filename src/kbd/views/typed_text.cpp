#include "kbd/views/typed_text.h"

#include <fmt/format.h>

#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"
#include "kbd/typing/find.h"

namespace kbd {

std::string textLabel(const std::u16string& text) {
    std::string o;
    for (const auto& ch : characters(text)) {
        if (!o.empty()) o += ", ";
        o += ch.size() == 2 ? fmt::format("U+{:04X} {}", uint32_t(codePoint(ch)), utf8(ch)) : charLabel(ch[0]);
    }
    return o;
}

std::string describeTyped(const Typed& t, const Session& s, bool kanaBefore, bool capsBefore) {
    const auto& r = t.result;
    if (r.vk == vk::CAPITAL) return fmt::format("Caps Lock {}", s.capsLock() ? "on" : "off");
    if (r.vk == vk::NUMLOCK) return fmt::format("Num Lock {}", s.numLock() ? "on" : "off");
    if (r.vk == vk::KANA && s.kanaLock() != kanaBefore) return fmt::format("Kana {}", s.kanaLock() ? "on" : "off");
    if (r.vk == def::VK_NONE) return "(no key)";
    // A lock a chord changes on the way: the Kana key held, or Shift under Shift Lock.
    std::string kana = s.kanaLock() != kanaBefore ? fmt::format(" (Kana {})", s.kanaLock() ? "on" : "off") : "";
    if (s.capsLock() != capsBefore) kana += fmt::format(" (Caps Lock {})", s.capsLock() ? "on" : "off");
    if (!r.out.empty()) {
        const std::string o = textLabel(r.out) + kana;
        if (r.key.kind == KeyChar::Kind::Ligature && !r.composed) return o + " (ligature)";
        return r.composed ? o + " (composed)" : o;
    }
    if (r.composed && s.pendingDead()) return fmt::format("dead key {} (composed){}", charLabel(*s.pendingDead()), kana);
    if (r.key.kind == KeyChar::Kind::Dead) return fmt::format("dead key {}{}", charLabel(r.key.ch), kana);
    return "(no character)" + kana;
}

}  // namespace kbd
