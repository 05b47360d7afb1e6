// What every screen procedure of the program shares: its commands in one
// table, the Back key handed on, a close that ends the screen. A screen is
// described by a ScreenKind and its procedure hands every message to
// screen_kind_run.
#pragma once

#include "platform/platform.h"

// One command of a screen: a menu entry, a soft key, the Action key (IDOK) or
// a control's notification (the control's id, whatever the notification).
struct ScreenCommand {
    int id;
    void (*run)(Window screen);
};

struct ScreenKind {
    // WM_INITDIALOG: sets the screen up; TRUE when it is ready.
    intptr_t (*open)(Window screen);
    // WM_PAINT, before the platform paints the controls; nullptr for none.
    void (*paint)(Window screen);
    // WM_CLOSE; nullptr ends the screen with 0.
    void (*close)(Window screen);
    const ScreenCommand* commands;
    int command_count;
    // Any other message; nullptr leaves them all to the platform.
    intptr_t (*other)(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
    // The Back key, before anything else: true when the screen took it.
    // nullptr: nothing comes first.
    bool (*back)(Window screen);
    // Back closes the screen (as close does), a field with text included:
    // what was typed goes with it. back_stays: the screen stays (the main
    // screen, which only Exit ends).
    bool back_stays;
};

template <int N>
constexpr int command_count(const ScreenCommand (&)[N]) {
    return N;
}

// The screen procedure's body: WM_COMMAND runs the table's command with the
// id in the low word of wparam (TRUE), or leaves an id the table lacks to the
// platform (FALSE); WM_HOTKEY offers the Back key to the screen's back, then
// closes the screen unless back_stays.
intptr_t screen_kind_run(const ScreenKind& kind, Window screen, uint32_t message, WPARAM wparam,
                         LPARAM lparam);

// Ends the screen with 0: the close of most screens and their "EXIT" keys.
void screen_end(Window screen);

// Takes back the characters just before the caret of an edit field (a
// surrogate pair whole; with the caret at the start, the last ones) until
// fits(text, units) holds, the text read with room for one unit more than
// capacity_units: what was just typed or pasted into a field that only
// takes what its message carries.
void edit_fit(Window screen, int control_id, int capacity_units, bool (*fits)(const char16_t* text, int units));

// Appends text to line at line[*at], cut to `cells` display cells and padded
// with blanks to them (before the text when right-aligned), never past
// units; line stays terminated: one column of a list entry laid out for the
// list's width (list_text_cells).
void column_put(char16_t* line, int units, int* at, const char16_t* text, int cells, bool right);
