// The download progress screen, opened by the main screen's "Downloads".
#pragma once

#include "platform/platform.h"

intptr_t progress_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
