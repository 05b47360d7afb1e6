// The main screen's procedure.
//
// Input changes state, paint only reads it: hub traffic (the socket event
// message) and commands append to the ChatLog and ask for a repaint; the paint
// rule puts the rows the chat view shows into it (screens/chat_view.cpp).
// The view follows its newest line unless the person has paged back
// (PageUp, Home: the platform's WM_VSCROLL): then it keeps the lines being
// read in place, whatever comes in, and the view marks that more lies
// below; End, PageDown to the end, sending a line or Clear Chat follow again.
//
// The input line holds no more than one chat message carries
// (CHAT_MESSAGE_MAX_BYTES on the wire, in the hub's encoding with the nick
// and the escapes): a character typed or pasted that would make it longer is
// taken back as the line changes, so what the line shows is what is sent.
//
// Commands are routed through one table; sub-screens run as nested modal
// loops, during which the main screen still receives hub traffic.
//
// A file list that a browse waited for (WM_FILE_LIST_READY) opens in the
// browse screen at once while no sub-screen is open; otherwise it waits
// until the sub-screens have closed and the main screen is shown again.
//
// The title tells the session at each paint: "<hub name> (<N> users)" while
// online ("<host>:<port>" until the hub has said its name), and " TLS" after
// it while the hub connection is TLS, else "not connected"; then, while
// private messages wait unread, " [PM: bob]" (" [PM: bob, 2 more]" with
// more conversations), bob the latest. Whatever changes the phase, the name,
// the count or a conversation asks for a repaint (hub/connection.cpp,
// hub/dispatch.cpp, hub/private_chats.cpp).
//
// Reaches g_state: main_window, module_instance, connect_at_start, the ChatLog and
// the chat view's position (through chat_view), the TrafficCounters, hub_phase, hub_address,
// hub_name and user_count (read), the private conversations (read), the mode in force and
// the own keyprint (read, for About); the own nick through
// chat_message_length.
#include "screens/main_screen.h"

#include "hub/active_mode.h"
#include "hub/chat.h"
#include "hub/connection.h"
#include "hub/dispatch.h"
#include "hub/file_lists.h"
#include "hub/private_chats.h"
#include "hub/queue.h"
#include "platform/tls.h"
#include "protocol/hub_messages.h"
#include "resources/ids.h"
#include "screens/browse_screen.h"
#include "screens/chat_view.h"
#include "screens/kept_lists_screen.h"
#include "screens/password_screen.h"
#include "screens/private_screen.h"
#include "screens/progress_screen.h"
#include "screens/screen_table.h"
#include "screens/search_screen.h"
#include "screens/settings_screen.h"
#include "screens/users_screen.h"
#include "state/client_state.h"
#include "transfer/download.h"

namespace {

constexpr int ABOUT_UNITS = 555;
constexpr int TRAFFIC_UNITS = 200;
constexpr int TLS_VERSION_BYTES = 48;  // "mbed TLS 2.28.3", with room
// One line added to About: "\nmode: " and the mode text, "\nTLS: " and the
// version, "\nTLS keyprint: " and the keyprint.
constexpr int ABOUT_LINE_UNITS = MODE_TEXT_BYTES + TLS_KEYPRINT_BYTES + 16;
// The title as made: the platform shows WINDOW_TITLE_UNITS - 1 units of it,
// so the hub's name is cut to leave the marks after it in view.
constexpr int TITLE_TEXT_UNITS = WINDOW_TITLE_UNITS;
// " (<N> users)": up to ten digits; " TLS"; " [PM: <nick>, <N> more]".
constexpr int TITLE_MARKS_UNITS = 24 + 4 + 16 + USER_NAME_BYTES + 20;
// How often the queue gives turns and looks for ended jobs and
// unanswered requests (an ended job also tells the screen at once).
constexpr uint32_t QUEUE_TIMER = 7;
constexpr int QUEUE_LOOK_MS = 1000;
// "connected to <hub name>: exit anyway?"; a long name is cut.
constexpr int EXIT_QUESTION_UNITS = HUB_NAME_UNITS + 40;

// 8-bit, code page 1251, shown through the conversion like any hub text.
// On the phone's 36x16 About shows 12 lines of 32 cells: these take 6 with
// the TLS line, which leaves 2 for the mode and 3 for the keyprint.
const char ABOUT_TEXT[] =
    "Kivo " KIVO_VERSION_TEXT "\n"
    "A small Direct Connect client: one hub, chat, the user list, "
    "search and downloads.\n"
    "Keys: F1 menu, F2 search, Enter sends, Esc goes back.";

// Sub-screens open over the main screen now, and whether a file list came
// for a browse meanwhile (it opens when they have closed).
struct SubScreens {
    int open;
    bool browse_waiting;
};
SubScreens g_sub;

// Opens the browse screen for the browse that waits, when no sub-screen is
// open; else it waits for them to close.
void browse_when_shown() {
    if (g_sub.open > 0) {
        g_sub.browse_waiting = true;
        return;
    }
    g_sub.browse_waiting = false;
    char nick[RESULT_NICK_BYTES];
    char folder[QUEUE_PATH_BYTES];
    // A browse asked for while this one was open is taken after it.
    while (file_list_browse_take(nick, RESULT_NICK_BYTES, folder, QUEUE_PATH_BYTES)) {
        g_sub.open++;
        browse_screen_run(nick, folder);
        g_sub.open--;
    }
}

void open_sub_screen(int template_id, ScreenProc proc) {
    g_sub.open++;
    // The sub-screen's result is not used.
    dialog_run(g_state.module_instance, template_id, 0, proc, 0);
    g_sub.open--;
    if (g_sub.browse_waiting) browse_when_shown();
}

// The input line's text (terminated, at most CHAT_INPUT_UNITS - 1 units) in
// the hub's encoding, as it goes out.
int input_line_units(Window screen, char16_t* input) {
    return control_get_text(screen, ID_MAIN_INPUT_LINE, input, CHAT_INPUT_UNITS);
}

bool input_fits(const char16_t* input, int units) {
    if (units > CHAT_INPUT_UNITS - 1) return false;
    char text[CHAT_INPUT_BYTES];
    utf16_to_hub_text(input, -1, text, CHAT_INPUT_BYTES);
    int length = chat_message_length(text);
    return length >= 0 && length <= CHAT_MESSAGE_MAX_BYTES;
}

// Takes back what was just typed until the outgoing message fits (edit_fit).
void input_line_fit(Window screen) { edit_fit(screen, ID_MAIN_INPUT_LINE, CHAT_INPUT_UNITS, input_fits); }

void command_send(Window) { send_input_line(); }
// EN_CHANGE (and EN_SETFOCUS, which changes nothing here) from the input line.
void command_input_changed(Window screen) { input_line_fit(screen); }
// Exit asks first while a download runs (ending now would stop it) or the
// hub is online (ending now would leave it); the question's default is
// CANCEL, only its OK soft key exits.
void command_exit(Window screen) {
    char16_t question[EXIT_QUESTION_UNITS];
    if (download_any_running()) {
        u16_copy(question, EXIT_QUESTION_UNITS, u"a download is running: exit anyway?");
    } else if (g_state.hub_phase == HUB_ONLINE) {
        char16_t hub[HUB_NAME_UNITS];
        if (g_state.hub_name[0] != 0) u16_copy(hub, HUB_NAME_UNITS, g_state.hub_name);
        else wide_format(hub, HUB_NAME_UNITS, u"%S", g_state.hub_address);
        wide_format(question, EXIT_QUESTION_UNITS, u"connected to %s: exit anyway?", hub);
    } else {
        queue_flush();
        hub_exit_command(screen);
        return;
    }
    if (message_box(screen, question, u"Exit", MB_OKCANCEL) != IDOK) return;
    queue_flush();
    hub_exit_command(screen);
}
void command_connect(Window) { hub_connect_command(); }
void command_disconnect(Window) { hub_disconnect_command(); }
void command_option(Window) { open_sub_screen(DIALOG_SETTINGS, settings_screen_proc); }
void command_downloads(Window) { open_sub_screen(DIALOG_PROGRESS, progress_screen_proc); }
void command_users(Window) { open_sub_screen(DIALOG_USERS, users_screen_proc); }
void command_search(Window) { open_sub_screen(DIALOG_SEARCH, search_screen_proc); }
void command_private(Window) { open_sub_screen(DIALOG_PRIVATE_LIST, private_list_proc); }
void command_file_lists(Window) { open_sub_screen(DIALOG_KEPT_LISTS, kept_lists_proc); }

void command_clear_chat(Window screen) {
    chatlog_clear();
    chat_view_follow();
    repaint_request(screen);
}

void command_traffic(Window screen) {
    char16_t text[TRAFFIC_UNITS];
    uint32_t in = traffic_received();
    uint32_t out = traffic_sent();
    wide_format(text, TRAFFIC_UNITS, u"In: %u kbytes\nOut: %u kbytes\n\nin %u bytes\nout %u bytes", in >> 10,
                out >> 10, in, out);
    message_box(screen, text, u"Traffic count", 0);
}

// The About text and, on lines of their own, whether this build speaks TLS
// ("TLS: <library and version>" or "TLS: not available"), the connection
// mode in force and why ("mode: active on 4120", "mode: not connected"
// before active mode has decided), and the keyprint of the TLS listener's
// certificate ("TLS keyprint: SHA256/...", left out while there is none).
void command_about(Window screen) {
    char16_t text[ABOUT_UNITS];
    cp1251_to_utf16(ABOUT_TEXT, -1, text, ABOUT_UNITS);
    char version[TLS_VERSION_BYTES];
    char16_t line[ABOUT_LINE_UNITS];
    if (tls_available(version, TLS_VERSION_BYTES)) wide_format(line, ABOUT_LINE_UNITS, u"\nTLS: %S", version);
    else u16_copy(line, ABOUT_LINE_UNITS, u"\nTLS: not available");
    u16_append(text, ABOUT_UNITS, line);
    wide_format(line, ABOUT_LINE_UNITS, u"\nmode: %S", g_state.mode_text[0] != 0 ? g_state.mode_text : "not connected");
    u16_append(text, ABOUT_UNITS, line);
    if (g_state.own_keyprint[0] != 0) {
        wide_format(line, ABOUT_LINE_UNITS, u"\nTLS keyprint: %S", g_state.own_keyprint);
        u16_append(text, ABOUT_UNITS, line);
    }
    message_box(screen, text, u"About", 0);
}

const ScreenCommand MAIN_COMMANDS[] = {
    {IDOK, command_send},                 {IDCANCEL, command_exit},
    {CMD_EXIT, command_exit},             {CMD_OPTION, command_option},
    {CMD_CONNECT, command_connect},       {CMD_DOWNLOADS, command_downloads},
    {CMD_USERS, command_users},           {CMD_DISCONNECT, command_disconnect},
    {CMD_CLEAR_CHAT, command_clear_chat}, {CMD_TRAFFIC, command_traffic},
    {CMD_ABOUT, command_about},           {CMD_SEARCH_SCREEN, command_search},
    {ID_MAIN_INPUT_LINE, command_input_changed}, {CMD_PRIVATE, command_private},
    {CMD_FILE_LISTS, command_file_lists},
};

intptr_t main_screen_open(Window screen) {
    g_state.main_window = screen;
    if (!screen_open_full(screen, MENUBAR_MAIN, g_state.module_instance)) return FALSE;
    // The queue's turns come from this screen's timer, which runs while
    // entries wait or run.
    timer_set(screen, QUEUE_TIMER, QUEUE_LOOK_MS);
    // The listeners of active mode need the screen for their events.
    active_mode_settings_changed();
    // A hub given at start: Connect runs from the loop, as the menu's would,
    // once the screen is up.
    if (g_state.connect_at_start != 0) {
        g_state.connect_at_start = 0;
        post_message(screen, WM_COMMAND, CMD_CONNECT, 0);
    }
    return TRUE;
}

// The queue's look: takes ended jobs and gives turns, then shows the count.
void queue_look(Window screen) {
    int before = download_active_count();
    queue_tick();
    if (download_active_count() != before) repaint_request(screen);
}

// Paging the chat view, hub traffic, login results, the keep-alive, and the
// hub's request for a password nobody has given.
intptr_t main_screen_other(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_VSCROLL) {
        chat_view_page(screen, ID_MAIN_CHAT_VIEW, low_word(wparam));
        return TRUE;
    }
    if (message == WM_HUB_PASSWORD) {
        g_sub.open++;
        password_prompt_run();
        g_sub.open--;
        if (g_sub.browse_waiting) browse_when_shown();
        return TRUE;
    }
    if (message == WM_FILE_LIST_READY) {
        browse_when_shown();
        return TRUE;
    }
    if (message == WM_DOWNLOAD_ENDED || (message == WM_TIMER && wparam == QUEUE_TIMER)) {
        if (message == WM_TIMER) active_mode_tick();
        queue_look(screen);
        return TRUE;
    }
    if (message == WM_ACTIVE_SOCKET) {
        active_mode_socket_event(wparam, lparam);
        return TRUE;
    }
    return main_screen_hub_message(message, wparam, lparam);
}

// Back gives up a login that is still running; otherwise it does nothing
// here (the screen stays, its input line untouched): only Exit ends Kivo.
bool main_screen_back(Window) { return hub_cancel_login(); }

const ScreenKind MAIN_SCREEN = {
    main_screen_open, main_screen_paint, command_exit,     MAIN_COMMANDS,
    command_count(MAIN_COMMANDS), main_screen_other, main_screen_back, true,
};

}  // namespace

intptr_t main_screen_hub_message(uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_SOCKET_EVENT) return hub_window_message(message, wparam, lparam);
    // The socket in wparam is not needed: the hub socket is the only one
    // registered for this message. The event is in the low word of lparam,
    // a close's error in the high word.
    HubEvent event = {HUB_EVENT_READABLE, 0};
    switch (low_word((uintptr_t)lparam)) {
    case FD_READ: event.kind = HUB_EVENT_READABLE; break;
    case FD_WRITE: event.kind = HUB_EVENT_WRITABLE; break;
    case FD_OOB: event.kind = HUB_EVENT_URGENT; break;
    case FD_CLOSE:
        event.kind = HUB_EVENT_CLOSED;
        event.error = high_word((uintptr_t)lparam);
        break;
    default:
        repaint_request(g_state.main_window);  // as for any event the hub does not know
        return TRUE;
    }
    hub_socket_event(event);
    return TRUE;
}

namespace {

// " [PM: bob]" or " [PM: bob, 2 more]" while conversations have unread
// lines (bob the latest of them), else empty.
void private_mark(char16_t* mark, int units) {
    mark[0] = 0;
    int latest = -1;
    int waiting = private_chats_unread(&latest);
    if (waiting == 0) return;
    char16_t nick[USER_NAME_BYTES];
    hub_text_to_utf16(g_state.private_chats[latest].nick, -1, nick, USER_NAME_BYTES);
    if (waiting == 1) wide_format(mark, units, u" [PM: %s]", nick);
    else wide_format(mark, units, u" [PM: %s, %d more]", nick, waiting - 1);
}

}  // namespace

void main_screen_title(Window screen) {
    char16_t marks[TITLE_MARKS_UNITS];
    char16_t pm[TITLE_MARKS_UNITS];
    private_mark(pm, TITLE_MARKS_UNITS);
    char16_t title[TITLE_TEXT_UNITS];
    if (g_state.hub_phase != HUB_ONLINE) {
        u16_copy(title, TITLE_TEXT_UNITS, u"not connected");
        u16_append(title, TITLE_TEXT_UNITS, pm);
        window_set_title(screen, title);
        return;
    }
    int32_t users = g_state.user_count;
    wide_format(marks, TITLE_MARKS_UNITS, users == 1 ? u" (%d user)" : u" (%d users)", users);
    if (hub_tls_online()) u16_append(marks, TITLE_MARKS_UNITS, u" TLS");
    int running = download_active_count();
    if (running > 0) {
        char16_t count[24];
        wide_format(count, 24, running == 1 ? u" %d download" : u" %d downloads", running);
        u16_append(marks, TITLE_MARKS_UNITS, count);
    }
    u16_append(marks, TITLE_MARKS_UNITS, pm);
    // The marks go after the name, whose end is cut to leave them room.
    int room = TITLE_TEXT_UNITS - u16_len(marks);
    if (room < 2) room = 2;
    if (g_state.hub_name[0] != 0) {
        u16_copy(title, room, g_state.hub_name);
    } else {
        wide_format(title, room, u"%S", g_state.hub_address);
    }
    u16_append(title, TITLE_TEXT_UNITS, marks);
    window_set_title(screen, title);
}

void main_screen_paint(Window screen) {
    main_screen_title(screen);
    chat_view_fill(screen, ID_MAIN_CHAT_VIEW);
}

void send_input_line() {
    Window screen = g_state.main_window;
    input_line_fit(screen);  // the own nick may have changed since it was typed
    char16_t input[CHAT_INPUT_UNITS];
    input_line_units(screen, input);
    // A character the hub's encoding cannot carry is not sent as '?': the
    // note names it and the line stays to be changed.
    char16_t refused[NOTE_UNITS];
    if (!hub_text_sendable(input, u"line", refused, NOTE_UNITS)) {
        chatlog_append_note(refused);
        return;
    }
    char text[CHAT_INPUT_BYTES];
    utf16_to_hub_text(input, -1, text, CHAT_INPUT_BYTES);
    chat_send(text);
    control_set_text(screen, ID_MAIN_INPUT_LINE, u"");
    // Sending returns the chat view to its newest line.
    chat_view_follow();
    repaint_request(screen);
}

intptr_t main_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(MAIN_SCREEN, screen, message, wparam, lparam);
}
