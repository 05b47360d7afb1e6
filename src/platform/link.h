// A connected socket, plain or TLS, and the three things done with it while
// a thread waits on it: one bounded receive, one whole send, one close. The
// hub's login and the download connections use it, so that TLS or not is
// decided here and a wait ends in one named result.
//
// A Link is the caller's fixed storage and must stay in place while its TLS
// session is open (the library keeps pointers into it). socket is -1 when
// the Link holds none; tls is set once the handshake on it succeeded, and
// then every byte goes through session. One Link belongs to one thread at a
// time.
#pragma once

#include <cstdint>

#include "platform/tls.h"

// How often a waiting receive asks its stop check: several times a second.
constexpr int LINK_STOP_CHECK_MS = 200;

struct Link {
    int socket;   // connected, blocking; -1: none
    uint8_t tls;  // the handshake succeeded: everything goes through session
    TlsSession session;
};

// How a wait of link_receive ended.
enum LinkWait : uint8_t {
    LINK_DATA,       // bytes came (at least one)
    LINK_CLOSED,     // the peer closed (a TLS session: it ended the session)
    LINK_TIMED_OUT,  // nothing came within the time limit
    LINK_STOPPED,    // the stop check said so
    LINK_ERROR,      // the socket or the session failed (a forged record among them)
};

// An empty Link: no socket, no session.
void link_init(Link* link);
// A Link over a connected socket, plain; the Link owns it from now on.
void link_plain(Link* link, int socket);

// The TLS handshake as a client on the Link's socket (tls_handshake: the
// name asked for, timeout_ms for the whole of it), which gives up as soon as
// stop(stop_arg) returns nonzero (stop may be null). True with the session
// open; false with a short reason in error and the socket still held (the
// caller closes the Link). Never falls back to plain.
bool link_start_tls(Link* link, const char* server_name, int timeout_ms, int (*stop)(void*), void* stop_arg,
                    char* error, int error_bytes);

// The TLS handshake as a server on the Link's socket (tls_accept), otherwise
// as link_start_tls.
bool link_accept_tls(Link* link, int timeout_ms, int (*stop)(void*), void* stop_arg, char* error, int error_bytes);

// One receive of at most bytes into dst, waiting at most timeout_ms in slices
// of at most LINK_STOP_CHECK_MS, with stop(stop_arg) asked before each slice
// (stop may be null). *got is the count with LINK_DATA, else 0. A timeout of
// 0 or less still takes what is already there.
LinkWait link_receive(Link* link, char* dst, int bytes, int* got, int timeout_ms, int (*stop)(void*),
                      void* stop_arg);

// Sends all bytes within timeout_ms in all: true when every byte went, false
// when the socket or session failed or the time ran out (the peer may then
// hold part of it). Counts nothing.
bool link_send_all(Link* link, const char* data, int bytes, int timeout_ms);

// Ends the TLS session (its goodbye, one try) and closes the socket; leaves
// the Link empty. Safe on an empty Link and twice.
void link_close(Link* link);
