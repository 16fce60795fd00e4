// libFuzzer target for the chord syntax: arbitrary bytes, read as text, are
// split into chords, parsed, and typed into the layout of the real image
// (KBD_IMAGE, when set; otherwise they are parsed only).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kbd/model/decoder.h"
#include "fuzz_support.h"
#include "kbd/typing/chords.h"
#include "kbd/typing/simulator.h"

namespace {

using namespace kbd;
using fuzz::sink;
using fuzz::tolerate;

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
    return fuzz::guarded([&] { asChords(data, size); });
}
