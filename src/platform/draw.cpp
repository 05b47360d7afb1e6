// Drawing the topmost screen into the text grid: the frame with the title,
// each kind of control in the box the layout gives it, the soft-key bar, an
// open popup, or a message box's text.
//
// Drawing only reads the screen and its controls. The scroll positions it
// shows from (a one-line edit's first unit, a list's first entry, a view's
// first line) are kept in view where the caret, selection, text or display
// size change (controls.cpp), so the picture depends on nothing but the
// state at the time of drawing.
#include <cassert>

#include "platform/platform_internal.h"

namespace {

// --- Each kind of control ----------------------------------------------------------------

// A one-line edit: its text between brackets, which are in reverse video
// while it has the focus.
void draw_edit_line(DisplayGrid* g, const Control* c, const Box* b, bool focused) {
    uint8_t attr = c->enabled ? 0 : CELL_DIM;
    uint8_t bracket = focused ? CELL_REVERSE : attr;
    int inner = b->cols - 2;
    grid_put(g, b->row, b->col, U'[', bracket);
    grid_put(g, b->row, b->col + b->cols - 1, U']', bracket);
    if (inner < 1) return;
    assert(c->hscroll <= c->caret);  // kept in view since the last change
    grid_fill(g, b->row, b->col + 1, inner, U' ', attr);
    if (c->tmpl->style & STYLE_PASSWORD) {
        // One '*' a character: what is typed is never on screen.
        int stars = 0;
        for (int at = c->hscroll; at < c->length && stars < inner; stars++) utf16_decode(c->text, c->length, &at);
        grid_fill(g, b->row, b->col + 1, stars, U'*', attr);
    } else {
        grid_put_text(g, b->row, b->col + 1, inner, c->text, c->hscroll, c->length, attr);
    }
    if (focused) {
        g->cursor_row = b->row;
        g->cursor_col = b->col + 1 + edit_caret_cells(c);
    }
}

// The wrapped text from line `first` on, at most rows lines of width cells.
void draw_wrapped(DisplayGrid* g, const char16_t* text, int length, int first, int row, int col, int rows, int width) {
    int line = 0, at = 0;
    while (at < length && line < first + rows) {
        int next;
        int end = wrap_line(text, length, at, width, &next);
        if (line >= first) grid_put_text(g, row + line - first, col, width, text, at, end, 0);
        at = next;
        line++;
    }
}

// A view that has lines below its box (the person scrolled back, and more
// may have come in since) says so on its last row.
void draw_view(DisplayGrid* g, const Control* c, const Box* b) {
    draw_wrapped(g, c->text, c->length, c->top_line, b->row, b->col, b->rows, b->cols);
    if (b->rows < 2 || c->top_line + b->rows >= wrap_count(c->text, c->length, b->cols)) return;
    int len = u16_len(VIEW_MORE_BELOW);
    int cells = text_cells(VIEW_MORE_BELOW, 0, len);
    int row = b->row + b->rows - 1;
    grid_fill(g, row, b->col, b->cols, U' ', 0);
    int col = cells < b->cols ? b->col + (b->cols - cells) / 2 : b->col;
    grid_put_text(g, row, col, b->cols, VIEW_MORE_BELOW, 0, len, CELL_REVERSE);
}

void draw_list(DisplayGrid* g, const Control* c, const Box* b) {
    int count = list_count(c);
    for (int r = 0; r < b->rows && c->first_shown + r < count; r++) {
        int index = c->first_shown + r;
        const char16_t* entry = list_entry(c, index);
        bool selected = index == c->selection;
        uint8_t attr = selected ? CELL_REVERSE : 0;
        grid_put(g, b->row + r, b->col, selected ? U'>' : U' ', attr);
        grid_fill(g, b->row + r, b->col + 1, b->cols - 1, U' ', attr);
        grid_put_text(g, b->row + r, b->col + 1, b->cols - 1, entry, 0, u16_len(entry), attr);
    }
}

void draw_combo(DisplayGrid* g, const Control* c, const Box* b, bool focused) {
    uint8_t attr = focused ? CELL_REVERSE : 0;
    grid_put(g, b->row, b->col, U'[', 0);
    grid_fill(g, b->row, b->col + 1, b->cols - 3, U' ', attr);
    const char16_t* shown = c->selection >= 0 ? list_entry(c, c->selection) : u"";
    grid_put_text(g, b->row, b->col + 1, b->cols - 3, shown, 0, u16_len(shown), attr);
    grid_put(g, b->row, b->col + b->cols - 2, U'v', 0);
    grid_put(g, b->row, b->col + b->cols - 1, U']', 0);
}

void draw_button(DisplayGrid* g, const Control* c, const Box* b, bool focused) {
    uint8_t attr = c->enabled ? (focused ? CELL_REVERSE : 0) : CELL_DIM;
    grid_put(g, b->row, b->col, focused ? U'<' : U'[', attr);
    int used = grid_put_text(g, b->row, b->col + 1, b->cols - 2, c->text, 0, c->length, attr);
    grid_put(g, b->row, b->col + 1 + used, focused ? U'>' : U']', attr);
}

void draw_static(DisplayGrid* g, const Control* c, const Box* b) {
    int cells = text_cells(c->text, 0, c->length);
    int col = b->col;
    if ((c->tmpl->style & STYLE_CENTER) && cells < b->cols) col += (b->cols - cells) / 2;
    grid_put_text(g, b->row, col, b->cols - (col - b->col), c->text, 0, c->length, 0);
}

void draw_progress(DisplayGrid* g, const Control* c, const Box* b) {
    int inner = b->cols - 2;
    grid_put(g, b->row, b->col, U'[', 0);
    grid_put(g, b->row, b->col + b->cols - 1, U']', 0);
    long long span = (long long)c->range_high - c->range_low;
    long long done = (long long)c->position - c->range_low;
    int filled = span > 0 && done > 0 ? (int)(done >= span ? inner : done * inner / span) : 0;
    for (int i = 0; i < inner; i++) grid_put(g, b->row, b->col + 1 + i, i < filled ? U'#' : U' ', 0);
}

void draw_control(DisplayGrid* g, const Control* c, const Box* b, bool focused) {
    switch (c->tmpl->kind) {
    case CONTROL_EDIT:
        if (c->tmpl->style & STYLE_MULTILINE) draw_view(g, c, b);
        else draw_edit_line(g, c, b, focused);
        break;
    case CONTROL_LIST: draw_list(g, c, b); break;
    case CONTROL_COMBO: draw_combo(g, c, b, focused); break;
    case CONTROL_BUTTON: draw_button(g, c, b, focused); break;
    case CONTROL_STATIC: draw_static(g, c, b); break;
    case CONTROL_PROGRESS: draw_progress(g, c, b); break;
    }
}

// --- Frame, soft keys, popups, message boxes ---------------------------------------------

void draw_frame(DisplayGrid* g, const char16_t* title) {
    int last = g->cols - 1;
    grid_fill(g, 0, 0, g->cols, U'-', 0);
    grid_fill(g, g->rows - 1, 0, g->cols, U'-', 0);
    for (int r = 1; r < g->rows - 1; r++) {
        grid_put(g, r, 0, U'|', 0);
        grid_put(g, r, last, U'|', 0);
    }
    grid_put(g, 0, 0, U'+', 0);
    grid_put(g, 0, last, U'+', 0);
    grid_put(g, g->rows - 1, 0, U'+', 0);
    grid_put(g, g->rows - 1, last, U'+', 0);
    int len = u16_len(title);
    if (len == 0) return;
    grid_put(g, 0, 1, U' ', 0);
    int used = grid_put_text(g, 0, 2, g->cols - 5, title, 0, len, 0);
    grid_put(g, 0, 2 + used, U' ', 0);
}

void draw_soft_keys(DisplayGrid* g, const char16_t* left, const char16_t* right) {
    int row = g->rows - 2;
    int half = (g->cols - 4) / 2;
    grid_put_text(g, row, 2, half, left, 0, u16_len(left), 0);
    int len = u16_len(right);
    int cells = text_cells(right, 0, len);
    if (cells > half) cells = half;
    grid_put_text(g, row, g->cols - 2 - cells, cells, right, 0, len, 0);
}

const char16_t* soft_label(const Screen* s, int which) {
    assert(which == 0 || which == 1);
    if (!s->tmpl) return which == 0 ? u"OK" : s->box_cancel ? u"CANCEL" : u"";
    if (!s->menubar) return u"";
    const char16_t* label = resource_string(KIVO_INSTANCE, s->menubar->keys[which].string_id);
    return label ? label : u"";
}

const char16_t* popup_label(const Screen* s, int index) {
    if (s->popup.kind == POPUP_MENU) return s->popup.menu->entries[index].label;
    return list_entry(control_at(s->popup.control), index);
}

// The popup sits just above the soft-key bar, numbered from 1, in a box.
void draw_popup(DisplayGrid* g, const Screen* s) {
    int count = s->popup.kind == POPUP_MENU ? s->popup.menu->entry_count : list_count(control_at(s->popup.control));
    int content = g->rows - 3;
    int shown = count < content - 1 ? count : content - 1;
    int first = s->popup.selection >= shown ? s->popup.selection - shown + 1 : 0;
    int width = 0;
    for (int i = 0; i < count; i++) {
        int w = text_cells(popup_label(s, i), 0, u16_len(popup_label(s, i)));
        if (w > width) width = w;
    }
    width += 4;  // digit, blank, and the box's sides
    if (width > g->cols - 2) width = g->cols - 2;
    int top = g->rows - 2 - shown - 1;
    grid_fill(g, top, 1, width + 2, U'-', 0);
    grid_put(g, top, 1, U'+', 0);
    grid_put(g, top, width + 2, U'+', 0);
    for (int r = 0; r < shown; r++) {
        int index = first + r;
        uint8_t attr = index == s->popup.selection ? CELL_REVERSE : 0;
        int row = top + 1 + r;
        grid_put(g, row, 1, U'|', 0);
        grid_fill(g, row, 2, width, U' ', attr);
        grid_put(g, row, 2, index < 9 ? (char32_t)(U'1' + index) : index == 9 ? U'0' : U' ', attr);
        const char16_t* label = popup_label(s, index);
        grid_put_text(g, row, 4, width - 3, label, 0, u16_len(label), attr);
        grid_put(g, row, width + 2, U'|', 0);
    }
}

void draw_message_box(DisplayGrid* g, const Screen* s) {
    draw_wrapped(g, s->box_text, u16_len(s->box_text), 0, 2, 2, g->rows - 4, g->cols - 4);
}

}  // namespace

void render_screen(const Screen* s, DisplayGrid* g) {
    grid_clear(g);
    draw_frame(g, s->title);
    if (!s->tmpl) {
        draw_message_box(g, s);
    } else {
        Box boxes[SCREEN_CONTROLS];
        layout_screen(s, g->cols, g->rows, boxes);
        for (int i = 0; i < s->control_count; i++)
            if (boxes[i].shown) draw_control(g, control_at(s->controls[i]), &boxes[i], i == s->focus);
    }
    draw_soft_keys(g, soft_label(s, 0), soft_label(s, 1));
    if (s->popup.kind != POPUP_NONE) {
        draw_popup(g, s);
        g->cursor_row = g->cursor_col = -1;
    }
}
