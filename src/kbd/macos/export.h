// The layout as a macOS keyboard layout: one .keylayout file (keys by Mac
// key code, a key map per modifier combination, dead keys as actions with
// states and terminators) in a keyboard-layout bundle, and a report of
// everything the Mac side does not reproduce.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "kbd/model/layout.h"

namespace kbd::macos {

// Something of the Windows layout the .keylayout does not reproduce: kind is
// a short stable id, count how many cells or keys, message one line.
struct Approximation {
    std::string kind;
    size_t      count = 0;
    std::string message;
};

struct Export {
    std::string                name;    // the layout's name: bundle, file and keyboard name
    std::string                source;  // the file it came from
    int                        id = 0;  // keyboard id, in the range for custom layouts
    std::string                keylayout;  // the file's text
    size_t                     keys = 0;   // keys given in the base map
    size_t                     maps = 0;   // key maps: one per different set of cells, and Command's
    size_t                     states = 0;  // dead-key states
    size_t                     actions = 0;
    std::vector<Approximation> approximations;
};

// The name used when none is given: the file's stem.
std::string defaultName(const std::filesystem::path& file);

// Why a name cannot name a bundle ("" when it can): empty, too long, not
// UTF-8, a path separator, ':' or a control character, or starting with '.'.
std::string nameFault(std::string_view name);

// The keyboard group and ids of a custom layout, as Apple's Technical Note
// TN2056 documents them: group 126 holds the Unicode (.keylayout) layouts,
// and a layout not made by Apple takes a negative id. The ids here are the
// negative 16-bit ones from -2 on (-1 is left out); idFor picks one from a
// hash of the name, so two layouts of different names rarely share one.
inline constexpr int kGroup = 126;
inline constexpr int kFirstCustomId = -2, kLastCustomId = -32768;

// The keyboard id for a name: its FNV-1a hash folded into the custom range.
int idFor(std::string_view name);

Export plan(const Layout& layout, const std::string& name, const std::string& source);

struct WrittenFile {
    std::string path;  // relative to the output folder
    size_t      size = 0;
};

// Writes DIR/NAME.bundle and DIR/report.json. Both are written under
// temporary names beside them and renamed into place (the bundle taken away
// again when the report cannot follow), so a failure leaves neither
// half-written; an existing bundle of the same name is replaced.
std::vector<WrittenFile> write(const Export& e, const std::filesystem::path& dir);

nlohmann::json report(const Export& e, const std::vector<WrittenFile>& files);

}  // namespace kbd::macos
