// The main screen's procedure.
//
// Input changes state, paint only reads it: hub traffic (the socket event
// message) and commands append to the ChatLog and ask for a repaint; the paint
// rule copies the ChatLog into the chat view, emptying it first when it has
// grown past CHATLOG_SHOW_UNITS, so the view never holds more than that.
//
// Commands are routed through one table; sub-screens run as nested modal
// loops, during which the main screen still receives hub traffic.
#include "shell/main_screen.h"

#include "config/settings_screen.h"
#include "hub/connection.h"
#include "hub/dispatch.h"
#include "hub/search.h"
#include "hub/users.h"
#include "state/client_state.h"
#include "transfer/download.h"

namespace {

constexpr int ABOUT_UNITS = 555;
constexpr int TRAFFIC_UNITS = 200;
constexpr int CHAT_VIEW_SCROLL_LINES = 1000;

// 8-bit, code page 1251, shown through the conversion like any hub text.
const char ABOUT_TEXT[] =
    "Kivo 0.05\n"
    "A small Direct Connect client: one hub, public and private chat, "
    "the user list, passive search and downloads.\n"
    "Keys: F1 menu, F2 search, Enter sends, Esc goes back.";

void open_sub_screen(int template_id, ScreenProc proc) {
    // The sub-screen's result is not used.
    dialog_run(g_state.module_instance, template_id, 0, proc, 0);
}

void command_send(Window) { send_chat_line(); }
void command_exit(Window screen) { hub_exit_command(screen); }
void command_connect(Window) { hub_connect_command(); }
void command_disconnect(Window) { hub_disconnect_command(); }
void command_option(Window) { open_sub_screen(1002, settings_screen_proc); }
void command_downloads(Window) { open_sub_screen(1004, progress_screen_proc); }
void command_users(Window) { open_sub_screen(1005, users_screen_proc); }
void command_search(Window) { open_sub_screen(1003, search_screen_proc); }

void command_clear_chat(Window screen) {
    chatlog_clear();
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

void command_about(Window screen) {
    char16_t text[ABOUT_UNITS];
    cp1251_to_utf16(ABOUT_TEXT, -1, text, ABOUT_UNITS);
    message_box(screen, text, u"About", 0);
}

struct MainCommand {
    int id;
    void (*run)(Window screen);
};

const MainCommand MAIN_COMMANDS[] = {
    {IDOK, command_send},         {IDCANCEL, command_exit},      {6002, command_exit},
    {6003, command_option},       {6004, command_connect},       {6005, command_downloads},
    {6006, command_users},        {6007, command_disconnect},    {6008, command_clear_chat},
    {6009, command_traffic},      {6025, command_about},         {12005, command_search},
};

intptr_t route_command(Window screen, int id) {
    for (const MainCommand& c : MAIN_COMMANDS) {
        if (c.id == id) {
            c.run(screen);
            return TRUE;
        }
    }
    return FALSE;
}

intptr_t initialise(Window screen) {
    // Reaches the global: the main screen window receives hub traffic.
    g_state.main_window = screen;
    return screen_open_full(screen, MAIN_MENUBAR, g_state.module_instance) ? TRUE : FALSE;
}

}  // namespace

void main_screen_paint(Window screen) {
    static char16_t shown[CHATLOG_UNITS];  // UI thread only
    chatlog_take_for_display(shown, CHATLOG_UNITS, CHATLOG_SHOW_UNITS);
    control_set_text(screen, MAIN_CHAT_VIEW, shown);
    control_send(screen, MAIN_CHAT_VIEW, EM_LINESCROLL, 0, CHAT_VIEW_SCROLL_LINES);
}

intptr_t main_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        return initialise(screen);
    case WM_PAINT:
        main_screen_paint(screen);
        return FALSE;
    case WM_CLOSE:
        dialog_end(screen, 0);
        return TRUE;
    case WM_HOTKEY:
        screen_hotkey(screen, wparam, lparam);
        return FALSE;
    case WM_SOCKET_EVENT:
        hub_socket_event(wparam, lparam);
        return TRUE;
    case WM_COMMAND:
        return route_command(screen, low_word(wparam));
    default:
        return FALSE;
    }
}
