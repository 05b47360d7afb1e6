// Passive search: the $Search the client sends and the $SR results the hub
// relays back.
//
// A search asks the hub to relay the answers ("Hub:" + own nick), since the
// client never accepts connections. Each relayed $SR becomes the next row of
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
// One hub message beginning "$SR": stored as the next row, and sent to the
// results screen while one is open. Dropped when all rows are in use.
void search_result_take(char* message);
