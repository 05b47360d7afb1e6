// The terminal display: ncurses (wide-character build), UTF-8 in and out.
//
// Keys, as on the phone: F1/F2 the soft keys, Enter the Action key, Esc the
// Back key, Backspace the field's delete key (both codes terminals send for
// it, 127 and 8, and curses' KEY_BACKSPACE), arrows, Home/End, Tab,
// PageUp/PageDown, Ctrl-C the close request (the terminal is raw, so Ctrl-C
// is a key, not a signal).
//
// Keys typed ahead for a screen that has ended are dropped with the ring's
// (flushinp, terminal_drop_input): the screen below never gets them.
//
// Resizing: the SIGWINCH handler only sets a flag. The signal is blocked on
// the user-interface thread except while the loop waits in ppoll, so a resize
// always wakes the wait; threads started later inherit the blocked mask and
// never take the signal. The flag is read before each drawing.
//
// present() copies the grid into curses' screen and lets curses send only what
// changed; the caret of the focused edit field is the terminal's cursor. The
// grid's characters are all printable (cells.cpp), measured by the same
// wcwidth under the UTF-8 LC_CTYPE set here as curses measures them.
//
// Own state: the resize flag the signal handler sets (g_resized), whether
// curses runs (g_started), whether its end is hooked to the process's exit
// (g_exit_hooked) and the signal mask and handler to wait with and to give
// back (g_wait_mask, g_saved_mask, g_saved_winch). They belong to the
// terminal, not to the client, so they live here and not in the client's one
// record.
#include <curses.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform_internal.h"

namespace {

constexpr int ESCAPE_WAIT_MS = 25;  // how long a lone Esc waits for the rest of a sequence
constexpr wint_t CTRL_C = 3;

volatile sig_atomic_t g_resized;
bool g_started;
bool g_exit_hooked;
sigset_t g_wait_mask;      // the mask to wait with: SIGWINCH allowed
sigset_t g_saved_mask;     // the mask before the terminal started
struct sigaction g_saved_winch;

void on_winch(int) { g_resized = 1; }

void use_utf8_locale() {
    setlocale(LC_ALL, "");
    const char* codeset = nl_langinfo(CODESET);
    if (codeset && strcmp(codeset, "UTF-8") == 0) return;
    // The terminal speaks UTF-8 (Cyrillic in and out); without a UTF-8
    // locale curses would not, so take the one every system has.
    if (!setlocale(LC_CTYPE, "C.UTF-8")) setlocale(LC_CTYPE, "C.utf8");
}

struct KeyMap {
    int curses_key;
    DisplayKey key;
};
constexpr KeyMap FUNCTION_KEYS[] = {
    {KEY_F(1), DISPLAY_KEY_SOFT_LEFT}, {KEY_F(2), DISPLAY_KEY_SOFT_RIGHT}, {KEY_ENTER, DISPLAY_KEY_ACTION},
    {KEY_BACKSPACE, DISPLAY_KEY_BACKSPACE}, {KEY_UP, DISPLAY_KEY_UP},         {KEY_DOWN, DISPLAY_KEY_DOWN},
    {KEY_LEFT, DISPLAY_KEY_LEFT},      {KEY_RIGHT, DISPLAY_KEY_RIGHT},   {KEY_HOME, DISPLAY_KEY_HOME},
    {KEY_END, DISPLAY_KEY_END},        {KEY_PPAGE, DISPLAY_KEY_PAGE_UP}, {KEY_NPAGE, DISPLAY_KEY_PAGE_DOWN},
    {KEY_BTAB, DISPLAY_KEY_TAB},
};
constexpr KeyMap CHARACTER_KEYS[] = {
    {'\r', DISPLAY_KEY_ACTION}, {'\n', DISPLAY_KEY_ACTION}, {27, DISPLAY_KEY_BACK}, {127, DISPLAY_KEY_BACKSPACE},
    {8, DISPLAY_KEY_BACKSPACE},      {'\t', DISPLAY_KEY_TAB},    {CTRL_C, DISPLAY_KEY_CLOSE},
};

void push(DisplayKey key, char32_t ch) {
    DisplayKeyEvent event = {key, ch};
    key_push(&event);
}

void take_key(int kind, wint_t wch) {
    const KeyMap* map = kind == KEY_CODE_YES ? FUNCTION_KEYS : CHARACTER_KEYS;
    int count = kind == KEY_CODE_YES ? (int)(sizeof FUNCTION_KEYS / sizeof FUNCTION_KEYS[0])
                                     : (int)(sizeof CHARACTER_KEYS / sizeof CHARACTER_KEYS[0]);
    for (int i = 0; i < count; i++) {
        if (map[i].curses_key == (int)wch) {
            push(map[i].key, 0);
            return;
        }
    }
    if (kind == KEY_CODE_YES) {
        if (wch == KEY_RESIZE) g_resized = 1;
        return;  // other function keys mean nothing on the phone
    }
    if (wch >= 0x20 && wch != 0x7F && !(wch >= 0x80 && wch < 0xA0)) push(DISPLAY_KEY_CHAR, (char32_t)wch);
}

void terminal_read_input(int hangup) {
    if (hangup) return;
    wint_t wch;
    int kind;
    // Only as many keys as the loop's ring takes: the rest of a long paste
    // waits in the terminal's input queue, which stays readable, and is read
    // once the ring has drained, so no typed character is dropped.
    while (key_room() > 0 && (kind = get_wch(&wch)) != ERR) take_key(kind, wch);
}

int terminal_input_fd() { return STDIN_FILENO; }

void terminal_drop_input() { flushinp(); }

int terminal_take_resize(int* cols, int* rows) {
    if (!g_resized) return 0;
    g_resized = 0;
    struct winsize size;
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0)
        resize_term(size.ws_row, size.ws_col);
    // The terminal has cut or reflowed what it showed, so curses' copy of the
    // screen no longer matches it: send the whole screen at the next refresh.
    clearok(curscr, TRUE);
    *cols = COLS;
    *rows = LINES;
    display_clamp_size(cols, rows);
    return 1;
}

// A wide character goes to curses as one character, which takes its two
// columns; its second cell (CELL_WIDE_TAIL) is not sent.
void terminal_present(const DisplayGrid* grid) {
    static cchar_t line[DISPLAY_COLS_MAX];
    int rows = grid->rows < LINES ? grid->rows : LINES;
    int cols = grid->cols < COLS ? grid->cols : COLS;
    for (int r = 0; r < rows; r++) {
        int n = 0;
        for (int c = 0; c < cols; c++) {
            const DisplayCell* cell = &grid->cells[r][c];
            if (cell->ch == CELL_WIDE_TAIL) continue;
            // A wide character cut by a terminal narrower than the grid.
            wchar_t text[2] = {(wchar_t)(char_cells(cell->ch) == 2 && c + 1 >= cols ? U' ' : cell->ch), 0};
            attr_t attr = (cell->attr & CELL_REVERSE ? A_REVERSE : 0) | (cell->attr & CELL_DIM ? A_DIM : 0);
            setcchar(&line[n++], text, attr, 0, nullptr);
        }
        mvadd_wchnstr(r, 0, line, n);
    }
    bool caret = grid->cursor_row >= 0 && grid->cursor_row < rows && grid->cursor_col >= 0 && grid->cursor_col < cols;
    curs_set(caret ? 1 : 0);
    if (caret) move(grid->cursor_row, grid->cursor_col);
    refresh();
}

void terminal_redraw_all() {
    clearok(curscr, TRUE);
}

void terminal_stop() {
    if (!g_started) return;
    g_started = false;
    endwin();
    sigaction(SIGWINCH, &g_saved_winch, nullptr);
    pthread_sigmask(SIG_SETMASK, &g_saved_mask, nullptr);
}

void stop_at_exit() { terminal_stop(); }

const Display TERMINAL = {
    terminal_present, terminal_input_fd, terminal_read_input, terminal_drop_input, terminal_take_resize,
    terminal_redraw_all, terminal_stop, &g_wait_mask,
};

void signals_take() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = on_winch;
    sigemptyset(&action.sa_mask);
    sigaction(SIGWINCH, &action, &g_saved_winch);
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGWINCH);
    pthread_sigmask(SIG_BLOCK, &block, &g_saved_mask);
    g_wait_mask = g_saved_mask;
    sigdelset(&g_wait_mask, SIGWINCH);
}

}  // namespace

const Display* terminal_display_start(int* cols, int* rows) {
    if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
        fprintf(stderr, "kivo: standard input and output must be a terminal\n");
        return nullptr;
    }
    use_utf8_locale();
    signals_take();  // before curses, so curses leaves SIGWINCH to us
    set_escdelay(ESCAPE_WAIT_MS);
    // newterm, unlike initscr, reports a failure instead of ending the process.
    if (!newterm(nullptr, stdout, stdin)) {
        fprintf(stderr, "kivo: the terminal could not be set up\n");
        pthread_sigmask(SIG_SETMASK, &g_saved_mask, nullptr);
        sigaction(SIGWINCH, &g_saved_winch, nullptr);
        return nullptr;
    }
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    if (!g_exit_hooked) atexit(stop_at_exit);
    g_exit_hooked = true;
    g_started = true;
    *cols = COLS;
    *rows = LINES;
    return &TERMINAL;
}
