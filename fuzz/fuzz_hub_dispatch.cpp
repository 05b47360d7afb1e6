// The hub dispatcher on raw received bytes, cut into receives where the
// input says: the receive tail, the routing and every handler run on them.
// Connect-to-me messages are defused ("$C" becomes "$c") so the fuzzer never
// starts a download worker.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hub/dispatch.h"
#include "state/client_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 3 * HUB_RECEIVE_BYTES) return 0;
    static bool started = false;
    if (!started) {
        client_state_reset();
        u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
        started = true;
    }
    g_state.hub_tail_len = 0;
    // The first byte sets the receive size (1 to 256 bytes, or a full 2000).
    int chunk = data[0] == 0xFF ? HUB_RECEIVE_BYTES : data[0] + 1;
    size_t at = 1;
    while (at < size) {
        static char buffer[HUB_DATA_BYTES];
        int kept = hub_tail_restore(buffer);
        int n = (int)(size - at < (size_t)chunk ? size - at : (size_t)chunk);
        memcpy(buffer + kept, data + at, (size_t)n);
        for (int i = kept > 0 ? kept - 1 : 0; i + 1 < kept + n; i++) {
            if (buffer[i] == '$' && buffer[i + 1] == 'C') buffer[i + 1] = 'c';
        }
        buffer[kept + n] = '\0';
        dispatch_hub_data(buffer, kept + n);
        at += (size_t)n;
        if (g_state.hub_tail_len < HUB_TAIL_DROPPING || g_state.hub_tail_len > HUB_TAIL_BYTES - 1) abort();
        if (g_state.hub_tail_len > 0 && g_state.hub_tail[g_state.hub_tail_len] != '\0') abort();
    }
    if (chatlog_length() > CHATLOG_UNITS - 1) abort();
    return 0;
}
