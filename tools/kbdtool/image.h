// A PE image mapped as the Windows loader would map it, at a base the caller
// chooses, with its base relocations applied. Every read is bounds-checked and
// every fault in the file is reported as kbd::Error, never as a crash.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kbd {

// The one error type of the host tools: a message that names the offset,
// address or field at fault.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Section {
    std::string name;
    uint32_t    rva = 0;
    uint32_t    virtualSize = 0;
    uint32_t    rawOffset = 0;
    uint32_t    rawSize = 0;
    uint32_t    characteristics = 0;
};

struct Relocation {
    uint32_t rva = 0;   // where the fix-up applies
    uint8_t  type = 0;  // IMAGE_REL_BASED_*
};

struct DataDirectory {
    uint32_t rva = 0;
    uint32_t size = 0;
};

// One instruction the CPU model ran: its address and length.
struct Executed {
    uint64_t address = 0;
    uint32_t size = 0;
};

struct Export {
    std::string name;   // empty for an export by ordinal only
    uint32_t    ordinal = 0;
    uint32_t    rva = 0;
};

class MappedImage {
public:
    // Reads and maps a file. base: where to map it; the preferred base when empty.
    static MappedImage load(const std::string& path, std::optional<uint64_t> base = {});
    // Maps an image held in memory; name is used in messages.
    static MappedImage fromBytes(std::vector<uint8_t> bytes, std::optional<uint64_t> base = {},
                                 std::string name = "<memory>");

    const std::string& name() const { return name_; }
    uint16_t machine() const { return machine_; }          // IMAGE_FILE_MACHINE_*
    bool     is64() const { return is64_; }                // PE32+ optional header
    uint64_t preferredBase() const { return preferredBase_; }
    uint64_t base() const { return base_; }
    uint32_t sizeOfImage() const { return static_cast<uint32_t>(memory_.size()); }
    uint32_t entryPoint() const { return entryPoint_; }    // RVA, 0 when none
    uint16_t fileCharacteristics() const { return fileCharacteristics_; }
    uint16_t dllCharacteristics() const { return dllCharacteristics_; }
    bool     hasImports() const { return hasImports_; }
    const std::vector<Section>&    sections() const { return sections_; }
    const std::vector<Relocation>& relocations() const { return relocations_; }
    const std::vector<Export>&     exports() const { return exports_; }
    // The library name the export directory gives ("kbdQelvo.dll"); empty
    // when there is no export directory.
    const std::string&             exportDllName() const { return exportDllName_; }
    // A data directory of the optional header (IMAGE_DIRECTORY_ENTRY_*);
    // zero when the header has fewer entries.
    DataDirectory                  directory(unsigned index) const;
    // The CheckSum field of the optional header, and the checksum the file's
    // bytes give (the loader's algorithm: 16-bit one's-complement sum of the
    // file with the field taken as 0, plus the file length).
    uint32_t                       headerChecksum() const { return headerChecksum_; }
    uint32_t                       computedChecksum() const;
    const std::vector<uint8_t>&    fileBytes() const { return file_; }

    // The export of that name, or none.
    std::optional<Export> findExport(std::string_view name) const;

    // The mapped image: SizeOfImage bytes, relocated for base().
    std::span<const uint8_t> memory() const { return memory_; }

    // True when [va, va + size) lies inside the mapped image.
    bool contains(uint64_t va, uint64_t size) const;
    // Bounds-checked little-endian reads at virtual addresses; throw Error
    // naming `what` and the address when the read leaves the image.
    uint8_t  u8(uint64_t va, std::string_view what) const;
    uint16_t u16(uint64_t va, std::string_view what) const;
    uint32_t u32(uint64_t va, std::string_view what) const;
    uint64_t u64(uint64_t va, std::string_view what) const;

    // Runs the named export with no arguments on a CPU model of the image's
    // machine against this mapping and returns what it returns (EAX for x86;
    // for 32-bit code returning 64 bits, EDX:EAX when wide is true; RAX for
    // x64; X0 for ARM64). Throws Error when the code faults, leaves the image,
    // touches memory outside it or does not return within a small budget.
    // When executed is given, every instruction run is appended to it.
    uint64_t callExport(std::string_view name, bool wide = false,
                        std::vector<Executed>* executed = nullptr) const;

private:
    std::string             name_;
    std::vector<uint8_t>    file_;
    std::vector<uint8_t>    memory_;
    uint16_t                machine_ = 0;
    bool                    is64_ = false;
    uint64_t                preferredBase_ = 0;
    uint64_t                base_ = 0;
    uint32_t                entryPoint_ = 0;
    uint16_t                fileCharacteristics_ = 0;
    uint16_t                dllCharacteristics_ = 0;
    bool                    hasImports_ = false;
    std::vector<Section>    sections_;
    std::vector<Relocation> relocations_;
    std::vector<Export>     exports_;
    std::string             exportDllName_;
    std::vector<DataDirectory> directories_;
    uint32_t                headerChecksum_ = 0;
    uint32_t                checksumOffset_ = 0;  // file offset of the CheckSum field
};

}  // namespace kbd
