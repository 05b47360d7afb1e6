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
// bound. Both sides run one handshake loop; a server session serves the own
// identity. Reaches g_state: no; own state: the cipher suite list, written
// once, and the identity (g_identity), written by tls_identity_load on the
// user-interface thread and only read by sessions after.
//
// Certificates are taken unverified (VERIFY_NONE): DC hubs and peers sign
// their own, and a server asks none of its client. The library still keeps
// the peer's certificate, whose DER bytes give the keyprint; the own
// certificate's keyprint is taken from its DER bytes the same way.
#include "platform/tls.h"

#include <poll.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/socket.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include <mbedtls/bignum.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/ecp.h>
#include <mbedtls/net_sockets.h>
#include <mbedtls/pk.h>
#include <mbedtls/platform_util.h>
#include <mbedtls/sha256.h>
#include <mbedtls/ssl.h>
#include <mbedtls/version.h>
#include <mbedtls/x509_crt.h>

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

// A short reason for a failed handshake, on the client's side or the server's.
void handshake_reason(int rc, bool server, char* error, int error_bytes) {
    const char* reason = nullptr;
    switch (rc) {
    case MBEDTLS_ERR_SSL_CONN_EOF: reason = "closed by the peer"; break;
    case MBEDTLS_ERR_NET_CONN_RESET: reason = "connection reset"; break;
    case MBEDTLS_ERR_NET_SEND_FAILED:
    case MBEDTLS_ERR_NET_RECV_FAILED: reason = "socket error"; break;
    // The first bytes were no TLS record: a plain NMDC greeting, for one.
    case MBEDTLS_ERR_SSL_INVALID_RECORD:
    case MBEDTLS_ERR_SSL_BAD_HS_CLIENT_HELLO:
    case MBEDTLS_ERR_SSL_BAD_INPUT_DATA: reason = server ? "not a TLS client" : "not a TLS server"; break;
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

// The keyprint of a certificate, ours or a peer's: "SHA256/" and the base32
// of the SHA-256 of its DER bytes, into dst (TLS_KEYPRINT_BYTES); empty when
// the digest fails.
void keyprint_of(const mbedtls_x509_crt* certificate, char* dst) {
    dst[0] = 0;
    unsigned char digest[SHA256_BYTES];
    if (mbedtls_sha256_ret(certificate->raw.p, certificate->raw.len, digest, 0) != 0) return;
    int at = text_copy(dst, TLS_KEYPRINT_BYTES, "SHA256/");
    base32_text(digest, SHA256_BYTES, dst + at, TLS_KEYPRINT_BYTES - at);
}

void keyprint_take(Session* s) {
    s->keyprint[0] = 0;
    const mbedtls_x509_crt* certificate = mbedtls_ssl_get_peer_cert(&s->ssl);
    if (certificate != nullptr) keyprint_of(certificate, s->keyprint);
}

// The own identity for the server side: written by tls_identity_load on the
// user-interface thread before any tls_accept, only read after (by the
// sessions' configurations, on any thread). Zeroed storage is an empty
// context for the library. Heap: the parsed key and certificate and the
// key's precomputed multiples of the curve's generator, a few kB, kept until
// exit.
struct Identity {
    bool loaded;
    mbedtls_pk_context key;
    mbedtls_x509_crt certificate;
    char keyprint[TLS_KEYPRINT_BYTES];
};
Identity g_identity;

// Sets the session up for a handshake on the socket, as a client (asking for
// server_name) or as the server with the own identity; the library's code or 0.
int session_setup(Session* s, int socket, const char* server_name, bool server) {
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
    rc = mbedtls_ssl_config_defaults(&s->config, server ? MBEDTLS_SSL_IS_SERVER : MBEDTLS_SSL_IS_CLIENT,
                                     MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT);
    if (rc != 0) return rc;
    // As a client the server's certificate is taken unchecked; as a server
    // none is asked of the client.
    mbedtls_ssl_conf_authmode(&s->config, MBEDTLS_SSL_VERIFY_NONE);
    if (server) {
        rc = mbedtls_ssl_conf_own_cert(&s->config, &g_identity.certificate, &g_identity.key);
        if (rc != 0) return rc;
    }
    mbedtls_ssl_conf_rng(&s->config, mbedtls_ctr_drbg_random, &s->random);
    mbedtls_ssl_conf_ciphersuites(&s->config, g_suites);
    rc = mbedtls_ssl_setup(&s->ssl, &s->config);
    if (rc != 0) return rc;
    // A name is sent only when it is one: peers are reached by address.
    struct in_addr literal;
    if (!server && server_name != nullptr && server_name[0] != 0 && inet_pton(AF_INET, server_name, &literal) != 1) {
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

namespace {

// Either side's handshake on a session just set up (rc: the set-up's code),
// bounded by timeout_ms as a whole, asking give_up between waits. 1 with the
// session open, or 0 with the reason in error and the session freed.
int handshake_run(Session* s, int rc, bool server, int timeout_ms, int (*give_up)(), char* error, int error_bytes) {
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
    handshake_reason(rc, server, error, error_bytes);
    session_free(s);
    return 0;
}

}  // namespace

int tls_handshake(TlsSession* storage, int socket, const char* server_name, int timeout_ms, int (*give_up)(),
                  char* error, int error_bytes) {
    Session* s = new (storage->opaque) Session;
    s->open = false;
    text_copy(error, error_bytes, "");
    int rc = session_setup(s, socket, server_name, false);
    return handshake_run(s, rc, false, timeout_ms, give_up, error, error_bytes);
}

int tls_accept(TlsSession* storage, int socket, int timeout_ms, int (*give_up)(), char* error, int error_bytes) {
    Session* s = new (storage->opaque) Session;
    s->open = false;
    text_copy(error, error_bytes, "");
    if (!g_identity.loaded) {
        text_copy(error, error_bytes, "no certificate");
        return 0;
    }
    int rc = session_setup(s, socket, nullptr, true);
    return handshake_run(s, rc, true, timeout_ms, give_up, error, error_bytes);
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

// --- The own identity -------------------------------------------------------------
//
// "tls.key" and "tls.crt" in the config folder, PEM. A pair is taken only
// when both parse and the certificate carries the key's public half; else
// what is there is kept aside under a new name and a new pair made. Each file
// is written whole to "<name>.new" and renamed into place (file_replace_whole,
// mode 0600).

namespace {

// A P-256 key is about 230 bytes of PEM and its certificate about 600: a
// file longer than this is no pair of ours.
constexpr int IDENTITY_PEM_BYTES = 4096;
constexpr int IDENTITY_PATH_UNITS = 1024;
// The certificate's life: it is never renewed, so longer than any install.
constexpr int IDENTITY_VALID_YEARS = 20;
constexpr int SERIAL_BYTES = 16;
// Names tried for a file kept aside within one second.
constexpr int ASIDE_TRIES = 10;
constexpr int ASIDE_NAME_BYTES = 48;  // "tls.crt.bad-" and the time, "-n"

const char* const KEY_NAME = "tls.key";
const char* const CERTIFICATE_NAME = "tls.crt";

// folder (with or without its trailing '/') and the 8-bit name, plus suffix,
// into dst whole; false when it does not fit.
bool identity_path(const char16_t* folder, const char* name, const char* suffix, char16_t* dst) {
    char16_t tail[ASIDE_NAME_BYTES + 8];
    char text[ASIDE_NAME_BYTES + 8];
    snprintf(text, sizeof text, "%s%s", name, suffix);
    cp1251_to_utf16(text, -1, tail, ASIDE_NAME_BYTES + 8);
    int length = u16_len(folder);
    if (length == 0 || length + 1 + u16_len(tail) >= IDENTITY_PATH_UNITS) return false;
    bool slash = folder[length - 1] == u'/';
    u16_copy(dst, IDENTITY_PATH_UNITS, folder);
    if (!slash) u16_append(dst, IDENTITY_PATH_UNITS, u"/");
    u16_append(dst, IDENTITY_PATH_UNITS, tail);
    return true;
}

// The file's bytes and a terminator (the library's PEM parser wants one)
// into buffer (IDENTITY_PEM_BYTES + 1); the length with the terminator, or 0
// when it cannot be read, is empty or holds IDENTITY_PEM_BYTES or more.
int pem_read(const char16_t* path, unsigned char* buffer) {
    int file = file_open_read(path);
    if (file == FILE_INVALID) return 0;
    int got = 0;
    for (;;) {
        int n = file_read(file, buffer + got, IDENTITY_PEM_BYTES - got);
        if (n <= 0) break;
        got += n;
        if (got == IDENTITY_PEM_BYTES) break;
    }
    file_close(file);
    if (got <= 0 || got >= IDENTITY_PEM_BYTES) return 0;
    buffer[got] = 0;
    return got + 1;
}

void identity_free() {
    mbedtls_pk_free(&g_identity.key);
    mbedtls_x509_crt_free(&g_identity.certificate);
    g_identity.loaded = false;
    g_identity.keyprint[0] = 0;
}

// One signature now, on this thread: the library keeps the multiples of
// the curve's generator in the key's group the first time it signs with it,
// and two sessions signing at once for the first time would both write them.
bool identity_warm(mbedtls_ctr_drbg_context* random) {
    unsigned char digest[SHA256_BYTES] = {1};
    unsigned char signature[MBEDTLS_PK_SIGNATURE_MAX_SIZE];
    size_t length = 0;
    return mbedtls_pk_sign(&g_identity.key, MBEDTLS_MD_SHA256, digest, sizeof digest, signature, &length,
                           mbedtls_ctr_drbg_random, random) == 0;
}

// Parses the pair on disk into g_identity; true when both parse and match.
bool identity_read(const char16_t* key_path, const char16_t* certificate_path, mbedtls_ctr_drbg_context* random) {
    identity_free();
    mbedtls_pk_init(&g_identity.key);
    mbedtls_x509_crt_init(&g_identity.certificate);
    unsigned char pem[IDENTITY_PEM_BYTES + 1];
    int length = pem_read(key_path, pem);
    bool ok = length > 0 && mbedtls_pk_parse_key(&g_identity.key, pem, (size_t)length, nullptr, 0) == 0;
    mbedtls_platform_zeroize(pem, sizeof pem);
    length = ok ? pem_read(certificate_path, pem) : 0;
    ok = length > 0 && mbedtls_x509_crt_parse(&g_identity.certificate, pem, (size_t)length) == 0;
    ok = ok && mbedtls_pk_check_pair(&g_identity.certificate.pk, &g_identity.key) == 0 && identity_warm(random);
    if (!ok) {
        identity_free();
        return false;
    }
    keyprint_of(&g_identity.certificate, g_identity.keyprint);
    g_identity.loaded = g_identity.keyprint[0] != 0;
    return g_identity.loaded;
}

// "YYYYMMDDhhmmss" of the UTC time, years later.
void validity_time(time_t now, int years, char* dst, int dst_bytes) {
    struct tm utc;
    gmtime_r(&now, &utc);
    if (utc.tm_mon == 1 && utc.tm_mday == 29) utc.tm_mday = 28;  // a leap day may not come again
    snprintf(dst, (size_t)dst_bytes, "%04d%02d%02d%02d%02d%02d", utc.tm_year + 1900 + years, utc.tm_mon + 1,
             utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

// Makes a key and its self-signed certificate as PEM into key_pem and
// certificate_pem (IDENTITY_PEM_BYTES each); 0 or the library's code.
int identity_make_pem(mbedtls_ctr_drbg_context* random, unsigned char* key_pem, unsigned char* certificate_pem) {
    mbedtls_pk_context key;
    mbedtls_x509write_cert writer;
    mbedtls_mpi serial;
    mbedtls_pk_init(&key);
    mbedtls_x509write_crt_init(&writer);
    mbedtls_mpi_init(&serial);
    unsigned char serial_bytes[SERIAL_BYTES];
    // 14 digits; room for what the format could give in theory, so that the
    // compiler sees no cut (a cut time is refused by the library).
    char from[64], until[64];
    time_t now = time(nullptr);
    validity_time(now, 0, from, sizeof from);
    validity_time(now, IDENTITY_VALID_YEARS, until, sizeof until);
    int rc = mbedtls_pk_setup(&key, mbedtls_pk_info_from_type(MBEDTLS_PK_ECKEY));
    if (rc == 0) rc = mbedtls_ecp_gen_key(MBEDTLS_ECP_DP_SECP256R1, mbedtls_pk_ec(key), mbedtls_ctr_drbg_random, random);
    // A positive serial of 16 random bytes (the top bit clear, one below it set).
    if (rc == 0) rc = mbedtls_ctr_drbg_random(random, serial_bytes, sizeof serial_bytes);
    serial_bytes[0] = (unsigned char)((serial_bytes[0] & 0x7F) | 0x40);
    if (rc == 0) rc = mbedtls_mpi_read_binary(&serial, serial_bytes, sizeof serial_bytes);
    if (rc == 0) {
        mbedtls_x509write_crt_set_subject_key(&writer, &key);
        mbedtls_x509write_crt_set_issuer_key(&writer, &key);
        mbedtls_x509write_crt_set_md_alg(&writer, MBEDTLS_MD_SHA256);
        rc = mbedtls_x509write_crt_set_subject_name(&writer, "CN=Kivo");
    }
    if (rc == 0) rc = mbedtls_x509write_crt_set_issuer_name(&writer, "CN=Kivo");
    if (rc == 0) rc = mbedtls_x509write_crt_set_serial(&writer, &serial);
    if (rc == 0) rc = mbedtls_x509write_crt_set_validity(&writer, from, until);
    if (rc == 0) rc = mbedtls_pk_write_key_pem(&key, key_pem, IDENTITY_PEM_BYTES);
    if (rc == 0)
        rc = mbedtls_x509write_crt_pem(&writer, certificate_pem, IDENTITY_PEM_BYTES, mbedtls_ctr_drbg_random, random);
    mbedtls_mpi_free(&serial);
    mbedtls_x509write_crt_free(&writer);
    mbedtls_pk_free(&key);
    return rc;
}

// Makes a new pair and writes it, the key first (a certificate without its
// key is found out at the next start and kept aside). True when both went.
bool identity_make(mbedtls_ctr_drbg_context* random, const char16_t* key_path, const char16_t* certificate_path) {
    static unsigned char key_pem[IDENTITY_PEM_BYTES];
    static unsigned char certificate_pem[IDENTITY_PEM_BYTES];
    char16_t new_path[IDENTITY_PATH_UNITS];
    bool ok = identity_make_pem(random, key_pem, certificate_pem) == 0;
    ok = ok && u16_len(key_path) + 4 < IDENTITY_PATH_UNITS;
    if (ok) {
        u16_copy(new_path, IDENTITY_PATH_UNITS, key_path);
        u16_append(new_path, IDENTITY_PATH_UNITS, u".new");
        ok = file_replace_whole(key_path, new_path, key_pem, (int)strlen((const char*)key_pem)) == 1;
    }
    ok = ok && u16_len(certificate_path) + 4 < IDENTITY_PATH_UNITS;
    if (ok) {
        u16_copy(new_path, IDENTITY_PATH_UNITS, certificate_path);
        u16_append(new_path, IDENTITY_PATH_UNITS, u".new");
        ok = file_replace_whole(certificate_path, new_path, certificate_pem,
                                (int)strlen((const char*)certificate_pem)) == 1;
    }
    mbedtls_platform_zeroize(key_pem, sizeof key_pem);
    return ok;
}

// Renames the file (when there is one) to "<name>.bad-<time>" under a name
// nothing has; its new name (8-bit) into aside, empty when there was no
// file. False when it is there and could not be moved.
bool identity_keep_aside(const char16_t* folder, const char* name, char* aside) {
    aside[0] = 0;
    char16_t path[IDENTITY_PATH_UNITS];
    char16_t moved[IDENTITY_PATH_UNITS];
    if (!identity_path(folder, name, "", path)) return false;
    if (!file_exists(path)) return true;
    unsigned long long now = wall_clock_seconds();
    for (int n = 0; n < ASIDE_TRIES; n++) {
        char suffix[ASIDE_NAME_BYTES];
        if (n == 0) snprintf(suffix, sizeof suffix, ".bad-%llu", now);
        else snprintf(suffix, sizeof suffix, ".bad-%llu-%d", now, n);
        if (!identity_path(folder, name, suffix, moved)) return false;
        int result = file_rename_new(path, moved);
        if (result == FILE_RENAME_FAILED) return false;
        if (result == FILE_RENAMED) {
            snprintf(aside, ASIDE_NAME_BYTES, "%s%s", name, suffix);
            return true;
        }
    }
    return false;
}

// The note after a pair was kept aside: the names it has now.
void aside_note(const char* key_aside, const char* certificate_aside, char* note, int note_bytes) {
    char text[2 * ASIDE_NAME_BYTES + 96];
    const char* both = key_aside[0] != 0 && certificate_aside[0] != 0 ? " and " : "";
    snprintf(text, sizeof text, "the TLS certificate could not be read; kept aside as %s%s%s; a new one was made",
             certificate_aside, both, key_aside);
    text_copy(note, note_bytes, text);
}

}  // namespace

int tls_identity_load(const char16_t* folder, char* keyprint, int keyprint_bytes, char* note, int note_bytes) {
    text_copy(keyprint, keyprint_bytes, "");
    text_copy(note, note_bytes, "");
    identity_free();
    char16_t key_path[IDENTITY_PATH_UNITS];
    char16_t certificate_path[IDENTITY_PATH_UNITS];
    if (!identity_path(folder, KEY_NAME, "", key_path) || !identity_path(folder, CERTIFICATE_NAME, "", certificate_path)) {
        text_copy(note, note_bytes, "the folder's name is too long");
        return 0;
    }
    if (!folder_create_all(folder)) {
        text_copy(note, note_bytes, "the folder could not be made");
        return 0;
    }
    mbedtls_ctr_drbg_context random;
    mbedtls_ctr_drbg_init(&random);
    static const unsigned char personal[] = "kivo identity";
    bool ok = mbedtls_ctr_drbg_seed(&random, kernel_entropy, nullptr, personal, sizeof personal - 1) == 0;
    bool had = file_exists(key_path) || file_exists(certificate_path);
    if (ok && had && identity_read(key_path, certificate_path, &random)) {
        mbedtls_ctr_drbg_free(&random);
        text_copy(keyprint, keyprint_bytes, g_identity.keyprint);
        return 1;
    }
    char key_aside[ASIDE_NAME_BYTES] = "", certificate_aside[ASIDE_NAME_BYTES] = "";
    if (ok && had && (!identity_keep_aside(folder, KEY_NAME, key_aside) ||
                      !identity_keep_aside(folder, CERTIFICATE_NAME, certificate_aside))) {
        // Nothing of the person's is replaced: without room for a new pair there is none.
        mbedtls_ctr_drbg_free(&random);
        text_copy(note, note_bytes, "the TLS certificate could not be read nor kept aside");
        return 0;
    }
    ok = ok && identity_make(&random, key_path, certificate_path) &&
         identity_read(key_path, certificate_path, &random);
    mbedtls_ctr_drbg_free(&random);
    if (!ok) {
        text_copy(note, note_bytes, "the TLS certificate could not be made");
        return 0;
    }
    // A first pair is no news: About shows its keyprint.
    if (had) aside_note(key_aside, certificate_aside, note, note_bytes);
    text_copy(keyprint, keyprint_bytes, g_identity.keyprint);
    return 1;
}
