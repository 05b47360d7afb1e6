// Whole-or-nothing appends into a caller's fixed buffer; see the header.
#include "protocol/message_builder.h"

#include <cstring>

MessageBuilder message_begin(char* buffer, int capacity) {
    MessageBuilder m = {buffer, capacity, 0, capacity < 1};
    if (capacity > 0) buffer[0] = '\0';
    return m;
}

void message_add_n(MessageBuilder* m, const char* text, int n) {
    int len = 0;
    while (len < n && text[len] != '\0') len++;
    // Room for the piece and the NUL after it.
    if (m->overflow || len > m->capacity - 1 - m->length) {
        m->overflow = true;
        return;
    }
    memcpy(m->data + m->length, text, (size_t)len);
    m->length += len;
    m->data[m->length] = '\0';
}

void message_add(MessageBuilder* m, const char* text) {
    message_add_n(m, text, (int)strlen(text));
}

void message_add_repeat(MessageBuilder* m, char ch, int count) {
    if (count < 0) count = 0;
    if (m->overflow || count > m->capacity - 1 - m->length) {
        m->overflow = true;
        return;
    }
    memset(m->data + m->length, ch, (size_t)count);
    m->length += count;
    m->data[m->length] = '\0';
}
