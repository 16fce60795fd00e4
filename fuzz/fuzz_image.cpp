// libFuzzer target for the host reader: arbitrary bytes go through every
// entry point that takes a file (mapping at two bases, decoding, the check,
// the resource and version reader, the dump, the JSON form) and, for what
// decodes, through the simulator. The same bytes, read as text, are parsed as chords and typed
// into the layout of the real image (KBD_IMAGE, when set).
//
// The reader promises to report every fault of a file as kbd::Error. So only
// kbd::Error is caught here: any other exception, a crash or a sanitizer
// report is a finding. checkImage promises not to throw at all for a fault of
// the image, so anything escaping it is a finding too.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "decode.h"
#include "dump.h"
#include "image.h"
#include "json.h"
#include "keyseq.h"
#include "simulate.h"
#include "version.h"

namespace {

using namespace kbd;

// Keeps results alive so the optimiser cannot drop the work that made them.
volatile size_t gSink = 0;
void sink(size_t v) { gSink = gSink + v; }

[[noreturn]] void finding(const char* where, const char* what) {
    std::fprintf(stderr, "FINDING: %s: %s\n", where, what);
    std::fflush(stderr);
    std::abort();
}

// Runs f and swallows kbd::Error only.
template <class F>
void tolerate(F&& f) {
    try {
        f();
    } catch (const Error&) {
    }
}

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

// The layout of the real image, decoded once, for typing parsed chords into.
const Layout* referenceLayout() {
    static const std::optional<Layout> layout = []() -> std::optional<Layout> {
        const char* path = std::getenv("KBD_IMAGE");
        if (!path || !*path) return std::nullopt;
        try {
            return decodeFile(path).layout;
        } catch (const Error& e) {
            std::fprintf(stderr, "fuzz_image: KBD_IMAGE %s does not decode (%s); chords are parsed only\n", path,
                         e.what());
            return std::nullopt;
        }
    }();
    return layout ? &*layout : nullptr;
}

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

void readEverything(const MappedImage& img) {
    sink(img.sections().size() + img.relocations().size() + img.exports().size() + img.exportDllName().size());
    for (unsigned i = 0; i < 17; ++i) sink(img.directory(i).size);
    sink(img.computedChecksum());
    for (const Section& s : img.sections())
        tolerate([&] { sink(img.u32(img.base() + s.rva, "section start")); });
    tolerate([&] { sink(img.u64(img.base() + img.sizeOfImage() - 4, "last bytes")); });  // always throws
    tolerate([&] {
        for (const Resource& r : readResources(img)) sink(r.size + r.name.size());
    });
    tolerate([&] {
        if (auto v = readVersion(img)) sink(v->stringTables.size() + v->translations.size() + v->key.size());
    });
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
            finding("JSON round trip", "layoutFromJson(toJson(d)) differs from the decoded layout");
    } catch (const std::exception& e) {
        finding("JSON round trip threw", e.what());
    }
}

// Decodes and, unless the tables equal those already typed through (the
// same file at another base, as a sound image gives), runs the simulator.
std::optional<Layout> decodeAndType(const MappedImage& img, unsigned pointerSize,
                                    const std::optional<Layout>& seen = std::nullopt) {
    std::optional<Layout> out;
    tolerate([&] {
        const Decoded d = decode(img, {pointerSize});
        sink(d.pointers.size());
        sink(dumpText(d).size());
        if (!seen || !(*seen == d.layout)) {
            jsonRoundTrip(d);
            simulate(d.layout);
        }
        out = d.layout;
    });
    return out;
}

void checkOnce(const MappedImage& img) {
    try {
        const CheckReport r = checkImage(img);
        sink(r.findings.size() + r.ok());
    } catch (const std::exception& e) {
        finding("checkImage threw, though it reports every fault as a finding", e.what());
    }
}

std::optional<MappedImage> map(const uint8_t* data, size_t size, std::optional<uint64_t> base) {
    try {
        return MappedImage::fromBytes(std::vector<uint8_t>(data, data + size), base);
    } catch (const Error&) {
        return std::nullopt;
    }
}

void asImage(const uint8_t* data, size_t size) {
    const std::optional<MappedImage> here = map(data, size, std::nullopt);
    // Another page-aligned base: one of those the check itself uses when the
    // preferred mapping worked, otherwise any that fits a 32-bit image.
    uint64_t other = 0x30000000;
    if (here) {
        if (here->is64())
            other = here->base() == 0x180000000 ? 0x280000000 : 0x180000000;
        else if (here->base() == 0x30000000)
            other = 0x50000000;
    }
    const std::optional<MappedImage> there = map(data, size, other);

    std::optional<Layout> typed;
    if (here) {
        readEverything(*here);
        typed = decodeAndType(*here, 0);
        // A 32-bit image read as a tree of 64-bit pointers (what the check tries).
        if (!here->is64()) decodeAndType(*here, 8);
        checkOnce(*here);
    }
    if (there) {
        readEverything(*there);
        decodeAndType(*there, 0, typed);
    }
}

void asChords(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), std::min<size_t>(size, 4096));
    std::vector<Chord> chords;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of(" \n\t", start);
        if (end == std::string_view::npos) end = text.size();
        tolerate([&] { chords.push_back(parseChord(text.substr(start, end - start))); });
        start = end + 1;
    }
    const Layout* L = referenceLayout();
    if (!L) return;
    Session s(*L);
    for (const Chord& c : chords) tolerate([&] { sink(type(s, *L, c).result.out.size()); });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    referenceLayout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        asImage(data, size);
        asChords(data, size);
    } catch (const std::exception& e) {
        finding("an exception other than kbd::Error escaped", e.what());
    }
    // Anything that is not a std::exception leaves this function and
    // terminates the run, which libFuzzer reports as a crash.
    return 0;
}
