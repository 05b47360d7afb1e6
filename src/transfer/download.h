// One download at a time: the request through the hub, the worker thread that
// fetches the file from the peer, and the progress screen.
//
// The DownloadJob (g_state.download) moves through these states, each change
// made by the one thread named:
//   idle       row -1, not requested, not running
//   requested  Download command (UI): job filled, row set, $RevConnectToMe sent
//   running    start_download_worker (UI), on the owner's $ConnectToMe while
//              requested and not running: request taken, worker started
//   idle       the worker, when it ends for any reason: row -1, one chat note
//              (" ::downloaded::", or why it failed or was stopped), then
//              running cleared as its last touch of shared state.
// While running, the UI thread writes nothing of the job but the stop flag; the
// worker writes only the counts, the row and the running flag.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Silence that ends a download: no byte from the peer for this long while
// waiting for its greeting, its length reply or the file's data.
constexpr int DOWNLOAD_SILENCE_LIMIT_MS = 60000;
// The limit in force; tests lower it. Read by each worker when it starts.
extern int download_silence_ms;

// File data goes through one fixed buffer, at most DOWNLOAD_CHUNK_BYTES per receive.
constexpr int DOWNLOAD_BUFFER_BYTES = 50000;
constexpr int DOWNLOAD_CHUNK_BYTES = 49900;
// The greeting and the length reply: at most 999 bytes each, and a NUL.
constexpr int HANDSHAKE_RECEIVE_BYTES = 1000;
// The local file name as UTF-16, terminator included.
constexpr int LOCAL_NAME_UNITS = 550;

// Sends "$RevConnectToMe <own nick> <peer nick>|" on the HubSocket. Returns 1
// when the socket took the whole message, else 0 (only bytes taken are counted).
int send_rev_connect(const char* peer_nick);
// The results screen's "Download" (6005): takes the selected result of the
// screen's list (4008) into the DownloadJob and sends the request. While a
// download runs it is refused with a note in the chat instead. The results
// screen closes itself after the call.
void download_command(Window search_screen);
// One hub message beginning "$C", NUL-terminated without its '|'. Starts the
// worker only for a "$ConnectToMe " while a download is requested and none runs.
void start_download_worker(const char* message);
// The worker's thread body; the argument is the ConnectRequest.
void download_worker(void* request);
// The progress screen (template 1004), opened by the main screen's "Downloads".
intptr_t progress_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);

// Makes the local file name from a short name (1251): '/' and control bytes
// become '_'. Returns 1, or 0 (dst emptied) for a name that cannot be made
// safe: empty, ".", "..", or too long for dst.
int make_safe_file_name(const char* short_name, char* dst, int dst_bytes);
