// Search: the $Search the client sends and the $SR results that come back.
//
// Passive, a search asks the hub to relay the answers ("Hub:" + own nick);
// active, it names Kivo's UDP port ("<ip>:<port>"), and peers send their
// answers there as datagrams (the hub still relays those of passive peers).
// Each $SR, through the hub or a datagram, becomes the next row of
// g_state.results (rows are appended in order and only a new search removes
// them), and the open results screen is told of it at once.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Sent (not posted) to the open results screen for each row stored, with the
// row number in wparam: the screen lists the row before the next one comes.
// A message of the program's own, above the platform's numbers.
constexpr uint32_t WM_RESULT_ADDED = 0x8001;

// Starts a new search for words (1251): empties the results (result_count 0,
// search_phase waiting), sends the $Search on the HubSocket and adds its
// length to the bytes sent.
// Not connected, the search goes nowhere, in silence, and still counts.
void search_send(const char* words);
// One hub message beginning "$SR": stored as the next row, entered in the
// ResultView (a new entry, or one more source of the entry with its TTH),
// and sent to the results screen while one is open. Dropped when all rows
// are in use.
void search_result_take(char* message);

// Datagrams are taken for a while after a search, and only so many of them:
// anyone can send them, and none is wanted without a search.
constexpr uint64_t SEARCH_UDP_WINDOW_MS = 60000;
constexpr uint32_t SEARCH_UDP_RESULTS = 1000;
// One datagram that came to the UDP port (length bytes, not terminated; the
// buffer has room for one more byte): a "$SR ...|" taken as one from the
// hub, while a search is recent and it has not had its count, when its path
// names every word of that search (letters in either case). Anything else
// is dropped.
void search_take_datagram(char* datagram, int length);

// Makes the ResultView anew from the stored rows, in its order, for code
// that wrote rows directly (tests that lay out a table).
void result_view_rebuild();
// Puts the ResultView in the order (a ResultSort), which later results keep.
void result_view_sort(uint8_t sort);
// Whether result rows a and b are sources of one file: both carry the same
// TTH and size (rows without a TTH stand alone).
bool results_same_file(int a, int b);
// The list position of the entry that holds result row `row`, or -1.
int result_view_position(int row);
// Of the entry at list position p, the row that a download takes: the
// source with the most free slots (unknown slots count as none), the
// earliest on a tie. -1 for a position outside the view.
int result_best_source(int position);
