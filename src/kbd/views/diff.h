// The differences between two layouts as a person reads them: settings,
// modifier columns, what each key gives in each shift state, compositions
// and names, never the tables' arrangement. Two layouts that type the same
// and carry the same names have no differences.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "kbd/model/layout.h"

namespace kbd {

struct Change {
    enum class Kind { Changed, Added, Removed };
    std::string    section;  // "settings", "modifiers", "scan codes", "keys", "compositions", "names"
    Kind           kind = Kind::Changed;
    std::string    item;     // what changed: "D01 (sc 10) AltGr", "¯ U+00AF then a U+0061"
    std::string    before;   // as people read it: "U+00E4 ä"; empty when added
    std::string    after;    // empty when removed
    nlohmann::json beforeValue, afterValue;  // the same as numbers and strings; null when absent
};

// Every difference from a to b, section by section in the order above.
std::vector<Change> diffLayouts(const Layout& a, const Layout& b);

// "" for no changes; otherwise one heading per section and one line per change.
std::string diffText(const std::vector<Change>& changes);
nlohmann::json diffJson(const std::vector<Change>& changes);

}  // namespace kbd
