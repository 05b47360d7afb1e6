// Choosing the display, and looking at and pressing keys on it from tests.
//
// Two displays stand behind the screens: the terminal (ncurses, wide build,
// UTF-8) for the program and a headless one for tests. Both render the same
// text grid of the topmost screen:
//   row 0          frame top with the screen's title
//   rows 1..R-3    the controls, laid out from the template (one-line fields
//                  one row; a list or multi-line view takes the room left),
//                  or a message box's text; an open popup menu or drop-down
//                  lies over them, numbered, just above the soft-key bar
//   row R-2        the soft-key bar: left label, right label
//   row R-1        frame bottom
// A wide character takes two cells; its second holds CELL_WIDE_TAIL, which
// the row texts leave out.
// The grid is at most DISPLAY_COLS_MAX x DISPLAY_ROWS_MAX cells; the layout is
// made for 36x16 (the phone's own size) and up.
//
// Driving a modal screen from a test: queue keys before running it, or set an
// idle hook. The loop calls the hook whenever it would otherwise wait; the hook
// reads the grid, presses keys (they are handled after it returns) and, to end
// a test that went wrong, may post WM_CLOSE. While a hook is set, the loop
// waits at most DISPLAY_HOOK_WAIT_MS between calls. A hook must not run
// screens or pump messages itself. Everything here is for the UI thread.
#pragma once

#include <cstdint>

constexpr int DISPLAY_COLS_MAX = 400;
constexpr int DISPLAY_ROWS_MAX = 150;
constexpr int DISPLAY_COLS_MIN = 36;
constexpr int DISPLAY_ROWS_MIN = 16;
constexpr int DISPLAY_HOOK_WAIT_MS = 20;

// Cell attributes.
constexpr uint8_t CELL_REVERSE = 1;  // selection, focus
constexpr uint8_t CELL_DIM = 2;      // disabled

// The second cell of a two-cell (wide) character; never a character itself.
constexpr char32_t CELL_WIDE_TAIL = 0x110000;

struct DisplayCell {
    char32_t ch;
    uint8_t attr;
};

struct DisplayGrid {
    int cols, rows;
    int cursor_row, cursor_col;  // the caret of the focused edit field; -1: none
    DisplayCell cells[DISPLAY_ROWS_MAX][DISPLAY_COLS_MAX];
};

// The phone's keys as the terminal maps them: F1/F2 soft keys, Enter Action,
// Esc Back (it closes the screen), Backspace (it deletes in a field and never
// closes), arrows, Home/End, Tab, PageUp/PageDown, Ctrl-C close.
enum DisplayKey : int {
    DISPLAY_KEY_CHAR = 0,  // a typed character, in DisplayKeyEvent::ch
    DISPLAY_KEY_SOFT_LEFT,
    DISPLAY_KEY_SOFT_RIGHT,
    DISPLAY_KEY_ACTION,
    DISPLAY_KEY_BACK,
    DISPLAY_KEY_UP,
    DISPLAY_KEY_DOWN,
    DISPLAY_KEY_LEFT,
    DISPLAY_KEY_RIGHT,
    DISPLAY_KEY_HOME,
    DISPLAY_KEY_END,
    DISPLAY_KEY_TAB,
    DISPLAY_KEY_PAGE_UP,
    DISPLAY_KEY_PAGE_DOWN,
    DISPLAY_KEY_CLOSE,
    DISPLAY_KEY_BACKSPACE,
};

struct DisplayKeyEvent {
    DisplayKey key;
    char32_t ch;
};

// Starts the terminal display. Returns 0, or -1 after saying on stderr why
// (standard input or output is not a terminal, or curses could not start);
// the program then exits with a non-zero status.
int display_start_terminal();
// Checks that standard input and output are a terminal (returns -1 after
// saying so on stderr when not) and has the first screen that runs start the
// terminal display, so that a program that ends before any screen draws nothing.
int display_prefer_terminal();
// Starts the headless display with a grid of cols x rows (clamped to the
// limits). Screens run without a started display get a headless 80x24 one.
int display_start_headless(int cols, int rows);
// Gives the terminal back (or drops the headless grid). Safe to call twice.
void display_stop();
// Headless: a new size, handled like a terminal resize.
void display_headless_resize(int cols, int rows);

// Headless key injection: a key, or UTF-8 text typed character by character.
void display_press(DisplayKey key);
void display_type(const char* utf8);

// The grid as the topmost screen was last drawn. A row as UTF-8 with trailing
// blanks kept; returns its length in bytes (0 for a row outside the grid).
int display_row_text(int row, char* utf8, int bytes);
// The row's attributes, one character a cell (both cells of a wide
// character): 'R' reverse video (focus, selection), 'D' dim (disabled), ' '
// plain; terminated. Returns the cells written (0 for a row outside the grid).
int display_row_marks(int row, char* out, int bytes);
// The row where the UTF-8 text first appears, or -1.
int display_find(const char* utf8);
int display_cols();
int display_rows();
const DisplayGrid* display_snapshot();

// The idle hook (nullptr to remove).
typedef void (*DisplayIdleHook)(void* context);
void display_set_idle_hook(DisplayIdleHook hook, void* context);
