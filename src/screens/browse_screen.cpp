// The browse screen: one folder of a user's file list.
//
// The list is the user's kept file list, opened into g_list when the screen
// opens and closed when it ends, so its arena is held only while a person
// browses. The screen shows one folder: its folders first, then its files,
// in the order chosen (by name or by size), each row laid out for the
// list's width in columns: the name (a folder's with a backslash after it),
// its size, and for a folder the files within it. Columns go from the right
// as the width shrinks; the name keeps at least NAME_MIN_CELLS.
//
// The title is "<nick>: <path>" (the path cut at its start when long). The
// Action key enters a folder and shows a file's Info; Back goes up a
// folder, and closes the screen at the top. Letters typed on the list go to
// the list's own type-ahead, which selects the first row of this folder that
// begins with them (rows begin with the name); Find, in the menu, looks
// through the whole list.
//
// A folder shows at most BROWSE_ROWS rows: from `first`, its child shown in
// the first row. A larger folder shows the window that holds what Find
// found, and the status line says which rows are shown.
//
// State of this file alone: the open list (g_list) and the picture of the
// screen (g_view): the user, the folder shown, the order, the entry at each
// row, the words Find looks for and its last match. Only the open screen
// reads them.
//
// Reaches g_state: module_instance, main_window (the owner of a box shown
// before the screen is up).
#include "screens/browse_screen.h"

#include <cstring>

#include "config/file_list.h"
#include "hub/file_lists.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/byte_size.h"
#include "state/client_state.h"

namespace {

// Posted to the screen by its own open: a cut list's note, shown in a box
// once the screen is up.
constexpr uint32_t WM_BROWSE_NOTE = 0x8101;

constexpr int BROWSE_ROWS = 2000;      // rows of one folder shown at a time
constexpr int ROW_UNITS = 512;         // a display's width of cells, and the terminator
constexpr int NAME_UNITS = 300;        // a name as shown: cut to what a row can hold
constexpr int PATH_BYTES = 4096;       // a path in the list's bytes (UTF-8)
constexpr int PATH_UNITS = PATH_BYTES; // the same path as UTF-16
constexpr int STATUS_UNITS = 200;
constexpr int INFO_UNITS = 1000;       // a message box shows about a thousand units
constexpr int FIND_UNITS = 100;        // the words typed into Find
constexpr int FIND_BYTES = 3 * FIND_UNITS;
constexpr int TITLE_PATH_ELLIPSIS = 3; // "..." before a path cut at its start

// Column widths in cells; 0: the column is left out.
constexpr int NAME_MIN_CELLS = 10;
constexpr int SIZE_CELLS = 10;   // "1023.9 MiB"
constexpr int FILES_CELLS = 13;  // "2000000 files"

struct BrowseColumns {
    int name, size, files;
};

struct BrowseView {
    char nick[RESULT_NICK_BYTES];  // hub encoding
    uint32_t folder;               // the folder shown
    FileListOrder order;
    uint32_t first;                // the folder's child in the first row
    uint32_t children;             // the folder's children in all
    int32_t rows;                  // rows listed
    uint32_t entry[BROWSE_ROWS];
    int32_t cells;                 // the width the rows were laid out for
    char16_t opening_note[STATUS_UNITS];  // for the status line once the screen is up
    char16_t find_typed[FIND_UNITS];
    char find_words[FIND_BYTES];   // UTF-8, as the list's names are
    int find_bytes;
    uint32_t found;                // the last match, FILE_LIST_NO_ENTRY: none yet
};

FileList g_list;
BrowseView g_view;

// --- What the rows show ------------------------------------------------------------

BrowseColumns columns_for(int cells) {
    BrowseColumns c{cells, 0, 0};
    int rest = cells - NAME_MIN_CELLS;
    if (rest >= SIZE_CELLS + 1) {
        c.size = SIZE_CELLS;
        rest -= SIZE_CELLS + 1;
        if (rest >= FILES_CELLS + 1) {
            c.files = FILES_CELLS;
            rest -= FILES_CELLS + 1;
        }
        c.name = NAME_MIN_CELLS + rest;
    }
    return c;
}

void files_text(const FileListEntry* e, char16_t* text, int units) {
    if (e->flags & FILE_LIST_INCOMPLETE) u16_copy(text, units, u"not listed");
    else wide_format(text, units, e->files == 1 ? u"%u file" : u"%u files", e->files);
}

void format_row(uint32_t entry, int cells, char16_t* line, int units) {
    const FileListEntry* e = file_list_entry(&g_list, entry);
    bool folder = (e->flags & FILE_LIST_FOLDER) != 0;
    char16_t name[NAME_UNITS];
    file_list_name_shown(&g_list, entry, name, NAME_UNITS - 1);
    if (folder) u16_append(name, NAME_UNITS, u"\\");
    BrowseColumns c = columns_for(cells);
    int at = 0;
    line[0] = 0;
    column_put(line, units, &at, name, c.name, false);
    char16_t field[FILES_CELLS + 8];
    if (c.size > 0) {
        field[0] = 0;
        if (!(e->flags & FILE_LIST_INCOMPLETE)) byte_size_text(e->size, field, FILES_CELLS + 8);
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.size, true);
    }
    if (c.files > 0) {
        field[0] = 0;
        if (folder) files_text(e, field, FILES_CELLS + 8);
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.files, true);
    }
}

// The entry's path as the list has it, shown: UTF-16, empty for the top.
void path_shown(uint32_t entry, char16_t* out, int units) {
    char path[PATH_BYTES];
    out[0] = 0;
    if (file_list_path(&g_list, entry, path, PATH_BYTES) > 0) utf8_to_utf16(path, -1, out, units);
}

// "<nick>: <path>", the path's start given up for "..." when it is long.
void show_title(Window screen) {
    char16_t nick[RESULT_NICK_BYTES];
    hub_text_to_utf16(g_view.nick, -1, nick, RESULT_NICK_BYTES);
    char16_t path[PATH_UNITS];
    path_shown(g_view.folder, path, PATH_UNITS);
    char16_t title[WINDOW_TITLE_UNITS];
    int at = wide_format(title, WINDOW_TITLE_UNITS, u"%s: ", nick);
    int length = u16_len(path);
    int room = WINDOW_TITLE_UNITS - 1 - at;
    if (length > room && room > TITLE_PATH_ELLIPSIS) {
        int from = length - (room - TITLE_PATH_ELLIPSIS);
        if (utf16_is_low_surrogate(path[from])) from++;
        u16_append(title, WINDOW_TITLE_UNITS, u"...");
        u16_append(title, WINDOW_TITLE_UNITS, path + from);
    } else {
        u16_append(title, WINDOW_TITLE_UNITS, path);
    }
    window_set_title(screen, title);
}

void set_status(Window screen, const char16_t* text) { control_set_text(screen, ID_BROWSE_STATUS, text); }

// --- The folder shown ----------------------------------------------------------------

// Lists the folder's children from g_view.first, and selects `selected` when
// it is among them (else the first row).
void fill_rows(Window screen, uint32_t selected) {
    const uint32_t* children = nullptr;
    g_view.children = file_list_children(&g_list, g_view.folder, g_view.order, &children);
    if (g_view.first >= g_view.children) g_view.first = 0;
    control_send(screen, ID_BROWSE_LIST, LB_RESETCONTENT, 0, 0);
    g_view.rows = 0;
    g_view.cells = list_text_cells(screen, ID_BROWSE_LIST);
    int position = 0;
    for (uint32_t i = g_view.first; i < g_view.children && g_view.rows < BROWSE_ROWS; i++) {
        char16_t line[ROW_UNITS];
        format_row(children[i], g_view.cells, line, ROW_UNITS);
        // A list out of room refuses entries: stop, so positions stay true.
        if (control_send(screen, ID_BROWSE_LIST, LB_ADDSTRING, 0, (LPARAM)line) < 0) break;
        if (children[i] == selected) position = g_view.rows;
        g_view.entry[g_view.rows++] = children[i];
    }
    if (g_view.rows > 0) control_send(screen, ID_BROWSE_LIST, LB_SETCURSEL, (WPARAM)position, 0);
    repaint_request(screen);
}

// The status line for the folder just shown: what it lacks, or which rows a
// large one shows.
void folder_status(Window screen) {
    char16_t text[STATUS_UNITS];
    const FileListEntry* e = file_list_entry(&g_list, g_view.folder);
    if (e->flags & FILE_LIST_INCOMPLETE) {
        u16_copy(text, STATUS_UNITS, u"not in this list: the user's client left it out");
    } else if (g_view.children == 0) {
        u16_copy(text, STATUS_UNITS, u"an empty folder");
    } else if ((uint32_t)g_view.rows < g_view.children) {
        wide_format(text, STATUS_UNITS, u"%u to %u of %u shown: Find reaches the others", g_view.first + 1,
                    g_view.first + (uint32_t)g_view.rows, g_view.children);
    } else {
        text[0] = 0;
    }
    set_status(screen, text);
}

// Shows `folder` with `selected` selected: the window of its rows that
// holds it, when the folder has more than a screen lists.
void show_folder(Window screen, uint32_t folder, uint32_t selected) {
    g_view.folder = folder;
    g_view.first = 0;
    const uint32_t* children = nullptr;
    uint32_t count = file_list_children(&g_list, folder, g_view.order, &children);
    for (uint32_t i = 0; i < count && selected != FILE_LIST_NO_ENTRY; i++) {
        if (children[i] != selected) continue;
        if (i >= (uint32_t)BROWSE_ROWS) g_view.first = i - (uint32_t)BROWSE_ROWS / 2;
        break;
    }
    fill_rows(screen, selected);
    show_title(screen);
    folder_status(screen);
}

// The entry of the selected row, or FILE_LIST_NO_ENTRY.
uint32_t selected_entry(Window screen) {
    intptr_t row = control_send(screen, ID_BROWSE_LIST, LB_GETCURSEL, 0, 0);
    if (row < 0 || row >= g_view.rows) return FILE_LIST_NO_ENTRY;
    return g_view.entry[row];
}

// --- Commands ------------------------------------------------------------------------

void command_info(Window screen) {
    uint32_t entry = selected_entry(screen);
    if (entry == FILE_LIST_NO_ENTRY) return;
    const FileListEntry* e = file_list_entry(&g_list, entry);
    char16_t path[PATH_UNITS];
    path_shown(entry, path, PATH_UNITS);
    if (path[0] == 0) file_list_name_shown(&g_list, entry, path, PATH_UNITS);  // a path too long to write whole
    char16_t size[BYTE_SIZE_UNITS];
    byte_size_text(e->size, size, BYTE_SIZE_UNITS);
    char16_t text[INFO_UNITS];
    int at = wide_format(text, INFO_UNITS, u"%s\n", path);
    if (e->flags & FILE_LIST_INCOMPLETE) {
        u16_append(text, INFO_UNITS, u"a folder this list does not show: the user's client left it out");
    } else if (e->flags & FILE_LIST_FOLDER) {
        wide_format(text + at, INFO_UNITS - at, u"a folder of %u files\nsize: %llu bytes (%s)", e->files,
                    (unsigned long long)e->size, size);
    } else {
        char tth[TTH_TEXT_BYTES + 1];
        file_list_tth_text(&g_list, entry, tth);
        wide_format(text + at, INFO_UNITS - at, u"size: %llu bytes (%s)\nTTH: %S", (unsigned long long)e->size, size,
                    tth[0] != 0 ? tth : "none");
    }
    message_box(screen, text, u"Info", 0);
}

// The Action key: a folder opens, a file shows its Info.
void command_action(Window screen) {
    uint32_t entry = selected_entry(screen);
    if (entry == FILE_LIST_NO_ENTRY) return;
    if (file_list_entry(&g_list, entry)->flags & FILE_LIST_FOLDER) {
        show_folder(screen, entry, FILE_LIST_NO_ENTRY);
    } else {
        command_info(screen);
    }
}

// Back: up a folder, the one left selected; at the top the screen closes.
bool browse_back(Window screen) {
    if (g_view.folder == FILE_LIST_ROOT) return false;
    uint32_t left = g_view.folder;
    show_folder(screen, file_list_entry(&g_list, left)->parent, left);
    return true;
}

// A file goes into the queue; a folder puts every file below it there.
void command_download(Window screen) {
    uint32_t entry = selected_entry(screen);
    if (entry == FILE_LIST_NO_ENTRY) return;
    int queued = queue_add_from_list(&g_list, entry, g_view.nick);
    char16_t text[STATUS_UNITS];
    if (queued == 0) u16_copy(text, STATUS_UNITS, u"nothing queued: the chat says why");
    else wide_format(text, STATUS_UNITS, queued == 1 ? u"1 file queued" : u"%d files queued", queued);
    set_status(screen, text);
}

// Looks for the words after the last match, through the whole list, and
// shows what it finds in its folder. At the end it says so and starts over.
void find_next(Window screen) {
    if (g_view.find_bytes == 0) return;
    uint32_t match = file_list_find(&g_list, g_view.find_words, g_view.find_bytes, g_view.found);
    char16_t text[STATUS_UNITS];
    if (match == FILE_LIST_NO_ENTRY) {
        wide_format(text, STATUS_UNITS,
                    g_view.found == FILE_LIST_NO_ENTRY ? u"\"%s\" is not in the list" : u"no more \"%s\": Next starts over",
                    g_view.find_typed);
        g_view.found = FILE_LIST_NO_ENTRY;
        set_status(screen, text);
        return;
    }
    g_view.found = match;
    show_folder(screen, file_list_entry(&g_list, match)->parent, match);
    wide_format(text, STATUS_UNITS, u"found \"%s\": Next finds the next", g_view.find_typed);
    set_status(screen, text);
}

void command_find(Window screen) {
    if (dialog_run(g_state.module_instance, DIALOG_FIND, 0, find_prompt_proc, 0) != IDOK) return;
    g_view.find_bytes = utf16_to_utf8(g_view.find_typed, -1, g_view.find_words, FIND_BYTES);
    if (g_view.find_bytes > 0) g_view.find_bytes--;  // the terminator counted
    g_view.found = FILE_LIST_NO_ENTRY;
    find_next(screen);
}

// Next without words asks for them first.
void command_next(Window screen) {
    if (g_view.find_bytes == 0) command_find(screen);
    else find_next(screen);
}

void sort_by(Window screen, FileListOrder order) {
    uint32_t selected = selected_entry(screen);
    g_view.order = order;
    show_folder(screen, g_view.folder, selected);
}
void command_sort_name(Window screen) { sort_by(screen, FILE_LIST_BY_NAME); }
void command_sort_size(Window screen) { sort_by(screen, FILE_LIST_BY_SIZE); }

void browse_close(Window screen) { dialog_end(screen, 0); }

// Fetches the list again; the screen opens anew at this folder when it has
// come (the main screen's WM_FILE_LIST_READY).
void command_refresh(Window screen) {
    char path[PATH_BYTES];
    char16_t wide[PATH_UNITS];
    char folder[PATH_BYTES];
    folder[0] = 0;
    if (file_list_path(&g_list, g_view.folder, path, PATH_BYTES) > 0) {
        utf8_to_utf16(path, -1, wide, PATH_UNITS);
        utf16_to_hub_text(wide, -1, folder, PATH_BYTES);
    }
    file_list_browse(g_view.nick, folder, 1);
    browse_close(screen);
}

intptr_t browse_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_BROWSE, g_state.module_instance)) return FALSE;
    show_folder(screen, g_view.folder, FILE_LIST_NO_ENTRY);
    if (g_view.opening_note[0] != 0) set_status(screen, g_view.opening_note);
    if (g_list.note[0] != 0) post_message(screen, WM_BROWSE_NOTE, 0, 0);
    control_set_focus(screen, ID_BROWSE_LIST);
    return TRUE;
}

intptr_t browse_other(Window screen, uint32_t message, WPARAM, LPARAM) {
    if (message != WM_BROWSE_NOTE) return FALSE;
    message_box(screen, g_list.note, u"The list is cut", 0);
    return TRUE;
}

// Rows are laid out for the list's width: a new width lays them out anew.
void browse_paint(Window screen) {
    if (list_text_cells(screen, ID_BROWSE_LIST) != g_view.cells) fill_rows(screen, selected_entry(screen));
}

const ScreenCommand BROWSE_COMMANDS[] = {
    {IDOK, command_action},
    {CMD_BROWSE_DOWNLOAD, command_download},
    {CMD_BROWSE_INFO, command_info},
    {CMD_BROWSE_FIND, command_find},
    {CMD_BROWSE_NEXT, command_next},
    {CMD_BROWSE_SORT_NAME, command_sort_name},
    {CMD_BROWSE_SORT_SIZE, command_sort_size},
    {CMD_BROWSE_REFRESH, command_refresh},
};

const ScreenKind BROWSE_SCREEN = {
    browse_open, browse_paint, browse_close, BROWSE_COMMANDS, command_count(BROWSE_COMMANDS),
    browse_other, browse_back, false,
};

// --- The Find prompt -------------------------------------------------------------------

intptr_t find_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_FIND, g_state.module_instance)) return FALSE;
    char16_t nick[RESULT_NICK_BYTES];
    hub_text_to_utf16(g_view.nick, -1, nick, RESULT_NICK_BYTES);
    char16_t label[RESULT_NICK_BYTES + 24];
    wide_format(label, RESULT_NICK_BYTES + 24, u"Find in %s's files", nick);
    control_set_text(screen, ID_FIND_LABEL, label);
    control_set_text(screen, ID_FIND_FIELD, g_view.find_typed);
    control_send(screen, ID_FIND_FIELD, EM_SETSEL, (WPARAM)u16_len(g_view.find_typed), u16_len(g_view.find_typed));
    control_set_focus(screen, ID_FIND_FIELD);
    return TRUE;
}

// Words that are only blanks find nothing: taken as none.
void find_ok(Window screen) {
    char16_t typed[FIND_UNITS];
    control_get_text(screen, ID_FIND_FIELD, typed, FIND_UNITS);
    bool words = false;
    for (int i = 0; typed[i] != 0; i++) words = words || typed[i] != u' ';
    if (!words) return;
    u16_copy(g_view.find_typed, FIND_UNITS, typed);
    dialog_end(screen, IDOK);
}

void find_cancel(Window screen) { dialog_end(screen, IDCANCEL); }

const ScreenCommand FIND_COMMANDS[] = {
    {IDOK, find_ok},
    {CMD_FIND_OK, find_ok},
    {CMD_FIND_CANCEL, find_cancel},
};

const ScreenKind FIND_PROMPT = {
    find_open, nullptr, find_cancel, FIND_COMMANDS, command_count(FIND_COMMANDS), nullptr, nullptr, false,
};

}  // namespace

void browse_screen_run(const char* nick, const char* folder) {
    // One list open at a time: a browse screen is up already.
    if (g_list.region != nullptr) return;
    char16_t shown_nick[RESULT_NICK_BYTES];
    hub_text_to_utf16(nick, -1, shown_nick, RESULT_NICK_BYTES);
    char16_t text[INFO_UNITS];
    char16_t path[PATH_UNITS];
    if (!file_list_cache_path(nick, path, PATH_UNITS)) {
        wide_format(text, INFO_UNITS, u"%s's list has no place in the cache folder", shown_nick);
        message_box(g_state.main_window, text, u"Browse", 0);
        return;
    }
    if (file_list_open(&g_list, path) == FILE_LIST_UNREAD) {
        wide_format(text, INFO_UNITS, u"cannot read %s's list: %s", shown_nick, g_list.note);
        file_list_close(&g_list);
        message_box(g_state.main_window, text, u"Browse", 0);
        return;
    }
    memset(&g_view, 0, sizeof g_view);
    text_copy(g_view.nick, RESULT_NICK_BYTES, nick);
    g_view.order = FILE_LIST_BY_NAME;
    g_view.found = FILE_LIST_NO_ENTRY;
    char16_t wide[PATH_UNITS];
    char wanted[PATH_BYTES];
    hub_text_to_utf16(folder, -1, wide, PATH_UNITS);
    utf16_to_utf8(wide, -1, wanted, PATH_BYTES);
    g_view.folder = file_list_folder_at(&g_list, wanted, g_view.order);
    if (g_view.folder == FILE_LIST_NO_ENTRY) {
        g_view.folder = FILE_LIST_ROOT;
        wide_format(g_view.opening_note, STATUS_UNITS, u"%s is not in the list: the top is shown", wide);
    }
    dialog_run(g_state.module_instance, DIALOG_BROWSE, 0, browse_screen_proc, 0);
    file_list_close(&g_list);
}

intptr_t browse_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(BROWSE_SCREEN, screen, message, wparam, lparam);
}

intptr_t find_prompt_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(FIND_PROMPT, screen, message, wparam, lparam);
}
