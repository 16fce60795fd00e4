// What `type` prints for a chord's characters.
#include <gtest/gtest.h>

#include "kbd/views/typed_text.h"

// A surrogate pair is one character; a lone surrogate stays a code unit of its own.
TEST(TypedText, LabelsEachCodePoint) {
    EXPECT_EQ(kbd::textLabel(u"a\U0001D54F"), "U+0061 a, U+1D54F \U0001D54F");
    EXPECT_EQ(kbd::textLabel(std::u16string{0xD835, u'b'}), "U+D835, U+0062 b");
}
