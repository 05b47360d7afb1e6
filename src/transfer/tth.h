// The receive ring and the Tiger tree of a download.
//
// The worker receives the file's bytes into the ring's slots, writes each
// slot to the part file and hands it on; with hashing on, a second thread
// feeds each handed-on slot to rhash's Tiger Tree Hash while the worker
// fills the next, so the hash overlaps the transfer and no byte is read
// twice. Without hashing the worker uses the first slot over and over.
//
// One ring in the process, for the one download; only the worker thread
// calls these. Its pages are touched only as slots are first filled.
#pragma once

#include <cstdint>

#include "state/client_state.h"

constexpr int RING_SLOTS = 4;
constexpr int RING_SLOT_BYTES = 64 * 1024;

// Starts the ring; with hash nonzero also the hashing thread. Returns 1, or
// 0 when the hash or its thread cannot be started (nothing is left running).
int ring_start(int hash);
// A free slot of RING_SLOT_BYTES, waiting while the hashing thread still
// reads every slot.
char* ring_slot();
// Hands on the slot just returned by ring_slot, filled with bytes bytes.
void ring_publish(int bytes);
// Waits for every handed-on slot to be hashed, ends the thread and writes the
// root (upper-case base32, TTH_TEXT_BYTES) into root; root is emptied when
// hashing was off. The ring is free for the next ring_start.
void ring_finish(char* root);
// Ends the ring without a root, whatever is pending (a failed download).
void ring_abandon();
// The root of a whole text held in memory (used for identities and tests).
void tth_of_bytes(const void* data, int bytes, char* root);
