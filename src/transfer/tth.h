// The receive ring and the Tiger tree of a download.
//
// The worker receives the file's bytes into the ring's slots, writes each
// slot to the part file and hands it on; with hashing on, hashing threads
// (one per core, up to RING_HASH_THREADS) each take a whole slot and hash it
// while the worker fills the next, so the hash overlaps the transfer, runs
// on every core and no byte is read twice. Without hashing nothing waits on
// the slots, and one receive may fill RING_PLAIN_BYTES: the receive size
// then stays that of a plain copy.
//
// With hashing a slot is one segment of the file: RING_SLOT_BYTES of it,
// starting at a multiple of RING_SLOT_BYTES. The ring's bytes must therefore
// be the file's from its first byte on (a resumed download hands on its held
// part first), and ring_slot hands out only the room left up to the end of
// the current segment.
//
// One ring per job (DownloadJob); only that job's worker thread calls these
// with its number. Its pages are touched only as slots are first filled.
#pragma once

#include <cstdint>

#include "state/client_state.h"

// The ring is the download's largest memory: 192 KiB, touched only as it is
// filled. A slot is 32 Tiger leaves of 1024 bytes, a whole subtree of the
// file's tree; six slots let two hashing threads work while the worker
// fills the rest.
constexpr int RING_SLOTS = 6;
constexpr int RING_SLOT_BYTES = 32 * 1024;
constexpr int RING_BYTES = RING_SLOTS * RING_SLOT_BYTES;
// One receive without hashing: the size of a plain socket-to-file copy.
constexpr int RING_PLAIN_BYTES = 64 * 1024;
// Hashing threads per ring: one per core, at least one, at most this many.
constexpr int RING_HASH_THREADS = 4;

// Starts the ring; with hash nonzero also its hashing threads. Returns 1, or
// 0 when the hash or its first thread cannot be started (nothing is left
// running).
int ring_start(int job, int hash);
// Where the next bytes go, with the room there in *room (at most
// RING_SLOT_BYTES while hashing, RING_PLAIN_BYTES otherwise), waiting while
// the hashing threads still read every slot.
char* ring_slot(int job, int* room);
// Hands on bytes (at most *room) written where ring_slot pointed. A slot
// that is not full yet stays the current one: the next ring_slot continues
// it.
void ring_publish(int job, int bytes);
// Waits for every handed-on byte to be hashed, ends the threads and writes
// the root (upper-case base32, TTH_TEXT_BYTES) into root; root is emptied
// when hashing was off. The ring is free for the next ring_start.
void ring_finish(int job, char* root);
// Ends the ring without a root, whatever is pending (a failed download).
void ring_abandon(int job);
// The root of a whole text held in memory (used for identities and tests).
void tth_of_bytes(const void* data, int bytes, char* root);
