// Sizes as people read them: the one formatting of byte counts that the
// results list, its Info and the Users screen share.
#pragma once

#include <cstdint>

// "1023 B" up to "1023.9 EiB", and the terminator.
constexpr int BYTE_SIZE_UNITS = 12;

// Writes bytes in UTF-16: plain bytes below 1 KiB ("1023 B"), otherwise in
// the largest binary unit (KiB, MiB, GiB, TiB, PiB, EiB) that keeps the
// number at 1 or more, with one decimal rounded half up ("1.5 KiB" for
// 1536). A value that rounds up to 1024 of a unit is written in the next
// ("1.0 MiB", never "1024.0 KiB"). Cut to units (BYTE_SIZE_UNITS always
// fits); returns the units written, without the terminator.
int byte_size_text(uint64_t bytes, char16_t* out, int units);
