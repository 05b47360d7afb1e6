// Public chat and private messages.
//
// Reaches g_state: the nick, hub_socket, the ChatLog and the TrafficCounters.
#include "hub/chat.h"

#include <cstring>

#include "hub/connection.h"
#include "protocol/hub_messages.h"
#include "state/client_state.h"
#include "state/text_scan.h"

void chat_send(const char* text) {
    char message[CHAT_MESSAGE_BYTES];
    int length = build_chat_message(text, g_state.hub_nick, message, CHAT_MESSAGE_BYTES);
    if (length > 0 && length <= CHAT_MESSAGE_MAX_BYTES) hub_send(message, length);
}

int chat_message_length(const char* text) {
    char message[CHAT_MESSAGE_BYTES];
    return build_chat_message(text, g_state.hub_nick, message, CHAT_MESSAGE_BYTES);
}

int chat_take_public(char* message) {
    nmdc_unescape(message);
    return chatlog_append_line(message);
}

// The first '<' after the "$" opens the sender's chat line and becomes '>'.
// Without one, the line is the message's last character, shown only if it is '>'.
int chat_take_private(char* message) {
    int length = (int)strlen(message);
    int open = 1 + find_char(message + 1, '<');
    char* line = open < length ? message + open : message + length - 1;
    if (open < length) *line = '>';
    if (*line != '>') return 0;
    nmdc_unescape(line);
    return chatlog_append_line(line);
}
