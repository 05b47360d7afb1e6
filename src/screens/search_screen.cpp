// The results screen.
//
// The status line says where the last search stands, from the results and
// search_phase: "searching..." until a result comes or the wait is over (a
// timer of SEARCH_WAIT_MS from the send, running while the screen is open),
// then "N results" ("1 result"), "no results", or "first N shown" once the
// table is full. A folder is listed with a backslash after its name
// ("Music\"); its Info says it is a folder, and its Download asks for its
// user's file list, from whose browse screen the folder is downloaded.
// "Browse user's files" asks for the selected result's user's list, to be
// shown at the result's folder (a file's folder, or the folder itself).
//
// The list shows the ResultView (hub/search.h), one entry per file, in
// columns laid out for the list's width: name, size, user ("4 users" for a
// file that several users share) and the free/total slots of the source a
// download would take. Columns go from the right as the width shrinks; the
// name keeps at least NAME_MIN_CELLS. The entries are formatted again
// whenever that width changes (checked at each paint, which a resize brings).
//
// State of this file alone: the picture of the list (below): for each list
// position, the result row that leads the entry shown there, and the width
// its entries were formatted for. Commands act on the entry the person sees
// selected, even when results that came since re-ordered the view.
//
// Reaches g_state: the results and result_view (read; sorted through
// hub/search), search_phase, short_names, search_window, module_instance.
#include "screens/search_screen.h"

#include "hub/file_lists.h"
#include "hub/queue.h"
#include "hub/search.h"
#include "protocol/hub_messages.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/byte_size.h"
#include "state/client_state.h"

namespace {

constexpr int STATUS_UNITS = 40;
constexpr int REFUSAL_UNITS = 80;  // "cannot send ..." in the status line
// The Info text: a message box shows at most about a thousand units.
constexpr int INFO_UNITS = 1000;

struct ResultListPicture {
    int32_t count;
    int16_t leader[RESULT_ROWS];
    int32_t cells;  // list_text_cells when the entries were formatted
};
ResultListPicture g_listed;

// Column widths in cells; 0: the column is left out.
constexpr int NAME_MIN_CELLS = 10;
constexpr int SIZE_CELLS = 10;        // "1023.9 MiB"
constexpr int USER_MIN_CELLS = 8;     // "12 users" fits
constexpr int USER_MAX_CELLS = 12;
constexpr int SLOTS_CELLS = 7;        // "999/999"

struct ResultColumns {
    int name, size, user, slots;
};

// The columns for entries of `cells` cells: the name first, then size, user
// and slots while they fit with a blank before each; what is left widens the
// user column (up to its maximum, half of it) and the name.
ResultColumns columns_for(int cells) {
    ResultColumns c{cells, 0, 0, 0};
    int rest = cells - NAME_MIN_CELLS;
    if (rest >= SIZE_CELLS + 1) {
        c.size = SIZE_CELLS;
        rest -= SIZE_CELLS + 1;
        if (rest >= USER_MIN_CELLS + 1) {
            c.user = USER_MIN_CELLS;
            rest -= USER_MIN_CELLS + 1;
            if (rest >= SLOTS_CELLS + 1) {
                c.slots = SLOTS_CELLS;
                rest -= SLOTS_CELLS + 1;
            }
            int grow = rest / 2 < USER_MAX_CELLS - USER_MIN_CELLS ? rest / 2 : USER_MAX_CELLS - USER_MIN_CELLS;
            c.user += grow;
            rest -= grow;
        }
        c.name = NAME_MIN_CELLS + rest;
    }
    return c;
}

// The name of a row as the list shows it: its short name, or in "Full" mode
// its path; a folder's with a backslash after it.
void result_list_text(const SearchResult* row, char16_t* text, int units) {
    int length = hub_text_to_utf16(g_state.short_names != 0 ? row->short_name : row->path, -1, text, units - 1);
    if (row->folder && length > 0) u16_append(text, units, u"\\");
}

void slots_text(const SearchResult* row, char16_t* text, int units) {
    text[0] = 0;
    if (row->slots_known) wide_format(text, units, u"%u/%u", (uint32_t)row->free_slots, (uint32_t)row->total_slots);
}

// The entry at view position p, laid out for `cells` cells (0: the list is
// not on the display; the name alone).
void format_result_entry(int p, int cells, char16_t* line, int units) {
    const ResultView& v = g_state.result_view;
    const SearchResult* leader = &g_state.results[v.leader[p]];
    char16_t name[RESULT_TEXT_UNITS];
    result_list_text(leader, name, RESULT_TEXT_UNITS);
    if (cells <= 0) {
        u16_copy(line, units, name);
        return;
    }
    ResultColumns c = columns_for(cells);
    int at = 0;
    line[0] = 0;
    column_put(line, units, &at, name, c.name, false);
    char16_t field[RESULT_NICK_BYTES + 8];
    if (c.size > 0) {
        field[0] = 0;
        if (!leader->folder) byte_size_text(leader->size, field, RESULT_NICK_BYTES + 8);
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.size, true);
    }
    if (c.user > 0) {
        if (v.sources[p] > 1) wide_format(field, RESULT_NICK_BYTES + 8, u"%d users", (int)v.sources[p]);
        else hub_text_to_utf16(leader->nick, -1, field, RESULT_NICK_BYTES + 8);
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.user, false);
    }
    if (c.slots > 0) {
        slots_text(&g_state.results[result_best_source(p)], field, RESULT_NICK_BYTES + 8);
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.slots, true);
    }
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

// Appends one entry at the list's end and to the picture.
bool list_entry_add(Window screen, int p) {
    char16_t line[RESULT_TEXT_UNITS];
    format_result_entry(p, g_listed.cells, line, RESULT_TEXT_UNITS);
    if (control_send(screen, ID_SEARCH_LIST, LB_ADDSTRING, 0, (LPARAM)line) < 0) return false;
    g_listed.leader[g_listed.count++] = g_state.result_view.leader[p];
    return true;
}

void close_search_screen(Window screen) {
    g_state.search_window = 0;  // results from now on are stored, not listed
    timer_kill(screen, SEARCH_WAIT_TIMER);
    dialog_end(screen, 0);
}

// The path, who shares it, its size, the TTH; for a file that several users
// share, each of them with their slots, as far as the box has room.
void command_info(Window screen) {
    int row = search_selected_row(screen);
    if (row < 0) return;  // nothing selected: nothing to show
    const SearchResult* r = &g_state.results[row];
    int position = result_view_position(row);
    int sources = position >= 0 ? g_state.result_view.sources[position] : 1;
    char16_t path[RESULT_PATH_BYTES];
    char16_t nick[RESULT_NICK_BYTES];
    char16_t slots[SLOTS_CELLS + 1];
    char16_t size[BYTE_SIZE_UNITS];
    hub_text_to_utf16(r->path, -1, path, RESULT_PATH_BYTES);
    hub_text_to_utf16(r->nick, -1, nick, RESULT_NICK_BYTES);
    slots_text(r, slots, SLOTS_CELLS + 1);
    byte_size_text(r->size, size, BYTE_SIZE_UNITS);
    char16_t text[INFO_UNITS];
    int at = wide_format(text, INFO_UNITS, u"%s\n", path);
    if (sources > 1) at += wide_format(text + at, INFO_UNITS - at, u"%d users", sources);
    else at += wide_format(text + at, INFO_UNITS - at, u"user: %s%s%s", nick, slots[0] ? u", slots " : u"", slots);
    if (r->folder) {
        u16_append(text, INFO_UNITS, u"\na folder");
    } else {
        wide_format(text + at, INFO_UNITS - at, u"\nsize:%llu bytes (%s)", (unsigned long long)r->size, size);
    }
    if (r->tth[0] != '\0') {
        char16_t tth_line[TTH_TEXT_BYTES + 6];
        wide_format(tth_line, TTH_TEXT_BYTES + 6, u"\nTTH:%S", (const unsigned char*)r->tth);
        u16_append(text, INFO_UNITS, tth_line);
    }
    // The sources, in order of arrival; those that do not fit are counted.
    int listed = 0;
    for (int s = row; s < g_state.result_count && sources > 1; s++) {
        if (s != row && !results_same_file(row, s)) continue;
        char16_t line[RESULT_NICK_BYTES + SLOTS_CELLS + 4];
        hub_text_to_utf16(g_state.results[s].nick, -1, nick, RESULT_NICK_BYTES);
        slots_text(&g_state.results[s], slots, SLOTS_CELLS + 1);
        wide_format(line, RESULT_NICK_BYTES + SLOTS_CELLS + 4, u"\n%s %s", nick, slots);
        // Room is kept for the "+N more" line.
        if (u16_len(text) + u16_len(line) + 16 > INFO_UNITS) {
            wide_format(line, RESULT_NICK_BYTES + SLOTS_CELLS + 4, u"\n+%d more", sources - listed);
            u16_append(text, INFO_UNITS, line);
            break;
        }
        u16_append(text, INFO_UNITS, line);
        listed++;
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

// Asks for the result's user's list at its folder: a file's folder is its
// path up to the last backslash, a folder result's its own path. A list
// kept already opens as soon as the main screen is shown; one that is
// fetched opens when it has come. Returns file_list_browse's answer.
int browse_result_user(int row) {
    const SearchResult* r = &g_state.results[row];
    char folder[RESULT_PATH_BYTES];
    text_copy(folder, RESULT_PATH_BYTES, r->path);
    if (!r->folder) {
        int cut = 0;
        for (int i = 0; folder[i] != 0; i++) {
            if (folder[i] == '\\') cut = i;
        }
        folder[cut] = 0;
    }
    return file_list_browse(r->nick, folder, 0);
}

void command_browse(Window screen) {
    int row = search_selected_row(screen);
    if (row < 0) return;  // no row: no user to browse
    if (browse_result_user(row)) close_search_screen(screen);
}

// Takes the source with the most free slots of the selected entry. A
// folder is taken from its user's file list: the list is asked for, and
// its browse screen (at that folder) downloads it.
void command_download(Window screen) {
    int row = search_selected_row(screen);
    if (row < 0) return;  // no row to download
    if (g_state.results[row].folder) {
        // The folder's files are known from its user's list: fetched, then
        // every file below the folder is queued.
        if (!file_list_fetch_folder(g_state.results[row].nick, g_state.results[row].path)) return;  // the chat says why
        close_search_screen(screen);
        return;
    }
    int source = result_best_source(result_view_position(row));
    if (source < 0) return;  // the listed entry is no longer in the view: nothing to take
    queue_add_result(source, row);  // saved under the name the person chose
    close_search_screen(screen);
}

void sort_by(Window screen, uint8_t sort) {
    result_view_sort(sort);
    fill_result_list(screen);
}
void command_sort_name(Window screen) { sort_by(screen, RESULT_SORT_NAME); }
void command_sort_size(Window screen) { sort_by(screen, RESULT_SORT_SIZE); }
void command_sort_sources(Window screen) { sort_by(screen, RESULT_SORT_SOURCES); }

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
    {CMD_DOWNLOAD, command_download},   {CMD_SORT_NAME, command_sort_name},
    {CMD_SORT_SIZE, command_sort_size}, {CMD_SORT_SOURCES, command_sort_sources},
    {CMD_RESULT_BROWSE, command_browse},
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
    bool had_selection = control_send(screen, ID_SEARCH_LIST, LB_GETCURSEL, 0, 0) >= 0;
    const ResultView& v = g_state.result_view;
    // A new entry at the end leaves the others where they are: it is added
    // alone. Anything else (another source, an entry sorted in) lists anew.
    bool appended = v.count == g_listed.count + 1 && v.leader[v.count - 1] == (int16_t)wparam &&
                    g_listed.cells == list_text_cells(screen, ID_SEARCH_LIST);
    if (!appended || !list_entry_add(screen, v.count - 1)) fill_result_list(screen);
    // The first result is selected, so Info and Download act on an entry at once.
    if (!had_selection) {
        control_send(screen, ID_SEARCH_LIST, LB_SETCURSEL, (WPARAM)(intptr_t)result_view_position((int)wparam), 0);
    }
    show_status(screen);
    repaint_request(screen);
    return TRUE;
}

// Entries are laid out for the list's width: a new width lays them out anew.
void search_screen_paint(Window screen) {
    if (list_text_cells(screen, ID_SEARCH_LIST) != g_listed.cells) fill_result_list(screen);
}

const ScreenKind SEARCH_SCREEN = {
    search_screen_open, search_screen_paint, close_search_screen,
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
    g_listed.count = 0;
    char words[SEARCH_WORDS_BYTES];
    utf16_to_hub_text(text, -1, words, SEARCH_WORDS_BYTES);
    // The words stay in the field: to search again, or with one changed.
    search_send(words);
    timer_set(screen, SEARCH_WAIT_TIMER, SEARCH_WAIT_MS);
    show_status(screen);
}

void fill_result_list(Window screen) {
    // The entry selected stays selected, wherever the view has put it.
    int selected = search_selected_row(screen);
    control_send(screen, ID_SEARCH_LIST, LB_RESETCONTENT, 0, 0);
    g_listed.count = 0;
    g_listed.cells = list_text_cells(screen, ID_SEARCH_LIST);
    for (int p = 0; p < g_state.result_view.count; p++) {
        if (!list_entry_add(screen, p)) break;  // a full list: positions stay true
    }
    if (selected >= 0) {
        control_send(screen, ID_SEARCH_LIST, LB_SETCURSEL, (WPARAM)(intptr_t)result_view_position(selected), 0);
    }
    repaint_request(screen);
}

int search_selected_row(Window screen) {
    intptr_t selected = control_send(screen, ID_SEARCH_LIST, LB_GETCURSEL, 0, 0);
    if (selected < 0 || selected >= g_listed.count) return -1;
    return g_listed.leader[selected];
}

intptr_t search_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(SEARCH_SCREEN, screen, message, wparam, lparam);
}
