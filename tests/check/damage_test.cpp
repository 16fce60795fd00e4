// Damaged copies of the real image: each must give a clear kbd::Error, or
// decode, but never crash or read outside the file.
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "support/fixture.h"

using namespace kbd;

namespace {

// Decoding must throw kbd::Error whose message contains `want`.
void expectError(const std::vector<uint8_t>& bytes, const std::string& want) {
    try {
        decode(MappedImage::fromBytes(bytes, 0x20000000));
        ADD_FAILURE() << "decoded without error; expected: " << want;
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find(want), std::string::npos) << e.what();
    }
}

}  // namespace

TEST(Damage, TruncatedFilesAreRefused) {
    const auto full = kbdtest::imageBytes();
    for (size_t n : {size_t{0}, size_t{1}, size_t{2}, size_t{63}, size_t{64}, size_t{0x100}, size_t{0x1FF},
                     full.size() / 2, full.size() - 0x200}) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + n);
        EXPECT_THROW(decode(MappedImage::fromBytes(cut)), Error) << n << " bytes";
    }
}

TEST(Damage, ForeignFilesAreRefused) {
    EXPECT_THROW(MappedImage::fromBytes(std::vector<uint8_t>(4096, 0)), Error);
    std::vector<uint8_t> text(4096, 'x');
    text[0] = 'M';
    text[1] = 'Z';
    EXPECT_THROW(MappedImage::fromBytes(text), Error);
    EXPECT_THROW(MappedImage::load("/nonexistent/kbd.dll"), Error);
}

TEST(Damage, PointersOutsideTheImageAreRefused) {
    {
        kbdtest::ImageCopy c;
        c.put32(c.field("KBDTABLES.pCharModifiers"), 0xFFFFFFF0);
        expectError(c.bytes, "KBDTABLES.pCharModifiers");
    }
    {
        kbdtest::ImageCopy c;
        c.put32(c.field("KBDTABLES.pVkToWcharTable"), 0);
        expectError(c.bytes, "pVkToWcharTable");
    }
    {
        kbdtest::ImageCopy c;  // the first key name's string pointer, aimed past the end
        c.put32(c.field("pKeyNames[0].pwsz"), static_cast<uint32_t>(c.end() + 0x100));
        expectError(c.bytes, "pKeyNames[0].pwsz");
    }
}

TEST(Damage, ListsAndStringsThatRunOffTheImageAreRefused) {
    {
        kbdtest::ImageCopy c;  // 127 scan-code entries starting 16 bytes before the end
        c.put32(c.field("KBDTABLES.pusVSCtoVK"), static_cast<uint32_t>(c.end() - 16));
        expectError(c.bytes, "runs off the image");
    }
    {
        kbdtest::ImageCopy c;  // a name starting on the image's last byte
        c.put32(c.field("pKeyNamesDead[0]"), static_cast<uint32_t>(c.end() - 1));
        expectError(c.bytes, "does not end inside the image");
    }
}

TEST(Damage, ImpossibleRowSizesAreRefused) {
    kbdtest::ImageCopy c;  // cbSize of the first character table set to 0: a reader would loop forever
    c.put8(c.field("VK_TO_WCHAR_TABLE[0].pVkToWchars") + 5, 0);
    expectError(c.bytes, "cbSize");
}

TEST(Damage, AnExportThatDoesNotReturnIsStopped) {
    kbdtest::ImageCopy c;  // the export's first instruction made a jump to itself
    const auto e = c.img.findExport(kRootExport);
    ASSERT_TRUE(e);
    c.put8(c.img.base() + e->rva, 0xEB);
    c.put8(c.img.base() + e->rva + 1, 0xFE);
    expectError(c.bytes, "KbdLayerDescriptor: did not return within 10000 instructions");
}

TEST(Damage, RandomByteFlipsNeverCrash) {
    const auto full = kbdtest::imageBytes();
    std::mt19937 rng(12345);
    int refused = 0;
    for (int round = 0; round < 300; ++round) {
        auto b = full;
        const int flips = 1 + round % 8;
        for (int i = 0; i < flips; ++i) b[rng() % b.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        try {
            decode(MappedImage::fromBytes(std::move(b), 0x30000000));
        } catch (const Error&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 0);
}
