// What `kbdtool type` prints for each chord it types.
#pragma once

#include <string>

#include "kbd/typing/chords.h"

namespace kbd {

// Labels for the code points of a text, a surrogate pair as one:
// "U+0061 a, U+1D54F 𝕏".
std::string textLabel(const std::u16string& text);

// What a typed chord did, for a person: the characters it gave (composed,
// ligature), the dead key it left pending, a lock it switched. kanaBefore and
// capsBefore are the session's locks before the chord.
std::string describeTyped(const Typed& typed, const Session& session, bool kanaBefore, bool capsBefore);

}  // namespace kbd
