// The hub's users: the UserTable fed by $MyINFO and $Quit, and the Users screen.
#pragma once

#include "platform/platform.h"

// Adds (present nonzero) or frees (present 0) the user with exactly this nick.
void update_user(const char* nick, const char* share, uint8_t present);
// One hub message beginning "$M" or "$Q", NUL-terminated without its '|';
// writes NULs into it.
void handle_user_message(char* message);
void sort_users();
void fill_user_list(Window screen);
intptr_t users_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
