// The hub's users: the UserTable, fed by $MyINFO and $Quit.
#pragma once

#include <cstdint>

// Adds (present nonzero) or frees (present 0) the user with exactly this nick.
// A nick that is empty or longer than 49 bytes, or (when adding) a share text
// longer than 29 bytes, changes nothing: such a user is never cut to fit.
void update_user(const char* nick, const char* share, uint8_t present);
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
