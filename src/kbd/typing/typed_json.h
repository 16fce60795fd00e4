// One typed chord as JSON, as `kbdtool type --json` prints it.
#pragma once

#include <nlohmann/json.hpp>

#include "kbd/typing/chords.h"

namespace kbd {

// One typed chord as JSON: the chord, its virtual key, its output, and the
// session's lock states and pending dead key after it.
nlohmann::json toJson(const Typed& typed, const Session& session);

}  // namespace kbd
