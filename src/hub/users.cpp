// The UserTable and the Users screen.
//
// Data model: g_state.users holds USER_SLOTS slots; a slot is in use exactly
// while its present flag is set. There is no count: used and free slots may
// alternate anywhere. Freeing a slot clears only the flag; name and share text
// stay until a newcomer is written over them.
//
// Invariants:
//  - a present slot's name is 1 to 49 bytes and its share text 0 to 29 bytes,
//    both NUL-terminated within their fields (1251, as the hub sent them);
//  - no two present slots hold the same name. Users are found by exact name:
//    'bob' and 'bobby' are two users, and "$Quit bob" never frees 'bobby';
//  - g_slot_tenancy[s] changes whenever a new user is written into slot s and
//    moves with the slot when the table is sorted. The Users screen remembers,
//    per list position, the slot and tenancy it shows (UserListView), so a
//    command acts on the user shown at that position or on nobody, never on
//    whoever took the slot since the last fill.
//
// Hub input is untrusted. Only messages that begin "$MyINFO $ALL " or
// "$Quit " are used (the same words inside another message, such as a relayed
// private message, change nothing). A $MyINFO without the blank after the nick
// or without five '$' after it, or whose nick or share does not fit its field,
// is skipped whole; no scan goes past the message's NUL.
//
// Everything here runs on the user-interface thread and allocates nothing.
#include "hub/users.h"

#include <cstring>

#include "shell/main_screen.h"
#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

constexpr char MYINFO_PREFIX[] = "$MyINFO $ALL ";
constexpr char QUIT_PREFIX[] = "$Quit ";
// $MyINFO $ALL <nick> <description>$ $<connection>$<e-mail>$<share>$
// The share field lies between the fourth and the fifth '$' after the nick.
constexpr int MYINFO_SHARE_DOLLARS = 5;

uint32_t g_slot_tenancy[USER_SLOTS];

// Index of the first ch in text, or -1 when the text ends first.
int index_in_message(const char* text, char ch) {
    int k = find_char(text, ch);
    // Not found, find_char gives the length + 1: the byte before is the NUL.
    if (k > 0 && text[k - 1] == '\0') return -1;
    return k;
}

bool fits(const char* text, int bytes) { return strnlen(text, (size_t)bytes) < (size_t)bytes; }

// Names compare byte-wise as unsigned values, as strncmp does.
int name_compare(const char* a, const char* b) { return strncmp(a, b, USER_NAME_BYTES); }

// The message from just past "$MyINFO $ALL ", which starts with the nick.
void handle_my_info(char* text) {
    int blank = index_in_message(text, ' ');
    if (blank <= 0) return;  // no blank after the nick, or an empty nick
    int at = blank;
    int share_start = 0;
    for (int k = 1; k <= MYINFO_SHARE_DOLLARS; k++) {
        int d = index_in_message(text + at + 1, '$');
        if (d < 0) return;  // fewer than five '$': skipped
        at += 1 + d;
        if (k == MYINFO_SHARE_DOLLARS - 1) share_start = at + 1;
    }
    text[blank] = '\0';
    text[at] = '\0';
    update_user(text, text + share_start, 1);
}

void handle_quit(char* text) { update_user(text, "", 0); }

struct UserMessage {
    const char* prefix;
    int prefix_bytes;
    void (*handle)(char* rest);
};

const UserMessage USER_MESSAGES[] = {
    {MYINFO_PREFIX, (int)sizeof MYINFO_PREFIX - 1, handle_my_info},
    {QUIT_PREFIX, (int)sizeof QUIT_PREFIX - 1, handle_quit},
};

// Sort order: present slots before free ones, present ones by name.
bool slot_before(int a, int b) {
    const UserEntry& x = g_state.users[a];
    const UserEntry& y = g_state.users[b];
    if (!x.present || !y.present) return x.present && !y.present;
    return name_compare(x.name, y.name) < 0;
}

void swap_slots(int a, int b) {
    UserEntry held = g_state.users[a];
    g_state.users[a] = g_state.users[b];
    g_state.users[b] = held;
    uint32_t tenancy = g_slot_tenancy[a];
    g_slot_tenancy[a] = g_slot_tenancy[b];
    g_slot_tenancy[b] = tenancy;
}

// Moves the present slots to the front, keeping nothing else in order;
// returns how many there are.
int gather_present() {
    int count = 0;
    for (int s = 0; s < USER_SLOTS; s++) {
        if (!g_state.users[s].present) continue;
        if (s != count) swap_slots(s, count);
        count++;
    }
    return count;
}

// Restores the max-heap below root within slots [0, end).
void sift_down(int root, int end) {
    for (;;) {
        int child = 2 * root + 1;
        if (child >= end) return;
        if (child + 1 < end && slot_before(child, child + 1)) child++;
        if (!slot_before(root, child)) return;
        swap_slots(root, child);
        root = child;
    }
}

}  // namespace

void update_user(const char* nick, const char* share, uint8_t present) {
    // Never cut: a cut nick would name another user, a cut share a wrong size.
    if (nick[0] == '\0' || !fits(nick, USER_NAME_BYTES)) return;
    if (present && !fits(share, USER_SHARE_BYTES)) return;
    int found = -1;
    int free_slot = 0;  // the lowest free slot; slot 0 when the table is full
    for (int s = USER_SLOTS - 1; s >= 0; s--) {
        const UserEntry& user = g_state.users[s];
        if (!user.present) {
            free_slot = s;
        } else if (name_compare(user.name, nick) == 0) {
            found = s;
            break;
        }
    }
    if (present && found < 0) {
        // A full table takes the newcomer in slot 0, in place of its user.
        UserEntry& user = g_state.users[free_slot];
        text_copy(user.name, USER_NAME_BYTES, nick);
        text_copy(user.share, USER_SHARE_BYTES, share);
        user.present = 1;
        g_slot_tenancy[free_slot]++;
    } else if (!present && found >= 0) {
        g_state.users[found].present = 0;
    }
    // A user already present keeps the share text of his first $MyINFO.
}

void handle_user_message(char* message) {
    for (const UserMessage& kind : USER_MESSAGES) {
        if (is_prefix(kind.prefix, message)) {
            kind.handle(message + kind.prefix_bytes);
            return;
        }
    }
}

// An in-place heap sort of the present slots, gathered at the front first;
// no two present names are equal, so the order is fully determined.
void sort_users() {
    int count = gather_present();
    for (int i = count / 2 - 1; i >= 0; i--) sift_down(i, count);
    for (int end = count - 1; end > 0; end--) {
        swap_slots(0, end);
        sift_down(0, end);
    }
}

int format_user_line(const UserEntry* user, char16_t* line, int units) {
    // Read into 64 bits: shares of 2^31 bytes and more are common.
    unsigned long long bytes = decimal_to_u64(user->share);
    return wide_format(line, units, u"%S   %llu b", user->name, bytes);
}

// --- The Users screen -------------------------------------------------------------

namespace {

// What the list shows: for each position, the slot and its tenancy at the
// last fill. The list is not updated when the table changes while the screen
// is open; commands look the position up here and act only when the slot
// still holds the user shown.
struct UserListView {
    int32_t count;
    int16_t slot[USER_SLOTS];
    uint32_t tenancy[USER_SLOTS];
};
UserListView g_view;

// ">" + 49-byte name + " " and the terminator.
constexpr int ADDRESS_UNITS = USER_NAME_BYTES + 3;

// The user shown at the selected position, or nullptr when there is no
// selection or that user has left (or his slot has a new user) since the fill.
const UserEntry* selected_user() {
    int32_t position = g_state.user_selection;
    if (position < 0 || position >= g_view.count) return nullptr;
    int slot = g_view.slot[position];
    const UserEntry* user = &g_state.users[slot];
    if (!user->present || g_slot_tenancy[slot] != g_view.tenancy[position]) return nullptr;
    return user;
}

// Puts the selected user's name, in the given form, into the main screen's
// input line (replacing its text) and closes the Users screen. Nothing
// happens without a user to address.
void address_user(Window screen, const char16_t* format, bool caret_to_end) {
    const UserEntry* user = selected_user();
    if (user == nullptr) return;
    char16_t text[ADDRESS_UNITS];
    int length = wide_format(text, ADDRESS_UNITS, format, user->name);
    control_set_text(g_state.main_window, MAIN_INPUT_LINE, text);
    if (caret_to_end) control_send(g_state.main_window, MAIN_INPUT_LINE, EM_SETSEL, (WPARAM)length, length);
    dialog_end(screen, 0);
}

void command_to_chat(Window screen) { address_user(screen, u"%S:", false); }
void command_private(Window screen) { address_user(screen, u">%S ", true); }
void command_refresh(Window screen) { fill_user_list(screen); }
void command_exit(Window screen) { dialog_end(screen, 0); }

struct UsersCommand {
    int id;
    void (*run)(Window screen);
};

// "INFO" (6022) has no action and, like every command not listed, is left to
// the platform.
const UsersCommand USERS_COMMANDS[] = {
    {CMD_USERS_TO_CHAT, command_to_chat}, {CMD_USERS_PRIVATE, command_private},
    {IDOK, command_private},              {CMD_USERS_REFRESH, command_refresh},
    {CMD_USERS_EXIT, command_exit},
};

intptr_t users_screen_open(Window screen) {
    if (!screen_open_full(screen, USERS_MENUBAR, g_state.module_instance)) return FALSE;
    sort_users();
    fill_user_list(screen);
    return TRUE;
}

intptr_t users_screen_command(Window screen, WPARAM wparam) {
    int id = low_word(wparam);
    if (id == USERS_LIST_CONTROL) {
        // Any notification of the list: remember its selection (-1 for none).
        g_state.user_selection = (int32_t)control_send(screen, USERS_LIST_CONTROL, LB_GETCURSEL, 0, 0);
        return TRUE;
    }
    for (const UsersCommand& command : USERS_COMMANDS) {
        if (command.id == id) {
            command.run(screen);
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace

void fill_user_list(Window screen) {
    control_send(screen, USERS_LIST_CONTROL, LB_RESETCONTENT, 0, 0);
    g_view.count = 0;
    for (int s = 0; s < USER_SLOTS; s++) {
        const UserEntry& user = g_state.users[s];
        if (!user.present) continue;
        char16_t line[USER_LINE_UNITS];
        format_user_line(&user, line, USER_LINE_UNITS);
        // A list out of room refuses entries: stop, so positions stay true.
        if (control_send(screen, USERS_LIST_CONTROL, LB_ADDSTRING, 0, (LPARAM)line) < 0) break;
        g_view.slot[g_view.count] = (int16_t)s;
        g_view.tenancy[g_view.count] = g_slot_tenancy[s];
        g_view.count++;
    }
    // Restored by position, whoever is listed there; a position the list
    // does not have selects nothing.
    control_send(screen, USERS_LIST_CONTROL, LB_SETCURSEL, (WPARAM)(intptr_t)g_state.user_selection, 0);
    repaint_request(screen);
}

intptr_t users_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        return users_screen_open(screen);
    case WM_COMMAND:
        return users_screen_command(screen, wparam);
    case WM_HOTKEY:
        screen_hotkey(screen, wparam, lparam);
        return FALSE;
    case WM_CLOSE:
        dialog_end(screen, 0);
        return TRUE;
    default:
        return FALSE;  // paint and the rest: the platform's default
    }
}
