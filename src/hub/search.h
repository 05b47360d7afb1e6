// Passive search: the $Search message, the $SR parser and the results screen.
//
// A search asks the hub to relay the answers ("Hub:" + own nick), since the
// client never accepts connections. Each relayed $SR becomes the next row of
// g_state.results; the results screen's list position always equals the row
// number (rows are appended in order and only a new search removes them).
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "state/client_state.h"

// Resources of the results screen.
constexpr int SEARCH_TEMPLATE_ID = 1003;
constexpr int SEARCH_MENUBAR_ID = 2003;
constexpr int SEARCH_EDIT_ID = 4007;
constexpr int SEARCH_LIST_ID = 4008;

constexpr int SEARCH_CMD_DOWNLOAD = 6005;
constexpr int SEARCH_CMD_SEARCH = 6013;
constexpr int SEARCH_CMD_CANCEL = 6014;  // in the menu, deliberately without an action
constexpr int SEARCH_CMD_EXIT = 6016;    // "Exit search" and "Ok"
constexpr int SEARCH_CMD_INFO = 6017;
constexpr int SEARCH_CMD_SHORT = 6018;
constexpr int SEARCH_CMD_FULL = 6019;

// The search field is read as at most 199 UTF-16 units; each becomes one byte
// of code page 1251, so the words never exceed 199 bytes.
constexpr int SEARCH_TEXT_UNITS = 200;
// "$Search Hub:" (12) + nick (999) + " F?T?0?1?" (9) + words (199) + "|" + NUL.
constexpr int SEARCH_MESSAGE_BYTES = 12 + (NICK_BYTES - 1) + 9 + (SEARCH_TEXT_UNITS - 1) + 1 + 1;
// One list entry or the "Info" text, in UTF-16 units with the terminator.
constexpr int RESULT_TEXT_UNITS = 550;

// Builds "$Search Hub:<nick> F?T?0?1?<words>|" into out, with every blank of
// the words sent as '$'. Returns the message's length, or 0 (out empty) when
// it would not fit in out_bytes with its terminator: a cut message would lose
// its closing '|'.
int build_search_message(const char* nick, const char* words, char* out, int out_bytes);

// Reads one $SR message (NUL-terminated, its '|' removed) into *out. Writes
// NULs into the message. Returns 1 for a result that fits its fields, 0 for a
// message that is dropped (malformed or a field too long); *out is then
// unspecified. Reads nothing past the message's NUL.
int parse_search_fields(char* message, SearchResult* out);

// The Search command: clears the results and the list, sends the search on
// the HubSocket, adds its length to the bytes sent, empties the search field.
void send_search(Window screen);
// One hub message beginning "$SR": stored as the next row, and listed at once
// while the results screen is open. Dropped when all rows are in use.
void parse_search_result(char* message);
// Rebuilds the list from the table, keeping the selected position.
void fill_result_list(Window screen);
// The row of the list's selected entry, or -1 when nothing is selected (or the
// position holds no row, which the list-equals-table rule rules out).
int search_selected_row(Window screen);
// The results screen. g_state.search_window is the open screen, and 0 once it
// has closed, so that results arriving later are stored but not listed.
intptr_t search_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
