// The form of the program's resources, as the platform reads them: dialog
// templates, menus, soft-key bars, the string table and the icon. The tables
// themselves, and the ids they use, are the program's (src/resources/).
//
// Model: a dialog template is a title, an optional window class and a fixed
// list of controls, each with an id, a kind, a rectangle in dialog units
// (x, y, width, height; the phone's client area is 140 x 108 units), a style
// and an initial label. A soft-key bar has two keys; each key is either a
// command or opens the popup of the menu resource with the bar's own id, and
// is labelled from the string table. Every table is read-only and lives for
// the whole process; lookups return nullptr for an id the program lacks.
//
// Texts here are UTF-16 and terminated. Nothing here knows what the screens
// do with the commands: the ids (resources/ids.h) are the contract between
// the tables and the screen procedures.
#pragma once

#include <cstdint>

#include "platform/platform.h"

enum ControlKind : uint8_t {
    CONTROL_STATIC,    // text; left-aligned unless STYLE_CENTER
    CONTROL_EDIT,      // one-line, or multi-line with STYLE_MULTILINE
    CONTROL_LIST,      // list box, single selection
    CONTROL_COMBO,     // drop-down list
    CONTROL_BUTTON,    // push button
    CONTROL_PROGRESS,  // progress bar
};

// Control styles (bit set).
constexpr uint32_t STYLE_CENTER = 1u << 0;     // static: centred text
constexpr uint32_t STYLE_MULTILINE = 1u << 1;  // edit: several lines
constexpr uint32_t STYLE_READONLY = 1u << 2;   // edit: the user cannot change it
constexpr uint32_t STYLE_VSCROLL = 1u << 3;    // vertical scroll bar
constexpr uint32_t STYLE_AUTOHSCROLL = 1u << 4;// edit: scrolls horizontally
constexpr uint32_t STYLE_BORDER = 1u << 5;
constexpr uint32_t STYLE_DISABLED = 1u << 6;   // created disabled
constexpr uint32_t STYLE_NOTIFY = 1u << 7;     // list: tells the screen of selection changes
constexpr uint32_t STYLE_PASSWORD = 1u << 8;   // one-line edit: each character drawn as '*'

// The phone's client area in dialog units: the main screen's chat view and
// input line fill it exactly. A control that starts outside it is not shown.
constexpr int DIALOG_UNITS_WIDE = 140;
constexpr int DIALOG_UNITS_HIGH = 108;

struct ControlTemplate {
    int id;
    ControlKind kind;
    int16_t x, y, width, height;  // dialog units
    uint32_t style;
    const char16_t* text;         // initial label or text; never null
};

struct DialogTemplate {
    int id;
    const char16_t* title;       // empty: the screen has no title
    const char16_t* class_name;  // window class, or nullptr for the dialog class
    int control_count;
    const ControlTemplate* controls;
};

struct MenuEntry {
    const char16_t* label;
    int command;
};

struct MenuResource {
    int id;
    const char16_t* popup_label;
    int entry_count;
    const MenuEntry* entries;
    int opens_on;  // the entry selected when the popup opens (Enter chooses it)
};

struct SoftKey {
    int string_id;  // label from the string table
    int command;    // sent as WM_COMMAND when the key is a command key
    bool popup;     // true: opens the popup of the menu resource with the bar's id
};

struct MenuBarResource {
    int id;
    SoftKey keys[2];  // [0] left, [1] right
};

struct StringResource {
    int id;
    const char16_t* text;
};

// A trivial icon record: the program shows no icons on the terminal.
struct IconResource {
    int id;
    int width, height;
    char16_t glyph;
};

// Lookups, defined beside the tables (resources/resources.cpp); nullptr when the program has no such resource or the instance is
// not the program's.
const DialogTemplate* resource_dialog(ModuleInstance instance, int template_id);
const MenuResource* resource_menu(ModuleInstance instance, int menu_id);
const MenuBarResource* resource_menubar(ModuleInstance instance, int menubar_id);
const char16_t* resource_string(ModuleInstance instance, int string_id);
const IconResource* resource_icon(ModuleInstance instance, int icon_id);
const ControlTemplate* resource_control(const DialogTemplate* dialog, int control_id);
