// Passive search.
//
// Data model: g_state.results[0 .. result_count-1] are the results of the last
// search in order of arrival; rows past the count are never read. A row is
// written once, whole, and only after its message has been checked, so a
// dropped message leaves no trace.
//
// Reaches g_state: the results and their count, search_phase, search_window, the nick,
// hub_socket, the TrafficCounters.
#include "hub/search.h"

#include "hub/connection.h"
#include "protocol/hub_messages.h"
#include "state/client_state.h"

void search_send(const char* words) {
    // Each row is written whole when it is taken, so the table is not cleared:
    // clearing it would touch all of its pages (about 100 KB) for every search.
    g_state.result_count = 0;
    g_state.search_phase = SEARCH_WAITING;
    char message[SEARCH_MESSAGE_BYTES];
    int length = build_search_message(g_state.hub_nick, words, message, SEARCH_MESSAGE_BYTES);
    if (length <= 0) return;
    // Not connected, the search goes nowhere and still counts as sent.
    if (!hub_send(message, length)) traffic_add_sent((uint32_t)length);
}

void search_result_take(char* message) {
    if (g_state.result_count >= RESULT_ROWS) return;  // full until the next search
    SearchResult row;
    if (!parse_search_fields(message, &row)) return;
    int r = g_state.result_count;
    g_state.results[r] = row;
    g_state.result_count = r + 1;
    if (g_state.search_window != 0) send_message(g_state.search_window, WM_RESULT_ADDED, (WPARAM)r, 0);
}
