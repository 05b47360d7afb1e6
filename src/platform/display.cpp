// The display in use, the headless display, and what tests read and press.
//
// Model: one current Display (a record of operations) and one DisplayGrid
// that the loop draws the topmost screen into whenever something changed.
// The headless display shows nothing, has no input of its own (tests push
// keys into the loop's key ring) and changes size only when asked. The grid
// keeps the last drawing after screens end, so a test can read it afterwards.
//
// Own state: the grid (g_grid), the display in use (g_current), the test's
// idle hook (g_idle_hook, g_idle_context, g_in_hook), the headless display's
// pending size (g_pending_cols, g_pending_rows, g_headless_resized) and
// whether the terminal is wanted (g_terminal_preferred). They are the
// platform's own (what the phone's screen showed and how it was driven), not
// the client's, so they live here and not in the client's one record.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform_internal.h"

namespace {

DisplayGrid g_grid;
const Display* g_current;
DisplayIdleHook g_idle_hook;
void* g_idle_context;
bool g_in_hook;
int g_pending_cols, g_pending_rows;
bool g_headless_resized;
bool g_terminal_preferred;

void headless_present(const DisplayGrid*) {}
int headless_input_fd() { return -1; }
void headless_read_input(int) {}
void headless_drop_input() {}  // its keys are all in the loop's ring
void headless_redraw_all() {}
void headless_stop() {}

int headless_take_resize(int* cols, int* rows) {
    if (!g_headless_resized) return 0;
    g_headless_resized = false;
    *cols = g_pending_cols;
    *rows = g_pending_rows;
    return 1;
}

const Display HEADLESS = {
    headless_present, headless_input_fd, headless_read_input, headless_drop_input, headless_take_resize,
    headless_redraw_all, headless_stop, nullptr,
};

// The row's cells as terminated UTF-16; returns units before the terminator.
int row_units(int row, char16_t* out, int units) {
    int n = 0;
    for (int c = 0; c < g_grid.cols && n + 3 <= units; c++) {  // room for a pair and the terminator
        char32_t ch = g_grid.cells[row][c].ch;
        if (ch == CELL_WIDE_TAIL) continue;  // the wide character before it is the whole of it
        n += utf16_encode(ch ? ch : U' ', out + n);
    }
    out[n] = 0;
    return n;
}

}  // namespace

void display_clamp_size(int* cols, int* rows) {
    if (*cols > DISPLAY_COLS_MAX) *cols = DISPLAY_COLS_MAX;
    if (*rows > DISPLAY_ROWS_MAX) *rows = DISPLAY_ROWS_MAX;
    if (*cols < 4) *cols = 4;  // below this not even the frame fits
    if (*rows < 4) *rows = 4;
}

void display_resize(int cols, int rows) {
    display_clamp_size(&cols, &rows);
    g_grid.cols = cols;
    g_grid.rows = rows;
    screens_keep_in_view();
    // Every screen paints anew at the new size, as after any change of what
    // it shows: its procedure's paint rule (a chat view that keeps its end in
    // view) runs again.
    for (int i = 0; i < screen_depth(); i++) repaint_request(screen_at(i)->window);
    display_mark_dirty();
}

void display_use(const Display* display, int cols, int rows) {
    // Both displays measure characters under a UTF-8 LC_CTYPE (see cells.cpp).
    cells_measure_utf8();
    g_current = display;
    display_resize(cols, rows);
    grid_clear(&g_grid);
}

const Display* display_current() {
    if (!g_current && g_terminal_preferred) {
        // The check passed at start-up; curses itself failing leaves no screen.
        if (display_start_terminal() != 0) exit(1);
    }
    if (!g_current) display_start_headless(80, 24);
    return g_current;
}

DisplayGrid* display_grid() { return &g_grid; }

bool display_idle_hook_set() { return g_idle_hook != nullptr; }

bool display_idle_hook_running() { return g_in_hook; }

int display_idle_hook_call() {
    if (!g_idle_hook || g_in_hook) return 0;
    g_in_hook = true;
    g_idle_hook(g_idle_context);
    g_in_hook = false;
    return 1;
}

// --- display.h ---------------------------------------------------------------------------

int display_start_terminal() {
    int cols, rows;
    if (g_current && g_current != &HEADLESS) return 0;
    const Display* terminal = terminal_display_start(&cols, &rows);
    if (!terminal) return -1;
    display_use(terminal, cols, rows);
    return 0;
}

int display_prefer_terminal() {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        fprintf(stderr, "kivo: standard input and output must be a terminal\n");
        return -1;
    }
    g_terminal_preferred = true;
    return 0;
}

int display_start_headless(int cols, int rows) {
    if (g_current) g_current->stop();
    g_headless_resized = false;
    display_use(&HEADLESS, cols, rows);
    return 0;
}

void display_stop() {
    if (!g_current) return;
    const Display* stopping = g_current;
    g_current = nullptr;
    stopping->stop();
}

void display_headless_resize(int cols, int rows) {
    display_clamp_size(&cols, &rows);
    g_pending_cols = cols;
    g_pending_rows = rows;
    g_headless_resized = true;
}

void display_press(DisplayKey key) {
    DisplayKeyEvent event = {key, 0};
    key_push(&event);
}

void display_type(const char* utf8) {
    char16_t units[1024];
    int n = utf8_to_utf16(utf8, -1, units, 1024) - 1;
    for (int at = 0; at < n;) {
        DisplayKeyEvent event = {DISPLAY_KEY_CHAR, utf16_decode(units, n, &at)};
        key_push(&event);
    }
}

int display_row_text(int row, char* utf8, int bytes) {
    if (!utf8 || bytes <= 0) return 0;
    utf8[0] = 0;
    if (row < 0 || row >= g_grid.rows) return 0;
    char16_t units[DISPLAY_COLS_MAX * 2 + 1];
    row_units(row, units, DISPLAY_COLS_MAX * 2 + 1);
    int written = utf16_to_utf8(units, -1, utf8, bytes);
    return written > 0 ? written - 1 : 0;
}

int display_row_marks(int row, char* out, int bytes) {
    if (!out || bytes <= 0) return 0;
    out[0] = 0;
    if (row < 0 || row >= g_grid.rows) return 0;
    int n = 0;
    for (int c = 0; c < g_grid.cols && n + 1 < bytes; c++) {
        uint8_t attr = g_grid.cells[row][c].attr;
        out[n++] = attr & CELL_REVERSE ? 'R' : attr & CELL_DIM ? 'D' : ' ';
    }
    out[n] = 0;
    return n;
}

int display_find(const char* utf8) {
    char line[DISPLAY_COLS_MAX * 4 + 1];
    for (int r = 0; r < g_grid.rows; r++) {
        display_row_text(r, line, sizeof line);
        if (strstr(line, utf8)) return r;
    }
    return -1;
}

int display_cols() { return g_grid.cols; }
int display_rows() { return g_grid.rows; }
const DisplayGrid* display_snapshot() { return &g_grid; }

void display_set_idle_hook(DisplayIdleHook hook, void* context) {
    g_idle_hook = hook;
    g_idle_context = context;
}
