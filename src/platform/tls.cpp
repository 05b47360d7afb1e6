// TLS sessions over connected sockets with Debian's mbed TLS (2.28), the one
// file that includes it.
//
// Model: a Session lives in the caller's TlsSession storage: the library's
// SSL context, its configuration and the session's own random generator
// (CTR-DRBG seeded from getrandom, so no 38 kB entropy pool is kept per
// session), the socket, and the keyprint taken after the handshake. The
// library reaches the socket only through send_bytes and receive_bytes,
// which never block (MSG_DONTWAIT), so the socket's own mode is left as the
// caller set it, and every wait happens here, in poll, under the caller's
// bound. Reaches g_state: no; own state: the cipher suite list, written once.
//
// Certificates are taken unverified (VERIFY_NONE): DC hubs and peers sign
// their own. The library still keeps the peer's certificate, whose DER bytes
// give the keyprint.
#include "platform/tls.h"

#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <mbedtls/ctr_drbg.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/sha256.h>
#include <mbedtls/ssl.h>
#include <mbedtls/version.h>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace {

struct Session {
    mbedtls_ssl_context ssl;
    mbedtls_ssl_config config;
    mbedtls_ctr_drbg_context random;
    int socket;
    bool open;          // the contexts above are set up and must be freed
    int send_held;      // bytes of the caller's data the library holds encrypted, half-sent
    char keyprint[TLS_KEYPRINT_BYTES];
};
static_assert(sizeof(Session) <= TLS_SESSION_BYTES, "TLS_SESSION_BYTES too small for the library's contexts");
static_assert(alignof(Session) <= 16, "TlsSession's storage is aligned to 16");

// How often a waiting handshake asks whether to give up.
constexpr int GIVE_UP_CHECK_MS = 100;
constexpr int SHA256_BYTES = 32;

Session* session_of(TlsSession* storage) {
    return reinterpret_cast<Session*>(storage->opaque);
}
const Session* session_of(const TlsSession* storage) {
    return reinterpret_cast<const Session*>(storage->opaque);
}

// ChaCha20-Poly1305 first, then AES-GCM with its shorter key, then the rest
// of the library's list for peers that have neither: a download's bytes are
// all decrypted on one thread, and this library (2.28) runs ChaCha20-Poly1305
// at 320 to 340 MB/s on this machine's one core against 230 to 240 for
// AES-128-GCM, whose processor instructions it calls one 16-byte block at a
// time (bench/bench_tls_ciphers.cpp). Built once; read by any thread after.
constexpr int SUITE_SLOTS = 200;
int g_suites[SUITE_SLOTS];
pthread_once_t g_suites_once = PTHREAD_ONCE_INIT;

void suites_build() {
    static const int preferred[] = {
        MBEDTLS_TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256, MBEDTLS_TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256,
        MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256, MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256,
        MBEDTLS_TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384, MBEDTLS_TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384,
    };
    int n = 0;
    for (int suite : preferred) g_suites[n++] = suite;
    for (const int* s = mbedtls_ssl_list_ciphersuites(); *s != 0 && n < SUITE_SLOTS - 1; s++) {
        bool listed = false;
        for (int suite : preferred) listed = listed || suite == *s;
        if (!listed) g_suites[n++] = *s;
    }
    g_suites[n] = 0;
}

// The random generator's seed: the kernel's generator.
int kernel_entropy(void*, unsigned char* out, size_t bytes) {
    while (bytes > 0) {
        ssize_t got = getrandom(out, bytes, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return MBEDTLS_ERR_CTR_DRBG_ENTROPY_SOURCE_FAILED;
        out += got;
        bytes -= (size_t)got;
    }
    return 0;
}

int send_bytes(void* context, const unsigned char* data, size_t bytes) {
    int socket = *(const int*)context;
    for (;;) {
        ssize_t sent = send(socket, data, bytes, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return (int)sent;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return MBEDTLS_ERR_SSL_WANT_WRITE;
        if (errno == EPIPE || errno == ECONNRESET) return MBEDTLS_ERR_NET_CONN_RESET;
        return MBEDTLS_ERR_NET_SEND_FAILED;
    }
}

int receive_bytes(void* context, unsigned char* buffer, size_t bytes) {
    int socket = *(const int*)context;
    for (;;) {
        ssize_t got = recv(socket, buffer, bytes, MSG_DONTWAIT);
        if (got >= 0) return (int)got;  // 0: the peer closed
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return MBEDTLS_ERR_SSL_WANT_READ;
        if (errno == ECONNRESET) return MBEDTLS_ERR_NET_CONN_RESET;
        return MBEDTLS_ERR_NET_RECV_FAILED;
    }
}

// Waits until the socket is ready for what the library asked (rc is
// WANT_READ or WANT_WRITE), at most wait_ms. False when the wait ended
// without it.
bool wait_for_library(int socket, int rc, int wait_ms) {
    struct pollfd waiting = {socket, (short)(rc == MBEDTLS_ERR_SSL_WANT_WRITE ? POLLOUT : POLLIN), 0};
    int ready;
    do {
        ready = poll(&waiting, 1, wait_ms < 0 ? 0 : wait_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool wants_io(int rc) {
    return rc == MBEDTLS_ERR_SSL_WANT_READ || rc == MBEDTLS_ERR_SSL_WANT_WRITE;
}

bool is_close(int rc) {
    return rc == 0 || rc == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY || rc == MBEDTLS_ERR_SSL_CONN_EOF;
}

// A short reason for a failed handshake.
void handshake_reason(int rc, char* error, int error_bytes) {
    const char* reason = nullptr;
    switch (rc) {
    case MBEDTLS_ERR_SSL_CONN_EOF: reason = "closed by the peer"; break;
    case MBEDTLS_ERR_NET_CONN_RESET: reason = "connection reset"; break;
    case MBEDTLS_ERR_NET_SEND_FAILED:
    case MBEDTLS_ERR_NET_RECV_FAILED: reason = "socket error"; break;
    // The first bytes were no TLS record: a plain NMDC greeting, for one.
    case MBEDTLS_ERR_SSL_INVALID_RECORD:
    case MBEDTLS_ERR_SSL_BAD_INPUT_DATA: reason = "not a TLS server"; break;
    case MBEDTLS_ERR_SSL_FATAL_ALERT_MESSAGE: reason = "refused by the peer"; break;
    case MBEDTLS_ERR_SSL_BAD_HS_PROTOCOL_VERSION: reason = "no TLS version in common"; break;
    case MBEDTLS_ERR_SSL_NO_CIPHER_CHOSEN: reason = "no cipher in common"; break;
    case MBEDTLS_ERR_SSL_ALLOC_FAILED: reason = "out of memory"; break;
    default: break;
    }
    if (reason != nullptr) {
        text_copy(error, error_bytes, reason);
    } else {
        char text[TLS_REASON_BYTES];
        snprintf(text, sizeof text, "protocol error -0x%04x", (unsigned)-rc);
        text_copy(error, error_bytes, text);
    }
}

void session_free(Session* s) {
    if (!s->open) return;
    mbedtls_ssl_free(&s->ssl);
    mbedtls_ssl_config_free(&s->config);
    mbedtls_ctr_drbg_free(&s->random);
    s->open = false;
}

// RFC 4648 base32 of the bytes, upper case, no padding; cut to fit, terminated.
int base32_text(const unsigned char* bytes, int count, char* dst, int dst_bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    int written = 0;
    uint32_t bits = 0;
    int held = 0;
    for (int i = 0; i <= count && written < dst_bytes - 1; i++) {
        if (i < count) {
            bits = (bits << 8) | bytes[i];
            held += 8;
        } else if (held > 0) {
            bits <<= 5 - held;  // the last group, filled with zero bits
            held = 5;
        }
        while (held >= 5 && written < dst_bytes - 1) {
            dst[written++] = alphabet[(bits >> (held - 5)) & 31];
            held -= 5;
        }
    }
    if (dst_bytes > 0) dst[written] = 0;
    return written;
}

void keyprint_take(Session* s) {
    s->keyprint[0] = 0;
    const mbedtls_x509_crt* certificate = mbedtls_ssl_get_peer_cert(&s->ssl);
    if (certificate == nullptr) return;
    unsigned char digest[SHA256_BYTES];
    if (mbedtls_sha256_ret(certificate->raw.p, certificate->raw.len, digest, 0) != 0) return;
    int at = text_copy(s->keyprint, TLS_KEYPRINT_BYTES, "SHA256/");
    base32_text(digest, SHA256_BYTES, s->keyprint + at, TLS_KEYPRINT_BYTES - at);
}

// Sets the session up for a handshake on the socket; the library's code or 0.
int session_setup(Session* s, int socket, const char* server_name) {
    pthread_once(&g_suites_once, suites_build);
    s->socket = socket;
    s->send_held = 0;
    s->keyprint[0] = 0;
    mbedtls_ssl_init(&s->ssl);
    mbedtls_ssl_config_init(&s->config);
    mbedtls_ctr_drbg_init(&s->random);
    s->open = true;
    static const unsigned char personal[] = "kivo tls";
    int rc = mbedtls_ctr_drbg_seed(&s->random, kernel_entropy, nullptr, personal, sizeof personal - 1);
    if (rc != 0) return rc;
    rc = mbedtls_ssl_config_defaults(&s->config, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM,
                                     MBEDTLS_SSL_PRESET_DEFAULT);
    if (rc != 0) return rc;
    mbedtls_ssl_conf_authmode(&s->config, MBEDTLS_SSL_VERIFY_NONE);
    mbedtls_ssl_conf_rng(&s->config, mbedtls_ctr_drbg_random, &s->random);
    mbedtls_ssl_conf_ciphersuites(&s->config, g_suites);
    rc = mbedtls_ssl_setup(&s->ssl, &s->config);
    if (rc != 0) return rc;
    // A name is sent only when it is one: peers are reached by address.
    struct in_addr literal;
    if (server_name != nullptr && server_name[0] != 0 && inet_pton(AF_INET, server_name, &literal) != 1) {
        rc = mbedtls_ssl_set_hostname(&s->ssl, server_name);
        if (rc != 0) return rc;
    }
    mbedtls_ssl_set_bio(&s->ssl, &s->socket, send_bytes, receive_bytes, nullptr);
    return 0;
}

}  // namespace

int tls_available(char* version, int version_bytes) {
    char text[32];
    mbedtls_version_get_string(text);  // "2.28.3": at most 9 bytes written
    char named[48];
    snprintf(named, sizeof named, "mbed TLS %s", text);
    text_copy(version, version_bytes, named);
    return 1;
}

int tls_handshake(TlsSession* storage, int socket, const char* server_name, int timeout_ms, int (*give_up)(),
                  char* error, int error_bytes) {
    Session* s = new (storage->opaque) Session;
    s->open = false;
    text_copy(error, error_bytes, "");
    int rc = session_setup(s, socket, server_name);
    uint64_t deadline = monotonic_ms() + (uint64_t)(timeout_ms > 0 ? timeout_ms : 0);
    while (rc == 0) {
        rc = mbedtls_ssl_handshake(&s->ssl);
        if (rc == 0) {
            keyprint_take(s);
            return 1;
        }
        if (!wants_io(rc)) break;
        for (;;) {
            if (give_up != nullptr && give_up()) {
                session_free(s);
                text_copy(error, error_bytes, "given up");
                return 0;
            }
            uint64_t now = monotonic_ms();
            if (now >= deadline) {
                session_free(s);
                text_copy(error, error_bytes, "timed out");
                return 0;
            }
            int left = (int)(deadline - now);
            if (give_up != nullptr && left > GIVE_UP_CHECK_MS) left = GIVE_UP_CHECK_MS;
            if (wait_for_library(s->socket, rc, left)) break;
        }
        rc = 0;
    }
    handshake_reason(rc, error, error_bytes);
    session_free(s);
    return 0;
}

int tls_keyprint(const TlsSession* storage, char* dst, int dst_bytes) {
    const Session* s = session_of(storage);
    return text_copy(dst, dst_bytes, s->open ? s->keyprint : "");
}

const char* tls_cipher_suite(const TlsSession* storage) {
    const Session* s = session_of(storage);
    const char* suite = s->open ? mbedtls_ssl_get_ciphersuite(&s->ssl) : nullptr;
    return suite != nullptr ? suite : "none";
}

int tls_recv_timeout(TlsSession* storage, char* buffer, int bytes, int timeout_ms) {
    Session* s = session_of(storage);
    if (!s->open || bytes <= 0) return -1;
    uint64_t deadline = monotonic_ms() + (uint64_t)(timeout_ms > 0 ? timeout_ms : 0);
    for (;;) {
        int rc = mbedtls_ssl_read(&s->ssl, (unsigned char*)buffer, (size_t)bytes);
        if (rc > 0) return rc;
        if (is_close(rc)) return 0;
        if (!wants_io(rc)) return -1;
        // Part of a record, or nothing yet: wait for the rest within the bound.
        uint64_t now = monotonic_ms();
        if (now >= deadline || !wait_for_library(s->socket, rc, (int)(deadline - now))) return -2;
    }
}

int tls_recv_once(TlsSession* storage, char* buffer, int bytes) {
    Session* s = session_of(storage);
    if (!s->open || bytes <= 0) return -1;
    int rc = mbedtls_ssl_read(&s->ssl, (unsigned char*)buffer, (size_t)bytes);
    // Bytes the library has taken from the socket but not handed out yet do
    // not wake poll: they get their read message from here.
    bool held = mbedtls_ssl_get_bytes_avail(&s->ssl) > 0 || mbedtls_ssl_check_pending(&s->ssl) != 0;
    socket_read_rearm(s->socket, held);
    if (rc > 0) return rc;
    if (is_close(rc)) return 0;
    return wants_io(rc) ? -2 : -1;
}

int tls_send_nonblocking(TlsSession* storage, const char* data, int bytes) {
    Session* s = session_of(storage);
    if (!s->open || bytes < 0) return -1;
    if (bytes == 0) return 0;
    // The library returns a held record's count only when called again with
    // the same bytes: ask for exactly those.
    int asked = s->send_held > 0 && s->send_held <= bytes ? s->send_held : bytes;
    int rc = mbedtls_ssl_write(&s->ssl, (const unsigned char*)data, (size_t)asked);
    if (rc > 0) {
        s->send_held = 0;
        if (rc < bytes) socket_write_rearm(s->socket);
        return rc;
    }
    if (!wants_io(rc)) return -1;
    // The record is built and partly sent: the library holds it until the
    // socket takes the rest, and counts it as sent only then.
    if (s->send_held == 0) {
        int record = mbedtls_ssl_get_max_out_record_payload(&s->ssl);
        s->send_held = record > 0 && record < asked ? record : asked;
    }
    socket_write_rearm(s->socket);
    return 0;
}

int tls_send_within(TlsSession* storage, const char* data, int bytes, int timeout_ms) {
    Session* s = session_of(storage);
    uint64_t deadline = monotonic_ms() + (uint64_t)(timeout_ms > 0 ? timeout_ms : 0);
    int sent = 0;
    while (sent < bytes) {
        int taken = tls_send_nonblocking(storage, data + sent, bytes - sent);
        if (taken < 0) return -1;
        sent += taken;
        if (sent == bytes) break;
        uint64_t now = monotonic_ms();
        if (now >= deadline) return -1;
        wait_for_library(s->socket, MBEDTLS_ERR_SSL_WANT_WRITE, (int)(deadline - now));
    }
    return sent;
}

void tls_close(TlsSession* storage) {
    Session* s = session_of(storage);
    if (!s->open) return;
    // One try: a peer that does not take the alert now loses nothing.
    mbedtls_ssl_close_notify(&s->ssl);
    session_free(s);
}
