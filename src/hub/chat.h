// Public chat and private messages, in both directions.
#pragma once

enum ChatSendResult {
    CHAT_SENT = 0,     // the socket took the message (or keeps it to send)
    CHAT_NOT_SENT,     // no connection, a failed socket, or too long
    CHAT_NOT_PRESENT,  // a private message to a nick the user list does not hold
};

// Sends one line the person typed (1251) to the hub: a public chat line, or a
// private message when it starts with '>' (hub_messages.h gives the forms).
// A failed send is not reported: the hub echoes public chat, so a line that
// does not come back was not sent. Only bytes the socket took count. A
// private message the socket took (or kept to send) is shown at once as
// "[to bob] <own nick> text" in the main chat and in the conversation with
// bob, since the hub does not echo it. One to a nick that is not in the user
// list is not sent while connected: "bob is not on the hub: not sent" says
// so instead. A message longer than CHAT_MESSAGE_MAX_BYTES is not sent (the
// input line never holds one: see chat_message_length).
ChatSendResult chat_send(const char* text);
// The bytes chat_send would send for text (hub encoding, NUL-terminated):
// the whole message with the own nick and escapes; -1 when it cannot be built.
int chat_message_length(const char* text);

// A hub message beginning '<' or '>' (NUL-terminated in place of its '|'):
// appended to the ChatLog as it stands. Returns 1.
int chat_take_public(char* message);
// A "$To: " message: "$To: me From: bob $<bob> hi" shows as ">bob> hi", in
// the main chat and in the conversation with bob (started when there is
// none), where it counts as unread until that conversation is on screen.
// Returns 1 when a line was appended.
int chat_take_private(char* message);
