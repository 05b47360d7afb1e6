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

void edit_fit(Window screen, int control_id, int capacity_units, bool (*fits)(const char16_t* text, int units)) {
    constexpr int EDIT_FIT_UNITS = 4096;
    char16_t text[EDIT_FIT_UNITS];
    int room = capacity_units + 2 < EDIT_FIT_UNITS ? capacity_units + 2 : EDIT_FIT_UNITS;
    int length = control_get_text(screen, control_id, text, room);
    int caret = low_word((uintptr_t)control_send(screen, control_id, EM_GETSEL, 0, 0));
    if (caret > length) caret = length;
    bool taken = false;
    while (length > 0 && !fits(text, length)) {
        int end = caret > 0 ? caret : length;
        int n = end >= 2 && utf16_is_low_surrogate(text[end - 1]) && utf16_is_high_surrogate(text[end - 2]) ? 2 : 1;
        for (int i = end - n; i + n <= length; i++) text[i] = text[i + n];  // the terminator too
        length -= n;
        if (caret > 0) caret -= n;
        taken = true;
    }
    if (!taken) return;
    control_set_text(screen, control_id, text);
    control_send(screen, control_id, EM_SETSEL, (WPARAM)caret, caret);
}

void column_put(char16_t* line, int units, int* at, const char16_t* text, int cells, bool right) {
    int used = 0;
    int fit = text_fit_cells(text, u16_len(text), cells, &used);
    int pad = cells - used;
    for (; right && pad > 0 && *at < units - 1; pad--) line[(*at)++] = u' ';
    for (int i = 0; i < fit && *at < units - 1; i++) line[(*at)++] = text[i];
    for (; pad > 0 && *at < units - 1; pad--) line[(*at)++] = u' ';
    line[*at] = 0;
}
