// Runs every encoding of a family on the CPU model, each as the first
// instruction of an export, and lists those the model cannot stand: the
// process dies (the engine aborts while translating or running it) or the run
// ends without a reason of its own. Each slice of encodings runs in a child
// process; when a child dies, the encoding it was on is listed and the sweep
// goes on after it. Not a test: it takes minutes.
//
//   kbd_cpu_sweep x86|x64|arm64 [FIRST COUNT [STEP]]
//
// x86 and x64: every opcode of the one-byte map and of 0F, 0F 38 and 0F 3A,
// with every ModRM byte, behind each of a set of prefixes. ARM64: COUNT
// encodings from FIRST, STEP apart (default: a million spread over the whole
// space, 4099 apart, so that every field takes many values).
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kbd/cpu/cpu_model.h"

using namespace kbd;

namespace {

constexpr uint64_t kBase = 0x10000000;

struct Family {
    Isa isa;
    std::vector<std::vector<uint8_t>> prefixes;
    uint64_t first = 0, count = 0, step = 1;
};

// Bytes of encoding `i` of the family.
std::vector<uint8_t> encoding(const Family& f, uint64_t i) {
    if (f.isa == Isa::Arm64) {
        const uint32_t w = static_cast<uint32_t>(f.first + i * f.step);
        return {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
    }
    static const std::vector<std::vector<uint8_t>> maps = {{}, {0x0F}, {0x0F, 0x38}, {0x0F, 0x3A}};
    const uint64_t modrm = i % 256, op = i / 256 % 256, map = i / 65536 % 4, prefix = i / 262144;
    std::vector<uint8_t> b = f.prefixes[prefix];
    b.insert(b.end(), maps[map].begin(), maps[map].end());
    b.push_back(uint8_t(op));
    b.push_back(uint8_t(modrm));
    return b;
}

std::string hexBytes(const std::vector<uint8_t>& b) {
    std::string s;
    for (uint8_t x : b) {
        char t[4];
        std::snprintf(t, sizeof t, "%02X ", x);
        s += t;
    }
    if (!s.empty()) s.pop_back();
    return s;
}

// Runs encodings [from, end) and reports the odd ones; `at` tells the parent
// where it is.
void sweep(const Family& f, uint64_t from, uint64_t end, volatile uint64_t* at) {
    std::vector<uint8_t> memory(0x2000, 0);
    const std::array<uint32_t, 2> pages{kPageRead | kPageExec, kPageRead};
    for (uint64_t i = from; i < end; ++i) {
        *at = i;
        const std::vector<uint8_t> b = encoding(f, i);
        std::fill(memory.begin(), memory.begin() + 32, f.isa == Isa::Arm64 ? 0 : 0xF4);  // hlt ends the block
        std::memcpy(memory.data(), b.data(), b.size());
        CpuStop s;
        try {
            s = runOnCpu({f.isa, kBase, memory, pages, kBase, 4, nullptr});
        } catch (const std::exception& e) {
            std::printf("model error  %s: %s\n", hexBytes(b).c_str(), e.what());
            continue;
        }
        if (s.why == CpuStop::Why::Forbidden && s.forbidden->kind == Forbidden::Kind::Undefined) continue;
        if (s.why == CpuStop::Why::Halted && s.err == 0)
            std::printf("no reason    %s (pc %llx)\n", hexBytes(b).c_str(), (unsigned long long)s.pc);
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string isa = argc > 1 ? argv[1] : "";
    Family f;
    const std::vector<std::vector<uint8_t>> common = {
        {}, {0x66}, {0x67}, {0xF2}, {0xF3}, {0xF0}, {0xF0, 0x66}, {0xF0, 0xF2}, {0xF0, 0xF3}, {0x66, 0xF2},
        {0x66, 0xF3}, {0x64}, {0xF0, 0x67}};
    if (isa == "x86") {
        f = {Isa::X86, common};
    } else if (isa == "x64") {
        f = {Isa::X64, common};
        for (std::vector<uint8_t> rex : {std::vector<uint8_t>{0x48}, {0x41}, {0x4F}, {0xF0, 0x48}, {0x66, 0x48},
                                         {0x48, 0xF0}, {0x40}})
            f.prefixes.push_back(rex);
    } else if (isa == "arm64") {
        f = {Isa::Arm64, {}, 0, uint64_t{1} << 20, 4099};
    } else {
        std::fprintf(stderr, "usage: kbd_cpu_sweep x86|x64|arm64 [FIRST COUNT [STEP]]\n");
        return 2;
    }
    uint64_t total = f.isa == Isa::Arm64 ? f.count : f.prefixes.size() * 4 * 65536;
    uint64_t from = 0;
    if (argc > 3) {
        from = std::strtoull(argv[2], nullptr, 0);
        total = from + std::strtoull(argv[3], nullptr, 0);
        if (f.isa == Isa::Arm64) f.first = from, f.step = argc > 4 ? std::strtoull(argv[4], nullptr, 0) : 1, total -= from, from = 0;
    }
    auto* at = static_cast<volatile uint64_t*>(
        mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    std::fflush(stdout);
    while (from < total) {
        *at = from;
        const pid_t child = fork();
        if (child == 0) {
            sweep(f, from, total, at);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) break;
        std::printf("process died %s (%s)\n", hexBytes(encoding(f, *at)).c_str(),
                    WIFSIGNALED(status) ? strsignal(WTERMSIG(status)) : "exit");
        std::fflush(stdout);
        from = *at + 1;
    }
    return 0;
}
