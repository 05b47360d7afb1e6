// Passive search: the $Search message, the $SR parser and the results screen.
#pragma once

#include "platform/platform.h"

void send_search(Window screen);
// One hub message beginning "$SR", NUL-terminated without its '|'; writes NULs into it.
void parse_search_result(char* message);
void fill_result_list(Window screen);
intptr_t search_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
