// The user table on raw hub messages: the input is cut at each '|' into
// messages, each handed over in a block of its own size plus the NUL.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hub/users.h"
#include "state/client_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    client_state_reset();
    size_t start = 0;
    for (size_t i = 0; i <= size; i++) {
        if (i < size && data[i] != '|') continue;
        size_t n = i - start;
        char* message = (char*)malloc(n + 1);
        memcpy(message, data + start, n);
        message[n] = 0;
        handle_user_message(message);
        free(message);
        start = i + 1;
    }
    // The index finds every present user at his slot, before the sort and
    // after it (the sort moves users and makes the index anew).
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 1) sort_users();
        int present = 0;
        for (int s = 0; s < USER_SLOTS; s++) {
            if (!g_state.users[s].present) continue;
            present++;
            if (find_user(g_state.users[s].name) != s) __builtin_trap();
        }
        if (present != g_state.user_count) __builtin_trap();
    }
    for (const UserEntry& user : g_state.users) {
        if (!user.present) continue;
        if (user.name[0] == 0 || strnlen(user.name, USER_NAME_BYTES) == USER_NAME_BYTES) __builtin_trap();
        if (strnlen(user.share, USER_SHARE_BYTES) == USER_SHARE_BYTES) __builtin_trap();
    }
    return 0;
}
