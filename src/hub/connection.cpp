// Hub connection and login.
//
// Connect starts a login on a thread of its own, so the screen keeps painting
// and taking keys: the name lookup and the connect, the hub's first message
// (its lock), one send of the whole login block, the hub's first reply. Each
// wait is bounded by g_state.hub_io_timeout_ms and sees the run's cancel flag
// several times a second. The thread hands its result to the main window
// (WM_HUB_LOGIN); the user-interface thread takes it only when it is the
// result of the latest Connect that nobody gave up, registers the socket for
// socket events, says "connected to ..." and dispatches everything the hub
// sent after its lock like any later receive (nothing of it is shown raw).
//
// An nmdcs:// hub (settings.hub_tls) is TLS from the first byte: the login
// thread runs the handshake right after the connect, within the same time
// limit and cancel flag, checks the certificate's keyprint against the one
// the address named, and sends and receives everything after it through the
// session. The login's Link (socket and session) lives in its run and stays
// there for the life of the connection (the library keeps pointers into
// it); hub_close ends the session before it closes the socket. A failed handshake or a keyprint that does not
// match ends the login before a byte of it is sent: never in the clear.
//
// Limits (every byte from the hub is untrusted):
//  - The lock is read up to its '|', over as many receives as it takes within
//    the time limit, into LOCK_RECEIVE_BYTES: a lock with no '|' in
//    LOCK_RECEIVE_BYTES - 1 bytes fails the login (LOGIN_LOCK_TOO_LONG). The
//    bytes after its '|' are the hub's first messages: they go in front of
//    the first reply. A first message that is no lock is kept the same way.
//  - The login block is at most LOGIN_BLOCK_BYTES - 1 characters. A nick or
//    share text that would overflow it refuses the login (LOGIN_TOO_LONG)
//    rather than cut it: a cut nick would log in as somebody else than the
//    nick every later message names.
//  - The first reply (those bytes and one receive after the login block, at
//    most FIRST_REPLY_BYTES in all) is dispatched like any later receive:
//    its unterminated end is kept as the receive tail; what did not fit
//    stays in the socket (or the TLS library) for the next receive.
//  - A first reply that fails (close, error or timeout) closes the connection:
//    a logged-in socket that nobody reads would only hold the hub's traffic.
//  - Messages to the hub that the socket does not take at once wait in
//    g_state.hub_out (HUB_OUT_BYTES); a hub that leaves more unread ends the
//    connection.
//
// State of this file alone: the login runs. Each is owned by its thread from
// the start until it posts its result, then by the user-interface thread,
// which frees it; two of them, so a new Connect need not wait for a login it
// gave up to end. And the Link of the online connection (in the run that
// made it), or none when there is no connection.
//
// Reaches g_state: hub_socket, hub_login_error, hub_phase, the login generation, hub_nick,
// hub_address and hub_name, the unsent messages, the receive tail, the
// settings (the password is cleared when the hub refuses it), main_window,
// the line break, the time limit, the UserTable (emptied), the ChatLog and
// the TrafficCounters.
#include "hub/connection.h"

#include <atomic>
#include <cstring>

#include "hub/active_mode.h"
#include "hub/dispatch.h"
#include "protocol/hub_messages.h"
#include "protocol/lock_to_key.h"
#include "state/client_state.h"
#include "transfer/download.h"

namespace {

constexpr int LOGIN_RUNS = 2;
// A session note with a text from the hub in it, in the hub's encoding.
constexpr int SESSION_NOTE_BYTES = 600;

struct LoginRun {
    uint8_t busy;    // set when the run starts, cleared when its result is taken (UI thread)
    uint8_t cancel;  // set by the UI thread; the login thread reads it (atomic)
    uint32_t generation;
    char host[HUB_HOST_BYTES];
    char port[HUB_PORT_BYTES];
    char nick[HUB_NICK_BYTES];
    char share[SHARE_TEXT_BYTES];
    uint8_t announce_tls;  // $MyINFO offers TLS transfers
    int timeout_ms;
    uint8_t tls;  // the hub is nmdcs://: the login goes through session
    char keyprint[TLS_KEYPRINT_BYTES];
    LoginTls tls_login;
    LoginError result;  // written by the login thread before it posts
    char reply[FIRST_REPLY_BYTES + 1];
    int reply_length;
    // Opened by the login thread; once the result is taken, the online
    // connection's socket and session until hub_close (UI thread).
    Link link;
};
LoginRun g_login_runs[LOGIN_RUNS];
// The Link of the online connection (in the run that made it), or nullptr
// when there is none.
Link* g_hub_link;
// The run of the login thread that asks: its give-up check has no argument.
thread_local LoginRun* t_login_run;

bool flag(const uint8_t& f) {
    return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(f)).load(std::memory_order_acquire) != 0;
}
void set_flag(uint8_t& f, bool on) {
    std::atomic_ref<uint8_t>(f).store(on ? 1 : 0, std::memory_order_release);
}

int login_give_up() { return t_login_run != nullptr && flag(t_login_run->cancel) ? 1 : 0; }

// hub_login's give-up check, as a Link's stop check.
struct GiveUp {
    int (*check)();
};
int ask_give_up(void* argument) {
    const GiveUp* give_up = (const GiveUp*)argument;
    return give_up->check != nullptr && give_up->check() != 0 ? 1 : 0;
}

void login_thread(void* argument) {
    LoginRun* run = (LoginRun*)argument;
    t_login_run = run;
    run->tls_login.keyprint = run->keyprint;
    run->tls_login.reason[0] = '\0';
    run->tls_login.seen[0] = '\0';
    run->result = hub_login(run->host, run->port, run->nick, run->share, run->announce_tls != 0, run->reply,
                            &run->reply_length, run->timeout_ms, login_give_up, &run->link,
                            run->tls ? &run->tls_login : nullptr);
    // main_window is set once, before any login starts.
    post_message(g_state.main_window, WM_HUB_LOGIN, (WPARAM)(run - g_login_runs), (LPARAM)run->generation);
}

// The run of the latest Connect while it still runs, else nullptr.
LoginRun* current_run() {
    if (g_state.hub_phase != HUB_CONNECTING) return nullptr;
    for (LoginRun& run : g_login_runs)
        if (run.busy && run.generation == g_state.hub_login_generation) return &run;
    return nullptr;
}

// A session note about the hub of the latest Connect: the format's %S is
// its "host:port", the reason (when the format has a second %S) follows.
void hub_note(const char16_t* format, const char* reason = "") {
    char16_t note[NOTICE_UNITS];
    wide_format(note, NOTICE_UNITS, format, g_state.hub_address, reason);
    chatlog_append_note(note);
}

struct LoginFailure {
    LoginError code;
    const char* text;
};
const LoginFailure LOGIN_FAILURES[] = {
    {LOGIN_NO_HUB, "network error"},
    {LOGIN_SEND_FAILED, "send failed"},
    {LOGIN_TOO_LONG, "nick or share too long"},
    {LOGIN_CANCELLED, "cancelled"},
    {LOGIN_NAME_NOT_FOUND, "name not found"},
    {LOGIN_REFUSED, "connection refused"},
    {LOGIN_TIMED_OUT, "timed out"},
    {LOGIN_CLOSED, "closed by the hub"},
    {LOGIN_NO_RUN, "the last connects are still ending"},
    {LOGIN_TLS_FAILED, "TLS handshake failed"},
    {LOGIN_KEYPRINT_MISMATCH, "TLS handshake failed: the hub's keyprint does not match"},
    {LOGIN_LOCK_TOO_LONG, "the hub's lock is too long"},
};

// A connect failure of the platform as a login result.
LoginError login_connect_failure(int tcp_result) {
    switch (tcp_result) {
    case TCP_LOOKUP_FAILED: return LOGIN_NAME_NOT_FOUND;
    case TCP_CONNECT_REFUSED: return LOGIN_REFUSED;
    case TCP_CONNECT_TIMED_OUT: return LOGIN_TIMED_OUT;
    default: return LOGIN_NO_HUB;
    }
}

// A receive of the login that brought nothing, as a login result.
LoginError login_receive_failure(LinkWait wait) {
    switch (wait) {
    case LINK_CLOSED: return LOGIN_CLOSED;
    case LINK_TIMED_OUT: return LOGIN_TIMED_OUT;
    case LINK_STOPPED: return LOGIN_CANCELLED;
    default: return LOGIN_NO_HUB;
    }
}

// A login that could not start or did not succeed: its note, with the
// handshake's own reason when it failed, or both keyprints when the hub's
// was not the one named (tls, when the hub is nmdcs://).
void login_failed(LoginError code, const LoginTls* tls = nullptr) {
    g_state.hub_phase = HUB_OFFLINE;
    char why[TLS_REASON_BYTES + 2 * TLS_KEYPRINT_BYTES + 64];
    text_copy(why, (int)sizeof why, login_failure_text(code));
    if (code == LOGIN_TLS_FAILED && tls != nullptr && tls->reason[0] != '\0') {
        text_append(why, (int)sizeof why, ": ");
        text_append(why, (int)sizeof why, tls->reason);
    }
    if (code == LOGIN_KEYPRINT_MISMATCH && tls != nullptr) {
        text_append(why, (int)sizeof why, ": expected ");
        text_append(why, (int)sizeof why, tls->keyprint);
        text_append(why, (int)sizeof why, ", seen ");
        text_append(why, (int)sizeof why, tls->seen);
    }
    hub_note(u"cannot connect to %S: %S", why);
    repaint_request(g_state.main_window);
}

// The login's TLS part after the connect: the handshake, then the keyprint.
// LOGIN_OK with the session open, or the failure (the Link still to close).
LoginError login_tls_start(Link* link, const char* host, int timeout_ms, GiveUp* give_up, LoginTls* tls) {
    if (!link_start_tls(link, host, timeout_ms, ask_give_up, give_up, tls->reason, TLS_REASON_BYTES)) {
        return ask_give_up(give_up) ? LOGIN_CANCELLED : LOGIN_TLS_FAILED;
    }
    tls_keyprint(&link->session, tls->seen, TLS_KEYPRINT_BYTES);
    if (tls->keyprint == nullptr || tls->keyprint[0] == '\0') return LOGIN_OK;
    if (strcmp(tls->seen, tls->keyprint) == 0) return LOGIN_OK;
    return LOGIN_KEYPRINT_MISMATCH;
}

// Ends a login that failed after its connect: the session (when open) and
// the socket; returns the code.
LoginError login_abandon(Link* link, LoginError code) {
    link_close(link);
    return code;
}

// The login's result, on the user-interface thread.
void login_finished(WPARAM index, LPARAM generation) {
    if (index >= (WPARAM)LOGIN_RUNS) return;
    LoginRun& run = g_login_runs[index];
    if (!run.busy || run.generation != (uint32_t)generation) return;
    bool wanted = current_run() == &run && !flag(run.cancel);
    LoginError result = run.result;
    if (!wanted) {
        link_close(&run.link);  // empty already when the login failed
        run.busy = 0;
        return;
    }
    g_state.hub_login_error = result;
    if (result != LOGIN_OK) {
        run.busy = 0;
        login_failed(result, run.tls ? &run.tls_login : nullptr);
        return;
    }
    int sock = run.link.socket;
    g_state.hub_socket = sock;
    g_hub_link = &run.link;
    bool tls = run.link.tls != 0;
    g_state.hub_phase = HUB_ONLINE;
    g_state.hub_out_len = 0;
    g_state.hub_tail_len = 0;
    if (socket_async_select(sock, g_state.main_window, WM_SOCKET_EVENT, HUB_EVENT_MASK) != 0) {
        chatlog_append(u"wsa select Error ");
    }
    // The library may hold bytes of the hub's beyond its first reply, which
    // no socket event would announce: one read looks (and re-arms).
    if (tls) {
        post_message(g_state.main_window, WM_SOCKET_EVENT, (WPARAM)sock, (LPARAM)make_long(FD_READ, 0));
    }
    timer_set(g_state.main_window, KEEPALIVE_TIMER, KEEPALIVE_MS);
    hub_note(u"connected to %S");
    // Whether peers can reach Kivo: decided from this connection (and from
    // the hub's $UserIP, when it comes), and announced when active.
    g_state.hub_user_ip_be = 0;
    active_mode_decide();
    // An nmdcs:// address without its keyprint takes any certificate: the
    // one seen is shown once, so that the person can pin it.
    if (tls && run.keyprint[0] == '\0' && run.tls_login.seen[0] != '\0') {
        char16_t note[NOTICE_UNITS];
        wide_format(note, NOTICE_UNITS, u"the hub's keyprint is %S: add ?kp=%S to its address to pin it",
                    run.tls_login.seen, run.tls_login.seen);
        chatlog_append_note(note);
    }
    // Dispatched like any later receive; it may close the connection again
    // (a refused nick), which is why the run is freed first. A TLS session
    // stays in the freed run until hub_close: a new run is only taken by
    // Connect, after hub_close.
    char data[HUB_DATA_BYTES];
    int length = run.reply_length < HUB_RECEIVE_BYTES ? run.reply_length : HUB_RECEIVE_BYTES;
    memcpy(data, run.reply, (size_t)length);
    data[length] = '\0';
    run.busy = 0;
    dispatch_hub_data(data, length);
    repaint_request(g_state.main_window);
}

// Reads the hub's first message (its lock) into lock (LOCK_RECEIVE_BYTES)
// up to its '|', within timeout_ms in all: *length gets the message's length
// with its '|', *have the bytes received (the lock and what came after it in
// the same receive). LOGIN_OK, or how the login fails.
LoginError receive_lock(Link* link, char* lock, int* length, int* have, int timeout_ms, GiveUp* give_up) {
    uint64_t start = monotonic_ms();
    *have = 0;
    for (;;) {
        int room = LOCK_RECEIVE_BYTES - 1 - *have;
        if (room < 1) return LOGIN_LOCK_TOO_LONG;
        uint64_t waited = monotonic_ms() - start;
        // Past the limit the receive still takes what is already there.
        int left = waited >= (uint64_t)timeout_ms ? 0 : timeout_ms - (int)waited;
        int got = 0;
        LinkWait wait = link_receive(link, lock + *have, room, &got, left, ask_give_up, give_up);
        if (wait != LINK_DATA) return login_receive_failure(wait);
        const char* bar = (const char*)memchr(lock + *have, '|', (size_t)got);
        *have += got;
        if (bar != nullptr) {
            *length = (int)(bar - lock) + 1;
            return LOGIN_OK;
        }
    }
}

// Appends a note made of a fixed text and a text from the hub.
void session_note(const char* head, const char* text) {
    char note[SESSION_NOTE_BYTES];
    text_copy(note, SESSION_NOTE_BYTES, head);
    text_append(note, SESSION_NOTE_BYTES, text);
    chatlog_append_line(note);
}

// The text after a message's command word and its blank, or "" without one.
const char* message_argument(const char* message, int command_length) {
    return message[command_length] == ' ' ? message + command_length + 1 : "";
}

}  // namespace

int tcp_connect(const char* host, const char* port_text, int type) {
    return tcp_connect_within(host, port_text, type, g_state.hub_io_timeout_ms, nullptr);
}

LoginError hub_login(const char* host, const char* port, const char* nick, const char* share, bool announce_tls,
                     char* reply, int* reply_length, int timeout_ms, int (*give_up)(), Link* link, LoginTls* tls) {
    *reply_length = 0;
    reply[0] = '\0';
    link_init(link);
    GiveUp asked = {give_up};
    int sock = tcp_connect_within(host, port, SOCKET_STREAM, timeout_ms, give_up);
    if (ask_give_up(&asked)) {
        if (sock >= 0) closesocket(sock);
        return LOGIN_CANCELLED;
    }
    if (sock < 0) return login_connect_failure(sock);
    link_plain(link, sock);
    if (tls != nullptr) {
        LoginError failed = login_tls_start(link, host, timeout_ms, &asked, tls);
        if (failed != LOGIN_OK) return login_abandon(link, failed);
    }
    char lock[LOCK_RECEIVE_BYTES];
    int have = 0;
    int lock_length = 0;
    LoginError failed = receive_lock(link, lock, &lock_length, &have, timeout_ms, &asked);
    if (failed != LOGIN_OK) return login_abandon(link, failed);
    traffic_add_received(LOCK_COUNTED_BYTES);

    // Only a second character 'L' is checked: the message is taken as "$Lock ...".
    char key_text[KEY_TEXT_BYTES];
    const char* key = nullptr;
    bool is_lock = lock_length >= 2 && lock[1] == 'L';
    if (is_lock) key = lock_to_key(lock, lock_length, key_text);
    // What came after the lock (or a first message that is none) is the
    // hub's: it leads the first reply.
    static_assert(LOCK_RECEIVE_BYTES <= FIRST_REPLY_BYTES, "what follows the lock fits the reply");
    int kept = is_lock ? have - lock_length : have;
    memcpy(reply, lock + (have - kept), (size_t)kept);
    reply[kept] = '\0';
    char block[LOGIN_BLOCK_BYTES];
    int length = build_login_block(key, nick, share, announce_tls, block, LOGIN_BLOCK_BYTES);
    if (length < 0) return login_abandon(link, LOGIN_TOO_LONG);
    if (!link_send_all(link, block, length, timeout_ms)) return login_abandon(link, LOGIN_SEND_FAILED);
    traffic_add_sent((uint32_t)length);

    int got = 0;
    LinkWait wait = link_receive(link, reply + kept, FIRST_REPLY_BYTES - kept, &got, timeout_ms, ask_give_up, &asked);
    if (wait != LINK_DATA) return login_abandon(link, login_receive_failure(wait));
    traffic_add_received((uint32_t)got);
    reply[kept + got] = '\0';
    *reply_length = kept + got;
    return LOGIN_OK;
}

const char* login_failure_text(LoginError code) {
    for (const LoginFailure& failure : LOGIN_FAILURES)
        if (failure.code == code) return failure.text;
    return "network error";
}

void hub_close() {
    bool ended = g_state.hub_phase == HUB_ONLINE || g_state.hub_socket > 0;
    if (g_state.hub_socket > 0) {
        // Unregister first, so the loop stops watching this socket number
        // before the system can hand it out again.
        socket_async_select(g_state.hub_socket, g_state.main_window, 0, 0);
        // A socket handed in without its login's Link (tests) is closed as plain.
        Link plain;
        Link* link = g_hub_link;
        if (link == nullptr) {
            link_plain(&plain, g_state.hub_socket);
            link = &plain;
        }
        link_close(link);
        timer_kill(g_state.main_window, KEEPALIVE_TIMER);
    }
    g_hub_link = nullptr;
    g_state.hub_socket = 0;
    g_state.hub_tail_len = 0;
    g_state.hub_out_len = 0;
    if (g_state.hub_phase == HUB_ONLINE) g_state.hub_phase = HUB_OFFLINE;
    // Nobody is known to be on a hub one is not on.
    user_table_empty();
    g_state.hub_user_ip_be = 0;
    active_mode_decide();
    if (ended) repaint_request(g_state.main_window);
}

void hub_connection_lost(const char* reason) {
    if (g_state.hub_socket <= 0) return;  // already closed: nothing was lost
    hub_close();
    hub_note(u"connection to %S lost: %S", reason);
}

bool hub_cancel_login() {
    LoginRun* run = current_run();
    if (run == nullptr) return false;
    set_flag(run->cancel, true);
    g_state.hub_phase = HUB_OFFLINE;
    chatlog_append_note(u"connect cancelled");
    repaint_request(g_state.main_window);
    return true;
}

void hub_connect_command() {
    hub_cancel_login();
    // Leaving a connected hub for the next one says so, as Disconnect does.
    bool was_connected = g_state.hub_socket > 0;
    hub_close();
    if (was_connected) hub_note(u"disconnected from %S");
    // The hub's address, encoding and the own nick in it, for the whole session.
    const SessionSettings& s = g_state.settings;
    text_copy(g_state.hub_address, HUB_ADDRESS_BYTES, s.hub_host);
    text_append(g_state.hub_address, HUB_ADDRESS_BYTES, ":");
    text_append(g_state.hub_address, HUB_ADDRESS_BYTES, s.hub_port);
    g_state.hub_name[0] = 0;
    hub_encoding_choose(s.encoding);
    char16_t wide[NICK_BYTES];
    cp1251_to_utf16(s.nick, -1, wide, NICK_BYTES);
    utf16_to_hub_text(wide, -1, g_state.hub_nick, HUB_NICK_BYTES);

    LoginRun* run = nullptr;
    for (LoginRun& r : g_login_runs)
        if (!r.busy) run = &r;
    hub_note(u"connecting to %S...");
    if (run == nullptr) {  // both runs still ending after being given up
        login_failed(LOGIN_NO_RUN);
        return;
    }
    text_copy(run->host, HUB_HOST_BYTES, s.hub_host);
    text_copy(run->port, HUB_PORT_BYTES, s.hub_port);
    text_copy(run->nick, HUB_NICK_BYTES, g_state.hub_nick);
    text_copy(run->share, SHARE_TEXT_BYTES, s.share_size);
    run->tls = s.hub_tls != 0 ? 1 : 0;
    text_copy(run->keyprint, TLS_KEYPRINT_BYTES, s.hub_keyprint);
    run->announce_tls = download_tls_offered() ? 1 : 0;
    run->timeout_ms = g_state.hub_io_timeout_ms;
    run->generation = ++g_state.hub_login_generation;
    set_flag(run->cancel, false);
    run->busy = 1;
    g_state.hub_phase = HUB_CONNECTING;
    if (!thread_start(login_thread, run)) {
        run->busy = 0;
        login_failed(LOGIN_NO_RUN);
        return;
    }
    repaint_request(g_state.main_window);
}

void hub_disconnect_command() {
    if (hub_cancel_login()) return;  // its note says so
    if (g_state.hub_socket <= 0) return;  // nothing to leave
    hub_close();
    hub_note(u"disconnected from %S");
}

void hub_exit_command(Window main_screen) {
    hub_cancel_login();
    hub_close();
    dialog_end(main_screen, 0);
}

bool hub_tls_online() { return g_state.hub_phase == HUB_ONLINE && g_hub_link != nullptr && g_hub_link->tls; }

bool hub_login_running() {
    for (const LoginRun& run : g_login_runs)
        if (run.busy) return true;
    return false;
}

intptr_t hub_window_message(uint32_t message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_HUB_LOGIN:
        login_finished(wparam, lparam);
        return TRUE;
    case WM_TIMER:
        if (wparam != KEEPALIVE_TIMER) return FALSE;
        if (g_state.hub_phase == HUB_ONLINE) hub_send("|", 1);
        return TRUE;
    default:
        return FALSE;
    }
}

int hub_receive_once(char* buffer, int bytes) {
    if (g_hub_link == nullptr || !g_hub_link->tls) return recv_once(g_state.hub_socket, buffer, bytes);
    int got = tls_recv_once(&g_hub_link->session, buffer, bytes);
    // The session ended (close_notify) or failed (a broken or forged record):
    // nothing more can be read from it, whether or not the socket closes.
    if (got == 0) hub_connection_lost("closed by the hub");
    if (got == -1) hub_connection_lost("TLS error");
    return got;
}

int hub_send_some(const char* data, int bytes) {
    if (g_hub_link == nullptr || !g_hub_link->tls) return send_nonblocking(g_state.hub_socket, data, bytes);
    return tls_send_nonblocking(&g_hub_link->session, data, bytes);
}

bool hub_send(const char* data, int length) {
    int sock = g_state.hub_socket;
    if (sock <= 0) return false;
    int taken = 0;
    if (g_state.hub_out_len == 0) {
        // A 0 keeps the whole message: the next send starts with the same bytes.
        taken = hub_send_some(data, length);
        // A failed socket is left as it is: its close is noted when it comes.
        if (taken < 0) return false;
        if (taken > 0) traffic_add_sent((uint32_t)taken);
    }
    int rest = length - taken;
    if (rest > HUB_OUT_BYTES - g_state.hub_out_len) {
        hub_connection_lost("the hub is not reading");
        return false;
    }
    memcpy(g_state.hub_out + g_state.hub_out_len, data + taken, (size_t)rest);
    g_state.hub_out_len += rest;
    // The keep-alive counts from the last message.
    if (g_state.hub_phase == HUB_ONLINE) timer_set(g_state.main_window, KEEPALIVE_TIMER, KEEPALIVE_MS);
    return true;
}

void hub_flush() {
    int sock = g_state.hub_socket;
    while (sock > 0 && g_state.hub_out_len > 0) {
        int taken = hub_send_some(g_state.hub_out, g_state.hub_out_len);
        if (taken <= 0) return;  // full again (FD_WRITE comes back), or failed (FD_CLOSE comes)
        traffic_add_sent((uint32_t)taken);
        g_state.hub_out_len -= taken;
        memmove(g_state.hub_out, g_state.hub_out + taken, (size_t)g_state.hub_out_len);
    }
}

void hub_send_password(const char* password) {
    char message[MY_PASS_BYTES];
    int length = build_my_pass(password, message, MY_PASS_BYTES);
    if (length > 0) {
        hub_send(message, length);
        return;
    }
    // The hub waits for an answer that cannot be given: the session ends.
    hub_close();
    chatlog_append_note(u"the password holds a \"|\", which no hub can take: not sent");
}

int hub_take_get_pass(char*) {
    if (g_state.settings.password[0] != '\0') {
        hub_send_password(g_state.settings.password);
    } else {
        post_message(g_state.main_window, WM_HUB_PASSWORD, 0, 0);
    }
    return 0;
}

int hub_take_bad_pass(char*) {
    // Asked again at the next Connect instead of sent again.
    memset(g_state.settings.password, 0, sizeof g_state.settings.password);
    hub_close();
    return chatlog_append_line("wrong password");
}

int hub_take_validate_denide(char* message) {
    const char* nick = message_argument(message, 15);  // "$ValidateDenide"
    if (nick[0] == '\0') nick = g_state.hub_nick;
    hub_close();
    session_note("the hub refused the nick ", nick);
    return 1;
}

int hub_take_hub_is_full(char*) {
    hub_close();
    return chatlog_append_line("the hub is full");
}

int hub_take_force_move(char* message) {
    // Only shown: following a redirect blindly has been used to flood third
    // parties. The person may put the address in Option.
    session_note("the hub asks you to go to ", message_argument(message, 10));  // "$ForceMove"
    return 1;
}
