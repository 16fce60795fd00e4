// Running an export of a mapped image on a CPU model of the image's machine
// (x86, x64, ARM64), with the image's own page protections and a small
// budget, as the input subsystem calls a layout's one function.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "image.h"

namespace kbd {

// One instruction the CPU model ran: its address and length.
struct Executed {
    uint64_t address = 0;
    uint32_t size = 0;
};

// Runs the named export with no arguments against the mapping and returns
// what it returns (EAX for x86; for 32-bit code returning 64 bits, EDX:EAX
// when wide is true; RAX for x64; X0 for ARM64). Throws Error when the code
// faults, leaves the image, touches memory outside it or does not return
// within a small budget. When executed is given, every instruction run is
// appended to it.
uint64_t runExport(const MappedImage& image, std::string_view name, bool wide = false,
                   std::vector<Executed>* executed = nullptr);

}  // namespace kbd
