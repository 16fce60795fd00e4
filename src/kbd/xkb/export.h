// The layout as a Linux keymap: XKB symbols and key types, rules that load
// the types, a Compose file for the dead keys, a complete keymap for X11, and
// a report of everything the Linux side gives only approximately or not at
// all. Keysyms are named only through libxkbcommon, so the files name each
// keysym exactly as the library that reads them does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "kbd/model/layout.h"
#include "kbd/xkb/keys.h"

namespace kbd::xkb {

// Something of the Windows layout that the Linux files do not reproduce
// exactly: kind is a short stable id, count how many keys, cells or lines
// it concerns, message one line for people.
struct Approximation {
    std::string kind;
    size_t      count = 0;
    std::string message;
};

// A key type: which level each combination of Shift, AltGr and Caps Lock
// selects. The base levels are Base, Shift, AltGr, Shift+AltGr (the last two
// only when the layout has AltGr); capsLevels gives, for each base level, the
// level Caps Lock turns it into. Levels beyond the base ones exist only for
// characters that Caps Lock gives and no base level has.
struct KeyType {
    std::string           name;
    unsigned              baseLevels = 4;
    std::vector<unsigned> capsLevels;  // 0-based, one per base level
    unsigned              levels = 4;
    // A keypad key: Navigation without Num Lock or with Shift, Number with
    // Num Lock, then AltGr; Windows' keypad, where Shift undoes Num Lock.
    bool                  keypad = false;
};

struct Key {
    KeyPosition           position;
    uint8_t               vk = 0;
    size_t                type = 0;  // index into Export::types
    std::vector<uint32_t> keysyms;   // one per level of its type; VoidSymbol for nothing
};

// A dead character and the dead keysym that stands for it.
struct DeadKeysym {
    uint16_t dead = 0;
    uint32_t keysym = 0;
};

// A keysym the keymap produces, with the character Windows gives for it.
struct Typable {
    uint32_t keysym = 0;
    uint16_t ch = 0;
};

struct ComposeLine {
    std::vector<uint32_t> keys;  // keysyms, the dead key first
    std::u16string        result;
};

struct Export {
    std::string                name;    // layout id: file names, rules, type names
    std::string                source;  // the file it came from, for comments
    bool                       altgr = false;
    std::vector<KeyType>       types;
    std::vector<Key>           keys;
    std::vector<DeadKeysym>    deadKeysyms;
    std::vector<Typable>       typables;
    std::vector<ComposeLine>   compose;
    std::vector<Approximation> approximations;
};

// The layout id used when none is given: the file's stem in lower case,
// with every character other than a-z, 0-9, '_' and '-' dropped.
std::string defaultName(const std::filesystem::path& file);

// A layout id is usable as a file name and in rules: 1 to 64 characters
// of a-z, 0-9, '_' and '-', starting with a letter.
bool validName(std::string_view name);

// Everything the files say, worked out from the layout.
Export plan(const Layout& layout, const std::string& name, const std::string& source);

// The keysym's name as libxkbcommon spells it.
std::string keysymName(uint32_t keysym);

// The keysym libxkbcommon gives a character (none: 0).
uint32_t keysymFor(char32_t ch);

// The texts of the files.
std::string symbolsFile(const Export& e);
std::string typesFile(const Export& e);
std::string rulesFile(const Export& e);
std::string registryFile(const Export& e);
std::string composeFile(const Export& e);
std::string keymapFile(const Export& e);

// Compose lines naming a keysym above 0xFFFF, which some input methods
// cannot read.
size_t wideComposeLines(const Export& e);

struct WrittenFile {
    std::string path;  // relative to the output folder
    size_t      size = 0;
};

// Writes every file under dir (created if missing) and returns them in
// order, report.json last.
std::vector<WrittenFile> write(const Export& e, const std::filesystem::path& dir);

// report.json for the files written.
nlohmann::json report(const Export& e, const std::vector<WrittenFile>& files);

}  // namespace kbd::xkb
