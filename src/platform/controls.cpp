// Controls: edit fields (one-line, and the multi-line read-only view), list
// boxes, drop-down combos, static texts, push buttons and progress bars.
//
// Model: CONTROL_SLOTS fixed controls, each with a window handle, a UTF-16
// text of CONTROL_TEXT_UNITS (cut when longer) and, for lists and combos, one
// of LIST_STORES fixed entry stores. Entries keep the order of adding; an
// entry longer than LIST_ENTRY_UNITS is cut; a store out of room refuses the
// entry (LB_ERRSPACE). The selection is one index or -1.
//
// Notifications go to the screen as WM_COMMAND with the control id in the low
// word, the code in the high word and the control's window in lparam; they
// follow the user's actions only, never the screen's own messages.
//
// Scroll positions: every change of a caret, a selection, an edit's text or
// a scroll position ends in control_keep_in_view (scroll.cpp); a text set
// starts them all at 0, which is always in view.
//
// Own state: g_controls and g_stores, the control table and the list entry
// stores. They are the platform's own (the stand-in for the phone's window
// system keeping its controls), not the client's, so they live here and not
// in the client's one record.
#include <cassert>

#include "platform/platform_internal.h"

namespace {

constexpr intptr_t LB_ERRSPACE = -2;

struct ListStore {
    bool in_use;
    int count;
    int used_units;
    int offsets[LIST_ENTRIES];
    char16_t pool[LIST_POOL_UNITS];
};

Control g_controls[CONTROL_SLOTS];
ListStore g_stores[LIST_STORES];

int store_take() {
    for (int i = 0; i < LIST_STORES; i++) {
        if (!g_stores[i].in_use) {
            g_stores[i].in_use = true;
            g_stores[i].count = 0;
            g_stores[i].used_units = 0;
            return i;
        }
    }
    return -1;
}

bool is_list(const Control* c) {
    return c->tmpl->kind == CONTROL_LIST || c->tmpl->kind == CONTROL_COMBO;
}

bool is_multiline(const Control* c) {
    return c->tmpl->kind == CONTROL_EDIT && (c->tmpl->style & STYLE_MULTILINE);
}

intptr_t list_add(Control* c, const char16_t* text) {
    if (!text) return LB_ERR;
    if (c->store < 0) return LB_ERRSPACE;
    ListStore* st = &g_stores[c->store];
    int len = 0;
    while (text[len] != 0 && len < LIST_ENTRY_UNITS - 1) len++;
    if (st->count >= LIST_ENTRIES || st->used_units + len + 1 > LIST_POOL_UNITS) return LB_ERRSPACE;
    char16_t* dst = st->pool + st->used_units;
    for (int i = 0; i < len; i++) dst[i] = text[i];
    dst[len] = 0;
    st->offsets[st->count] = st->used_units;
    st->used_units += len + 1;
    // An entry added moves neither the selection nor the first entry shown:
    // nothing to keep in view.
    display_mark_dirty();
    return st->count++;
}

void list_reset(Control* c) {
    if (c->store >= 0) {
        g_stores[c->store].count = 0;
        g_stores[c->store].used_units = 0;
    }
    c->selection = -1;
    c->first_shown = 0;
    control_keep_in_view(c);
    display_mark_dirty();
}

// The selection becomes index, or none (-1) for an index outside the list.
intptr_t list_select(Control* c, WPARAM wparam) {
    intptr_t index = (intptr_t)wparam;
    bool valid = index >= 0 && index < list_count(c);
    c->selection = valid ? (int)index : -1;
    control_keep_in_view(c);
    display_mark_dirty();
    return valid ? index : LB_ERR;
}

void text_set(Control* c, const char16_t* text) {
    c->length = text ? u16_copy(c->text, CONTROL_TEXT_UNITS, text) : 0;
    if (!text) c->text[0] = 0;
    // A new text shows from its start, with the caret there: always in view.
    c->caret = 0;
    c->hscroll = 0;
    c->top_line = 0;
    c->view_at_end = false;
    display_mark_dirty();
}

intptr_t edit_scroll(Control* c, LPARAM lines) {
    if (!is_multiline(c)) return FALSE;
    long long top = (long long)c->top_line + lines;
    if (top < 0) top = 0;
    if (top > CONTROL_TEXT_UNITS) top = CONTROL_TEXT_UNITS;  // no text has more lines
    c->top_line = (int)top;
    c->view_at_end = false;  // a scroll request places the view; keeping in view says whether at its end
    control_keep_in_view(c);
    display_mark_dirty();
    return TRUE;
}

intptr_t progress_message(Control* c, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == PBM_SETRANGE32) {
        intptr_t previous = (intptr_t)make_long((uint16_t)c->range_low, (uint16_t)c->range_high);
        c->range_low = (int32_t)wparam;
        c->range_high = (int32_t)lparam;
        display_mark_dirty();
        return previous;
    }
    intptr_t previous = c->position;
    c->position = (int32_t)wparam;
    display_mark_dirty();
    return previous;
}

void edit_insert(int screen, Control* c, char32_t ch) {
    char16_t units[2];
    int n = utf16_encode(ch, units);
    if (c->length + n > CONTROL_TEXT_UNITS - 1) return;  // full: the key is dropped
    for (int i = c->length; i >= c->caret; i--) c->text[i + n] = c->text[i];
    for (int i = 0; i < n; i++) c->text[c->caret + i] = units[i];
    c->length += n;
    c->caret += n;
    control_keep_in_view(c);
    display_mark_dirty();
    control_notify(screen, c, EN_CHANGE);
}

void caret_move(Control* c, int step) {
    int at = c->caret + step;
    if (at < 0 || at > c->length) return;
    // Never leave the caret between the halves of a surrogate pair.
    if (at > 0 && at < c->length && utf16_is_low_surrogate(c->text[at])) at += step;
    edit_set_caret(c, at < 0 ? 0 : at);
}

// A selection the person made (a key, the focus arriving): the screen hears
// of it when the list asks for notifications.
void list_select_by_user(int screen, Control* c, int index) {
    list_select(c, (WPARAM)index);
    if (c->tmpl->style & STYLE_NOTIFY) control_notify(screen, c, LBN_SELCHANGE);
}

// Up/Down inside a list; returns false when the key leaves the list.
bool list_step(int screen, Control* c, int step) {
    int count = list_count(c);
    int next = c->selection < 0 ? (step > 0 ? 0 : -1) : c->selection + step;
    if (next < 0 || next >= count) return false;
    list_select_by_user(screen, c, next);
    return true;
}

// EM_LINEFROMCHAR of a multi-line view: the wrapped line (at its box's
// width) that holds unit `at`; past the text, the last line.
intptr_t view_line_from_unit(Control* c, WPARAM at) {
    Box box;
    if (!is_multiline(c) || !control_box(c, &box)) return 0;
    int line = 0;
    for (int from = 0, next; from < c->length; from = next, line++) {
        wrap_line(c->text, c->length, from, box.cols, &next);
        if ((intptr_t)at < next || next >= c->length) return line;
    }
    return 0;
}

// Left/Right on a combo steps through its entries, as the phone's spinner did.
bool combo_step(int screen, Control* c, int step) {
    int count = list_count(c);
    if (count == 0) return true;
    int next = c->selection < 0 ? 0 : c->selection + step;
    if (next < 0 || next >= count) return true;
    list_select(c, (WPARAM)next);
    control_notify(screen, c, CBN_SELCHANGE);
    return true;
}

}  // namespace

// EM_SETSEL: this edit has a caret and no selection; the caret goes to the
// end of the requested range. Values past the text (or -1) mean its end.
intptr_t edit_set_caret(Control* c, LPARAM end) {
    if (end < 0 || end > c->length) end = c->length;
    c->caret = (int)end;
    control_keep_in_view(c);
    display_mark_dirty();
    return TRUE;
}

Control* control_at(int slot) {
    return slot >= 0 && slot < CONTROL_SLOTS && g_controls[slot].in_use ? &g_controls[slot] : nullptr;
}

int control_create(int screen, const ControlTemplate* tmpl) {
    assert(tmpl && tmpl->text);  // a template's text is never null
    for (int i = 0; i < CONTROL_SLOTS; i++) {
        Control* c = &g_controls[i];
        if (c->in_use) continue;
        c->window = window_alloc(WINDOW_CONTROL, nullptr, screen, i);
        if (!c->window) return -1;
        c->in_use = true;
        c->tmpl = tmpl;
        c->screen = screen;
        c->enabled = !(tmpl->style & STYLE_DISABLED);
        c->store = -1;
        c->selection = -1;
        c->first_shown = 0;
        c->range_low = 0;
        c->range_high = 100;
        c->position = 0;
        if (is_list(c)) c->store = store_take();  // -1: the list refuses entries
        text_set(c, tmpl->text);
        return i;
    }
    return -1;
}

void control_release(int slot) {
    Control* c = control_at(slot);
    if (!c) return;
    if (c->store >= 0) g_stores[c->store].in_use = false;
    window_free(c->window);
    c->in_use = false;
}

bool control_focusable(const Control* c) {
    if (!c->enabled) return false;
    switch (c->tmpl->kind) {
    case CONTROL_EDIT:
        // The read-only view is scrolled with PageUp/PageDown from anywhere.
        return !(c->tmpl->style & STYLE_READONLY);
    case CONTROL_LIST:
    case CONTROL_COMBO:
    case CONTROL_BUTTON:
        return true;
    default:
        return false;
    }
}

bool edit_editable(const Control* c) {
    return c->tmpl->kind == CONTROL_EDIT && c->enabled && !(c->tmpl->style & STYLE_READONLY);
}

int list_count(const Control* c) {
    return c->store >= 0 ? g_stores[c->store].count : 0;
}

const char16_t* list_entry(const Control* c, int index) {
    if (c->store < 0 || index < 0 || index >= g_stores[c->store].count) return u"";
    const ListStore* st = &g_stores[c->store];
    return st->pool + st->offsets[index];
}

void control_notify(int screen, Control* c, uint16_t code) {
    Screen* s = screen_at(screen);
    if (!s) return;
    send_message(s->window, WM_COMMAND, make_long((uint16_t)c->tmpl->id, code), (LPARAM)c->window);
}

intptr_t control_message(Control* c, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (!c) return 0;
    ControlKind kind = c->tmpl->kind;
    bool list = kind == CONTROL_LIST, combo = kind == CONTROL_COMBO;
    switch (message) {
    case LB_ADDSTRING:
    case CB_ADDSTRING:
        if ((list && message == LB_ADDSTRING) || (combo && message == CB_ADDSTRING))
            return list_add(c, (const char16_t*)lparam);
        return LB_ERR;
    case LB_RESETCONTENT:
    case CB_RESETCONTENT:
        if ((list && message == LB_RESETCONTENT) || (combo && message == CB_RESETCONTENT)) list_reset(c);
        return 0;
    case LB_SETCURSEL:
    case CB_SETCURSEL:
        if ((list && message == LB_SETCURSEL) || (combo && message == CB_SETCURSEL)) return list_select(c, wparam);
        return LB_ERR;
    case LB_GETCURSEL:
    case CB_GETCURSEL:
        if ((list && message == LB_GETCURSEL) || (combo && message == CB_GETCURSEL)) return c->selection;
        return LB_ERR;
    case LB_GETCOUNT:
        return list ? list_count(c) : LB_ERR;
    case EM_GETSEL:
        return kind == CONTROL_EDIT ? (intptr_t)make_long((uint16_t)c->caret, (uint16_t)c->caret) : 0;
    case EM_SETSEL:
        return kind == CONTROL_EDIT ? edit_set_caret(c, lparam) : FALSE;
    case EM_LINESCROLL:
        return kind == CONTROL_EDIT ? edit_scroll(c, lparam) : FALSE;
    case EM_LINEFROMCHAR:
        return view_line_from_unit(c, wparam);
    case PBM_SETRANGE32:
    case PBM_SETPOS:
        return kind == CONTROL_PROGRESS ? progress_message(c, message, wparam, lparam) : 0;
    default:
        return 0;
    }
}

void edit_delete_back(int screen, Control* c) {
    if (!edit_editable(c) || c->caret == 0) return;
    int n = (c->caret >= 2 && utf16_is_low_surrogate(c->text[c->caret - 1])) ? 2 : 1;
    for (int i = c->caret - n; i + n <= c->length; i++) c->text[i] = c->text[i + n];
    c->length -= n;
    c->caret -= n;
    control_keep_in_view(c);
    display_mark_dirty();
    control_notify(screen, c, EN_CHANGE);
}

void list_focus_gained(int screen, Control* c) {
    if (c->tmpl->kind == CONTROL_LIST && c->selection < 0 && list_count(c) > 0) list_select_by_user(screen, c, 0);
}

bool control_key(int screen, Control* c, const DisplayKeyEvent* key) {
    ControlKind kind = c->tmpl->kind;
    if (kind == CONTROL_LIST) {
        int target = list_key_target(c, key);  // pages, Home/End, typed letters
        if (target >= 0 && target != c->selection) list_select_by_user(screen, c, target);
        if (target != LIST_KEY_UNUSED) return true;
        if (key->key == DISPLAY_KEY_UP) return list_step(screen, c, -1);
        if (key->key == DISPLAY_KEY_DOWN) return list_step(screen, c, 1);
        return false;
    }
    if (kind == CONTROL_COMBO) {
        if (key->key == DISPLAY_KEY_LEFT) return combo_step(screen, c, -1);
        if (key->key == DISPLAY_KEY_RIGHT) return combo_step(screen, c, 1);
        return false;
    }
    if (!edit_editable(c)) return false;
    switch (key->key) {
    case DISPLAY_KEY_CHAR: edit_insert(screen, c, key->ch); return true;
    case DISPLAY_KEY_LEFT: caret_move(c, -1); return true;
    case DISPLAY_KEY_RIGHT: caret_move(c, 1); return true;
    case DISPLAY_KEY_HOME: edit_set_caret(c, 0); return true;
    case DISPLAY_KEY_END: edit_set_caret(c, c->length); return true;
    // An empty field, or the caret at its start: nothing, and nothing else
    // takes the key either.
    case DISPLAY_KEY_BACKSPACE: edit_delete_back(screen, c); return true;
    default: return false;
    }
}

// --- The screen-facing operations of platform.h ----------------------------------

// The place of the control with the id in the screen's list, or -1.
static int control_index(const Screen* s, int control_id) {
    for (int i = 0; s && i < s->control_count; i++) {
        const Control* c = control_at(s->controls[i]);
        if (c && c->tmpl->id == control_id) return i;
    }
    return -1;
}

static Control* control_find(Window screen, int control_id) {
    Screen* s = screen_of(screen);
    int index = control_index(s, control_id);
    return index < 0 ? nullptr : control_at(s->controls[index]);
}

Window control_by_id(Window screen, int control_id) {
    Control* c = control_find(screen, control_id);
    return c ? c->window : 0;
}

int control_set_text(Window screen, int control_id, const char16_t* text) {
    Control* c = control_find(screen, control_id);
    if (!c) return 0;
    text_set(c, text);
    return 1;
}

int control_get_text(Window screen, int control_id, char16_t* buffer, int units) {
    if (!buffer || units <= 0) return 0;
    Control* c = control_find(screen, control_id);
    if (!c) {
        buffer[0] = 0;
        return 0;
    }
    return u16_copy(buffer, units, c->text);
}

intptr_t control_send(Window screen, int control_id, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return control_message(control_find(screen, control_id), message, wparam, lparam);
}

void control_set_focus(Window screen, int control_id) {
    Screen* s = screen_of(screen);
    int index = control_index(s, control_id);
    if (index < 0 || !control_focusable(control_at(s->controls[index]))) return;
    s->focus_set = true;
    screen_focus_move(s, index);
}

int control_view_scroll(Window screen, int control_id, ViewScroll* out) {
    Control* c = control_find(screen, control_id);
    Box box;
    if (!out || !c || !is_multiline(c) || !control_box(c, &box)) return 0;
    out->first = c->top_line;
    out->shown = box.rows;
    out->lines = wrap_count(c->text, c->length, box.cols > 0 ? box.cols : 1);
    out->width = box.cols;
    return 1;
}

int control_focused_id(Window screen) {
    Control* c = screen_focused(screen_of(screen));
    return c ? c->tmpl->id : 0;
}
