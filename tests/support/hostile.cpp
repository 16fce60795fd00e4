#include "support/hostile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace hostile {
namespace {

// PE32 field offsets, from the start of the part named.
constexpr size_t kLfanew = 0x3C;                  // DOS header: offset of "PE\0\0"
constexpr size_t kFileHeader = 4;                 // after the signature
constexpr size_t kNumberOfSections = 2;           // in the file header
constexpr size_t kSizeOfOptionalHeader = 16;
constexpr size_t kOptionalHeader = kFileHeader + 20;
constexpr size_t kImageBase = 28;                 // in the PE32 optional header
constexpr size_t kSizeOfImage = 56;
constexpr size_t kSizeOfHeaders = 60;
constexpr size_t kCheckSum = 64;
constexpr size_t kDataDirectories = 96;
constexpr unsigned kExportDirectory = 0, kBaseRelocDirectory = 5;
constexpr size_t kExportAddressTable = 0x1C;      // in the export directory
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSectionVirtualSize = 8, kSectionRva = 12, kSectionRawSize = 16, kSectionRawOffset = 20,
                 kSectionCharacteristics = 36;
constexpr uint32_t kReadOnlyData = 0x40000040;    // initialised data, readable
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint32_t kSectionAlignment = 0x1000, kFileAlignment = 0x200;
constexpr uint8_t kMovEaxImm32 = 0xB8, kHlt = 0xF4;
constexpr uint16_t kRelHighLow = 3;

uint32_t alignUp(uint64_t v, uint32_t a) {
    const uint64_t r = (v + a - 1) / a * a;
    if (r > UINT32_MAX) throw std::runtime_error("hostile: the file would pass 4 GiB");
    return static_cast<uint32_t>(r);
}

uint16_t get16(const Bytes& b, size_t at) {
    if (at + 2 > b.size()) throw std::runtime_error("hostile: read past the end of the image");
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}
uint32_t get32(const Bytes& b, size_t at) { return get16(b, at) | uint32_t{get16(b, at + 2)} << 16; }
void put16(Bytes& b, size_t at, uint16_t v) {
    b.at(at) = static_cast<uint8_t>(v);
    b.at(at + 1) = static_cast<uint8_t>(v >> 8);
}
void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, static_cast<uint16_t>(v));
    put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// A PE32 file open for editing: finds its headers, maps RVAs to file
// offsets, appends sections and rewrites the checksum.
class Pe {
public:
    explicit Pe(Bytes bytes) : b_(std::move(bytes)) {
        if (get16(b_, 0) != 0x5A4D) throw std::runtime_error("hostile: the image has no MZ header");
        pe_ = get32(b_, kLfanew);
        if (get32(b_, pe_) != 0x4550) throw std::runtime_error("hostile: the image has no PE signature");
        opt_ = pe_ + kOptionalHeader;
        if (get16(b_, opt_) != kMagicPe32) throw std::runtime_error("hostile: the image is not PE32");
    }

    Bytes& bytes() { return b_; }
    uint32_t imageBase() const { return get32(b_, opt_ + kImageBase); }
    uint16_t sectionCount() const { return get16(b_, pe_ + kFileHeader + kNumberOfSections); }
    size_t section(unsigned n) const {
        return opt_ + get16(b_, pe_ + kFileHeader + kSizeOfOptionalHeader) + kSectionHeaderSize * n;
    }
    size_t directory(unsigned index) const { return opt_ + kDataDirectories + 8 * index; }

    size_t offsetOf(uint32_t rva) const {
        for (unsigned i = 0; i < sectionCount(); ++i) {
            const size_t s = section(i);
            const uint32_t start = get32(b_, s + kSectionRva), raw = get32(b_, s + kSectionRawSize);
            if (rva >= start && rva - start < raw) return get32(b_, s + kSectionRawOffset) + (rva - start);
        }
        throw std::runtime_error("hostile: RVA " + std::to_string(rva) + " is not backed by the file");
    }

    // RVA of the first export; the layout image has just the one.
    uint32_t exportRva() const {
        const uint32_t dir = get32(b_, directory(kExportDirectory));
        return get32(b_, offsetOf(get32(b_, offsetOf(dir) + kExportAddressTable)));
    }

    // The root record's address, read from the export's `mov eax, imm32`.
    uint32_t root() const {
        const size_t code = offsetOf(exportRva());
        if (b_.at(code) != kMovEaxImm32) throw std::runtime_error("hostile: the export does not begin mov eax, imm32");
        return get32(b_, code + 1);
    }

    // Appends a read-only data section holding `data`; returns its RVA.
    uint32_t appendSection(const char* name, const Bytes& data) {
        const unsigned n = sectionCount();
        const size_t header = section(n);
        if (header + kSectionHeaderSize > get32(b_, opt_ + kSizeOfHeaders))
            throw std::runtime_error("hostile: no room for another section header");
        uint32_t rva = 0;
        for (unsigned i = 0; i < n; ++i) {
            const size_t s = section(i);
            const uint32_t size = std::max(get32(b_, s + kSectionVirtualSize), get32(b_, s + kSectionRawSize));
            rva = std::max(rva, alignUp(uint64_t{get32(b_, s + kSectionRva)} + size, kSectionAlignment));
        }
        const uint32_t rawOffset = alignUp(b_.size(), kFileAlignment);
        const uint32_t rawSize = alignUp(data.size(), kFileAlignment);
        b_.resize(rawOffset, 0);
        b_.insert(b_.end(), data.begin(), data.end());
        b_.resize(uint64_t{rawOffset} + rawSize, 0);

        std::memset(&b_[header], 0, kSectionHeaderSize);
        std::memcpy(&b_[header], name, std::min<size_t>(std::strlen(name), 8));
        put32(b_, header + kSectionVirtualSize, static_cast<uint32_t>(data.size()));
        put32(b_, header + kSectionRva, rva);
        put32(b_, header + kSectionRawSize, rawSize);
        put32(b_, header + kSectionRawOffset, rawOffset);
        put32(b_, header + kSectionCharacteristics, kReadOnlyData);
        put16(b_, pe_ + kFileHeader + kNumberOfSections, static_cast<uint16_t>(n + 1));
        put32(b_, opt_ + kSizeOfImage, alignUp(uint64_t{rva} + data.size(), kSectionAlignment));
        return rva;
    }

    // Turns the image's own relocations of [from, to) into ABSOLUTE
    // (type 0) entries, which fix up nothing.
    void dropRelocations(uint32_t from, uint32_t to) {
        const size_t dir = directory(kBaseRelocDirectory);
        const size_t at = offsetOf(get32(b_, dir)), size = get32(b_, dir + 4);
        for (size_t blk = 0; blk + 8 <= size;) {
            const uint32_t page = get32(b_, at + blk), blockSize = get32(b_, at + blk + 4);
            if (blockSize < 8) break;
            for (size_t e = 8; e + 2 <= blockSize; e += 2) {
                const uint32_t rva = page + (get16(b_, at + blk + e) & 0xFFF);
                if (rva >= from && rva < to) put16(b_, at + blk + e, 0);
            }
            blk += blockSize;
        }
    }

    // Moves the base-relocation table into a new section, with HIGHLOW
    // entries for `rvas` (ascending) after the image's own blocks.
    void addRelocations(const std::vector<uint32_t>& rvas) {
        const size_t dir = directory(kBaseRelocDirectory);
        const uint32_t ownRva = get32(b_, dir), ownSize = get32(b_, dir + 4);
        const size_t ownAt = offsetOf(ownRva);
        Bytes table(b_.begin() + ownAt, b_.begin() + ownAt + ownSize);
        for (size_t i = 0; i < rvas.size();) {
            const uint32_t page = rvas[i] & ~(kSectionAlignment - 1);
            const size_t header = table.size();
            table.resize(header + 8);
            put32(table, header, page);
            for (; i < rvas.size() && (rvas[i] & ~(kSectionAlignment - 1)) == page; ++i) {
                table.resize(table.size() + 2);
                put16(table, table.size() - 2, static_cast<uint16_t>(kRelHighLow << 12 | (rvas[i] - page)));
            }
            if ((table.size() - header) % 4) table.resize(table.size() + 2, 0);  // ABSOLUTE padding
            put32(table, header + 4, static_cast<uint32_t>(table.size() - header));
        }
        const uint32_t rva = appendSection(".reloc2", table);
        put32(b_, dir, rva);
        put32(b_, dir + 4, static_cast<uint32_t>(table.size()));
    }

    Bytes finish() {
        put32(b_, opt_ + kCheckSum, 0);
        put32(b_, opt_ + kCheckSum, peChecksum(b_));
        return std::move(b_);
    }

private:
    Bytes  b_;
    size_t pe_ = 0, opt_ = 0;
};

}  // namespace

Bytes sharedRows(const Bytes& image, uint32_t tables, uint32_t rows) {
    constexpr uint8_t kColumns = 126, kRowSize = 2 + 2 * kColumns;
    constexpr size_t kEntrySize = 8;  // VK_TO_WCHAR_TABLE with 4-byte pointers
    Pe pe(image);
    Bytes& b = pe.bytes();
    // The image's own character tables come first, so the layout keeps its
    // keys and dead keys; the shared entries follow.
    const size_t field = pe.offsetOf(pe.root() - pe.imageBase() + 4);  // KBDTABLES.pVkToWcharTable
    const size_t own = pe.offsetOf(get32(b, field) - pe.imageBase());
    Bytes ownEntries;
    for (size_t e = own; get32(b, e) != 0; e += kEntrySize) ownEntries.insert(ownEntries.end(), &b[e], &b[e] + kEntrySize);
    const size_t entries = ownEntries.size() / kEntrySize + tables;
    const uint32_t ownRva = get32(b, field) - pe.imageBase();
    pe.dropRelocations(ownRva, ownRva + static_cast<uint32_t>(ownEntries.size()));

    const size_t block = kEntrySize * (entries + 1);
    Bytes data(block + uint64_t{kRowSize} * (uint64_t{rows} + 1), 0);
    std::copy(ownEntries.begin(), ownEntries.end(), data.begin());
    // Rows: keys 'A' to 'Z' over and over, every column a letter.
    for (uint32_t r = 0; r < rows; ++r) {
        uint8_t* row = &data[block + uint64_t{kRowSize} * r];
        row[0] = static_cast<uint8_t>('A' + r % 26);
        for (unsigned c = 0; c < kColumns; ++c) row[2 + 2 * c] = static_cast<uint8_t>('a' + c % 26);
    }
    const uint32_t rva = pe.appendSection(".shared", data);
    const size_t at = pe.offsetOf(rva);
    const uint32_t blockVa = pe.imageBase() + rva + static_cast<uint32_t>(block);
    for (size_t t = ownEntries.size() / kEntrySize; t < entries; ++t) {
        const size_t e = at + kEntrySize * t;
        put32(b, e, blockVa);
        b[e + 4] = kColumns;
        b[e + 5] = kRowSize;
    }
    put32(b, field, pe.imageBase() + rva);
    // Every pointer of the new list has its relocation, as a linker would
    // give it.
    std::vector<uint32_t> pointers;
    for (size_t t = 0; t < entries; ++t) pointers.push_back(rva + static_cast<uint32_t>(kEntrySize * t));
    pe.addRelocations(pointers);
    return pe.finish();
}

Bytes manyRelocations(const Bytes& image, uint32_t entries) {
    constexpr uint32_t kPerPage = 2048;  // every even offset of a page
    constexpr size_t kBlock = 8 + 2 * kPerPage;
    Pe pe(image);
    const size_t dir = pe.directory(kBaseRelocDirectory);
    const uint32_t ownRva = get32(pe.bytes(), dir), ownSize = get32(pe.bytes(), dir + 4);
    const size_t ownAt = pe.offsetOf(ownRva);
    Bytes data(pe.bytes().begin() + ownAt, pe.bytes().begin() + ownAt + ownSize);
    const uint32_t pages = (entries + kPerPage - 1) / kPerPage;
    const size_t first = data.size();
    data.resize(first + kBlock * pages, 0);
    const uint32_t rva = pe.appendSection(".reloc2", data);
    Bytes& b = pe.bytes();
    const size_t at = pe.offsetOf(rva);
    // The added entries fix up the table's own pages, which are not
    // pointers; an entry count that is not a whole number of pages ends in
    // ABSOLUTE (type 0) padding entries.
    uint32_t left = entries;
    for (uint32_t p = 0; p < pages; ++p) {
        const size_t blk = at + first + kBlock * p;
        put32(b, blk, rva + kSectionAlignment * p);
        put32(b, blk + 4, static_cast<uint32_t>(kBlock));
        for (uint32_t e = 0; e < kPerPage && left > 0; ++e, --left)
            put16(b, blk + 8 + 2 * e, static_cast<uint16_t>(kRelHighLow << 12 | 2 * e));
    }
    put32(b, dir, rva);
    put32(b, dir + 4, static_cast<uint32_t>(data.size()));
    return pe.finish();
}

Bytes haltingExport(const Bytes& image) {
    Pe pe(image);
    pe.bytes()[pe.offsetOf(pe.exportRva())] = kHlt;
    return pe.finish();
}

uint32_t peChecksum(const Bytes& file) {
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        sum += file[i] | (i + 1 < file.size() ? file[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

}  // namespace hostile
