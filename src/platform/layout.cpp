// Laying a screen out on the text grid and drawing it. Paint only reads the
// screens and controls (the one exception: a view's scroll position is
// clamped to its text, which only the layout knows).
//
// Grid model (R rows, C columns): row 0 the frame's top with the title, rows
// 1..R-3 the content, row R-2 the soft-key bar, row R-1 the frame's bottom;
// columns 0 and C-1 are the frame's sides.
//
// Layout: controls that start inside the phone's 140 x 108 dialog-unit area
// are shown. Columns scale linearly. Rows come from bands: controls whose
// vertical extents overlap share a band. A band holding a list or a
// multi-line view is flexible; every other band is one row. Flexible bands
// share the rows that the one-row bands leave; without a flexible band, bands
// keep their template position scaled to the rows, in order and inside the
// content.
//
// Cells: every character takes one cell. Anything that would not (controls,
// combining or wide characters, unpaired surrogates) is drawn as '?', so a
// peer's text can neither move the layout nor send the terminal a control
// sequence.
#include "platform/platform_internal.h"

namespace {

struct Band {
    int top, bottom;  // dialog units
    bool flexible;
    int row, rows;    // content rows given
};

bool is_flexible(const ControlTemplate* t) {
    return t->kind == CONTROL_LIST || (t->kind == CONTROL_EDIT && (t->style & STYLE_MULTILINE));
}

bool control_shown(const ControlTemplate* t) {
    return t->x < DIALOG_UNITS_WIDE && t->y < DIALOG_UNITS_HIGH;
}

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

// Decodes the code point at text[*at] and advances *at.
char32_t next_char(const char16_t* text, int length, int* at) {
    char16_t u = text[(*at)++];
    if (u >= 0xD800 && u <= 0xDBFF && *at < length && text[*at] >= 0xDC00 && text[*at] <= 0xDFFF)
        return 0x10000 + (((char32_t)u - 0xD800) << 10) + (text[(*at)++] - 0xDC00);
    return u;
}

void put(DisplayGrid* g, int row, int col, char32_t ch, uint8_t attr) {
    if (row < 0 || row >= g->rows || col < 0 || col >= g->cols) return;
    g->cells[row][col] = DisplayCell{cell_char(ch), attr};
}

// Writes text[from, to) from col on, at most width cells; returns cells used.
int put_text(DisplayGrid* g, int row, int col, int width, const char16_t* text, int from, int to, uint8_t attr) {
    int used = 0;
    int at = from;
    while (at < to && used < width) put(g, row, col + used++, next_char(text, to, &at), attr);
    return used;
}

int text_cells(const char16_t* text, int from, int to) {
    int n = 0;
    for (int at = from; at < to; n++) next_char(text, to, &at);
    return n;
}

void fill(DisplayGrid* g, int row, int col, int width, char32_t ch, uint8_t attr) {
    for (int i = 0; i < width; i++) put(g, row, col + i, ch, attr);
}

int band_of(const Band* bands, int count, const ControlTemplate* t) {
    for (int b = 0; b < count; b++)
        if (t->y >= bands[b].top && t->y < bands[b].bottom) return b;
    return -1;
}

// Groups the shown controls into bands ordered from the top.
int make_bands(const Screen* s, Band* bands) {
    int count = 0;
    int order[SCREEN_CONTROLS];
    int n = 0;
    for (int i = 0; i < s->control_count; i++) {
        const Control* c = control_at(s->controls[i]);
        if (c && control_shown(c->tmpl)) order[n++] = i;
    }
    for (int i = 1; i < n; i++)  // by top edge; template order breaks ties
        for (int j = i; j > 0 && control_at(s->controls[order[j]])->tmpl->y < control_at(s->controls[order[j - 1]])->tmpl->y; j--) {
            int t = order[j];
            order[j] = order[j - 1];
            order[j - 1] = t;
        }
    for (int i = 0; i < n; i++) {
        const ControlTemplate* t = control_at(s->controls[order[i]])->tmpl;
        int bottom = t->y + (t->height > 0 ? t->height : 1);
        if (count > 0 && t->y < bands[count - 1].bottom) {
            Band* b = &bands[count - 1];
            if (bottom > b->bottom) b->bottom = bottom;
            b->flexible = b->flexible || is_flexible(t);
            continue;
        }
        bands[count++] = Band{t->y, bottom, is_flexible(t), 0, 1};
    }
    return count;
}

void place_bands(Band* bands, int count, int content_rows) {
    int flexible = 0;
    for (int b = 0; b < count; b++) flexible += bands[b].flexible;
    int row = 0;
    if (flexible > 0) {
        int spare = content_rows - (count - flexible);
        int each = spare / flexible, extra = spare % flexible;
        for (int b = 0; b < count; b++) {
            bands[b].row = row;
            bands[b].rows = bands[b].flexible ? each + (extra-- > 0 ? 1 : 0) : 1;
            if (bands[b].rows < 1) bands[b].rows = 1;
            row += bands[b].rows;
        }
        return;
    }
    for (int b = 0; b < count; b++) {
        int want = bands[b].top * content_rows / DIALOG_UNITS_HIGH;
        int last_allowed = content_rows - (count - b);
        if (want > last_allowed) want = last_allowed;
        if (want < row) want = row;
        bands[b].row = want;
        bands[b].rows = 1;
        row = want + 1;
    }
}

// --- Drawing each kind of control ----------------------------------------------------

void draw_edit_line(DisplayGrid* g, Control* c, const Box* b, bool focused) {
    uint8_t attr = c->enabled ? 0 : CELL_DIM;
    int inner = b->cols - 2;
    put(g, b->row, b->col, U'[', attr);
    put(g, b->row, b->col + b->cols - 1, U']', attr);
    if (inner < 1) return;
    // Keep the caret in view: scroll so that it lies within the inner width.
    Control* m = c;
    if (m->hscroll > c->caret) m->hscroll = c->caret;
    while (text_cells(c->text, m->hscroll, c->caret) >= inner) m->hscroll++;
    fill(g, b->row, b->col + 1, inner, U' ', attr);
    put_text(g, b->row, b->col + 1, inner, c->text, m->hscroll, c->length, attr);
    if (focused) {
        g->cursor_row = b->row;
        g->cursor_col = b->col + 1 + text_cells(c->text, m->hscroll, c->caret);
    }
}

// The end of the wrapped line that starts at from; *next gets where the
// following line starts. Lines break at CR LF or LF, and wrap at the last
// blank that fits (or hard at the width).
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
        next_char(text, length, &at);
        cells++;
    }
    *next = length;
    return length;
}

void draw_view(DisplayGrid* g, Control* c, const Box* b) {
    edit_clamp_scroll(c, b);
    int line = 0, at = 0;
    while (at < c->length && line < c->top_line + b->rows) {
        int next;
        int end = wrap_line(c->text, c->length, at, b->cols, &next);
        if (line >= c->top_line) put_text(g, b->row + line - c->top_line, b->col, b->cols, c->text, at, end, 0);
        at = next;
        line++;
    }
}

void draw_list(DisplayGrid* g, Control* c, const Box* b) {
    int count = list_count(c);
    if (c->selection >= 0) {
        if (c->selection < c->first_shown) c->first_shown = c->selection;
        if (c->selection >= c->first_shown + b->rows) c->first_shown = c->selection - b->rows + 1;
    }
    if (c->first_shown > count - 1) c->first_shown = count > 0 ? count - 1 : 0;
    for (int r = 0; r < b->rows && c->first_shown + r < count; r++) {
        int index = c->first_shown + r;
        const char16_t* entry = list_entry(c, index);
        bool selected = index == c->selection;
        uint8_t attr = selected ? CELL_REVERSE : 0;
        put(g, b->row + r, b->col, selected ? U'>' : U' ', attr);
        fill(g, b->row + r, b->col + 1, b->cols - 1, U' ', attr);
        put_text(g, b->row + r, b->col + 1, b->cols - 1, entry, 0, u16_len(entry), attr);
    }
}

void draw_combo(DisplayGrid* g, const Control* c, const Box* b, bool focused) {
    uint8_t attr = focused ? CELL_REVERSE : 0;
    put(g, b->row, b->col, U'[', 0);
    fill(g, b->row, b->col + 1, b->cols - 3, U' ', attr);
    const char16_t* shown = c->selection >= 0 ? list_entry(c, c->selection) : u"";
    put_text(g, b->row, b->col + 1, b->cols - 3, shown, 0, u16_len(shown), attr);
    put(g, b->row, b->col + b->cols - 2, U'v', 0);
    put(g, b->row, b->col + b->cols - 1, U']', 0);
}

void draw_button(DisplayGrid* g, const Control* c, const Box* b, bool focused) {
    uint8_t attr = c->enabled ? (focused ? CELL_REVERSE : 0) : CELL_DIM;
    put(g, b->row, b->col, focused ? U'<' : U'[', attr);
    int used = put_text(g, b->row, b->col + 1, b->cols - 2, c->text, 0, c->length, attr);
    put(g, b->row, b->col + 1 + used, focused ? U'>' : U']', attr);
}

void draw_static(DisplayGrid* g, const Control* c, const Box* b) {
    int cells = text_cells(c->text, 0, c->length);
    int col = b->col;
    if ((c->tmpl->style & STYLE_CENTER) && cells < b->cols) col += (b->cols - cells) / 2;
    put_text(g, b->row, col, b->cols - (col - b->col), c->text, 0, c->length, 0);
}

void draw_progress(DisplayGrid* g, const Control* c, const Box* b) {
    int inner = b->cols - 2;
    put(g, b->row, b->col, U'[', 0);
    put(g, b->row, b->col + b->cols - 1, U']', 0);
    long long span = (long long)c->range_high - c->range_low;
    long long done = (long long)c->position - c->range_low;
    int filled = span > 0 && done > 0 ? (int)(done >= span ? inner : done * inner / span) : 0;
    for (int i = 0; i < inner; i++) put(g, b->row, b->col + 1 + i, i < filled ? U'#' : U' ', 0);
}

void draw_control(DisplayGrid* g, Control* c, const Box* b, bool focused) {
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
    fill(g, 0, 0, g->cols, U'-', 0);
    fill(g, g->rows - 1, 0, g->cols, U'-', 0);
    for (int r = 1; r < g->rows - 1; r++) {
        put(g, r, 0, U'|', 0);
        put(g, r, last, U'|', 0);
    }
    put(g, 0, 0, U'+', 0);
    put(g, 0, last, U'+', 0);
    put(g, g->rows - 1, 0, U'+', 0);
    put(g, g->rows - 1, last, U'+', 0);
    int len = u16_len(title);
    if (len == 0) return;
    put(g, 0, 1, U' ', 0);
    int used = put_text(g, 0, 2, g->cols - 5, title, 0, len, 0);
    put(g, 0, 2 + used, U' ', 0);
}

void draw_soft_keys(DisplayGrid* g, const char16_t* left, const char16_t* right) {
    int row = g->rows - 2;
    int half = (g->cols - 4) / 2;
    put_text(g, row, 2, half, left, 0, u16_len(left), 0);
    int len = u16_len(right);
    int cells = text_cells(right, 0, len);
    if (cells > half) cells = half;
    put_text(g, row, g->cols - 2 - cells, cells, right, 0, len, 0);
}

const char16_t* soft_label(const Screen* s, int which) {
    if (!s->tmpl) return which == 0 ? u"OK" : u"";
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
    fill(g, top, 1, width + 2, U'-', 0);
    put(g, top, 1, U'+', 0);
    put(g, top, width + 2, U'+', 0);
    for (int r = 0; r < shown; r++) {
        int index = first + r;
        uint8_t attr = index == s->popup.selection ? CELL_REVERSE : 0;
        int row = top + 1 + r;
        put(g, row, 1, U'|', 0);
        fill(g, row, 2, width, U' ', attr);
        put(g, row, 2, index < 9 ? (char32_t)(U'1' + index) : U' ', attr);
        const char16_t* label = popup_label(s, index);
        put_text(g, row, 4, width - 3, label, 0, u16_len(label), attr);
        put(g, row, width + 2, U'|', 0);
    }
}

void draw_message_box(DisplayGrid* g, const Screen* s) {
    int len = u16_len(s->box_text);
    int width = g->cols - 4, rows = g->rows - 4;
    int line = 0, at = 0;
    while (at < len && line < rows) {
        int next;
        int end = wrap_line(s->box_text, len, at, width, &next);
        put_text(g, 2 + line, 2, width, s->box_text, at, end, 0);
        at = next;
        line++;
    }
}

}  // namespace

int wrap_count(const char16_t* text, int length, int width) {
    int lines = 0;
    for (int at = 0; at < length; lines++) wrap_line(text, length, at, width, &at);
    return lines;
}

void edit_clamp_scroll(Control* c, const Box* box) {
    int lines = wrap_count(c->text, c->length, box->cols > 0 ? box->cols : 1);
    int last_top = lines > box->rows ? lines - box->rows : 0;
    if (c->top_line > last_top) c->top_line = last_top;
    if (c->top_line < 0) c->top_line = 0;
}

void layout_screen(const Screen* s, int cols, int rows, Box* boxes) {
    Band bands[SCREEN_CONTROLS];
    int count = make_bands(s, bands);
    int content_cols = cols - 2, content_rows = rows - 3;
    place_bands(bands, count, content_rows);
    for (int i = 0; i < s->control_count; i++) {
        const Control* c = control_at(s->controls[i]);
        boxes[i] = Box{false, 0, 0, 0, 0};
        if (!c || !control_shown(c->tmpl)) continue;
        const ControlTemplate* t = c->tmpl;
        const Band* b = &bands[band_of(bands, count, t)];
        int left = t->x * content_cols / DIALOG_UNITS_WIDE;
        int right = (t->x + t->width) * content_cols / DIALOG_UNITS_WIDE;
        if (right > content_cols) right = content_cols;
        if (right <= left) right = left + 1;
        int height = is_flexible(t) ? b->rows : 1;
        if (b->row + height > content_rows) height = content_rows - b->row;
        if (height < 1) continue;
        boxes[i] = Box{true, 1 + b->row, 1 + left, height, right - left};
    }
}

void render_screen(const Screen* s, DisplayGrid* g) {
    for (int r = 0; r < g->rows; r++) fill(g, r, 0, g->cols, U' ', 0);
    g->cursor_row = g->cursor_col = -1;
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
