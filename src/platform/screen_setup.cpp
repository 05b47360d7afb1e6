// The opening and the Back key handling that every full screen shares.
#include "platform/platform.h"

int screen_open_full(Window screen, int menubar_id, ModuleInstance instance) {
    if (!fullscreen_init(screen, SHIDIM_FLAGS, SHIDIF_FULLSCREEN)) return 0;
    Window bar = 0;
    if (!softkey_bar_create(screen, menubar_id, instance, &bar)) return 0;
    send_message(bar, SHCMBM_OVERRIDEKEY, VK_BACK_KEY, SHMBOF_OVERRIDE_BACK);
    return 1;
}

int screen_hotkey(Window screen, WPARAM wparam, LPARAM lparam) {
    if (high_word((uintptr_t)lparam) == VK_BACK_KEY) return back_key_forward(screen, wparam, lparam);
    return 0;
}
