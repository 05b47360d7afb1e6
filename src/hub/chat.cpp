// Public chat and private messages.
//
// Reaches g_state: the nick, hub_socket, main_window, the ChatLog and the TrafficCounters.
#include "hub/chat.h"

#include <cstring>

#include "hub/connection.h"
#include "protocol/hub_messages.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

// ">nick " + the text typed, in the hub's encoding.
constexpr int SENT_PRIVATE_BYTES = 1 + HUB_NICK_BYTES + 2 + CHAT_INPUT_BYTES;

// A private message one sent, as the chat shows received ones: ">me> text"
// with the own nick as the speaker and the text as typed (the hub does not
// echo private messages).
void show_sent_private(const char* input) {
    int blank = find_char(input, ' ');  // one past the end when there is none
    int length = (int)strlen(input);
    const char* text = blank < length ? input + blank + 1 : "";
    char line[SENT_PRIVATE_BYTES];
    text_copy(line, SENT_PRIVATE_BYTES, ">");
    text_append(line, SENT_PRIVATE_BYTES, g_state.hub_nick);
    text_append(line, SENT_PRIVATE_BYTES, "> ");
    text_append(line, SENT_PRIVATE_BYTES, text);
    chatlog_append_line(line);
}

}  // namespace

void chat_send(const char* text) {
    char message[CHAT_MESSAGE_BYTES];
    int length = build_chat_message(text, g_state.hub_nick, message, CHAT_MESSAGE_BYTES);
    if (length <= 0 || length > CHAT_MESSAGE_MAX_BYTES || !hub_send(message, length)) return;
    if (text[0] == '>') {
        show_sent_private(text);
        repaint_request(g_state.main_window);
    }
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
