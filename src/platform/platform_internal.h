// What the pieces of the screen side of the platform share among themselves;
// nothing outside src/platform/ includes this.
//
// Model:
// - Windows are handles into one fixed table of WINDOW_SLOTS slots. A handle
//   carries the slot and a generation, so a handle kept after its window was
//   destroyed (or a message posted to it) never reaches the slot's next owner.
//   Handles are always even: the running-copy request sets the lowest bit.
// - Screens form a stack (modal screens nest strictly: a screen's loop returns
//   only after every screen opened above it has ended). The topmost screen gets
//   the keys and is what the display shows.
// - Controls live in a fixed table; list and combo entries in a few fixed list
//   stores. All of it is touched by the user-interface thread only; other
//   threads reach the platform through post_message and the socket table,
//   which take the loop's lock.
#pragma once

#include <csignal>
#include <cstdint>

#include "platform/display.h"
#include "platform/platform.h"
#include "platform/resource_format.h"

// --- Windows (window.cpp) -------------------------------------------------------
enum WindowKind : uint8_t { WINDOW_FREE, WINDOW_PLAIN, WINDOW_SCREEN, WINDOW_CONTROL, WINDOW_BAR };

constexpr int WINDOW_SLOTS = 256;
constexpr int PAINT_INTERVAL_MS = 33;  // at most ~30 paints a second per window

struct WindowSlot {
    uint32_t generation;
    WindowKind kind;
    bool paint_pending;
    uint64_t last_paint_ms;
    ScreenProc proc;  // plain windows and screens
    int screen;       // screen stack index (screens, controls, bars)
    int control;      // control slot (controls)
};

Window window_alloc(WindowKind kind, ScreenProc proc, int screen, int control);
void window_free(Window window);
WindowSlot* window_slot(Window window);  // nullptr for a stale or empty handle

// True on a thread that has run the message loop (the user-interface
// thread); false on others, and on the first thread before its first loop.
bool loop_thread();
// Delivers due paint messages; returns 1 when it delivered any. *wait_ms gets
// the time until the next throttled paint is due (-1 when none waits).
int paints_deliver(int* wait_ms);
// Posts WM_TIMER for every due timer (timers.cpp); returns 1 when it posted
// any. *wait_ms gets the time until the next one is due (-1 when none is set).
int timers_deliver(int* wait_ms);
// Posting without the wake pipe, for the loop's own thread.
int post_local(Window window, uint32_t message, WPARAM wparam, LPARAM lparam);
// Takes the oldest posted message; 0 when the queue is empty.
struct PostedMessage {
    Window window;
    uint32_t message;
    WPARAM wparam;
    LPARAM lparam;
};
int posted_take(PostedMessage* out);
int posted_waiting();
int wake_pipe_read_fd();
void wake_pipe_drain();

// --- Controls (controls.cpp) --------------------------------------------------------
constexpr int CONTROL_SLOTS = 64;
constexpr int LIST_STORES = 5;  // the settings screen has five combos
constexpr int LIST_ENTRIES = 3000;
constexpr int LIST_POOL_UNITS = 240000;
constexpr int LIST_ENTRY_UNITS = 600;      // longer entries are cut

struct Control {
    bool in_use;
    const ControlTemplate* tmpl;
    Window window;
    int screen;
    bool enabled;
    char16_t text[CONTROL_TEXT_UNITS];  // edit text or label, terminated
    int length;
    // The scroll positions (hscroll, top_line, first_shown) are kept in view
    // by control_keep_in_view whenever what they depend on changes.
    int caret;       // edit: units before the caret
    int hscroll;     // one-line edit: first unit shown
    int top_line;    // multi-line edit: first line shown
    bool view_at_end;  // multi-line edit: shows its last line, and keeps it through a new size
    int store;       // list store of a list or combo, -1 none
    int selection;   // list/combo: selected entry or -1
    int first_shown; // list: first entry shown
    int32_t range_low, range_high, position;  // progress bar
};

Control* control_at(int slot);
int control_create(int screen, const ControlTemplate* tmpl);  // slot or -1
void control_release(int slot);
bool control_focusable(const Control* c);
intptr_t control_message(Control* c, uint32_t message, WPARAM wparam, LPARAM lparam);
int list_count(const Control* c);
const char16_t* list_entry(const Control* c, int index);
bool edit_editable(const Control* c);
// Puts an edit's caret before unit `at` (past the text or -1: at its end).
intptr_t edit_set_caret(Control* c, LPARAM at);
// Keys that the focused control takes; return true when the key was used.
bool control_key(int screen, Control* c, const DisplayKeyEvent* key);
void edit_delete_back(int screen, Control* c);
// A list that gets the focus with entries and no selection selects its
// first entry, notifying as a key's selection does.
void list_focus_gained(int screen, Control* c);
// The keys a list takes besides Up/Down (list_keys.cpp): PageUp/PageDown
// by its box's height less one, Home/End to its first and last entry, and
// typed characters that select the first entry beginning with them. Gives
// the entry to select, LIST_KEY_STAYS when the key was used and the
// selection stays, or LIST_KEY_UNUSED for a key the list leaves alone.
constexpr int LIST_KEY_STAYS = -2;
constexpr int LIST_KEY_UNUSED = -3;
int list_key_target(const Control* c, const DisplayKeyEvent* key);
void control_notify(int screen, Control* c, uint16_t code);

// --- Screens (screen.cpp) ------------------------------------------------------------
constexpr int SCREEN_DEPTH = 8;
constexpr int SCREEN_CONTROLS = 32;  // the most controls of one template (the settings screen has 31)
constexpr int TITLE_UNITS = WINDOW_TITLE_UNITS;
constexpr int BOX_TEXT_UNITS = 1024;  // message box text; longer is cut

enum PopupKind : uint8_t { POPUP_NONE, POPUP_MENU, POPUP_COMBO };

struct Popup {
    PopupKind kind;
    const MenuResource* menu;  // POPUP_MENU
    int control;               // POPUP_COMBO: control slot
    int selection;
};

struct Screen {
    bool ended;
    intptr_t result;
    Window window;
    ScreenProc proc;
    const DialogTemplate* tmpl;  // nullptr for a message box
    char16_t title[TITLE_UNITS];
    char16_t box_text[BOX_TEXT_UNITS];
    bool box_cancel;  // a message box with "CANCEL" on its right soft key
    int control_count;
    int controls[SCREEN_CONTROLS];  // control slots, template order
    int focus;                      // index into controls, -1 none
    bool focus_set;                 // the procedure placed the focus itself
    Window bar;
    const MenuBarResource* menubar;
    bool back_override;
    bool fullscreen;
    Popup popup;
};

int screen_depth();
Screen* screen_at(int index);
Screen* screen_top();
// The screen whose window this is; nullptr for any other or a stale handle.
Screen* screen_of(Window window);
// The screen's place on the stack (what controls and windows record).
int screen_index(const Screen* s);
Control* screen_focused(Screen* s);
void screen_key(const DisplayKeyEvent* key);
intptr_t screen_default(Window window, uint32_t message, WPARAM wparam, LPARAM lparam);
intptr_t bar_message(WindowSlot* slot, uint32_t message, WPARAM wparam, LPARAM lparam);
void screen_focus_move(Screen* s, int index);
void screens_hangup();

// --- The loop (loop.cpp) -----------------------------------------------------------------
// Runs the loop until *ended becomes true (a screen's loop) or done(context)
// is nonzero or the deadline passes (message_pump). deadline_ms 0: none.
int loop_run(const bool* ended, int (*done)(void*), void* context, uint64_t deadline_ms);
void display_mark_dirty();
void key_push(const DisplayKeyEvent* key);
int key_room();  // keys the ring still takes
// A screen has ended: the keys typed for it and not yet taken, in the ring
// and still in the terminal, are dropped so the screen below never gets them.
void keys_drop();
bool input_hung_up();  // the terminal has gone: no key will come any more

// --- Socket events (socket_events.cpp) ---------------------------------------------------
constexpr int SOCKET_SLOTS = 16;
// Adds the registered sockets to the poll set; returns the count added.
int socket_poll_fill(struct pollfd* fds, int room);
// After a receive on a registered socket: the next read message comes when
// data waits again, or at once when `held` (a layer over the socket, TLS,
// holds received bytes that poll cannot see).
void socket_read_rearm(int socket, bool held);
// After an accept on a registered listener: the next FD_ACCEPT comes when a
// connection waits again.
void socket_accept_rearm(int listener);
void socket_poll_handle(const struct pollfd* fds, int count);

// --- Character cells (cells.cpp) -------------------------------------------------------------
// A character takes one cell or, when wide, two (the second CELL_WIDE_TAIL);
// what may not reach the terminal as itself shows as '?' in one cell. Writes
// outside the grid are dropped.
void grid_put(DisplayGrid* g, int row, int col, char32_t ch, uint8_t attr);
// Writes text[from, to) from col on, at most width cells (a wide character
// that does not fit shows as '?' in the last one); returns cells used.
int grid_put_text(DisplayGrid* g, int row, int col, int width, const char16_t* text, int from, int to, uint8_t attr);
void grid_fill(DisplayGrid* g, int row, int col, int width, char32_t ch, uint8_t attr);
// Blanks every cell and hides the caret.
void grid_clear(DisplayGrid* g);
// Gives the calling (user-interface) thread a UTF-8 LC_CTYPE when the
// process's is not one, so that characters are measured alike on every display.
void cells_measure_utf8();
// The cells one character takes on the grid: 2 for a wide one, else 1.
int char_cells(char32_t ch);
// Cells that text[from, to) takes.
int text_cells(const char16_t* text, int from, int to);
// wrap_line (platform.h): lines break at CR LF or LF, and wrap at the last
// blank that fits (or hard at the width; a width below 1 counts as 1).
// Lines of the text when wrapped at the width.
int wrap_count(const char16_t* text, int length, int width);

// --- Layout (layout.cpp) ---------------------------------------------------------------------
struct Box {
    bool shown;
    int row, col, rows, cols;
};
// Lays the screen's controls out on a grid of cols x rows; boxes (room for
// SCREEN_CONTROLS) get one box per control, box[i] the screen's i-th.
void layout_screen(const Screen* s, int cols, int rows, Box* boxes);
// The control's box on the display as it is now; false when it is not shown
// (or its screen is not yet on the stack).
bool control_box(const Control* c, Box* box);

// --- Scroll positions (scroll.cpp) -------------------------------------------------------------
// Moves the control's scroll position so that what it must show is in view
// of its box at the display's current size: a one-line edit's caret, a
// list's selection, a view's first line within its text. Called wherever the
// caret, the selection, an edit's text or a scroll position changes.
void control_keep_in_view(Control* c);
// Every control of every screen on the stack kept in view: for a new display size.
void screens_keep_in_view();
// Cells between a one-line edit's first unit shown and its caret (a password
// field counts one cell a character, as it shows a '*' for each).
int edit_caret_cells(const Control* c);
// Cells one character of the edit takes as the edit shows it.
int edit_char_cells(const Control* c, char32_t ch);

// --- Drawing (draw.cpp) ------------------------------------------------------------------------
// Shown on a multi-line view's last row while lines lie below what it shows.
constexpr char16_t VIEW_MORE_BELOW[] = u"-- more below --";
// Draws the screen into the grid; reads the screen and changes nothing in it.
void render_screen(const Screen* s, DisplayGrid* grid);

// --- The display (display.cpp) -----------------------------------------------------------
// The display in use; both kinds render the same DisplayGrid.
struct Display {
    void (*present)(const DisplayGrid* grid);
    int (*input_fd)();                 // -1: no input to wait on
    void (*read_input)(int hangup);    // input is waiting (or the terminal hung up)
    void (*drop_input)();              // forgets what was typed and not yet read
    int (*take_resize)(int* cols, int* rows);  // nonzero once after a resize
    void (*redraw_all)();
    void (*stop)();
    const sigset_t* wait_mask;         // signals to allow while waiting, or nullptr
};

const Display* display_current();    // starts a headless 80x24 one if none runs
DisplayGrid* display_grid();
bool display_idle_hook_set();
int display_idle_hook_call();         // nonzero when a hook ran
bool display_idle_hook_running();     // true while the hook is being called
// Makes the display current with a grid of cols x rows (clamped to the limits).
void display_use(const Display* display, int cols, int rows);
// The grid takes a new size (within the limits) and the screens keep what
// they show in view of it.
void display_resize(int cols, int rows);
void display_clamp_size(int* cols, int* rows);
// The terminal display (terminal.cpp).
const Display* terminal_display_start(int* cols, int* rows);  // nullptr: not started

// --- The running copy (instance.cpp) ---------------------------------------------------------
int running_copy_listen_fd();
void running_copy_serve();
bool running_copy_open(const char16_t* class_name, const char16_t* title);  // true: now listening
void running_copy_close();

