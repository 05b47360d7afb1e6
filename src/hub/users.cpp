// The UserTable, fed by the hub's $MyINFO and $Quit.
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
//  - a slot's tenancy changes whenever a new user is written into it and
//    moves with the slot when the table is sorted. The Users screen remembers,
//    per list position, the slot and tenancy it shows, so a command acts on
//    the user shown at that position or on nobody, never on whoever took the
//    slot since the last fill.
//
// Hub input is untrusted. Only messages that begin "$MyINFO $ALL " or
// "$Quit " are used (the same words inside another message, such as a relayed
// private message, change nothing). A $MyINFO without the blank after the nick
// or without five '$' after it, or whose nick or share does not fit its field,
// is skipped whole; no scan goes past the message's NUL.
//
// g_state.user_count is the number of present slots, kept by every change.
//
// Everything here runs on the user-interface thread and allocates nothing.
//
// Reaches g_state: the UserTable and its count.
#include "hub/users.h"

#include <cstring>

#include "state/client_state.h"
#include "state/text_scan.h"

namespace {

constexpr char MYINFO_PREFIX[] = "$MyINFO $ALL ";
constexpr char QUIT_PREFIX[] = "$Quit ";
// $MyINFO $ALL <nick> <description>$ $<connection>$<e-mail>$<share>$
// The share field lies between the fourth and the fifth '$' after the nick.
constexpr int MYINFO_SHARE_DOLLARS = 5;

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
        if (!user.present) g_state.user_count++;
        text_copy(user.name, USER_NAME_BYTES, nick);
        text_copy(user.share, USER_SHARE_BYTES, share);
        user.present = 1;
        user.tenancy++;
    } else if (!present && found >= 0) {
        g_state.users[found].present = 0;
        g_state.user_count--;
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
