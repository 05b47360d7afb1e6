// Scroll positions kept in view: a one-line edit's first unit shown, a
// list's first entry shown and a multi-line view's first line.
//
// Every change of what they depend on ends here: a caret, a selection, an
// edit's text or a scroll request (controls.cpp, screen.cpp), and the
// display's size, for every control of every screen, since a resize changes
// every box. Each position is set for the box the layout gives the control at
// the display's current size, so the drawing only reads them. A control that
// is not shown keeps its position until a resize shows it.
#include "platform/platform_internal.h"

namespace {

// A one-line edit scrolls so that the caret lies within the inner width: it
// never starts after the caret, and starts just far enough right for the
// caret's cell to be the last one. One walk back from the caret, over at
// most the inner width's characters (each takes a cell at least), finds the
// first unit shown: the cost does not grow with the line's length.
void edit_line_keep_in_view(Control* c, const Box* box) {
    int inner = box->cols - 2;
    if (inner < 1) return;  // nothing of the text is shown
    if (c->hscroll > c->caret) c->hscroll = c->caret;
    int start = c->caret, cells = 0;
    while (start > c->hscroll) {
        int before = start - 1;
        if (before > 0 && utf16_is_low_surrogate(c->text[before]) && utf16_is_high_surrogate(c->text[before - 1]))
            before--;
        int at = before;
        int w = edit_char_cells(c, utf16_decode(c->text, c->length, &at));
        if (cells + w >= inner) break;  // the caret's own cell must stay inside
        cells += w;
        start = before;
    }
    c->hscroll = start;
}

// A list shows its selection and never starts past its last entry.
void list_keep_in_view(Control* c, const Box* box) {
    int count = list_count(c);
    if (c->selection >= 0) {
        if (c->selection < c->first_shown) c->first_shown = c->selection;
        if (c->selection >= c->first_shown + box->rows) c->first_shown = c->selection - box->rows + 1;
    }
    if (c->first_shown > count - 1) c->first_shown = count > 0 ? count - 1 : 0;
}

// A view's first line lies within its text, so that a full box stays full;
// a view that showed its last line still does at a new size (its text may
// wrap into more lines or fewer), so that the newest chat stays in sight.
void view_keep_in_view(Control* c, const Box* box) {
    int lines = wrap_count(c->text, c->length, box->cols > 0 ? box->cols : 1);
    int last_top = lines > box->rows ? lines - box->rows : 0;
    if (c->view_at_end || c->top_line > last_top) c->top_line = last_top;
    if (c->top_line < 0) c->top_line = 0;
    c->view_at_end = c->top_line == last_top;
}

}  // namespace

int edit_char_cells(const Control* c, char32_t ch) {
    return (c->tmpl->style & STYLE_PASSWORD) ? 1 : char_cells(ch);
}

int edit_caret_cells(const Control* c) {
    int cells = 0;
    for (int at = c->hscroll; at < c->caret;) cells += edit_char_cells(c, utf16_decode(c->text, c->caret, &at));
    return cells;
}

void control_keep_in_view(Control* c) {
    ControlKind kind = c->tmpl->kind;
    if (kind != CONTROL_LIST && kind != CONTROL_EDIT) return;  // nothing scrolls
    Box box;
    if (!control_box(c, &box)) return;  // not shown: nothing to keep in view
    if (kind == CONTROL_LIST) list_keep_in_view(c, &box);
    else if (c->tmpl->style & STYLE_MULTILINE) view_keep_in_view(c, &box);
    else edit_line_keep_in_view(c, &box);
}

void screens_keep_in_view() {
    for (int i = 0; i < screen_depth(); i++) {
        const Screen* s = screen_at(i);
        for (int k = 0; k < s->control_count; k++) {
            Control* c = control_at(s->controls[k]);
            if (c) control_keep_in_view(c);
        }
    }
}
