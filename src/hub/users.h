// The hub's users: the UserTable fed by $MyINFO and $Quit, and the Users screen.
#pragma once

#include "platform/platform.h"
#include "state/client_state.h"

// Resources of the Users screen.
constexpr int USERS_TEMPLATE = 1005;
constexpr int USERS_MENUBAR = 2004;
constexpr int USERS_LIST_CONTROL = 4009;
constexpr int CMD_USERS_TO_CHAT = 6001;
constexpr int CMD_USERS_PRIVATE = 6020;
constexpr int CMD_USERS_INFO = 6022;
constexpr int CMD_USERS_EXIT = 6024;
constexpr int CMD_USERS_REFRESH = 6026;

// One list line: a 49-byte name, "   ", up to 20 digits, " b" and the terminator.
constexpr int USER_LINE_UNITS = 80;

// Adds (present nonzero) or frees (present 0) the user with exactly this nick.
// A nick that is empty or longer than 49 bytes, or (when adding) a share text
// longer than 29 bytes, changes nothing: such a user is never cut to fit.
void update_user(const char* nick, const char* share, uint8_t present);
// One hub message beginning "$M" or "$Q", NUL-terminated without its '|';
// writes NULs into it. Only "$MyINFO $ALL " and "$Quit " messages are used.
void handle_user_message(char* message);
// Present slots first, by name (bytes compared unsigned), then the free ones.
void sort_users();
// Rebuilds the screen's list from the table, in slot order, and restores the
// selected position.
void fill_user_list(Window screen);
// The list line of one user: name, three blanks, the share in bytes, " b".
// Returns the units written, without the terminator.
int format_user_line(const UserEntry* user, char16_t* line, int units);
intptr_t users_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
