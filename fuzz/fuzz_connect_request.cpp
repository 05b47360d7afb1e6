// parse_connect_request on one $ConnectToMe as the worker gets it: the
// message up to its first NUL (the dispatcher's cut, without its '|'), at most
// CONNECT_REQUEST_BYTES - 1 bytes as download_take_connect admits, in a block
// of exactly its size so a read past it is caught. The own nick's length is
// what the parse trusts: it is tried as the nick the message names, as 0, as
// the whole message and as a value taken from the input.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "protocol/handshake.h"
#include "state/client_state.h"

namespace {

bool digits_only(const char* text) {
    for (; *text != 0; text++) {
        if (*text < '0' || *text > '9') return false;
    }
    return true;
}

void parse_and_check(const char* message, int length, int own_nick_length) {
    ConnectAddress address;
    memset(&address, 0x5A, sizeof address);
    if (!parse_connect_request(message, own_nick_length, &address)) {
        if (address.host[0] != 0 || address.port[0] != 0) abort();
        return;
    }
    size_t host = strnlen(address.host, CONNECT_HOST_BYTES);
    size_t port = strnlen(address.port, CONNECT_PORT_BYTES);
    if (host == 0 || host == CONNECT_HOST_BYTES || port == 0 || port == CONNECT_PORT_BYTES) abort();
    if (memchr(address.host, ':', host) != nullptr || !digits_only(address.port)) abort();
    // The host is the text right after the nick's blank, the port right after the host's ':'.
    int k = own_nick_length + 14;
    if (k + (int)host + 1 + (int)port > length) abort();
    if (memcmp(message + k, address.host, host) != 0 || message[k + host] != ':') abort();
    if (memcmp(message + k + host + 1, address.port, port) != 0) abort();
    (void)decimal_to_int(address.port);  // what tcp_connect does with it
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t length = strnlen((const char*)data, size);
    if (length > CONNECT_REQUEST_BYTES - 1) return 0;
    char* message = (char*)malloc(length + 1);
    memcpy(message, data, length);
    message[length] = 0;
    int n = (int)length;
    // "$ConnectToMe <nick> ": the nick runs from index 13 to the next blank.
    int named = 0;
    while (13 + named < n && message[13 + named] != ' ') named++;
    int from_input = size > 0 ? data[size - 1] % 64 : 0;
    const int own_lengths[] = {named, 0, n, n + 1, from_input, -1};
    for (int own : own_lengths) parse_and_check(message, n, own);
    free(message);
    return 0;
}
