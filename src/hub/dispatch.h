// The hub's traffic after the login: the socket event message, the message
// dispatcher, and the chat in both directions.
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

constexpr int CHAT_INPUT_UNITS = 1000;  // the input line as read from the screen
constexpr int CHAT_INPUT_BYTES = 1000;  // the input line in code page 1251
constexpr int TARGET_NICK_BYTES = 50;   // a private message's addressee; longer nicks are cut to 49
constexpr int INPUT_LINE_ID = 4001;     // the main screen's input line
// The largest chat message: "$To: " target " From: " nick " $<" nick "> " text " |".
constexpr int CHAT_MESSAGE_BYTES =
    5 + (TARGET_NICK_BYTES - 1) + 7 + (NICK_BYTES - 1) + 3 + (NICK_BYTES - 1) + 2 + (CHAT_INPUT_BYTES - 1) + 2 + 1;

// The socket event message (1025) of the hub socket; the main screen calls it.
// Low word of lparam: FD_READ makes one receive and dispatches it, FD_OOB and
// FD_CLOSE append their notices. Always TRUE.
intptr_t hub_socket_event(WPARAM wparam, LPARAM lparam);

// Copies the kept tail to the front of buffer (HUB_DATA_BYTES); returns its length.
int hub_tail_restore(char* buffer);
// Keeps rest (length bytes, no '|' in them) as the tail, or drops it whole.
void hub_tail_keep(const char* rest, int length);

// Routes every '|'-terminated message of text[0, length) (NUL at text[length],
// kept tail already in front) and keeps the unterminated end as the new tail.
// Cuts the text in place. Returns 1 when a chat line was appended, else 0.
int dispatch_hub_data(char* text, int length);

// Command 1: sends the main screen's input line to the hub as a public chat
// line, or as a private message when it starts with '>'; clears the line.
intptr_t send_chat_line();

// The outgoing message for an input line: "<nick> text |", or for ">bob text"
// "$To: bob From: nick $<nick> " + the text with ">bob" blanked + " |".
// Returns its length, or -1 (out emptied) when it does not fit in out_bytes.
int build_chat_message(const char* input_1251, const char* own_nick, char* out, int out_bytes);
