// Hub traffic after the login.
//
// One read event makes one receive of at most HUB_RECEIVE_BYTES, placed after
// the kept tail of the previous receive. The dispatcher cuts the data into
// '|'-terminated messages in place and routes each by its first characters
// through HubRoutes; only chat lines reach the ChatLog. The screen is asked to
// repaint once, at the end, and only when what it shows changed: a chat line
// appended, the hub's name or its user count (the title) (or for the notices
// and short reads). A burst of $MyINFO costs one repaint per receive.
//
// A message that ends the connection ends the dispatch: nothing after it
// in the same receive is handled.
//
// A hub whose encoding is Auto is read in its legacy code page until a
// message comes that is UTF-8 holding more than ASCII: from that message on
// (it included, since the check comes before any handler converts it) the
// hub is read and written as UTF-8, and a note says so, once. Text in code
// page 1251 or 1252 is hardly ever UTF-8 as well: their letters beyond ASCII
// are not followed by the continuation bytes UTF-8 needs.
//
// Every receive is untrusted: a message holding a NUL byte is dropped whole
// (the walk goes on after its '|'), a tail too long to keep is dropped whole,
// and each handler gets one NUL-terminated message inside the data buffer.
//
// Reaches g_state: hub_socket, the receive tail, main_window, hub_name, the
// hub's encoding and its watch, the TrafficCounters; its routes reach the
// ChatLog, the UserTable, the results and the DownloadJob.
#include "hub/dispatch.h"

#include <cstring>

#include "hub/active_mode.h"
#include "hub/chat.h"
#include "hub/connection.h"
#include "hub/queue.h"
#include "transfer/download.h"
#include "hub/search.h"
#include "hub/users.h"
#include "protocol/hub_messages.h"
#include "state/text_scan.h"

namespace {

// A route takes one message, NUL-terminated in place of its '|', and returns 1
// when the main screen shows something new: a chat line, or a changed title.
typedef int (*HubRouteHandler)(char* message);

struct HubRoute {
    const char* prefix;  // compared byte by byte; only these characters count
    HubRouteHandler handler;
};

int route_user(char* message) {
    int32_t before = g_state.user_count;
    handle_user_message(message);
    return g_state.user_count != before ? 1 : 0;
}

// "$HubName <name>": the name the title shows, whole each time it comes (hubs
// send it again, some with the topic appended). Kept in UTF-16, cut to
// HUB_NAME_UNITS - 1 units, never within a character.
int route_hub_name(char* message) {
    constexpr int COMMAND_BYTES = 8;  // "$HubName"
    char* name = message + COMMAND_BYTES;
    if (*name == ' ') name++;
    nmdc_unescape(name);
    hub_text_to_utf16(name, -1, g_state.hub_name, HUB_NAME_UNITS);
    return 1;
}

int route_download(char* message) {
    download_take_connect(message);
    if (g_state.progress_window != 0) post_message(g_state.progress_window, WM_DOWNLOAD_CHANGED, 0, 0);
    return 0;
}

int route_search(char* message) {
    search_result_take(message);
    return 0;
}

// Tried in order; the first prefix that matches takes the message. "$S"
// followed by anything but "R" (other users' searches) matches nothing.
const HubRoute HUB_ROUTES[] = {
    {"$Q", route_user},
    {"$M", route_user},
    {"$C", route_download},
    {"$SR", route_search},
    {"$T", chat_take_private},
    {"<", chat_take_public},
    {">", chat_take_public},
    {"$GetPass", hub_take_get_pass},
    {"$BadPass", hub_take_bad_pass},
    {"$ValidateDenide", hub_take_validate_denide},
    {"$HubIsFull", hub_take_hub_is_full},
    {"$ForceMove", hub_take_force_move},
    {"$HubName", route_hub_name},
    {"$UserIP ", hub_take_user_ip},
};

int route_hub_message(char* message) {
    for (const HubRoute& route : HUB_ROUTES) {
        if (is_prefix(route.prefix, message)) return route.handler(message);
    }
    return 0;  // greeting, lock, nick lists, searches: ignored
}

// Auto's watch over one message (length bytes, before it is unescaped or
// converted). Returns 1 when it switched the hub to UTF-8 (a note shown).
int watch_for_utf8(const char* message, int length) {
    if (g_state.hub_encoding_watch == 0 || !text_is_utf8_beyond_ascii(message, length)) return 0;
    hub_encoding_found_utf8();
    chatlog_append_note(u"the hub sends UTF-8: reading and writing it as UTF-8");
    return 1;
}

// Index of the first '|' in text[from, length), NUL bytes included; length when none.
int next_bar(const char* text, int from, int length) {
    while (from < length && text[from] != '|') from++;
    return from;
}

// One receive into the buffer after the kept tail, counted and dispatched.
// False for a short read (error, close, nothing waiting).
bool hub_read() {
    char data[HUB_DATA_BYTES];
    int kept = hub_tail_restore(data);
    if (g_state.hub_socket <= 0) return false;
    int got = hub_receive_once(data + kept, HUB_RECEIVE_BYTES);
    if (got < 1) return false;
    traffic_add_received((uint32_t)got);
    data[kept + got] = '\0';
    if (dispatch_hub_data(data, kept + got)) repaint_request(g_state.main_window);
    return true;
}

}  // namespace

void hub_socket_event(HubEvent event) {
    // The hub socket is the only one registered for socket events, and a
    // close that comes after the socket was closed finds nothing left to lose.
    switch (event.kind) {
        case HUB_EVENT_READABLE:
            if (hub_read()) return;
            break;
        case HUB_EVENT_WRITABLE:
            hub_flush();
            return;
        case HUB_EVENT_URGENT:
            chatlog_append(u" OOB ");
            break;
        case HUB_EVENT_CLOSED:
            // Comes once the data before it has been read.
            hub_connection_lost(event.error == 0 ? "closed by the hub" : socket_error_text(event.error));
            break;
    }
    repaint_request(g_state.main_window);
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
    int p = 0;
    if (g_state.hub_tail_len == HUB_TAIL_DROPPING) {
        p = next_bar(text, 0, length);
        if (p == length) return 0;  // still inside the dropped message
        p++;
    }
    g_state.hub_tail_len = 0;
    int appended = 0;
    // A message may end the connection ($BadPass, a refused nick, a hub that
    // does not read what is sent): what came after it in this receive
    // belongs to a session that is over and is dropped, tail included.
    int connection = g_state.hub_socket;
    while (p < length && g_state.hub_socket == connection) {
        int end = p + find_bar(text + p);
        if (text[end] == '|') {
            text[end] = '\0';
            if (watch_for_utf8(text + p, end - p)) appended = 1;
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
