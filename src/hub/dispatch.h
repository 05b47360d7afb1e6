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

// What the socket layer says of the hub socket, as the main screen hands it
// over (it makes these of the platform's socket event message).
enum HubEventKind : uint8_t {
    HUB_EVENT_READABLE,  // data waits: one receive, dispatched
    HUB_EVENT_WRITABLE,  // the socket takes more: what was kept back goes out
    HUB_EVENT_URGENT,    // out-of-band data came: a notice in the chat
    HUB_EVENT_CLOSED,    // the hub closed, or the socket failed: error says which
};
struct HubEvent {
    HubEventKind kind;
    int error;  // HUB_EVENT_CLOSED: the socket's error, 0 when the hub closed in order
};

// One event of the hub socket. A close ends the connection as lost, its
// reason from the error. Asks for a repaint unless a read dispatched.
void hub_socket_event(HubEvent event);

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
