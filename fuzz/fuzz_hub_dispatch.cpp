// The hub dispatcher on raw received bytes, exactly as the read event hands
// them over: each receive of at most HUB_RECEIVE_BYTES is placed after the
// kept tail and dispatched, so the receive tail, the routing and every
// handler behind it (user information and quit, search results, connect-to-me,
// public and private chat) run on the input.
//
// The input is the hub's byte stream. It is dispatched twice from a fresh
// state: in full receives, and in small receives of 1 to 64 bytes (the size
// taken from the last byte), so a message is also split at every place.
//
// No download is requested, as after start-up: a $ConnectToMe then goes
// through download_take_connect's checks and is ignored, so the fuzzer never
// starts a worker or connects anywhere (fuzz_connect_request parses the
// request itself).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hub/dispatch.h"
#include "hub/users.h"
#include "state/client_state.h"

namespace {

void fresh_state() {
    client_state_reset();
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
    text_copy(g_state.settings.nick, NICK_BYTES, "kivo");
    download_set_phase(0, DOWNLOAD_IDLE);
}

void check_tail() {
    int tail = g_state.hub_tail_len;
    if (tail < HUB_TAIL_DROPPING || tail > HUB_TAIL_BYTES - 1) abort();
    if (tail > 0 && (g_state.hub_tail[tail] != '\0' || memchr(g_state.hub_tail, 0, (size_t)tail))) abort();
}

void check_tables() {
    if (g_state.result_count < 0 || g_state.result_count > RESULT_ROWS) abort();
    for (int r = 0; r < g_state.result_count; r++) {
        const SearchResult& row = g_state.results[r];
        if (row.nick[0] == 0 || strnlen(row.nick, RESULT_NICK_BYTES) == RESULT_NICK_BYTES) abort();
        if (row.path[0] == 0 || strnlen(row.path, RESULT_PATH_BYTES) == RESULT_PATH_BYTES) abort();
        if (strnlen(row.short_name, RESULT_SHORT_BYTES) == RESULT_SHORT_BYTES) abort();
    }
    for (int s = 0; s < USER_SLOTS; s++) {
        const UserEntry& user = g_state.users[s];
        if (!user.present) continue;
        if (user.name[0] == 0 || strnlen(user.name, USER_NAME_BYTES) == USER_NAME_BYTES) abort();
        if (strnlen(user.share, USER_SHARE_BYTES) == USER_SHARE_BYTES) abort();
        if (find_user(user.name) != s) abort();  // the index finds every present user at his slot
    }
    // Nothing from the hub alone may start or request a download.
    if (download_running(0) || download_requested(0) || download_phase(0) != DOWNLOAD_IDLE) abort();
    if (chatlog_length() > CHATLOG_TEXT_UNITS) abort();
}

// Feeds data to the dispatcher in receives of at most chunk bytes.
void dispatch_in_receives(const uint8_t* data, size_t size, int chunk) {
    fresh_state();
    static char buffer[HUB_DATA_BYTES];
    size_t at = 0;
    while (at < size) {
        int kept = hub_tail_restore(buffer);
        int n = (int)(size - at < (size_t)chunk ? size - at : (size_t)chunk);
        memcpy(buffer + kept, data + at, (size_t)n);
        buffer[kept + n] = '\0';
        dispatch_hub_data(buffer, kept + n);
        at += (size_t)n;
        check_tail();
    }
    check_tables();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 3 * HUB_RECEIVE_BYTES) return 0;
    dispatch_in_receives(data, size, HUB_RECEIVE_BYTES);
    dispatch_in_receives(data, size, 1 + data[size - 1] % 64);
    return 0;
}
