// Decoding a mapped layout image into the Layout model: run the export to
// find the root, then walk every pointer of the tree, refusing any that leaves
// the image and any list that runs off it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kbd/cpu/emulator.h"
#include "kbd/image/mapped_image.h"
#include "kbd/model/layout.h"

namespace kbd {

// A pointer field of the tree: where it stands, where it points, what it is.
struct PointerSite {
    uint64_t    field = 0;   // virtual address of the pointer field
    uint64_t    target = 0;  // its value (0 for a null pointer)
    std::string what;
};

struct DecodeOptions {
    // Width of the tree's pointer fields in bytes: 4 or 8. 0 detects it: 8
    // for a 64-bit image; for a 32-bit one 4, or 8 (a WOW64 image) when the
    // tree does not read as valid with 4.
    unsigned pointerSize = 0;
    // When given, receives the instructions the export ran to return the
    // root (of the reading that succeeded).
    std::vector<Executed>* trace = nullptr;
};

struct Decoded {
    Layout   layout;
    uint64_t root = 0;         // address the export returned
    unsigned pointerSize = 4;
    std::vector<PointerSite> pointers;  // every pointer field read, in walk order
};

// The name of the export that returns the root record.
inline constexpr const char* kRootExport = "KbdLayerDescriptor";

Decoded decode(const MappedImage& image, const DecodeOptions& options = {});

// Reads, maps and decodes a file in one step.
Decoded decodeFile(const std::string& path, std::optional<uint64_t> base = {},
                   const DecodeOptions& options = {});

}  // namespace kbd
