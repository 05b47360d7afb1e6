// The Users screen.
//
// The list is not updated when the table changes while the screen is open;
// commands look the selected position up in what the last fill listed and act
// only when the slot still holds the user shown (by its tenancy).
//
// State of this file alone: the view of the last fill (below). It is a
// picture of the open screen's list, meaningless to anything else, and is
// rebuilt by every fill.
//
// Letters typed on the list select the first nick that begins with them,
// and PageUp/PageDown/Home/End move by pages: the platform's list box does
// both (its type-ahead reads the entries, which begin with the nick).
//
// The Action key (and "Browse") asks for the selected user's file list and
// closes the screen: the main screen opens the list when it is there.
//
// Reaches g_state: the UserTable (read), user_selection, main_window (its input
// line), module_instance.
#include "screens/users_screen.h"

#include "hub/file_lists.h"
#include "hub/users.h"
#include "screens/private_screen.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/byte_size.h"

namespace {

// What the list shows: for each position, the slot and its tenancy at the
// last fill.
struct UserListView {
    int32_t count;
    int16_t slot[USER_SLOTS];
    uint32_t tenancy[USER_SLOTS];
};
UserListView g_view;

// ">" + 49-byte name + " " (or name + ": ") and the terminator.
constexpr int ADDRESS_UNITS = USER_NAME_BYTES + 3;
constexpr int INFO_UNITS = 800;

// The user shown at the selected position, or nullptr when there is no
// selection or that user has left (or his slot has a new user) since the fill.
const UserEntry* selected_user() {
    int32_t position = g_state.user_selection;
    if (position < 0 || position >= g_view.count) return nullptr;
    int slot = g_view.slot[position];
    const UserEntry* user = &g_state.users[slot];
    if (!user->present || user->tenancy != g_view.tenancy[position]) return nullptr;
    return user;
}

// Puts the selected user's name, in the given form, into the main screen's
// input line (replacing its text), with the caret after it, and closes the
// Users screen. Nothing happens without a user to address.
void address_user(Window screen, const char16_t* format) {
    const UserEntry* user = selected_user();
    if (user == nullptr) return;
    char16_t name[USER_NAME_BYTES];
    hub_text_to_utf16(user->name, -1, name, USER_NAME_BYTES);
    char16_t text[ADDRESS_UNITS];
    int length = wide_format(text, ADDRESS_UNITS, format, name);
    control_set_text(g_state.main_window, ID_MAIN_INPUT_LINE, text);
    control_send(g_state.main_window, ID_MAIN_INPUT_LINE, EM_SETSEL, (WPARAM)length, length);
    dialog_end(screen, 0);
}

void command_to_chat(Window screen) { address_user(screen, u"%s: "); }
void command_private(Window screen) { address_user(screen, u">%s "); }
// PRIVAT: the selected user's conversation, over this screen.
void command_open_private(Window) {
    const UserEntry* user = selected_user();
    if (user != nullptr) private_chat_run(user->name);
}

// Browse: the user's kept list opens at once, else it is fetched and opens
// when it has come; either way from the main screen, once this one is closed.
void command_browse(Window screen) {
    const UserEntry* user = selected_user();
    if (user == nullptr) return;
    if (file_list_browse(user->name, "", 0)) dialog_end(screen, 0);
}

// Any notification of the list: remember its selection (-1 for none).
void list_notified(Window screen) {
    g_state.user_selection = (int32_t)control_send(screen, ID_USERS_LIST, LB_GETCURSEL, 0, 0);
}

const char16_t* mode_text(uint8_t mode) {
    switch (mode) {
    case USER_MODE_ACTIVE: return u"active";
    case USER_MODE_PASSIVE: return u"passive";
    case USER_MODE_SOCKS5: return u"through a SOCKS5 proxy";
    default: return u"not said";
    }
}

// "INFO": what the hub's last $MyINFO said of the selected user, in a box.
void command_info(Window screen) {
    const UserEntry* user = selected_user();
    if (user == nullptr) return;
    char16_t fields[4][USER_INFO_BYTES];
    for (int f = USER_INFO_CONNECTION; f <= USER_INFO_DESCRIPTION; f++) {
        char field[USER_INFO_BYTES];
        user_info_field(user, f, field, USER_INFO_BYTES);
        hub_text_to_utf16(field, -1, fields[f], USER_INFO_BYTES);
    }
    char16_t name[USER_NAME_BYTES];
    hub_text_to_utf16(user->name, -1, name, USER_NAME_BYTES);
    unsigned long long share = decimal_to_u64(user->share);
    char16_t size[BYTE_SIZE_UNITS];
    byte_size_text(share, size, BYTE_SIZE_UNITS);
    char16_t text[INFO_UNITS];
    wide_format(text, INFO_UNITS,
                u"%s\ndescription: %s\ntag: %s\nconnection: %s\ne-mail: %s\nshare: %llu bytes (%s)\nmode: %s\nTLS: %s",
                name, fields[USER_INFO_DESCRIPTION], fields[USER_INFO_TAG], fields[USER_INFO_CONNECTION],
                fields[USER_INFO_EMAIL], share, size, mode_text(user->mode),
                (user->flag & USER_FLAG_TLS) != 0 ? u"yes" : u"no");
    message_box(screen, text, u"user", 0);
}

const ScreenCommand USERS_COMMANDS[] = {
    {ID_USERS_LIST, list_notified},          {CMD_USERS_TO_CHAT, command_to_chat},
    {CMD_USERS_PRIVATE, command_open_private}, {CMD_USERS_PRIVATE_LINE, command_private},
    {CMD_USERS_REFRESH, fill_user_list},     {CMD_SCREEN_EXIT, screen_end},
    {CMD_USERS_INFO, command_info},          {IDOK, command_browse},
    {CMD_USERS_BROWSE, command_browse},
};

intptr_t users_screen_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_USERS, g_state.module_instance)) return FALSE;
    sort_users();
    fill_user_list(screen);
    return TRUE;
}

const ScreenKind USERS_SCREEN = {
    users_screen_open, nullptr, nullptr, USERS_COMMANDS, command_count(USERS_COMMANDS), nullptr, nullptr, false,
};

}  // namespace

int format_user_line(const UserEntry* user, char16_t* line, int units) {
    // Read into 64 bits: shares of 2^31 bytes and more are common.
    char16_t size[BYTE_SIZE_UNITS];
    byte_size_text(decimal_to_u64(user->share), size, BYTE_SIZE_UNITS);
    char16_t name[USER_NAME_BYTES];
    hub_text_to_utf16(user->name, -1, name, USER_NAME_BYTES);
    return wide_format(line, units, u"%s   %s", name, size);
}

void fill_user_list(Window screen) {
    control_send(screen, ID_USERS_LIST, LB_RESETCONTENT, 0, 0);
    g_view.count = 0;
    for (int s = 0; s < USER_SLOTS; s++) {
        const UserEntry& user = g_state.users[s];
        if (!user.present) continue;
        char16_t line[USER_LINE_UNITS];
        format_user_line(&user, line, USER_LINE_UNITS);
        // A list out of room refuses entries: stop, so positions stay true.
        if (control_send(screen, ID_USERS_LIST, LB_ADDSTRING, 0, (LPARAM)line) < 0) break;
        g_view.slot[g_view.count] = (int16_t)s;
        g_view.tenancy[g_view.count] = user.tenancy;
        g_view.count++;
    }
    // Restored by position, whoever is listed there; a position the list
    // does not have selects nothing.
    control_send(screen, ID_USERS_LIST, LB_SETCURSEL, (WPARAM)(intptr_t)g_state.user_selection, 0);
    repaint_request(screen);
}

intptr_t users_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(USERS_SCREEN, screen, message, wparam, lparam);
}
