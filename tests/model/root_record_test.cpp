// The root record's last two fields exist only in newer builds of the
// record: an image whose root ends before them has a table there instead.
#include <gtest/gtest.h>

#include "support/fixture.h"

using namespace kbd;
using kbdtest::ImageCopy;

TEST(RootRecord, ATableWhereTheTypeFieldsWouldBeEndsTheRecordBeforeThem) {
    ImageCopy c;
    const uint64_t typeAt = c.d.root + offsetOf(Field::KBDTABLES_dwType, c.d.pointerSize);
    // The E1 list moves into those 8 bytes: one row and its terminator.
    c.put32(c.field("KBDTABLES.pVSCtoVK_E1"), uint32_t(typeAt));
    c.put32(typeAt, 0x0013'001Du);  // scan code 0x1D, VK_PAUSE
    c.put32(typeAt + 4, 0);
    const Decoded d = decode(MappedImage::fromBytes(c.bytes));
    EXPECT_EQ(d.layout.type, 0u);
    EXPECT_EQ(d.layout.subType, 0u);
    ASSERT_EQ(d.layout.scanCodesE1.size(), 1u);
    EXPECT_EQ(d.layout.scanCodesE1[0].entry, 0x13u);
}
