// The learning page: one self-contained HTML file with the keyboard, a text
// box to type into through the layout, a search for the keys of a character,
// and the dead-key sheets. Everything the page knows about the layout is
// computed here by the simulator and embedded as data; the page's script
// only keeps state (held keys, Caps Lock, the pending dead key) and looks up.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "kbd/typing/find.h"
#include "kbd/model/layout.h"

namespace kbd {

// The data the page embeds (its shape is described in page/page.html).
nlohmann::json pageData(const Finder& finder, const std::string& title);

// The whole page.
std::string pageHtml(const Finder& finder, const std::string& title);

// Writes the page; throws kbd::Error when the file cannot be written.
void writePage(const Finder& finder, const std::string& title, const std::string& path);

}  // namespace kbd
