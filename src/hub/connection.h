// The one hub connection: TCP connect, login, and the main screen's Connect,
// Disconnect and exit commands.
//
// g_state.hub_socket holds the open hub socket (> 0), the negative code of the
// last failed login, or 0 when there is none (before the first Connect and
// after every close). Closing always leaves 0, so a socket number is never
// closed twice even after the system has handed it out again.
#pragma once

#include "platform/platform.h"


// hub_login results besides a socket.
constexpr int LOGIN_NO_HUB = -2;       // no connection, or no first data in time
constexpr int LOGIN_SEND_FAILED = -3;  // both sends of the login block failed
constexpr int LOGIN_TOO_LONG = -4;     // nick and share text overflow the block: refused

constexpr int LOCK_RECEIVE_BYTES = 1000;
constexpr int FIRST_REPLY_BYTES = 1000;
constexpr int FIRST_REPLY_SHOWN_UNITS = 255;  // the reply is shown cut to 254 units
constexpr int NOTICE_UNITS = 1000;
constexpr int LOCK_COUNTED_BYTES = 20;  // the lock receive counts as 20 bytes, whatever its size

// The hub's connect: tcp_connect_within bounded by g_state.hub_io_timeout_ms.
int tcp_connect(const char* host, const char* port_text, int type);

// Connects, reads the hub's first data, answers its lock and sends the whole
// login in one block with the nick and share text of g_state.settings.
// Returns the socket or LOGIN_NO_HUB, LOGIN_SEND_FAILED, LOGIN_TOO_LONG.
int hub_login(const char* host, const char* port);

// Unregisters and closes the hub socket when one is open; leaves 0.
void hub_close();

// Command 6004: empties the UserTable, replaces the connection by a new
// logged-in one, shows the hub's first reply and registers the socket for
// WM_SOCKET_EVENT to g_state.main_window.
void hub_connect_command();
// Command 6007.
void hub_disconnect_command();
// Commands 2 and 6002: close the connection and end the main screen with 0.
void hub_exit_command(Window main_screen);
