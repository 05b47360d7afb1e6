// One download at a time: the request through the hub, the worker thread that
// fetches the file from the peer, and the progress screen.
#pragma once

#include "platform/platform.h"

void send_rev_connect(const char* peer_nick);
// The results screen's "Download" (6005): takes the selected result of the
// screen's list (4008) into the DownloadJob and sends the request. Called only
// with a result selected; the results screen closes itself after the call.
void download_command(Window search_screen);
// One hub message beginning "$C", NUL-terminated without its '|'.
void start_download_worker(const char* message);
intptr_t progress_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);
