// The results screen.
//
// The status line says where the last search stands, from the results and
// search_phase: "searching..." until a result comes or the wait is over (a
// timer of SEARCH_WAIT_MS from the send, running while the screen is open),
// then "N results" ("1 result"), "no results", or "first N shown" once the
// table is full. A folder is listed with a backslash after its name
// ("Music\"); it has no Download, and its Info says it is a folder.
//
// Reaches g_state: the results (read), search_phase, short_names,
// search_window, module_instance.
#include "screens/search_screen.h"

#include "hub/download_request.h"
#include "hub/search.h"
#include "protocol/hub_messages.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/client_state.h"

namespace {

constexpr int STATUS_UNITS = 40;
constexpr int REFUSAL_UNITS = 80;  // "cannot send ..." in the status line

// The text of a row as the list shows it: its short name, or in "Full" mode
// its path; a folder's with a backslash after it.
void result_list_text(const SearchResult* row, char16_t* text, int units) {
    int length = hub_text_to_utf16(g_state.short_names != 0 ? row->short_name : row->path, -1, text, units - 1);
    if (row->folder && length > 0) u16_append(text, units, u"\\");
}

void add_result_entry(Window screen, int row) {
    char16_t text[RESULT_TEXT_UNITS];
    result_list_text(&g_state.results[row], text, RESULT_TEXT_UNITS);
    control_send(screen, ID_SEARCH_LIST, LB_ADDSTRING, 0, (LPARAM)text);
}

void show_status(Window screen) {
    char16_t text[STATUS_UNITS];
    int count = g_state.result_count;
    if (g_state.search_phase == SEARCH_NOT_SENT) {
        text[0] = 0;
    } else if (count >= RESULT_ROWS) {
        wide_format(text, STATUS_UNITS, u"first %d shown", count);
    } else if (count == 1) {
        u16_copy(text, STATUS_UNITS, u"1 result");
    } else if (count > 1) {
        wide_format(text, STATUS_UNITS, u"%d results", count);
    } else {
        u16_copy(text, STATUS_UNITS, g_state.search_phase == SEARCH_WAITING ? u"searching..." : u"no results");
    }
    control_set_text(screen, ID_SEARCH_STATUS, text);
}

void close_search_screen(Window screen) {
    g_state.search_window = 0;  // results from now on are stored, not listed
    timer_kill(screen, SEARCH_WAIT_TIMER);
    dialog_end(screen, 0);
}

void command_info(Window screen) {
    int row = search_selected_row(screen);
    if (row < 0) return;  // nothing selected: nothing to show
    const SearchResult* r = &g_state.results[row];
    char16_t path[RESULT_PATH_BYTES];
    char16_t nick[RESULT_NICK_BYTES];
    hub_text_to_utf16(r->path, -1, path, RESULT_PATH_BYTES);
    hub_text_to_utf16(r->nick, -1, nick, RESULT_NICK_BYTES);
    char16_t text[RESULT_TEXT_UNITS];
    if (r->folder) {
        wide_format(text, RESULT_TEXT_UNITS, u"%s\nuser: %s\na folder", path, nick);
    } else {
        wide_format(text, RESULT_TEXT_UNITS, u"%s\nuser: %s\nsize:%llu bytes", path, nick, (unsigned long long)r->size);
    }
    if (r->tth[0] != '\0') {
        char16_t tth_line[TTH_TEXT_BYTES + 6];
        wide_format(tth_line, TTH_TEXT_BYTES + 6, u"\nTTH:%S", (const unsigned char*)r->tth);
        u16_append(text, RESULT_TEXT_UNITS, tth_line);
    }
    message_box(screen, text, u"item", 0);
}

void command_short(Window screen) {
    g_state.short_names = 1;
    fill_result_list(screen);
}

void command_full(Window screen) {
    g_state.short_names = 0;
    fill_result_list(screen);
}

void command_download(Window screen) {
    int row = search_selected_row(screen);
    if (row < 0) return;  // no row to download
    if (g_state.results[row].folder) {
        // Only files are fetched; the screen stays for another choice.
        control_set_text(screen, ID_SEARCH_STATUS, u"a folder cannot be downloaded");
        return;
    }
    download_request_send(row);
    close_search_screen(screen);
}

// The Action key: on a selected result it opens its Info, in the search
// field it searches.
void command_action(Window screen) {
    if (control_focused_id(screen) == ID_SEARCH_LIST && search_selected_row(screen) >= 0) {
        command_info(screen);
    } else {
        search_screen_send(screen);
    }
}

// "CANCEL" is absent on purpose: it has no action and is left unhandled.
const ScreenCommand SEARCH_COMMANDS[] = {
    {IDOK, command_action},             {CMD_SEARCH, search_screen_send},
    {CMD_RESULT_INFO, command_info},    {CMD_SHORT_NAMES, command_short},
    {CMD_FULL_PATHS, command_full},     {CMD_SEARCH_EXIT, close_search_screen},
    {CMD_DOWNLOAD, command_download},
};

intptr_t search_screen_open(Window screen) {
    g_state.search_window = screen;
    int ready = screen_open_full(screen, MENUBAR_SEARCH, g_state.module_instance);
    // Listed even when the set-up failed: rows are appended to this list from
    // now on, and its positions must stay equal to the row numbers.
    fill_result_list(screen);
    // A search still waiting gets its wait anew: the timer ran only while
    // the screen was open.
    if (g_state.search_phase == SEARCH_WAITING && g_state.result_count == 0) {
        timer_set(screen, SEARCH_WAIT_TIMER, SEARCH_WAIT_MS);
    }
    show_status(screen);
    return ready ? TRUE : FALSE;
}

intptr_t search_screen_other(Window screen, uint32_t message, WPARAM wparam, LPARAM) {
    if (message == WM_TIMER && wparam == SEARCH_WAIT_TIMER) {
        timer_kill(screen, SEARCH_WAIT_TIMER);
        if (g_state.search_phase == SEARCH_WAITING) g_state.search_phase = SEARCH_WAIT_OVER;
        show_status(screen);
        return TRUE;
    }
    if (message != WM_RESULT_ADDED) return FALSE;
    add_result_entry(screen, (int)wparam);
    // The first result is selected, so Info and Download act on a row at once.
    if (control_send(screen, ID_SEARCH_LIST, LB_GETCURSEL, 0, 0) < 0) {
        control_send(screen, ID_SEARCH_LIST, LB_SETCURSEL, wparam, 0);
    }
    show_status(screen);
    repaint_request(screen);
    return TRUE;
}

const ScreenKind SEARCH_SCREEN = {
    search_screen_open, nullptr, close_search_screen,
    SEARCH_COMMANDS, command_count(SEARCH_COMMANDS), search_screen_other, nullptr, false,
};

}  // namespace

void search_screen_send(Window screen) {
    char16_t text[SEARCH_TEXT_UNITS];
    control_get_text(screen, ID_SEARCH_WORDS, text, SEARCH_TEXT_UNITS);
    // Words the hub's encoding cannot carry are not sent changed: the status
    // line names the character, and nothing else changes.
    char16_t refused[REFUSAL_UNITS];
    if (!hub_text_sendable(text, u"words", refused, REFUSAL_UNITS)) {
        control_set_text(screen, ID_SEARCH_STATUS, refused);
        return;
    }
    control_send(screen, ID_SEARCH_LIST, LB_RESETCONTENT, 0, 0);
    char words[SEARCH_WORDS_BYTES];
    utf16_to_hub_text(text, -1, words, SEARCH_WORDS_BYTES);
    // The words stay in the field: to search again, or with one changed.
    search_send(words);
    timer_set(screen, SEARCH_WAIT_TIMER, SEARCH_WAIT_MS);
    show_status(screen);
}

void fill_result_list(Window screen) {
    intptr_t selected = control_send(screen, ID_SEARCH_LIST, LB_GETCURSEL, 0, 0);
    control_send(screen, ID_SEARCH_LIST, LB_RESETCONTENT, 0, 0);
    for (int r = 0; r < g_state.result_count; r++) add_result_entry(screen, r);
    if (selected >= 0 && selected < g_state.result_count) {
        control_send(screen, ID_SEARCH_LIST, LB_SETCURSEL, (WPARAM)selected, 0);
    }
    repaint_request(screen);
}

int search_selected_row(Window screen) {
    intptr_t selected = control_send(screen, ID_SEARCH_LIST, LB_GETCURSEL, 0, 0);
    if (selected < 0 || selected >= g_state.result_count) return -1;
    return (int)selected;
}

intptr_t search_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(SEARCH_SCREEN, screen, message, wparam, lparam);
}
