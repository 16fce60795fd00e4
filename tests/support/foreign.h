// The test layouts of tests/fixtures/, built for every kind by the host
// build: small layouts in the styles other tools produce, read and typed
// through as kbdtool reads any layout.
#pragma once

#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "kbd/model/decoder.h"
#include "kbd/typing/chords.h"

namespace kbdtest {

inline const char* const kForeignLayouts[] = {"sgcaps", "ligature2", "ligature4", "deadchain",
                                              "kana",   "columns",   "shiftlock"};
inline const char* const kForeignKinds[] = {"x86", "x64", "wow64"};

inline std::string foreignPath(const std::string& name, const std::string& kind = "x86") {
    return std::string(KBD_FIXTURES_DIR) + "/fixtures-" + kind + "/" + name + ".dll";
}

inline std::vector<uint8_t> foreignBytes(const std::string& name, const std::string& kind = "x86") {
    std::ifstream f(foreignPath(name, kind), std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Decoded once per test binary.
inline const kbd::Decoded& foreign(const std::string& name, const std::string& kind = "x86") {
    static std::map<std::string, kbd::Decoded> cache;
    const std::string path = foreignPath(name, kind);
    auto it = cache.find(path);
    if (it == cache.end()) it = cache.emplace(path, kbd::decodeFile(path)).first;
    return it->second;
}

// The text a sequence of chords gives on a test layout.
inline std::u16string typedOn(const std::string& name, std::initializer_list<const char*> chords, bool caps = false) {
    return kbd::typeText(foreign(name).layout, std::vector<std::string>(chords.begin(), chords.end()), caps);
}

}  // namespace kbdtest
