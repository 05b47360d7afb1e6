// Placeholder until the search lands: results are ignored.
#include "hub/search.h"

void send_search(Window) {}
void parse_search_result(char*) {}
void fill_result_list(Window) {}
intptr_t search_screen_proc(Window, uint32_t, WPARAM, LPARAM) { return FALSE; }
