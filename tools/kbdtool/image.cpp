#include "image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <utility>

#include <fmt/format.h>
#include <llvm/BinaryFormat/COFF.h>
#include <llvm/BinaryFormat/Magic.h>
#include <llvm/Object/COFF.h>
#include <llvm/Support/Error.h>
#include <llvm/Support/MemoryBufferRef.h>
#include <unicorn/unicorn.h>

namespace kbd {
namespace {

namespace COFF = llvm::COFF;
using llvm::object::COFFObjectFile;

// Inputs larger than this are refused before they are read: no layout image
// comes near it, and it bounds what a hostile file can make us allocate.
constexpr uint64_t kMaxFileSize = uint64_t{256} << 20;
// The same for the mapping a file asks for (SizeOfImage).
constexpr uint32_t kMaxImageSize = uint32_t{64} << 20;
// Bounds the export tables. The reader's name lookup is linear per entry, so
// the whole walk is quadratic in these counts.
constexpr uint32_t kMaxExports = 8192;

constexpr uint64_t kPage = 0x1000;
// Highest address + 1 a mapping may reach: the 32-bit address space for a
// PE32 image, the lower half of a 48-bit one for PE32+.
constexpr uint64_t kLimit32 = uint64_t{1} << 32;
constexpr uint64_t kLimit64 = uint64_t{1} << 47;

// The object reader trusts a few size fields of the file beyond the range it
// checked (for instance a load-configuration directory whose own Size field
// is larger than its directory entry says). It parses a copy followed by this
// many zero bytes, so a damaged file can make it read zeros but never read
// past our allocation.
constexpr size_t kParsePadding = 4096;

// Budget for one run of an export.
constexpr uint64_t kMaxInstructions = 10000;
constexpr uint64_t kTimeoutMicros = 2'000'000;
constexpr uint64_t kStackSize = 0x10000;

std::string hex(uint64_t v) { return fmt::format("0x{:X}", v); }

uint64_t alignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) { return uint32_t{le16(p)} | uint32_t{le16(p + 2)} << 16; }
uint64_t le64(const uint8_t* p) { return uint64_t{le32(p)} | uint64_t{le32(p + 4)} << 32; }
void put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// ---- llvm::Error / Expected into kbd::Error ---------------------------------

[[noreturn]] void fail(const std::string& name, std::string_view what, llvm::Error err) {
    throw Error(fmt::format("{}: {}: {}", name, what, llvm::toString(std::move(err))));
}

void check(const std::string& name, std::string_view what, llvm::Error err) {
    if (err) fail(name, what, std::move(err));
}

template <typename T>
T take(const std::string& name, std::string_view what, llvm::Expected<T> value) {
    if (!value) fail(name, what, value.takeError());
    return std::move(*value);
}

// ---- Headers and sections ----------------------------------------------------

// The optional-header fields the mapping needs, the same for PE32 and PE32+.
struct Headers {
    uint16_t machine = 0;
    bool     is64 = false;
    uint64_t imageBase = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t entryPoint = 0;
    uint16_t fileCharacteristics = 0;
    uint16_t dllCharacteristics = 0;
};

template <typename OptionalHeader>
void copyOptionalHeader(const OptionalHeader& h, Headers& out) {
    out.imageBase = h.ImageBase;
    out.sizeOfImage = h.SizeOfImage;
    out.sizeOfHeaders = h.SizeOfHeaders;
    out.entryPoint = h.AddressOfEntryPoint;
    out.dllCharacteristics = h.DLLCharacteristics;
}

Headers readHeaders(const COFFObjectFile& obj, const std::string& name) {
    Headers h;
    const auto* file = obj.getCOFFHeader();
    if (!file) throw Error(fmt::format("{}: not a PE image (a big-object COFF file)", name));
    // The reader takes a NumberOfSections of 0xFFFF for the mark of an
    // import-library member and then stops before the optional header.
    if (file->isImportLibrary())
        throw Error(fmt::format("{}: damaged PE image: NumberOfSections is 0xFFFF", name));
    // The raw field: the reader's getMachine() reports hybrid images under
    // other machine numbers.
    h.machine = file->Machine;
    h.fileCharacteristics = file->Characteristics;
    if (const auto* pe = obj.getPE32Header()) {
        copyOptionalHeader(*pe, h);
    } else if (const auto* pe = obj.getPE32PlusHeader()) {
        h.is64 = true;
        copyOptionalHeader(*pe, h);
    } else {
        throw Error(fmt::format("{}: a COFF object file, not an image (no optional header)", name));
    }
    if (!(h.fileCharacteristics & COFF::IMAGE_FILE_EXECUTABLE_IMAGE))
        throw Error(fmt::format("{}: not an executable image (IMAGE_FILE_EXECUTABLE_IMAGE is clear in {})",
                                name, hex(h.fileCharacteristics)));
    if (h.sizeOfImage == 0 || h.sizeOfImage > kMaxImageSize)
        throw Error(fmt::format("{}: SizeOfImage {} is not between 1 and {} bytes", name, hex(h.sizeOfImage),
                                hex(kMaxImageSize)));
    if (h.sizeOfHeaders == 0 || h.sizeOfHeaders > h.sizeOfImage)
        throw Error(fmt::format("{}: SizeOfHeaders {} does not fit in SizeOfImage {}", name,
                                hex(h.sizeOfHeaders), hex(h.sizeOfImage)));
    return h;
}

std::vector<Section> readSections(const COFFObjectFile& obj) {
    std::vector<Section> out;
    for (const llvm::object::SectionRef& ref : obj.sections()) {
        const llvm::object::coff_section* s = obj.getCOFFSection(ref);
        Section sec;
        if (llvm::Expected<llvm::StringRef> n = obj.getSectionName(s)) {
            sec.name = n->str();
        } else {
            // A long name whose string table is gone: keep the raw field.
            llvm::consumeError(n.takeError());
            sec.name.assign(s->Name, strnlen(s->Name, COFF::NameSize));
        }
        sec.rva = s->VirtualAddress;
        sec.virtualSize = s->VirtualSize;
        sec.rawOffset = s->PointerToRawData;
        sec.rawSize = s->SizeOfRawData;
        sec.characteristics = s->Characteristics;
        out.push_back(std::move(sec));
    }
    return out;
}

// Bytes a section occupies in memory; the loader takes SizeOfRawData when
// VirtualSize is 0.
uint32_t mappedSize(const Section& s) { return s.virtualSize ? s.virtualSize : s.rawSize; }
// Bytes copied from the file; the rest of the section is zero-filled.
uint32_t copiedSize(const Section& s) { return std::min(s.rawSize, mappedSize(s)); }

// Every section must lie inside the mapping after the headers, must not
// overlap another, and its raw data must lie inside the file.
void checkLayout(const std::string& name, const Headers& h, const std::vector<Section>& sections,
                 uint64_t fileSize) {
    if (h.sizeOfHeaders > fileSize)
        throw Error(fmt::format("{}: SizeOfHeaders {} runs past the end of the file ({} bytes)", name,
                                hex(h.sizeOfHeaders), hex(fileSize)));
    std::vector<const Section*> byRva;
    for (const Section& s : sections) {
        const uint64_t end = uint64_t{s.rva} + mappedSize(s);
        if (end > h.sizeOfImage)
            throw Error(fmt::format("{}: section {} at RVA {} ({} bytes) runs past SizeOfImage {}", name, s.name,
                                    hex(s.rva), hex(mappedSize(s)), hex(h.sizeOfImage)));
        if (s.rawSize != 0 && uint64_t{s.rawOffset} + s.rawSize > fileSize)
            throw Error(fmt::format("{}: raw data of section {} (offset {}, {} bytes) runs past the end of the "
                                    "file ({} bytes)",
                                    name, s.name, hex(s.rawOffset), hex(s.rawSize), hex(fileSize)));
        if (mappedSize(s) == 0) continue;
        if (s.rva < h.sizeOfHeaders)
            throw Error(fmt::format("{}: section {} at RVA {} overlaps the headers (SizeOfHeaders {})", name,
                                    s.name, hex(s.rva), hex(h.sizeOfHeaders)));
        byRva.push_back(&s);
    }
    std::sort(byRva.begin(), byRva.end(), [](const Section* a, const Section* b) { return a->rva < b->rva; });
    for (size_t i = 1; i < byRva.size(); ++i) {
        const Section& a = *byRva[i - 1];
        const Section& b = *byRva[i];
        if (uint64_t{a.rva} + mappedSize(a) > b.rva)
            throw Error(fmt::format("{}: section {} (RVA {} to {}) overlaps section {} at RVA {}", name, a.name,
                                    hex(a.rva), hex(uint64_t{a.rva} + mappedSize(a)), b.name, hex(b.rva)));
    }
}

// Where the mapping goes: a page-aligned, non-null base at which the whole
// image fits the address space of its kind.
uint64_t checkBase(const std::string& name, const Headers& h, uint64_t base, bool preferred) {
    const char* which = preferred ? "preferred base" : "base";
    const uint64_t limit = h.is64 ? kLimit64 : kLimit32;
    if (base == 0 || base % kPage != 0)
        throw Error(fmt::format("{}: {} {} is not a non-null, page-aligned address", name, which, hex(base)));
    if (base >= limit || h.sizeOfImage > limit - base)
        throw Error(fmt::format("{}: an image of {} bytes at {} {} does not fit below {}", name,
                                hex(h.sizeOfImage), which, hex(base), hex(limit)));
    return base;
}

std::vector<uint8_t> mapImage(const std::vector<uint8_t>& file, const Headers& h,
                              const std::vector<Section>& sections) {
    std::vector<uint8_t> memory(h.sizeOfImage, 0);
    std::memcpy(memory.data(), file.data(), h.sizeOfHeaders);
    for (const Section& s : sections)
        if (const uint32_t n = copiedSize(s)) std::memcpy(memory.data() + s.rva, file.data() + s.rawOffset, n);
    return memory;
}

// ---- Base relocations --------------------------------------------------------

// Reads the base-relocation directory from the mapped image, as the loader
// does. The object reader's base_relocs() iterator does not check block sizes
// at all (a block of size 0 or an odd size walks off the directory), so the
// blocks are walked here, every header and entry checked against the
// directory and every fix-up against the mapping.
std::vector<Relocation> readRelocations(const std::string& name, const COFFObjectFile& obj,
                                        const std::vector<uint8_t>& memory) {
    std::vector<Relocation> out;
    const llvm::object::data_directory* dir = obj.getDataDirectory(COFF::BASE_RELOCATION_TABLE);
    if (!dir || dir->Size == 0) return out;
    const uint32_t rva = dir->RelativeVirtualAddress;
    const uint32_t size = dir->Size;
    if (rva == 0)
        throw Error(fmt::format("{}: the base-relocation directory has {} bytes but no address", name, hex(size)));
    if (uint64_t{rva} + size > memory.size())
        throw Error(fmt::format("{}: the base-relocation directory (RVA {}, {} bytes) runs past SizeOfImage {}",
                                name, hex(rva), hex(size), hex(memory.size())));
    constexpr uint32_t kHeader = 8;
    for (uint32_t off = 0; off < size;) {
        const uint32_t at = rva + off;
        if (size - off < kHeader)
            throw Error(fmt::format("{}: base-relocation block header at RVA {} is cut off by the end of the "
                                    "directory (RVA {}, {} bytes)",
                                    name, hex(at), hex(rva), hex(size)));
        const uint32_t page = le32(&memory[at]);
        const uint32_t blockSize = le32(&memory[at + 4]);
        if (blockSize < kHeader || blockSize % 2 != 0)
            throw Error(fmt::format("{}: base-relocation block at RVA {} has size {}, which is not 8 plus a whole "
                                    "number of 2-byte entries",
                                    name, hex(at), hex(blockSize)));
        if (blockSize > size - off)
            throw Error(fmt::format("{}: base-relocation block at RVA {} ({} bytes) runs past the end of the "
                                    "directory (RVA {}, {} bytes)",
                                    name, hex(at), hex(blockSize), hex(rva), hex(size)));
        for (uint32_t e = kHeader; e < blockSize; e += 2) {
            const uint16_t entry = le16(&memory[at + e]);
            const uint8_t type = static_cast<uint8_t>(entry >> 12);
            const uint64_t target = uint64_t{page} + (entry & 0xFFF);
            uint64_t width = 0;
            switch (type) {
            case COFF::IMAGE_REL_BASED_ABSOLUTE: continue;  // padding
            case COFF::IMAGE_REL_BASED_HIGHLOW: width = 4; break;
            case COFF::IMAGE_REL_BASED_DIR64: width = 8; break;
            default:
                throw Error(fmt::format("{}: base relocation at RVA {} (entry at RVA {}) has type {}, which is "
                                        "neither HIGHLOW (3) nor DIR64 (10)",
                                        name, hex(target), hex(at + e), type));
            }
            if (target + width > memory.size())
                throw Error(fmt::format("{}: base relocation at RVA {} ({} bytes, entry at RVA {}) lies outside "
                                        "the image (SizeOfImage {})",
                                        name, hex(target), width, hex(at + e), hex(memory.size())));
            out.push_back({static_cast<uint32_t>(target), type});
        }
        off += blockSize;
    }
    return out;
}

void applyRelocations(std::vector<uint8_t>& memory, const std::vector<Relocation>& relocations,
                      uint64_t delta) {
    for (const Relocation& r : relocations) {
        uint8_t* p = memory.data() + r.rva;  // bounds checked when read
        if (r.type == COFF::IMAGE_REL_BASED_HIGHLOW)
            put32(p, le32(p) + static_cast<uint32_t>(delta));
        else
            put64(p, le64(p) + delta);
    }
}

// ---- Exports -----------------------------------------------------------------

// The object reader's export entries read the address, name-pointer and
// ordinal tables and the name strings through bare pointers, with no bound
// but the directory entry's own size. Before they are used, every table and
// name is checked to lie in the file-backed part of the section the reader
// will find it in.
class ExportReader {
public:
    ExportReader(const std::string& name, const COFFObjectFile& obj, const std::vector<Section>& sections,
                 llvm::ArrayRef<uint8_t> file)
        : name_(name), obj_(obj), sections_(sections), file_(file) {}

    std::vector<Export> read() {
        std::vector<Export> out;
        const llvm::object::data_directory* dir = obj_.getDataDirectory(COFF::EXPORT_TABLE);
        if (!dir || dir->RelativeVirtualAddress == 0) return out;
        const uint32_t dirRva = dir->RelativeVirtualAddress;
        const auto* table = obj_.getExportTable();
        require(dirRva, sizeof(llvm::object::export_directory_table_entry), "the export directory");
        if (!table)
            throw Error(fmt::format("{}: the export directory at RVA {} could not be located", name_, hex(dirRva)));

        const uint32_t entries = table->AddressTableEntries;
        const uint32_t names = table->NumberOfNamePointers;
        if (entries > kMaxExports || names > kMaxExports)
            throw Error(fmt::format("{}: the export directory lists {} addresses and {} names; at most {} are "
                                    "accepted",
                                    name_, entries, names, kMaxExports));
        if (entries != 0)
            require(table->ExportAddressTableRVA, uint64_t{entries} * 4, "the export address table");
        if (names != 0) {
            const uint8_t* ordinals = require(table->OrdinalTableRVA, uint64_t{names} * 2, "the export ordinal table");
            const uint8_t* pointers = require(table->NamePointerRVA, uint64_t{names} * 4, "the export name table");
            for (uint32_t i = 0; i < names; ++i) {
                if (le16(ordinals + 2 * i) >= entries)
                    throw Error(fmt::format("{}: export name {} has ordinal index {}, outside the address table "
                                            "({} entries)",
                                            name_, i, le16(ordinals + 2 * i), entries));
                requireString(le32(pointers + 4 * i), fmt::format("export name {}", i));
            }
        }

        requireString(table->NameRVA, "the export directory's library name");
        dllName = reinterpret_cast<const char*>(backed(table->NameRVA).data());

        for (const llvm::object::ExportDirectoryEntryRef& e : obj_.export_directories()) {
            Export x;
            check(name_, "export ordinal", e.getOrdinal(x.ordinal));
            check(name_, "export address", e.getExportRVA(x.rva));
            if (names != 0) {
                llvm::StringRef symbol;
                check(name_, "export name", e.getSymbolName(symbol));
                x.name = symbol.str();
            }
            // An address-table slot of 0 with no name is an unused ordinal.
            if (x.rva == 0 && x.name.empty()) continue;
            out.push_back(std::move(x));
        }
        return out;
    }

private:
    // The file-backed bytes from `rva` to the end of the section holding it,
    // found the way the reader finds it: the first section whose
    // [VirtualAddress, VirtualAddress + VirtualSize) holds the address.
    llvm::ArrayRef<uint8_t> backed(uint32_t rva) const {
        for (const Section& s : sections_) {
            if (rva < s.rva || rva - s.rva >= s.virtualSize) continue;
            const uint32_t off = rva - s.rva;
            const uint32_t n = std::min(s.rawSize, s.virtualSize);
            if (off >= n) return {};
            // checkLayout has put the raw data inside the file.
            return file_.slice(s.rawOffset + off, n - off);
        }
        return {};
    }

    const uint8_t* require(uint32_t rva, uint64_t size, std::string_view what) const {
        const llvm::ArrayRef<uint8_t> b = backed(rva);
        if (b.empty() || b.size() < size)
            throw Error(fmt::format("{}: {} at RVA {} ({} bytes) does not lie in the file data of one section",
                                    name_, what, hex(rva), hex(size)));
        return b.data();
    }

    void requireString(uint32_t rva, const std::string& what) const {
        const llvm::ArrayRef<uint8_t> b = backed(rva);
        if (b.empty() || !std::memchr(b.data(), 0, b.size()))
            throw Error(fmt::format("{}: {} at RVA {} does not end inside the file data of its section", name_,
                                    what, hex(rva)));
    }

public:
    std::string dllName;  // set by read()

private:
    const std::string&          name_;
    const COFFObjectFile&       obj_;
    const std::vector<Section>& sections_;
    llvm::ArrayRef<uint8_t>     file_;
};

bool hasDirectory(const COFFObjectFile& obj, uint32_t index) {
    const llvm::object::data_directory* d = obj.getDataDirectory(index);
    return d && d->RelativeVirtualAddress != 0;
}

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
    std::vector<uint32_t> prot(alignUp(img.sizeOfImage(), kPage) / kPage, UC_PROT_NONE);
    auto grant = [&](uint64_t start, uint64_t size, uint32_t p) {
        if (size == 0) return;
        for (uint64_t i = start / kPage; i < alignUp(start + size, kPage) / kPage && i < prot.size(); ++i)
            prot[i] |= p;
    };
    // The headers and the zero fill after them, up to the first section.
    uint64_t headers = img.sizeOfImage();
    for (const Section& s : img.sections())
        if (mappedSize(s)) headers = std::min<uint64_t>(headers, s.rva);
    grant(0, headers, UC_PROT_READ);
    for (const Section& s : img.sections()) {
        uint32_t p = UC_PROT_NONE;
        if (s.characteristics & COFF::IMAGE_SCN_MEM_READ) p |= UC_PROT_READ;
        if (s.characteristics & COFF::IMAGE_SCN_MEM_EXECUTE) p |= UC_PROT_EXEC;
        grant(s.rva, mappedSize(s), p);
    }
    return prot;
}

class Emulator {
public:
    Emulator(const MappedImage& img, std::string_view exportName)
        : img_(img), what_(fmt::format("{}: {}", img.name(), exportName)) {}

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
        const uint64_t size = alignUp(img_.sizeOfImage(), kPage);
        ucCheck(uc_mem_map(uc_.get(), base, size, UC_PROT_ALL), "mapping the image");
        ucCheck(uc_mem_write(uc_.get(), base, img_.memory().data(), img_.memory().size()), "writing the image");
        const std::vector<uint32_t> prot = pageProtections(img_);
        for (size_t i = 0; i < prot.size();) {
            size_t j = i;
            while (j < prot.size() && prot[j] == prot[i]) ++j;
            ucCheck(uc_mem_protect(uc_.get(), base + i * kPage, (j - i) * kPage, prot[i]), "protecting the image");
            i = j;
        }
    }

    // Maps a stack clear of the image, with an unmapped page on each side,
    // and picks the return address: an unmapped page above the upper guard,
    // so that reaching it can only mean the export returned.
    uint64_t mapStack() {
        const uint64_t imageStart = img_.base();
        const uint64_t imageEnd = imageStart + alignUp(img_.sizeOfImage(), kPage);
        // Candidates 512 MiB apart; an image of at most 64 MiB meets one at most.
        for (uint64_t stack : {0x00100000ull, 0x20100000ull, 0x40100000ull, 0x60100000ull}) {
            const uint64_t lo = stack - kPage, hi = stack + kStackSize + 2 * kPage;
            if (hi <= imageStart || lo >= imageEnd) {
                ucCheck(uc_mem_map(uc_.get(), stack, kStackSize, UC_PROT_READ | UC_PROT_WRITE), "mapping the stack");
                state_.sentinel = stack + kStackSize + kPage;
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
            put64(ret, state_.sentinel);
            ucCheck(uc_mem_write(uc_.get(), rsp, ret, sizeof ret), "pushing the return address");
            setReg64(UC_X86_REG_RSP, rsp);
        } else {
            const uint64_t esp = stackTop - 0x100 - 4;
            uint8_t ret[4];
            put32(ret, static_cast<uint32_t>(state_.sentinel));
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

// ---- MappedImage ---------------------------------------------------------------

MappedImage MappedImage::load(const std::string& path, std::optional<uint64_t> base) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw Error(fmt::format("{}: {}", path, ec ? ec.message() : "not a regular file"));
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) throw Error(fmt::format("{}: {}", path, ec.message()));
    if (size > kMaxFileSize)
        throw Error(fmt::format("{}: {} bytes is too large for a PE image (limit {})", path, size, kMaxFileSize));
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(fmt::format("{}: cannot open: {}", path, std::generic_category().message(errno)));
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<uintmax_t>(in.gcount()) != size) throw Error(fmt::format("{}: read error", path));
    return fromBytes(std::move(bytes), base, path);
}

MappedImage MappedImage::fromBytes(std::vector<uint8_t> bytes, std::optional<uint64_t> base, std::string name) {
    if (bytes.size() > kMaxFileSize)
        throw Error(fmt::format("{}: {} bytes is too large for a PE image (limit {})", name, bytes.size(),
                                kMaxFileSize));
    MappedImage img;
    img.name_ = std::move(name);
    img.file_ = std::move(bytes);
    const std::string& nm = img.name_;

    std::vector<uint8_t> padded(img.file_.size() + kParsePadding, 0);
    std::copy(img.file_.begin(), img.file_.end(), padded.begin());
    const llvm::MemoryBufferRef buffer(
        llvm::StringRef(reinterpret_cast<const char*>(padded.data()), img.file_.size()), nm);
    switch (llvm::identify_magic(buffer.getBuffer())) {
    case llvm::file_magic::pecoff_executable: break;
    case llvm::file_magic::coff_object: throw Error(fmt::format("{}: a COFF object file, not an image", nm));
    default: throw Error(fmt::format("{}: not a PE image (no MZ header leading to a PE signature)", nm));
    }
    const std::unique_ptr<COFFObjectFile> owner = take(nm, "damaged PE image", COFFObjectFile::create(buffer));
    const COFFObjectFile* obj = owner.get();

    const Headers h = readHeaders(*obj, nm);
    img.machine_ = h.machine;
    img.is64_ = h.is64;
    img.preferredBase_ = h.imageBase;
    img.entryPoint_ = h.entryPoint;
    img.fileCharacteristics_ = h.fileCharacteristics;
    img.dllCharacteristics_ = h.dllCharacteristics;
    img.sections_ = readSections(*obj);
    checkLayout(nm, h, img.sections_, img.file_.size());
    img.base_ = base ? checkBase(nm, h, *base, false) : checkBase(nm, h, h.imageBase, true);

    img.memory_ = mapImage(img.file_, h, img.sections_);
    img.relocations_ = readRelocations(nm, *obj, img.memory_);
    const uint64_t delta = img.base_ - img.preferredBase_;
    if (delta != 0 && (h.fileCharacteristics & COFF::IMAGE_FILE_RELOCS_STRIPPED))
        throw Error(fmt::format("{}: relocations are stripped (IMAGE_FILE_RELOCS_STRIPPED); the image can only "
                                "be mapped at {}, not {}",
                                nm, hex(img.preferredBase_), hex(img.base_)));
    applyRelocations(img.memory_, img.relocations_, delta);

    ExportReader exports(nm, *obj, img.sections_, llvm::ArrayRef<uint8_t>(padded.data(), img.file_.size()));
    img.exports_ = exports.read();
    img.exportDllName_ = exports.dllName;
    for (uint32_t i = 0; i < 16; ++i) {
        const llvm::object::data_directory* d = obj->getDataDirectory(i);
        img.directories_.push_back(d ? DataDirectory{d->RelativeVirtualAddress, d->Size} : DataDirectory{});
    }
    // CheckSum follows the 4-byte signature, the 20-byte file header and 64
    // bytes of the optional header, in PE32 and PE32+ alike.
    img.checksumOffset_ = obj->getDOSHeader()->AddressOfNewExeHeader + 4 + 20 + 64;
    if (uint64_t{img.checksumOffset_} + 4 > img.file_.size())
        throw Error(fmt::format("{}: the optional header is cut off by the end of the file", nm));
    img.headerChecksum_ = le32(&img.file_[img.checksumOffset_]);
    img.hasImports_ = hasDirectory(*obj, COFF::IMPORT_TABLE) || hasDirectory(*obj, COFF::DELAY_IMPORT_DESCRIPTOR);
    return img;
}

std::optional<Export> MappedImage::findExport(std::string_view name) const {
    for (const Export& e : exports_)
        if (e.name == name) return e;
    return std::nullopt;
}

bool MappedImage::contains(uint64_t va, uint64_t size) const {
    if (va < base_) return false;
    const uint64_t off = va - base_;
    return off <= memory_.size() && size <= memory_.size() - off;
}

namespace {
[[noreturn]] void outside(const MappedImage& img, uint64_t va, unsigned size, std::string_view what) {
    throw Error(fmt::format("{}: {} at {} ({} bytes) lies outside the image ({} to {})", img.name(), what, hex(va),
                            size, hex(img.base()), hex(img.base() + img.sizeOfImage())));
}
}  // namespace

uint8_t MappedImage::u8(uint64_t va, std::string_view what) const {
    if (!contains(va, 1)) outside(*this, va, 1, what);
    return memory_[va - base_];
}

uint16_t MappedImage::u16(uint64_t va, std::string_view what) const {
    if (!contains(va, 2)) outside(*this, va, 2, what);
    return le16(&memory_[va - base_]);
}

uint32_t MappedImage::u32(uint64_t va, std::string_view what) const {
    if (!contains(va, 4)) outside(*this, va, 4, what);
    return le32(&memory_[va - base_]);
}

uint64_t MappedImage::u64(uint64_t va, std::string_view what) const {
    if (!contains(va, 8)) outside(*this, va, 8, what);
    return le64(&memory_[va - base_]);
}

uint64_t MappedImage::callExport(std::string_view name, bool wide, std::vector<Executed>* executed) const {
    const std::optional<Export> e = findExport(name);
    if (!e) throw Error(fmt::format("{}: no export named {}", name_, name));
    if (e->rva >= memory_.size())
        throw Error(fmt::format("{}: export {} at RVA {} lies outside the image (SizeOfImage {})", name_, name,
                                hex(e->rva), hex(memory_.size())));
    if (!(pageProtections(*this)[e->rva / kPage] & UC_PROT_EXEC))
        throw Error(fmt::format("{}: export {} at RVA {} is not in an executable section", name_, name,
                                hex(e->rva)));
    return Emulator(*this, name).run(e->rva, wide, executed);
}

DataDirectory MappedImage::directory(unsigned index) const {
    return index < directories_.size() ? directories_[index] : DataDirectory{};
}

uint32_t MappedImage::computedChecksum() const {
    uint64_t sum = 0;
    for (size_t i = 0; i < file_.size(); i += 2) {
        if (i >= checksumOffset_ && i < checksumOffset_ + 4) continue;
        const uint32_t word = file_[i] | (i + 1 < file_.size() ? file_[i + 1] << 8 : 0);
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file_.size());
}

}  // namespace kbd
