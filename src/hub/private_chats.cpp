// The private conversations.
//
// A conversation's text is its lines one after the other, each ending in the
// line break. An append that would pass PRIVATE_CHAT_UNITS - 1 units first
// drops the oldest whole lines (up to and including a '\n'), and so does one
// that leaves more than PRIVATE_CHAT_LINES line breaks; only the text in use
// is ever moved or written, so a conversation's unused pages stay untouched.
//
// Reaches g_state: private_chats, private_clock, private_open and the
// windows of the main and Private screens (repaints), the line break.
#include "hub/private_chats.h"

#include <cstring>

#include "state/client_state.h"

namespace {

bool on_screen(int slot) { return g_state.private_chat_window != 0 && g_state.private_open == slot; }

void touch(PrivateChat& chat) { chat.last_used = ++g_state.private_clock; }

// Drops the oldest line: up to and including the first '\n', or all of the
// text when it holds none.
void drop_oldest(PrivateChat& chat) {
    int end = 0;
    while (end < chat.length && chat.text[end] != u'\n') end++;
    if (end < chat.length) {
        end++;
        chat.lines--;
    } else {
        chat.lines = 0;
    }
    memmove(chat.text, chat.text + end, (size_t)(chat.length - end) * sizeof(char16_t));
    chat.length -= end;
    chat.text[chat.length] = 0;
}

void append(PrivateChat& chat, const char16_t* line) {
    char16_t whole[CHAT_LINE_UNITS + LINE_BREAK_UNITS];
    u16_copy(whole, CHAT_LINE_UNITS, line);
    u16_append(whole, CHAT_LINE_UNITS + LINE_BREAK_UNITS, g_state.line_break);
    int add = u16_len(whole);
    static_assert(CHAT_LINE_UNITS + LINE_BREAK_UNITS < PRIVATE_CHAT_UNITS, "a line always fits");
    while (chat.length > 0 && chat.length + add > PRIVATE_CHAT_UNITS - 1) drop_oldest(chat);
    memcpy(chat.text + chat.length, whole, (size_t)add * sizeof(char16_t));
    chat.length += add;
    chat.text[chat.length] = 0;
    for (int i = 0; i < add; i++)
        if (whole[i] == u'\n') chat.lines++;
    while (chat.lines > PRIVATE_CHAT_LINES) drop_oldest(chat);
    touch(chat);
}

void changed(int slot) {
    if (g_state.main_window != 0) repaint_request(g_state.main_window);
    if (g_state.private_list_window != 0) repaint_request(g_state.private_list_window);
    if (on_screen(slot)) repaint_request(g_state.private_chat_window);
}

// The slot a new conversation takes: a free one, else the least recently
// used with nothing unread, else the least recently used; never the one on
// screen.
int slot_to_take() {
    int read = -1, any = -1;
    for (int s = 0; s < PRIVATE_CHATS; s++) {
        const PrivateChat& chat = g_state.private_chats[s];
        if (chat.nick[0] == '\0') return s;
        if (on_screen(s)) continue;
        uint32_t used = chat.last_used;
        if (any < 0 || used < g_state.private_chats[any].last_used) any = s;
        if (chat.unread == 0 && (read < 0 || used < g_state.private_chats[read].last_used)) read = s;
    }
    return read >= 0 ? read : any;
}

}  // namespace

int private_chat_find(const char* nick) {
    if (nick[0] == '\0') return -1;
    for (int s = 0; s < PRIVATE_CHATS; s++)
        if (strcmp(g_state.private_chats[s].nick, nick) == 0) return s;
    return -1;
}

int private_chat_start(const char* nick) {
    int slot = private_chat_find(nick);
    if (slot >= 0 || nick[0] == '\0' || (int)strlen(nick) > USER_NAME_BYTES - 1) return slot;
    slot = slot_to_take();
    PrivateChat& chat = g_state.private_chats[slot];
    text_copy(chat.nick, USER_NAME_BYTES, nick);
    chat.unread = 0;
    chat.lines = 0;
    chat.length = 0;
    chat.text[0] = 0;
    touch(chat);
    changed(slot);
    return slot;
}

void private_chat_add_line(int slot, const char* line, bool received) {
    if (slot < 0 || slot >= PRIVATE_CHATS) return;
    char16_t wide[CHAT_LINE_UNITS];
    hub_text_to_utf16(line, -1, wide, CHAT_LINE_UNITS);
    PrivateChat& chat = g_state.private_chats[slot];
    append(chat, wide);
    if (received && !on_screen(slot) && chat.unread < UINT16_MAX) chat.unread++;
    changed(slot);
}

void private_chat_add_note(int slot, const char16_t* note) {
    if (slot < 0 || slot >= PRIVATE_CHATS) return;
    append(g_state.private_chats[slot], note);
    changed(slot);
}

void private_chat_read(int slot) {
    if (slot < 0 || slot >= PRIVATE_CHATS) return;
    PrivateChat& chat = g_state.private_chats[slot];
    touch(chat);
    if (chat.unread == 0) return;
    chat.unread = 0;
    changed(slot);
}

int private_chats_unread(int* latest) {
    int count = 0, newest = -1;
    for (int s = 0; s < PRIVATE_CHATS; s++) {
        const PrivateChat& chat = g_state.private_chats[s];
        if (chat.nick[0] == '\0' || chat.unread == 0) continue;
        count++;
        if (newest < 0 || chat.last_used > g_state.private_chats[newest].last_used) newest = s;
    }
    if (latest != nullptr) *latest = newest;
    return count;
}

int private_chats_by_use(int* slots) {
    int count = 0;
    for (int s = 0; s < PRIVATE_CHATS; s++) {
        if (g_state.private_chats[s].nick[0] == '\0') continue;
        // Insertion by last use, newest first: sixteen at most.
        int at = count++;
        while (at > 0 && g_state.private_chats[slots[at - 1]].last_used < g_state.private_chats[s].last_used) {
            slots[at] = slots[at - 1];
            at--;
        }
        slots[at] = s;
    }
    return count;
}
