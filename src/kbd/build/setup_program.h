// A layout's setup: the project's setup program linked again for each
// machine (x86, x64, ARM64) with the layout's identity and its four images as
// resources, so that any layout installs, upgrades, repairs and uninstalls
// as ours does.
#pragma once

#include <string>
#include <vector>

#include "kbd/build/compiler.h"
#include "kbd/build/toolchain.h"
#include "kbd/model/layout_source.h"

namespace kbd::build {

// The setup's identity record for a layout (installer/identity.h): its file,
// text and language, its version, its maker, a marker and an Active Setup id
// of its own, both derived from its file name. Throws kbd::Error when the
// layout says something the setup cannot carry (a text over 31 characters).
std::string setupIdentity(const LayoutInfo& info);

// Writes OUT/NAME-setup-<machine>.exe for each machine, carrying the images
// `built` holds. Throws kbd::Error, writing no setup, when anything fails.
std::vector<std::string> buildSetups(const LayoutSource& source, const BuildResult& built, const std::string& outDir,
                                     const Toolchain& tools);

}  // namespace kbd::build
