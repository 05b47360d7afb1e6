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
// State of this file alone: one ring per job, each with its lock and sleep
// flags. They are the working memory of that job's transfer, shared only by
// its worker and its hashing thread, and their 64 KiB are paged in only by
// a transfer on that job.
#include "transfer/tth.h"

#include <rhash.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/platform.h"

namespace {

struct Ring {
    std::mutex mutex;
    std::condition_variable slot_filled;  // the hashing thread sleeps on it
    std::condition_variable slot_freed;   // the worker sleeps on it
    bool hash_sleeping;
    bool worker_sleeping;
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

Ring g_rings[DOWNLOAD_JOBS];

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

void hash_slots(void* ring) {
    Ring& r = *(Ring*)ring;
    std::unique_lock<std::mutex> hold(r.mutex);
    for (;;) {
        r.hash_sleeping = true;
        r.slot_filled.wait(hold, [&] { return r.hashed < r.published || r.closing; });
        r.hash_sleeping = false;
        if (r.hashed == r.published) return;  // closing, and nothing left
        int k = (int)(r.hashed % RING_SLOTS);
        hold.unlock();
        rhash_update(r.context, r.bytes + k * RING_SLOT_BYTES, (size_t)r.lengths[k]);
        hold.lock();
        r.hashed++;
        if (r.worker_sleeping && r.published - r.hashed <= RING_RESUME_FILLED) {
            r.worker_sleeping = false;
            hold.unlock();  // the worker wakes to a free mutex
            r.slot_freed.notify_one();
            hold.lock();
        }
    }
}

void stop_thread(Ring& r) {
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        r.closing = true;
    }
    r.slot_filled.notify_one();
    thread_join(r.thread);
}

}  // namespace

int ring_start(int job, int hash) {
    Ring& r = g_rings[job];
    r.published = 0;
    r.hashed = 0;
    r.closing = false;
    r.hashing = false;
    r.hash_sleeping = false;
    r.worker_sleeping = false;
    if (!hash) return 1;
    library_ready();
    r.context = rhash_init(RHASH_TTH);
    if (r.context == nullptr) return 0;
    if (!thread_start_joinable(&r.thread, hash_slots, &r)) {
        rhash_free(r.context);
        return 0;
    }
    r.hashing = true;
    return 1;
}

char* ring_slot(int job, int* room) {
    Ring& r = g_rings[job];
    *room = r.hashing ? RING_SLOT_BYTES : RING_BYTES;
    if (!r.hashing) return r.bytes;
    std::unique_lock<std::mutex> hold(r.mutex);
    if (r.published - r.hashed == (uint64_t)RING_SLOTS) {
        r.worker_sleeping = true;
        r.slot_freed.wait(hold, [&] { return !r.worker_sleeping; });
    }
    return r.bytes + (r.published % RING_SLOTS) * RING_SLOT_BYTES;
}

void ring_publish(int job, int bytes) {
    Ring& r = g_rings[job];
    if (!r.hashing) return;
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        r.lengths[r.published % RING_SLOTS] = bytes;
        r.published++;
        wake = r.hash_sleeping;
    }
    if (wake) r.slot_filled.notify_one();
}

void ring_finish(int job, char* root) {
    Ring& r = g_rings[job];
    root[0] = '\0';
    if (!r.hashing) return;
    stop_thread(r);  // the thread hashes what is pending before it ends
    take_root(r.context, root);
    r.hashing = false;
}

void ring_abandon(int job) {
    char ignored[TTH_TEXT_BYTES];
    ring_finish(job, ignored);
}

void tth_of_bytes(const void* data, int bytes, char* root) {
    library_ready();
    root[0] = '\0';
    rhash context = rhash_init(RHASH_TTH);
    if (context == nullptr) return;
    rhash_update(context, data, (size_t)bytes);
    take_root(context, root);
}
