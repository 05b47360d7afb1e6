// The one size formatting: unit boundaries, rounding into the next unit,
// and the largest count that exists.
#include <gtest/gtest.h>

#include <string>

#include "state/byte_size.h"

namespace {

std::u16string size_of(uint64_t bytes) {
    char16_t text[BYTE_SIZE_UNITS];
    int length = byte_size_text(bytes, text, BYTE_SIZE_UNITS);
    EXPECT_EQ(length, (int)std::u16string(text).size());
    return text;
}

TEST(ByteSize, UnitsRoundingAndLimits) {
    EXPECT_EQ(size_of(0), u"0 B");
    EXPECT_EQ(size_of(1023), u"1023 B");
    EXPECT_EQ(size_of(1024), u"1.0 KiB");
    EXPECT_EQ(size_of(1536), u"1.5 KiB");
    EXPECT_EQ(size_of(2816), u"2.8 KiB");  // 2.75 rounds half up
    // Just under a mebibyte rounds into it, not to "1024.0 KiB".
    EXPECT_EQ(size_of(1024 * 1024 - 1), u"1.0 MiB");
    EXPECT_EQ(size_of(1024 * 1024 - 60), u"1023.9 KiB");
    EXPECT_EQ(size_of(5368709120ull), u"5.0 GiB");
    EXPECT_EQ(size_of(3298534895673ull), u"3.0 TiB");  // a share as the Users screen showed it in bytes
    EXPECT_EQ(size_of(1ull << 60), u"1.0 EiB");
    EXPECT_EQ(size_of(~0ull), u"16.0 EiB");  // the largest count: no overflow in the rounding
    // A buffer too small is cut and terminated.
    char16_t small[4];
    byte_size_text(1536, small, 4);
    EXPECT_EQ(std::u16string(small), u"1.5");
}

}  // namespace
