// The decoded layout as JSON, in the shape docs/json.md documents, and back.
#pragma once

#include <nlohmann/json.hpp>

#include "kbd/model/decoder.h"

namespace kbd {

// The whole model, every table in image order. Code points and virtual keys
// are numbers; flags and attributes are also given by name.
nlohmann::json toJson(const Decoded& decoded);

// The model back from toJson's output; throws kbd::Error on a document of
// another shape.
Layout layoutFromJson(const nlohmann::json& document);

}  // namespace kbd
