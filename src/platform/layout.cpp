// Laying a screen's controls out on the text grid: which control gets which
// box of cells. Nothing here draws or changes a screen; drawing (draw.cpp)
// and keeping scroll positions in view (controls.cpp) both ask for the boxes.
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
#include <cassert>

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

}  // namespace

void layout_screen(const Screen* s, int cols, int rows, Box* boxes) {
    assert(s->control_count >= 0 && s->control_count <= SCREEN_CONTROLS);
    Band bands[SCREEN_CONTROLS];
    int count = make_bands(s, bands);
    int content_cols = cols - 2, content_rows = rows - 3;
    place_bands(bands, count, content_rows);
    for (int i = 0; i < s->control_count; i++) {
        const Control* c = control_at(s->controls[i]);
        boxes[i] = Box{false, 0, 0, 0, 0};
        if (!c || !control_shown(c->tmpl)) continue;
        const ControlTemplate* t = c->tmpl;
        int band = band_of(bands, count, t);
        assert(band >= 0);  // make_bands gave every shown control a band
        const Band* b = &bands[band];
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

bool control_box(const Control* c, Box* box) {
    const Screen* s = screen_at(c->screen);
    for (int i = 0; s && i < s->control_count; i++) {
        if (control_at(s->controls[i]) != c) continue;
        Box boxes[SCREEN_CONTROLS];
        const DisplayGrid* g = display_grid();
        layout_screen(s, g->cols, g->rows, boxes);
        *box = boxes[i];
        return box->shown;
    }
    return false;
}

int list_text_cells(Window screen, int control_id) {
    const Screen* s = screen_of(screen);
    for (int i = 0; s && i < s->control_count; i++) {
        const Control* c = control_at(s->controls[i]);
        if (!c || c->tmpl->id != control_id || c->tmpl->kind != CONTROL_LIST) continue;
        Box box;
        // The first cell of each row holds the selection mark (draw_list).
        return control_box(c, &box) && box.cols > 1 ? box.cols - 1 : 0;
    }
    return 0;
}
