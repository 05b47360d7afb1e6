// The download worker's parse of what the peer sends: its greeting, then its
// length reply, accumulated receive by receive in the first
// HANDSHAKE_RECEIVE_BYTES of the worker's buffer exactly as the worker does
// (a NUL after the bytes received, a parse after every receive, at most 999
// bytes for each). The key found in the greeting is then built into the
// request, which must always fit, and the reply is quoted as the failure
// note quotes it.
//
// The input is the peer's byte stream: the greeting, and after the end of its
// key message the length reply. It is run in receives that take all that is
// there, and in receives of 1 to 16 bytes (the size taken from the last byte).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "protocol/handshake.h"
#include "state/client_state.h"
#include "transfer/download.h"

namespace {

// The worker's request buffer: the request head (59 bytes), a key, "$Get ",
// a path, "$1|".
constexpr int REQUEST_BYTES = 64 + HANDSHAKE_RECEIVE_BYTES + 5 + RESULT_PATH_BYTES + 3;
constexpr int QUOTE_BYTES = 61;

struct Stream {
    const uint8_t* data;
    size_t size;
    size_t at;
    int chunk;
};

// One receive into buffer + have of at most room bytes; 0 when the stream is done.
int receive(Stream* s, char* buffer, int have, int room) {
    size_t left = s->size - s->at;
    int n = room < s->chunk ? room : s->chunk;
    if ((size_t)n > left) n = (int)left;
    memcpy(buffer + have, s->data + s->at, (size_t)n);
    s->at += (size_t)n;
    return n;
}

void check_greeting(const char* buffer, int have, const PeerGreeting& g, const char* path) {
    if (g.key_start < 0 || g.key_length < 5 || g.key_start + g.key_length > have) abort();
    if (memcmp(buffer + g.key_start, "$Key", 4) != 0 || buffer[g.key_start + g.key_length - 1] != '|') abort();
    static char request[REQUEST_BYTES];
    int length = build_download_request(request, REQUEST_BYTES, buffer + g.key_start, g.key_length, path);
    if (length <= 0 || length >= REQUEST_BYTES || request[length] != 0) abort();
}

// The greeting phase; returns the stream index after the key message, or 0.
size_t run_greeting(Stream* s, char* buffer, const char* nick) {
    int have = 0;
    GreetingStatus status = GREETING_NO_NICK_BAR;
    PeerGreeting g;
    size_t start = s->at;
    while (greeting_incomplete(status) && have < HANDSHAKE_RECEIVE_BYTES - 1) {
        int got = receive(s, buffer, have, HANDSHAKE_RECEIVE_BYTES - 1 - have);
        if (got == 0) return 0;
        have += got;
        buffer[have] = 0;
        status = parse_peer_greeting(buffer, have, nick, &g);
    }
    if (status != GREETING_OK) return 0;
    check_greeting(buffer, have, g, "Docs\\readme-demo.txt");
    return start + (size_t)(g.key_start + g.key_length);
}

void run_length(Stream* s, char* buffer) {
    int have = 0;
    int quoted = 0;
    uint64_t total = 0;
    LengthStatus status = LENGTH_NO_BAR;
    while (status == LENGTH_NO_BAR && have < HANDSHAKE_RECEIVE_BYTES - 1) {
        int got = receive(s, buffer, have, HANDSHAKE_RECEIVE_BYTES - 1 - have);
        if (got == 0) break;
        have += got;
        buffer[have] = 0;
        status = parse_length_reply(buffer, have, &total, &quoted);
    }
    if (quoted < 0 || quoted > have) abort();
    if (status != LENGTH_OK && total != 0) abort();
    char detail[QUOTE_BYTES];
    text_copy_n(detail, QUOTE_BYTES, buffer, quoted);
    if (strnlen(detail, QUOTE_BYTES) == QUOTE_BYTES) abort();
}

void run(const uint8_t* data, size_t size, int chunk) {
    // The worker's reply buffer sits in a larger one here; only the first
    // HANDSHAKE_RECEIVE_BYTES may ever be touched by the handshake.
    static char buffer[DOWNLOAD_CHUNK_BYTES];
    memset(buffer + HANDSHAKE_RECEIVE_BYTES, 0x77, 16);
    Stream s = {data, size, 0, chunk};
    size_t after_key = run_greeting(&s, buffer, "Seeder");
    if (after_key != 0) {
        s.at = after_key;
        run_length(&s, buffer);
    }
    for (int i = 0; i < 16; i++) {
        if (buffer[HANDSHAKE_RECEIVE_BYTES + i] != 0x77) abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4 * HANDSHAKE_RECEIVE_BYTES) return 0;
    run(data, size, HANDSHAKE_RECEIVE_BYTES);
    run(data, size, 1 + data[size - 1] % 16);
    return 0;
}
