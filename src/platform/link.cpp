// The Link: one wait loop for plain and TLS receives, one bounded send of a
// whole message, one close. Everything here runs on the thread that owns
// the Link; nothing is shared but the handshake's stop check, which is per
// thread.
#include "platform/link.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"

namespace {

// tls_handshake asks a check without argument: the Link's check and its
// argument wait here for the handshake that runs on this thread.
struct HandshakeStop {
    int (*stop)(void*);
    void* arg;
};
thread_local HandshakeStop t_handshake_stop;

int handshake_stop() {
    const HandshakeStop& h = t_handshake_stop;
    return h.stop != nullptr && h.stop(h.arg) != 0 ? 1 : 0;
}

// Waits until the socket takes more or timeout_ms pass; restarts after signals.
void wait_writable(int socket, int timeout_ms) {
    struct pollfd waiting = {socket, POLLOUT, 0};
    int ready;
    do {
        ready = poll(&waiting, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
}

bool send_all_plain(int socket, const char* data, int bytes, int timeout_ms) {
    uint64_t deadline = monotonic_ms() + (uint64_t)(timeout_ms > 0 ? timeout_ms : 0);
    int sent = 0;
    while (sent < bytes) {
        // Never blocks, whether or not the socket is registered for events.
        int taken = send_nonblocking(socket, data + sent, bytes - sent);
        if (taken < 0) return false;
        sent += taken;
        if (sent == bytes) break;
        uint64_t now = monotonic_ms();
        if (now >= deadline) return false;
        wait_writable(socket, (int)(deadline - now));
    }
    return true;
}

}  // namespace

void link_init(Link* link) {
    // Zeroed storage is a closed session: tls_close is safe on it.
    memset(link, 0, sizeof *link);
    link->socket = -1;
}

void link_plain(Link* link, int socket) {
    link_init(link);
    link->socket = socket;
}

bool link_start_tls(Link* link, const char* server_name, int timeout_ms, int (*stop)(void*), void* stop_arg,
                    char* error, int error_bytes) {
    t_handshake_stop = {stop, stop_arg};
    int open = tls_handshake(&link->session, link->socket, server_name, timeout_ms, handshake_stop, error,
                             error_bytes);
    t_handshake_stop = {nullptr, nullptr};
    link->tls = open ? 1 : 0;
    return open != 0;
}

bool link_accept_tls(Link* link, int timeout_ms, int (*stop)(void*), void* stop_arg, char* error, int error_bytes) {
    t_handshake_stop = {stop, stop_arg};
    int open = tls_accept(&link->session, link->socket, timeout_ms, handshake_stop, error, error_bytes);
    t_handshake_stop = {nullptr, nullptr};
    link->tls = open ? 1 : 0;
    return open != 0;
}

LinkWait link_receive(Link* link, char* dst, int bytes, int* got, int timeout_ms, int (*stop)(void*),
                      void* stop_arg) {
    *got = 0;
    if (link->socket < 0 || bytes <= 0) return LINK_ERROR;
    int limit = timeout_ms > 0 ? timeout_ms : 0;
    uint64_t start = monotonic_ms();
    for (;;) {
        if (stop != nullptr && stop(stop_arg) != 0) return LINK_STOPPED;
        uint64_t waited = monotonic_ms() - start;
        int left = waited >= (uint64_t)limit ? 0 : limit - (int)waited;
        int slice = left < LINK_STOP_CHECK_MS ? left : LINK_STOP_CHECK_MS;
        // Both return bytes, 0 when the peer closed, -1 on an error and -2
        // when the slice passed with nothing to give.
        int n = link->tls ? tls_recv_timeout(&link->session, dst, bytes, slice)
                          : recv_timeout(link->socket, dst, bytes, slice);
        if (n > 0) {
            *got = n;
            return LINK_DATA;
        }
        if (n == 0) return LINK_CLOSED;
        if (n != -2) return LINK_ERROR;
        if (left == 0) return LINK_TIMED_OUT;
    }
}

bool link_send_all(Link* link, const char* data, int bytes, int timeout_ms) {
    if (link->socket < 0 || bytes < 0) return false;
    if (link->tls) return tls_send_within(&link->session, data, bytes, timeout_ms) == bytes;
    return send_all_plain(link->socket, data, bytes, timeout_ms);
}

void link_close(Link* link) {
    if (link->tls) tls_close(&link->session);
    if (link->socket >= 0) closesocket(link->socket);
    link->socket = -1;
    link->tls = 0;
}
