// Running an export of a mapped image on a CPU model of the image's machine
// (x86, x64, ARM64), with the image's own page protections and a small
// budget, as the input subsystem calls a layout's one function. A mapping
// never changes, so each of its exports runs once: later calls are given the
// first run's result (or error) and trace (kept for the last few mappings
// this thread ran code of, by MappedImage::id()).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "kbd/cpu/cpu_model.h"
#include "kbd/image/mapped_image.h"

namespace kbd {

// Runs the named export with no arguments against the mapping and returns
// what it returns (EAX for x86; for 32-bit code returning 64 bits, EDX:EAX
// when wide is true; RAX for x64; X0 for ARM64). Throws Error when the code
// faults, leaves the image, touches memory outside it, reaches an
// instruction no layout may use (forbidden.h) or does not return within a
// small budget; the message names what stopped it. When executed is given,
// every instruction run is appended to it.
uint64_t runExport(const MappedImage& image, std::string_view name, bool wide = false,
                   std::vector<Executed>* executed = nullptr);

}  // namespace kbd
