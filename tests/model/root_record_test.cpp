// The root record's last two fields exist only in newer builds of the
// record: an image whose root ends before them has another table there.
#include <gtest/gtest.h>

#include "kbd/views/diff.h"
#include "support/fixture.h"

using namespace kbd;
using kbdtest::ImageCopy;

// As a layout tool lays out its 32-bit and 64-bit images: the record ends
// before dwType and the modifier list follows it, reached only through
// pCharModifiers. Its bytes (Shift 1, Ctrl 2, Alt 4, end) read as dwType
// 0x02110110 and dwSubType 0x412 unless the record is seen to end there.
TEST(RootRecord, ATableReachedThroughAnotherEndsTheRecordBeforeTheTypeFields) {
    std::vector<Layout> read;
    for (const char* path : {KBD_IMAGE_PATH, KBD_IMAGE_X64_PATH}) {
        ImageCopy c(path);
        const unsigned P = c.d.pointerSize;
        const uint64_t typeAt = c.d.root + offsetOf(Field::KBDTABLES_dwType, P);
        const uint64_t field = c.field("MODIFIERS.pVkToBit");
        c.put32(field, uint32_t(typeAt));
        if (P == 8) c.put32(field + 4, uint32_t(typeAt >> 32));
        const uint8_t list[] = {vk::SHIFT, def::KBDSHIFT, vk::CONTROL, def::KBDCTRL, vk::MENU, def::KBDALT, 0, 0};
        for (unsigned i = 0; i < sizeof list; ++i) c.put8(typeAt + i, list[i]);

        const Decoded d = decode(MappedImage::fromBytes(c.bytes));
        EXPECT_EQ(d.layout.type, 0u) << path;
        EXPECT_EQ(d.layout.subType, 0u) << path;
        EXPECT_EQ(d.layout.modifierBits, c.d.layout.modifierBits) << path;
        read.push_back(d.layout);
    }
    EXPECT_EQ(diffText(diffLayouts(read[0], read[1])), diffText({}));
}
