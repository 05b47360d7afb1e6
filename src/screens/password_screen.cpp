// The password prompt.
//
// The typed password is never shown (the field draws '*') and never logged.
//
// State of this file alone: where the typed password goes while the prompt
// is open, the opener's buffer on its stack; set only while a prompt is open.
//
// Reaches g_state: the settings (the password kept for the session),
// module_instance, hub_socket, the nick and the host (in the label).
#include "screens/password_screen.h"

#include "hub/connection.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/client_state.h"

namespace {

constexpr int PASSWORD_UNITS = PASSWORD_BYTES / 3;  // a typed password fits in UTF-8
constexpr int LABEL_UNITS = 160;

// Where the typed password goes: the opener's buffer (PASSWORD_UNITS units).
char16_t* g_typed;

intptr_t password_screen_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_PASSWORD, g_state.module_instance)) return FALSE;
    char16_t label[LABEL_UNITS];
    wide_format(label, LABEL_UNITS, u"Password for %S at %S", g_state.settings.nick, g_state.settings.hub_host);
    control_set_text(screen, ID_PASSWORD_LABEL, label);
    control_set_focus(screen, ID_PASSWORD_FIELD);
    return TRUE;
}

void command_ok(Window screen) {
    if (g_typed != nullptr) control_get_text(screen, ID_PASSWORD_FIELD, g_typed, PASSWORD_UNITS);
    control_set_text(screen, ID_PASSWORD_FIELD, u"");
    dialog_end(screen, IDOK);
}

void command_cancel(Window screen) {
    control_set_text(screen, ID_PASSWORD_FIELD, u"");
    dialog_end(screen, IDCANCEL);
}

const ScreenCommand PASSWORD_COMMANDS[] = {
    {IDOK, command_ok},
    {CMD_PASSWORD_OK, command_ok},
    {CMD_PASSWORD_CANCEL, command_cancel},
};

const ScreenKind PASSWORD_SCREEN = {
    password_screen_open, nullptr, command_cancel, PASSWORD_COMMANDS, command_count(PASSWORD_COMMANDS),
    nullptr, nullptr, false,  // Back cancels, like close, whatever the field holds
};

}  // namespace

void password_prompt_run() {
    // The hub may have gone since it asked. One prompt at a time: a hub that
    // asks again while one is open gets the answer of the one open.
    if (g_state.hub_socket <= 0 || g_typed != nullptr) return;
    char16_t typed[PASSWORD_UNITS];
    typed[0] = 0;
    g_typed = typed;
    intptr_t answer = dialog_run(g_state.module_instance, DIALOG_PASSWORD, 0, password_screen_proc, 0);
    g_typed = nullptr;
    if (answer != IDOK) {
        hub_disconnect_command();
        return;
    }
    utf16_to_hub_text(typed, -1, g_state.settings.password, PASSWORD_BYTES);
    for (char16_t& u : typed) u = 0;  // nothing of it stays on the stack
    hub_send_password(g_state.settings.password);
}

intptr_t password_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(PASSWORD_SCREEN, screen, message, wparam, lparam);
}
