// The Users screen: the hub's users by name, and the commands that address
// one of them in the main screen's input line.
#pragma once

#include "platform/platform.h"
#include "state/client_state.h"

// One list line: a 49-byte name, "   ", the share (BYTE_SIZE_UNITS) and the terminator.
constexpr int USER_LINE_UNITS = 80;

// Rebuilds the screen's list from the table, in slot order, and restores the
// selected position.
void fill_user_list(Window screen);
// The list line of one user: name, three blanks, the share as byte_size_text
// writes it ("3.0 TiB").
// Returns the units written, without the terminator.
int format_user_line(const UserEntry* user, char16_t* line, int units);
intptr_t users_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
