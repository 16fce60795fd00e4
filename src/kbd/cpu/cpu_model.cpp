#include "kbd/cpu/cpu_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include <unicorn/unicorn.h>

namespace kbd {
namespace {

constexpr uint64_t kPage = 0x1000;
constexpr uint64_t kStackSize = 0x10000;
// Longest x86 instruction; enough bytes for the forbidden-instruction test.
constexpr size_t kMaxInstruction = 15;
// The model keeps the code it translated, even that it was told to drop,
// until its buffer of a gigabyte is full; then it drops it all, which
// touches the whole buffer. An engine is closed instead (which frees it)
// once it may have translated this many instructions: some 30 MB of code.
constexpr uint64_t kTranslatedPerEngine = uint64_t{1} << 19;
// Instructions the model translates past the last one a run reaches: the
// rest of its block, at most.
constexpr uint64_t kBlockTail = 512;

uint32_t ucProt(uint32_t access) {
    uint32_t p = UC_PROT_NONE;
    if (access & kPageRead) p |= UC_PROT_READ;
    if (access & kPageWrite) p |= UC_PROT_WRITE;
    if (access & kPageExec) p |= UC_PROT_EXEC;
    return p;
}

struct Region {
    uint64_t address = 0, size = 0;
    uint32_t prot = 0;
    bool operator==(const Region&) const = default;
};

// What the hooks see and record during one run.
struct RunState {
    uint64_t                 sentinel = 0;
    uint64_t                 max = 0;
    uint64_t                 count = 0;
    std::vector<Executed>*   trace = nullptr;
    bool                     returned = false, budget = false, faulted = false, interrupted = false;
    uc_mem_type              faultType = UC_MEM_READ;
    uint64_t                 faultAddress = 0;
    int                      faultSize = 0;
    uint32_t                 interrupt = 0;
};

// Forbidden instructions never reach this hook: the model stops at them as
// exits, before translating them.
void onCode(uc_engine* uc, uint64_t address, uint32_t size, void* user) {
    RunState& st = *static_cast<RunState*>(user);
    if (++st.count > st.max) {
        st.budget = true;
        uc_emu_stop(uc);
        return;
    }
    if (st.trace) st.trace->push_back({address, size});
}

bool onInvalidMemory(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* user) {
    RunState& st = *static_cast<RunState*>(user);
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
    RunState& st = *static_cast<RunState*>(user);
    st.interrupted = true;
    st.interrupt = intno;
    uc_emu_stop(uc);
}

class Cpu {
public:
    explicit Cpu(Isa isa) : isa_(isa) {
        uc_arch arch = UC_ARCH_X86;
        uc_mode mode = UC_MODE_32;
        if (isa == Isa::X64) mode = UC_MODE_64;
        if (isa == Isa::Arm64) arch = UC_ARCH_ARM64, mode = UC_MODE_ARM;
        uc_engine* raw = nullptr;
        check(uc_open(arch, mode, &raw), "starting the CPU model");
        uc_.reset(raw);
        uc_hook h = 0;
        check(uc_hook_add(uc(), &h, UC_HOOK_CODE, reinterpret_cast<void*>(&onCode), &state_, 1, 0),
              "installing the code hook");
        check(uc_hook_add(uc(), &h, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&onInvalidMemory), &state_, 1, 0),
              "installing the memory hook");
        check(uc_hook_add(uc(), &h, UC_HOOK_INTR, reinterpret_cast<void*>(&onInterrupt), &state_, 1, 0),
              "installing the interrupt hook");
        // Runs end at the addresses of forbidden instructions (exits), and at
        // nothing else: the return address is never mapped, and fetching it
        // is how a run ends well.
        check(uc_ctl_exits_enable(uc()), "enabling exits");
        if (isa == Isa::Arm64) {
            // FP/SIMD access at EL0 and EL1 (CPACR_EL1.FPEN).
            setReg(UC_ARM64_REG_CPACR_EL1, reg(UC_ARM64_REG_CPACR_EL1) | (uint64_t{3} << 20));
        } else {
            // Let SSE instructions run: CR0.EM clear, CR0.MP and CR4.OSFXSR
            // and OSXMMEXCPT set.
            setReg(UC_X86_REG_CR0, (reg(UC_X86_REG_CR0) & ~uint64_t{1 << 2}) | (1 << 1));
            setReg(UC_X86_REG_CR4, reg(UC_X86_REG_CR4) | (1 << 9) | (1 << 10));
        }
        // The registers every run starts from.
        uc_context* ctx = nullptr;
        check(uc_context_alloc(uc(), &ctx), "saving the CPU state");
        fresh_.reset(ctx);
        check(uc_context_save(uc(), fresh_.get()), "saving the CPU state");
    }

    // True when the image's blocks are mapped as `want` says already.
    bool holds(const std::vector<Region>& want) const { return mapped_ == want; }

    // True when the engine has translated enough to be closed.
    bool worn() const { return translated_ > kTranslatedPerEngine; }

    CpuStop run(const CpuRun& r, const std::vector<Region>& want) {
        if (r.maxInstructions == 0) throw CpuModelError("CPU model: a run needs an instruction budget");
        const uint64_t stackTop = load(r, want);
        check(uc_context_restore(uc(), fresh_.get()), "resetting the CPU state");
        state_ = RunState{};
        state_.sentinel = stackTop + kPage;
        state_.max = r.maxInstructions;
        state_.trace = r.trace;
        pushReturnAddress(stackTop);

        const uc_err err = uc_emu_start(uc(), r.entry, 0, 0, 0);
        // The model holds its exits in nodes it allocates, one per address;
        // they are set afresh for every run and dropped after it, so that a
        // run gives back all it takes and what the next image holds does not
        // depend on how many exits the last one had (the fuzzer takes a run
        // that allocates more than it frees for a leak and runs it again).
        check(uc_ctl_set_exits(uc(), nullptr, 0), "dropping the exits");
        // Code that was dropped was translated anew as far as the run went.
        if (dropped_) translated_ += state_.count + kBlockTail;
        dropped_ = false;
        CpuStop stop;
        stop.pc = pc();
        stop.err = err;
        std::optional<Forbidden> forbidden;
        if (err == UC_ERR_OK && !state_.budget && !state_.interrupted && !state_.returned)
            forbidden = forbiddenAt(stop.pc);
        if (forbidden) {
            stop.why = CpuStop::Why::Forbidden;
            stop.forbidden = forbidden;
        } else if (state_.budget) {
            stop.why = CpuStop::Why::Budget;
        } else if (state_.returned || (err == UC_ERR_OK && stop.pc == state_.sentinel)) {
            stop.why = CpuStop::Why::Returned;
            stop.result = result();
            stop.err = 0;
        } else if (state_.faulted) {
            stop.why = CpuStop::Why::MemoryFault;
            stop.faultAddress = state_.faultAddress;
            stop.faultSize = state_.faultSize;
            switch (state_.faultType) {
            case UC_MEM_FETCH_UNMAPPED: stop.faultUnmapped = true; [[fallthrough]];
            case UC_MEM_FETCH_PROT: stop.faultAccess = CpuStop::Access::Fetch; break;
            case UC_MEM_WRITE_UNMAPPED: stop.faultUnmapped = true; [[fallthrough]];
            case UC_MEM_WRITE_PROT: stop.faultAccess = CpuStop::Access::Write; break;
            case UC_MEM_READ_UNMAPPED: stop.faultUnmapped = true; [[fallthrough]];
            default: stop.faultAccess = CpuStop::Access::Read; break;
            }
        } else if (state_.interrupted) {
            stop.why = CpuStop::Why::Interrupt;
            stop.interrupt = state_.interrupt;
        }
        return stop;
    }

private:
    struct Close {
        void operator()(uc_engine* uc) const { uc_close(uc); }
        void operator()(uc_context* c) const { uc_context_free(c); }
    };
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };

    uc_engine* uc() const { return uc_.get(); }

    void check(uc_err err, const char* doing) const {
        if (err != UC_ERR_OK) throw CpuModelError(std::string("CPU model: ") + doing + ": " + uc_strerror(err));
    }
    uint64_t reg(int id) const {
        uint64_t v = 0;  // the model writes 4 bytes for a 32-bit register
        check(uc_reg_read(uc(), id, &v), "reading a register");
        return v;
    }
    void setReg(int id, uint64_t v) { check(uc_reg_write(uc(), id, &v), "setting a register"); }

    uint64_t pc() const {
        switch (isa_) {
        case Isa::X86: return reg(UC_X86_REG_EIP) & 0xFFFFFFFF;
        case Isa::X64: return reg(UC_X86_REG_RIP);
        case Isa::Arm64: return reg(UC_ARM64_REG_PC);
        }
        return 0;
    }

    uint64_t result() const {
        switch (isa_) {
        case Isa::X86: return (reg(UC_X86_REG_EDX) & 0xFFFFFFFF) << 32 | (reg(UC_X86_REG_EAX) & 0xFFFFFFFF);
        case Isa::X64: return reg(UC_X86_REG_RAX);
        case Isa::Arm64: return reg(UC_ARM64_REG_X0);
        }
        return 0;
    }

    // The caller's frame: the return address where the callee finds it.
    void pushReturnAddress(uint64_t stackTop) {
        const uint64_t ret = state_.sentinel;
        switch (isa_) {
        case Isa::X86: {
            const uint64_t esp = stackTop - 0x100 - 4;
            const uint32_t v = static_cast<uint32_t>(ret);
            std::memcpy(stackBytes(esp), &v, sizeof v);
            setReg(UC_X86_REG_ESP, esp);
            break;
        }
        case Isa::X64: {
            // 16-byte aligned with 32 bytes of home space for the callee,
            // then the return address pushed by the call.
            const uint64_t rsp = stackTop - 0x100 - 8;
            std::memcpy(stackBytes(rsp), &ret, sizeof ret);
            setReg(UC_X86_REG_RSP, rsp);
            break;
        }
        case Isa::Arm64:
            setReg(UC_ARM64_REG_SP, stackTop - 0x100);
            setReg(UC_ARM64_REG_X30, ret);
            break;
        }
    }

    // Makes the engine's memory the image's blocks and a stack, reusing what
    // the last run mapped where it matches; returns the stack's top. The
    // memory is this object's own (mapped by pointer), so it is written
    // directly: writing through the model into pages it holds read-only
    // costs a rebuild of its memory map each time.
    uint64_t load(const CpuRun& r, const std::vector<Region>& want) {
        const uint64_t imageSize = r.pages.size() * kPage;
        if (r.memory.size() > imageSize) throw CpuModelError("CPU model: the image is larger than its pages");
        // A stack clear of the image with an unmapped page on each side, and
        // above the upper guard the return address, which is never mapped:
        // reaching it can only mean the export returned. Candidates are 512
        // MiB apart and an image is smaller, so it meets one at most.
        const uint64_t imageEnd = r.base + imageSize;
        uint64_t stack = 0;
        for (uint64_t s : {0x00100000ull, 0x20100000ull, 0x40100000ull, 0x60100000ull}) {
            if (s + kStackSize + 2 * kPage <= r.base || s - kPage >= imageEnd) {
                stack = s;
                break;
            }
        }
        if (stack == 0) throw CpuModelError("CPU model: no room for a stack beside the image");

        // The last stack goes first when it moves: the new image may lie where it was.
        if (stack != stackAt_ && stackAt_) {
            check(uc_mem_unmap(uc(), stackAt_, kStackSize), "unmapping the stack");
            stackAt_ = 0;
        }
        const bool kept = want == mapped_;
        if (!kept) {
            for (const Region& m : mapped_) check(uc_mem_unmap(uc(), m.address, m.size), "unmapping the last image");
            mapped_.clear();
            if (imageSize > capacity_) {
                image_.reset(static_cast<uint8_t*>(std::aligned_alloc(kPage, imageSize)));
                if (!image_) throw std::bad_alloc();
                capacity_ = imageSize;
            }
            for (const Region& w : want)
                check(uc_mem_map_ptr(uc(), w.address, w.size, w.prot, image_.get() + (w.address - r.base)),
                      "mapping the image");
            mapped_ = want;
        }
        if (stack != stackAt_) {
            if (!stack_) stack_.reset(static_cast<uint8_t*>(std::aligned_alloc(kPage, kStackSize)));
            if (!stack_) throw std::bad_alloc();
            check(uc_mem_map_ptr(uc(), stack, kStackSize, UC_PROT_READ | UC_PROT_WRITE, stack_.get()),
                  "mapping the stack");
            stackAt_ = stack;
        }
        std::memset(stack_.get(), 0, kStackSize);

        // New bytes replace the old. The code cannot write to the image, so
        // the bytes there are still those of the last image loaded; code
        // translated from bytes that changed is dropped, and only that:
        // translating again costs more than the run.
        if (!kept || loadedSize_ != r.memory.size()) {
            std::memcpy(image_.get(), r.memory.data(), r.memory.size());
            std::memset(image_.get() + r.memory.size(), 0, imageSize - r.memory.size());
            // Blocks mapped anew can still find code the model translated
            // from the last image at these addresses: drop it too.
            dropTranslated(r.base, imageEnd);
            loadedSize_ = r.memory.size();
            base_ = r.base;
            mappedSize_ = imageSize;
            exits_.clear();
            findExits(0, imageSize);
        } else {
            rewrite(r.base, r.memory);
        }
        check(uc_ctl_set_exits(uc(), exits_.data(), exits_.size()), "setting the exits");
        return stack + kStackSize;
    }

    // Adds the address of each forbidden instruction that starts in
    // [from, to) of the image's executable blocks to the exits, in order.
    // The bytes after the image's own, up to the end of its pages, are the
    // zeros that the model reads there too.
    void findExits(uint64_t from, uint64_t to) {
        const size_t step = isa_ == Isa::Arm64 ? 4 : 1;  // ARM64 code is 4-byte aligned
        std::vector<uint64_t> found;
        for (const Region& m : mapped_) {
            if (!(m.prot & UC_PROT_EXEC)) continue;
            const uint64_t begin = std::max(from, m.address - base_), end = std::min(to, m.address + m.size - base_);
            for (uint64_t off = (begin + step - 1) / step * step; off < end; off += step) {
                const std::span<const uint8_t> code(image_.get() + off, std::min<uint64_t>(kMaxInstruction, mappedSize_ - off));
                if (mayBeForbidden(isa_, code) && forbiddenInstruction(isa_, code)) found.push_back(base_ + off);
            }
        }
        const auto at = std::lower_bound(exits_.begin(), exits_.end(), base_ + from);
        exits_.insert(at, found.begin(), found.end());
    }

    // The forbidden instruction a run stopped at, if it stopped at an exit.
    std::optional<Forbidden> forbiddenAt(uint64_t pc) const {
        if (!std::binary_search(exits_.begin(), exits_.end(), pc)) return std::nullopt;
        const uint64_t off = pc - base_;
        return forbiddenInstruction(isa_, {image_.get() + off, std::min<uint64_t>(kMaxInstruction, mappedSize_ - off)});
    }

    // Writes the bytes of the image that differ from those mapped, and drops
    // the code translated from each changed stretch.
    void rewrite(uint64_t base, std::span<const uint8_t> bytes) {
        constexpr size_t kChunk = 64;
        uint8_t* mapped = image_.get();
        for (size_t at = 0; at < bytes.size();) {
            const size_t n = std::min(kChunk, bytes.size() - at);
            if (std::memcmp(mapped + at, bytes.data() + at, n) == 0) {
                at += n;
                continue;
            }
            size_t end = at + n;  // a stretch of changed chunks
            while (end < bytes.size() &&
                   std::memcmp(mapped + end, bytes.data() + end, std::min(kChunk, bytes.size() - end)) != 0)
                end += std::min(kChunk, bytes.size() - end);
            std::memcpy(mapped + at, bytes.data() + at, end - at);
            dropTranslated(base + at, base + end);
            // An instruction that starts up to 14 bytes earlier reads the
            // changed bytes too.
            const uint64_t from = at > kMaxInstruction - 1 ? at - (kMaxInstruction - 1) : 0;
            exits_.erase(std::lower_bound(exits_.begin(), exits_.end(), base + from),
                         std::lower_bound(exits_.begin(), exits_.end(), base + end));
            findExits(from, end);
            at = end;
        }
    }

    // Drops the code translated from [begin, end), one mapped block at a
    // time: the model finds a block's memory from the range's first address
    // and takes the rest as lying in the same block, so a range that crosses
    // into the next block would miss the code translated there.
    void dropTranslated(uint64_t begin, uint64_t end) {
        for (const Region& m : mapped_) {
            if (!(m.prot & UC_PROT_EXEC)) continue;  // no code is translated from it
            const uint64_t b = std::max(begin, m.address), e = std::min(end, m.address + m.size);
            if (b >= e) continue;
            check(uc_ctl_remove_cache(uc(), b, e), "dropping translated code");
            dropped_ = true;
        }
    }

    uint8_t* stackBytes(uint64_t va) { return stack_.get() + (va - stackAt_); }

    Isa                                isa_;
    // Declared before the engine: it must be closed before they are freed.
    std::unique_ptr<uint8_t, Free>     image_;  // the image's pages, mapped by pointer
    size_t                             capacity_ = 0;
    std::unique_ptr<uint8_t, Free>     stack_;
    uint64_t                           stackAt_ = 0;
    std::vector<Region>                mapped_;  // the image's blocks as mapped now
    uint64_t                           loadedSize_ = 0;  // bytes of the image in them
    uint64_t                           base_ = 0, mappedSize_ = 0;  // where they are and their pages' size
    std::vector<uint64_t>              exits_;  // forbidden instructions in them, in order
    bool                               dropped_ = false;  // translated code dropped since the last run
    uint64_t                           translated_ = 0;   // instructions translated, at most
    std::unique_ptr<uc_engine, Close>  uc_;
    std::unique_ptr<uc_context, Close> fresh_;
    RunState                           state_;
};

// The image's blocks of same-protection pages, as the engine maps them.
std::vector<Region> blocksOf(const CpuRun& r) {
    std::vector<Region> out;
    for (size_t i = 0; i < r.pages.size();) {
        size_t j = i;
        while (j < r.pages.size() && r.pages[j] == r.pages[i]) ++j;
        out.push_back({r.base + i * kPage, (j - i) * kPage, ucProt(r.pages[i])});
        i = j;
    }
    return out;
}

}  // namespace

CpuStop runOnCpu(const CpuRun& run) {
    // A few engines per instruction set, most recently used first: the same
    // image is mapped at two bases in turn (the check maps it at a second
    // one), and mapping anew costs far more than rewriting what changed.
    constexpr size_t kEngines = 3;
    thread_local std::vector<std::unique_ptr<Cpu>> pools[3];
    std::vector<std::unique_ptr<Cpu>>& engines = pools[static_cast<int>(run.isa)];
    const std::vector<Region> want = blocksOf(run);
    auto it = std::find_if(engines.begin(), engines.end(), [&](const auto& e) { return e->holds(want); });
    if (it == engines.end() && engines.size() < kEngines) {
        engines.push_back(std::make_unique<Cpu>(run.isa));
        it = engines.end() - 1;
    } else if (it == engines.end()) {
        it = engines.end() - 1;  // the least recently used
    }
    std::rotate(engines.begin(), it, it + 1);
    try {
        const CpuStop stop = engines.front()->run(run, want);
        if (engines.front()->worn()) engines.erase(engines.begin());
        return stop;
    } catch (...) {
        engines.erase(engines.begin());  // its mappings are in doubt: start afresh next time
        throw;
    }
}

const char* cpuErrorText(int err) { return uc_strerror(static_cast<uc_err>(err)); }

}  // namespace kbd
