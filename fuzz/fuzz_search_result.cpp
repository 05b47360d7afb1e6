// parse_search_fields on one hub message as the dispatcher hands it over: the
// input up to its first NUL, NUL-terminated in a buffer of exactly that size so
// that a read or write past the message is caught. An accepted result must fit
// its fields, and its short name must be the end of its path.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "protocol/hub_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4000) return 0;
    size_t length = strnlen((const char*)data, size);
    char* message = (char*)malloc(length + 1);
    memcpy(message, data, length);
    message[length] = '\0';
    SearchResult r;
    if (parse_search_fields(message, &r)) {
        size_t nick = strnlen(r.nick, RESULT_NICK_BYTES);
        size_t path = strnlen(r.path, RESULT_PATH_BYTES);
        size_t short_name = strnlen(r.short_name, RESULT_SHORT_BYTES);
        if (nick == 0 || nick == RESULT_NICK_BYTES || path == 0 || path == RESULT_PATH_BYTES ||
            short_name == RESULT_SHORT_BYTES || short_name > path) {
            abort();
        }
        if (memcmp(r.path + path - short_name, r.short_name, short_name) != 0) abort();
        if (short_name < path && r.path[path - short_name - 1] != '\\') abort();
        if (memchr(r.short_name, '\\', short_name) != nullptr) abort();
    }
    free(message);
    return 0;
}
