// The private conversations (g_state.private_chats): one per nick that sent
// or was sent a private message, each with its last lines, as the main chat
// shows them, and a count of the lines received while it was not on screen.
// UI thread only.
#pragma once

#include "platform/platform.h"

// The slot of the conversation with exactly this nick (hub encoding), or -1.
int private_chat_find(const char* nick);
// The slot of the conversation with nick, started when there is none, in a
// free slot or else in place of the one least recently used among those
// with nothing unread (all unread: the least recently used of all; the main
// chat still has their lines). The conversation on screen is never taken.
// -1 for an empty nick or one longer than a user's name.
int private_chat_start(const char* nick);
// Appends a line of the hub's text (converted, cut to CHAT_LINE_UNITS - 1
// units) and the line break to a conversation. A received line counts as
// unread unless that conversation's screen is open. The main screen (its
// title) and the Private screens showing it are asked to repaint.
void private_chat_add_line(int slot, const char* line, bool received);
// The same for a note of the client's own (UTF-16): never unread.
void private_chat_add_note(int slot, const char16_t* note);
// The conversation was read: its screen opened, or shows it now.
void private_chat_read(int slot);
// How many conversations have unread lines; *latest (when given) gets the
// most recently used of them, -1 when none.
int private_chats_unread(int* latest);
// The conversations' slots, most recently used first, into slots
// (PRIVATE_CHATS entries); returns how many there are.
int private_chats_by_use(int* slots);
