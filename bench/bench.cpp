// Benchmarks of the host reader on the built image: opening and decoding it,
// checking it, and typing through the decoded layout. The parts of opening
// (mapping, running the export once, the tree walk) are timed apart too, so
// that a slow open can be put down to one of them.
//
//   kbd_bench [--benchmark_filter=REGEX] [IMAGE]
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "kbd/check/check.h"
#include "kbd/model/decoder.h"
#include "kbd/views/dump.h"
#include "kbd/image/mapped_image.h"
#include "kbd/typing/chords.h"
#include "kbd/typing/simulator.h"

namespace {

std::string gImage = KBD_IMAGE_PATH;

std::vector<uint8_t> imageBytes() {
    std::ifstream f(gImage, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void BM_OpenAndDecode(benchmark::State& state) {
    for (auto _ : state) {
        const kbd::Decoded d = kbd::decode(kbd::MappedImage::load(gImage));
        benchmark::DoNotOptimize(d.root);
    }
}
BENCHMARK(BM_OpenAndDecode)->Unit(benchmark::kMicrosecond);

// Mapping alone: headers, sections, relocations, exports (no CPU model).
void BM_Map(benchmark::State& state) {
    const std::vector<uint8_t> bytes = imageBytes();
    for (auto _ : state) {
        const kbd::MappedImage img = kbd::MappedImage::fromBytes(bytes);
        benchmark::DoNotOptimize(img.sizeOfImage());
    }
}
BENCHMARK(BM_Map)->Unit(benchmark::kMicrosecond);

// Mapping and one run of the root export on the CPU model (a mapping keeps
// what its export returned, so each run needs a mapping of its own; BM_Map
// alone is the mapping). Alternating between two bases, as the check does.
void BM_MapAndCallExport(benchmark::State& state) {
    const std::vector<uint8_t> bytes = imageBytes();
    uint64_t base = 0x30000000;
    for (auto _ : state) {
        base ^= 0x30000000 ^ 0x50000000;
        const kbd::MappedImage img = kbd::MappedImage::fromBytes(bytes, base);
        benchmark::DoNotOptimize(kbd::runExport(img, kbd::kRootExport));
    }
}
BENCHMARK(BM_MapAndCallExport)->Unit(benchmark::kMicrosecond);

void BM_DumpText(benchmark::State& state) {
    const kbd::Decoded d = kbd::decodeFile(gImage);
    for (auto _ : state) benchmark::DoNotOptimize(kbd::dumpText(d).size());
}
BENCHMARK(BM_DumpText)->Unit(benchmark::kMicrosecond);

void BM_Check(benchmark::State& state) {
    const kbd::MappedImage img = kbd::MappedImage::load(gImage);
    for (auto _ : state) {
        const kbd::CheckReport r = kbd::checkImage(img);
        if (!r.ok()) state.SkipWithError("the built image fails its check");
        benchmark::DoNotOptimize(r.findings.size());
    }
}
BENCHMARK(BM_Check)->Unit(benchmark::kMicrosecond);

// A sentence typed as a person types it: letters, Shift for capitals, AltGr
// letters, Caps Lock on and off, and dead keys followed by their bases, by a
// space, by a key they do not compose with, and by another dead key; a few
// keys come by scan code.
const std::vector<std::string> kSentence = {
    "Shift+t", "h", "e", "Space", "q", "u", "i", "c", "k", "Space", "AltGr+q", "AltGr+e", "Space",
    "Shift+4", "a", "Shift+6", "e", "OEM_3", "e", "Shift+OEM_3", "n", "Comma", "c", "Shift+5", "a",
    "Space", "h", "Space", "Shift+8", "x", "OEM_3", "OEM_3", "Shift+2", "Shift+Minus", "o", "Space",
    "CapsLock", "b", "r", "AltGr+o", "w", "n", "CapsLock", "Space", "sc:21", "sc:18", "sc:2d",
    "e0:38+sc:12", "sc:2a+sc:1e", "Period", "Return", "Back", "Ctrl+Back", "Tab", "Shift+1",
};

void BM_TypeKeys(benchmark::State& state) {
    const kbd::Decoded d = kbd::decodeFile(gImage);
    std::vector<kbd::Chord> chords;
    for (const auto& c : kSentence) chords.push_back(kbd::parseChord(c));
    // The held keys as virtual keys, resolved once, so that only presses are timed.
    struct Event {
        kbd::KeyState held;
        kbd::KeyRef   key;
    };
    std::vector<Event> events;
    for (const auto& c : chords) {
        Event e{{}, c.key};
        for (const auto& h : c.held) {
            const uint8_t vk = h.vk ? *h.vk : static_cast<uint8_t>(kbd::scanEntry(d.layout, *h.scan).value_or(0xFF));
            e.held.set(vk);
        }
        events.push_back(e);
    }
    size_t chars = 0;
    for (auto _ : state) {
        kbd::Session s(d.layout);
        for (const Event& e : events) {
            const kbd::Session::Result r = e.key.vk ? s.press(*e.key.vk, e.held) : s.press(*e.key.scan, e.held);
            chars += r.out.size();
        }
        benchmark::DoNotOptimize(chars);
    }
    if (chars == 0) state.SkipWithError("the sentence typed nothing");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * events.size()));
    state.SetLabel("key events");
}
BENCHMARK(BM_TypeKeys);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) gImage = argv[1];  // what is left after the benchmark's own options
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
