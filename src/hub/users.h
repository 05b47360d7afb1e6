// The hub's users: the UserTable, fed by $MyINFO and $Quit.
#pragma once

#include <cstdint>

#include "state/client_state.h"

// Adds (present nonzero) or frees (present 0) the user with exactly this nick.
// A nick that is empty or longer than 49 bytes, or (when adding) a share text
// longer than 29 bytes, changes nothing: such a user is never cut to fit.
void update_user(const char* nick, const char* share, uint8_t present);
// The fields of a user's info text (UserEntry::info), in its order.
enum UserInfoField : int {
    USER_INFO_CONNECTION = 0,
    USER_INFO_EMAIL,
    USER_INFO_TAG,
    USER_INFO_DESCRIPTION,
};
// Copies one field of the user's info (1251; empty when the text was cut
// before it) into out, cut to out_bytes; returns its length.
int user_info_field(const UserEntry* user, int field, char* out, int out_bytes);
// One hub message beginning "$M" or "$Q", NUL-terminated without its '|';
// writes NULs into it. Only "$MyINFO $ALL " and "$Quit " messages are used.
void handle_user_message(char* message);
// Present slots first, by name (bytes compared unsigned), then the free ones.
void sort_users();
// The slot of the present user with exactly this nick, or -1; found through
// the index, not by a walk over the table.
int find_user(const char* nick);
// Makes the index anew from the table's slots, for code that wrote slots
// directly (the sort does, and tests that lay out a table).
void user_index_rebuild();
