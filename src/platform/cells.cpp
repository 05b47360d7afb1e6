// Character cells of the text grid: what a character looks like in a cell,
// writing text into the grid, and measuring and wrapping text in cells.
//
// A character takes the cells the C library's wcwidth gives it under a UTF-8
// LC_CTYPE: one, or two for a wide one (CJK, most emoji). A two-cell
// character is stored in its first cell, its second cell holds
// CELL_WIDE_TAIL. Whatever wcwidth calls non-printing or zero-width
// (controls, combining marks, unpaired surrogates, values past U+10FFFF) is
// drawn as '?' in one cell, so a peer's text can neither move the layout nor
// send the terminal a control sequence. A wide character that would stick out
// of the width it is written into (a box, a row) is drawn as '?' in the one
// cell left.
//
// Writes outside the grid are dropped, so a caller never writes past the grid
// whatever the box it draws in; a write over either half of a wide character
// blanks the other half, so the grid never holds half a character.
//
// wcwidth reads the calling thread's LC_CTYPE. The terminal sets a UTF-8 one
// for the whole process before curses starts (terminal.cpp); for any display
// the user-interface thread also gets its own UTF-8 LC_CTYPE through
// uselocale when the process's is not UTF-8 (cells_measure_utf8, called when
// a display is put in use), so the headless display of the tests measures as
// the terminal does whatever the environment's locale.
//
// Own state: g_utf8_ctype, the thread locale made once for that. It is the
// platform's own, not the client's.
#include <langinfo.h>
#include <locale.h>
#include <wchar.h>

#include <cstring>

#include "platform/platform_internal.h"

namespace {

locale_t g_utf8_ctype = (locale_t)0;

bool codeset_is_utf8() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && strcmp(codeset, "UTF-8") == 0;
}

// wcwidth's answer, or 0 for what may never reach the terminal as itself.
int printable_cells(char32_t ch) {
    if (ch >= 0xD800 && ch <= 0xDFFF) return 0;  // a surrogate alone is no character
    if (ch > 0x10FFFF) return 0;
    int w = wcwidth((wchar_t)ch);
    return w < 0 ? 0 : w;
}

void cell_set(DisplayGrid* g, int row, int col, char32_t ch, uint8_t attr) {
    DisplayCell* line = g->cells[row];
    // Half of a wide character is never left behind.
    if (line[col].ch == CELL_WIDE_TAIL && col > 0) line[col - 1] = DisplayCell{U' ', line[col - 1].attr};
    if (col + 1 < g->cols && line[col + 1].ch == CELL_WIDE_TAIL) line[col + 1] = DisplayCell{U' ', line[col + 1].attr};
    line[col] = DisplayCell{ch, attr};
}

}  // namespace

void cells_measure_utf8() {
    if (codeset_is_utf8()) return;
    if (g_utf8_ctype == (locale_t)0) {
        // Only LC_CTYPE changes; the other categories stay the process's.
        locale_t base = duplocale(LC_GLOBAL_LOCALE);
        if (base == (locale_t)0) return;
        g_utf8_ctype = newlocale(LC_CTYPE_MASK, "C.UTF-8", base);
        if (g_utf8_ctype == (locale_t)0) g_utf8_ctype = newlocale(LC_CTYPE_MASK, "C.utf8", base);
        if (g_utf8_ctype == (locale_t)0) {
            freelocale(base);  // newlocale frees its base only on success
            return;            // no UTF-8 locale at all: everything past ASCII shows as '?'
        }
    }
    uselocale(g_utf8_ctype);
}

int char_cells(char32_t ch) {
    return printable_cells(ch) == 2 ? 2 : 1;
}

void grid_put(DisplayGrid* g, int row, int col, char32_t ch, uint8_t attr) {
    if (row < 0 || row >= g->rows || col < 0 || col >= g->cols) return;
    int w = printable_cells(ch);
    if (w == 0 || (w == 2 && col + 1 >= g->cols)) {
        cell_set(g, row, col, U'?', attr);
        return;
    }
    cell_set(g, row, col, ch, attr);
    if (w == 2) cell_set(g, row, col + 1, CELL_WIDE_TAIL, attr);
}

int grid_put_text(DisplayGrid* g, int row, int col, int width, const char16_t* text, int from, int to, uint8_t attr) {
    int used = 0;
    int at = from;
    while (at < to && used < width) {
        char32_t ch = utf16_decode(text, to, &at);
        int w = char_cells(ch);
        if (used + w > width) {  // a wide character in the last cell
            grid_put(g, row, col + used++, U'?', attr);
            break;
        }
        grid_put(g, row, col + used, ch, attr);
        used += w;
    }
    return used;
}

void grid_fill(DisplayGrid* g, int row, int col, int width, char32_t ch, uint8_t attr) {
    for (int i = 0; i < width; i++) grid_put(g, row, col + i, ch, attr);
}

void grid_clear(DisplayGrid* g) {
    for (int r = 0; r < g->rows; r++)
        for (int c = 0; c < g->cols; c++) g->cells[r][c] = DisplayCell{U' ', 0};
    g->cursor_row = g->cursor_col = -1;
}

int text_cells(const char16_t* text, int from, int to) {
    int n = 0;
    for (int at = from; at < to;) n += char_cells(utf16_decode(text, to, &at));
    return n;
}

int wrap_line(const char16_t* text, int length, int from, int width, int* next) {
    if (width < 1) width = 1;  // every line takes at least one character: no endless wrap
    int at = from, cells = 0, blank = -1;
    while (at < length) {
        char16_t u = text[at];
        if (u == u'\n' || (u == u'\r' && at + 1 < length && text[at + 1] == u'\n')) {
            *next = at + (u == u'\r' ? 2 : 1);
            return at;
        }
        int step = at;
        int w = char_cells(utf16_decode(text, length, &step));
        // The first character of a line is always taken, even a wide one in
        // a one-cell width (drawn as '?'), so every line moves on.
        if (cells > 0 && cells + w > width) {
            if (blank > from) {
                *next = blank + 1;
                return blank;
            }
            *next = at;
            return at;
        }
        if (u == u' ') blank = at;
        at = step;
        cells += w;
    }
    *next = length;
    return length;
}

int wrap_count(const char16_t* text, int length, int width) {
    int lines = 0;
    for (int at = 0; at < length; lines++) wrap_line(text, length, at, width, &at);
    return lines;
}

int text_fit_cells(const char16_t* text, int length, int cells, int* used) {
    int at = 0, taken = 0;
    while (at < length) {
        int step = at;
        int w = char_cells(utf16_decode(text, length, &step));
        if (taken + w > cells) break;
        taken += w;
        at = step;
    }
    if (used != nullptr) *used = taken;
    return at;
}
