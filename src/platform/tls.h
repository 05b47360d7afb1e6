// TLS on an already connected TCP socket: as the client for hubs named
// nmdcs://host:port and peers whose $ConnectToMe port ends in S, and as the
// server for peers that connect to our own listener. The one place
// that knows the TLS library (Debian's mbed TLS, linked statically; the
// reasons are measured in docs/performance.md); everything above sees a
// session that sends and receives with the same bounds as the plain calls of
// platform.h.
//
// Certificates are not verified against authorities: hubs and peers use
// self-signed ones, so the session only keeps onlookers out. A hub address
// may carry the keyprint its certificate must have (?kp=SHA256/...): the
// caller compares tls_keyprint with it. A socket meant for TLS never falls
// back to plain: a failed handshake is the end of the connection.
//
// The session lives in the caller's fixed storage (TlsSession). The library
// allocates from the heap per session, for the session's life: its two
// record buffers (about 16.7 kB each), the keys of the connection and the
// peer's certificate (a few kB); and during the handshake only, the key
// exchange and the certificate parse (a few kB, freed when it ends). The
// own identity (tls_identity_load) holds its parsed key and certificate
// once for the process, a few kB, until exit or the next load; making a
// pair takes a few kB more while it runs. Nothing of a session is written
// anywhere, and no key or secret is ever logged.
//
// One session belongs to one thread at a time; different sessions may run on
// different threads.
#pragma once

#include <cstdint>

// Room for the library's contexts of one session (checked when built).
constexpr int TLS_SESSION_BYTES = 2048;
// "SHA256/" and 52 base32 characters of the certificate's SHA-256, terminated.
constexpr int TLS_KEYPRINT_BYTES = 60;
// A reason text for "TLS handshake failed: <reason>"; longer ones are cut.
constexpr int TLS_REASON_BYTES = 64;

struct TlsSession {
    alignas(16) unsigned char opaque[TLS_SESSION_BYTES];
};

// Nonzero when this build speaks TLS; the library's name and version (e.g.
// "mbed TLS 2.28.3") go into version, cut to fit and terminated.
int tls_available(char* version, int version_bytes);

// The handshake as a client over `socket` (connected, blocking or not; left
// as it was found), sending server_name as the name asked for (SNI) unless it
// is null, empty or a dotted IPv4 address. Bounded by timeout_ms as a whole;
// with give_up, gives up as soon as it returns nonzero (asked several times a
// second). Returns 1 with the session open, or 0 with a short lower-case
// reason in error ("timed out", "closed by the peer", "not a TLS server",
// "given up", ...) and nothing left to close. The socket stays the caller's
// either way.
int tls_handshake(TlsSession* session, int socket, const char* server_name, int timeout_ms, int (*give_up)(),
                  char* error, int error_bytes);

// The own identity, for the TLS listener's server side: an ECDSA P-256 key
// and a self-signed certificate, made with the library at the first start and
// kept in `folder` (a UTF-16 path, the config folder) as "tls.key" (private
// to the user) and "tls.crt", both PEM, each written to a new file and
// renamed into place. A pair that cannot be read is kept aside
// ("<name>.bad-<time>", never deleted) and a new pair made. Returns 1 with
// the certificate's keyprint (as tls_keyprint writes it) in keyprint, or 0
// with a short reason in note. note also says when a pair was kept aside
// and a new one made (empty otherwise, a first pair included). The identity lives in the platform until exit;
// load it on the user-interface thread before any tls_accept. Loading again
// replaces it (the files are read anew), so only while no tls_accept runs.
int tls_identity_load(const char16_t* folder, char* keyprint, int keyprint_bytes, char* note, int note_bytes);
// The handshake as a server over `socket` with the own identity; otherwise
// as tls_handshake (bounds, give_up, reasons; "not a TLS client" for a peer
// that sends something else, "no certificate" when none was loaded). No
// certificate is asked of the client, so tls_keyprint gives nothing here.
int tls_accept(TlsSession* session, int socket, int timeout_ms, int (*give_up)(), char* error, int error_bytes);

// The peer certificate's keyprint as NMDC writes it: "SHA256/" and the
// base32 (RFC 4648, upper case, no padding) of the SHA-256 of the DER bytes.
// Returns the length, or 0 (dst empty) when the session has none.
int tls_keyprint(const TlsSession* session, char* dst, int dst_bytes);
// The cipher suite agreed on, for an information line; never null.
const char* tls_cipher_suite(const TlsSession* session);

// Like recv_timeout: bytes received, 0 when the peer closed, -1 on an error
// (a forged or broken record among them), -2 when timeout_ms passed with
// nothing to give.
int tls_recv_timeout(TlsSession* session, char* buffer, int bytes, int timeout_ms);
// Like recv_once for a socket registered with socket_async_select, which
// never waits: bytes received, 0 when the peer closed, -1 on an error, -2
// when only part of a record has come (more is on its way; a read message
// comes when it is there). Re-arms the read message; when the library still
// holds received bytes after filling the buffer, another read message comes
// at once.
int tls_recv_once(TlsSession* session, char* buffer, int bytes);
// Like send_nonblocking: the bytes the session took (0 when it takes none
// now), or -1 when it failed; FD_WRITE comes again once it can take more.
// After a 0, the next call must start with the same bytes (the library holds
// them encrypted half-sent); the caller's queue does that by resending from
// where it stopped.
int tls_send_nonblocking(TlsSession* session, const char* data, int bytes);
// Sends all bytes, waiting at most timeout_ms in all; bytes or -1.
int tls_send_within(TlsSession* session, const char* data, int bytes, int timeout_ms);

// Tells the peer that the session ends (one try, never waits) and frees what
// the library holds. The socket stays open: the caller closes it. Safe on a
// session whose handshake failed, on zeroed storage, and twice.
void tls_close(TlsSession* session);
