// The export directory of a PE image, read with every table and name checked
// to lie in the file before the object reader is let near it.
#pragma once

#include <vector>

#include <llvm/ADT/ArrayRef.h>

#include "kbd/image/mapped_image.h"

namespace llvm::object {
class COFFObjectFile;
}

namespace kbd {

// The exports and the library name; an unused ordinal (address 0, no name)
// is left out. file: the file's bytes, as the object reader sees them.
ExportTable readExports(const llvm::object::COFFObjectFile& obj, const std::vector<Section>& sections,
                        llvm::ArrayRef<uint8_t> file);

}  // namespace kbd
