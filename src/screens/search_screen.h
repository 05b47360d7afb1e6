// The results screen: the search field, the list of results and the
// commands on them (Info, Short, Full, Download).
//
// The list holds one entry per ResultView position, at that position:
// rebuilt whole on opening, "Short", "Full", a sort, a new width and when
// an arrival changes entries already listed; an arrival that only adds an
// entry at the end is appended. g_state.search_window is the open screen,
// and 0 once it has closed, so that results arriving later are stored but
// not listed.
#pragma once

#include "platform/platform.h"

// One list entry or the "Info" text, in UTF-16 units with the terminator.
constexpr int RESULT_TEXT_UNITS = 550;
// How long "searching..." waits for a first result before saying "no
// results": the screen's timer (WM_TIMER with SEARCH_WAIT_TIMER), running
// from the send while the screen is open.
constexpr int SEARCH_WAIT_MS = 10000;
constexpr uint32_t SEARCH_WAIT_TIMER = 2;

// The Search command: empties the list, sends the words of the search field
// (hub/search.h), which stay in it, and says "searching..." until results or
// the end of the wait.
void search_screen_send(Window screen);
// Rebuilds the list from the ResultView, keeping the selected entry selected
// (at its position in the view, which a sort may have changed).
void fill_result_list(Window screen);
// The result row that leads the list's selected entry as it was listed, or
// -1 when nothing is selected.
int search_selected_row(Window screen);
intptr_t search_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
