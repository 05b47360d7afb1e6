// Byte counts in binary units with one decimal.
#include "state/byte_size.h"

#include "platform/platform.h"

namespace {

const char16_t* const UNIT_NAMES[] = {u"KiB", u"MiB", u"GiB", u"TiB", u"PiB", u"EiB"};
constexpr int UNIT_COUNT = 6;

}  // namespace

int byte_size_text(uint64_t bytes, char16_t* out, int units) {
    if (bytes < 1024) return wide_format(out, units, u"%llu B", (unsigned long long)bytes);
    int u = 0;
    uint64_t unit = 1024;
    while (u + 1 < UNIT_COUNT && bytes / unit >= 1024) {
        unit <<= 10;
        u++;
    }
    uint64_t whole = bytes / unit;
    // rem < unit <= 2^60, so rem * 10 stays below 2^64.
    uint64_t rem = bytes % unit;
    uint64_t tenths = (rem * 10 + unit / 2) / unit;
    if (tenths == 10) {
        whole++;
        tenths = 0;
    }
    if (whole == 1024 && u + 1 < UNIT_COUNT) {
        whole = 1;
        u++;
    }
    return wide_format(out, units, u"%llu.%u %s", (unsigned long long)whole, (uint32_t)tenths, UNIT_NAMES[u]);
}
