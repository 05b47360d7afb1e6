// Hub traffic after the login.
//
// One read event makes one receive of at most HUB_RECEIVE_BYTES, placed after
// the kept tail of the previous receive. The dispatcher cuts the data into
// '|'-terminated messages in place and routes each by its first characters
// through HubRoutes; only chat lines reach the ChatLog. The screen is asked to
// repaint once, at the end, and only when a chat line was appended (or for
// the notices and short reads).
//
// Every receive is untrusted: a message holding a NUL byte is dropped whole
// (the walk goes on after its '|'), a tail too long to keep is dropped whole,
// and each handler gets one NUL-terminated message inside the data buffer.
#include "hub/dispatch.h"

#include <cstring>

#include "hub/search.h"
#include "hub/users.h"
#include "state/message_builder.h"
#include "state/text_scan.h"
#include "transfer/download.h"

namespace {

// A route takes one message, NUL-terminated in place of its '|', and returns 1
// when it appended a chat line.
typedef int (*HubRouteHandler)(char* message);

struct HubRoute {
    const char* prefix;  // compared byte by byte; only these characters count
    HubRouteHandler handler;
};

int route_user(char* message) {
    handle_user_message(message);
    return 0;
}

int route_download(char* message) {
    start_download_worker(message);
    return 0;
}

int route_search(char* message) {
    parse_search_result(message);
    return 0;
}

int route_chat(char* message) {
    return chat_append(message);
}

// "$To: me From: bob $<bob> hi": the first '<' after the "$" opens the
// sender's chat line and becomes '>', so the log shows ">bob> hi". Without
// one, the line is the message's last character, shown only if it is '>'.
int route_private(char* message) {
    int length = (int)strlen(message);
    int open = 1 + find_char(message + 1, '<');
    char* line = open < length ? message + open : message + length - 1;
    if (open < length) *line = '>';
    return *line == '>' ? chat_append(line) : 0;
}

// Tried in order; the first prefix that matches takes the message. "$S"
// followed by anything but "R" (other users' searches) matches nothing.
const HubRoute HUB_ROUTES[] = {
    {"$Q", route_user},   {"$M", route_user},     {"$C", route_download}, {"$SR", route_search},
    {"$T", route_private}, {"<", route_chat},     {">", route_chat},
};

int route_hub_message(char* message) {
    for (const HubRoute& route : HUB_ROUTES) {
        if (is_prefix(route.prefix, message)) return route.handler(message);
    }
    return 0;  // greeting, hub name, lock, nick lists, searches: ignored
}

// Index of the first '|' in text[from, length), NUL bytes included; length when none.
int next_bar(const char* text, int from, int length) {
    while (from < length && text[from] != '|') from++;
    return from;
}

// One receive into the buffer after the kept tail, counted and dispatched.
// False for a short read (error, close, nothing waiting).
bool hub_read() {
    // Reaches g_state: hub_socket, main_window, the TrafficCounters, the tail.
    char data[HUB_DATA_BYTES];
    int kept = hub_tail_restore(data);
    if (g_state.hub_socket <= 0) return false;
    int got = recv_once(g_state.hub_socket, data + kept, HUB_RECEIVE_BYTES);
    if (got < 1) return false;
    traffic_add_received((uint32_t)got);
    data[kept + got] = '\0';
    if (dispatch_hub_data(data, kept + got)) repaint_request(g_state.main_window);
    return true;
}

}  // namespace

intptr_t hub_socket_event(WPARAM, LPARAM lparam) {
    // The socket in wparam and the error in the high word are not used: the
    // hub socket is the only one registered for this message.
    switch (low_word((uintptr_t)lparam)) {
        case FD_READ:
            if (hub_read()) return TRUE;
            break;
        case FD_OOB:
            chatlog_append(u" OOB ");
            break;
        case FD_CLOSE:
            // The socket stays as it is until the next Connect, Disconnect or exit.
            chatlog_append(u" SERVER CLOSE CONNECTION ");
            break;
        default:
            break;
    }
    repaint_request(g_state.main_window);
    return TRUE;
}

int hub_tail_restore(char* buffer) {
    int kept = g_state.hub_tail_len;
    if (kept <= 0) return 0;
    memcpy(buffer, g_state.hub_tail, (size_t)kept);
    return kept;
}

void hub_tail_keep(const char* rest, int length) {
    if (length <= 0) {
        g_state.hub_tail_len = 0;
    } else if (length > HUB_TAIL_BYTES - 1 || memchr(rest, '\0', (size_t)length) != nullptr) {
        g_state.hub_tail_len = HUB_TAIL_DROPPING;
    } else {
        memcpy(g_state.hub_tail, rest, (size_t)length);
        g_state.hub_tail[length] = '\0';
        g_state.hub_tail_len = length;
    }
}

int dispatch_hub_data(char* text, int length) {
    // Reaches g_state: the receive tail; the routes reach the ChatLog and tables.
    int p = 0;
    if (g_state.hub_tail_len == HUB_TAIL_DROPPING) {
        p = next_bar(text, 0, length);
        if (p == length) return 0;  // still inside the dropped message
        p++;
    }
    g_state.hub_tail_len = 0;
    int appended = 0;
    while (p < length) {
        int end = p + find_bar(text + p);
        if (text[end] == '|') {
            text[end] = '\0';
            if (route_hub_message(text + p)) appended = 1;
            p = end + 1;
        } else if (end >= length) {
            hub_tail_keep(text + p, length - p);
            break;
        } else {
            // A NUL inside the message: drop it whole, up to its '|'.
            int bar = next_bar(text, end, length);
            if (bar == length) {
                g_state.hub_tail_len = HUB_TAIL_DROPPING;
                break;
            }
            p = bar + 1;
        }
    }
    return appended;
}

int build_chat_message(const char* input_1251, const char* own_nick, char* out, int out_bytes) {
    MessageBuilder m = message_begin(out, out_bytes);
    const char* text = input_1251;
    int blanks = 0;
    if (input_1251[0] == '>') {
        // The addressee runs up to the first blank (find_char: or one past the end).
        int k = find_char(input_1251, ' ');
        char target[TARGET_NICK_BYTES];
        memset(target, 0, sizeof target);
        text_copy_n(target, TARGET_NICK_BYTES, input_1251 + 1, k - 1);  // cut to 49
        message_add(&m, "$To: ");
        message_add(&m, target);
        message_add(&m, " From: ");
        message_add(&m, own_nick);
        message_add(&m, " $");
        // The '>' and the addressee become blanks; the terminator is kept.
        int length = (int)strlen(input_1251);
        blanks = k < length ? k : length;
        text = input_1251 + blanks;
    }
    message_add(&m, "<");
    message_add(&m, own_nick);
    message_add(&m, "> ");
    message_add_repeat(&m, ' ', blanks);
    message_add(&m, text);
    message_add(&m, " |");
    if (m.overflow) {
        if (out_bytes > 0) out[0] = '\0';
        return -1;
    }
    return m.length;
}

intptr_t send_chat_line() {
    // Reaches g_state: main_window (its input line), the nick, hub_socket, the
    // TrafficCounters.
    char16_t input[CHAT_INPUT_UNITS];
    control_get_text(g_state.main_window, INPUT_LINE_ID, input, CHAT_INPUT_UNITS);
    char text[CHAT_INPUT_BYTES];
    utf16_to_cp1251(input, -1, text, CHAT_INPUT_BYTES);
    char message[CHAT_MESSAGE_BYTES];
    int length = build_chat_message(text, g_state.settings.nick, message, CHAT_MESSAGE_BYTES);
    // A failed send is not reported: the hub echoes public chat, so a line
    // that does not come back was not sent. Only bytes the socket took count.
    if (length > 0 && g_state.hub_socket > 0) {
        int sent = send_once(g_state.hub_socket, message, length);
        if (sent > 0) traffic_add_sent((uint32_t)sent);
    }
    control_set_text(g_state.main_window, INPUT_LINE_ID, u"");
    return TRUE;
}
