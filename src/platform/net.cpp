// Thin socket names over BSD sockets: the library start-up, close, host
// lookup (names and dotted IPv4), and receives and sends with the bounds the
// client needs; the listening side of active mode (listeners, accepts,
// datagrams, which addresses are this machine's). recv_once, which re-arms
// socket events, lives with the loop, and so do the re-arms of accept and
// datagram receive.
#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netdb.h>
#include <pthread.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/platform.h"
#include "platform/platform_internal.h"

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

namespace {

// How often a waiting connect or lookup asks whether to give up.
constexpr int GIVE_UP_CHECK_MS = 100;
// Bound on a lookup without a caller's bound (this machine's own name).
constexpr int LOCAL_LOOKUP_MS = 5000;

// Waits for the socket to become writable, restarting after signals with
// what is left of the time bound; with give_up, asks it between short waits.
bool wait_writable(int sock, int timeout_ms, int (*give_up)()) {
    uint64_t deadline = monotonic_ms() + (uint64_t)timeout_ms;
    for (;;) {
        if (give_up != nullptr && give_up()) return false;
        uint64_t now = monotonic_ms();
        int left = now >= deadline ? 0 : (int)(deadline - now);
        if (give_up != nullptr && left > GIVE_UP_CHECK_MS) left = GIVE_UP_CHECK_MS;
        struct pollfd waiting = {sock, POLLOUT, 0};
        int ready = poll(&waiting, 1, left);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
        if (ready == 0 && monotonic_ms() >= deadline) return false;
    }
}

// A non-blocking connect bounded in time; the socket is blocking again after
// it, as the login and the download worker expect.
// 0, or the TCP_CONNECT_* code of the failure.
int connect_failure(int error) {
    if (error == ECONNREFUSED) return TCP_CONNECT_REFUSED;
    if (error == ETIMEDOUT) return TCP_CONNECT_TIMED_OUT;
    return TCP_CONNECT_FAILED;
}

int connect_within(int sock, const struct sockaddr_in* address, int timeout_ms, int (*give_up)()) {
    int flags = fcntl(sock, F_GETFL, 0);
    if (flags < 0 || fcntl(sock, F_SETFL, flags | O_NONBLOCK) < 0) return TCP_CONNECT_FAILED;
    int rc = connect(sock, (const struct sockaddr*)address, sizeof *address);
    if (rc < 0 && errno != EINPROGRESS && errno != EINTR) return connect_failure(errno);
    if (rc < 0) {
        uint64_t start = monotonic_ms();
        if (!wait_writable(sock, timeout_ms, give_up)) {
            bool late = monotonic_ms() - start >= (uint64_t)timeout_ms;
            return late ? TCP_CONNECT_TIMED_OUT : TCP_CONNECT_FAILED;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &size) < 0) return TCP_CONNECT_FAILED;
        if (error != 0) return connect_failure(error);
    }
    return fcntl(sock, F_SETFL, flags) == 0 ? 0 : TCP_CONNECT_FAILED;
}

// Name lookups run through getaddrinfo_a so that a slow resolver is bounded
// like the connect. A lookup given up before the resolver answers cannot
// always be cancelled; its request must then live until it completes, so
// requests live in this small table and an abandoned one is freed by a later
// lookup once it has completed. Any thread may look up: the table has a lock.
constexpr int LOOKUP_SLOTS = 4;
constexpr int LOOKUP_NAME_BYTES = 256;

struct LookupSlot {
    bool in_use;
    struct gaicb request;
    struct addrinfo hints;
    char name[LOOKUP_NAME_BYTES];
};

pthread_mutex_t g_lookup_lock = PTHREAD_MUTEX_INITIALIZER;
LookupSlot g_lookups[LOOKUP_SLOTS];

// Takes a free slot, freeing abandoned lookups that have completed first.
LookupSlot* lookup_slot_take() {
    LookupSlot* free_slot = nullptr;
    pthread_mutex_lock(&g_lookup_lock);
    for (LookupSlot& slot : g_lookups) {
        if (slot.in_use && gai_error(&slot.request) != EAI_INPROGRESS) {
            if (slot.request.ar_result != nullptr) freeaddrinfo(slot.request.ar_result);
            slot.in_use = false;
        }
        if (!slot.in_use && free_slot == nullptr) free_slot = &slot;
    }
    if (free_slot != nullptr) free_slot->in_use = true;
    pthread_mutex_unlock(&g_lookup_lock);
    return free_slot;
}

void lookup_slot_release(LookupSlot* slot) {
    pthread_mutex_lock(&g_lookup_lock);
    slot->in_use = false;
    pthread_mutex_unlock(&g_lookup_lock);
}

}  // namespace

int host_lookup_ipv4_within(const char* host, uint32_t* address_be, int timeout_ms, int (*give_up)()) {
    struct in_addr literal;
    if (inet_pton(AF_INET, host, &literal) == 1) {
        *address_be = literal.s_addr;
        return 1;
    }
    if (strlen(host) >= (size_t)LOOKUP_NAME_BYTES) return 0;
    LookupSlot* slot = lookup_slot_take();
    if (slot == nullptr) return 0;  // every slot holds a lookup that has not ended
    memset(&slot->hints, 0, sizeof slot->hints);
    slot->hints.ai_family = AF_INET;
    text_copy(slot->name, LOOKUP_NAME_BYTES, host);
    memset(&slot->request, 0, sizeof slot->request);
    slot->request.ar_name = slot->name;
    slot->request.ar_request = &slot->hints;
    struct gaicb* list[1] = {&slot->request};
    if (getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) != 0) {
        lookup_slot_release(slot);
        return 0;
    }
    uint64_t deadline = monotonic_ms() + (uint64_t)timeout_ms;
    while (gai_error(&slot->request) == EAI_INPROGRESS) {
        uint64_t now = monotonic_ms();
        if (now >= deadline || (give_up != nullptr && give_up())) {
            // Cancelled, or left to end on its own: freed by a later lookup.
            if (gai_cancel(&slot->request) == EAI_CANCELED) lookup_slot_release(slot);
            return 0;
        }
        int left = (int)(deadline - now);
        if (left > GIVE_UP_CHECK_MS) left = GIVE_UP_CHECK_MS;
        struct timespec wait = {0, (long)left * 1000000L};
        const struct gaicb* waiting[1] = {&slot->request};
        gai_suspend(waiting, 1, &wait);
    }
    int found = 0;
    struct addrinfo* result = slot->request.ar_result;
    if (gai_error(&slot->request) == 0 && result != nullptr) {
        *address_be = ((struct sockaddr_in*)result->ai_addr)->sin_addr.s_addr;
        found = 1;
    }
    if (result != nullptr) freeaddrinfo(result);
    lookup_slot_release(slot);
    return found;
}

int tcp_connect_within(const char* host, const char* port_text, int type, int timeout_ms, int (*give_up)()) {
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    // Callers pass checked ports; one outside 1-65535 is refused, never wrapped.
    int port = decimal_to_int(port_text);
    if (port < 1 || port > 65535) return TCP_CONNECT_FAILED;
    address.sin_port = htons((uint16_t)port);
    uint32_t found;
    // The lookup and the connect are bounded each on its own, like every
    // step of a login.
    if (!host_lookup_ipv4_within(host, &found, timeout_ms, give_up)) return TCP_LOOKUP_FAILED;
    address.sin_addr.s_addr = found;
    int sock = socket(AF_INET, type, 0);
    if (sock < 0) return TCP_CONNECT_FAILED;
    int failure = connect_within(sock, &address, timeout_ms, give_up);
    if (failure != 0) {
        closesocket(sock);
        return failure;
    }
    return sock;
}

const char* socket_error_text(int error) {
    switch (error) {
    case 0: return "closed";
    case ECONNRESET: return "connection reset";
    case ECONNABORTED: return "connection aborted";
    case ETIMEDOUT: return "timed out";
    case ECONNREFUSED: return "connection refused";
    case ENETUNREACH: return "network unreachable";
    case EHOSTUNREACH: return "host unreachable";
    case EPIPE: return "broken pipe";
    default: return "socket error";
    }
}

int host_lookup_ipv4(const char* host, uint32_t* address_be) {
    return host_lookup_ipv4_within(host, address_be, LOCAL_LOOKUP_MS, nullptr);
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

int send_nonblocking(int socket, const char* data, int bytes) {
    ssize_t sent;
    do {
        sent = send(socket, data, (size_t)bytes, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    int taken = sent < 0 ? 0 : (int)sent;
    if (taken < bytes) socket_write_rearm(socket);
    return taken;
}

int send_once(int socket, const char* data, int bytes) {
    ssize_t sent;
    do {
        sent = send(socket, data, (size_t)bytes, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return (int)sent;
}

namespace {

// Connections a listener keeps waiting before the kernel refuses more: peers
// connect one at a time, and each is taken at its FD_ACCEPT.
constexpr int LISTEN_BACKLOG = 16;

const char* listen_failure_text(int error) {
    switch (error) {
    case EADDRINUSE: return "address in use";
    case EACCES: return "permission denied";
    case EADDRNOTAVAIL: return "address not available";
    case EMFILE:
    case ENFILE: return "too many open files";
    case ENOBUFS:
    case ENOMEM: return "out of memory";
    default: return "socket error";
    }
}

// The address of this or the other end; false when there is no IPv4 one.
bool socket_end(int socket, bool peer, struct sockaddr_in* out) {
    memset(out, 0, sizeof *out);
    socklen_t length = sizeof *out;
    int rc = peer ? getpeername(socket, (struct sockaddr*)out, &length)
                  : getsockname(socket, (struct sockaddr*)out, &length);
    return rc == 0 && out->sin_family == AF_INET;
}

}  // namespace

int socket_listen(int type, int port, char* error, int error_bytes) {
    text_copy(error, error_bytes, "");
    if ((type != SOCKET_STREAM && type != SOCKET_DATAGRAM) || port < 0 || port > 65535) {
        text_copy(error, error_bytes, "invalid port");
        return -1;
    }
    int kind = type == SOCKET_STREAM ? SOCK_STREAM : SOCK_DGRAM;
    int sock = socket(AF_INET, kind | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (sock < 0) {
        text_copy(error, error_bytes, listen_failure_text(errno));
        return -1;
    }
    // A restarted Kivo gets its port back while the last run's connections
    // linger in TIME_WAIT; another live listener on it still refuses us.
    int on = 1;
    if (type == SOCKET_STREAM) setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons((uint16_t)port);
    if (bind(sock, (const struct sockaddr*)&address, sizeof address) != 0 ||
        (type == SOCKET_STREAM && listen(sock, LISTEN_BACKLOG) != 0)) {
        text_copy(error, error_bytes, listen_failure_text(errno));
        close(sock);
        return -1;
    }
    return sock;
}

int socket_local_port(int socket) {
    struct sockaddr_in address;
    return socket_end(socket, false, &address) ? ntohs(address.sin_port) : 0;
}

uint32_t socket_local_address(int socket) {
    struct sockaddr_in address;
    return socket_end(socket, false, &address) ? address.sin_addr.s_addr : 0;
}

uint32_t socket_peer_address(int socket) {
    struct sockaddr_in address;
    return socket_end(socket, true, &address) ? address.sin_addr.s_addr : 0;
}

int socket_accept(int listener, uint32_t* peer_be) {
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    socklen_t length = sizeof address;
    int sock;
    do {
        // No SOCK_NONBLOCK: the accepted socket is blocking whatever the
        // listener is, as a connected socket from tcp_connect_within.
        sock = accept4(listener, (struct sockaddr*)&address, &length, SOCK_CLOEXEC);
    } while (sock < 0 && errno == EINTR);
    socket_accept_rearm(listener);
    if (sock < 0) return -1;
    if (peer_be != nullptr) *peer_be = address.sin_family == AF_INET ? address.sin_addr.s_addr : 0;
    return sock;
}

int udp_receive(int socket, char* buffer, int bytes, uint32_t* from_be) {
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    socklen_t length = sizeof address;
    ssize_t got;
    do {
        // A datagram longer than the buffer is cut; its rest is dropped by the kernel.
        got = recvfrom(socket, buffer, (size_t)(bytes > 0 ? bytes : 0), MSG_DONTWAIT, (struct sockaddr*)&address,
                       &length);
    } while (got < 0 && errno == EINTR);
    socket_read_rearm(socket, false);
    if (got < 0) return -1;
    if (from_be != nullptr) *from_be = address.sin_family == AF_INET ? address.sin_addr.s_addr : 0;
    return (int)got;
}

namespace {

// Walks this machine's IPv4 interfaces (those that are up) until visit
// returns true; false when none did or they cannot be listed.
template <typename Visit>
bool any_interface(Visit visit) {
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool found = false;
    for (struct ifaddrs* i = list; i != nullptr && !found; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP)) continue;
        uint32_t own = ((const struct sockaddr_in*)i->ifa_addr)->sin_addr.s_addr;
        uint32_t mask = i->ifa_netmask != nullptr ? ((const struct sockaddr_in*)i->ifa_netmask)->sin_addr.s_addr
                                                  : 0xFFFFFFFFu;
        found = visit(own, mask);
    }
    freeifaddrs(list);
    return found;
}

}  // namespace

bool address_is_own(uint32_t address_be) {
    if (address_be == 0) return false;
    return any_interface([address_be](uint32_t own, uint32_t) { return own == address_be; });
}

bool address_same_local_network(uint32_t a_be, uint32_t b_be) {
    // A mask of nothing (an interface without a network) would hold every address.
    return any_interface([a_be, b_be](uint32_t own, uint32_t mask) {
        return mask != 0 && (a_be & mask) == (own & mask) && (b_be & mask) == (own & mask);
    });
}
