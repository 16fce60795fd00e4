// The layout source of a built image: its decoded tables, and what its version
// block says about it (file name, description, maker, copyright, version,
// language). What an image cannot say falls back to LayoutInfo's defaults.
#pragma once

#include <optional>
#include <string>

#include "kbd/image/mapped_image.h"
#include "kbd/model/decoder.h"
#include "kbd/model/layout_source.h"

namespace kbd {

// What the version block says (no code runs); defaults where it is silent.
LayoutInfo readLayoutInfo(const MappedImage& image);

// Throws kbd::Error when the tables do not decode or the version block is
// malformed. An image without a version block gets the default info.
LayoutSource readLayoutSource(const MappedImage& image, const DecodeOptions& options = {});

// The same from a file; the file name stands in for the layout's name when
// the version block gives none.
LayoutSource readLayoutSource(const std::string& path, std::optional<uint64_t> base = {},
                              const DecodeOptions& options = {});

}  // namespace kbd
