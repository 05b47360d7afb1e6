// Whole-or-nothing appends into a caller's fixed buffer; see the header.
#include "protocol/message_builder.h"

#include <cstring>

MessageBuilder message_begin(char* buffer, int capacity) {
    MessageBuilder m = {buffer, capacity, 0, capacity < 1};
    if (capacity > 0) buffer[0] = '\0';
    return m;
}

namespace {
// Room for a piece of len bytes and the NUL after it; marks the overflow when
// there is none.
bool room_for(MessageBuilder* m, int len) {
    if (m->overflow || len > m->capacity - 1 - m->length) m->overflow = true;
    return !m->overflow;
}
}  // namespace

void message_add_n(MessageBuilder* m, const char* text, int n) {
    int len = 0;
    while (len < n && text[len] != '\0') len++;
    if (!room_for(m, len)) return;
    memcpy(m->data + m->length, text, (size_t)len);
    m->length += len;
    m->data[m->length] = '\0';
}

void message_add(MessageBuilder* m, const char* text) {
    message_add_n(m, text, (int)strlen(text));
}

void message_add_repeat(MessageBuilder* m, char ch, int count) {
    if (count < 0) count = 0;
    if (!room_for(m, count)) return;
    memset(m->data + m->length, ch, (size_t)count);
    m->length += count;
    m->data[m->length] = '\0';
}

int message_finish(MessageBuilder* m) {
    if (!m->overflow) return m->length;
    if (m->capacity > 0) m->data[0] = '\0';
    return -1;
}
