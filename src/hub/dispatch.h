// The hub's traffic after the login: the socket event message and the
// message dispatcher.
//
// Receive tail: the '|'-less end of one receive is kept in g_state.hub_tail
// (g_state.hub_tail_len bytes, NUL-terminated) and put in front of the next
// receive, so a message split across receives is dispatched whole. A tail of
// HUB_TAIL_BYTES or more, or one holding a NUL byte, cannot be kept: its
// message is dropped whole, hub_tail_len is then HUB_TAIL_DROPPING and the
// next receives are skipped up to and including the '|' that ends it.
#pragma once

#include "platform/platform.h"
#include "state/client_state.h"

constexpr int HUB_RECEIVE_BYTES = 2000;  // one receive of hub data
// The kept tail, one receive and the NUL after them.
constexpr int HUB_DATA_BYTES = (HUB_TAIL_BYTES - 1) + HUB_RECEIVE_BYTES + 1;
constexpr int32_t HUB_TAIL_DROPPING = -1;

// The socket event message (1025) of the hub socket; the main screen calls it.
// Low word of lparam: FD_READ makes one receive and dispatches it, FD_OOB
// appends its notice, FD_CLOSE ends the connection as lost (the reason from
// the error in the high word). Always TRUE.
intptr_t hub_socket_event(WPARAM wparam, LPARAM lparam);

// Copies the kept tail to the front of buffer (HUB_DATA_BYTES); returns its length.
int hub_tail_restore(char* buffer);
// Keeps rest (length bytes, no '|' in them) as the tail, or drops it whole.
void hub_tail_keep(const char* rest, int length);

// Routes every '|'-terminated message of text[0, length) (NUL at text[length],
// kept tail already in front) and keeps the unterminated end as the new tail.
// A message that closes the connection ends the walk: the rest is dropped,
// no tail kept. Cuts the text in place. Returns 1 when the main screen shows something new
// (a chat line appended, the hub's name or its user count changed), else 0.
int dispatch_hub_data(char* text, int length);
