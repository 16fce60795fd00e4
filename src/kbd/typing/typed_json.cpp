#include "kbd/typing/typed_json.h"

#include "kbd/model/char_labels.h"
#include "kbd/model/layout_format.h"

namespace kbd {

using nlohmann::json;

json toJson(const Typed& t, const Session& s) {
    const auto& r = t.result;
    json j = {{"chord", t.chord.text},
              {"vk", r.vk},
              {"vkName", vkName(r.vk)},
              {"output", std::vector<uint16_t>(r.out.begin(), r.out.end())},
              {"text", utf8(r.out)},
              {"composed", r.composed},
              {"capsLock", s.capsLock()},
              {"numLock", s.numLock()}};
    switch (r.key.kind) {
    case KeyChar::Kind::None:     j["key"] = nullptr; break;
    case KeyChar::Kind::Char:     j["key"] = {{"kind", "char"}, {"ch", r.key.ch}}; break;
    case KeyChar::Kind::Dead:     j["key"] = {{"kind", "dead"}, {"ch", r.key.ch}}; break;
    case KeyChar::Kind::Ligature:
        j["key"] = {{"kind", "ligature"}, {"chars", std::vector<uint16_t>(r.key.chars.begin(), r.key.chars.end())}};
        break;
    }
    // Only layouts with a Kana key have a Kana state.
    if (kanaBits(s.layout()) != 0) j["kanaLock"] = s.kanaLock();
    j["pendingDead"] = s.pendingDead() ? json(*s.pendingDead()) : json(nullptr);
    return j;
}

}  // namespace kbd
