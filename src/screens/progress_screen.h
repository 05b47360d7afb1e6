// The Downloads screen, opened by the main screen's "Downloads": the
// download queue, one entry a row, and the person's commands on it.
#pragma once

#include "platform/platform.h"

intptr_t progress_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
