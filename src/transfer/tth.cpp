// The receive ring with its hashing thread (see tth.h).
//
// Slots are taken and handed on in order: slot k % RING_SLOTS is the k-th.
// `published` counts slots the worker handed on, `hashed` slots the thread
// has finished; the worker may fill slot `published` only while
// published - hashed < RING_SLOTS. Both counts and `closing` change under
// the ring's mutex; the slot bytes are written by the worker before the
// count that hands them on and read by the thread after it, so the mutex
// orders them.
//
// Each side sleeps only on its own condition and is woken only when it
// sleeps. A worker that finds the ring full sleeps until half of it is
// free: the hashing thread, the slower side, then wakes it once every
// RING_SLOTS / 2 slots instead of after each one.
//
// State of this file alone: the one ring, its lock and its sleep flags. They
// are the working memory of the one download, shared only by the worker and
// its hashing thread, and their 64 KiB are paged in only by a download.
#include "transfer/tth.h"

#include <rhash.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace {

struct Ring {
    // Slot k is bytes + k * RING_SLOT_BYTES; without hashing one receive
    // fills the whole of it.
    char bytes[RING_BYTES];
    int lengths[RING_SLOTS];
    uint64_t published;
    uint64_t hashed;
    bool hashing;
    bool closing;
    rhash context;
    ThreadHandle thread;
};

// A sleeping worker is woken when no more than this many slots wait.
constexpr uint64_t RING_RESUME_FILLED = RING_SLOTS / 2;

Ring g_ring;
std::mutex g_ring_mutex;
std::condition_variable g_slot_filled;  // the hashing thread sleeps on it
std::condition_variable g_slot_freed;   // the worker sleeps on it
bool g_hash_sleeping;
bool g_worker_sleeping;

// Finishes a context into its root (upper-case base32, or empty) and frees it.
void take_root(rhash context, char* root) {
    root[0] = '\0';
    rhash_final(context, nullptr);
    char text[80];
    size_t n = rhash_print(text, context, RHASH_TTH, RHPR_BASE32 | RHPR_UPPERCASE);
    if (n == (size_t)TTH_BASE32_CHARS) text_copy_n(root, TTH_TEXT_BYTES, text, TTH_BASE32_CHARS);
    rhash_free(context);
}

void library_ready() {
    static const bool ready = [] {
        // Tiger is not among OpenSSL's hashes: without this the library
        // loads libcrypto, well over a megabyte of resident pages for nothing.
        rhash_set_openssl_mask(0);
        rhash_library_init();
        return true;
    }();
    (void)ready;
}

void hash_slots(void*) {
    std::unique_lock<std::mutex> hold(g_ring_mutex);
    for (;;) {
        g_hash_sleeping = true;
        g_slot_filled.wait(hold, [] { return g_ring.hashed < g_ring.published || g_ring.closing; });
        g_hash_sleeping = false;
        if (g_ring.hashed == g_ring.published) return;  // closing, and nothing left
        int k = (int)(g_ring.hashed % RING_SLOTS);
        hold.unlock();
        rhash_update(g_ring.context, g_ring.bytes + k * RING_SLOT_BYTES, (size_t)g_ring.lengths[k]);
        hold.lock();
        g_ring.hashed++;
        if (g_worker_sleeping && g_ring.published - g_ring.hashed <= RING_RESUME_FILLED) {
            g_worker_sleeping = false;
            hold.unlock();  // the worker wakes to a free mutex
            g_slot_freed.notify_one();
            hold.lock();
        }
    }
}

void stop_thread() {
    {
        std::lock_guard<std::mutex> hold(g_ring_mutex);
        g_ring.closing = true;
    }
    g_slot_filled.notify_one();
    thread_join(g_ring.thread);
}

}  // namespace

int ring_start(int hash) {
    g_ring.published = 0;
    g_ring.hashed = 0;
    g_ring.closing = false;
    g_ring.hashing = false;
    g_hash_sleeping = false;
    g_worker_sleeping = false;
    if (!hash) return 1;
    library_ready();
    g_ring.context = rhash_init(RHASH_TTH);
    if (g_ring.context == nullptr) return 0;
    if (!thread_start_joinable(&g_ring.thread, hash_slots, nullptr)) {
        rhash_free(g_ring.context);
        return 0;
    }
    g_ring.hashing = true;
    return 1;
}

char* ring_slot() {
    if (!g_ring.hashing) return g_ring.bytes;
    std::unique_lock<std::mutex> hold(g_ring_mutex);
    if (g_ring.published - g_ring.hashed == (uint64_t)RING_SLOTS) {
        g_worker_sleeping = true;
        g_slot_freed.wait(hold, [] { return !g_worker_sleeping; });
    }
    return g_ring.bytes + (g_ring.published % RING_SLOTS) * RING_SLOT_BYTES;
}

int ring_slot_bytes() { return g_ring.hashing ? RING_SLOT_BYTES : RING_BYTES; }

void ring_publish(int bytes) {
    if (!g_ring.hashing) return;
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(g_ring_mutex);
        g_ring.lengths[g_ring.published % RING_SLOTS] = bytes;
        g_ring.published++;
        wake = g_hash_sleeping;
    }
    if (wake) g_slot_filled.notify_one();
}

void ring_finish(char* root) {
    root[0] = '\0';
    if (!g_ring.hashing) return;
    stop_thread();  // the thread hashes what is pending before it ends
    take_root(g_ring.context, root);
    g_ring.hashing = false;
}

void ring_abandon() {
    char ignored[TTH_TEXT_BYTES];
    ring_finish(ignored);
}

void tth_of_bytes(const void* data, int bytes, char* root) {
    library_ready();
    root[0] = '\0';
    rhash context = rhash_init(RHASH_TTH);
    if (context == nullptr) return;
    rhash_update(context, data, (size_t)bytes);
    take_root(context, root);
}
