// Thin socket names over BSD sockets: the library start-up, close, host
// lookup (names and dotted IPv4), and receives and sends with the bounds the
// client needs. recv_once, which re-arms socket events, lives with the loop.
#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/platform.h"

int WSAStartup(uint16_t) {
    // A peer that closes while we send must give an error, not end the process.
    signal(SIGPIPE, SIG_IGN);
    return 0;
}

int closesocket(int socket) {
    // A closed socket's number is soon handed out again: its events go with it.
    socket_async_select(socket, 0, 0, 0);
    return close(socket);
}

int host_lookup_ipv4(const char* host, uint32_t* address_be) {
    struct in_addr literal;
    if (inet_pton(AF_INET, host, &literal) == 1) {
        *address_be = literal.s_addr;
        return 1;
    }
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    struct addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return 0;
    *address_be = ((struct sockaddr_in*)found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return 1;
}

void local_ipv4_text(char* dst, int dst_bytes) {
    char name[300];
    name[0] = 0;
    gethostname(name, sizeof name - 1);
    name[sizeof name - 1] = 0;
    uint32_t address;
    // No address for our own name: say so plainly rather than leave it empty.
    if (!host_lookup_ipv4(name, &address)) address = htonl(INADDR_LOOPBACK);
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &address, text, sizeof text);
    text_copy(dst, dst_bytes, text);
}

int recv_timeout(int socket, char* buffer, int bytes, int timeout_ms) {
    struct pollfd waiting = {socket, POLLIN, 0};
    int ready;
    do {
        ready = poll(&waiting, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return -1;
    if (ready == 0) return -2;
    ssize_t got;
    do {
        got = recv(socket, buffer, (size_t)bytes, 0);
    } while (got < 0 && errno == EINTR);
    return got < 0 ? -1 : (int)got;
}

int send_once(int socket, const char* data, int bytes) {
    ssize_t sent;
    do {
        sent = send(socket, data, (size_t)bytes, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return (int)sent;
}
