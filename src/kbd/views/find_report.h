// What `kbdtool find` prints: the shortest key sequences for each character
// of a text, one sequence for a whole text, and every character the layout
// types; as text, Markdown (the character list in docs/) or JSON.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "kbd/typing/find.h"

namespace kbd {

// One block per distinct character of text, in order of first appearance.
// allFound is false when a character cannot be typed.
std::string charactersText(const Finder& finder, const std::u16string& text, bool& allFound);
nlohmann::json charactersJson(const Finder& finder, const std::u16string& text, bool& allFound);

// One sequence that types the whole text; throws kbd::Error naming the
// first character the layout cannot type.
Sequence keysFor(const Finder& finder, const std::u16string& text);
nlohmann::json keysJson(const std::u16string& text, const Sequence& seq);

// Every character the layout types on its own, by code point.
std::string allText(const Finder& finder);
std::string allMarkdown(const Finder& finder);
nlohmann::json allJson(const Finder& finder);

// One character with its sequences, as the JSON lists hold it.
nlohmann::json characterJson(const std::u16string& ch, const std::vector<Sequence>& ways);

}  // namespace kbd
