// The shared body of the screen procedures.
#include "screens/screen_table.h"

void screen_end(Window screen) { dialog_end(screen, 0); }

intptr_t screen_kind_run(const ScreenKind& kind, Window screen, uint32_t message, WPARAM wparam,
                         LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG:
        return kind.open(screen);
    case WM_PAINT:
        if (kind.paint != nullptr) kind.paint(screen);
        return FALSE;  // the platform paints the controls
    case WM_COMMAND: {
        int id = low_word(wparam);
        for (int i = 0; i < kind.command_count; i++) {
            if (kind.commands[i].id == id) {
                kind.commands[i].run(screen);
                return TRUE;
            }
        }
        return FALSE;
    }
    case WM_HOTKEY:
        if (high_word((uintptr_t)lparam) != VK_BACK_KEY) return FALSE;
        if (kind.back != nullptr && kind.back(screen)) return TRUE;
        if (!kind.back_stays) (kind.close != nullptr ? kind.close : screen_end)(screen);
        return TRUE;
    case WM_CLOSE:
        (kind.close != nullptr ? kind.close : screen_end)(screen);
        return TRUE;
    default:
        return kind.other != nullptr ? kind.other(screen, message, wparam, lparam) : FALSE;
    }
}
