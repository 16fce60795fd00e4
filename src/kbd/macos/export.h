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

// The key maps of the .keylayout, by index: what each modifier combination
// selects. Option stands for AltGr; Command keeps the keys' Latin letters.
enum MapIndex : unsigned { Base, Shift, Caps, CapsShift, Option, ShiftOption, CapsOption, CapsShiftOption, Command, kMaps };

struct Export {
    std::string                name;    // the layout's name: bundle, file and keyboard name
    std::string                source;  // the file it came from
    int                        id = 0;  // keyboard id, in the range for custom layouts
    std::string                keylayout;  // the file's text
    size_t                     keys = 0;   // keys given in the base map
    size_t                     states = 0;  // dead-key states
    size_t                     actions = 0;
    std::vector<Approximation> approximations;
};

// The name used when none is given: the file's stem.
std::string defaultName(const std::filesystem::path& file);

// Why a name cannot name a bundle ("" when it can): empty, too long, not
// UTF-8, a path separator, ':' or a control character, or starting with '.'.
std::string nameFault(std::string_view name);

// Keyboard group of Unicode layouts, and the ids left to custom layouts.
inline constexpr int kGroup = 126;
inline constexpr int kFirstCustomId = -2, kLastCustomId = -32768;

// The keyboard id for a name: a hash of it in the custom range.
int idFor(std::string_view name);

Export plan(const Layout& layout, const std::string& name, const std::string& source);

struct WrittenFile {
    std::string path;  // relative to the output folder
    size_t      size = 0;
};

// Writes DIR/NAME.bundle and DIR/report.json. The bundle is built in a
// temporary folder beside it and renamed into place, so a failure leaves
// no half-written bundle; an existing bundle of the same name is replaced.
std::vector<WrittenFile> write(const Export& e, const std::filesystem::path& dir);

nlohmann::json report(const Export& e, const std::vector<WrittenFile>& files);

}  // namespace kbd::macos
