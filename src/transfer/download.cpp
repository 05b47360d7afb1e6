// Placeholder until the download lands: connect-to-me messages are ignored.
#include "transfer/download.h"

void send_rev_connect(const char*) {}
void download_command(Window) {}
void start_download_worker(const char*) {}
intptr_t progress_screen_proc(Window, uint32_t, WPARAM, LPARAM) { return FALSE; }
