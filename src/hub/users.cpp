// Placeholder until the user table lands: messages are ignored.
#include "hub/users.h"

void update_user(const char*, const char*, uint8_t) {}
void handle_user_message(char*) {}
void sort_users() {}
void fill_user_list(Window) {}
intptr_t users_screen_proc(Window, uint32_t, WPARAM, LPARAM) { return FALSE; }
