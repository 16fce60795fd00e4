// The built image, mapped and decoded once per test binary at a base other
// than its preferred one, so that every test also proves the relocations.
#pragma once

#include <cstdint>
#include <cstring>
#include <stdexcept>
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

// A copy of the image with helpers to patch it at virtual addresses of the
// preferred mapping.
struct ImageCopy {
    std::vector<uint8_t> bytes = imageBytes();
    kbd::MappedImage     img = kbd::MappedImage::fromBytes(bytes);
    kbd::Decoded         d = kbd::decode(img);

    size_t offsetOf(uint64_t va) const {
        const uint64_t rva = va - img.base();
        for (const auto& s : img.sections())
            if (rva >= s.rva && rva < s.rva + s.rawSize) return s.rawOffset + (rva - s.rva);
        throw std::logic_error("address not backed by the file");
    }
    uint64_t field(const std::string& what) const {
        for (const auto& p : d.pointers)
            if (p.what == what) return p.field;
        throw std::logic_error("no pointer field " + what);
    }
    // Where the named pointer field points.
    uint64_t target(const std::string& what) const {
        for (const auto& p : d.pointers)
            if (p.what == what) return p.target;
        throw std::logic_error("no pointer field " + what);
    }
    void put32(uint64_t va, uint32_t v) { std::memcpy(&bytes[offsetOf(va)], &v, 4); }
    void put8(uint64_t va, uint8_t v) { bytes[offsetOf(va)] = v; }
    // File offset of the n-th section header.
    size_t sectionHeader(unsigned n) const {
        const uint32_t pe = bytes[0x3C] | bytes[0x3D] << 8;
        const uint16_t optional = bytes[pe + 20] | bytes[pe + 21] << 8;
        return pe + 24 + optional + 40 * n;
    }
    uint64_t end() const { return img.base() + img.sizeOfImage(); }
};

// Dead characters of the character tables, in row and column order.
inline std::vector<uint16_t> deadCharsOfTables() {
    std::vector<uint16_t> out;
    for (const auto& t : layout().charTables)
        for (const auto& r : t.rows)
            if (r.vk == kbd::def::VK_NONE)
                for (uint16_t c : r.cells)
                    if (c != kbd::def::WCH_NONE) out.push_back(c);
    return out;
}

// The text a sequence of chords gives, e.g. typed({"CapsLock", "AltGr+q"}).
inline std::u16string typed(std::initializer_list<const char*> chords) {
    std::vector<std::string> v(chords.begin(), chords.end());
    return kbd::typeText(layout(), v);
}

}  // namespace kbdtest
