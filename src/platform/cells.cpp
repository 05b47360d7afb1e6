// Character cells of the text grid: what a character looks like in a cell,
// writing text into the grid, and measuring and wrapping text in cells.
//
// Every character takes one cell. Anything that would not (controls,
// combining or wide characters, unpaired surrogates) is drawn as '?', so a
// peer's text can neither move the layout nor send the terminal a control
// sequence. Writes outside the grid are dropped, so a caller never writes
// past the grid whatever the box it draws in.
#include "platform/platform_internal.h"

namespace {

// Printable, one-cell ranges; everything else becomes '?'.
struct CellRange {
    char32_t first, last;
};
constexpr CellRange ONE_CELL[] = {
    {0x20, 0x7E}, {0xA0, 0x2FF}, {0x370, 0x482}, {0x48A, 0x52F},
    {0x2010, 0x2027}, {0x2030, 0x205E}, {0x20A0, 0x20C0}, {0x2100, 0x2BFF},
};

char32_t cell_char(char32_t ch) {
    for (const CellRange& r : ONE_CELL)
        if (ch >= r.first && ch <= r.last) return ch;
    return U'?';
}

}  // namespace

void grid_put(DisplayGrid* g, int row, int col, char32_t ch, uint8_t attr) {
    if (row < 0 || row >= g->rows || col < 0 || col >= g->cols) return;
    g->cells[row][col] = DisplayCell{cell_char(ch), attr};
}

int grid_put_text(DisplayGrid* g, int row, int col, int width, const char16_t* text, int from, int to, uint8_t attr) {
    int used = 0;
    int at = from;
    while (at < to && used < width) grid_put(g, row, col + used++, utf16_decode(text, to, &at), attr);
    return used;
}

void grid_fill(DisplayGrid* g, int row, int col, int width, char32_t ch, uint8_t attr) {
    for (int i = 0; i < width; i++) grid_put(g, row, col + i, ch, attr);
}

void grid_clear(DisplayGrid* g) {
    for (int r = 0; r < g->rows; r++) grid_fill(g, r, 0, g->cols, U' ', 0);
    g->cursor_row = g->cursor_col = -1;
}

int text_cells(const char16_t* text, int from, int to) {
    int n = 0;
    for (int at = from; at < to; n++) utf16_decode(text, to, &at);
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
        if (cells == width) {
            if (blank > from) {
                *next = blank + 1;
                return blank;
            }
            *next = at;
            return at;
        }
        if (u == u' ') blank = at;
        utf16_decode(text, length, &at);
        cells++;
    }
    *next = length;
    return length;
}

int wrap_count(const char16_t* text, int length, int width) {
    int lines = 0;
    for (int at = 0; at < length; lines++) wrap_line(text, length, at, width, &at);
    return lines;
}
