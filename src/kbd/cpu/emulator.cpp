#include "kbd/cpu/emulator.h"

#include <algorithm>
#include <string>

#include <fmt/format.h>
#include <llvm/BinaryFormat/COFF.h>

namespace kbd {

namespace {

namespace COFF = llvm::COFF;

// A run of an export: what it returned or the message it failed with, and
// its trace.
struct Run {
    std::string           name;
    bool                  ok = false;
    uint64_t              result = 0;
    std::string           error;
    std::vector<Executed> trace;
};

// The runs of the mappings this thread ran exports of last, by
// MappedImage::id(): a mapping never changes, so each of its exports runs
// once. A few are enough, as a mapping is read as a whole before the next
// (the check maps the same file at a second base, and the first is read
// again after it); one pushed out runs again if asked. A slot is reused with
// the memory it holds, so that the runs of one image take no more than
// those of the image before: the fuzzer takes a run that allocates more
// than it frees for a leak and runs it again.
struct Runs {
    uint64_t         image = 0;  // 0 for a slot not used yet
    uint64_t         used = 0;   // when last asked for, for the least recently used
    size_t           count = 0;  // runs[0, count) are this mapping's
    std::vector<Run> runs;
};
constexpr size_t kRecentMappings = 4;

Runs& runsOf(const MappedImage& image) {
    thread_local Runs recent[kRecentMappings];
    thread_local uint64_t clock = 0;
    Runs* slot = &recent[0];
    for (Runs& r : recent) {
        if (r.image == image.id()) {
            slot = &r;
            break;
        }
        if (r.used < slot->used) slot = &r;
    }
    if (slot->image != image.id()) {
        slot->image = image.id();
        slot->count = 0;
    }
    slot->used = ++clock;
    return *slot;
}

// A new run in the slot, reusing a run kept from an earlier mapping.
Run& addRun(Runs& runs) {
    if (runs.count == runs.runs.size()) runs.runs.emplace_back();
    Run& run = runs.runs[runs.count++];
    run.ok = false;
    run.result = 0;
    run.error.clear();
    run.trace.clear();
    return run;
}

// Budget for one run of an export: a layout's export returns an address in a
// handful of instructions.
constexpr uint64_t kMaxInstructions = 10000;

uint64_t alignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

// Page protections for the mapping: headers read-only, each section as its
// characteristics say but never writable, and gaps inaccessible.
std::vector<uint32_t> pageProtections(const MappedImage& img) {
    std::vector<uint32_t> prot(alignUp(img.sizeOfImage(), kPageSize) / kPageSize, kPageNone);
    auto grant = [&](uint64_t start, uint64_t size, uint32_t p) {
        if (size == 0) return;
        for (uint64_t i = start / kPageSize; i < alignUp(start + size, kPageSize) / kPageSize && i < prot.size(); ++i)
            prot[i] |= p;
    };
    // The headers and the zero fill after them, up to the first section.
    uint64_t headers = img.sizeOfImage();
    for (const Section& s : img.sections())
        if (s.mappedSize()) headers = std::min<uint64_t>(headers, s.rva);
    grant(0, headers, kPageRead);
    for (const Section& s : img.sections()) {
        uint32_t p = kPageNone;
        if (s.characteristics & COFF::IMAGE_SCN_MEM_READ) p |= kPageRead;
        if (s.characteristics & COFF::IMAGE_SCN_MEM_EXECUTE) p |= kPageExec;
        grant(s.rva, s.mappedSize(), p);
    }
    return prot;
}

Isa isaOf(const MappedImage& img, std::string_view name) {
    const uint16_t m = img.machine();
    if (m == COFF::IMAGE_FILE_MACHINE_I386 && !img.is64()) return Isa::X86;
    if (m == COFF::IMAGE_FILE_MACHINE_AMD64 && img.is64()) return Isa::X64;
    if (m == COFF::IMAGE_FILE_MACHINE_ARM64 && img.is64()) return Isa::Arm64;
    throw Error(fmt::format("{}: cannot run code of machine {} in a {} image", name, hex(m),
                            img.is64() ? "PE32+" : "PE32"));
}

// The CPU model reports traps as interrupt numbers: vectors on x86, its own
// exception numbers on ARM64.
std::string describeInterrupt(Isa isa, uint32_t n) {
    if (isa == Isa::Arm64) {
        switch (n) {
        case 1: return "undefined instruction";
        case 2: return "system call (svc)";
        case 7: return "breakpoint (brk)";
        default: return fmt::format("CPU exception {}", n);
        }
    }
    switch (n) {
    case 0: return "divide error";
    case 1: return "debug trap (int1)";
    case 3: return "breakpoint (int3)";
    case 4: return "overflow trap (into)";
    case 5: return "bound range exceeded";
    case 6: return "invalid opcode";
    case 13: return "general-protection fault";
    default: return n >= 0x20 ? fmt::format("software interrupt (int {})", hex(n)) : fmt::format("interrupt {}", hex(n));
    }
}

// Turns how a run stopped into its result, or into the message that says
// what stopped it.
class Verdict {
public:
    Verdict(const MappedImage& img, std::string_view exportName, Isa isa)
        : img_(img), what_(exportName), isa_(isa) {}

    uint64_t result(const CpuStop& s) const {
        using Why = CpuStop::Why;
        switch (s.why) {
        case Why::Returned: return s.result;
        case Why::MemoryFault: memoryFault(s);
        case Why::Interrupt: fail("{} at pc {}", describeInterrupt(isa_, s.interrupt), place(s.pc));
        case Why::Forbidden:
            switch (s.forbidden->kind) {
            case Forbidden::Kind::Halt:
                fail("{} at pc {} halts the processor instead of returning", s.forbidden->name, place(s.pc));
            case Forbidden::Kind::SystemCall:
                fail("system call ({}) at pc {}: a layout's code calls nothing", s.forbidden->name, place(s.pc));
            case Forbidden::Kind::Privileged:
                fail("privileged instruction ({}) at pc {}", s.forbidden->name, place(s.pc));
            case Forbidden::Kind::Undefined:
                fail("invalid opcode ({}) at pc {}", s.forbidden->name, place(s.pc));
            }
            break;
        case Why::Budget: fail("did not return within {} instructions (stopped at pc {})", kMaxInstructions, place(s.pc));
        case Why::Halted: break;
        }
        if (s.err != 0) fail("{} at pc {}", cpuErrorText(s.err), place(s.pc));
        fail("the CPU model stopped at pc {} without the export returning", place(s.pc));
    }

private:
    template <class... A>
    [[noreturn]] void fail(fmt::format_string<A...> f, A&&... a) const {
        throw Error(fmt::format("{}: {}", what_, fmt::format(f, std::forward<A>(a)...)));
    }

    // Where an address is, for messages.
    std::string place(uint64_t va) const {
        if (img_.contains(va, 1)) return fmt::format("{} (RVA {})", hex(va), hex(va - img_.base()));
        return fmt::format("{}, outside the image", hex(va));
    }

    [[noreturn]] void memoryFault(const CpuStop& s) const {
        const uint64_t a = s.faultAddress;
        const bool inImage = img_.contains(a, 1);
        switch (s.faultAccess) {
        case CpuStop::Access::Fetch:
            if (!inImage) fail("execution left the image: jump to {} (at pc {})", hex(a), hex(s.pc));
            fail("jump to {}, which is not executable (at pc {})", place(a), hex(s.pc));
        case CpuStop::Access::Write:
            if (inImage) fail("write of {} bytes to {}: the image is read-only (at pc {})", s.faultSize, place(a), hex(s.pc));
            fail("write of {} bytes to unmapped address {} (at pc {})", s.faultSize, place(a), hex(s.pc));
        case CpuStop::Access::Read:
            break;
        }
        fail("read of {} bytes from {}, which is {} (at pc {})", s.faultSize, place(a),
             inImage ? "not readable" : "not mapped", hex(s.pc));
    }

    const MappedImage& img_;
    std::string_view   what_;
    Isa                isa_;
};

const Run& runOnce(const MappedImage& image, std::string_view name) {
    Runs& runs = runsOf(image);
    for (size_t i = 0; i < runs.count; ++i)
        if (runs.runs[i].name == name) return runs.runs[i];
    Run& run = addRun(runs);
    run.name = name;
    try {
        const std::optional<Export> e = image.findExport(name);
        if (!e) throw Error(fmt::format("no export named {}", name));
        if (e->rva >= image.sizeOfImage())
            throw Error(fmt::format("export {} at RVA {} lies outside the image (SizeOfImage {})", name, hex(e->rva),
                                    hex(image.sizeOfImage())));
        const std::vector<uint32_t> pages = pageProtections(image);
        if (!(pages[e->rva / kPageSize] & kPageExec))
            throw Error(fmt::format("export {} at RVA {} is not in an executable section", name, hex(e->rva)));
        const Isa isa = isaOf(image, name);
        CpuStop stop;
        try {
            stop = runOnCpu({isa, image.base(), image.memory(), pages, image.base() + e->rva, kMaxInstructions,
                             &run.trace});
        } catch (const CpuModelError& model) {
            throw Error(fmt::format("{}: {}", name, model.what()));
        }
        run.result = Verdict(image, name, isa).result(stop);
        run.ok = true;
    } catch (const Error& e) {
        run.error = e.what();
        run.trace.clear();
    }
    return run;
}

}  // namespace

uint64_t runExport(const MappedImage& image, std::string_view name, bool wide, std::vector<Executed>* executed) {
    const Run& run = runOnce(image, name);
    if (!run.ok) throw Error(run.error);
    if (executed) executed->insert(executed->end(), run.trace.begin(), run.trace.end());
    // A 32-bit image returns EAX, or EDX:EAX when asked for 64 bits.
    if (!image.is64() && !wide) return run.result & 0xFFFFFFFF;
    return run.result;
}

}  // namespace kbd
