// A tiny program that runs the main screen's real template on the terminal
// display with a trivial procedure, for the tmux test and the idle benchmark.
//
// The chat view shows a banner and one line per command; the Action key moves
// the input line into the view as "> text", the Back key adds "back";
// "About" (6025) opens a message box; "exit" (6002), the cancel command and
// Ctrl-C end it. After the terminal is given back it prints "screen_demo:
// ended" so a test can see the shell's screen again.
#include <cstdio>

#include "platform/display.h"
#include "platform/platform.h"
#include "platform/resource_format.h"
#include "resources/ids.h"

namespace {

constexpr int VIEW_UNITS = 4000;
char16_t view[VIEW_UNITS] = u"screen demo\r\n";

void view_add(const char16_t* a, const char16_t* b) {
    if (u16_len(view) > VIEW_UNITS / 2) view[0] = 0;  // keep it short, as the program does
    u16_append(view, VIEW_UNITS, a);
    u16_append(view, VIEW_UNITS, b);
    u16_append(view, VIEW_UNITS, u"\r\n");
}

intptr_t command(Window w, int id) {
    char16_t line[64];
    switch (id) {
    case IDOK: {
        char16_t typed[512];
        control_get_text(w, 4001, typed, 512);
        view_add(u"> ", typed);
        control_set_text(w, 4001, u"");
        break;
    }
    case IDCANCEL:
    case 6002:
        dialog_end(w, 0);
        return TRUE;
    case 6025:
        message_box(w, u"About this demo\nIt runs one real screen.", u"About", 0);
        break;
    default:
        wide_format(line, 64, u"command %u", (unsigned)id);
        view_add(line, u"");
        break;
    }
    repaint_request(w);
    return TRUE;
}

intptr_t demo_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_INITDIALOG: {
        Window bar;
        if (!fullscreen_init(w, SHIDIM_FLAGS, SHIDIF_FULLSCREEN)) return FALSE;
        if (!softkey_bar_create(w, MENUBAR_MAIN, KIVO_INSTANCE, &bar)) return FALSE;
        send_message(bar, SHCMBM_OVERRIDEKEY, VK_BACK_KEY, SHMBOF_OVERRIDE_BACK);
        return TRUE;
    }
    case WM_PAINT:
        control_set_text(w, 4003, view);
        control_send(w, 4003, EM_LINESCROLL, 0, 1000);
        return FALSE;
    case WM_HOTKEY:  // the Back key: shown, the input line left as it is
        if (high_word((uintptr_t)lparam) != VK_BACK_KEY) return FALSE;
        view_add(u"back", u"");
        repaint_request(w);
        return TRUE;
    case WM_CLOSE:
        dialog_end(w, 0);
        return TRUE;
    case WM_COMMAND:
        if (high_word(wparam) != 0) return FALSE;  // the controls' notifications
        return command(w, low_word(wparam));
    default:
        return FALSE;
    }
}

}  // namespace

int main() {
    if (display_start_terminal() != 0) return 1;
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, demo_proc, 0);
    display_stop();
    printf("screen_demo: ended\n");
    return 0;
}
