// Passive search and the results screen.
//
// Data model: g_state.results[0 .. result_count-1] are the results of the last
// search in order of arrival; every other row is zero. A row is written once,
// whole, and only after its message has been checked, so a dropped message
// leaves no trace. The results screen's list (4008) holds exactly one entry
// per row, at the row's number: entries are appended as rows are, and the list
// is rebuilt whole on opening, "Short" and "Full".
//
// A $SR as the hub relays it to a passive searcher:
//   file:      $SR <nick> <path>\x05<size> <free>/<total>\x05<hub> (<addr>)
//   directory: $SR <nick> <path> <free>/<total>\x05<hub> (<addr>)
// optionally followed by \x05<searcher nick> (hubs usually strip it). Paths are
// backslash-separated and may begin with a backslash. Field limits
// (SearchResult): nick 49, path 149, short name 51 bytes. A result whose
// field does not fit is dropped whole, never cut: a cut path would ask the
// peer for another file, and a short name taken from a cut path would name
// the local file wrongly.
#include "hub/search.h"

#include <cstring>

#include "state/client_state.h"
#include "state/text_scan.h"
#include "transfer/download.h"

namespace {

// Index of the first ch in text, or -1 when the text's NUL comes first.
// find_char gives the length + 1 when ch is absent; that index lies past the
// NUL and must never be read.
int field_end(const char* text, char ch) {
    int k = find_char(text, ch);
    int length = find_char(text, '\0');
    return k < length ? k : -1;
}

// Walks back over one run of digits ending at text[i]; gives the index before
// the run, or -2 when there is no digit at i.
int skip_digits_back(const char* text, int i) {
    if (i < 0 || !is_digit(text[i])) return -2;
    while (i >= 0 && is_digit(text[i])) i--;
    return i;
}

// A directory result has no 0x05 before its slots, so the text before the
// first 0x05 ends in " <free>/<total>". A file path never does: '/' cannot
// occur in a shared file's name (it separates directories on every sharing
// system, and shares are sent with backslashes). Gives the index of the blank
// before the slots, or -1 for a file.
int directory_slots_start(const char* text, int length) {
    int i = skip_digits_back(text, length - 1);
    if (i < 0 || text[i] != '/') return -1;
    i = skip_digits_back(text, i - 1);
    if (i < 0 || text[i] != ' ') return -1;
    return i;
}

// The text of a row as the list shows it: its short name, or in "Full" mode its path.
const char* result_list_text(const SearchResult* row) {
    // Reads g_state.short_names.
    return g_state.short_names != 0 ? row->short_name : row->path;
}

void add_result_entry(Window screen, int row) {
    char16_t text[RESULT_TEXT_UNITS];
    cp1251_to_utf16(result_list_text(&g_state.results[row]), -1, text, RESULT_TEXT_UNITS);
    control_send(screen, SEARCH_LIST_ID, LB_ADDSTRING, 0, (LPARAM)text);
}

}  // namespace

int build_search_message(const char* nick, const char* words, char* out, int out_bytes) {
    static const char HEAD[] = "$Search Hub:";
    static const char TERMS[] = " F?T?0?1?";  // no size limit, size is a maximum, size 0, any type
    int head = (int)sizeof HEAD - 1;
    int nick_length = (int)strlen(nick);
    int terms = (int)sizeof TERMS - 1;
    int words_length = (int)strlen(words);
    int length = head + nick_length + terms + words_length + 1;
    if (out_bytes <= 0) return 0;
    if (length > out_bytes - 1) {
        out[0] = '\0';  // a cut message would lose its '|': nothing is sent
        return 0;
    }
    memcpy(out, HEAD, (size_t)head);
    memcpy(out + head, nick, (size_t)nick_length);
    memcpy(out + head + nick_length, TERMS, (size_t)terms);
    char* p = out + head + nick_length + terms;
    // The protocol separates search words with '$'; nothing else is escaped.
    for (int i = 0; i < words_length; i++) p[i] = words[i] == ' ' ? '$' : words[i];
    p[words_length] = '|';
    p[words_length + 1] = '\0';
    return length;
}

int parse_search_fields(char* message, SearchResult* out) {
    // Index 4 follows "$SR" and its blank; without the blank it would lie past
    // the NUL of a bare "$SR".
    if (message[0] != '$' || message[1] != 'S' || message[2] != 'R' || message[3] != ' ') return 0;
    char* nick = message + 4;
    int nick_length = field_end(nick, ' ');
    if (nick_length <= 0) return 0;  // no blank after the nick, or an empty nick
    nick[nick_length] = '\0';

    char* path = nick + nick_length + 1;
    int path_end = field_end(path, '\x05');
    if (path_end < 0) return 0;
    path[path_end] = '\0';

    uint64_t size = 0;  // a directory has none
    const char* hub_field = path + path_end + 1;  // a directory: right after its slots
    int path_length = directory_slots_start(path, path_end);
    if (path_length >= 0) {
        path[path_length] = '\0';
    } else {
        path_length = path_end;
        char* size_text = path + path_end + 1;
        int size_end = field_end(size_text, ' ');
        if (size_end < 0) return 0;
        size_text[size_end] = '\0';
        size = decimal_to_u64(size_text);
        const char* slots = size_text + size_end + 1;
        int slots_end = field_end(slots, '\x05');
        hub_field = slots_end < 0 ? nullptr : slots + slots_end + 1;
    }
    if (path_length == 0) return 0;  // nothing the peer could be asked for

    // The NUL written over the blank after the nick bounds the backward scan.
    const char* last = path + path_length - 1;
    const char* short_name = last + find_char_back(last, '\\') + 1;
    int short_length = (int)(path + path_length - short_name);
    if (nick_length > RESULT_NICK_BYTES - 1 || path_length > RESULT_PATH_BYTES - 1 ||
        short_length > RESULT_SHORT_BYTES - 1) {
        return 0;
    }
    memset(out, 0, sizeof *out);
    text_copy(out->nick, RESULT_NICK_BYTES, nick);
    text_copy(out->path, RESULT_PATH_BYTES, path);
    text_copy(out->short_name, RESULT_SHORT_BYTES, short_name);
    out->size = size;
    // Clients that hash their share put "TTH:<root>" where the hub name would be.
    if (hub_field != nullptr && is_prefix("TTH:", hub_field)) tth_take(hub_field + 4, out->tth);
    return 1;
}

void send_search(Window screen) {
    // Empties g_state.results (result_count 0); reads the nick and the HubSocket.
    control_send(screen, SEARCH_LIST_ID, LB_RESETCONTENT, 0, 0);
    // Rows past the count are never read, and each row is written whole when
    // it is taken, so the table is not cleared: clearing it would touch all
    // of its pages (about 100 KB) for every search.
    g_state.result_count = 0;

    char16_t text[SEARCH_TEXT_UNITS];
    control_get_text(screen, SEARCH_EDIT_ID, text, SEARCH_TEXT_UNITS);
    char words[SEARCH_TEXT_UNITS];  // one byte per UTF-16 unit
    utf16_to_cp1251(text, -1, words, SEARCH_TEXT_UNITS);

    char message[SEARCH_MESSAGE_BYTES];
    int length = build_search_message(g_state.settings.nick, words, message, SEARCH_MESSAGE_BYTES);
    if (length > 0) {
        // Not connected: the search goes nowhere, in silence, and still counts.
        if (g_state.hub_socket > 0) send_once(g_state.hub_socket, message, length);
        traffic_add_sent((uint32_t)length);
    }
    control_set_text(screen, SEARCH_EDIT_ID, u"");
}

void parse_search_result(char* message) {
    // Appends to g_state.results; lists the row on g_state.search_window.
    if (g_state.result_count >= RESULT_ROWS) return;  // full until the next search
    SearchResult row;
    if (!parse_search_fields(message, &row)) return;
    int r = g_state.result_count;
    g_state.results[r] = row;
    g_state.result_count = r + 1;
    if (g_state.search_window != 0) {
        add_result_entry(g_state.search_window, r);
        repaint_request(g_state.search_window);
    }
}

void fill_result_list(Window screen) {
    // Reads g_state.results, result_count and short_names.
    intptr_t selected = control_send(screen, SEARCH_LIST_ID, LB_GETCURSEL, 0, 0);
    control_send(screen, SEARCH_LIST_ID, LB_RESETCONTENT, 0, 0);
    for (int r = 0; r < g_state.result_count; r++) add_result_entry(screen, r);
    if (selected >= 0 && selected < g_state.result_count) {
        control_send(screen, SEARCH_LIST_ID, LB_SETCURSEL, (WPARAM)selected, 0);
    }
    repaint_request(screen);
}

int search_selected_row(Window screen) {
    intptr_t selected = control_send(screen, SEARCH_LIST_ID, LB_GETCURSEL, 0, 0);
    if (selected < 0 || selected >= g_state.result_count) return -1;
    return (int)selected;
}

// --- The results screen ---------------------------------------------------------

namespace {

void close_search_screen(Window screen) {
    g_state.search_window = 0;  // results from now on are stored, not listed
    dialog_end(screen, 0);
}

intptr_t command_search(Window screen) {
    send_search(screen);
    return TRUE;
}

intptr_t command_info(Window screen) {
    int row = search_selected_row(screen);
    if (row < 0) return TRUE;  // nothing selected: nothing to show
    const SearchResult* r = &g_state.results[row];
    char16_t text[RESULT_TEXT_UNITS];
    wide_format(text, RESULT_TEXT_UNITS, u"%S\nuser: %S\nsize:%llu bytes", (const unsigned char*)r->path,
                (const unsigned char*)r->nick, (unsigned long long)r->size);
    if (r->tth[0] != '\0') {
        char16_t tth_line[TTH_TEXT_BYTES + 6];
        wide_format(tth_line, TTH_TEXT_BYTES + 6, u"\nTTH:%S", (const unsigned char*)r->tth);
        u16_append(text, RESULT_TEXT_UNITS, tth_line);
    }
    message_box(screen, text, u"item", 0);
    return TRUE;
}

intptr_t command_short(Window screen) {
    g_state.short_names = 1;
    fill_result_list(screen);
    return TRUE;
}

intptr_t command_full(Window screen) {
    g_state.short_names = 0;
    fill_result_list(screen);
    return TRUE;
}

intptr_t command_exit(Window screen) {
    close_search_screen(screen);
    return TRUE;
}

intptr_t command_download(Window screen) {
    if (search_selected_row(screen) < 0) return TRUE;  // no row to download
    download_command(screen);
    close_search_screen(screen);
    return TRUE;
}

struct SearchCommand {
    int id;
    intptr_t (*run)(Window screen);
};

// "CANCEL" (6014) is absent on purpose: it has no action and is left unhandled.
const SearchCommand SEARCH_COMMANDS[] = {
    {IDOK, command_search},           {SEARCH_CMD_SEARCH, command_search},
    {SEARCH_CMD_INFO, command_info},  {SEARCH_CMD_SHORT, command_short},
    {SEARCH_CMD_FULL, command_full},  {SEARCH_CMD_EXIT, command_exit},
    {SEARCH_CMD_DOWNLOAD, command_download},
};

intptr_t init_search_screen(Window screen) {
    g_state.search_window = screen;
    int ready = screen_open_full(screen, SEARCH_MENUBAR_ID, g_state.module_instance);
    // Listed even when the set-up failed: the parser appends to this list from
    // now on, and its positions must stay equal to the row numbers.
    fill_result_list(screen);
    return ready ? TRUE : FALSE;
}

}  // namespace

intptr_t search_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        return init_search_screen(screen);
    case WM_COMMAND:
        for (const SearchCommand& c : SEARCH_COMMANDS) {
            if (c.id == low_word(wparam)) return c.run(screen);
        }
        return FALSE;
    case WM_HOTKEY:
        screen_hotkey(screen, wparam, lparam);
        return FALSE;
    case WM_CLOSE:
        close_search_screen(screen);
        return TRUE;
    default:
        return FALSE;
    }
}
