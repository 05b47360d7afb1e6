// The display in use, the headless display, and what tests read and press.
//
// Model: one current Display (a record of operations) and one DisplayGrid
// that the loop draws the topmost screen into whenever something changed.
// The headless display shows nothing, has no input of its own (tests push
// keys into the loop's key ring) and changes size only when asked. The grid
// keeps the last drawing after screens end, so a test can read it afterwards.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform_internal.h"

namespace {

DisplayGrid grid;
const Display* current;
DisplayIdleHook idle_hook;
void* idle_context;
bool in_hook;
int pending_cols, pending_rows;
bool headless_resized;
bool terminal_preferred;

void headless_present(const DisplayGrid*) {}
int headless_input_fd() { return -1; }
void headless_read_input(int) {}
void headless_redraw_all() {}
void headless_stop() {}

int headless_take_resize(int* cols, int* rows) {
    if (!headless_resized) return 0;
    headless_resized = false;
    *cols = pending_cols;
    *rows = pending_rows;
    return 1;
}

const Display HEADLESS = {
    headless_present, headless_input_fd, headless_read_input, headless_take_resize,
    headless_redraw_all, headless_stop, nullptr,
};

// The row's cells as terminated UTF-16; returns units before the terminator.
int row_units(int row, char16_t* out, int units) {
    int n = 0;
    for (int c = 0; c < grid.cols && n + 3 <= units; c++) {
        char32_t ch = grid.cells[row][c].ch;
        if (ch >= 0x10000) {
            out[n++] = (char16_t)(0xD800 + ((ch - 0x10000) >> 10));
            out[n++] = (char16_t)(0xDC00 + ((ch - 0x10000) & 0x3FF));
        } else {
            out[n++] = ch ? (char16_t)ch : u' ';
        }
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

void display_use(const Display* display, int cols, int rows) {
    display_clamp_size(&cols, &rows);
    current = display;
    grid.cols = cols;
    grid.rows = rows;
    grid.cursor_row = grid.cursor_col = -1;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < cols; c++) grid.cells[r][c] = DisplayCell{U' ', 0};
    display_mark_dirty();
}

const Display* display_current() {
    if (!current && terminal_preferred) {
        // The check passed at start-up; curses itself failing leaves no screen.
        if (display_start_terminal() != 0) exit(1);
    }
    if (!current) display_start_headless(80, 24);
    return current;
}

DisplayGrid* display_grid() { return &grid; }

bool display_idle_hook_set() { return idle_hook != nullptr; }

int display_idle_hook_call() {
    if (!idle_hook || in_hook) return 0;
    in_hook = true;
    idle_hook(idle_context);
    in_hook = false;
    return 1;
}

// --- display.h ---------------------------------------------------------------------------

int display_start_terminal() {
    int cols, rows;
    if (current && current != &HEADLESS) return 0;
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
    terminal_preferred = true;
    return 0;
}

int display_start_headless(int cols, int rows) {
    if (current) current->stop();
    headless_resized = false;
    display_use(&HEADLESS, cols, rows);
    return 0;
}

void display_stop() {
    if (!current) return;
    const Display* stopping = current;
    current = nullptr;
    stopping->stop();
}

void display_headless_resize(int cols, int rows) {
    display_clamp_size(&cols, &rows);
    pending_cols = cols;
    pending_rows = rows;
    headless_resized = true;
}

void display_press(DisplayKey key) {
    DisplayKeyEvent event = {key, 0};
    key_push(&event);
}

void display_type(const char* utf8) {
    char16_t units[1024];
    int n = utf8_to_utf16(utf8, -1, units, 1024) - 1;
    for (int i = 0; i < n; i++) {
        char32_t ch = units[i];
        if (ch >= 0xD800 && ch <= 0xDBFF && i + 1 < n) ch = 0x10000 + ((ch - 0xD800) << 10) + (units[++i] - 0xDC00);
        DisplayKeyEvent event = {DISPLAY_KEY_CHAR, ch};
        key_push(&event);
    }
}

int display_row_text(int row, char* utf8, int bytes) {
    if (!utf8 || bytes <= 0) return 0;
    utf8[0] = 0;
    if (row < 0 || row >= grid.rows) return 0;
    char16_t units[DISPLAY_COLS_MAX * 2 + 1];
    row_units(row, units, DISPLAY_COLS_MAX * 2 + 1);
    int written = utf16_to_utf8(units, -1, utf8, bytes);
    return written > 0 ? written - 1 : 0;
}

int display_find(const char* utf8) {
    char line[DISPLAY_COLS_MAX * 4 + 1];
    for (int r = 0; r < grid.rows; r++) {
        display_row_text(r, line, sizeof line);
        if (strstr(line, utf8)) return r;
    }
    return -1;
}

int display_cols() { return grid.cols; }
int display_rows() { return grid.rows; }
const DisplayGrid* display_snapshot() { return &grid; }

void display_set_idle_hook(DisplayIdleHook hook, void* context) {
    idle_hook = hook;
    idle_context = context;
}
