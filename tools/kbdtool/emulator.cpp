#include "emulator.h"

#include <algorithm>
#include <memory>

#include <fmt/format.h>
#include <llvm/BinaryFormat/COFF.h>
#include <llvm/Support/Endian.h>
#include <unicorn/unicorn.h>

namespace kbd {
namespace {

namespace COFF = llvm::COFF;
namespace endian = llvm::support::endian;

// Budget for one run of an export.
constexpr uint64_t kMaxInstructions = 10000;
constexpr uint64_t kTimeoutMicros = 2'000'000;
constexpr uint64_t kStackSize = 0x10000;

uint64_t alignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

// ---- Running an export -------------------------------------------------------

struct UcClose {
    void operator()(uc_engine* uc) const { uc_close(uc); }
};
using Engine = std::unique_ptr<uc_engine, UcClose>;

// What the hooks saw during one run.
struct RunState {
    uint64_t    sentinel = 0;
    bool        returned = false;
    bool        faulted = false;
    uc_mem_type faultType = UC_MEM_READ;
    uint64_t    faultAddress = 0;
    int         faultSize = 0;
    bool        interrupted = false;
    uint32_t    interrupt = 0;
};

bool onInvalidMemory(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
    auto& st = *static_cast<RunState*>(user);
    if (type == UC_MEM_FETCH_UNMAPPED && address == st.sentinel) {
        st.returned = true;
    } else if (!st.faulted) {
        st.faulted = true;
        st.faultType = type;
        st.faultAddress = address;
        st.faultSize = size;
    }
    return false;  // stop
}

void onInterrupt(uc_engine* uc, uint32_t intno, void* user) {
    auto& st = *static_cast<RunState*>(user);
    st.interrupted = true;
    st.interrupt = intno;
    uc_emu_stop(uc);
}

void onCode(uc_engine*, uint64_t address, uint32_t size, void* user) {
    static_cast<std::vector<Executed>*>(user)->push_back({address, size});
}

// Page protections for the mapping: headers read-only, each section as its
// characteristics say but never writable, and gaps inaccessible.
std::vector<uint32_t> pageProtections(const MappedImage& img) {
    std::vector<uint32_t> prot(alignUp(img.sizeOfImage(), kPageSize) / kPageSize, UC_PROT_NONE);
    auto grant = [&](uint64_t start, uint64_t size, uint32_t p) {
        if (size == 0) return;
        for (uint64_t i = start / kPageSize; i < alignUp(start + size, kPageSize) / kPageSize && i < prot.size(); ++i)
            prot[i] |= p;
    };
    // The headers and the zero fill after them, up to the first section.
    uint64_t headers = img.sizeOfImage();
    for (const Section& s : img.sections())
        if (s.mappedSize()) headers = std::min<uint64_t>(headers, s.rva);
    grant(0, headers, UC_PROT_READ);
    for (const Section& s : img.sections()) {
        uint32_t p = UC_PROT_NONE;
        if (s.characteristics & COFF::IMAGE_SCN_MEM_READ) p |= UC_PROT_READ;
        if (s.characteristics & COFF::IMAGE_SCN_MEM_EXECUTE) p |= UC_PROT_EXEC;
        grant(s.rva, s.mappedSize(), p);
    }
    return prot;
}

class Emulator {
public:
    Emulator(const MappedImage& img, std::string_view exportName)
        : img_(img), what_(exportName) {}

    uint64_t run(uint32_t rva, bool wide, std::vector<Executed>* executed) {
        const uint16_t machine = img_.machine();
        uc_arch arch;
        uc_mode mode;
        if (machine == COFF::IMAGE_FILE_MACHINE_I386 && !img_.is64()) {
            arch = UC_ARCH_X86, mode = UC_MODE_32;
        } else if (machine == COFF::IMAGE_FILE_MACHINE_AMD64 && img_.is64()) {
            arch = UC_ARCH_X86, mode = UC_MODE_64;
        } else if (machine == COFF::IMAGE_FILE_MACHINE_ARM64 && img_.is64()) {
            arch = UC_ARCH_ARM64, mode = UC_MODE_ARM;
        } else {
            throw Error(fmt::format("{}: cannot run code of machine {} in a {} image", what_, hex(machine),
                                    img_.is64() ? "PE32+" : "PE32"));
        }
        uc_engine* raw = nullptr;
        ucCheck(uc_open(arch, mode, &raw), "starting the CPU model");
        uc_.reset(raw);

        mapImage();
        const uint64_t stackTop = mapStack();
        const uint64_t entry = img_.base() + rva;

        uc_hook memHook = 0, intHook = 0;
        ucCheck(uc_hook_add(uc_.get(), &memHook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&onInvalidMemory),
                            &state_, 1, 0),
                "installing the memory hook");
        ucCheck(uc_hook_add(uc_.get(), &intHook, UC_HOOK_INTR, reinterpret_cast<void*>(&onInterrupt), &state_, 1,
                            0),
                "installing the interrupt hook");

        if (executed) {
            uc_hook codeHook = 0;
            ucCheck(uc_hook_add(uc_.get(), &codeHook, UC_HOOK_CODE, reinterpret_cast<void*>(&onCode), executed, 1,
                                0),
                    "installing the code hook");
        }

        switch (machine) {
        case COFF::IMAGE_FILE_MACHINE_I386: setUpX86(stackTop, false); break;
        case COFF::IMAGE_FILE_MACHINE_AMD64: setUpX86(stackTop, true); break;
        default: setUpArm64(stackTop); break;
        }

        const uc_err err = uc_emu_start(uc_.get(), entry, state_.sentinel, kTimeoutMicros, kMaxInstructions);
        const uint64_t pc = readPc(machine);
        if (!state_.returned && !(err == UC_ERR_OK && pc == state_.sentinel)) reportFailure(err, pc);

        switch (machine) {
        case COFF::IMAGE_FILE_MACHINE_I386: {
            const uint64_t eax = reg32(UC_X86_REG_EAX);
            return wide ? (reg32(UC_X86_REG_EDX) << 32 | eax) : eax;
        }
        case COFF::IMAGE_FILE_MACHINE_AMD64: return reg64(UC_X86_REG_RAX);
        default: return reg64(UC_ARM64_REG_X0);
        }
    }

private:
    void ucCheck(uc_err err, std::string_view doing) const {
        if (err != UC_ERR_OK) throw Error(fmt::format("{}: {}: {}", what_, doing, uc_strerror(err)));
    }

    uint64_t reg32(int id) const {
        uint32_t v = 0;
        ucCheck(uc_reg_read(uc_.get(), id, &v), "reading a register");
        return v;
    }
    uint64_t reg64(int id) const {
        uint64_t v = 0;
        ucCheck(uc_reg_read(uc_.get(), id, &v), "reading a register");
        return v;
    }
    void setReg32(int id, uint32_t v) { ucCheck(uc_reg_write(uc_.get(), id, &v), "setting a register"); }
    void setReg64(int id, uint64_t v) { ucCheck(uc_reg_write(uc_.get(), id, &v), "setting a register"); }

    uint64_t readPc(uint16_t machine) const {
        switch (machine) {
        case COFF::IMAGE_FILE_MACHINE_I386: return reg32(UC_X86_REG_EIP);
        case COFF::IMAGE_FILE_MACHINE_AMD64: return reg64(UC_X86_REG_RIP);
        default: return reg64(UC_ARM64_REG_PC);
        }
    }

    void mapImage() {
        const uint64_t base = img_.base();
        const uint64_t size = alignUp(img_.sizeOfImage(), kPageSize);
        ucCheck(uc_mem_map(uc_.get(), base, size, UC_PROT_ALL), "mapping the image");
        ucCheck(uc_mem_write(uc_.get(), base, img_.memory().data(), img_.memory().size()), "writing the image");
        const std::vector<uint32_t> prot = pageProtections(img_);
        for (size_t i = 0; i < prot.size();) {
            size_t j = i;
            while (j < prot.size() && prot[j] == prot[i]) ++j;
            ucCheck(uc_mem_protect(uc_.get(), base + i * kPageSize, (j - i) * kPageSize, prot[i]), "protecting the image");
            i = j;
        }
    }

    // Maps a stack clear of the image, with an unmapped page on each side,
    // and picks the return address: an unmapped page above the upper guard,
    // so that reaching it can only mean the export returned.
    uint64_t mapStack() {
        const uint64_t imageStart = img_.base();
        const uint64_t imageEnd = imageStart + alignUp(img_.sizeOfImage(), kPageSize);
        // Candidates 512 MiB apart; an image of at most 64 MiB meets one at most.
        for (uint64_t stack : {0x00100000ull, 0x20100000ull, 0x40100000ull, 0x60100000ull}) {
            const uint64_t lo = stack - kPageSize, hi = stack + kStackSize + 2 * kPageSize;
            if (hi <= imageStart || lo >= imageEnd) {
                ucCheck(uc_mem_map(uc_.get(), stack, kStackSize, UC_PROT_READ | UC_PROT_WRITE), "mapping the stack");
                state_.sentinel = stack + kStackSize + kPageSize;
                return stack + kStackSize;
            }
        }
        throw Error(fmt::format("{}: no room for a stack beside the image", what_));  // not reached
    }

    void setUpX86(uint64_t stackTop, bool x64) {
        // Let SSE instructions run: CR0.EM clear, CR0.MP and CR4.OSFXSR and
        // OSXMMEXCPT set.
        setReg64(UC_X86_REG_CR0, (reg64(UC_X86_REG_CR0) & ~uint64_t{1 << 2}) | (1 << 1));
        setReg64(UC_X86_REG_CR4, reg64(UC_X86_REG_CR4) | (1 << 9) | (1 << 10));
        if (x64) {
            // The caller's frame: 16-byte aligned with 32 bytes of home space
            // for the callee, then the return address pushed by the call.
            const uint64_t rsp = stackTop - 0x100 - 8;
            uint8_t ret[8];
            endian::write64le(ret, state_.sentinel);
            ucCheck(uc_mem_write(uc_.get(), rsp, ret, sizeof ret), "pushing the return address");
            setReg64(UC_X86_REG_RSP, rsp);
        } else {
            const uint64_t esp = stackTop - 0x100 - 4;
            uint8_t ret[4];
            endian::write32le(ret, static_cast<uint32_t>(state_.sentinel));
            ucCheck(uc_mem_write(uc_.get(), esp, ret, sizeof ret), "pushing the return address");
            setReg32(UC_X86_REG_ESP, static_cast<uint32_t>(esp));
        }
    }

    void setUpArm64(uint64_t stackTop) {
        // FP/SIMD access at EL0 and EL1 (CPACR_EL1.FPEN).
        setReg64(UC_ARM64_REG_CPACR_EL1, reg64(UC_ARM64_REG_CPACR_EL1) | (uint64_t{3} << 20));
        setReg64(UC_ARM64_REG_SP, stackTop - 0x100);
        setReg64(UC_ARM64_REG_X30, state_.sentinel);
    }

    // The CPU model reports traps as interrupt numbers: vectors on x86, its
    // own exception numbers on ARM64.
    std::string describeInterrupt() const {
        const uint32_t n = state_.interrupt;
        if (img_.machine() == COFF::IMAGE_FILE_MACHINE_ARM64) {
            switch (n) {
            case 1: return "undefined instruction";
            case 2: return "supervisor call (svc)";
            case 7: return "breakpoint (brk)";
            default: return fmt::format("CPU exception {}", n);
            }
        }
        switch (n) {
        case 1: return "debug trap (int1)";
        case 3: return "breakpoint (int3)";
        default: return fmt::format("interrupt {}", hex(n));
        }
    }

    // Where an address is, for messages.
    std::string place(uint64_t va) const {
        if (img_.contains(va, 1)) return fmt::format("{} (RVA {})", hex(va), hex(va - img_.base()));
        return fmt::format("{}, outside the image", hex(va));
    }

    [[noreturn]] void reportFailure(uc_err err, uint64_t pc) const {
        if (state_.faulted) {
            const uint64_t a = state_.faultAddress;
            switch (state_.faultType) {
            case UC_MEM_FETCH_UNMAPPED:
            case UC_MEM_FETCH_PROT:
                if (!img_.contains(a, 1))
                    throw Error(fmt::format("{}: execution left the image: jump to {} (at pc {})", what_, hex(a),
                                            hex(pc)));
                throw Error(fmt::format("{}: jump to {}, which is not executable (at pc {})", what_, place(a),
                                        hex(pc)));
            case UC_MEM_WRITE_PROT:
            case UC_MEM_WRITE_UNMAPPED:
                if (img_.contains(a, 1))
                    throw Error(fmt::format("{}: write of {} bytes to {}: the image is read-only (at pc {})", what_,
                                            state_.faultSize, place(a), hex(pc)));
                throw Error(fmt::format("{}: write of {} bytes to unmapped address {} (at pc {})", what_,
                                        state_.faultSize, place(a), hex(pc)));
            default:
                throw Error(fmt::format("{}: read of {} bytes from {}, which is {} (at pc {})", what_,
                                        state_.faultSize, place(a),
                                        img_.contains(a, 1) ? "not readable" : "not mapped", hex(pc)));
            }
        }
        if (state_.interrupted)
            throw Error(fmt::format("{}: {} at pc {}", what_, describeInterrupt(), place(pc)));
        if (err != UC_ERR_OK) throw Error(fmt::format("{}: {} at pc {}", what_, uc_strerror(err), place(pc)));
        throw Error(fmt::format("{}: did not return within {} instructions or {} ms (stopped at pc {})", what_,
                                kMaxInstructions, kTimeoutMicros / 1000, place(pc)));
    }

    const MappedImage& img_;
    std::string        what_;
    Engine             uc_;
    RunState           state_;
};

}  // namespace

uint64_t runExport(const MappedImage& image, std::string_view name, bool wide, std::vector<Executed>* executed) {
    const std::optional<Export> e = image.findExport(name);
    if (!e) throw Error(fmt::format("no export named {}", name));
    if (e->rva >= image.sizeOfImage())
        throw Error(fmt::format("export {} at RVA {} lies outside the image (SizeOfImage {})", name, hex(e->rva),
                                hex(image.sizeOfImage())));
    if (!(pageProtections(image)[e->rva / kPageSize] & UC_PROT_EXEC))
        throw Error(fmt::format("export {} at RVA {} is not in an executable section", name, hex(e->rva)));
    return Emulator(image, name).run(e->rva, wide, executed);
}

}  // namespace kbd
