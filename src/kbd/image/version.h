// The resources of a mapped image and its version block (VS_VERSIONINFO),
// read with every offset and length checked against the mapping.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kbd/image/mapped_image.h"

namespace kbd {

// One leaf of the resource tree: type / name / language, and its data.
struct Resource {
    uint32_t type = 0;       // numeric type (RT_VERSION = 16); 0 when named
    uint32_t id = 0;         // numeric name; 0 when named
    std::u16string name;     // string name, when the resource is named
    uint32_t language = 0;
    uint32_t dataRva = 0;
    uint32_t size = 0;
};

inline constexpr uint32_t RT_VERSION = 16;

// Every resource of the image; empty when it has none.
std::vector<Resource> readResources(const MappedImage& image);

struct FixedFileInfo {
    uint32_t signature = 0, structVersion = 0;
    uint32_t fileVersionMS = 0, fileVersionLS = 0, productVersionMS = 0, productVersionLS = 0;
    uint32_t fileFlagsMask = 0, fileFlags = 0, fileOS = 0, fileType = 0, fileSubtype = 0;
    uint32_t fileDateMS = 0, fileDateLS = 0;
};

struct VersionInfo {
    uint32_t      language = 0;  // of the resource
    std::string   key;           // "VS_VERSION_INFO"
    FixedFileInfo fixed;
    struct StringTable {
        std::string key;  // language and code page, "000004B0"
        std::vector<std::pair<std::string, std::string>> strings;  // in file order
    };
    std::vector<StringTable> stringTables;
    std::vector<std::pair<uint16_t, uint16_t>> translations;  // language, code page
};

// Decodes a VS_VERSIONINFO block; throws kbd::Error when it is malformed.
VersionInfo parseVersionInfo(const std::vector<uint8_t>& block);

// The image's version block (RT_VERSION, name 1), or none when it has none.
// Throws kbd::Error when the resource tree or the block is malformed.
std::optional<VersionInfo> readVersion(const MappedImage& image);

}  // namespace kbd
