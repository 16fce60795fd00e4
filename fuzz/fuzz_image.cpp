// libFuzzer target for the reader: arbitrary bytes mapped (at the preferred
// base, else at another), decoded (with the detected and the forced 8-byte
// pointer width), dumped, read for resources and the version block, and
// checked, which maps and decodes them at a second base too. The model's JSON
// form and the simulator have a target of their own (fuzz_model.cpp), so
// that their cost does not slow this one.
//
// checkImage promises not to throw at all for a fault of the image, so
// anything escaping it is a finding too.
#include <cstdint>
#include <optional>
#include <vector>

#include "kbd/check/check.h"
#include "kbd/model/decoder.h"
#include "kbd/views/dump.h"
#include "fuzz_support.h"
#include "kbd/image/mapped_image.h"
#include "kbd/image/version.h"

namespace {

using namespace kbd;
using fuzz::sink;
using fuzz::tolerate;

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

void decodeAndDump(const MappedImage& img, unsigned pointerSize) {
    tolerate([&] {
        const Decoded d = decode(img, {pointerSize});
        sink(d.pointers.size());
        sink(dumpText(d).size());
    });
}

// Checks the image and dumps the tree the check read; returns the width of
// that tree's pointer fields, 0 when it read none.
unsigned checkAndDump(const MappedImage& img) {
    CheckReport r;
    try {
        r = checkImage(img);
        sink(r.findings.size() + r.ok());
    } catch (const std::exception& e) {
        fuzz::finding("checkImage threw, though it reports every fault as a finding", e.what());
    }
    if (!r.tree) return 0;
    tolerate([&] { sink(dumpText(*r.tree).size()); });
    return r.tree->pointerSize;
}

std::optional<MappedImage> map(const uint8_t* data, size_t size, std::optional<uint64_t> base) {
    try {
        return MappedImage::fromBytes(std::vector<uint8_t>(data, data + size), base);
    } catch (const Error&) {
        return std::nullopt;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::guarded([&] {
        const std::optional<MappedImage> here = map(data, size, std::nullopt);
        // Another base: one of those the check itself uses when the preferred
        // mapping worked, otherwise any that fits a 32-bit image.
        uint64_t other = 0x30000000;
        if (here) {
            if (here->is64())
                other = here->base() == 0x180000000 ? 0x280000000 : 0x180000000;
            else if (here->base() == 0x30000000)
                other = 0x50000000;
        }
        if (here) {
            readEverything(*here);
            // The check decodes the tree (and maps and decodes the image at
            // the other base too).
            const unsigned read = checkAndDump(*here);
            // A 32-bit image read as a tree of 64-bit pointers, unless the
            // check took it for one and has just decoded and dumped that.
            if (!here->is64() && read != 8) decodeAndDump(*here, 8);
        } else if (const std::optional<MappedImage> there = map(data, size, other)) {
            readEverything(*there);
            decodeAndDump(*there, 0);
        }
    });
}
