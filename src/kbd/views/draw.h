// Pictures of a decoded layout: SVG drawings of the keyboard per shift state
// and one sheet per dead key, made from the model alone.
#pragma once

#include <string>
#include <vector>

#include "kbd/model/layout.h"

namespace kbd {

struct Drawing {
    std::string fileName;  // "base-shift.svg", "dead-00AF.svg", ...
    std::string svg;       // a complete, self-contained SVG document
};

// Every drawing of the layout, in a stable order.
std::vector<Drawing> drawLayout(const Layout& layout);

// Writes drawLayout's drawings into dir (created if missing) and returns the
// paths written. Throws kbd::Error when a file cannot be written.
std::vector<std::string> writeDrawings(const Layout& layout, const std::string& dir);

}  // namespace kbd
