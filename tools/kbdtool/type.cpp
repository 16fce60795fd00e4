// kbdtool type: type a sequence of chords and print what comes out.
#include <algorithm>
#include <iostream>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "command.h"
#include "kbd/model/char_labels.h"
#include "kbd/typing/typed_json.h"
#include "kbd/views/typed_text.h"

namespace kbdtool {

Command addType(CLI::App& app) {
    struct Options {
        Input                    in;
        std::vector<std::string> keys;
        bool                     caps = false, numOff = false, json = false;
    };
    auto o = std::make_shared<Options>();
    auto* sub = app.add_subcommand(
        "type",
        "Type a key sequence and print what comes out.\n"
        "Each KEY is a chord: held modifiers, then one key, joined by '+': q, Shift+4, AltGr+q, Ctrl+Back,\n"
        "CapsLock (toggles), sc:10 (scan code), e0:38+sc:10 (right Alt by scan code, then Q).\n"
        "A key is named three ways:\n"
        "  by virtual key   q, 4, Space, OEM_3, Kana: q is VK_Q, wherever the layout puts it\n"
        "                   (on an AZERTY layout, the key right of Tab)\n"
        "  by position      pos:D01: the key at ISO position D01 (right of Tab), whatever the layout\n"
        "                   makes of it; E00-E12 digit row, D01-D12, C01-C12, B00-B10, A03 space\n"
        "  by scan code     sc:10, e0:38, e1:1d: as the keyboard sends it\n"
        "Example: kbdtool type kbdQelvo.dll Shift+4 a");
    sub->add_option("FILE", o->in.file, "layout image (.dll)")->required();
    sub->add_option("KEY", o->keys, "chords to type, in order")->required();
    sub->add_flag("--caps", o->caps, "start with Caps Lock on");
    sub->add_flag("--numlock-off", o->numOff, "start with Num Lock off (it starts on)");
    sub->add_flag("--json", o->json, "print one JSON object per chord and the text, as one JSON document");
    addMappingOptions(sub, o->in);
    return {sub, [o] {
                using namespace kbd;
                const Decoded d = o->in.decode();
                std::vector<Chord> chords;
                for (const auto& k : o->keys) chords.push_back(parseChord(k));  // all parsed before any is typed
                Session s(d.layout);
                s.setCapsLock(o->caps);
                s.setNumLock(!o->numOff);
                std::u16string text;
                size_t width = 0;
                for (const auto& c : chords) width = std::max(width, c.text.size());
                nlohmann::json events = nlohmann::json::array();
                for (const auto& c : chords) {
                    const bool kanaBefore = s.kanaLock(), capsBefore = s.capsLock();
                    const Typed t = type(s, d.layout, c);
                    text += t.result.out;
                    if (o->json)
                        events.push_back(toJson(t, s));
                    else
                        std::cout << fmt::format("{:<{}}  {}\n", c.text, width, describeTyped(t, s, kanaBefore, capsBefore));
                }
                if (o->json) {
                    std::cout << nlohmann::json{{"events", events},
                                                {"text", utf8(text)},
                                                {"output", std::vector<uint16_t>(text.begin(), text.end())},
                                                {"pendingDead", s.pendingDead() ? nlohmann::json(*s.pendingDead())
                                                                                : nlohmann::json(nullptr)}}
                                     .dump(1)
                              << "\n";
                    return 0;
                }
                if (const auto p = s.pendingDead()) std::cout << fmt::format("(dead key {} still pending)\n", charLabel(*p));
                std::cout << "text: " << utf8(text) << "\n";
                return 0;
            }};
}

}  // namespace kbdtool
