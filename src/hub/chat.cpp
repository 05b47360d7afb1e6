// Public chat and private messages.
//
// Every private message, received or sent, keeps its line in the main chat
// and in the conversation with its sender or addressee (hub/private_chats.h).
//
// Reaches g_state: the nick, hub_socket, main_window, the UserTable (through
// its index), the ChatLog, the private conversations and the TrafficCounters.
#include "hub/chat.h"

#include <cstring>

#include "hub/connection.h"
#include "hub/private_chats.h"
#include "hub/users.h"
#include "protocol/hub_messages.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

// "[to " + addressee + "] <" + own nick + "> " + the text typed, in the hub's encoding.
constexpr int SENT_PRIVATE_BYTES = 4 + TARGET_NICK_BYTES + 3 + HUB_NICK_BYTES + 2 + CHAT_INPUT_BYTES;
// "<nick> is not on the hub: not sent"
constexpr int ABSENT_NOTE_UNITS = TARGET_NICK_BYTES + 40;

// A private message one sent, shown (the hub does not echo it) with its
// addressee and the own nick as the speaker and the text as typed:
// "[to bob] <me> text", in the main chat and in the conversation with bob.
void show_sent_private(const char* input, const char* target) {
    int blank = find_char(input, ' ');  // one past the end when there is none
    int length = (int)strlen(input);
    const char* text = blank < length ? input + blank + 1 : "";
    char line[SENT_PRIVATE_BYTES];
    text_copy(line, SENT_PRIVATE_BYTES, "[to ");
    text_append(line, SENT_PRIVATE_BYTES, target);
    text_append(line, SENT_PRIVATE_BYTES, "] <");
    text_append(line, SENT_PRIVATE_BYTES, g_state.hub_nick);
    text_append(line, SENT_PRIVATE_BYTES, "> ");
    text_append(line, SENT_PRIVATE_BYTES, text);
    chatlog_append_line(line);
    private_chat_add_line(private_chat_start(target), line, false);
}

// A private message to somebody the UserTable does not hold is not sent:
// the hub would drop it without a word. Said in the main chat, and in the
// conversation when there is one.
void refuse_absent(const char* target) {
    char16_t nick[TARGET_NICK_BYTES];
    hub_text_to_utf16(target, -1, nick, TARGET_NICK_BYTES);
    char16_t note[ABSENT_NOTE_UNITS];
    wide_format(note, ABSENT_NOTE_UNITS, u"%s is not on the hub: not sent", nick);
    chatlog_append_note(note);
    private_chat_add_note(private_chat_find(target), note);
}

}  // namespace

ChatSendResult chat_send(const char* text) {
    char message[CHAT_MESSAGE_BYTES];
    int length = build_chat_message(text, g_state.hub_nick, message, CHAT_MESSAGE_BYTES);
    if (length <= 0 || length > CHAT_MESSAGE_MAX_BYTES) return CHAT_NOT_SENT;
    char target[TARGET_NICK_BYTES];
    bool to_one = text[0] == '>';
    private_target(text, target);
    // Without a connection nothing is sent and the user list is empty: the
    // send below fails as it always has, silently (see chat.h).
    if (to_one && g_state.hub_socket > 0 && find_user(target) < 0) {
        refuse_absent(target);
        return CHAT_NOT_PRESENT;
    }
    if (!hub_send(message, length)) return CHAT_NOT_SENT;
    if (to_one) show_sent_private(text, target);
    return CHAT_SENT;
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
// Without one, the line is the message's last character, shown only if it is
// '>'. The line goes to the conversation with the nick after "From: " too.
int chat_take_private(char* message) {
    char sender[USER_NAME_BYTES];
    private_sender(message, sender, USER_NAME_BYTES);
    int length = (int)strlen(message);
    int open = 1 + find_char(message + 1, '<');
    char* line = open < length ? message + open : message + length - 1;
    if (open < length) *line = '>';
    if (*line != '>') return 0;
    nmdc_unescape(line);
    private_chat_add_line(private_chat_start(sender), line, true);
    return chatlog_append_line(line);
}
