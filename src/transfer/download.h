// One download at a time: the request through the hub, the worker thread that
// fetches the file from the peer, and the progress screen.
//
// The DownloadJob (g_state.download) lives through the phases set out in
// state/client_state.h: the Download command (UI) fills the job and makes it
// the waiting request; the owner's $ConnectToMe (UI) starts the worker; the
// worker connects, receives, verifies and ends, writing one chat note and
// putting the phase back to idle as its last touch of shared state.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Silence that ends a download: no byte from the peer for this long while
// waiting for its greeting, its length reply or the file's data.
constexpr int DOWNLOAD_SILENCE_LIMIT_MS = 60000;
// The limit in force; tests lower it. Read by each worker when it starts.
extern int download_silence_ms;
// Bound on the connect to the peer; "Stop" ends it sooner.
constexpr int DOWNLOAD_CONNECT_MS = 15000;

// File data goes through the receive ring (transfer/tth.h): one receive
// fills at most a slot while hashing, at most the whole ring otherwise.
constexpr int DOWNLOAD_CHUNK_BYTES = 64 * 1024;
// The greeting and the length reply: at most 999 bytes each, and a NUL.
constexpr int HANDSHAKE_RECEIVE_BYTES = 1000;
// The local file name as UTF-16, terminator included.
constexpr int LOCAL_NAME_UNITS = 550;

// Sends "$RevConnectToMe <own nick> <peer nick>|" on the HubSocket. Returns 1
// when the socket took the whole message, else 0 (only bytes taken are counted).
int send_rev_connect(const char* peer_nick);
// The results screen's "Download" (6005): takes the selected result of the
// screen's list (4008) into the DownloadJob and sends the request. While a
// worker runs it is refused with a note in the chat instead; a request still
// waiting is replaced. The results screen closes itself after the call.
void download_command(Window search_screen);
// One hub message beginning "$C", NUL-terminated without its '|'. Starts the
// worker only for a "$ConnectToMe " while a download is requested; one that
// comes while the worker is connecting is kept as its spare.
void start_download_worker(const char* message);
// The worker's thread body; the argument is the ConnectRequest.
void download_worker(void* request);
// The progress screen (template 1004), opened by the main screen's "Downloads".
intptr_t progress_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam);

// Makes the local file name from a short name (1251): '/' and control bytes
// become '_'. Returns 1, or 0 (dst emptied) for a name that cannot be made
// safe: empty, ".", "..", or too long for dst.
int make_safe_file_name(const char* short_name, char* dst, int dst_bytes);
