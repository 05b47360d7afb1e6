// load_favorites on raw file bytes: the input is the content of the
// favourites file, read through the real open and read (a memory file named
// by its /proc/self/fd path), up to and past the FAVORITES_FILE_BYTES the
// reader takes. Every record counted must hold terminated fields.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/favorites.h"
#include "platform/platform.h"
#include "state/client_state.h"

namespace {

bool terminated(const char* field, int bytes) { return strnlen(field, (size_t)bytes) < (size_t)bytes; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int file = -1;
    static char16_t path[64];
    if (file < 0) {
        file = memfd_create("Favorites.xml", 0);
        if (file < 0) abort();
        char name[64];
        snprintf(name, sizeof name, "/proc/self/fd/%d", file);
        utf8_to_utf16(name, -1, path, 64);
    }
    if (size > FAVORITES_FILE_BYTES + 1000) return 0;
    if (ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != (ssize_t)size) abort();
    client_state_reset();
    load_favorites(path);
    if (g_state.favorites_count > FAVORITE_SLOTS) abort();
    if (size < 10 && g_state.favorites_count != 0) abort();
    for (int i = 0; i < g_state.favorites_count; i++) {
        const FavoriteHub& f = g_state.favorites[i];
        if (!terminated(f.nick, FAV_NICK_BYTES) || !terminated(f.host, FAV_HOST_BYTES) ||
            !terminated(f.port, FAV_PORT_BYTES) || !terminated(f.name, FAV_NAME_BYTES) ||
            !terminated(f.password, FAV_PASSWORD_BYTES)) {
            abort();
        }
    }
    if (g_state.file_text[FAVORITES_FILE_BYTES] != 0) abort();
    return 0;
}
