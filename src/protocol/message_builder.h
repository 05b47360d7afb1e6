// An outgoing protocol message assembled in one fixed 8-bit buffer.
//
// Every outgoing message is a run of fixed texts and settings fields appended
// into a buffer owned by the caller and handed to one send. The builder keeps
// the text NUL-terminated at all times and never writes past `capacity`
// (which counts the NUL). A piece that does not fit whole is not added at all
// and marks the message as overflowed: such a message is refused by its
// sender, never sent cut.
#pragma once

struct MessageBuilder {
    char* data;
    int capacity;  // bytes, including the NUL
    int length;    // bytes held, without the NUL
    bool overflow;
};

MessageBuilder message_begin(char* buffer, int capacity);
void message_add(MessageBuilder* m, const char* text);
// At most n bytes of text (fewer when its NUL comes first).
void message_add_n(MessageBuilder* m, const char* text, int n);
void message_add_repeat(MessageBuilder* m, char ch, int count);
// The message's length; or, when it overflowed, -1 with the buffer emptied,
// so a message that does not fit is never sent cut.
int message_finish(MessageBuilder* m);
