// libFuzzer target for the model: arbitrary bytes mapped and decoded as in
// fuzz_image.cpp, and whatever decodes goes through its JSON form and back
// and through the simulator (typing every key under several modifier sets,
// dead keys pending across presses, names and compositions).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kbd/model/decoder.h"
#include "kbd/views/dump.h"
#include "fuzz_support.h"
#include "kbd/image/mapped_image.h"
#include "kbd/model/layout_json.h"
#include "kbd/typing/typed_json.h"
#include "kbd/typing/chords.h"
#include "kbd/typing/simulator.h"

namespace {

using namespace kbd;
using fuzz::sink;
using fuzz::tolerate;

// A realistic sequence: plain letters, Shift and AltGr columns, Caps Lock,
// dead keys followed by bases, a dead key followed by a dead key, keys by
// scan code (with E0 for right Alt) and keypad keys under Num Lock.
const std::vector<std::string> kChords = {
    "q", "Shift+q", "AltGr+q", "Shift+AltGr+q", "CapsLock", "q", "AltGr+e", "CapsLock",
    "Shift+4", "a", "Shift+6", "e", "Shift+OEM_3", "n", "OEM_3", "OEM_3", "Comma", "c",
    "h", "Shift+5", "Space", "Shift+8", "Shift+2", "Minus", "Shift+Minus", "o",
    "Ctrl+Back", "Return", "Ctrl+Return", "sc:10", "sc:2a+sc:1e", "e0:38+sc:12", "e1:1d",
    "NumLock", "Num5", "NumLock", "sc:47", "e0:47", "Tab", "Escape", "LAlt+q", "Ctrl+Alt+w",
};

void simulate(const Layout& L) {
    // The fixed sequence, with and without Caps Lock.
    tolerate([&] { sink(typeText(L, kChords).size()); });
    tolerate([&] { sink(typeText(L, kChords, true).size()); });

    // Every virtual key under a few modifier sets, by virtual key and by scan
    // code, keeping dead keys pending across presses.
    Session s(L);
    KeyState none, shift, altgr, ctrlShift;
    shift.set(0xA0);
    altgr.set(0xA5);
    ctrlShift.set(0xA2).set(0xA1);
    for (const KeyState* held : {&none, &shift, &altgr, &ctrlShift}) {
        for (unsigned vk = 0; vk < 256; ++vk) sink(s.press(static_cast<uint8_t>(vk), *held).out.size());
        for (Prefix p : {Prefix::None, Prefix::E0, Prefix::E1})
            for (unsigned sc = 0; sc < 256; sc += 3)
                sink(s.press(ScanCode{p, static_cast<uint8_t>(sc)}, *held).out.size());
    }
    // The fixed sequence again, one chord at a time, with each outcome as JSON.
    tolerate([&] {
        Session t(L);
        for (const auto& c : kChords) sink(toJson(type(t, L, parseChord(c)), t).dump().size());
    });
    for (unsigned mask = 0; mask < 256; mask += 5) sink(columnFor(L, static_cast<uint8_t>(mask)).value_or(0));
    for (unsigned sc = 0; sc < 256; ++sc) {
        if (auto n = keyName(L, static_cast<uint8_t>(sc), false)) sink(n->size());
        if (auto n = keyName(L, static_cast<uint8_t>(sc), true)) sink(n->size());
    }
    for (const auto& n : L.deadKeyNames)
        if (!n.empty())
            if (auto d = deadKeyName(L, n[0])) sink(d->size());
    for (const auto& d : L.deadKeys)
        if (auto c = compose(L, d.dead, d.base)) sink(c->composed);
    sink(namesText(L).size());
}

// True when a key name holds a surrogate without its partner: its JSON text
// carries U+FFFD instead, by design, so such a name cannot come back.
bool hasLoneSurrogate(const std::vector<KeyName>& names) {
    for (const KeyName& n : names)
        for (size_t i = 0; i < n.name.size(); ++i) {
            const char16_t c = n.name[i];
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n.name.size() && n.name[i + 1] >= 0xDC00 &&
                n.name[i + 1] <= 0xDFFF)
                ++i;
            else if (c >= 0xD800 && c <= 0xDFFF)
                return true;
        }
    return false;
}

// The model through its JSON text and back must be the same model. Nothing
// may throw here: the document is toJson's own.
void jsonRoundTrip(const Decoded& d) {
    try {
        const std::string text = toJson(d).dump();
        const Layout back = layoutFromJson(nlohmann::json::parse(text));
        if (!(back == d.layout) && !hasLoneSurrogate(d.layout.keyNames) && !hasLoneSurrogate(d.layout.keyNamesExt))
            fuzz::finding("JSON round trip", "layoutFromJson(toJson(d)) differs from the decoded layout");
    } catch (const std::exception& e) {
        fuzz::finding("JSON round trip threw", e.what());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::guarded([&] {
        std::optional<MappedImage> img;
        tolerate([&] { img = MappedImage::fromBytes(std::vector<uint8_t>(data, data + size)); });
        if (!img) return;
        // The detected width, and for a 32-bit image 8-byte fields too when
        // they give other tables.
        std::optional<Layout> typed;
        for (unsigned width : {0u, 8u}) {
            if (width == 8 && img->is64()) break;
            tolerate([&] {
                const Decoded d = decode(*img, {width});
                if (typed && *typed == d.layout) return;
                jsonRoundTrip(d);
                simulate(d.layout);
                typed = d.layout;
            });
        }
    });
}
