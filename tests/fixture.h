// The built image, mapped and decoded once per test binary at a base other
// than its preferred one, so that every test also proves the relocations.
#pragma once

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "decode.h"
#include "keyseq.h"

namespace kbdtest {

inline constexpr uint64_t kForeignBase = 0x5A3C0000;

inline const char* imagePath() { return KBD_IMAGE_PATH; }

inline std::vector<uint8_t> imageBytes() {
    std::ifstream f(imagePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline const kbd::Decoded& decoded() {
    static const kbd::Decoded d = kbd::decodeFile(imagePath(), kForeignBase);
    return d;
}

inline const kbd::Layout& layout() { return decoded().layout; }

// The text a sequence of chords gives, e.g. typed({"CapsLock", "AltGr+q"}).
inline std::u16string typed(std::initializer_list<const char*> chords) {
    std::vector<std::string> v(chords.begin(), chords.end());
    return kbd::typeText(layout(), v);
}

}  // namespace kbdtest
