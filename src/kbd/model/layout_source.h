// A layout as its author keeps it: the tables an image holds, plus what the
// image's version block and its registration say about it (file name,
// description, maker, language, version). The .klc reader and writer and the
// layout compiler all work on this; the tables are the same Layout the
// decoder reads from an image, so a compiled layout can be diffed against the
// image it came from.
#pragma once

#include <cstdint>
#include <string>

#include "kbd/model/layout.h"

namespace kbd {

struct LayoutInfo {
    std::string name;         // file name without ".dll", at most 8 characters ("kbdqelvo")
    std::string description;  // the layout's display text (FileDescription)
    std::string company;      // CompanyName
    std::string copyright;    // LegalCopyright
    std::string localeName;   // BCP 47 name of the layout's language ("en-US")
    uint32_t    localeId = 0x0409;
    uint16_t    versionMajor = 1;  // the file version, major.minor.build.revision
    uint16_t    versionMinor = 0;
    uint16_t    versionBuild = 0;
    uint16_t    versionRevision = 0;
};

// The version's four numbers joined by `separator` ("1.0.3.13").
inline std::string versionText(const LayoutInfo& info, const std::string& separator) {
    return std::to_string(info.versionMajor) + separator + std::to_string(info.versionMinor) + separator +
           std::to_string(info.versionBuild) + separator + std::to_string(info.versionRevision);
}

struct LayoutSource {
    Layout     tables;
    LayoutInfo info;
};

}  // namespace kbd
