// The built image, mapped and decoded once per test binary at a base other
// than its preferred one, so that every test also proves the relocations.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <sys/wait.h>
#include <stdexcept>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include <llvm/BinaryFormat/COFF.h>
#include <llvm/Support/Endian.h>

#include "kbd/model/decoder.h"
#include "kbd/typing/chords.h"

namespace kbdtest {

inline constexpr uint64_t kForeignBase = 0x5A3C0000;

inline const char* imagePath() { return KBD_IMAGE_PATH; }

inline std::vector<uint8_t> imageBytes(const char* path = imagePath()) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline const kbd::Decoded& decoded() {
    static const kbd::Decoded d = kbd::decodeFile(imagePath(), kForeignBase);
    return d;
}

inline const kbd::Layout& layout() { return decoded().layout; }

// A copy of the image, to damage: reads and writes at file offsets and at
// virtual addresses of the preferred mapping, and where things stand.
struct ImageCopy {
    explicit ImageCopy(const char* path = imagePath()) : bytes(imageBytes(path)) {}
    std::vector<uint8_t> bytes;
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
    // The address of a data directory (llvm::COFF::DataDirectoryIndex).
    uint64_t directory(unsigned index) const { return img.base() + img.directory(index).rva; }

    uint16_t get16(size_t off) const { return llvm::support::endian::read16le(&bytes.at(off)); }
    uint32_t get32(size_t off) const { return llvm::support::endian::read32le(&bytes.at(off)); }
    void file16(size_t off, uint16_t v) { llvm::support::endian::write16le(&bytes.at(off), v); }
    void file32(size_t off, uint32_t v) { llvm::support::endian::write32le(&bytes.at(off), v); }
    void put8(uint64_t va, uint8_t v) { bytes.at(offsetOf(va)) = v; }
    void put16(uint64_t va, uint16_t v) { file16(offsetOf(va), v); }
    void put32(uint64_t va, uint32_t v) { file32(offsetOf(va), v); }

    // File offsets of the PE header, the optional header and the n-th section header.
    size_t pe() const { return get32(0x3C); }
    size_t opt() const { return pe() + 24; }
    size_t sectionHeader(unsigned n) const { return opt() + get16(pe() + 20) + 40 * n; }
    uint64_t end() const { return img.base() + img.sizeOfImage(); }
};

// A run of the kbdtool command: its exit status and what it printed.
struct Run {
    int         status = -1;
    std::string out;  // stdout and stderr together
};

inline Run kbdtool(const std::string& args) {
    Run r;
    const std::string cmd = std::string(KBDTOOL_PATH) + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

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
