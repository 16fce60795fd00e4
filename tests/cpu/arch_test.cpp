// The four images built from the same tables: x86, x64, ARM64 and WOW64.
// Each is read on its own CPU model, at a base of its own, and must give the
// same layout and type the same text.
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "kbd/check/check.h"
#include "kbd/cpu/forbidden.h"
#include "support/fixture.h"

using namespace kbd;

namespace {

struct Kind {
    const char* name;
    const char* path;
    uint16_t    machine;
    bool        is64;
    unsigned    pointerSize;
    uint8_t     relocationType;  // HIGHLOW 3, DIR64 10
    size_t      relocations;     // the 64-bit exports address the root PC-relatively
    uint64_t    base;            // a foreign base to map it at
};

const Kind kKinds[] = {
    {"x86", KBD_IMAGE_PATH, 0x14C, false, 4, 3, 99, 0x5A3C0000},
    {"x64", KBD_IMAGE_X64_PATH, 0x8664, true, 8, 10, 98, 0x7FF6A0000000},
    {"arm64", KBD_IMAGE_ARM64_PATH, 0xAA64, true, 8, 10, 98, 0x7FF6B0000000},
    {"wow64", KBD_IMAGE_WOW64_PATH, 0x14C, false, 8, 3, 99, 0x6B200000},
};

const std::vector<std::vector<std::string>> kSequences = {
    {"CapsLock", "AltGr+q", "Shift+AltGr+q", "q"},
    {"r", "Shift+4", "a", "m", "Shift+4", "a", "y", "a", "Period", "n", "a"},
    {"Shift+m", "u", "Period", "h", "a", "m", "m", "a", "d"},
    {"sc:2a+sc:03", "sc:39", "sc:29", "sc:1e", "e0:38+sc:2f", "sc:47", "e0:1c", "Ctrl+Back"},
    {"h", "h", "Shift+2", "b", "Comma", "Shift+s", "OEM_3", "OEM_2"},
};

}  // namespace

TEST(Architectures, EachImageHasItsMachinePointerWidthAndRelocations) {
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const auto img = MappedImage::load(k.path, k.base);
        EXPECT_EQ(img.machine(), k.machine);
        EXPECT_EQ(img.is64(), k.is64);
        EXPECT_EQ(img.relocations().size(), k.relocations);
        for (const auto& r : img.relocations()) EXPECT_EQ(r.type, k.relocationType);
        const Decoded d = decode(img);
        EXPECT_EQ(d.pointerSize, k.pointerSize);
        EXPECT_TRUE(img.contains(d.root, k.pointerSize == 4 ? 0x3C : 0x68));
        EXPECT_FALSE(img.hasImports());
        EXPECT_EQ(img.entryPoint(), 0u);
        EXPECT_EQ(img.exports().size(), 1u);
        EXPECT_EQ(img.exportDllName(), "kbdQelvo.dll");
        EXPECT_EQ(img.headerChecksum(), img.computedChecksum());
    }
}

TEST(Architectures, AllDecodeToTheSameLayoutAndTypeTheSame) {
    const Layout& x86 = kbdtest::layout();
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const Layout L = decodeFile(k.path, k.base).layout;
        EXPECT_EQ(L, x86);
        for (const auto& seq : kSequences) EXPECT_EQ(typeText(L, seq), typeText(x86, seq));
    }
}

TEST(Architectures, CheckPassesOnEveryImageAndSaysWhichPointersItFound) {
    for (const Kind& k : kKinds) {
        SCOPED_TRACE(k.name);
        const CheckReport r = checkImage(MappedImage::load(k.path));
        EXPECT_TRUE(r.ok());
        for (const auto& f : r.findings) EXPECT_EQ(f.level, Finding::Level::Note) << f.message;
        EXPECT_EQ(r.pointerSize, k.pointerSize);
    }
}

TEST(Architectures, TheWow64ExportReturnsA64BitAddressWithAZeroUpperHalf) {
    const auto img = MappedImage::load(KBD_IMAGE_WOW64_PATH, 0x6B200000);
    const uint64_t wide = runExport(img, kRootExport, true);
    EXPECT_EQ(wide >> 32, 0u);
    EXPECT_TRUE(img.contains(wide, 0x68));
    // Read as a native 32-bit tree it is not valid: the reading is detected,
    // and forcing 4-byte pointers fails rather than giving a wrong answer.
    EXPECT_THROW(decode(img, {4}), Error);
    EXPECT_EQ(decode(img, {8}).layout, kbdtest::layout());
}

TEST(Architectures, ExportsRunOneAfterAnotherOnTheKeptCpuModels) {
    // The CPU models are kept between runs: every image, at bases that
    // change from run to run, with a failing run between, must return the
    // same root as on its first run.
    std::vector<std::vector<uint8_t>> files;
    for (const Kind& k : kKinds) {
        std::ifstream in(k.path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<uint8_t> halting = files[0];
    kbdtest::ImageCopy x86;
    halting[x86.offsetOf(x86.img.base() + x86.img.findExport(kRootExport)->rva)] = 0xF4;  // hlt
    std::vector<uint64_t> roots(std::size(kKinds), 0);
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < std::size(kKinds); ++i) {
            const Kind& k = kKinds[i];
            SCOPED_TRACE(std::string(k.name) + " round " + std::to_string(round));
            const uint64_t base = k.base + static_cast<uint64_t>(round) * 0x10000000;
            const MappedImage img = MappedImage::fromBytes(files[i], base);
            const uint64_t root = runExport(img, kRootExport, k.pointerSize == 8) - base;
            if (round == 0) roots[i] = root;
            EXPECT_EQ(root, roots[i]);
            EXPECT_THROW(runExport(MappedImage::fromBytes(halting, 0x20000000 + 0x10000 * round), kRootExport), Error);
        }
    }
}

TEST(Architectures, InstructionsNoExportMayReachAreNamed) {
    auto name = [](Isa isa, std::vector<uint8_t> code) {
        const auto f = forbiddenInstruction(isa, code);
        return f ? std::string(f->name) : std::string();
    };
    auto arm = [](uint32_t insn) {
        return std::vector<uint8_t>{static_cast<uint8_t>(insn), static_cast<uint8_t>(insn >> 8),
                                    static_cast<uint8_t>(insn >> 16), static_cast<uint8_t>(insn >> 24)};
    };
    EXPECT_EQ(name(Isa::X86, {0xF3, 0x2E, 0xF4}), "hlt");  // behind prefixes
    EXPECT_EQ(name(Isa::X64, {0x48, 0x0F, 0x05}), "syscall");   // behind REX
    EXPECT_EQ(name(Isa::X64, {0x48, 0x66, 0xF4}), "hlt");       // REX before a prefix: the model takes it so
    // Encodings the model cannot translate, next to their forms that run.
    EXPECT_EQ(name(Isa::X64, {0xF0, 0x41, 0x0F, 0xBA, 0xE8, 1}), "lock bts on a register");
    EXPECT_EQ(name(Isa::X64, {0xF0, 0x41, 0x0F, 0xBA, 0x28, 1}), "");  // on memory
    EXPECT_EQ(name(Isa::X86, {0xF0, 0x39, 0xC0}), "");                 // lock cmp of registers
    EXPECT_EQ(name(Isa::X86, {0xFF, 0x28}), "");                       // far jmp through memory
    EXPECT_EQ(name(Isa::X86, {0x48, 0xF4}), "");                // 0x48 is dec eax in 32-bit code
    EXPECT_EQ(name(Isa::X86, {0x0F, 0x01, 0x10}), "lgdt");
    EXPECT_EQ(name(Isa::X86, {0x0F, 0x01, 0xD0}), "");          // xgetbv
    EXPECT_EQ(name(Isa::X64, {0x0F, 0x01, 0xF8}), "swapgs");
    EXPECT_EQ(name(Isa::X86, {0xB8, 0xF4, 0xF4, 0xF4, 0xF4}), "");
    EXPECT_EQ(name(Isa::X86, {0x0F}), "");                      // cut short
    EXPECT_EQ(name(Isa::Arm64, arm(0xD503207F)), "wfi");
    EXPECT_EQ(name(Isa::Arm64, arm(0xD4000001)), "svc");
    EXPECT_EQ(name(Isa::Arm64, arm(0xD5181000)), "msr to a system register");    // SCTLR_EL1
    EXPECT_EQ(name(Isa::Arm64, arm(0xD5384100)), "mrs from a system register");  // SP_EL0
    EXPECT_EQ(name(Isa::Arm64, arm(0xD50343DF)), "msr to a processor-state field");  // DAIFSet
    EXPECT_EQ(name(Isa::Arm64, arm(0xD508871F)), "a system instruction (cache, TLB or address translation)");
    for (uint32_t allowed : {0xD65F03C0u /* ret */, 0xD503201Fu /* nop */, 0xD53BD040u /* mrs tpidr_el0 */,
                             0xD5033FDFu /* isb */, 0xD50B7520u /* ic ivau */})
        EXPECT_EQ(name(Isa::Arm64, arm(allowed)), "") << std::hex << allowed;
}

TEST(Architectures, TheQuickTestPassesEveryForbiddenInstruction) {
    // The CPU model scans code at every offset with the one-byte test first:
    // it must never say no where the full decoding finds one.
    for (Isa isa : {Isa::X86, Isa::X64})
        for (unsigned a = 0; a < 256; ++a)
            for (unsigned b = 0; b < 256; ++b)
                for (uint8_t c : {0x00, 0x28, 0xC0, 0xE8, 0xF4}) {
                    const uint8_t code[] = {uint8_t(a), uint8_t(b), c, 0x01};
                    if (forbiddenInstruction(isa, code)) {
                        EXPECT_TRUE(mayBeForbidden(isa, code)) << a << " " << b;
                    }
                }
    uint32_t w = 1;
    for (int i = 0; i < 1 << 20; ++i) {
        w = w * 1664525 + 1013904223;
        for (uint32_t insn : {w, (w & 0x00FFFFFF) | 0xD5000000}) {
            const uint8_t code[] = {uint8_t(insn), uint8_t(insn >> 8), uint8_t(insn >> 16), uint8_t(insn >> 24)};
            if (forbiddenInstruction(Isa::Arm64, code)) {
                EXPECT_TRUE(mayBeForbidden(Isa::Arm64, code)) << std::hex << insn;
            }
        }
    }
}
