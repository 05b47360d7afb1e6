// The one size formatting at its edges (the screens' tests show the common
// sizes): the last plain byte count, rounding into the next unit, the
// largest count.
#include <gtest/gtest.h>

#include <string>

#include "state/byte_size.h"

TEST(ByteSize, RoundsIntoTheNextUnitAndNeverOverflows) {
    const struct { uint64_t bytes; const char16_t* text; } cases[] = {
        {1023, u"1023 B"}, {1024, u"1.0 KiB"}, {2816, u"2.8 KiB"}, {1024 * 1024 - 60, u"1023.9 KiB"},
        {1024 * 1024 - 1, u"1.0 MiB"},  // not "1024.0 KiB"
        {~0ull, u"16.0 EiB"},
    };
    for (const auto& c : cases) {
        char16_t text[BYTE_SIZE_UNITS];
        byte_size_text(c.bytes, text, BYTE_SIZE_UNITS);
        EXPECT_EQ(std::u16string(text), c.text) << c.bytes;
    }
}
