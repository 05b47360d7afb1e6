// The transfers: one worker thread per running DownloadJob, which fetches a
// file from a peer, started by the peer's $ConnectToMe through the hub
// (passive), or by the peer's connection to Kivo's listener (active); the
// request itself is sent through the hub by the queue (hub/queue.h).
//
// Each job lives through the phases set out in state/client_state.h: the
// queue (UI) fills a job and makes it a waiting request; a $ConnectToMe (UI)
// starts its worker; the worker connects, receives, verifies and ends,
// writing one chat note, its end and reason into the job, and putting the
// phase back to idle as its last touch of shared state.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "state/client_state.h"

// Bound on the connect to the peer; "Stop" ends it sooner.
constexpr int DOWNLOAD_CONNECT_MS = 15000;

// File data goes through the receive ring (transfer/tth.h): one receive
// fills at most a slot while hashing, at most the whole ring otherwise.
constexpr int DOWNLOAD_CHUNK_BYTES = 64 * 1024;
// The greeting and the length reply: at most 999 bytes each, and a NUL.
constexpr int HANDSHAKE_RECEIVE_BYTES = 1000;
// The local file name as UTF-16, terminator included.
constexpr int LOCAL_NAME_UNITS = DOWNLOAD_FOLDER_UNITS + QUEUE_NAME_BYTES + TTH_TEXT_BYTES + 32;

// Posted to the main window by a worker that ended (wparam: the job): the
// queue takes its outcome.
constexpr uint32_t WM_DOWNLOAD_ENDED = 0x8005;

// One hub message beginning "$C", NUL-terminated without its '|'. Starts one
// job's worker only for a "$ConnectToMe " while a job is requested; one that
// comes while none is requested but a worker connects is kept as a spare;
// any other is ignored, so that nobody on the hub can make the client
// connect anywhere.
void download_take_connect(const char* message);
// The worker's thread body; the argument is its DownloadJob.
void download_worker(void* job);

// Incoming connections (active mode): at most this many at a time before
// their $MyNick is in, each given INCOMING_HANDSHAKE_MS for all of it (the
// TLS handshake included) and at most HANDSHAKE_RECEIVE_BYTES - 1 bytes.
constexpr int INCOMING_HANDSHAKES = 8;
constexpr int INCOMING_HANDSHAKE_MS = 15000;
// A connection accepted on a listener (tls: the TLS listener's), from a peer
// answering Kivo's $ConnectToMe (UI thread). The peer speaks first; its
// $MyNick must name the user of a job whose $ConnectToMe waits for it, and
// that job's worker then goes on with this connection. Closed at once when
// no such request waits or INCOMING_HANDSHAKES already run; closed after its
// greeting when the nick names nobody Kivo asked. Kivo never connects
// anywhere because of what arrives here.
void download_take_incoming(int socket, bool tls);

// Whether the client offers TLS transfers (the $MyINFO flag bit 0x10): the
// build speaks TLS and the settings do not switch it off. Either way a
// $ConnectToMe whose port is marked S is answered over TLS only.
bool download_tls_offered();

// Makes the local file name from a short name (1251): '/' and control bytes
// become '_'. Returns 1, or 0 (dst emptied) for a name that cannot be made
// safe: empty, ".", "..", or too long for dst.
int make_safe_file_name(const char* short_name, char* dst, int dst_bytes);
// Splits a queued file's local name ("a/b/c.ext": folders below the download
// folder, then the file's name) into its folders, each made safe and joined
// by '/' (empty when there are none), and its name, made safe. Returns 1, or
// 0 (both emptied) when a part cannot be made safe or does not fit: nothing
// ever reaches outside the download folder.
int split_local_name(const char* local_name, char* folders, int folders_bytes, char* name, int name_bytes);
