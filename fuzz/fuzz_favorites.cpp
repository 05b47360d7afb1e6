// The favourites reader on raw file bytes, as the file would hold them.
#include <cstdint>
#include <cstring>

#include "config/favorites.h"
#include "state/client_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    client_state_reset();
    size_t n = size < FAVORITES_FILE_BYTES ? size : FAVORITES_FILE_BYTES;
    memcpy(g_state.file_text, data, n);
    g_state.file_text[n] = 0;
    parse_favorites_text();
    if (g_state.favorites_count > FAVORITE_SLOTS) __builtin_trap();
    for (int i = 0; i < g_state.favorites_count; i++) {
        const FavoriteHub& f = g_state.favorites[i];
        if (strnlen(f.host, FAV_HOST_BYTES) == FAV_HOST_BYTES) __builtin_trap();
        if (strnlen(f.port, FAV_PORT_BYTES) == FAV_PORT_BYTES) __builtin_trap();
    }
    return 0;
}
