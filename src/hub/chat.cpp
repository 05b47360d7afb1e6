// Public chat and private messages.
//
// Reaches g_state: the nick, hub_socket, the ChatLog and the TrafficCounters.
#include "hub/chat.h"

#include <cstring>

#include "protocol/hub_messages.h"
#include "state/client_state.h"
#include "state/text_scan.h"

void chat_send(const char* text) {
    char message[CHAT_MESSAGE_BYTES];
    int length = build_chat_message(text, g_state.settings.nick, message, CHAT_MESSAGE_BYTES);
    if (length <= 0 || g_state.hub_socket <= 0) return;
    int sent = send_once(g_state.hub_socket, message, length);
    if (sent > 0) traffic_add_sent((uint32_t)sent);
}

int chat_take_public(char* message) { return chatlog_append_line(message); }

// The first '<' after the "$" opens the sender's chat line and becomes '>'.
// Without one, the line is the message's last character, shown only if it is '>'.
int chat_take_private(char* message) {
    int length = (int)strlen(message);
    int open = 1 + find_char(message + 1, '<');
    char* line = open < length ? message + open : message + length - 1;
    if (open < length) *line = '>';
    return *line == '>' ? chatlog_append_line(line) : 0;
}
