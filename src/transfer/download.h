// One download at a time: the worker thread that fetches the file from the
// peer, started by the owner's $ConnectToMe (the request itself is sent
// through the hub: hub/download_request.h).
//
// The DownloadJob (g_state.download) lives through the phases set out in
// state/client_state.h: the Download command (UI) fills the job and makes it
// the waiting request; the owner's $ConnectToMe (UI) starts the worker; the
// worker connects, receives, verifies and ends, writing one chat note and
// putting the phase back to idle as its last touch of shared state.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Bound on the connect to the peer; "Stop" ends it sooner.
constexpr int DOWNLOAD_CONNECT_MS = 15000;

// File data goes through the receive ring (transfer/tth.h): one receive
// fills at most a slot while hashing, at most the whole ring otherwise.
constexpr int DOWNLOAD_CHUNK_BYTES = 64 * 1024;
// The greeting and the length reply: at most 999 bytes each, and a NUL.
constexpr int HANDSHAKE_RECEIVE_BYTES = 1000;
// The local file name as UTF-16, terminator included.
constexpr int LOCAL_NAME_UNITS = 550;

// One hub message beginning "$C", NUL-terminated without its '|'. Starts the
// worker only for a "$ConnectToMe " while a download is requested; one that
// comes while the worker is connecting is kept as its spare; any other is
// ignored, so that nobody on the hub can make the client connect anywhere.
void download_take_connect(const char* message);
// The worker's thread body; the argument is the ConnectRequest.
void download_worker(void* request);

// Whether the client offers TLS transfers (the $MyINFO flag bit 0x10): the
// build speaks TLS and the settings do not switch it off. Either way a
// $ConnectToMe whose port is marked S is answered over TLS only.
bool download_tls_offered();

// Makes the local file name from a short name (1251): '/' and control bytes
// become '_'. Returns 1, or 0 (dst emptied) for a name that cannot be made
// safe: empty, ".", "..", or too long for dst.
int make_safe_file_name(const char* short_name, char* dst, int dst_bytes);
