// Hub connection and login.
//
// The login runs on the user-interface thread, one step after another: the
// connect, the hub's first data (its lock), one send of the whole login block,
// the hub's first reply. Each wait is bounded by g_state.hub_io_timeout_ms so a
// silent or unreachable hub cannot freeze the screen. From then on the socket
// is registered for socket events and every receive goes through the
// dispatcher (hub/dispatch.h).
//
// Limits (every byte from the hub is untrusted):
//  - The lock receive takes at most LOCK_RECEIVE_BYTES; only the lock is used,
//    the rest of that receive is dropped.
//  - The login block is at most LOGIN_BLOCK_BYTES - 1 characters. A nick or
//    share text that would overflow it refuses the login (LOGIN_TOO_LONG)
//    rather than cut it: a cut nick would log in as somebody else than the
//    nick every later message names.
//  - The first reply is shown cut to FIRST_REPLY_SHOWN_UNITS - 1 units; its
//    unterminated end is kept as the receive tail, so the message it starts
//    is completed by the next receive instead of being read as a fragment.
//  - A first reply that fails (close, error or timeout) closes the connection:
//    a logged-in socket that nobody reads would only hold the hub's traffic.
//
// Reaches g_state: hub_socket, the receive tail, the settings, main_window, the
// line break, the time limit, the UserTable (emptied), the ChatLog and the
// TrafficCounters.
#include "hub/connection.h"

#include "hub/dispatch.h"
#include "protocol/lock_to_key.h"
#include "state/client_state.h"
#include "protocol/hub_messages.h"

namespace {

// Shows "connect to <host>", the line break and the first reply in one append,
// so a download worker's line cannot land between them.
void show_first_reply(const char* reply) {
    char16_t notice[NOTICE_UNITS];
    wide_format(notice, NOTICE_UNITS, u"connect to %S", g_state.settings.hub_host);
    u16_append(notice, NOTICE_UNITS, g_state.line_break);
    int have = u16_len(notice);
    int room = NOTICE_UNITS - have;
    cp1251_to_utf16(reply, -1, notice + have, room < FIRST_REPLY_SHOWN_UNITS ? room : FIRST_REPLY_SHOWN_UNITS);
    chatlog_append(notice);
}

// Keeps what follows the reply's last '|' as the receive tail.
void keep_reply_tail(const char* reply, int length) {
    int rest = length;
    while (rest > 0 && reply[rest - 1] != '|') rest--;
    hub_tail_keep(reply + rest, length - rest);
}

// Receives and shows the hub's first reply, then registers the socket for
// socket events. False when no reply came; the connection is then closed.
bool take_first_reply() {
    char reply[FIRST_REPLY_BYTES + 1];
    int got = recv_timeout(g_state.hub_socket, reply, FIRST_REPLY_BYTES, g_state.hub_io_timeout_ms);
    if (got < 1) {
        hub_close();
        return false;
    }
    traffic_add_received((uint32_t)got);
    reply[got] = '\0';
    if (socket_async_select(g_state.hub_socket, g_state.main_window, WM_SOCKET_EVENT, HUB_EVENT_MASK) != 0) {
        chatlog_append(u"wsa select Error ");
    }
    show_first_reply(reply);
    keep_reply_tail(reply, got);
    return true;
}

}  // namespace

int tcp_connect(const char* host, const char* port_text, int type) {
    return tcp_connect_within(host, port_text, type, g_state.hub_io_timeout_ms, nullptr);
}

int hub_login(const char* host, const char* port) {
    int sock = tcp_connect(host, port, SOCKET_STREAM);
    if (sock < 0) return LOGIN_NO_HUB;
    char lock[LOCK_RECEIVE_BYTES];
    int got = recv_timeout(sock, lock, LOCK_RECEIVE_BYTES, g_state.hub_io_timeout_ms);
    if (got < 1) {
        closesocket(sock);
        return LOGIN_NO_HUB;
    }
    traffic_add_received(LOCK_COUNTED_BYTES);

    // Only a second character 'L' is checked: the data is taken as "$Lock ...".
    char key_text[KEY_TEXT_BYTES];
    const char* key = nullptr;
    if (got >= 2 && lock[1] == 'L') key = lock_to_key(lock, got, key_text);
    char block[LOGIN_BLOCK_BYTES];
    int length = build_login_block(key, g_state.settings.nick, g_state.settings.share_size, block,
                                   LOGIN_BLOCK_BYTES);
    if (length < 0) {
        closesocket(sock);
        return LOGIN_TOO_LONG;
    }
    // One retry; a blocking send of a block this small goes out whole.
    if (send_once(sock, block, length) < 1 && send_once(sock, block, length) < 1) {
        closesocket(sock);
        return LOGIN_SEND_FAILED;
    }
    traffic_add_sent((uint32_t)length);
    return sock;
}

void hub_close() {
    if (g_state.hub_socket > 0) {
        // Unregister first, so the loop stops watching this socket number
        // before the system can hand it out again.
        socket_async_select(g_state.hub_socket, g_state.main_window, 0, 0);
        closesocket(g_state.hub_socket);
    }
    g_state.hub_socket = 0;
    g_state.hub_tail_len = 0;
}

void hub_connect_command() {
    user_table_empty();
    hub_close();
    g_state.hub_socket = hub_login(g_state.settings.hub_host, g_state.settings.hub_port);
    if (g_state.hub_socket < 0 || !take_first_reply()) chatlog_append(u"connect Error ");
    repaint_request(g_state.main_window);
}

void hub_disconnect_command() {
    hub_close();
}

void hub_exit_command(Window main_screen) {
    hub_close();
    dialog_end(main_screen, 0);
}
