// Compiling a layout from its source into the four images (x86, x64, arm64,
// wow64), each checked and read back before any is written.
#pragma once

#include <string>
#include <vector>

#include "kbd/build/toolchain.h"
#include "kbd/check/check.h"
#include "kbd/model/layout_source.h"

namespace kbd::build {

struct BuiltImage {
    std::string          kind;   // x86, x64, arm64, wow64
    std::string          path;   // OUT/kind/NAME.dll
    std::vector<Finding> notes;  // of the check; an image with errors is never written
};

struct BuildResult {
    std::vector<BuiltImage>  images;
    std::vector<std::string> sources;  // OUT/source/NAME.cpp, .def, .rc
};

// Writes the layout's sources, compiles and links every kind in a scratch
// folder, checks each image and compares its tables with the source's, and
// only then puts OUT/<kind>/NAME.dll and OUT/source/ in place. Throws
// kbd::Error, writing no image, when anything fails.
BuildResult buildLayout(const LayoutSource& source, const std::string& outDir, const Toolchain& tools);

}  // namespace kbd::build
