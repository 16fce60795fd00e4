#include "kbd/image/mapped_image.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>
#include <utility>

#include <fmt/format.h>
#include <llvm/ADT/StringExtras.h>
#include <llvm/BinaryFormat/COFF.h>
#include <llvm/BinaryFormat/Magic.h>
#include <llvm/Object/COFF.h>
#include <llvm/Support/Endian.h>
#include <llvm/Support/MemoryBufferRef.h>

#include "kbd/image/exports.h"

namespace kbd {
namespace {

namespace COFF = llvm::COFF;
namespace endian = llvm::support::endian;
using llvm::object::COFFObjectFile;

// Inputs larger than this are refused before they are read: a layout image
// is a few kilobytes, and this bounds what a hostile file can make us
// allocate and read.
constexpr uint64_t kMaxFileSize = uint64_t{1} << 20;
// The same for the mapping a file asks for (SizeOfImage).
constexpr uint32_t kMaxImageSize = uint32_t{4} << 20;
// Bytes read from a file before the rest: enough for the DOS header.
constexpr size_t kHeadSize = 64;

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

// ---- Headers and sections ----------------------------------------------------

template <typename OptionalHeader>
void copyOptionalHeader(const OptionalHeader& o, Headers& h) {
    h.imageBase = o.ImageBase;
    h.sizeOfImage = o.SizeOfImage;
    h.sizeOfHeaders = o.SizeOfHeaders;
    h.entryPoint = o.AddressOfEntryPoint;
    h.checkSum = o.CheckSum;
}

Headers readHeaders(const COFFObjectFile& obj, uint64_t fileSize) {
    Headers h;
    const auto* file = obj.getCOFFHeader();
    if (!file) throw Error("not a PE image (a big-object COFF file)");
    // The reader takes a NumberOfSections of 0xFFFF for the mark of an
    // import-library member and then stops before the optional header.
    if (file->isImportLibrary()) throw Error("damaged PE image: NumberOfSections is 0xFFFF");
    // The raw field: the reader's getMachine() reports hybrid images under
    // other machine numbers.
    h.machine = file->Machine;
    h.fileCharacteristics = file->Characteristics;
    if (const auto* pe = obj.getPE32Header()) {
        copyOptionalHeader(*pe, h);
        h.checkSumOffset = static_cast<uint32_t>(reinterpret_cast<const char*>(&pe->CheckSum) - obj.getData().data());
    } else if (const auto* pe = obj.getPE32PlusHeader()) {
        h.is64 = true;
        copyOptionalHeader(*pe, h);
        h.checkSumOffset = static_cast<uint32_t>(reinterpret_cast<const char*>(&pe->CheckSum) - obj.getData().data());
    } else {
        throw Error("a COFF object file, not an image (no optional header)");
    }
    if (uint64_t{h.checkSumOffset} + 4 > fileSize)
        throw Error("the optional header is cut off by the end of the file");
    if (!(h.fileCharacteristics & COFF::IMAGE_FILE_EXECUTABLE_IMAGE))
        throw Error(fmt::format("not an executable image (IMAGE_FILE_EXECUTABLE_IMAGE is clear in {})",
                                hex(h.fileCharacteristics)));
    if (h.sizeOfImage == 0 || h.sizeOfImage > kMaxImageSize)
        throw Error(fmt::format("SizeOfImage {} is not between 1 and {} bytes", hex(h.sizeOfImage),
                                hex(kMaxImageSize)));
    if (h.sizeOfHeaders == 0 || h.sizeOfHeaders > h.sizeOfImage)
        throw Error(fmt::format("SizeOfHeaders {} does not fit in SizeOfImage {}", hex(h.sizeOfHeaders),
                                hex(h.sizeOfImage)));
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

// Every section must lie inside the mapping after the headers, must not
// overlap another, and its raw data must lie inside the file.
void checkLayout(const Headers& h, const std::vector<Section>& sections, uint64_t fileSize) {
    if (h.sizeOfHeaders > fileSize)
        throw Error(fmt::format("SizeOfHeaders {} runs past the end of the file ({} bytes)", hex(h.sizeOfHeaders),
                                hex(fileSize)));
    std::vector<const Section*> byRva;
    for (const Section& s : sections) {
        const uint64_t end = uint64_t{s.rva} + s.mappedSize();
        if (end > h.sizeOfImage)
            throw Error(fmt::format("section {} at RVA {} ({} bytes) runs past SizeOfImage {}", s.name, hex(s.rva),
                                    hex(s.mappedSize()), hex(h.sizeOfImage)));
        if (s.rawSize != 0 && uint64_t{s.rawOffset} + s.rawSize > fileSize)
            throw Error(fmt::format("raw data of section {} (offset {}, {} bytes) runs past the end of the file "
                                    "({} bytes)",
                                    s.name, hex(s.rawOffset), hex(s.rawSize), hex(fileSize)));
        if (s.mappedSize() == 0) continue;
        if (s.rva < h.sizeOfHeaders)
            throw Error(fmt::format("section {} at RVA {} overlaps the headers (SizeOfHeaders {})", s.name,
                                    hex(s.rva), hex(h.sizeOfHeaders)));
        byRva.push_back(&s);
    }
    std::sort(byRva.begin(), byRva.end(), [](const Section* a, const Section* b) { return a->rva < b->rva; });
    for (size_t i = 1; i < byRva.size(); ++i) {
        const Section& a = *byRva[i - 1];
        const Section& b = *byRva[i];
        if (uint64_t{a.rva} + a.mappedSize() > b.rva)
            throw Error(fmt::format("section {} (RVA {} to {}) overlaps section {} at RVA {}", a.name, hex(a.rva),
                                    hex(uint64_t{a.rva} + a.mappedSize()), b.name, hex(b.rva)));
    }
}

// Where the mapping goes: a non-null base on the loader's 64 KiB grid at
// which the whole image fits the address space of its kind.
uint64_t checkBase(const Headers& h, uint64_t base, bool preferred) {
    const char* which = preferred ? "preferred base" : "base";
    const uint64_t limit = h.is64 ? kLimit64 : kLimit32;
    if (base == 0 || base % kBaseAlignment != 0)
        throw Error(fmt::format("{} {} is not a non-null, 64 KiB-aligned address", which, hex(base)));
    if (base >= limit || h.sizeOfImage > limit - base)
        throw Error(fmt::format("an image of {} bytes at {} {} does not fit below {}", hex(h.sizeOfImage), which,
                                hex(base), hex(limit)));
    return base;
}

std::vector<uint8_t> mapSections(const std::vector<uint8_t>& file, const Headers& h,
                                 const std::vector<Section>& sections) {
    std::vector<uint8_t> memory(h.sizeOfImage, 0);
    std::memcpy(memory.data(), file.data(), h.sizeOfHeaders);
    for (const Section& s : sections)
        // Bytes copied from the file; the rest of the section is zero-filled.
        if (const uint32_t n = std::min(s.rawSize, s.mappedSize()))
            std::memcpy(memory.data() + s.rva, file.data() + s.rawOffset, n);
    return memory;
}

// ---- Base relocations --------------------------------------------------------

// Reads the base-relocation directory from the mapped image, as the loader
// does. The object reader's base_relocs() iterator does not check block sizes
// at all (a block of size 0 or an odd size walks off the directory), so the
// blocks are walked here, every header and entry checked against the
// directory and every fix-up against the mapping.
std::vector<Relocation> readRelocations(const DataDirectory& dir, const std::vector<uint8_t>& memory) {
    std::vector<Relocation> out;
    if (dir.size == 0) return out;
    const uint32_t rva = dir.rva;
    const uint32_t size = dir.size;
    if (rva == 0) throw Error(fmt::format("the base-relocation directory has {} bytes but no address", hex(size)));
    if (uint64_t{rva} + size > memory.size())
        throw Error(fmt::format("the base-relocation directory (RVA {}, {} bytes) runs past SizeOfImage {}",
                                hex(rva), hex(size), hex(memory.size())));
    const llvm::ArrayRef<uint8_t> table(memory.data() + rva, size);
    using Block = llvm::object::coff_base_reloc_block_header;
    for (uint32_t off = 0; off < size;) {
        const uint32_t at = rva + off;
        if (size - off < sizeof(Block))
            throw Error(fmt::format("base-relocation block header at RVA {} is cut off by the end of the "
                                    "directory (RVA {}, {} bytes)",
                                    hex(at), hex(rva), hex(size)));
        const auto* block = reinterpret_cast<const Block*>(table.data() + off);
        const uint32_t page = block->PageRVA;
        const uint32_t blockSize = block->BlockSize;
        if (blockSize < sizeof(Block) || blockSize % 2 != 0)
            throw Error(fmt::format("base-relocation block at RVA {} has size {}, which is not 8 plus a whole "
                                    "number of 2-byte entries",
                                    hex(at), hex(blockSize)));
        if (blockSize > size - off)
            throw Error(fmt::format("base-relocation block at RVA {} ({} bytes) runs past the end of the "
                                    "directory (RVA {}, {} bytes)",
                                    hex(at), hex(blockSize), hex(rva), hex(size)));
        for (uint32_t e = sizeof(Block); e < blockSize; e += 2) {
            const uint16_t entry = endian::read16le(table.data() + off + e);
            const uint8_t type = static_cast<uint8_t>(entry >> 12);
            const uint64_t target = uint64_t{page} + (entry & 0xFFF);
            uint64_t width = 0;
            switch (type) {
            case COFF::IMAGE_REL_BASED_ABSOLUTE: continue;  // padding
            case COFF::IMAGE_REL_BASED_HIGHLOW: width = 4; break;
            case COFF::IMAGE_REL_BASED_DIR64: width = 8; break;
            default:
                throw Error(fmt::format("base relocation at RVA {} (entry at RVA {}) has type {}, which is "
                                        "neither HIGHLOW (3) nor DIR64 (10)",
                                        hex(target), hex(at + e), type));
            }
            if (target + width > memory.size())
                throw Error(fmt::format("base relocation at RVA {} ({} bytes, entry at RVA {}) lies outside the "
                                        "image (SizeOfImage {})",
                                        hex(target), width, hex(at + e), hex(memory.size())));
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
            endian::write32le(p, endian::read32le(p) + static_cast<uint32_t>(delta));
        else
            endian::write64le(p, endian::read64le(p) + delta);
    }
}

// ---- What a file is ----------------------------------------------------------

bool hasMzHeader(llvm::ArrayRef<uint8_t> head) { return head.size() >= 2 && head[0] == 'M' && head[1] == 'Z'; }

// The machines a COFF object of interest is built for, by name; a file that
// begins with any other machine number is not called an object file.
const char* objectMachine(llvm::ArrayRef<uint8_t> head) {
    if (head.size() < sizeof(llvm::object::coff_file_header)) return nullptr;
    switch (endian::read16le(head.data())) {
    case COFF::IMAGE_FILE_MACHINE_I386: return "x86";
    case COFF::IMAGE_FILE_MACHINE_AMD64: return "x64";
    case COFF::IMAGE_FILE_MACHINE_ARM64: return "ARM64";
    case COFF::IMAGE_FILE_MACHINE_ARM64EC: return "ARM64EC";
    case COFF::IMAGE_FILE_MACHINE_ARM64X: return "ARM64X";
    case COFF::IMAGE_FILE_MACHINE_ARMNT: return "ARM";
    default: return nullptr;
    }
}

[[noreturn]] void notAnImage(llvm::ArrayRef<uint8_t> head) {
    if (!hasMzHeader(head)) throw Error("not a PE image: it does not begin with an MZ header");
    throw Error("not a PE image: its MZ header leads to no PE signature");
}

// Refuses a whole file (padded with zeros past its end) that is no PE image,
// saying what it is: a COFF object only when it parses as one for a machine
// named above.
void identify(const llvm::MemoryBufferRef& buffer, llvm::ArrayRef<uint8_t> file) {
    if (llvm::identify_magic(buffer.getBuffer()) == llvm::file_magic::pecoff_executable) return;
    if (const char* machine = objectMachine(file); machine && !hasMzHeader(file)) {
        auto object = COFFObjectFile::create(buffer);
        if (object) throw Error(fmt::format("a COFF object file for {}, not an image", machine));
        llvm::consumeError(object.takeError());
    }
    notAnImage(file);
}

// Reads a file, looking at its first bytes and its size before the rest: a
// file that cannot be a PE image, or is too large for one, is refused
// without being read.
std::vector<uint8_t> readFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) throw Error(ec ? ec.message() : "not a regular file");
    const uintmax_t size = std::filesystem::file_size(path, ec);
    if (ec) throw Error(ec.message());
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error(fmt::format("cannot open: {}", std::generic_category().message(errno)));
    const size_t head = static_cast<size_t>(std::min<uintmax_t>(size, kHeadSize));
    std::vector<uint8_t> bytes(head);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(head));
    if (static_cast<size_t>(in.gcount()) != head) throw Error("read error");
    // Only an image, or an object file that may be named as one, is read on.
    if (!hasMzHeader(bytes) && !objectMachine(bytes)) notAnImage(bytes);
    if (size > kMaxFileSize)
        throw Error(fmt::format("{} bytes is too large for a layout image (limit {})", size, kMaxFileSize));
    bytes.resize(static_cast<size_t>(size));
    const std::streamsize rest = static_cast<std::streamsize>(size - head);
    in.read(reinterpret_cast<char*>(bytes.data() + head), rest);
    if (in.gcount() != rest) throw Error("read error");
    return bytes;
}

}  // namespace

// ---- MappedImage ---------------------------------------------------------------

MappedImage MappedImage::load(const std::string& path, std::optional<uint64_t> base) {
    return fromBytes(readFile(path), base);
}

MappedImage MappedImage::fromBytes(std::vector<uint8_t> bytes, std::optional<uint64_t> base) {
    if (bytes.size() > kMaxFileSize)
        throw Error(fmt::format("{} bytes is too large for a layout image (limit {})", bytes.size(), kMaxFileSize));
    static std::atomic<uint64_t> mappings{0};
    MappedImage img;
    img.id_ = ++mappings;
    img.file_ = std::move(bytes);

    std::vector<uint8_t> padded(img.file_.size() + kParsePadding, 0);
    std::copy(img.file_.begin(), img.file_.end(), padded.begin());
    const llvm::ArrayRef<uint8_t> file(padded.data(), img.file_.size());
    const llvm::MemoryBufferRef buffer(llvm::toStringRef(file), "");
    identify(buffer, file);
    auto parsed = COFFObjectFile::create(buffer);
    if (!parsed) throw Error("damaged PE image: " + llvm::toString(parsed.takeError()));
    const COFFObjectFile& obj = **parsed;

    img.h_ = readHeaders(obj, img.file_.size());
    img.sections_ = readSections(obj);
    checkLayout(img.h_, img.sections_, img.file_.size());
    for (uint32_t i = 0; i < COFF::NUM_DATA_DIRECTORIES; ++i) {
        const llvm::object::data_directory* d = obj.getDataDirectory(i);
        img.directories_.push_back(d ? DataDirectory{d->RelativeVirtualAddress, d->Size} : DataDirectory{});
    }
    img.base_ = base ? checkBase(img.h_, *base, false) : checkBase(img.h_, img.h_.imageBase, true);

    img.memory_ = mapSections(img.file_, img.h_, img.sections_);
    img.relocations_ = readRelocations(img.directory(COFF::BASE_RELOCATION_TABLE), img.memory_);
    const uint64_t delta = img.base_ - img.h_.imageBase;
    if (delta != 0 && (img.h_.fileCharacteristics & COFF::IMAGE_FILE_RELOCS_STRIPPED))
        throw Error(fmt::format("relocations are stripped (IMAGE_FILE_RELOCS_STRIPPED); the image can only be "
                                "mapped at {}, not {}",
                                hex(img.h_.imageBase), hex(img.base_)));
    applyRelocations(img.memory_, img.relocations_, delta);

    img.exports_ = readExports(obj, img.sections_, file);
    img.hasImports_ =
        img.directory(COFF::IMPORT_TABLE).rva != 0 || img.directory(COFF::DELAY_IMPORT_DESCRIPTOR).rva != 0;
    return img;
}

std::optional<Export> MappedImage::findExport(std::string_view name) const {
    for (const Export& e : exports_.exports)
        if (e.name == name) return e;
    return std::nullopt;
}

DataDirectory MappedImage::directory(unsigned index) const {
    return index < directories_.size() ? directories_[index] : DataDirectory{};
}

bool MappedImage::contains(uint64_t va, uint64_t size) const {
    return va >= base_ && slice(memory_, va - base_, size);
}

std::span<const uint8_t> MappedImage::bytes(uint64_t va, uint64_t size, std::string_view what) const {
    const auto b = va >= base_ ? slice(memory_, va - base_, size) : std::nullopt;
    if (!b)
        throw Error(fmt::format("{} at {} ({} bytes) lies outside the image ({} to {})", what, hex(va), size,
                                hex(base_), hex(base_ + memory_.size())));
    return *b;
}

uint8_t MappedImage::u8(uint64_t va, std::string_view what) const { return bytes(va, 1, what)[0]; }
uint16_t MappedImage::u16(uint64_t va, std::string_view what) const {
    return endian::read16le(bytes(va, 2, what).data());
}
uint32_t MappedImage::u32(uint64_t va, std::string_view what) const {
    return endian::read32le(bytes(va, 4, what).data());
}
uint64_t MappedImage::u64(uint64_t va, std::string_view what) const {
    return endian::read64le(bytes(va, 8, what).data());
}

uint32_t MappedImage::computedChecksum() const {
    // The 16-bit words of the file (a last odd byte padded with zero), added
    // with end-around carry; in 64 bits the carries can wait to the end.
    // Eight bytes at a time: the loop runs for every file mapped.
    const uint8_t* p = file_.data();
    const size_t n = file_.size();
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const uint64_t w = endian::read64le(p + i);
        sum += (w & 0xFFFF) + (w >> 16 & 0xFFFF) + (w >> 32 & 0xFFFF) + (w >> 48);
    }
    auto word = [&](size_t at) -> uint64_t { return p[at] | (at + 1 < n ? p[at + 1] << 8 : 0); };
    for (; i < n; i += 2) sum += word(i);
    // The words that begin in the CheckSum field count as zero.
    for (size_t at = h_.checkSumOffset + (h_.checkSumOffset & 1); at < uint64_t{h_.checkSumOffset} + 4 && at < n;
         at += 2)
        sum -= word(at);
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + n);
}

}  // namespace kbd
