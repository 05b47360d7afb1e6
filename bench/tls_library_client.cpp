// One TLS client of the TLS library comparison (bench/tls_library.sh): built
// once per library and linking (KIVO_BENCH_TLS_OPENSSL or _MBEDTLS, static or
// shared by the link line alone) and once without TLS (neither defined) as
// the baseline. It connects to 127.0.0.1:<port>, does the handshake without
// verifying the certificate (as peers' self-signed ones are taken), waits a
// moment as a connected and idle client would, notes its resident memory,
// then asks for the bytes with one byte and receives them 64 KiB at a time
// until the server closes. One line on standard output:
//
//   idle_rss_kB idle_hwm_kB peak_hwm_kB lib_rss_kB bytes seconds cipher
//
// lib_rss_kB sums the resident pages of the TLS library's own mappings when
// it is a shared library (0 when linked in); seconds runs from the request to
// the last byte.
//
//   tls_library_client <port> <bytes expected>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(KIVO_BENCH_TLS_OPENSSL)
#include <openssl/ssl.h>
#elif defined(KIVO_BENCH_TLS_MBEDTLS)
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/ssl.h>
#endif

namespace {

constexpr int CHUNK_BYTES = 64 * 1024;
constexpr int IDLE_SETTLE_MS = 300;
char g_chunk[CHUNK_BYTES];

long status_kb(const char* field) {
    FILE* f = fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long value = -1;
    size_t n = strlen(field);
    while (fgets(line, sizeof line, f) != nullptr) {
        if (strncmp(line, field, n) == 0 && line[n] == ':') value = atol(line + n + 1);
    }
    fclose(f);
    return value;
}

// Resident kB of the mappings whose path names a TLS library.
long library_rss_kb() {
    FILE* f = fopen("/proc/self/smaps", "r");
    if (f == nullptr) return -1;
    char line[512];
    bool ours = false;
    long total = 0;
    while (fgets(line, sizeof line, f) != nullptr) {
        // A mapping's first line starts with its address in lower-case hex;
        // its fields ("Rss:", ...) start with a capital.
        bool header = (line[0] >= '0' && line[0] <= '9') || (line[0] >= 'a' && line[0] <= 'f');
        if (header) {
            ours = strstr(line, "libssl") != nullptr || strstr(line, "libcrypto") != nullptr ||
                   strstr(line, "libmbed") != nullptr;
        } else if (ours && strncmp(line, "Rss:", 4) == 0) {
            total += atol(line + 4);
        }
    }
    fclose(f);
    return total;
}

// The path (or [heap], [stack]) and permissions of a mapping's first line.
void text_or_anon(const char* line, char* name, size_t size) {
    const char* perms = strchr(line, ' ');
    const char* path = strchr(line, '/');
    if (path == nullptr) path = strchr(line, '[');
    snprintf(name, size, "%.4s %s", perms != nullptr ? perms + 1 : "", path != nullptr ? path : "(anonymous)\n");
    name[strcspn(name, "\n")] = 0;
}

// With KIVO_BENCH_SMAPS set: each mapping's resident kB (16 kB and more)
// to standard error, to see where a client's pages are.
void print_mappings() {
    FILE* f = fopen("/proc/self/smaps", "r");
    if (f == nullptr) return;
    char line[512], name[512] = "";
    while (fgets(line, sizeof line, f) != nullptr) {
        bool header = (line[0] >= '0' && line[0] <= '9') || (line[0] >= 'a' && line[0] <= 'f');
        if (header) {
            text_or_anon(line, name, sizeof name);
        } else if (strncmp(line, "Rss:", 4) == 0 && atol(line + 4) >= 16) {
            fprintf(stderr, "%6ld kB %s\n", atol(line + 4), name);
        }
    }
    fclose(f);
}

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "tls_library_client: %s\n", what);
    exit(1);
}

#if defined(KIVO_BENCH_TLS_OPENSSL)
SSL_CTX* g_ctx;
SSL* g_ssl;
void tls_start(int sock) {
    // What a lean client would ask: no configuration file, no error texts.
    OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG | OPENSSL_INIT_NO_LOAD_SSL_STRINGS |
                         OPENSSL_INIT_NO_LOAD_CRYPTO_STRINGS | OPENSSL_INIT_NO_ATEXIT,
                     nullptr);
    g_ctx = SSL_CTX_new(TLS_client_method());
    if (g_ctx == nullptr) fail("SSL_CTX_new");
    SSL_CTX_set_verify(g_ctx, SSL_VERIFY_NONE, nullptr);
    g_ssl = SSL_new(g_ctx);
    SSL_set_fd(g_ssl, sock);
    SSL_set_tlsext_host_name(g_ssl, "127.0.0.1");
    if (SSL_connect(g_ssl) != 1) fail("handshake");
}
int tls_read(char* buffer, int bytes) { return SSL_read(g_ssl, buffer, bytes); }
int tls_write(const char* data, int bytes) { return SSL_write(g_ssl, data, bytes); }
const char* tls_cipher() { return SSL_get_cipher_name(g_ssl); }
#elif defined(KIVO_BENCH_TLS_MBEDTLS)
mbedtls_entropy_context g_entropy;
mbedtls_ctr_drbg_context g_drbg;
mbedtls_ssl_config g_conf;
mbedtls_ssl_context g_ssl;
int g_sock;
int bio_send(void*, const unsigned char* data, size_t bytes) {
    ssize_t n = send(g_sock, data, bytes, MSG_NOSIGNAL);
    return n < 0 ? MBEDTLS_ERR_SSL_INTERNAL_ERROR : (int)n;
}
int bio_recv(void*, unsigned char* buffer, size_t bytes) {
    ssize_t n = recv(g_sock, buffer, bytes, 0);
    return n < 0 ? MBEDTLS_ERR_SSL_INTERNAL_ERROR : (int)n;
}
void tls_start(int sock) {
    g_sock = sock;
    mbedtls_entropy_init(&g_entropy);
    mbedtls_ctr_drbg_init(&g_drbg);
    mbedtls_ssl_config_init(&g_conf);
    mbedtls_ssl_init(&g_ssl);
    if (mbedtls_ctr_drbg_seed(&g_drbg, mbedtls_entropy_func, &g_entropy, nullptr, 0) != 0) fail("seed");
    mbedtls_ssl_config_defaults(&g_conf, MBEDTLS_SSL_IS_CLIENT, MBEDTLS_SSL_TRANSPORT_STREAM, MBEDTLS_SSL_PRESET_DEFAULT);
    mbedtls_ssl_conf_authmode(&g_conf, MBEDTLS_SSL_VERIFY_NONE);
    mbedtls_ssl_conf_rng(&g_conf, mbedtls_ctr_drbg_random, &g_drbg);
    // As the wrapper in src/platform/tls.cpp asks: AES-GCM (AES-NI) before
    // the library's default order, which puts ChaCha20 (plain C) first.
    static int suites[160];
    int n = 0;
    suites[n++] = MBEDTLS_TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256;
    for (const int* s = mbedtls_ssl_list_ciphersuites(); *s != 0 && n < 159; s++) suites[n++] = *s;
    suites[n] = 0;
    mbedtls_ssl_conf_ciphersuites(&g_conf, suites);
    if (mbedtls_ssl_setup(&g_ssl, &g_conf) != 0) fail("setup");
    mbedtls_ssl_set_hostname(&g_ssl, "127.0.0.1");
    mbedtls_ssl_set_bio(&g_ssl, nullptr, bio_send, bio_recv, nullptr);
    if (mbedtls_ssl_handshake(&g_ssl) != 0) fail("handshake");
}
int tls_read(char* buffer, int bytes) {
    int n = mbedtls_ssl_read(&g_ssl, (unsigned char*)buffer, (size_t)bytes);
    return n == MBEDTLS_ERR_SSL_PEER_CLOSE_NOTIFY ? 0 : n;
}
int tls_write(const char* data, int bytes) { return mbedtls_ssl_write(&g_ssl, (const unsigned char*)data, (size_t)bytes); }
const char* tls_cipher() { return mbedtls_ssl_get_ciphersuite(&g_ssl); }
#else
int g_sock;
void tls_start(int sock) { g_sock = sock; }
int tls_read(char* buffer, int bytes) { return (int)recv(g_sock, buffer, (size_t)bytes, 0); }
int tls_write(const char* data, int bytes) { return (int)send(g_sock, data, (size_t)bytes, MSG_NOSIGNAL); }
const char* tls_cipher() { return "plain"; }
#endif

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) fail("usage: tls_library_client <port> <bytes expected>");
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons((uint16_t)atoi(argv[1]));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, (sockaddr*)&address, sizeof address) != 0) fail("connect");
    tls_start(sock);
    usleep(IDLE_SETTLE_MS * 1000);
    long idle_rss = status_kb("VmRSS"), idle_hwm = status_kb("VmHWM");
    if (getenv("KIVO_BENCH_SMAPS") != nullptr) print_mappings();
    auto start = std::chrono::steady_clock::now();
    if (tls_write("g", 1) != 1) fail("request");
    long long total = 0;
    for (;;) {
        int n = tls_read(g_chunk, CHUNK_BYTES);
        if (n <= 0) break;
        total += n;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (total != atoll(argv[2])) fail("short transfer");
    printf("%ld %ld %ld %ld %lld %.3f %s\n", idle_rss, idle_hwm, status_kb("VmHWM"), library_rss_kb(), total, seconds,
           tls_cipher());
    close(sock);
    return 0;
}
