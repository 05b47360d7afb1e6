// The server side of the TLS library comparison (bench/tls_library.sh): on
// 127.0.0.1, one client after another, it takes the connection (with the
// TLS handshake, OpenSSL as server, when given a certificate and key), waits
// for the client's one-byte request and sends <bytes> from a 64 KiB block,
// then closes. It writes its port to <port file> once it listens, and serves
// until the script stops it.
//
//   tls_library_server <port file> <bytes> [<cert.pem> <key.pem>]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

constexpr int BLOCK_BYTES = 64 * 1024;
char g_block[BLOCK_BYTES];

[[noreturn]] void fail(const char* what) {
    fprintf(stderr, "tls_library_server: %s\n", what);
    exit(1);
}

void serve_plain(int sock, long long bytes) {
    char request;
    if (recv(sock, &request, 1, 0) != 1) return;
    while (bytes > 0) {
        int n = bytes < BLOCK_BYTES ? (int)bytes : BLOCK_BYTES;
        ssize_t sent = send(sock, g_block, (size_t)n, MSG_NOSIGNAL);
        if (sent <= 0) return;
        bytes -= sent;
    }
}

void serve_tls(SSL_CTX* ctx, int sock, long long bytes) {
    SSL* ssl = SSL_new(ctx);
    SSL_set_fd(ssl, sock);
    char request;
    if (SSL_accept(ssl) == 1 && SSL_read(ssl, &request, 1) == 1) {
        while (bytes > 0) {
            int n = bytes < BLOCK_BYTES ? (int)bytes : BLOCK_BYTES;
            int sent = SSL_write(ssl, g_block, n);
            if (sent <= 0) break;
            bytes -= sent;
        }
        SSL_shutdown(ssl);
    }
    SSL_free(ssl);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5) fail("usage: tls_library_server <port file> <bytes> [<cert.pem> <key.pem>]");
    signal(SIGPIPE, SIG_IGN);
    long long bytes = atoll(argv[2]);
    for (int i = 0; i < BLOCK_BYTES; i++) g_block[i] = (char)(i * 131 + (i >> 8));
    SSL_CTX* ctx = nullptr;
    if (argc == 5) {
        ctx = SSL_CTX_new(TLS_server_method());
        if (ctx == nullptr || SSL_CTX_use_certificate_file(ctx, argv[3], SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, argv[4], SSL_FILETYPE_PEM) != 1)
            fail("certificate or key not usable");
    }
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, (sockaddr*)&address, sizeof address) != 0 || listen(listener, 4) != 0) fail("listen");
    socklen_t length = sizeof address;
    getsockname(listener, (sockaddr*)&address, &length);
    FILE* port_file = fopen(argv[1], "w");
    if (port_file == nullptr) fail("port file");
    fprintf(port_file, "%d\n", ntohs(address.sin_port));
    fclose(port_file);
    for (;;) {
        int sock = accept(listener, nullptr, nullptr);
        if (sock < 0) continue;
        if (ctx != nullptr) {
            serve_tls(ctx, sock, bytes);
        } else {
            serve_plain(sock, bytes);
        }
        close(sock);
    }
}
