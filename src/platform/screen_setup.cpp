// The opening that every full screen shares, the Back key handed to it.
#include "platform/platform.h"

int screen_open_full(Window screen, int menubar_id, ModuleInstance instance) {
    if (!fullscreen_init(screen, SHIDIM_FLAGS, SHIDIF_FULLSCREEN)) return 0;
    Window bar = 0;
    if (!softkey_bar_create(screen, menubar_id, instance, &bar)) return 0;
    send_message(bar, SHCMBM_OVERRIDEKEY, VK_BACK_KEY, SHMBOF_OVERRIDE_BACK);
    return 1;
}
