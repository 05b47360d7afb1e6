// The receive ring and the Tiger tree of a download.
//
// The worker receives the file's bytes into the ring's slots, writes each
// slot to the part file and hands it on; with hashing on, a second thread
// feeds each handed-on slot to rhash's Tiger Tree Hash while the worker
// fills the next, so the hash overlaps the transfer and no byte is read
// twice. Without hashing nothing waits on the slots, and one receive may
// fill the whole ring: the receive size then stays that of a plain copy.
//
// One ring per job (DownloadJob); only that job's worker thread calls these
// with its number. Its pages are touched only as slots are first filled.
#pragma once

#include <cstdint>

#include "state/client_state.h"

// The ring is the download's largest memory: 64 KiB, touched only as it is
// filled. With hashing the slots are small so that four fit, the hashing
// thread (the slower side) never waits long for the next.
constexpr int RING_SLOTS = 4;
constexpr int RING_SLOT_BYTES = 16 * 1024;
constexpr int RING_BYTES = RING_SLOTS * RING_SLOT_BYTES;

// Starts the ring; with hash nonzero also the hashing thread. Returns 1, or
// 0 when the hash or its thread cannot be started (nothing is left running).
int ring_start(int job, int hash);
// Where the next bytes go, with the room there in *room (at most
// RING_BYTES), waiting while the hashing thread still reads every slot.
char* ring_slot(int job, int* room);
// Hands on bytes (at most *room) written where ring_slot pointed.
void ring_publish(int job, int bytes);
// Waits for every handed-on slot to be hashed, ends the thread and writes the
// root (upper-case base32, TTH_TEXT_BYTES) into root; root is emptied when
// hashing was off. The ring is free for the next ring_start.
void ring_finish(int job, char* root);
// Ends the ring without a root, whatever is pending (a failed download).
void ring_abandon(int job);
// The root of a whole text held in memory (used for identities and tests).
void tth_of_bytes(const void* data, int bytes, char* root);
