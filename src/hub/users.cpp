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
// Every $MyINFO of a present user writes his slot's info text, flag byte and
// mode anew (what INFO shows is what the hub said last); the share text stays
// the one of his first $MyINFO.
//
// g_state.user_count is the number of present slots, kept by every change.
//
// The index (g_state.user_index) holds exactly the present slots, each under
// its name, and a bit for each present slot: every change to a slot's present
// flag or to a present slot's name goes through index_add / index_remove, and
// the sort, which moves slots, makes the index anew. A $MyINFO then costs one
// short probe sequence instead of a walk over 3000 slots, and the lowest free
// slot is the lowest clear bit. A hub that picks nicks whose hashes collide
// can lengthen a probe sequence to at most the number of users, which is
// what every lookup cost before the index.
//
// Everything here runs on the user-interface thread and allocates nothing.
//
// Reaches g_state: the UserTable, its index and its count.
#include "hub/users.h"

#include <bit>
#include <cstring>

#include "hub/queue.h"
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

// --- The index ------------------------------------------------------------------

constexpr uint32_t INDEX_MASK = USER_INDEX_ENTRIES - 1;

// The entry where a name's probe sequence starts: FNV-1a over its bytes up
// to the NUL (at most a field's worth), spread by a multiplication so that
// the top bits, which are taken, depend on every byte. Equal names under
// name_compare have equal bytes, so they start at the same entry.
uint32_t name_home(const char* name) {
    uint32_t h = 2166136261u;
    for (int i = 0; i < USER_NAME_BYTES && name[i] != '\0'; i++) {
        h ^= (uint8_t)name[i];
        h *= 16777619u;
    }
    return (h * 0x9E3779B1u) >> (32 - USER_INDEX_BITS);
}

uint32_t next_entry(uint32_t e) { return (e + 1) & INDEX_MASK; }

void set_present_bit(int slot, bool on) {
    uint64_t& word = g_state.user_index.present[slot / 64];
    uint64_t bit = (uint64_t)1 << (slot % 64);
    word = on ? word | bit : word & ~bit;
}

// Enters a slot that has just become present, under its name. The index
// always has free entries (fewer slots than half its entries), so the probe
// ends.
void index_add(int slot) {
    int16_t* entries = g_state.user_index.slot_plus_one;
    uint32_t e = name_home(g_state.users[slot].name);
    while (entries[e] != 0) e = next_entry(e);
    entries[e] = (int16_t)(slot + 1);
    set_present_bit(slot, true);
}

// Takes a present slot out, while it still holds the name it was entered
// under. The entries after the hole, up to the next free one, are moved back
// into it where their own probe sequences pass it, so every sequence stays
// unbroken without tombstones.
void index_remove(int slot) {
    int16_t* entries = g_state.user_index.slot_plus_one;
    set_present_bit(slot, false);
    uint32_t hole = name_home(g_state.users[slot].name);
    while (entries[hole] != slot + 1) {
        if (entries[hole] == 0) return;  // not entered: nothing to take out
        hole = next_entry(hole);
    }
    entries[hole] = 0;
    for (uint32_t e = next_entry(hole); entries[e] != 0; e = next_entry(e)) {
        uint32_t home = name_home(g_state.users[entries[e] - 1].name);
        // Distances walked forward: the entry may fill the hole when its
        // sequence reached the hole on the way from its home to e.
        if (((e - home) & INDEX_MASK) >= ((e - hole) & INDEX_MASK)) {
            entries[hole] = entries[e];
            entries[e] = 0;
            hole = e;
        }
    }
}

// The lowest slot not present, or -1 when every slot is.
int lowest_free_slot() {
    for (int w = 0; w < USER_PRESENT_WORDS; w++) {
        uint64_t free_bits = ~g_state.user_index.present[w];
        if (free_bits == 0) continue;
        int slot = w * 64 + std::countr_zero(free_bits);
        return slot < USER_SLOTS ? slot : -1;  // bits past the last slot are never set
    }
    return -1;
}

// --- Messages ---------------------------------------------------------------------

// The tag: a description's last "<...>" when it ends the description.
// Gives its start, or -1.
int tag_start(const char* description, int length) {
    if (length < 2 || description[length - 1] != '>') return -1;
    for (int i = length - 2; i >= 0; i--) {
        if (description[i] == '<') return i;
    }
    return -1;
}

// The mode in a tag's "M:" item ("<++ V:0.868,M:A,H:1/0/0,S:3>").
uint8_t tag_mode(const char* tag, int length) {
    for (int i = 1; i + 2 < length; i++) {
        bool item = tag[i - 1] == ',' || tag[i - 1] == ' ' || tag[i - 1] == '<';
        if (!item || tag[i] != 'M' || tag[i + 1] != ':') continue;
        char m = tag[i + 2];
        return m == 'A' || m == 'P' || m == '5' ? (uint8_t)m : (uint8_t)USER_MODE_UNKNOWN;
    }
    return USER_MODE_UNKNOWN;
}

// Keeps what a $MyINFO said of a present user besides nick and share. The
// fields lie between the '$' signs: description (from desc to dollars[0]),
// a filler, connection and flag byte (dollars[1] to dollars[2]), e-mail
// (dollars[2] to dollars[3]); none holds a '$'.
void take_info(UserEntry* user, const char* text, int desc, const int* dollars) {
    const char* description = text + desc;
    int description_length = dollars[0] - desc;
    const char* connection = text + dollars[1] + 1;
    int connection_length = dollars[2] - dollars[1] - 1;
    user->flag = connection_length > 0 ? (uint8_t)connection[connection_length - 1] : 0;
    if (connection_length > 0) connection_length--;
    int tag = tag_start(description, description_length);
    int tag_length = tag < 0 ? 0 : description_length - tag;
    user->mode = tag < 0 ? (uint8_t)USER_MODE_UNKNOWN : tag_mode(description + tag, tag_length);
    if (tag >= 0) description_length = tag;
    while (description_length > 0 && description[description_length - 1] == ' ') description_length--;
    char* out = user->info;
    out[0] = '\0';
    text_copy_n(out, USER_INFO_BYTES, connection, connection_length);
    text_append(out, USER_INFO_BYTES, "$");
    int at = (int)strlen(out);
    text_copy_n(out + at, USER_INFO_BYTES - at, text + dollars[2] + 1, dollars[3] - dollars[2] - 1);
    text_append(out, USER_INFO_BYTES, "$");
    at = (int)strlen(out);
    text_copy_n(out + at, USER_INFO_BYTES - at, tag < 0 ? "" : description + tag, tag_length);
    text_append(out, USER_INFO_BYTES, "$");
    at = (int)strlen(out);
    text_copy_n(out + at, USER_INFO_BYTES - at, description, description_length);
}

// The message from just past "$MyINFO $ALL ", which starts with the nick.
void handle_my_info(char* text) {
    int blank = index_in_message(text, ' ');
    if (blank <= 0) return;  // no blank after the nick, or an empty nick
    int dollars[MYINFO_SHARE_DOLLARS];
    int at = blank;
    for (int k = 0; k < MYINFO_SHARE_DOLLARS; k++) {
        int d = index_in_message(text + at + 1, '$');
        if (d < 0) return;  // fewer than five '$': skipped
        at += 1 + d;
        dollars[k] = at;
    }
    text[blank] = '\0';
    text[at] = '\0';
    bool arrived = find_user(text) < 0;
    update_user(text, text + dollars[MYINFO_SHARE_DOLLARS - 2] + 1, 1);
    int slot = find_user(text);
    if (slot < 0) return;
    take_info(&g_state.users[slot], text, blank + 1, dollars);
    // With his mode known: a passive user's entries fail with their hint.
    if (arrived) queue_user_arrived(text);
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

int find_user(const char* nick) {
    const int16_t* entries = g_state.user_index.slot_plus_one;
    for (uint32_t e = name_home(nick); entries[e] != 0; e = next_entry(e)) {
        int slot = entries[e] - 1;
        if (name_compare(g_state.users[slot].name, nick) == 0) return slot;
    }
    return -1;
}

void user_index_rebuild() {
    user_index_empty();
    for (int s = 0; s < USER_SLOTS; s++) {
        if (g_state.users[s].present) index_add(s);
    }
}

void update_user(const char* nick, const char* share, uint8_t present) {
    // Never cut: a cut nick would name another user, a cut share a wrong size.
    if (nick[0] == '\0' || !fits(nick, USER_NAME_BYTES)) return;
    if (present && !fits(share, USER_SHARE_BYTES)) return;
    int found = find_user(nick);
    if (present && found < 0) {
        // The lowest free slot; a full table takes the newcomer in slot 0, in
        // place of its user.
        int slot = lowest_free_slot();
        if (slot < 0) {
            slot = 0;
            index_remove(0);  // under the old name, before it is written over
        } else {
            g_state.user_count++;
        }
        UserEntry& user = g_state.users[slot];
        text_copy(user.name, USER_NAME_BYTES, nick);
        text_copy(user.share, USER_SHARE_BYTES, share);
        user.present = 1;
        user.tenancy++;
        index_add(slot);
    } else if (!present && found >= 0) {
        index_remove(found);
        g_state.users[found].present = 0;
        g_state.user_count--;
    }
    // A user already present keeps the share text of his first $MyINFO.
}

int user_info_field(const UserEntry* user, int field, char* out, int out_bytes) {
    const char* text = user->info;
    for (int k = 0; k < field; k++) {
        int d = index_in_message(text, '$');
        if (d < 0) return text_copy(out, out_bytes, "");
        text += d + 1;
    }
    int end = index_in_message(text, '$');
    return text_copy_n(out, out_bytes, text, end < 0 ? USER_INFO_BYTES : end);
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
// no two present names are equal, so the order is fully determined. The sort
// moves users between slots: the index is made anew after it.
void sort_users() {
    int count = gather_present();
    for (int i = count / 2 - 1; i >= 0; i--) sift_down(i, count);
    for (int end = count - 1; end > 0; end--) {
        swap_slots(0, end);
        sift_down(0, end);
    }
    user_index_rebuild();
}
