// The one hub connection: the login, which runs on a thread of its own so the
// screen stays live, the sends to the hub, the messages about the session
// itself ($GetPass, refusals, redirects), and the main screen's Connect,
// Disconnect and exit commands.
//
// g_state.hub_socket holds the open hub socket (> 0), or 0 when there is none
// (before the first Connect, while a login runs, after a failed login and
// after every close). Closing always leaves 0, so a socket number is never
// closed twice even after the system has handed it out again. How the last
// login ended is g_state.hub_login_error, apart from it.
// g_state.hub_phase says whether a login runs or the hub is online.
#pragma once

#include "platform/link.h"
#include "platform/platform.h"
#include "platform/tls.h"
#include "state/client_state.h"

constexpr int LOCK_RECEIVE_BYTES = 1000;  // the hub's lock, its '|' and the NUL room
// What the hub sent after its lock and one receive after the login block.
constexpr int FIRST_REPLY_BYTES = 1000;
constexpr int NOTICE_UNITS = 1000;
constexpr int LOCK_COUNTED_BYTES = 20;  // the lock receive counts as 20 bytes, whatever its size

// Messages of the program's own to the main window, above the platform's numbers.
// A login thread has its result: wparam the run, lparam its generation.
constexpr uint32_t WM_HUB_LOGIN = 0x8002;
// The hub asks for a password and none is known: the main screen asks the person.
constexpr uint32_t WM_HUB_PASSWORD = 0x8003;

// With nothing sent for this long, an empty message ("|") goes to the hub, as
// common clients send it, so hubs that drop silent clients keep this one.
constexpr int KEEPALIVE_MS = 120000;
constexpr uint32_t KEEPALIVE_TIMER = 1;

// The hub's connect: tcp_connect_within bounded by g_state.hub_io_timeout_ms.
int tcp_connect(const char* host, const char* port_text, int type);

// The TLS side of a login to an nmdcs:// hub. The session is opened in the
// login's Link, which must stay where it is for the life of the connection.
struct LoginTls {
    const char* keyprint;  // the keyprint the hub's certificate must have; empty: any
    char reason[TLS_REASON_BYTES];  // why the handshake failed (LOGIN_TLS_FAILED)
    // The keyprint of the certificate the hub showed, once the handshake is
    // done (empty before): for the notes that name it.
    char seen[TLS_KEYPRINT_BYTES];
};

// The whole login, blocking, on the calling thread: connects (name lookup
// included), with tls the TLS handshake (the host as the server name) and
// the keyprint check, reads the hub's first message up to its '|' (over
// several receives when it comes in pieces), answers its lock, sends the
// login block with nick and share (in the hub's encoding; its $MyINFO
// offers TLS transfers when announce_tls is set) whole and receives once
// more. reply (FIRST_REPLY_BYTES + 1 bytes: terminated, its length in
// *reply_length) gets what came after the lock and that receive: hub
// messages, for the dispatcher. With tls all of it goes through the
// session. Every wait is bounded by timeout_ms; with give_up, it gives up
// (LOGIN_CANCELLED) soon after that returns nonzero. Returns LOGIN_OK with
// link open (its socket blocking; with tls its session open), or another
// LoginError but LOGIN_NO_RUN with link empty. Nothing is sent after a
// failed handshake or a keyprint that does not match. Uses no shared state
// but the traffic totals.
LoginError hub_login(const char* host, const char* port, const char* nick, const char* share, bool announce_tls,
                     char* reply, int* reply_length, int timeout_ms, int (*give_up)(), Link* link,
                     LoginTls* tls = nullptr);

// Unregisters and closes the hub socket when one is open (ending its TLS
// session first); leaves 0 and the
// phase offline, the unsent rest of the messages dropped, the UserTable
// empty. Asks the main screen to repaint (its title) when a session ended.
void hub_close();

// Session notes, each on a line of its own in the ChatLog (the hub's address
// is g_state.hub_address):
//   "connecting to <host>:<port>..."          Connect
//   "connected to <host>:<port>"              the login's first reply came (its
//                                             messages are dispatched after it)
//   "cannot connect to <host>:<port>: <why>"  the login failed
//   "disconnected from <host>:<port>"         Disconnect while connected
//   "connection to <host>:<port> lost: <why>" the hub closed, or the socket failed
// and after "connected to" on an nmdcs:// hub whose address named no keyprint:
//   "the hub's keyprint is SHA256/<b32>: add ?kp=SHA256/<b32> to its address to pin it"
// The reason of a failed login, for its note. A failed TLS handshake reads
// "TLS handshake failed: <reason>", a keyprint that does not match "TLS
// handshake failed: the hub's keyprint does not match" (its note goes on
// with ": expected <keyprint named>, seen <keyprint shown>").
const char* login_failure_text(LoginError code);

// Command Connect: empties the UserTable, closes the connection (a login
// still running is given up), takes the hub's address, the encoding and nick
// of the settings for the new hub, says "connecting to <host>:<port>..." and
// starts the login on its own thread. Its result comes back as WM_HUB_LOGIN.
void hub_connect_command();
// Command Disconnect: gives up a running login, or closes the connection
// with "disconnected from <host>:<port>".
void hub_disconnect_command();
// The hub connection ended without being asked to (the hub closed, or the
// socket failed): closed, with "connection to <host>:<port> lost: <reason>".
void hub_connection_lost(const char* reason);
// The Back key during a login gives it up; true when there was one to give up.
bool hub_cancel_login();
// Commands exit: give up, close and end the main screen with 0.
void hub_exit_command(Window main_screen);
// True while a login thread has not handed in its result (tests wait on it).
bool hub_login_running();
// True while the hub is online over TLS (an nmdcs:// hub): the title says so.
bool hub_tls_online();

// The main window's messages that the hub connection posts or sets for
// itself: login results and the keep-alive timer. Returns TRUE when the
// message was one of them. Socket events come as a HubEvent
// (hub_socket_event), which the main screen makes of the socket message.
intptr_t hub_window_message(uint32_t message, WPARAM wparam, LPARAM lparam);

// Plain or TLS: the two calls through which the online hub connection moves
// its bytes, the one place that chooses. One receive that never waits, like
// recv_once (bytes, 0 closed, -1 error, -2 nothing whole yet); a TLS session
// that failed or was closed by the hub ends the connection with its note.
int hub_receive_once(char* buffer, int bytes);
// One send that never waits, like send_nonblocking: bytes taken, 0 when none
// now (the next call must start with the same bytes), -1 failed.
int hub_send_some(const char* data, int bytes);

// Sends a whole message to the hub. What the socket does not take at once is
// kept and sent, in order, when it can take more; only bytes it took count.
// A hub that leaves HUB_OUT_BYTES unread ends the connection with a note.
// False when there is no connection, the socket failed or the message ended it.
bool hub_send(const char* data, int length);
// Sends what was kept back, as far as the socket takes it (FD_WRITE).
void hub_flush();
// Answers $GetPass: "$MyPass <password>|" (the password in the hub's encoding).
void hub_send_password(const char* password);

// Session messages, each NUL-terminated without its '|'; each returns 1 when
// it appended a chat line.
int hub_take_get_pass(char* message);        // $GetPass: the known password, or ask
int hub_take_bad_pass(char* message);        // $BadPass: "wrong password", closed
int hub_take_validate_denide(char* message); // $ValidateDenide: refused, closed
int hub_take_hub_is_full(char* message);     // $HubIsFull: "the hub is full", closed
int hub_take_force_move(char* message);      // $ForceMove: shown, never followed
