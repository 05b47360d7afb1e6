// The settings screen's procedure.
//
// The five fields show the SessionSettings texts (8-bit, 1251) and store them
// back on "OK" only; choosing a favourite fills just the host and port fields
// and shows its encoding, and on "OK" its password and encoding are taken too.
// On "OK" each field's text (at most 99 units) is converted into its
// SessionSettings field cut to that field's capacity, and never more than 100
// bytes: host and local IP keep at most 51 characters, the port 11, the nick
// and share size 99.
//
// State of this file alone: which favourite was chosen while the screen is
// open.
//
// Reaches g_state: the settings, the FavoritesTable (read), module_instance.
#include "screens/settings_screen.h"

#include <cstring>

#include "config/favorites.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/client_state.h"

namespace {

constexpr int FIELD_SHOW_UNITS = 255;   // one field's text as shown
constexpr int FIELD_READ_UNITS = 100;   // one field's text as read back
constexpr int FIELD_STORE_BYTES = 100;  // most bytes stored from one field
constexpr int FAVORITE_NAME_UNITS = 550;

// The favourite chosen since the screen opened, or -1: its password and
// encoding are taken on OK with the fields.
int g_chosen = -1;

void show_encoding(Window screen, uint8_t encoding) {
    control_set_text(screen, ID_SETTINGS_ENCODING,
                     encoding == ENCODING_UTF8 ? u"Encoding: UTF-8" : u"Encoding: CP1251");
}

void show_field(Window screen, int control, const char* text) {
    char16_t shown[FIELD_SHOW_UNITS];
    wide_format(shown, FIELD_SHOW_UNITS, u"%S", text);
    control_set_text(screen, control, shown);
}

// The favourite whose host and port the fields show (the first one), or -1.
int favorite_shown_by_fields() {
    const SessionSettings& s = g_state.settings;
    for (int i = 0; i < g_state.favorites_count; i++) {
        const FavoriteHub& hub = g_state.favorites[i];
        if (strcmp(hub.host, s.hub_host) == 0 && strcmp(hub.port, s.hub_port) == 0) return i;
    }
    return -1;
}

intptr_t settings_screen_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_SETTINGS, g_state.module_instance)) return FALSE;
    fill_favorites_list(screen);
    const SessionSettings& s = g_state.settings;
    show_field(screen, ID_SETTINGS_LOCAL_IP, s.local_ip);
    show_field(screen, ID_SETTINGS_HOST, s.hub_host);
    show_field(screen, ID_SETTINGS_PORT, s.hub_port);
    show_field(screen, ID_SETTINGS_NICK, s.nick);
    show_field(screen, ID_SETTINGS_SHARE, s.share_size);
    show_encoding(screen, s.encoding);
    // The combo names the favourite the fields come from, when one does.
    int shown = favorite_shown_by_fields();
    if (shown >= 0) control_send(screen, ID_SETTINGS_FAVORITES, CB_SETCURSEL, (WPARAM)shown, 0);
    g_chosen = -1;
    return TRUE;
}

void favorite_chosen(Window screen) {
    intptr_t chosen = control_send(screen, ID_SETTINGS_FAVORITES, CB_GETCURSEL, 0, 0);
    if (chosen < 0 || chosen >= g_state.favorites_count) return;
    const FavoriteHub& hub = g_state.favorites[chosen];
    show_field(screen, ID_SETTINGS_HOST, hub.host);
    show_field(screen, ID_SETTINGS_PORT, hub.port);
    show_encoding(screen, hub.encoding);
    g_chosen = (int)chosen;
}

void store_fields(Window screen) {
    SessionSettings& s = g_state.settings;
    struct Field {
        int control;
        char* text;
        int bytes;
    };
    // In the order they are stored.
    const Field fields[] = {
        {ID_SETTINGS_HOST, s.hub_host, HUB_HOST_BYTES},
        {ID_SETTINGS_PORT, s.hub_port, HUB_PORT_BYTES},
        {ID_SETTINGS_NICK, s.nick, NICK_BYTES},
        {ID_SETTINGS_SHARE, s.share_size, SHARE_TEXT_BYTES},
        {ID_SETTINGS_LOCAL_IP, s.local_ip, LOCAL_IP_BYTES},
    };
    for (const Field& f : fields) {
        char16_t typed[FIELD_READ_UNITS];
        control_get_text(screen, f.control, typed, FIELD_READ_UNITS);
        utf16_to_cp1251(typed, -1, f.text, f.bytes < FIELD_STORE_BYTES ? f.bytes : FIELD_STORE_BYTES);
    }
}

void command_ok(Window screen) {
    store_fields(screen);
    if (g_chosen >= 0 && g_chosen < g_state.favorites_count) {
        const FavoriteHub& hub = g_state.favorites[g_chosen];
        favorite_password(&hub, g_state.settings.password, PASSWORD_BYTES);
        g_state.settings.encoding = hub.encoding;
    }
    dialog_end(screen, 0);
}

const ScreenCommand SETTINGS_COMMANDS[] = {
    {ID_SETTINGS_FAVORITES, favorite_chosen},
    {CMD_SETTINGS_OK, command_ok},
    {CMD_SETTINGS_CANCEL, screen_end},
};

const ScreenKind SETTINGS_SCREEN = {
    settings_screen_open, nullptr, nullptr, SETTINGS_COMMANDS, command_count(SETTINGS_COMMANDS), nullptr, nullptr, false,
};

}  // namespace

void fill_favorites_list(Window screen) {
    control_send(screen, ID_SETTINGS_FAVORITES, CB_RESETCONTENT, 0, 0);
    for (int i = 0; i < g_state.favorites_count; i++) {
        char16_t name[FAVORITE_NAME_UNITS];
        cp1251_to_utf16(g_state.favorites[i].name, -1, name, FAVORITE_NAME_UNITS);
        control_send(screen, ID_SETTINGS_FAVORITES, CB_ADDSTRING, 0, (LPARAM)name);
    }
    repaint_request(screen);
}

intptr_t settings_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(SETTINGS_SCREEN, screen, message, wparam, lparam);
}
