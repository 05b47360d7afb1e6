// Active mode: the listeners, the mode in force, and what reaches Kivo on
// them (see hub/active_mode.h).
//
// Own state: the ports the listeners are bound to and the settings they were
// opened for, why they could not be opened, the datagram budget of this
// second, and whether the TLS certificate was looked for. All of it is the UI
// thread's.
#include "hub/active_mode.h"

#include <cstdio>
#include <cstring>

#include "hub/connection.h"
#include "hub/search.h"
#include "platform/tls.h"
#include "protocol/hub_messages.h"
#include "state/client_state.h"
#include "state/text_scan.h"
#include "transfer/download.h"

namespace {

constexpr int LISTEN_ERROR_BYTES = 64;
// Tries at a port of the system's choosing that UDP can take too.
constexpr int LISTEN_TRIES = 5;

uint16_t g_port;      // the TCP and UDP sockets' port while they are open
uint16_t g_tls_port;  // the TLS listener's while it is open
uint16_t g_asked_port;      // the settings the sockets were opened for
uint16_t g_asked_tls_port;
char g_listen_error[LISTEN_ERROR_BYTES];
int g_udp_budget = UDP_DATAGRAMS_PER_SECOND;
bool g_identity_tried;

void close_listener(int32_t* socket) {
    if (*socket <= 0) return;
    socket_async_select(*socket, g_state.main_window, 0, 0);
    closesocket(*socket);
    *socket = 0;
}

void close_all() {
    close_listener(&g_state.listen_socket);
    close_listener(&g_state.udp_socket);
    close_listener(&g_state.tls_listen_socket);
    g_port = 0;
    g_tls_port = 0;
}

// A socket of the listeners, registered for its events; -1 with the reason.
int open_one(int type, int port, int32_t events) {
    int socket = socket_listen(type, port, g_listen_error, LISTEN_ERROR_BYTES);
    if (socket < 0) return -1;
    if (socket_async_select(socket, g_state.main_window, WM_ACTIVE_SOCKET, events) != 0) {
        closesocket(socket);
        text_copy(g_listen_error, LISTEN_ERROR_BYTES, "no window for its events");
        return -1;
    }
    return socket;
}

// The TCP listener and the UDP socket on one port number: the setting's, or
// one the system chooses that UDP can take too.
bool open_plain(int port) {
    for (int tries = 0; tries < LISTEN_TRIES; tries++) {
        int tcp = open_one(SOCKET_STREAM, port, FD_ACCEPT);
        if (tcp < 0) return false;
        int bound = socket_local_port(tcp);
        int udp = open_one(SOCKET_DATAGRAM, bound, FD_READ);
        if (udp >= 0) {
            g_state.listen_socket = tcp;
            g_state.udp_socket = udp;
            g_port = (uint16_t)bound;
            return true;
        }
        close_listener(&tcp);
        if (port != 0) return false;
    }
    return false;
}

// The certificate is looked for (and made) once per run; a note says when
// one was made or kept aside.
bool identity_ready() {
    if (g_identity_tried) return g_state.own_keyprint[0] != 0;
    g_identity_tried = true;
    char note[160];
    note[0] = 0;
    if (!tls_identity_load(g_state.identity_folder, g_state.own_keyprint, TLS_KEYPRINT_BYTES, note, sizeof note)) {
        g_state.own_keyprint[0] = 0;
    }
    if (note[0] != 0) {
        char line[200];
        snprintf(line, sizeof line, " ::TLS:: %s", note);
        chatlog_append_line(line);
    }
    return g_state.own_keyprint[0] != 0;
}

bool is_loopback(uint32_t address_be) { return ((const uint8_t*)&address_be)[0] == 127; }

// The ranges that never reach the internet unchanged: RFC 1918, shared
// address space (carrier NAT) and link-local.
bool is_private(uint32_t address_be) {
    const uint8_t* a = (const uint8_t*)&address_be;
    return a[0] == 10 || (a[0] == 172 && (a[1] & 0xF0) == 16) || (a[0] == 192 && a[1] == 168) ||
           (a[0] == 100 && (a[1] & 0xC0) == 64) || (a[0] == 169 && a[1] == 254);
}

void send_my_info() {
    char info[LOGIN_BLOCK_BYTES];
    int length = build_my_info(g_state.hub_nick, g_state.settings.share_size, download_tls_offered(),
                               g_state.active != 0, info, LOGIN_BLOCK_BYTES);
    if (length > 0) hub_send(info, length);
}

void read_datagrams() {
    char datagram[UDP_DATAGRAM_BYTES];
    while (g_state.udp_socket > 0 && g_udp_budget > 0) {
        // One byte of room is kept: a datagram that fills the rest was cut.
        int length = udp_receive(g_state.udp_socket, datagram, UDP_DATAGRAM_BYTES - 1, nullptr);
        if (length < 0) return;
        g_udp_budget--;
        if (length < UDP_DATAGRAM_BYTES - 1) search_take_datagram(datagram, length);
    }
}

// Each waiting connection goes to the transfers, which keep it only for a
// user Kivo asked.
void accept_waiting(int listener, bool tls) {
    for (int i = 0; i < INCOMING_HANDSHAKES; i++) {
        int socket = socket_accept(listener, nullptr);
        if (socket < 0) return;
        download_take_incoming(socket, tls);
    }
}

}  // namespace

bool mode_decide(uint8_t connect_mode, const ModeFacts* facts, uint32_t* address_be, char* text, int text_bytes) {
    *address_be = 0;
    char seen[16];
    if (connect_mode == MODE_PASSIVE) {
        text_copy(text, text_bytes, "passive: chosen in Option");
        return false;
    }
    if (!facts->listening) {
        snprintf(text, (size_t)text_bytes, "passive: cannot listen: %s", facts->listen_error);
        return false;
    }
    snprintf(text, (size_t)text_bytes, "active on %u", (unsigned)facts->port);
    uint32_t known = facts->external_be != 0 ? facts->external_be : facts->user_ip_be;
    if (connect_mode == MODE_ACTIVE || facts->external_be != 0) {
        *address_be = known != 0 ? known : facts->local_be;
        return true;
    }
    if (facts->user_ip_be != 0) {
        if (facts->user_ip_own) {
            *address_be = facts->user_ip_be;
            return true;
        }
        ipv4_text(facts->user_ip_be, seen, sizeof seen);
        snprintf(text, (size_t)text_bytes, "passive: the hub sees %s, not this machine", seen);
        return false;
    }
    if (facts->local_be == 0) {
        text_copy(text, text_bytes, "");  // decided once a hub is reached
        return false;
    }
    if (is_loopback(facts->local_be) || !is_private(facts->local_be) || facts->hub_nearby) {
        *address_be = facts->local_be;
        return true;
    }
    ipv4_text(facts->local_be, seen, sizeof seen);
    snprintf(text, (size_t)text_bytes, "passive: a router is between this machine (%s) and the hub", seen);
    return false;
}

void active_mode_settings_changed() {
    const SessionSettings& s = g_state.settings;
    bool wanted = s.connect_mode != MODE_PASSIVE && g_state.identity_folder[0] != 0;
    if (!wanted) {
        close_all();
        text_copy(g_listen_error, LISTEN_ERROR_BYTES, "no folder of its own");
        active_mode_decide();
        return;
    }
    bool plain_kept = g_state.listen_socket > 0 && s.listen_port == g_asked_port;
    if (!plain_kept) {
        close_listener(&g_state.listen_socket);
        close_listener(&g_state.udp_socket);
        g_port = 0;
        g_listen_error[0] = 0;
        g_asked_port = s.listen_port;
        open_plain(s.listen_port);
    }
    bool tls_kept = g_state.tls_listen_socket > 0 && s.tls_port == g_asked_tls_port;
    if (!tls_kept) {
        close_listener(&g_state.tls_listen_socket);
        g_tls_port = 0;
        g_asked_tls_port = s.tls_port;
        // Without a certificate nothing listens for TLS: peers are asked in
        // plain, as TLS-less clients are.
        char error[LISTEN_ERROR_BYTES];
        int tls = g_state.listen_socket > 0 && identity_ready() ? socket_listen(SOCKET_STREAM, s.tls_port, error, sizeof error)
                                                                : -1;
        if (tls >= 0 && socket_async_select(tls, g_state.main_window, WM_ACTIVE_SOCKET, FD_ACCEPT) != 0) {
            closesocket(tls);
            tls = -1;
        }
        if (tls >= 0) {
            g_state.tls_listen_socket = tls;
            g_tls_port = (uint16_t)socket_local_port(tls);
        }
    }
    active_mode_decide();
}

void active_mode_decide() {
    const SessionSettings& s = g_state.settings;
    ModeFacts facts = {};
    facts.listening = g_state.listen_socket > 0 && g_state.udp_socket > 0;
    facts.port = g_port;
    ipv4_text_take(s.external_address, &facts.external_be);
    facts.user_ip_be = g_state.hub_user_ip_be;
    facts.user_ip_own = facts.user_ip_be != 0 && address_is_own(facts.user_ip_be);
    bool online = g_state.hub_socket > 0;
    if (online) {
        facts.local_be = socket_local_address(g_state.hub_socket);
        facts.hub_nearby = address_same_local_network(facts.local_be, socket_peer_address(g_state.hub_socket));
    }
    facts.listen_error = g_listen_error;
    bool was = g_state.active != 0;
    bool active = mode_decide(s.connect_mode, &facts, &g_state.own_address_be, g_state.mode_text, MODE_TEXT_BYTES);
    if (active && g_tls_port != 0) {
        char tls[24];
        snprintf(tls, sizeof tls, ", TLS on %u", (unsigned)g_tls_port);
        text_append(g_state.mode_text, MODE_TEXT_BYTES, tls);
    }
    g_state.active = active ? 1 : 0;
    if (online && g_state.hub_phase == HUB_ONLINE && active != was) send_my_info();
}

int hub_take_user_ip(char* message) {
    uint32_t address = 0;
    if (!parse_user_ip(message, g_state.hub_nick, &address) || address == g_state.hub_user_ip_be) return 0;
    g_state.hub_user_ip_be = address;
    active_mode_decide();
    return 0;
}

void active_mode_socket_event(WPARAM socket, LPARAM event) {
    int s = (int)socket;
    uint16_t kind = low_word((uintptr_t)event);
    if (s <= 0) return;
    if (s == g_state.listen_socket && kind == FD_ACCEPT) accept_waiting(s, false);
    else if (s == g_state.tls_listen_socket && kind == FD_ACCEPT) accept_waiting(s, true);
    else if (s == g_state.udp_socket && kind == FD_READ) read_datagrams();
}

void active_mode_tick() {
    g_udp_budget = UDP_DATAGRAMS_PER_SECOND;
    read_datagrams();
}

bool active_mode_address(bool tls, char* out, int out_bytes) {
    uint16_t port = tls ? g_tls_port : g_port;
    if (g_state.active == 0 || g_state.own_address_be == 0 || port == 0) return false;
    char ip[16];
    ipv4_text(g_state.own_address_be, ip, sizeof ip);
    char address[ACTIVE_ADDRESS_BYTES];
    snprintf(address, sizeof address, "%s:%u", ip, (unsigned)port);
    return text_copy(out, out_bytes, address) == (int)strlen(address);
}

bool active_mode_udp_address(char* out, int out_bytes) {
    return g_state.udp_socket > 0 && active_mode_address(false, out, out_bytes);
}

void active_mode_close() {
    close_all();
    g_asked_port = 0;
    g_asked_tls_port = 0;
    g_state.active = 0;
}
