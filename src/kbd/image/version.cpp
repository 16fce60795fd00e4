#include "kbd/image/version.h"

#include <fmt/format.h>
#include <llvm/BinaryFormat/COFF.h>
#include <llvm/Support/Endian.h>

#include "kbd/image/utf8.h"

namespace kbd {
namespace {

namespace endian = llvm::support::endian;

constexpr uint32_t kMaxEntries = 4096;       // per directory; bounds a hostile tree
constexpr unsigned kMaxNodes = 4096;         // per version block

class ResourceWalker {
public:
    explicit ResourceWalker(const MappedImage& img) : img_(img) {}

    std::vector<Resource> walk() {
        const DataDirectory d = img_.directory(llvm::COFF::RESOURCE_TABLE);
        if (d.rva == 0 || d.size == 0) return {};
        if (!img_.contains(img_.base() + d.rva, d.size))
            throw Error(fmt::format("the resource directory (RVA 0x{:X}, 0x{:X} bytes) lies outside the image",
                                    d.rva, d.size));
        dir_ = img_.bytes(img_.base() + d.rva, d.size, "the resource directory");
        Resource r;
        directory(0, 0, r);
        return std::move(out_);
    }

private:
    // The n bytes at offset off of the directory.
    const uint8_t* at(uint64_t off, uint64_t n, const char* what) const {
        const auto b = slice(dir_, off, n);
        if (!b)
            throw Error(fmt::format("{} at offset 0x{:X} runs past the resource directory (0x{:X} bytes)", what, off,
                                    dir_.size()));
        return b->data();
    }
    uint16_t u16(uint64_t off, const char* what) const { return endian::read16le(at(off, 2, what)); }
    uint32_t u32(uint64_t off, const char* what) const { return endian::read32le(at(off, 4, what)); }

    std::u16string name(uint32_t off) const {
        const uint16_t n = u16(off, "resource name");
        const uint8_t* units = at(uint64_t{off} + 2, 2u * n, "resource name");
        std::u16string s;
        for (unsigned i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(endian::read16le(units + 2 * i)));
        return s;
    }

    void directory(uint32_t off, unsigned level, Resource r) {
        if (level > 2) throw Error("the resource tree is deeper than type/name/language");
        at(off, 16, "resource directory");
        const uint32_t count = uint32_t{u16(off + 12, "resource directory")} + u16(off + 14, "resource directory");
        if (count > kMaxEntries)
            throw Error(fmt::format("a resource directory lists {} entries", count));
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t e = off + 16 + 8 * uint64_t{i};
            const uint32_t id = u32(e, "resource directory entry");
            const uint32_t target = u32(e + 4, "resource directory entry");
            Resource child = r;
            const bool named = id & 0x80000000u;
            if (level == 0) child.type = named ? 0 : id;
            if (level == 1) {
                child.id = named ? 0 : id;
                if (named) child.name = name(id & 0x7FFFFFFF);
            }
            if (level == 2) child.language = id;
            if (target & 0x80000000u) {
                const uint32_t sub = target & 0x7FFFFFFF;
                if (sub <= off) throw Error(fmt::format("the resource tree loops back at offset 0x{:X}", sub));
                directory(sub, level + 1, child);
            } else {
                if (level != 2)
                    throw Error(fmt::format("resource data at level {} of the tree, not under a language", level + 1));
                (void)at(target, 16, "resource data entry");
                child.dataRva = u32(target, "resource data entry");
                child.size = u32(target + 4, "resource data entry");
                if (!img_.contains(img_.base() + child.dataRva, child.size))
                    throw Error(fmt::format("resource data at RVA 0x{:X} (0x{:X} bytes) lies outside the image", child.dataRva, child.size));
                out_.push_back(std::move(child));
            }
        }
    }

    const MappedImage&       img_;
    std::span<const uint8_t> dir_;  // the resource directory
    std::vector<Resource> out_;
};

// A node of a version block: wLength, wValueLength, wType, szKey, value,
// children, each part 4-aligned from the block's start.
class VersionParser {
public:
    explicit VersionParser(const std::vector<uint8_t>& b) : b_(b) {}

    VersionInfo parse() {
        VersionInfo v;
        const Node root = node(0, static_cast<uint32_t>(b_.size()));
        v.key = root.key;
        if (root.key != "VS_VERSION_INFO") fail(0, fmt::format("the root key is '{}', not VS_VERSION_INFO", root.key));
        if (root.valueLength != 0) {
            if (root.valueLength != 52) fail(root.value, "VS_FIXEDFILEINFO is not 52 bytes");
            uint32_t* f = &v.fixed.signature;
            for (unsigned i = 0; i < 13; ++i) f[i] = u32(root.value + 4 * i);
            if (v.fixed.signature != 0xFEEF04BD) fail(root.value, fmt::format("VS_FIXEDFILEINFO signature 0x{:08X}", v.fixed.signature));
        }
        for (uint32_t c = root.children; c < root.end;) {
            const Node n = node(c, root.end);
            if (n.key == "StringFileInfo") {
                for (uint32_t t = n.children; t < n.end;) {
                    const Node table = node(t, n.end);
                    VersionInfo::StringTable st{table.key, {}};
                    for (uint32_t s = table.children; s < table.end;) {
                        const Node str = node(s, table.end);
                        st.strings.emplace_back(str.key, text(str.value, str.valueLength));
                        s = str.next;
                    }
                    v.stringTables.push_back(std::move(st));
                    t = table.next;
                }
            } else if (n.key == "VarFileInfo") {
                for (uint32_t t = n.children; t < n.end;) {
                    const Node var = node(t, n.end);
                    if (var.key == "Translation")
                        for (uint32_t i = 0; i + 4 <= var.valueLength; i += 4)
                            v.translations.emplace_back(u16(var.value + i), u16(var.value + i + 2));
                    t = var.next;
                }
            } else {
                fail(c, fmt::format("unexpected block '{}' in VS_VERSION_INFO", n.key));
            }
            c = n.next;
        }
        return v;
    }

private:
    struct Node {
        std::string key;
        uint32_t    value = 0, valueLength = 0;  // value offset; length in bytes
        uint32_t    children = 0, end = 0, next = 0;
    };

    [[noreturn]] void fail(uint32_t off, const std::string& why) const {
        throw Error(fmt::format("version block: {} (at offset 0x{:X})", why, off));
    }
    uint16_t u16(uint32_t off) const {
        const auto b = slice(b_, off, 2);
        if (!b) fail(off, "runs past the end of the block");
        return endian::read16le(b->data());
    }
    uint32_t u32(uint32_t off) const { return u16(off) | uint32_t{u16(off + 2)} << 16; }
    static uint32_t align4(uint32_t v) { return (v + 3) & ~3u; }

    std::string text(uint32_t off, uint32_t bytes) const {
        std::u16string s;
        for (uint32_t i = 0; i + 2 <= bytes; i += 2) {
            const uint16_t c = u16(off + i);
            if (c == 0) break;
            s.push_back(static_cast<char16_t>(c));
        }
        return utf8(s);
    }

    Node node(uint32_t off, uint32_t limit) {
        if (++nodes_ > kMaxNodes) fail(off, "too many entries");
        Node n;
        const uint16_t length = u16(off), valueLength = u16(off + 2), type = u16(off + 4);
        if (length < 6 || off + length > limit) fail(off, fmt::format("entry length {} does not fit its parent", length));
        n.end = off + length;
        n.next = align4(n.end);
        uint32_t p = off + 6;
        std::u16string key;
        for (;; p += 2) {
            if (p + 2 > n.end) fail(off, "key runs past its entry");
            const uint16_t c = u16(p);
            if (c == 0) break;
            key.push_back(static_cast<char16_t>(c));
        }
        n.key = utf8(key);
        n.value = align4(p + 2);
        n.valueLength = type == 1 ? 2u * valueLength : valueLength;  // text values count WCHARs
        if (n.value + n.valueLength > n.end) {
            // A text value's length may or may not count its terminator;
            // anything else past the entry is malformed.
            if (type == 1 && n.valueLength >= 2 && n.value + n.valueLength - 2 <= n.end) n.valueLength -= 2;
            else if (n.valueLength != 0) fail(off, fmt::format("the value of '{}' runs past its entry", n.key));
        }
        n.children = std::min(align4(n.value + n.valueLength), n.end);
        return n;
    }

    const std::vector<uint8_t>& b_;
    unsigned                    nodes_ = 0;
};

}  // namespace

std::vector<Resource> readResources(const MappedImage& image) { return ResourceWalker(image).walk(); }

VersionInfo parseVersionInfo(const std::vector<uint8_t>& block) { return VersionParser(block).parse(); }

std::optional<VersionInfo> readVersion(const MappedImage& image) {
    for (const Resource& r : readResources(image)) {
        if (r.type != RT_VERSION || r.id != 1) continue;
        const auto mem = image.memory().subspan(r.dataRva, r.size);  // checked by the walker
        VersionInfo v = parseVersionInfo(std::vector<uint8_t>(mem.begin(), mem.end()));
        v.language = r.language;
        return v;
    }
    return std::nullopt;
}

}  // namespace kbd
