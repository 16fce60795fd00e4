// The mapper against copies of the built image damaged one field at a time,
// against export code replaced by short faulting sequences, and at bases
// across the 32-bit address space. Every fault must be a kbd::Error naming
// what is at fault; nothing may crash.
#include <cstring>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

#include "support/fixture.h"

using namespace kbd;

namespace {

constexpr uint64_t kMoved = 0x20000000;

using llvm::support::endian::read32le;
namespace COFF = llvm::COFF;

// A copy of the image with writes at file offsets and at RVAs.
struct Copy : kbdtest::ImageCopy {
    void section32(unsigned n, unsigned field, uint32_t v) { file32(sectionHeader(n) + field, v); }
    uint64_t va(uint32_t rva) const { return img.base() + rva; }
    uint32_t rva32(uint32_t rva) const { return get32(offsetOf(va(rva))); }
    void rvaPut32(uint32_t rva, uint32_t v) { put32(va(rva), v); }
    void rvaPut16(uint32_t rva, uint16_t v) { put16(va(rva), v); }
    uint32_t relocs() const { return img.directory(COFF::BASE_RELOCATION_TABLE).rva; }
    uint32_t exports() const { return img.directory(COFF::EXPORT_TABLE).rva; }
    uint32_t code() const { return img.findExport(kRootExport)->rva; }
    void code(std::initializer_list<uint8_t> insns) {
        size_t at = offsetOf(va(code()));
        for (uint8_t b : insns) bytes[at++] = b;
    }
};

// Section header fields and section numbers of the image.
enum : unsigned { kVirtualSize = 8, kRva = 12, kRawSize = 16, kRawOffset = 20, kFlags = 36 };
enum : unsigned { kData = 0, kRsrc = 1, kReloc = 2 };

struct Case {
    const char* what;
    std::function<void(Copy&)> damage;
    const char* want;  // a part of the message
};

// Maps the damaged copy and runs its export: must throw an Error naming `want`.
void expectRefused(const Case& c, std::optional<uint64_t> base = kMoved) {
    Copy copy;
    c.damage(copy);
    try {
        runExport(MappedImage::fromBytes(copy.bytes, base), kRootExport);
        ADD_FAILURE() << c.what << ": accepted; expected an error naming " << c.want;
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(c.want), std::string::npos) << c.what << ": " << e.what();
    }
}

}  // namespace

TEST(Mapper, DamagedRelocationsAreRefused) {
    const Case cases[] = {
        {"block size 0", [](Copy& c) { c.rvaPut32(c.relocs() + 4, 0); }, "has size 0x0, which is not 8 plus"},
        {"block size 6", [](Copy& c) { c.rvaPut32(c.relocs() + 4, 6); }, "has size 0x6"},
        {"block size odd", [](Copy& c) { c.rvaPut32(c.relocs() + 4, 11); }, "has size 0xB"},
        {"block larger than the directory", [](Copy& c) { c.rvaPut32(c.relocs() + 4, 0x7FFFFFF0); },
         "runs past the end of the directory"},
        {"4 bytes left after the block",
         [](Copy& c) { c.rvaPut32(c.relocs() + 4, c.img.directory(COFF::BASE_RELOCATION_TABLE).size - 4); }, "is cut off by the end"},
        {"page far away", [](Copy& c) { c.rvaPut32(c.relocs(), 0xFFFFF000); }, "lies outside the image"},
        {"page + offset wraps 32 bits", [](Copy& c) { c.rvaPut32(c.relocs(), 0xFFFFFFFF); },
         "lies outside the image"},
        {"fix-up straddles the end",
         [](Copy& c) {
             c.rvaPut32(c.relocs(), c.img.sizeOfImage() - 0x1000);
             c.rvaPut16(c.relocs() + 8, 3 << 12 | 0xFFD);
         },
         "lies outside the image"},
        {"type 5", [](Copy& c) { c.rvaPut16(c.relocs() + 8, 5 << 12 | 0x001); }, "has type 5"},
        {"directory with no address", [](Copy& c) { c.file32(c.opt() + 96 + COFF::BASE_RELOCATION_TABLE * 8, 0); }, "but no address"},
        {"directory past SizeOfImage",
         [](Copy& c) {
             c.file32(c.opt() + 56, c.relocs() + 0x100);
             c.file32(c.opt() + 96 + COFF::BASE_RELOCATION_TABLE * 8 + 4, 0x180);
         },
         "runs past SizeOfImage 0x4100"},
    };
    for (const Case& c : cases) expectRefused(c);
}

TEST(Mapper, DamagedHeadersAndSectionsAreRefused) {
    const Case cases[] = {
        {"e_lfanew huge", [](Copy& c) { c.file32(0x3C, 0x7FFFFFF0); }, "not a PE image"},
        {"e_lfanew 2 bytes before the end",
         [](Copy& c) { c.file32(0x3C, static_cast<uint32_t>(c.bytes.size() - 2)); }, "not a PE image"},
        {"NumberOfSections 0xFFFF", [](Copy& c) { c.file16(c.pe() + 6, 0xFFFF); }, "NumberOfSections is 0xFFFF"},
        {"optional-header magic", [](Copy& c) { c.file16(c.opt(), 0x999); }, "damaged PE image"},
        {"not executable", [](Copy& c) { c.file16(c.pe() + 22, 0x2100); }, "IMAGE_FILE_EXECUTABLE_IMAGE"},
        {"relocations stripped", [](Copy& c) { c.bytes[c.pe() + 22] |= 1; }, "IMAGE_FILE_RELOCS_STRIPPED"},
        {"SizeOfImage 0", [](Copy& c) { c.file32(c.opt() + 56, 0); }, "is not between 1 and"},
        {"SizeOfImage 2 GiB", [](Copy& c) { c.file32(c.opt() + 56, 0x7FFFFFFF); }, "is not between 1 and"},
        {"SizeOfHeaders 0", [](Copy& c) { c.file32(c.opt() + 60, 0); }, "does not fit in SizeOfImage"},
        {"SizeOfHeaders huge", [](Copy& c) { c.file32(c.opt() + 60, 0x100000); }, "does not fit in SizeOfImage"},
        {"SizeOfHeaders past the file",
         [](Copy& c) { c.file32(c.opt() + 60, static_cast<uint32_t>(c.bytes.size() + 0x200)); },
         "runs past the end of the file"},
        {"headers over the first section",
         [](Copy& c) { c.file32(c.opt() + 60, c.img.sections()[kData].rva + 0x200); }, "overlaps the headers"},
        {"section over the headers", [](Copy& c) { c.section32(kRsrc, kRva, 0x200); }, "overlaps the headers"},
        {"raw data past the file", [](Copy& c) { c.section32(kRsrc, kRawOffset, 0x100000); },
         "raw data of section .rsrc"},
        {"raw size huge", [](Copy& c) { c.section32(kRsrc, kRawSize, 0xFFFFFE00); }, "raw data of section .rsrc"},
        {"sections overlap", [](Copy& c) { c.section32(kRsrc, kVirtualSize, 0x1001); },
         "overlaps section .reloc"},
        {"RVA beyond the image", [](Copy& c) { c.section32(kRsrc, kRva, 0xFFFFF000); },
         "section .rsrc at RVA 0xFFFFF000"},
        {"VirtualSize wraps 32 bits", [](Copy& c) { c.section32(kRsrc, kVirtualSize, 0xFFFFFFFF); },
         "runs past SizeOfImage"},
    };
    for (const Case& c : cases) expectRefused(c);
}

TEST(Mapper, DamagedExportTablesAreRefused) {
    const Case cases[] = {
        {"address count huge", [](Copy& c) { c.rvaPut32(c.exports() + 20, 0x7FFFFFFF); }, "at most 8192"},
        {"name count huge", [](Copy& c) { c.rvaPut32(c.exports() + 24, 0x1000); }, "the export ordinal table"},
        {"address table off the section", [](Copy& c) { c.rvaPut32(c.exports() + 20, 0x1000); },
         "the export address table"},
        {"name table unbacked", [](Copy& c) { c.rvaPut32(c.exports() + 32, 0x2F00); }, "the export name table"},
        {"name in the headers", [](Copy& c) { c.rvaPut32(c.rva32(c.exports() + 32), 0x0FFF); },
         "export name 0 at RVA 0xFFF"},
        {"library name unbacked", [](Copy& c) { c.rvaPut32(c.exports() + 12, 0x2F00); },
         "the export directory's library name"},
        {"name unterminated",
         [](Copy& c) {
             const Section& s = c.img.sections()[kData];
             const size_t from = c.offsetOf(c.va(c.rva32(c.rva32(c.exports() + 32))));
             std::memset(&c.bytes[from], 'A', s.rawOffset + std::min(s.rawSize, s.virtualSize) - from);
         },
         "does not end inside the file data"},
        {"ordinal index out of the table", [](Copy& c) { c.rvaPut16(c.rva32(c.exports() + 36), 5); },
         "ordinal index 5"},
        {"export in a non-executable section",
         [](Copy& c) { c.rvaPut32(c.rva32(c.exports() + 28), c.img.sections()[kRsrc].rva); },
         "is not in an executable section"},
        {"export beyond the image", [](Copy& c) { c.rvaPut32(c.rva32(c.exports() + 28), 0x10000); },
         "lies outside the image (SizeOfImage"},
    };
    for (const Case& c : cases) expectRefused(c);
}

TEST(Mapper, FaultingExportCodeIsStopped) {
    // Mapped at the preferred base, so absolute addresses in the code hold.
    const uint64_t P = Copy().img.base();
    auto le = [](uint64_t v, int i) { return static_cast<uint8_t>(v >> (8 * i)); };
    auto withAddress = [le](uint8_t opcode, uint64_t a) {
        return [=](Copy& c) { c.code({opcode, le(a, 0), le(a, 1), le(a, 2), le(a, 3), 0xC3}); };
    };
    auto jumpTo = [le](uint64_t target) {
        return [=](Copy& c) {
            const uint64_t rel = target - (c.va(c.code()) + 5);
            c.code({0xE9, le(rel, 0), le(rel, 1), le(rel, 2), le(rel, 3)});
        };
    };
    const Case cases[] = {
        {"ud2", [](Copy& c) { c.code({0x0F, 0x0B}); }, "(UC_ERR_INSN_INVALID) at pc 0x10001000"},
        {"int3", [](Copy& c) { c.code({0xCC}); }, "breakpoint (int3)"},
        {"write to .data", withAddress(0xA3, P + 0x1100), "the image is read-only"},
        {"write to 0x2000", withAddress(0xA3, 0x2000), "to unmapped address 0x2000"},
        {"read of address 0", withAddress(0xA1, 0), "from 0x0, outside the image, which is not mapped"},
        {"read of an unreadable section",
         [=](Copy& c) {
             withAddress(0xA1, P + c.img.sections()[kRsrc].rva)(c);
             c.bytes[c.sectionHeader(kRsrc) + kFlags + 3] &= ~0x40;  // IMAGE_SCN_MEM_READ
         },
         "which is not readable"},
        {"jump outside", jumpTo(0x2000), "execution left the image: jump to 0x2000"},
        {"jump into .rsrc", jumpTo(P + 0x3000), "which is not executable"},
        {"return to nowhere", [](Copy& c) { c.code({0x58, 0xC3}); }, "execution left the image: jump to 0x0"},
        // Instructions the CPU model would run quietly: the export stops before them.
        {"hlt", [](Copy& c) { c.code({0xB8, 1, 0, 0, 0, 0xF4}); },
         "hlt at pc 0x10001005 (RVA 0x1005) halts the processor instead of returning"},
        // Undefined encodings the CPU model cannot translate (it would end
        // the process): stopped at, wherever they start, even inside the
        // block being translated and behind prefixes.
        {"far jmp through a register", [](Copy& c) { c.code({0x90, 0xFF, 0xEA}); },
         "invalid opcode (far jmp through a register) at pc 0x10001001"},
        {"far call through a register", [](Copy& c) { c.code({0x66, 0xFF, 0xDA}); },
         "invalid opcode (far call through a register) at pc 0x10001000"},
        {"lock cmp", [](Copy& c) { c.code({0x90, 0x90, 0x2E, 0xF0, 0x39, 0x00}); }, "(lock cmp) at pc 0x10001002"},
        {"lock cmps", [](Copy& c) { c.code({0xF0, 0xA6}); }, "(lock cmps)"},
        {"lock btr on a register", [](Copy& c) { c.code({0xF0, 0x0F, 0xBA, 0xF0, 0x01}); }, "(lock btr on a register)"},
        {"cli", [](Copy& c) { c.code({0xFA, 0xC3}); }, "privileged instruction (cli) at pc 0x10001000"},
        {"in", [](Copy& c) { c.code({0xEC, 0xC3}); }, "privileged instruction (in)"},
        {"mov to cr0", [](Copy& c) { c.code({0x0F, 0x22, 0xC0, 0xC3}); }, "(mov to a control register)"},
        {"wrmsr behind a prefix", [](Copy& c) { c.code({0x66, 0x0F, 0x30, 0xC3}); }, "privileged instruction (wrmsr)"},
        {"sysenter", [](Copy& c) { c.code({0x0F, 0x34}); }, "system call (sysenter) at pc 0x10001000"},
        {"int 0x2E", [](Copy& c) { c.code({0xCD, 0x2E}); }, "software interrupt (int 0x2E)"},
        {"divide by zero", [](Copy& c) { c.code({0x31, 0xC9, 0xF7, 0xF1}); }, "divide error at pc 0x10001002"},
    };
    for (const Case& c : cases) expectRefused(c, std::nullopt);
    Copy c;
    EXPECT_THROW(runExport(c.img, "KbdLayerDescriptorX"), Error);
}

TEST(Mapper, WideReturnAndExecutedTrace) {
    Copy c;  // mov eax, 0x87654321; cdq; ret
    c.code({0xB8, 0x21, 0x43, 0x65, 0x87, 0x99, 0xC3});
    const MappedImage img = MappedImage::fromBytes(c.bytes);
    EXPECT_EQ(runExport(img, kRootExport), 0x87654321u);
    std::vector<Executed> trace;
    EXPECT_EQ(runExport(img, kRootExport, true, &trace), 0xFFFFFFFF87654321u);
    const uint64_t at = img.base() + c.code();
    const std::vector<std::pair<uint64_t, uint32_t>> want{{at, 5}, {at + 5, 1}, {at + 6, 1}};
    ASSERT_EQ(trace.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(trace[i].address, want[i].first) << i;
        EXPECT_EQ(trace[i].size, want[i].second) << i;
    }
}

TEST(Mapper, EdgesThatAreAccepted) {
    {
        Copy c;  // a HIGHLOW fix-up in the image's last 4 bytes
        c.rvaPut32(c.relocs(), c.img.sizeOfImage() - 0x1000);
        c.rvaPut16(c.relocs() + 8, 3 << 12 | 0xFFC);
        const MappedImage img = MappedImage::fromBytes(c.bytes, kMoved);
        EXPECT_EQ(read32le(&img.memory()[img.sizeOfImage() - 4]), static_cast<uint32_t>(kMoved - c.img.base()));
    }
    {
        Copy c;  // VirtualSize 0: SizeOfRawData bytes are mapped
        c.section32(kRsrc, kVirtualSize, 0);
        const MappedImage img = MappedImage::fromBytes(c.bytes, kMoved);
        const Section& s = c.img.sections()[kRsrc];
        EXPECT_EQ(0, std::memcmp(&img.memory()[s.rva], &c.bytes[s.rawOffset], s.rawSize));
    }
    {
        Copy c;  // relocations stripped, mapped where it asks to be
        c.bytes[c.pe() + 22] |= 1;
        EXPECT_NO_THROW(runExport(MappedImage::fromBytes(c.bytes), kRootExport));
    }
}

TEST(Mapper, BasesAcrossTheAddressSpace) {
    const auto bytes = kbdtest::imageBytes();
    const MappedImage home = MappedImage::fromBytes(bytes);
    const uint64_t size = (home.sizeOfImage() + 0xFFF) & ~uint64_t{0xFFF};
    const uint64_t top = ((uint64_t{1} << 32) - size) & ~(kBaseAlignment - 1);  // the highest base that fits
    const uint64_t root = runExport(home, kRootExport) - home.base();
    ASSERT_FALSE(home.relocations().empty());
    // 0x100000 holds the CPU model's first choice of stack.
    for (uint64_t base : {uint64_t{0x10000}, uint64_t{0x100000}, kbdtest::kForeignBase, uint64_t{0x80000000},
                          uint64_t{0xFFE00000}, top}) {
        SCOPED_TRACE(base);
        const MappedImage img = MappedImage::fromBytes(bytes, base);
        ASSERT_EQ(img.base(), base);
        EXPECT_EQ(runExport(img, kRootExport), base + root);
        for (const Relocation& r : img.relocations())
            EXPECT_EQ(read32le(&img.memory()[r.rva]),
                      static_cast<uint32_t>(read32le(&home.memory()[r.rva]) + base - home.base()))
                << r.rva;
        const uint64_t end = base + img.sizeOfImage();
        EXPECT_NO_THROW(img.u32(end - 4, "tail"));
        EXPECT_THROW(img.u32(end - 2, "tail"), Error);
        EXPECT_TRUE(img.contains(end - 4, 4));
        EXPECT_FALSE(img.contains(base + 8, ~uint64_t{0} - 3));  // offset + size wraps 64 bits
    }
    const std::pair<uint64_t, const char*> bad[] = {
        {0, "is not a non-null, 64 KiB-aligned address"},
        {0x20000800, "is not a non-null, 64 KiB-aligned address"},
        {0x20001000, "is not a non-null, 64 KiB-aligned address"},  // a page, but not the loader's grid
        {top + kBaseAlignment, "does not fit below 0x100000000"},
        {uint64_t{1} << 32, "does not fit below 0x100000000"},
    };
    for (const auto& [base, want] : bad) {
        try {
            MappedImage::fromBytes(bytes, base);
            ADD_FAILURE() << "mapped at " << base;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(want), std::string::npos) << e.what();
        }
    }
    expectRefused({"misaligned preferred base", [](Copy& c) { c.file32(c.opt() + 28, 0x10000800); },
                   "preferred base 0x10000800 is not"},
                  std::nullopt);
}
