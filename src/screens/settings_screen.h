// The settings screen: a favourite hub to choose, and the host, port, nick and
// share size used from the next Connect on. Nothing is written to storage.
#pragma once

#include "platform/platform.h"

void fill_favorites_list(Window screen);
intptr_t settings_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
