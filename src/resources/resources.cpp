// The resource tables themselves. Positions are dialog units inside the
// phone's 140 x 108 client area; the terminal scales them (see
// the platform's layout). Controls outside that area exist but are not shown:
// the main screen's "send" button lies below it.
#include "platform/resource_format.h"
#include "resources/ids.h"

namespace {

// --- Dialog templates --------------------------------------------------------

constexpr ControlTemplate MAIN_CONTROLS[] = {
    {ID_MAIN_CHAT_VIEW, CONTROL_EDIT, 0, 0, 140, 96, STYLE_MULTILINE | STYLE_READONLY | STYLE_VSCROLL | STYLE_BORDER, u""},
    {ID_MAIN_INPUT_LINE, CONTROL_EDIT, 0, 96, 140, 12, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {ID_MAIN_SEND, CONTROL_BUTTON, 120, 116, 36, 15, STYLE_DISABLED, u"send"},
};

// Thirteen rows of 8 units: each field and its label share one row; the
// last two hold two fields each (the connection mode and its port, the TLS
// port and the external address), so that every row fits the phone's 13.
constexpr ControlTemplate SETTINGS_CONTROLS[] = {
    {ID_SETTINGS_HUB_LABEL, CONTROL_STATIC, 0, 1, 40, 6, 0, u"Hub"},
    {ID_SETTINGS_FAVORITES, CONTROL_COMBO, 42, 0, 98, 7, STYLE_VSCROLL, u""},
    {ID_SETTINGS_HOST_LABEL, CONTROL_STATIC, 0, 9, 40, 6, 0, u"Host"},
    {ID_SETTINGS_HOST, CONTROL_EDIT, 42, 8, 98, 7, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {ID_SETTINGS_PORT_LABEL, CONTROL_STATIC, 0, 17, 40, 6, 0, u"Port"},
    {ID_SETTINGS_PORT, CONTROL_EDIT, 42, 16, 98, 7, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {ID_SETTINGS_NICK_LABEL, CONTROL_STATIC, 0, 25, 40, 6, 0, u"Nick"},
    {ID_SETTINGS_NICK, CONTROL_EDIT, 42, 24, 98, 7, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {ID_SETTINGS_PASSWORD_LABEL, CONTROL_STATIC, 0, 33, 40, 6, 0, u"Password"},
    {ID_SETTINGS_PASSWORD, CONTROL_EDIT, 42, 32, 98, 7, STYLE_AUTOHSCROLL | STYLE_BORDER | STYLE_PASSWORD, u""},
    {ID_SETTINGS_SHARE_LABEL, CONTROL_STATIC, 0, 41, 40, 6, 0, u"Share"},
    {ID_SETTINGS_SHARE, CONTROL_EDIT, 42, 40, 70, 7, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {ID_SETTINGS_BYTES_LABEL, CONTROL_STATIC, 114, 41, 26, 6, 0, u"bytes"},
    {ID_SETTINGS_FOLDER_LABEL, CONTROL_STATIC, 0, 49, 40, 6, 0, u"Downloads"},
    {ID_SETTINGS_FOLDER, CONTROL_EDIT, 42, 48, 98, 7, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {ID_SETTINGS_TIMES_LABEL, CONTROL_STATIC, 0, 57, 40, 6, 0, u"Chat time"},
    {ID_SETTINGS_TIMES, CONTROL_COMBO, 42, 56, 98, 7, 0, u""},
    {ID_SETTINGS_LOCAL_IP_LABEL, CONTROL_STATIC, 0, 65, 40, 6, 0, u"LocalIP"},
    {ID_SETTINGS_LOCAL_IP, CONTROL_EDIT, 42, 64, 98, 7, STYLE_AUTOHSCROLL | STYLE_BORDER | STYLE_READONLY | STYLE_DISABLED, u""},
    {ID_SETTINGS_ENCODING_LABEL, CONTROL_STATIC, 0, 73, 40, 6, 0, u"Encoding"},
    {ID_SETTINGS_ENCODING, CONTROL_COMBO, 42, 72, 98, 7, STYLE_VSCROLL, u""},
    {ID_SETTINGS_SLOTS_LABEL, CONTROL_STATIC, 0, 81, 40, 6, 0, u"At once"},
    {ID_SETTINGS_SLOTS, CONTROL_COMBO, 42, 80, 98, 7, STYLE_VSCROLL, u""},
    {ID_SETTINGS_MODE_LABEL, CONTROL_STATIC, 0, 89, 40, 6, 0, u"Mode"},
    {ID_SETTINGS_MODE, CONTROL_COMBO, 42, 88, 44, 7, STYLE_VSCROLL, u""},
    {ID_SETTINGS_LISTEN_PORT_LABEL, CONTROL_STATIC, 88, 89, 20, 6, 0, u"Port"},
    {ID_SETTINGS_LISTEN_PORT, CONTROL_EDIT, 108, 88, 32, 7, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {ID_SETTINGS_TLS_PORT_LABEL, CONTROL_STATIC, 0, 97, 40, 6, 0, u"TLS port"},
    {ID_SETTINGS_TLS_PORT, CONTROL_EDIT, 42, 96, 28, 7, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {ID_SETTINGS_EXTERNAL_LABEL, CONTROL_STATIC, 72, 97, 30, 6, 0, u"Ext. IP"},
    {ID_SETTINGS_EXTERNAL, CONTROL_EDIT, 104, 96, 36, 7, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
};

constexpr ControlTemplate SEARCH_CONTROLS[] = {
    {ID_SEARCH_WORDS, CONTROL_EDIT, 0, 0, 110, 12, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
    {IDOK, CONTROL_BUTTON, 112, 0, 28, 12, 0, u"OK"},
    {ID_SEARCH_STATUS, CONTROL_STATIC, 0, 14, 140, 10, 0, u""},
    {ID_SEARCH_LIST, CONTROL_LIST, 0, 26, 140, 82, STYLE_VSCROLL | STYLE_BORDER | STYLE_NOTIFY, u""},
};

constexpr ControlTemplate PROGRESS_CONTROLS[] = {
    {ID_PROGRESS_LIST, CONTROL_LIST, 0, 0, 140, 108, STYLE_VSCROLL | STYLE_BORDER | STYLE_NOTIFY, u""},
};

constexpr ControlTemplate USERS_CONTROLS[] = {
    {ID_USERS_LIST, CONTROL_LIST, 0, 0, 140, 108, STYLE_VSCROLL | STYLE_BORDER | STYLE_NOTIFY, u""},
};

constexpr ControlTemplate PASSWORD_CONTROLS[] = {
    {ID_PASSWORD_LABEL, CONTROL_STATIC, 0, 20, 140, 10, 0, u"Password"},
    {ID_PASSWORD_FIELD, CONTROL_EDIT, 0, 40, 140, 12, STYLE_AUTOHSCROLL | STYLE_BORDER | STYLE_PASSWORD, u""},
};

constexpr ControlTemplate PRIVATE_LIST_CONTROLS[] = {
    {ID_PRIVATE_LIST, CONTROL_LIST, 0, 0, 140, 108, STYLE_VSCROLL | STYLE_BORDER | STYLE_NOTIFY, u""},
};

constexpr ControlTemplate PRIVATE_CHAT_CONTROLS[] = {
    {ID_PRIVATE_VIEW, CONTROL_EDIT, 0, 0, 140, 96, STYLE_MULTILINE | STYLE_READONLY | STYLE_VSCROLL | STYLE_BORDER, u""},
    {ID_PRIVATE_INPUT, CONTROL_EDIT, 0, 96, 140, 12, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
};

// A status line above the folder's entries.
constexpr ControlTemplate BROWSE_CONTROLS[] = {
    {ID_BROWSE_STATUS, CONTROL_STATIC, 0, 0, 140, 10, 0, u""},
    {ID_BROWSE_LIST, CONTROL_LIST, 0, 12, 140, 96, STYLE_VSCROLL | STYLE_BORDER | STYLE_NOTIFY, u""},
};

constexpr ControlTemplate FIND_CONTROLS[] = {
    {ID_FIND_LABEL, CONTROL_STATIC, 0, 20, 140, 10, 0, u"Find"},
    {ID_FIND_FIELD, CONTROL_EDIT, 0, 40, 140, 12, STYLE_AUTOHSCROLL | STYLE_BORDER, u""},
};

constexpr ControlTemplate KEPT_LISTS_CONTROLS[] = {
    {ID_KEPT_LIST, CONTROL_LIST, 0, 0, 140, 108, STYLE_VSCROLL | STYLE_BORDER | STYLE_NOTIFY, u""},
};

#define COUNT_OF(a) ((int)(sizeof(a) / sizeof((a)[0])))

constexpr DialogTemplate DIALOGS[] = {
    {DIALOG_MAIN, u"Kivo", u"movraClass", COUNT_OF(MAIN_CONTROLS), MAIN_CONTROLS},
    {DIALOG_SETTINGS, u"Settings", nullptr, COUNT_OF(SETTINGS_CONTROLS), SETTINGS_CONTROLS},
    {DIALOG_SEARCH, u"Search", nullptr, COUNT_OF(SEARCH_CONTROLS), SEARCH_CONTROLS},
    {DIALOG_PROGRESS, u"Downloads", nullptr, COUNT_OF(PROGRESS_CONTROLS), PROGRESS_CONTROLS},
    {DIALOG_USERS, u"", nullptr, COUNT_OF(USERS_CONTROLS), USERS_CONTROLS},
    {DIALOG_PASSWORD, u"Password", nullptr, COUNT_OF(PASSWORD_CONTROLS), PASSWORD_CONTROLS},
    {DIALOG_PRIVATE_LIST, u"Private", nullptr, COUNT_OF(PRIVATE_LIST_CONTROLS), PRIVATE_LIST_CONTROLS},
    {DIALOG_PRIVATE_CHAT, u"", nullptr, COUNT_OF(PRIVATE_CHAT_CONTROLS), PRIVATE_CHAT_CONTROLS},
    {DIALOG_BROWSE, u"", nullptr, COUNT_OF(BROWSE_CONTROLS), BROWSE_CONTROLS},
    {DIALOG_FIND, u"Find", nullptr, COUNT_OF(FIND_CONTROLS), FIND_CONTROLS},
    {DIALOG_KEPT_LISTS, u"File lists", nullptr, COUNT_OF(KEPT_LISTS_CONTROLS), KEPT_LISTS_CONTROLS},
};

// --- Menus: the popups that "Menu" soft keys open --------------------------------

constexpr MenuEntry MAIN_MENU[] = {
    {u"exit", CMD_EXIT}, {u"Connect", CMD_CONNECT}, {u"Disconnect", CMD_DISCONNECT},
    {u"Clear Chat", CMD_CLEAR_CHAT}, {u"Downloads", CMD_DOWNLOADS}, {u"About", CMD_ABOUT},
    {u"Traffic", CMD_TRAFFIC}, {u"Users", CMD_USERS}, {u"Option", CMD_OPTION},
    {u"Private", CMD_PRIVATE},  // the tenth: key 0
    {u"File lists", CMD_FILE_LISTS},  // the eleventh: chosen with the arrows
};

constexpr MenuEntry SEARCH_MENU[] = {
    {u"Info", CMD_RESULT_INFO}, {u"Short", CMD_SHORT_NAMES}, {u"Full", CMD_FULL_PATHS}, {u"CANCEL", CMD_SEARCH_CANCEL},
    {u"Search", CMD_SEARCH}, {u"Exit search", CMD_SEARCH_EXIT}, {u"Ok", CMD_SEARCH_EXIT},
    {u"By name", CMD_SORT_NAME}, {u"By size", CMD_SORT_SIZE}, {u"By users", CMD_SORT_SOURCES},
    {u"Browse user's files", CMD_RESULT_BROWSE},
};

constexpr MenuEntry USERS_MENU[] = {
    {u"ToChat", CMD_USERS_TO_CHAT}, {u"Refresh", CMD_USERS_REFRESH}, {u"PRIVAT", CMD_USERS_PRIVATE}, {u"INFO", CMD_USERS_INFO},
    {u"Browse", CMD_USERS_BROWSE}, {u">nick", CMD_USERS_PRIVATE_LINE},
};

constexpr MenuEntry PROGRESS_MENU[] = {
    {u"Pause", CMD_QUEUE_PAUSE},   {u"Resume", CMD_QUEUE_RESUME},     {u"Retry now", CMD_QUEUE_RETRY},
    {u"Move up", CMD_QUEUE_UP},    {u"Move down", CMD_QUEUE_DOWN},    {u"Remove", CMD_QUEUE_REMOVE},
    {u"Clear finished", CMD_QUEUE_CLEAR}, {u"Details", CMD_QUEUE_DETAILS},
};

constexpr MenuEntry BROWSE_MENU[] = {
    {u"Download", CMD_BROWSE_DOWNLOAD}, {u"Info", CMD_BROWSE_INFO},
    {u"Find", CMD_BROWSE_FIND},         {u"Next", CMD_BROWSE_NEXT},
    {u"Sort by name", CMD_BROWSE_SORT_NAME}, {u"Sort by size", CMD_BROWSE_SORT_SIZE},
    {u"Refresh", CMD_BROWSE_REFRESH},
};

constexpr MenuEntry KEPT_LISTS_MENU[] = {
    {u"Open", CMD_KEPT_OPEN}, {u"Refresh", CMD_KEPT_REFRESH}, {u"Remove", CMD_KEPT_REMOVE},
};

// The main menu opens on "Connect", not on its first entry "exit": Menu and
// then Enter must not end the program. The order and the digits stay.
constexpr MenuResource MENUS[] = {
    {MENUBAR_MAIN, u"Menu", COUNT_OF(MAIN_MENU), MAIN_MENU, 1},
    {MENUBAR_SEARCH, u"Menu", COUNT_OF(SEARCH_MENU), SEARCH_MENU, 0},
    {MENUBAR_USERS, u"Menu", COUNT_OF(USERS_MENU), USERS_MENU, 0},
    {MENUBAR_PROGRESS, u"Menu", COUNT_OF(PROGRESS_MENU), PROGRESS_MENU, 0},
    {MENUBAR_BROWSE, u"Menu", COUNT_OF(BROWSE_MENU), BROWSE_MENU, 0},
    {MENUBAR_KEPT_LISTS, u"Menu", COUNT_OF(KEPT_LISTS_MENU), KEPT_LISTS_MENU, 0},
};

// --- Soft-key bars ----------------------------------------------------------------

constexpr MenuBarResource MENUBARS[] = {
    {MENUBAR_MAIN, {{STRING_MENU, 0, true}, {STRING_SEARCH, CMD_SEARCH_SCREEN, false}}},
    {MENUBAR_SETTINGS, {{STRING_OK, CMD_SETTINGS_OK, false}, {STRING_CANCEL, CMD_SETTINGS_CANCEL, false}}},
    {MENUBAR_SEARCH, {{STRING_MENU, 0, true}, {STRING_DOWNLOAD, CMD_DOWNLOAD, false}}},
    {MENUBAR_USERS, {{STRING_MENU, 0, true}, {STRING_EXIT, CMD_SCREEN_EXIT, false}}},
    {MENUBAR_PROGRESS, {{STRING_MENU, 0, true}, {STRING_EXIT, CMD_SCREEN_EXIT, false}}},
    {MENUBAR_PASSWORD, {{STRING_OK, CMD_PASSWORD_OK, false}, {STRING_CANCEL, CMD_PASSWORD_CANCEL, false}}},
    {MENUBAR_PRIVATE_LIST, {{STRING_OPEN, CMD_PRIVATE_OPEN, false}, {STRING_EXIT, CMD_SCREEN_EXIT, false}}},
    {MENUBAR_PRIVATE_CHAT, {{STRING_SEND, CMD_PRIVATE_SEND, false}, {STRING_EXIT, CMD_SCREEN_EXIT, false}}},
    {MENUBAR_BROWSE, {{STRING_MENU, 0, true}, {STRING_DOWNLOAD, CMD_BROWSE_DOWNLOAD, false}}},
    {MENUBAR_FIND, {{STRING_OK, CMD_FIND_OK, false}, {STRING_CANCEL, CMD_FIND_CANCEL, false}}},
    {MENUBAR_KEPT_LISTS, {{STRING_MENU, 0, true}, {STRING_EXIT, CMD_SCREEN_EXIT, false}}},
};

constexpr StringResource STRINGS[] = {
    {STRING_MENU, u"Menu"},
    {STRING_SEARCH, u"Search"},
    {STRING_OK, u"OK"},
    {STRING_CANCEL, u"CANCEL"},
    {STRING_DOWNLOAD, u"Download"},
    {STRING_EXIT, u"EXIT"},
    {STRING_OPEN, u"Open"},
    {STRING_SEND, u"Send"},
};

constexpr IconResource ICONS[] = {
    {ICON_PROGRAM, 16, 16, u'K'},
};

// Every lookup is a scan of a handful of rows: the tables are tiny.
template <typename Row, int N>
const Row* find_row(const Row (&rows)[N], ModuleInstance instance, int id) {
    if (instance != KIVO_INSTANCE) return nullptr;
    for (int i = 0; i < N; i++)
        if (rows[i].id == id) return &rows[i];
    return nullptr;
}

}  // namespace

const DialogTemplate* resource_dialog(ModuleInstance instance, int template_id) {
    return find_row(DIALOGS, instance, template_id);
}

const MenuResource* resource_menu(ModuleInstance instance, int menu_id) {
    return find_row(MENUS, instance, menu_id);
}

const MenuBarResource* resource_menubar(ModuleInstance instance, int menubar_id) {
    return find_row(MENUBARS, instance, menubar_id);
}

const char16_t* resource_string(ModuleInstance instance, int string_id) {
    const StringResource* row = find_row(STRINGS, instance, string_id);
    return row ? row->text : nullptr;
}

const IconResource* resource_icon(ModuleInstance instance, int icon_id) {
    return find_row(ICONS, instance, icon_id);
}

const ControlTemplate* resource_control(const DialogTemplate* dialog, int control_id) {
    if (!dialog) return nullptr;
    for (int i = 0; i < dialog->control_count; i++)
        if (dialog->controls[i].id == control_id) return &dialog->controls[i];
    return nullptr;
}
