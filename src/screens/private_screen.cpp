// The Private list and the conversation screen.
//
// The list shows the conversations, most recently used first, as "bob" or,
// with lines not yet read, "bob (2)"; the Action key (or "Open") opens the
// selected one. It is filled anew at each paint, so a message that comes
// while it is open shows at once; the selection stays on its conversation.
//
// A conversation's screen shows its lines (the view follows the newest) and
// an input line. The Action key (or "Send") sends what is typed to that nick
// through chat_send, as ">nick text" typed on the main screen would go; the
// line is emptied only when the message went out, so a text refused or not
// sent stays to send again. The input line takes no more than one message
// carries (CHAT_MESSAGE_MAX_BYTES on the wire with the "$To:" part and the
// escapes), as on the main screen.
//
// State of this file alone: what the open list shows (the slot at each
// position and the slot selected), a picture of the open screen that each
// paint makes anew.
//
// Reaches g_state: the private conversations, private_list_window,
// private_chat_window, private_open, module_instance; the own nick through
// chat_message_length.
#include "screens/private_screen.h"

#include "hub/chat.h"
#include "hub/private_chats.h"
#include "protocol/hub_messages.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/client_state.h"

namespace {

constexpr int PRIVATE_LINE_UNITS = USER_NAME_BYTES + 16;  // "nick (65535)"
constexpr int PRIVATE_TITLE_UNITS = USER_NAME_BYTES + 16;  // "Private: nick"
constexpr int VIEW_SCROLL_LINES = 100000;  // past any end: the view shows its newest line
// ">" + nick + " " + the typed text, in the hub's encoding.
constexpr int PRIVATE_INPUT_BYTES = 1 + USER_NAME_BYTES + 1 + CHAT_INPUT_BYTES;

struct PrivateListView {
    int count;
    int slot[PRIVATE_CHATS];
    int selected;  // the slot selected, -1 none
};
PrivateListView g_list;

// --- The list --------------------------------------------------------------------

void list_fill(Window screen) {
    control_send(screen, ID_PRIVATE_LIST, LB_RESETCONTENT, 0, 0);
    g_list.count = private_chats_by_use(g_list.slot);
    int position = -1;
    for (int i = 0; i < g_list.count; i++) {
        const PrivateChat& chat = g_state.private_chats[g_list.slot[i]];
        char16_t nick[USER_NAME_BYTES];
        hub_text_to_utf16(chat.nick, -1, nick, USER_NAME_BYTES);
        char16_t line[PRIVATE_LINE_UNITS];
        if (chat.unread > 0) wide_format(line, PRIVATE_LINE_UNITS, u"%s (%u)", nick, (uint32_t)chat.unread);
        else u16_copy(line, PRIVATE_LINE_UNITS, nick);
        control_send(screen, ID_PRIVATE_LIST, LB_ADDSTRING, 0, (LPARAM)line);
        if (g_list.slot[i] == g_list.selected) position = i;
    }
    if (position >= 0) control_send(screen, ID_PRIVATE_LIST, LB_SETCURSEL, (WPARAM)position, 0);
}

void list_notified(Window screen) {
    int position = (int)control_send(screen, ID_PRIVATE_LIST, LB_GETCURSEL, 0, 0);
    g_list.selected = position >= 0 && position < g_list.count ? g_list.slot[position] : -1;
}

void command_open(Window) {
    if (g_list.selected < 0) return;
    private_chat_run(g_state.private_chats[g_list.selected].nick);
}

void list_close(Window screen) {
    g_state.private_list_window = 0;
    dialog_end(screen, 0);
}

intptr_t list_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_PRIVATE_LIST, g_state.module_instance)) return FALSE;
    g_state.private_list_window = screen;
    g_list.selected = -1;
    list_fill(screen);
    return TRUE;
}

const ScreenCommand LIST_COMMANDS[] = {
    {ID_PRIVATE_LIST, list_notified},
    {IDOK, command_open},
    {CMD_PRIVATE_OPEN, command_open},
    {CMD_SCREEN_EXIT, list_close},
};

const ScreenKind LIST_SCREEN = {
    list_open, list_fill, list_close, LIST_COMMANDS, command_count(LIST_COMMANDS), nullptr, nullptr, false,
};

// --- One conversation ----------------------------------------------------------------

const PrivateChat& open_chat() { return g_state.private_chats[g_state.private_open]; }

// The input line as it would go out: ">nick text" in the hub's encoding.
void outgoing(const char16_t* typed, char* out) {
    int at = text_copy(out, PRIVATE_INPUT_BYTES, ">");
    at += text_copy(out + at, PRIVATE_INPUT_BYTES - at, open_chat().nick);
    at += text_copy(out + at, PRIVATE_INPUT_BYTES - at, " ");
    utf16_to_hub_text(typed, -1, out + at, PRIVATE_INPUT_BYTES - at);
}

bool input_fits(const char16_t* typed, int units) {
    if (units > CHAT_INPUT_UNITS - 1) return false;
    char line[PRIVATE_INPUT_BYTES];
    outgoing(typed, line);
    int length = chat_message_length(line);
    return length >= 0 && length <= CHAT_MESSAGE_MAX_BYTES;
}

void input_changed(Window screen) { edit_fit(screen, ID_PRIVATE_INPUT, CHAT_INPUT_UNITS, input_fits); }

void command_send(Window screen) {
    char16_t typed[CHAT_INPUT_UNITS];
    if (control_get_text(screen, ID_PRIVATE_INPUT, typed, CHAT_INPUT_UNITS) == 0) return;
    char line[PRIVATE_INPUT_BYTES];
    outgoing(typed, line);
    if (chat_send(line) == CHAT_SENT) control_set_text(screen, ID_PRIVATE_INPUT, u"");
}

// Nothing received while the screen is open counts as unread: paint only shows.
void chat_paint(Window screen) {
    control_set_text(screen, ID_PRIVATE_VIEW, open_chat().text);
    control_send(screen, ID_PRIVATE_VIEW, EM_LINESCROLL, 0, VIEW_SCROLL_LINES);
}

void chat_close(Window screen) {
    g_state.private_chat_window = 0;
    dialog_end(screen, 0);
}

intptr_t chat_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_PRIVATE_CHAT, g_state.module_instance)) return FALSE;
    g_state.private_chat_window = screen;
    char16_t nick[USER_NAME_BYTES];
    hub_text_to_utf16(open_chat().nick, -1, nick, USER_NAME_BYTES);
    char16_t title[PRIVATE_TITLE_UNITS];
    wide_format(title, PRIVATE_TITLE_UNITS, u"Private: %s", nick);
    window_set_title(screen, title);
    private_chat_read(g_state.private_open);
    control_set_focus(screen, ID_PRIVATE_INPUT);
    return TRUE;
}

const ScreenCommand CHAT_COMMANDS[] = {
    {IDOK, command_send},
    {CMD_PRIVATE_SEND, command_send},
    {ID_PRIVATE_INPUT, input_changed},
    {CMD_SCREEN_EXIT, chat_close},
};

const ScreenKind CHAT_SCREEN = {
    chat_open, chat_paint, chat_close, CHAT_COMMANDS, command_count(CHAT_COMMANDS), nullptr, nullptr, false,
};

}  // namespace

void private_chat_run(const char* nick) {
    // One conversation on screen at a time: the screens that open one lie below it.
    if (g_state.private_chat_window != 0) return;
    int slot = private_chat_start(nick);
    if (slot < 0) return;
    g_state.private_open = (uint8_t)slot;
    dialog_run(g_state.module_instance, DIALOG_PRIVATE_CHAT, 0, private_chat_proc, 0);
    g_state.private_chat_window = 0;
    // The list below shows the conversation read now.
    if (g_state.private_list_window != 0) repaint_request(g_state.private_list_window);
    if (g_state.main_window != 0) repaint_request(g_state.main_window);
}

intptr_t private_list_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(LIST_SCREEN, screen, message, wparam, lparam);
}

intptr_t private_chat_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(CHAT_SCREEN, screen, message, wparam, lparam);
}
