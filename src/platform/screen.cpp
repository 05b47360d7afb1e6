// Modal screens: running a template as a screen, its soft-key bar with popup
// menus, the Back key, focus, message boxes, and what the keys do.
//
// Model: screens form a stack of SCREEN_DEPTH; dialog_run pushes one, runs
// the one message loop until the screen has ended, and pops it. The topmost
// screen gets the keys and is what the display shows; every screen keeps
// receiving its posted and socket messages while others lie above it. A
// message box is a screen without a template or procedure of its own.
//
// Keys on the topmost screen, in order: an open popup takes them all; then
// the focused control takes what it uses (typing, Backspace, caret, list
// steps); the rest are the screen's: soft keys, Action (IDOK), Back, focus
// moves, chat view scrolling and Ctrl-C (WM_CLOSE). Home and End are both: they
// take the chat view to its oldest and newest line before the focused control
// gets them.
//
// Back closes, Backspace deletes: Back goes to the screen (as the hot key
// when the screen overrides it, else as IDCANCEL) whatever has the focus, a
// field with text included; Backspace only ever deletes before the caret of
// an editable field, and elsewhere does nothing. A screen that has ended
// drops the keys typed ahead for it (keys_drop), so its text never reaches
// the screen below.
//
// Default handling of what a procedure leaves (returns FALSE for): WM_PAINT
// draws the screen; WM_CLOSE sends the cancel command (IDCANCEL) and, when
// that is not handled either, ends the screen with IDCANCEL; commands and
// hot keys do nothing.
//
// Own state: g_screens and g_depth, the screen stack. It is the platform's
// own (the stand-in for the phone's dialog manager), not the client's, so it
// lives here and not in the client's one record.
#include <cassert>

#include "platform/platform_internal.h"

namespace {

Screen g_screens[SCREEN_DEPTH];
int g_depth;

void send_command(Screen* s, int id, LPARAM lparam) {
    send_message(s->window, WM_COMMAND, make_long((uint16_t)id, 0), lparam);
}

void screen_open_controls(Screen* s, int index) {
    s->control_count = 0;
    assert((!s->tmpl || s->tmpl->control_count <= SCREEN_CONTROLS) && "a template with more controls than a screen holds");
    for (int i = 0; s->tmpl && i < s->tmpl->control_count && i < SCREEN_CONTROLS; i++) {
        int slot = control_create(index, &s->tmpl->controls[i]);
        if (slot < 0) break;  // out of control slots: the rest are not created
        s->controls[s->control_count++] = slot;
    }
}

Screen* screen_push(const DialogTemplate* tmpl, ScreenProc proc, const char16_t* title) {
    if (g_depth >= SCREEN_DEPTH) return nullptr;
    Screen* s = &g_screens[g_depth];
    *s = Screen{};
    s->window = window_alloc(WINDOW_SCREEN, proc, g_depth, -1);
    if (!s->window) return nullptr;
    s->proc = proc;
    s->tmpl = tmpl;
    s->focus = -1;
    u16_copy(s->title, TITLE_UNITS, title ? title : u"");
    screen_open_controls(s, g_depth);
    g_depth++;
    display_mark_dirty();
    return s;
}

void screen_pop() {
    assert(g_depth > 0);
    Screen* s = &g_screens[g_depth - 1];
    for (int i = 0; i < s->control_count; i++) control_release(s->controls[i]);
    window_free(s->bar);
    window_free(s->window);
    g_depth--;
    // The screen below is uncovered: it paints again, as on the phone.
    if (g_depth > 0) repaint_request(g_screens[g_depth - 1].window);
    display_mark_dirty();
}

void focus_first(Screen* s) {
    for (int i = 0; i < s->control_count; i++) {
        Control* c = control_at(s->controls[i]);
        if (c && control_focusable(c)) {
            screen_focus_move(s, i);
            return;
        }
    }
}

// Moves the focus by step among the focusable controls; wrap for Tab.
void focus_step(Screen* s, int step, bool wrap) {
    int n = s->control_count;
    int at = s->focus;
    for (int tries = 0; tries < n; tries++) {
        at += step;
        if (at < 0 || at >= n) {
            if (!wrap) return;
            at = (at + n) % n;
        }
        Control* c = control_at(s->controls[at]);
        if (c && control_focusable(c)) {
            screen_focus_move(s, at);
            return;
        }
    }
}

Control* first_multiline(Screen* s) {
    for (int i = 0; i < s->control_count; i++) {
        Control* c = control_at(s->controls[i]);
        if (c && c->tmpl->kind == CONTROL_EDIT && (c->tmpl->style & STYLE_MULTILINE)) return c;
    }
    return nullptr;
}

// PageUp/PageDown, Home and End page the screen's multi-line view, whatever
// has the focus: the screen is asked first (WM_VSCROLL); when it leaves the
// request, the view scrolls by its height less one line, or to its first or
// last line.
void view_page(Screen* s, uint16_t request) {
    Control* c = first_multiline(s);
    Box box;
    if (!c || !control_box(c, &box)) return;
    if (send_message(s->window, WM_VSCROLL, request, (LPARAM)c->window) != FALSE) return;
    int page = box.rows > 1 ? box.rows - 1 : 1;
    int lines = request == SB_PAGEUP ? -page : request == SB_PAGEDOWN ? page : request == SB_TOP ? -CONTROL_TEXT_UNITS
                                                                                                 : CONTROL_TEXT_UNITS;
    control_message(c, EM_LINESCROLL, 0, lines);
}

// --- Popups: the soft key's menu and a combo's drop-down -----------------------------

int popup_count(const Popup* p) {
    if (p->kind == POPUP_MENU) return p->menu->entry_count;
    Control* c = control_at(p->control);
    return c ? list_count(c) : 0;
}

void popup_close(Screen* s) {
    s->popup.kind = POPUP_NONE;
    display_mark_dirty();
}

void popup_choose(Screen* s, int index) {
    Popup p = s->popup;
    popup_close(s);
    if (index < 0 || index >= popup_count(&p)) return;
    if (p.kind == POPUP_MENU) {
        send_command(s, p.menu->entries[index].command, 0);
        return;
    }
    Control* c = control_at(p.control);
    if (!c) return;
    control_message(c, CB_SETCURSEL, (WPARAM)index, 0);
    control_notify(g_depth - 1, c, CBN_SELCHANGE);
}

void popup_key(Screen* s, const DisplayKeyEvent* key) {
    Popup* p = &s->popup;
    int count = popup_count(p);
    switch (key->key) {
    case DISPLAY_KEY_UP:
        if (p->selection > 0) p->selection--;
        break;
    case DISPLAY_KEY_DOWN:
        if (p->selection < count - 1) p->selection++;
        break;
    case DISPLAY_KEY_ACTION:
        popup_choose(s, p->selection);
        break;
    case DISPLAY_KEY_BACK:
    case DISPLAY_KEY_SOFT_LEFT:
    case DISPLAY_KEY_SOFT_RIGHT:
        popup_close(s);
        break;
    case DISPLAY_KEY_CLOSE:
        popup_close(s);
        send_message(s->window, WM_CLOSE, 0, 0);
        break;
    case DISPLAY_KEY_CHAR:
        if (key->ch >= U'1' && key->ch <= U'9') popup_choose(s, (int)(key->ch - U'1'));
        if (key->ch == U'0') popup_choose(s, 9);  // the tenth entry, as on a keypad
        break;
    default:
        break;
    }
    display_mark_dirty();
}

void soft_key(Screen* s, int which) {
    if (!s->menubar) return;
    const SoftKey* k = &s->menubar->keys[which];
    if (!k->popup) {
        send_command(s, k->command, 0);
        return;
    }
    const MenuResource* menu = resource_menu(KIVO_INSTANCE, s->menubar->id);
    if (!menu || menu->entry_count == 0) return;
    int opens_on = menu->opens_on >= 0 && menu->opens_on < menu->entry_count ? menu->opens_on : 0;
    s->popup = Popup{POPUP_MENU, menu, -1, opens_on};
    display_mark_dirty();
}

void back_key(Screen* s) {
    if (s->back_override) {
        send_message(s->window, WM_HOTKEY, 0, (LPARAM)make_long(0, (uint16_t)VK_BACK_KEY));
        return;
    }
    send_command(s, IDCANCEL, 0);
}

void action_key(Screen* s) {
    Control* c = screen_focused(s);
    if (c && c->tmpl->kind == CONTROL_COMBO) {
        if (list_count(c) > 0) s->popup = Popup{POPUP_COMBO, nullptr, s->controls[s->focus], c->selection < 0 ? 0 : c->selection};
        display_mark_dirty();
        return;
    }
    if (c && c->tmpl->kind == CONTROL_BUTTON) {
        send_command(s, c->tmpl->id, (LPARAM)c->window);
        return;
    }
    send_command(s, IDOK, 0);
}

// A question (OK and CANCEL) is answered OK by its OK soft key only: Enter,
// Back, Ctrl-C and CANCEL all cancel, so a key pressed by habit never says
// yes. A plain box closes with OK on any of OK, Enter, Back and Ctrl-C.
void message_box_key(Screen* s, const DisplayKeyEvent* key) {
    DisplayKey k = key->key;
    bool close = k == DISPLAY_KEY_ACTION || k == DISPLAY_KEY_BACK || k == DISPLAY_KEY_CLOSE;
    if (k == DISPLAY_KEY_SOFT_LEFT) {
        dialog_end(s->window, IDOK);
    } else if (s->box_cancel && (close || k == DISPLAY_KEY_SOFT_RIGHT)) {
        dialog_end(s->window, IDCANCEL);
    } else if (close) {
        dialog_end(s->window, IDOK);
    }
}

void screen_own_key(Screen* s, const DisplayKeyEvent* key) {
    switch (key->key) {
    case DISPLAY_KEY_SOFT_LEFT: soft_key(s, 0); break;
    case DISPLAY_KEY_SOFT_RIGHT: soft_key(s, 1); break;
    case DISPLAY_KEY_ACTION: action_key(s); break;
    case DISPLAY_KEY_BACK: back_key(s); break;
    case DISPLAY_KEY_UP: focus_step(s, -1, false); break;
    case DISPLAY_KEY_DOWN: focus_step(s, 1, false); break;
    case DISPLAY_KEY_TAB: focus_step(s, 1, true); break;
    case DISPLAY_KEY_PAGE_UP: view_page(s, SB_PAGEUP); break;
    case DISPLAY_KEY_PAGE_DOWN: view_page(s, SB_PAGEDOWN); break;
    case DISPLAY_KEY_CLOSE: send_message(s->window, WM_CLOSE, 0, 0); break;
    default: break;
    }
}

intptr_t message_box_proc(Window, uint32_t, WPARAM, LPARAM) {
    return FALSE;
}

}  // namespace

// --- Shared with the other platform pieces --------------------------------------------

int screen_depth() { return g_depth; }

Screen* screen_at(int index) {
    return index >= 0 && index < g_depth ? &g_screens[index] : nullptr;
}

Screen* screen_top() {
    return g_depth > 0 ? &g_screens[g_depth - 1] : nullptr;
}

Screen* screen_of(Window window) {
    WindowSlot* w = window_slot(window);
    if (!w || w->kind != WINDOW_SCREEN) return nullptr;
    return screen_at(w->screen);
}

int screen_index(const Screen* s) {
    assert(s >= g_screens && s < g_screens + SCREEN_DEPTH);
    return (int)(s - g_screens);
}

Control* screen_focused(Screen* s) {
    if (!s || s->focus < 0 || s->focus >= s->control_count) return nullptr;
    return control_at(s->controls[s->focus]);
}

void screen_focus_move(Screen* s, int index) {
    if (index == s->focus) return;
    s->focus = index;
    display_mark_dirty();
    Control* c = screen_focused(s);
    if (!c) return;
    int screen = screen_index(s);
    // An edit field reached by a focus move takes typing at the end of its text.
    if (c->tmpl->kind == CONTROL_EDIT) edit_set_caret(c, c->length);
    if (c->tmpl->kind == CONTROL_EDIT) control_notify(screen, c, EN_SETFOCUS);
    if (c->tmpl->kind == CONTROL_COMBO) control_notify(screen, c, CBN_SETFOCUS);
    if (c->tmpl->kind == CONTROL_LIST) list_focus_gained(screen, c);
}

void screen_key(const DisplayKeyEvent* key) {
    Screen* s = screen_top();
    if (!s) return;
    if (!s->tmpl) {
        message_box_key(s, key);
        return;
    }
    if (s->popup.kind != POPUP_NONE) {
        popup_key(s, key);
        return;
    }
    // Home and End take the view to its oldest and newest line whatever has
    // the focus; an edit field with the focus also takes them for its caret.
    if (key->key == DISPLAY_KEY_HOME) view_page(s, SB_TOP);
    if (key->key == DISPLAY_KEY_END) view_page(s, SB_BOTTOM);
    Control* c = screen_focused(s);
    if (c && control_key(g_depth - 1, c, key)) return;
    screen_own_key(s, key);
}

intptr_t screen_default(Window window, uint32_t message, WPARAM, LPARAM) {
    Screen* s = screen_of(window);
    if (!s) return FALSE;
    if (message == WM_PAINT) {
        display_mark_dirty();
    } else if (message == WM_CLOSE && s->tmpl) {
        if (send_message(window, WM_COMMAND, make_long((uint16_t)IDCANCEL, 0), 0) == FALSE) dialog_end(window, IDCANCEL);
    } else if (message == WM_CLOSE) {
        dialog_end(window, IDOK);
    }
    return FALSE;
}

intptr_t bar_message(WindowSlot* slot, uint32_t message, WPARAM wparam, LPARAM lparam) {
    Screen* s = screen_at(slot->screen);
    if (!s || message != SHCMBM_OVERRIDEKEY || wparam != VK_BACK_KEY) return FALSE;
    s->back_override = lparam == SHMBOF_OVERRIDE_BACK;
    return TRUE;
}

// After the terminal went away every screen is asked to close, topmost first.
void screens_hangup() {
    for (int i = g_depth - 1; i >= 0; i--)
        if (!g_screens[i].ended) post_local(g_screens[i].window, WM_CLOSE, 0, 0);
}

// --- platform.h ------------------------------------------------------------------------

static intptr_t screen_run(Screen* s, LPARAM init) {
    Window window = s->window;
    send_message(window, WM_INITDIALOG, 0, init);
    if (!s->focus_set && s->focus < 0) focus_first(s);
    repaint_request(window);
    loop_run(&s->ended, nullptr, nullptr, 0);
    // Screens nest strictly: every screen opened above this one has ended.
    assert(s == screen_top());
    keys_drop();
    intptr_t result = s->result;
    screen_pop();
    return result;
}

intptr_t dialog_run(ModuleInstance instance, int template_id, Window, ScreenProc proc, LPARAM init) {
    const DialogTemplate* tmpl = resource_dialog(instance, template_id);
    if (!tmpl || !proc) return -1;
    display_current();
    Screen* s = screen_push(tmpl, proc, tmpl->title);
    if (!s) return -1;
    bool listening = tmpl->class_name && running_copy_open(tmpl->class_name, tmpl->title);
    intptr_t result = screen_run(s, init);
    if (listening) running_copy_close();
    return result;
}

void dialog_end(Window screen, intptr_t result) {
    Screen* s = screen_of(screen);
    if (!s || s->ended) return;
    s->ended = true;
    s->result = result;
}

void window_set_title(Window screen, const char16_t* title) {
    Screen* s = screen_of(screen);
    if (!s) return;
    u16_copy(s->title, TITLE_UNITS, title ? title : u"");
    display_mark_dirty();
}

int fullscreen_init(Window screen, uint32_t flags_mask, uint32_t flags) {
    Screen* s = screen_of(screen);
    if (!s || !(flags_mask & SHIDIM_FLAGS) || !(flags & SHIDIF_FULLSCREEN)) return 0;
    // Every screen fills the terminal; this records that the screen asked.
    s->fullscreen = true;
    return 1;
}

int softkey_bar_create(Window parent, int menubar_id, ModuleInstance instance, Window* bar) {
    Screen* s = screen_of(parent);
    const MenuBarResource* res = resource_menubar(instance, menubar_id);
    if (!s || !res || !bar) return 0;
    Window w = window_alloc(WINDOW_BAR, nullptr, screen_index(s), -1);
    if (!w) return 0;
    window_free(s->bar);  // a second bar replaces the first
    s->bar = w;
    s->menubar = res;
    s->back_override = false;
    *bar = w;
    display_mark_dirty();
    return 1;
}

int message_box(Window, const char16_t* text, const char16_t* title, uint32_t type) {
    display_current();
    Screen* s = screen_push(nullptr, message_box_proc, title);
    if (!s) return 0;
    s->box_cancel = (type & MB_OKCANCEL) != 0;
    u16_copy(s->box_text, BOX_TEXT_UNITS, text ? text : u"");
    // Once the terminal has gone every screen was asked to close; a box
    // opened after that is asked too, or it would wait for keys forever.
    if (input_hung_up()) post_local(s->window, WM_CLOSE, 0, 0);
    return (int)screen_run(s, 0);
}
