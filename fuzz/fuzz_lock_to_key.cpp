// lock_to_key on raw received bytes, exactly as many as arrived: the input is
// copied into a buffer of its own size so that a read past it is caught.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/lock_to_key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4000) return 0;
    char* received = (char*)malloc(size == 0 ? 1 : size);
    memcpy(received, data, size);
    char key[KEY_TEXT_BYTES];
    lock_to_key(received, (int)size, key);
    size_t n = strnlen(key, KEY_TEXT_BYTES);
    if (n == KEY_TEXT_BYTES || n < 6 || key[n - 1] != '|') abort();
    free(received);
    return 0;
}
