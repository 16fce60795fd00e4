// A PE image mapped as the Windows loader would map it, at a base the caller
// chooses, with its base relocations applied. Every read is bounds-checked and
// every fault in the file is reported as kbd::Error, never as a crash.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kbd/image/error.h"

namespace kbd {

// Pages are 4 KiB; an image is mapped at a multiple of 64 KiB, as the
// loader places images (the PE format requires ImageBase to be one too).
inline constexpr uint64_t kPageSize = 0x1000;
inline constexpr uint64_t kBaseAlignment = 0x10000;

// The `size` bytes at `offset` of `data`, or none when they leave it: the
// bounds check under every read of the host tools, which then decode the
// bytes with llvm::support::endian.
inline std::optional<std::span<const uint8_t>> slice(std::span<const uint8_t> data, uint64_t offset,
                                                     uint64_t size) {
    if (offset > data.size() || size > data.size() - offset) return std::nullopt;
    return data.subspan(offset, size);
}

struct Section {
    std::string name;
    uint32_t    rva = 0;
    uint32_t    virtualSize = 0;
    uint32_t    rawOffset = 0;
    uint32_t    rawSize = 0;
    uint32_t    characteristics = 0;

    // Bytes the section occupies in memory; the loader takes SizeOfRawData
    // when VirtualSize is 0.
    uint32_t mappedSize() const { return virtualSize ? virtualSize : rawSize; }
};

struct Relocation {
    uint32_t rva = 0;   // where the fix-up applies
    uint8_t  type = 0;  // IMAGE_REL_BASED_*
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

struct Export {
    std::string name;   // empty for an export by ordinal only
    uint32_t    ordinal = 0;
    uint32_t    rva = 0;
};

// What the export directory holds: the exports, and the library name it
// gives ("kbdQelvo.dll"); both empty when there is no export directory.
struct ExportTable {
    std::vector<Export> exports;
    std::string         dllName;
};

// The header fields the mapping and its users need, the same for PE32 and
// PE32+.
struct Headers {
    uint16_t machine = 0;  // IMAGE_FILE_MACHINE_*, the raw field
    bool     is64 = false; // PE32+ optional header
    uint64_t imageBase = 0;
    uint32_t sizeOfImage = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t entryPoint = 0;  // RVA, 0 when none
    uint16_t fileCharacteristics = 0;
    uint32_t checkSum = 0;
    uint32_t checkSumOffset = 0;  // file offset of the CheckSum field
};

class MappedImage {
public:
    // Reads and maps a file. base: where to map it; the preferred base when empty.
    static MappedImage load(const std::string& path, std::optional<uint64_t> base = {});
    // Maps an image held in memory.
    static MappedImage fromBytes(std::vector<uint8_t> bytes, std::optional<uint64_t> base = {});

    uint16_t machine() const { return h_.machine; }
    bool     is64() const { return h_.is64; }
    uint64_t preferredBase() const { return h_.imageBase; }
    uint64_t base() const { return base_; }
    uint32_t sizeOfImage() const { return h_.sizeOfImage; }
    uint32_t entryPoint() const { return h_.entryPoint; }
    uint16_t fileCharacteristics() const { return h_.fileCharacteristics; }
    bool     hasImports() const { return hasImports_; }
    const std::vector<Section>&    sections() const { return sections_; }
    const std::vector<Relocation>& relocations() const { return relocations_; }
    const std::vector<Export>&     exports() const { return exports_.exports; }
    const std::string&             exportDllName() const { return exports_.dllName; }
    // A data directory of the optional header (llvm::COFF::DataDirectoryIndex);
    // zero when the header has fewer entries.
    DataDirectory                  directory(unsigned index) const;
    // The CheckSum field of the optional header, and the checksum the file's
    // bytes give (the loader's algorithm: 16-bit one's-complement sum of the
    // file with the field taken as 0, plus the file length).
    uint32_t                       headerChecksum() const { return h_.checkSum; }
    uint32_t                       computedChecksum() const;
    const std::vector<uint8_t>&    fileBytes() const { return file_; }

    // The export of that name, or none.
    std::optional<Export> findExport(std::string_view name) const;

    // A number no other mapping made by this process has (copies of a
    // mapping share it): a mapping never changes, so what is worked out
    // from one, such as what its code returns, can be kept under it.
    uint64_t id() const { return id_; }

    // The mapped image: SizeOfImage bytes, relocated for base().
    std::span<const uint8_t> memory() const { return memory_; }

    // True when [va, va + size) lies inside the mapped image.
    bool contains(uint64_t va, uint64_t size) const;
    // The bytes [va, va + size) of the mapping; throws Error naming `what`
    // and the address when they leave the image.
    std::span<const uint8_t> bytes(uint64_t va, uint64_t size, std::string_view what) const;
    // Bounds-checked little-endian reads at virtual addresses, the same way.
    uint8_t  u8(uint64_t va, std::string_view what) const;
    uint16_t u16(uint64_t va, std::string_view what) const;
    uint32_t u32(uint64_t va, std::string_view what) const;
    uint64_t u64(uint64_t va, std::string_view what) const;

private:
    std::vector<uint8_t>       file_;
    std::vector<uint8_t>       memory_;
    Headers                    h_;
    uint64_t                   base_ = 0;
    bool                       hasImports_ = false;
    std::vector<Section>       sections_;
    std::vector<Relocation>    relocations_;
    ExportTable                exports_;
    std::vector<DataDirectory> directories_;
    uint64_t                   id_ = 0;
};

}  // namespace kbd
