// What reaches Kivo's listeners in active mode, from anyone:
// - a connection's first words, accumulated receive by receive in the
//   worker's buffer (a NUL after the bytes, a parse after each receive, at
//   most HANDSHAKE_RECEIVE_BYTES - 1 of them) until the nick is read; then,
//   in the same buffer, the rest of the peer's greeting, parsed for the nick
//   Kivo asked, and the request built from its key;
// - the same bytes as one datagram to the UDP port while a search is recent,
//   taken into the results as a $SR from the hub would be.
// Receives take 1 to 16 bytes at a time (the size from the last byte).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hub/active_mode.h"
#include "hub/search.h"
#include "platform/platform.h"
#include "protocol/handshake.h"
#include "state/client_state.h"
#include "transfer/download.h"

namespace {

constexpr int REQUEST_BYTES = 64 + HANDSHAKE_RECEIVE_BYTES + 5 + QUEUE_PATH_BYTES + 3;

void run_handshake(const uint8_t* data, size_t size) {
    static char buffer[HANDSHAKE_RECEIVE_BYTES];
    int chunk = size > 0 ? 1 + data[size - 1] % 16 : 1;
    size_t at = 0;
    int have = 0;
    char nick[RESULT_NICK_BYTES];
    IncomingStatus incoming = INCOMING_MORE;
    GreetingStatus greeting = GREETING_NO_NICK_BAR;
    PeerGreeting g;
    while (have < HANDSHAKE_RECEIVE_BYTES - 1 && at < size) {
        int n = chunk;
        if (n > HANDSHAKE_RECEIVE_BYTES - 1 - have) n = HANDSHAKE_RECEIVE_BYTES - 1 - have;
        if ((size_t)n > size - at) n = (int)(size - at);
        memcpy(buffer + have, data + at, (size_t)n);
        at += (size_t)n;
        have += n;
        buffer[have] = 0;
        if (incoming != INCOMING_OK) {
            incoming = parse_incoming_greeting(buffer, have, nick, RESULT_NICK_BYTES);
            if (incoming == INCOMING_MALFORMED) return;
            if (incoming == INCOMING_OK && (strlen(nick) == 0 || strlen(nick) >= (size_t)RESULT_NICK_BYTES)) abort();
            continue;
        }
        greeting = parse_peer_greeting(buffer, have, nick, &g);
        if (!greeting_incomplete(greeting)) break;
    }
    if (incoming != INCOMING_OK || greeting != GREETING_OK) return;
    if (g.key_start < 0 || g.key_length < 5 || g.key_start + g.key_length > have) abort();
    static char request[REQUEST_BYTES];
    int length = build_download_request(request, REQUEST_BYTES, buffer + g.key_start, g.key_length, "Docs\\a.txt");
    if (length <= 0 || length >= REQUEST_BYTES) abort();
}

void run_datagram(const uint8_t* data, size_t size) {
    static char datagram[UDP_DATAGRAM_BYTES];
    if (size > (size_t)UDP_DATAGRAM_BYTES - 1) size = UDP_DATAGRAM_BYTES - 1;
    memcpy(datagram, data, size);
    // A search sent just now, with room for its results.
    g_state.search_sent_ms = monotonic_ms();
    g_state.udp_results_taken = 0;
    if (g_state.result_count >= RESULT_ROWS) {
        g_state.result_count = 0;
        g_state.result_view.count = 0;
    }
    int before = g_state.result_count;
    search_take_datagram(datagram, (int)size);
    if (g_state.result_count < before || g_state.result_count > before + 1) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    run_handshake(data, size);
    run_datagram(data, size);
    return 0;
}
