#include "kbd/image/exports.h"

#include <algorithm>
#include <cstring>

#include <fmt/format.h>
#include <llvm/BinaryFormat/COFF.h>
#include <llvm/Object/COFF.h>
#include <llvm/Support/Endian.h>

namespace kbd {
namespace {

namespace endian = llvm::support::endian;
using llvm::object::COFFObjectFile;

// Bounds the export tables. The reader's name lookup is linear per entry, so
// the whole walk is quadratic in these counts.
constexpr uint32_t kMaxExports = 8192;

void check(std::string_view what, llvm::Error err) {
    if (err) throw Error(fmt::format("{}: {}", what, llvm::toString(std::move(err))));
}

// The object reader's export entries read the address, name-pointer and
// ordinal tables and the name strings through bare pointers, with no bound
// but the directory entry's own size. Before they are used, every table and
// name is checked to lie in the file-backed part of the section the reader
// will find it in.
class ExportReader {
public:
    ExportReader(const COFFObjectFile& obj, const std::vector<Section>& sections, llvm::ArrayRef<uint8_t> file)
        : obj_(obj), sections_(sections), file_(file) {}

    ExportTable read() const {
        ExportTable out;
        const llvm::object::data_directory* dir = obj_.getDataDirectory(llvm::COFF::EXPORT_TABLE);
        if (!dir || dir->RelativeVirtualAddress == 0) return out;
        const uint32_t dirRva = dir->RelativeVirtualAddress;
        const auto* table = obj_.getExportTable();
        (void)require(dirRva, sizeof(llvm::object::export_directory_table_entry), "the export directory");
        if (!table) throw Error(fmt::format("the export directory at RVA {} could not be located", hex(dirRva)));

        const uint32_t entries = table->AddressTableEntries;
        const uint32_t names = table->NumberOfNamePointers;
        if (entries > kMaxExports || names > kMaxExports)
            throw Error(fmt::format("the export directory lists {} addresses and {} names; at most {} are accepted",
                                    entries, names, kMaxExports));
        if (entries != 0)
            (void)require(table->ExportAddressTableRVA, uint64_t{entries} * 4, "the export address table");
        if (names != 0) {
            const auto ordinals = require(table->OrdinalTableRVA, uint64_t{names} * 2, "the export ordinal table");
            const auto pointers = require(table->NamePointerRVA, uint64_t{names} * 4, "the export name table");
            for (uint32_t i = 0; i < names; ++i) {
                const uint16_t ordinal = endian::read16le(ordinals.data() + 2 * i);
                if (ordinal >= entries)
                    throw Error(fmt::format("export name {} has ordinal index {}, outside the address table ({} "
                                            "entries)",
                                            i, ordinal, entries));
                requireString(endian::read32le(pointers.data() + 4 * i), fmt::format("export name {}", i));
            }
        }

        out.dllName = requireString(table->NameRVA, "the export directory's library name");
        for (const llvm::object::ExportDirectoryEntryRef& e : obj_.export_directories()) {
            Export x;
            check("export ordinal", e.getOrdinal(x.ordinal));
            check("export address", e.getExportRVA(x.rva));
            if (names != 0) {
                llvm::StringRef symbol;
                check("export name", e.getSymbolName(symbol));
                x.name = symbol.str();
            }
            // An address-table slot of 0 with no name is an unused ordinal.
            if (x.rva == 0 && x.name.empty()) continue;
            out.exports.push_back(std::move(x));
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
            // The mapper has put the raw data inside the file.
            return file_.slice(s.rawOffset + off, n - off);
        }
        return {};
    }

    llvm::ArrayRef<uint8_t> require(uint32_t rva, uint64_t size, std::string_view what) const {
        const llvm::ArrayRef<uint8_t> b = backed(rva);
        if (b.empty() || b.size() < size)
            throw Error(fmt::format("{} at RVA {} ({} bytes) does not lie in the file data of one section", what,
                                    hex(rva), hex(size)));
        return b;
    }

    // The NUL-terminated string at `rva`, which must end in the same section.
    std::string requireString(uint32_t rva, const std::string& what) const {
        const llvm::ArrayRef<uint8_t> b = backed(rva);
        const void* nul = b.empty() ? nullptr : std::memchr(b.data(), 0, b.size());
        if (!nul)
            throw Error(fmt::format("{} at RVA {} does not end inside the file data of its section", what, hex(rva)));
        return std::string(reinterpret_cast<const char*>(b.data()), static_cast<const uint8_t*>(nul) - b.data());
    }

    const COFFObjectFile&       obj_;
    const std::vector<Section>& sections_;
    llvm::ArrayRef<uint8_t>     file_;
};

}  // namespace

ExportTable readExports(const COFFObjectFile& obj, const std::vector<Section>& sections,
                        llvm::ArrayRef<uint8_t> file) {
    return ExportReader(obj, sections, file).read();
}

}  // namespace kbd
