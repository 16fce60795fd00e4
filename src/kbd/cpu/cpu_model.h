// The CPU model an export runs on, kept for the life of the thread: one
// engine per instruction set, started once. Starting an engine costs
// milliseconds, more than everything else the reader does with a layout, so
// each run only resets what the last one left: the registers, the stack, and
// the image's pages (mapped once per block of same-protection pages, and
// only rewritten when the next image has the same blocks).
//
// Every run is bounded by an instruction budget that the code hook counts; no
// timer thread is needed. Runs stop before any forbidden instruction
// (forbidden.h), which the model would otherwise run quietly or fail to
// translate: each is an exit, an address the model ends a run at without
// translating what is there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

#include "kbd/cpu/forbidden.h"

namespace kbd {

// One instruction the CPU model ran: its address and length.
struct Executed {
    uint64_t address = 0;
    uint32_t size = 0;
};

// Page protections of the mapped image, as bits.
enum PageAccess : uint32_t { kPageNone = 0, kPageRead = 1, kPageWrite = 2, kPageExec = 4 };

struct CpuRun {
    Isa                            isa = Isa::X86;
    uint64_t                       base = 0;   // where the image is mapped
    std::span<const uint8_t>       memory;     // the mapped image
    std::span<const uint32_t>      pages;      // PageAccess bits of each 4 KiB page of it
    uint64_t                       entry = 0;  // address to start at
    uint64_t                       maxInstructions = 0;
    std::vector<Executed>*         trace = nullptr;  // receives every instruction run, when given
};

// How a run ended, and what it left.
struct CpuStop {
    enum class Why {
        Returned,    // reached the return address: `result` holds the return value
        MemoryFault, // faultType/faultAddress/faultSize say which access
        Interrupt,   // a trap the model raised: `interrupt`
        Forbidden,   // stopped before `forbidden` at pc
        Budget,      // ran maxInstructions without returning
        Halted,      // the model stopped on its own (err tells why, if it says)
    };
    enum class Access { Fetch, Read, Write };
    Why        why = Why::Halted;
    uint64_t   pc = 0;
    uint64_t   result = 0;  // EDX:EAX (x86), RAX (x64), X0 (ARM64)
    Access     faultAccess = Access::Read;
    bool       faultUnmapped = false;  // else a protection fault
    uint64_t   faultAddress = 0;
    int        faultSize = 0;
    uint32_t   interrupt = 0;
    std::optional<Forbidden> forbidden;
    int        err = 0;  // the model's own error code, 0 when none
};

// The CPU model itself failed (could not start, map or reset): not a fault
// of the image, which the caller names when it reports it.
class CpuModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Runs code on this thread's engine for the instruction set. Throws
// CpuModelError only when the model itself fails.
CpuStop runOnCpu(const CpuRun& run);

// The model's text for an error code of CpuStop::err.
const char* cpuErrorText(int err);

}  // namespace kbd
