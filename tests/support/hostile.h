// Hostile variants of a 32-bit layout image: files built to cost a reader as
// much time and memory as possible while staying close to a real layout. The
// benchmark (scripts/hostile) writes them full size; the tests make small
// versions of the same files and check what kbdtool says about them.
//
// Every function takes the bytes of a sound PE32 layout image whose export
// begins `mov eax, root; ret` (as ours does) and returns a new file. Header
// fields touched are re-derived (SizeOfImage, NumberOfSections, CheckSum), so
// the only fault of each file is the one it is built to have.
#pragma once

#include <cstdint>
#include <vector>

namespace hostile {

using Bytes = std::vector<uint8_t>;

// Character tables of 126 columns (254-byte rows): `tables` entries in the
// list of character tables, every one pointing at the same block of `rows`
// rows. With tables > 1 the rows are shared, so a reader that decodes each
// table on its own reads tables * rows rows from a file holding `rows`.
Bytes sharedRows(const Bytes& image, uint32_t tables, uint32_t rows);

// A base-relocation table of `entries` HIGHLOW entries, each at its own RVA
// (two bytes apart, over the table's own pages), after the image's own
// relocations: every added entry fixes up something that is not a pointer.
Bytes manyRelocations(const Bytes& image, uint32_t entries);

// The image with the export's first instruction replaced by `hlt`.
Bytes haltingExport(const Bytes& image);

// The loader's checksum of a PE file (CheckSum field taken as zero).
uint32_t peChecksum(const Bytes& file);

}  // namespace hostile
