// The mapper on images damaged where the loader looks first: headers,
// sections, relocation blocks, and export code that misbehaves on the CPU
// model. Each must end in kbd::Error naming what is at fault.
#include <gtest/gtest.h>

#include "fixture.h"

using namespace kbd;
using kbdtest::ImageCopy;

namespace {

uint32_t pe(const std::vector<uint8_t>& b) { return b[0x3C] | b[0x3D] << 8 | b[0x3E] << 16 | b[0x3F] << 24; }

void put32At(std::vector<uint8_t>& b, size_t off, uint32_t v) { std::memcpy(&b[off], &v, 4); }

std::string failure(const std::vector<uint8_t>& bytes, std::optional<uint64_t> base = {}) {
    try {
        const auto img = MappedImage::fromBytes(bytes, base);
        img.callExport(kRootExport);
        return "";
    } catch (const Error& e) {
        return e.what();
    }
}

// Replaces the export's first instructions with `code`.
std::vector<uint8_t> withExportCode(std::vector<uint8_t> code) {
    ImageCopy c;
    const uint64_t at = c.img.base() + c.img.findExport(kRootExport)->rva;
    for (size_t i = 0; i < code.size(); ++i) c.put8(at + i, code[i]);
    return c.bytes;
}

}  // namespace

TEST(Mapper, DamagedHeadersAndSectionsAreRefused) {
    const auto good = kbdtest::imageBytes();
    const size_t opt = pe(good) + 24;
    struct Case {
        const char* what;
        size_t      offset;
        uint32_t    value;
        const char* want;
    };
    const size_t sec0 = ImageCopy{}.sectionHeader(0), sec1 = ImageCopy{}.sectionHeader(1);
    for (const Case& k : std::vector<Case>{
             {"SizeOfImage 0", opt + 56, 0, "SizeOfImage"},
             {"SizeOfImage huge", opt + 56, 0x7FFFFFFF, "SizeOfImage"},
             {"SizeOfHeaders past the image", opt + 60, 0x00100000, "SizeOfHeaders"},
             // .data holds the export directory, which the object reader
             // resolves first and reports in its own words.
             {"raw data past the file", sec0 + 20, 0x00100000, "end of the file"},
             {"section past SizeOfImage", sec0 + 12, 0x00100000, "for export table not found"},
             {"section over the headers", sec0 + 12, 0, "overlaps the headers"},
             {"sections overlapping", sec1 + 12, 0x1000, "overlaps section"},
             {"e_lfanew past the file", 0x3C, 0x00FFFFF0, ""},
         }) {
        auto b = good;
        put32At(b, k.offset, k.value);
        const std::string msg = failure(b);
        EXPECT_FALSE(msg.empty()) << k.what;
        EXPECT_NE(msg.find(k.want), std::string::npos) << k.what << ": " << msg;
    }
}

TEST(Mapper, DamagedRelocationBlocksAreRefused) {
    const auto good = kbdtest::imageBytes();
    ImageCopy c;
    const DataDirectory dir = c.img.directory(5);
    const size_t block = c.offsetOf(c.img.base() + dir.rva);
    for (const auto& [size, want] : std::vector<std::pair<uint32_t, std::string>>{
             {0, "not 8 plus a whole number"},
             {6, "not 8 plus a whole number"},
             {11, "not 8 plus a whole number"},
             {0x7FFFFFF0, "runs past the end of the directory"},
         }) {
        auto b = good;
        put32At(b, block + 4, size);
        const std::string msg = failure(b, 0x20000000);
        EXPECT_NE(msg.find(want), std::string::npos) << size << ": " << msg;
    }
    {
        auto b = good;  // the first block's page moved to the top of the address space
        put32At(b, block, 0xFFFFF000);
        EXPECT_NE(failure(b, 0x20000000).find("lies outside the image"), std::string::npos);
    }
    {
        auto b = good;  // an entry of a type a 32-bit image never carries
        b[block + 9] = static_cast<uint8_t>((b[block + 9] & 0x0F) | 0x50);
        EXPECT_NE(failure(b, 0x20000000).find("has type 5"), std::string::npos);
    }
}

TEST(Mapper, BasesMustBeAlignedAndLeaveRoomForTheImage) {
    const auto good = kbdtest::imageBytes();
    const uint32_t size = MappedImage::fromBytes(good).sizeOfImage();
    EXPECT_EQ(failure(good, 0x100000000ull - size), "");  // the very top of the 32-bit space
    EXPECT_NE(failure(good, 0x100000000ull - size + 0x1000).find("does not fit"), std::string::npos);
    EXPECT_NE(failure(good, 0x20000800).find("page-aligned"), std::string::npos);
    EXPECT_NE(failure(good, 0).find("non-null"), std::string::npos);
}

TEST(Mapper, ExportCodeThatMisbehavesIsStopped) {
    const uint32_t data = 0x10001100;  // inside .data at the preferred base
    const auto le = [](uint32_t v) {
        return std::vector<uint8_t>{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    auto cat = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    for (const auto& [what, code, want] : std::vector<std::tuple<std::string, std::vector<uint8_t>, std::string>>{
             {"ud2", {0x0F, 0x0B}, "pc"},
             {"write to .data", cat(cat({0xC7, 0x05}, le(data)), le(1)), "the image is read-only"},
             {"jump out of the image", cat({0xE9}, le(0x40000000)), "execution left the image"},
             {"read of address 0", cat({0xA1}, le(0)), "not mapped"},
         }) {
        const std::string msg = failure(withExportCode(code));
        EXPECT_FALSE(msg.empty()) << what;
        EXPECT_NE(msg.find(want), std::string::npos) << what << ": " << msg;
    }
    // mov eax, 0x55667788; mov edx, 0x11223344; ret: a wide return reads EDX:EAX.
    const auto wide = MappedImage::fromBytes(
        withExportCode(cat(cat(cat({0xB8}, le(0x55667788)), cat({0xBA}, le(0x11223344))), {0xC3})));
    EXPECT_EQ(wide.callExport(kRootExport, true), 0x1122334455667788ull);
    EXPECT_EQ(wide.callExport(kRootExport, false), 0x55667788ull);
}
