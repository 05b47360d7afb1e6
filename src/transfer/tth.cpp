// The receive ring with its hashing threads (see tth.h).
//
// The Tiger tree: a leaf is Tiger(0x00 || 1024 bytes of the file, the last
// one shorter), a node Tiger(0x01 || left || right), paired level by level
// from the left, an odd node at the end of a level promoted unchanged; the
// root of the empty file is Tiger(0x00). A segment of 2^k whole leaves that
// starts at a multiple of its size is a complete subtree, so its own root
// (rhash's TTH of its bytes) is that subtree's node, whichever thread made
// it. The file's last segment (shorter, or the only one) has as its root the
// node that the leaves after the full segments fold into. The file's root is
// then these segment nodes combined in order as leaves are: a stack in which
// the n-th node pushed is paired with the one below it once for each
// trailing zero bit of n, and at the end the stack folded from the top. Its
// depth is the bit count of the segment count, so STACK_NODES bounds any
// 64-bit length.
//
// Slots are taken and handed on in order: slot k % RING_SLOTS holds segment
// k. Counts of segments, changed under the ring's mutex:
//   combined <= claimed <= published
//   published  the worker handed them on (a partly filled slot is not yet)
//   claimed    a hashing thread took them; each takes the next in turn
//   combined   their nodes are on the stack, in order: their slots are free
// A thread that finishes segment k marks it done and moves every done
// segment from `combined` on onto the stack, so nodes go on in file order
// whichever thread finishes first. The worker may fill slot `published` only
// while published - combined < RING_SLOTS. The slot bytes are written by the
// worker before the count that hands them on and read by a thread after it,
// so the mutex orders them; a node is written by its thread before `done`.
//
// Each side sleeps only on its own condition and is woken only when it
// sleeps, and each wakes the other only once half of the ring waits for it:
// a wake costs a switch, and a thread woken at each segment takes the core
// from the one that woke it. A hashing thread sleeps while nothing waits to
// be claimed; the worker wakes one of those asleep once RING_SLOTS / 2
// segments wait unclaimed (and all of them when the ring finishes). A
// worker that finds the ring full sleeps until half of it is free: the
// hashing threads then wake it once every RING_SLOTS / 2 segments.
//
// State of this file alone: one ring per job, each with its lock, sleep
// counts and threads. They are the working memory of that job's transfer,
// shared only by its worker and its hashing threads, and their 192 KiB are
// paged in only by a transfer on that job.
#include "transfer/tth.h"

#include <rhash.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/platform.h"

namespace {

// A Tiger digest, a leaf or node of the tree.
constexpr int TIGER_BYTES = 24;
// A stack entry per bit of the segment count: 2^64 bytes are fewer than
// 2^64 segments.
constexpr int STACK_NODES = 64;
// A sleeping worker is woken when no more than this many slots wait.
constexpr uint64_t RING_RESUME_FILLED = RING_SLOTS / 2;
// A sleeping hashing thread is woken when this many segments wait unclaimed.
constexpr uint64_t RING_WAKE_WAITING = RING_SLOTS / 2;

static_assert(RING_SLOT_BYTES % 1024 == 0 && (RING_SLOT_BYTES & (RING_SLOT_BYTES - 1)) == 0,
              "a slot is a power-of-two count of whole leaves");
static_assert(RING_PLAIN_BYTES <= RING_BYTES, "a plain receive fits in the ring");

struct Ring;

// One hashing thread and its context, reused for every segment it takes.
struct Hasher {
    Ring* ring;
    rhash context;
    ThreadHandle thread;
};

struct Ring {
    std::mutex mutex;
    std::condition_variable slot_filled;  // the hashing threads sleep on it
    std::condition_variable slot_freed;   // the worker sleeps on it
    int hashers_sleeping;
    bool worker_sleeping;
    // Slot k is bytes + k * RING_SLOT_BYTES; without hashing one receive
    // fills up to RING_PLAIN_BYTES of it.
    char bytes[RING_BYTES];
    int lengths[RING_SLOTS];
    bool done[RING_SLOTS];
    unsigned char nodes[RING_SLOTS][TIGER_BYTES];
    int fill;  // bytes in the current, not yet handed-on slot (worker only)
    uint64_t published;
    uint64_t claimed;
    uint64_t combined;
    unsigned char stack[STACK_NODES][TIGER_BYTES];
    int depth;
    bool hashing;
    bool closing;    // no more segments come: finish what is handed on
    bool abandoned;  // no more segments are hashed
    rhash pair;      // Tiger for the nodes above the segments (under the mutex)
    Hasher hashers[RING_HASH_THREADS];
    int threads;
};

Ring g_rings[DOWNLOAD_JOBS];

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

int hash_threads() {
    static const int count = [] {
        unsigned cores = std::thread::hardware_concurrency();  // 0: unknown
        if (cores < 1) cores = 1;
        return cores > (unsigned)RING_HASH_THREADS ? RING_HASH_THREADS : (int)cores;
    }();
    return count;
}

// Into out: Tiger(0x01 || left || right). out may be left.
void pair_nodes(rhash pair, const unsigned char* left, const unsigned char* right, unsigned char* out) {
    unsigned char joined[1 + 2 * TIGER_BYTES];
    joined[0] = 0x01;
    memcpy(joined + 1, left, TIGER_BYTES);
    memcpy(joined + 1 + TIGER_BYTES, right, TIGER_BYTES);
    rhash_reset(pair);
    rhash_update(pair, joined, sizeof joined);
    rhash_final(pair, out);
}

// The n-th segment's node onto the stack (n counted from 1), paired with the
// nodes below it as leaves are.
void push_node(Ring& r, const unsigned char* node, uint64_t n) {
    memcpy(r.stack[r.depth], node, TIGER_BYTES);
    r.depth++;
    for (; (n & 1) == 0 && r.depth >= 2; n >>= 1) {
        pair_nodes(r.pair, r.stack[r.depth - 2], r.stack[r.depth - 1], r.stack[r.depth - 2]);
        r.depth--;
    }
}

// Moves the done segments at the front onto the stack; their slots are free.
void combine_done(Ring& r) {
    while (r.combined < r.claimed && r.done[r.combined % RING_SLOTS]) {
        int k = (int)(r.combined % RING_SLOTS);
        r.done[k] = false;
        r.combined++;
        push_node(r, r.nodes[k], r.combined);
    }
}

void hash_segments(void* hasher) {
    Hasher& h = *(Hasher*)hasher;
    Ring& r = *h.ring;
    std::unique_lock<std::mutex> hold(r.mutex);
    for (;;) {
        while (r.claimed == r.published && !r.closing) {
            r.hashers_sleeping++;
            r.slot_filled.wait(hold);
            r.hashers_sleeping--;
        }
        if (r.claimed == r.published || r.abandoned) return;  // closing, nothing left for this thread
        int k = (int)(r.claimed % RING_SLOTS);
        r.claimed++;
        hold.unlock();
        rhash_reset(h.context);
        rhash_update(h.context, r.bytes + k * RING_SLOT_BYTES, (size_t)r.lengths[k]);
        rhash_final(h.context, r.nodes[k]);
        hold.lock();
        r.done[k] = true;
        combine_done(r);
        if (r.worker_sleeping && r.published - r.combined <= RING_RESUME_FILLED) {
            r.worker_sleeping = false;
            hold.unlock();  // the worker wakes to a free mutex
            r.slot_freed.notify_one();
            hold.lock();
        }
    }
}

// Hands on the current slot with its fill; the worker holds no slot after.
// Segments handed on below the wake mark wait for a thread that is awake,
// for the mark, or for the ring's end.
void hand_on(Ring& r) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        r.lengths[r.published % RING_SLOTS] = r.fill;
        r.published++;
        wake = r.hashers_sleeping > 0 && r.published - r.claimed >= RING_WAKE_WAITING;
    }
    r.fill = 0;
    if (wake) r.slot_filled.notify_one();
}

// Ends the threads (abandon: without hashing what is pending) and frees
// their contexts; the pair context stays for the root.
void stop_threads(Ring& r, bool abandon) {
    {
        std::lock_guard<std::mutex> hold(r.mutex);
        r.closing = true;
        r.abandoned = abandon;
    }
    r.slot_filled.notify_all();
    for (int i = 0; i < r.threads; i++) thread_join(r.hashers[i].thread);
    for (int i = 0; i < r.threads; i++) rhash_free(r.hashers[i].context);
    r.threads = 0;
    r.hashing = false;
}

// The file's root from the stack (every thread ended) as upper-case base32.
void take_root(Ring& r, char* root) {
    unsigned char node[TIGER_BYTES];
    if (r.depth == 0) {
        const unsigned char empty_leaf = 0x00;
        rhash_reset(r.pair);
        rhash_update(r.pair, &empty_leaf, 1);
        rhash_final(r.pair, node);
    } else {
        for (; r.depth >= 2; r.depth--) {
            pair_nodes(r.pair, r.stack[r.depth - 2], r.stack[r.depth - 1], r.stack[r.depth - 2]);
        }
        memcpy(node, r.stack[0], TIGER_BYTES);
    }
    char text[80];
    size_t n = rhash_print_bytes(text, node, TIGER_BYTES, RHPR_BASE32 | RHPR_UPPERCASE);
    if (n == (size_t)TTH_BASE32_CHARS) text_copy_n(root, TTH_TEXT_BYTES, text, TTH_BASE32_CHARS);
}

// The contexts and threads of a hashing ring; false with nothing left over
// when not even one thread runs. A thread that cannot start leaves the
// others to do its share.
bool start_hashers(Ring& r) {
    library_ready();
    r.pair = rhash_init(RHASH_TIGER);
    if (r.pair == nullptr) return false;
    r.threads = 0;
    for (int i = 0; i < hash_threads(); i++) {
        Hasher& h = r.hashers[r.threads];
        h.ring = &r;
        h.context = rhash_init(RHASH_TTH);
        if (h.context == nullptr) break;
        if (!thread_start_joinable(&h.thread, hash_segments, &h)) {
            rhash_free(h.context);
            break;
        }
        r.threads++;
    }
    if (r.threads > 0) return true;
    rhash_free(r.pair);
    return false;
}

}  // namespace

int ring_start(int job, int hash) {
    Ring& r = g_rings[job];
    r.published = 0;
    r.claimed = 0;
    r.combined = 0;
    r.fill = 0;
    r.depth = 0;
    for (bool& d : r.done) d = false;
    r.closing = false;
    r.abandoned = false;
    r.hashing = false;
    r.hashers_sleeping = 0;
    r.worker_sleeping = false;
    r.threads = 0;
    if (!hash) return 1;
    if (!start_hashers(r)) return 0;
    r.hashing = true;
    return 1;
}

char* ring_slot(int job, int* room) {
    Ring& r = g_rings[job];
    if (!r.hashing) {
        *room = RING_PLAIN_BYTES;
        return r.bytes;
    }
    *room = RING_SLOT_BYTES - r.fill;
    if (r.fill == 0) {
        std::unique_lock<std::mutex> hold(r.mutex);
        if (r.published - r.combined == (uint64_t)RING_SLOTS) {
            r.worker_sleeping = true;
            r.slot_freed.wait(hold, [&] { return !r.worker_sleeping; });
        }
    }
    return r.bytes + (r.published % RING_SLOTS) * RING_SLOT_BYTES + r.fill;
}

void ring_publish(int job, int bytes) {
    Ring& r = g_rings[job];
    if (!r.hashing) return;
    r.fill += bytes;
    if (r.fill == RING_SLOT_BYTES) hand_on(r);
}

void ring_finish(int job, char* root) {
    Ring& r = g_rings[job];
    root[0] = '\0';
    if (!r.hashing) return;
    if (r.fill > 0) hand_on(r);  // the file's last, shorter segment
    stop_threads(r, false);      // the threads hash what is pending before they end
    take_root(r, root);
    rhash_free(r.pair);
}

void ring_abandon(int job) {
    Ring& r = g_rings[job];
    if (!r.hashing) return;
    stop_threads(r, true);
    rhash_free(r.pair);
}

void tth_of_bytes(const void* data, int bytes, char* root) {
    library_ready();
    root[0] = '\0';
    rhash context = rhash_init(RHASH_TTH);
    if (context == nullptr) return;
    rhash_update(context, data, (size_t)bytes);
    rhash_final(context, nullptr);
    char text[80];
    size_t n = rhash_print(text, context, RHASH_TTH, RHPR_BASE32 | RHPR_UPPERCASE);
    if (n == (size_t)TTH_BASE32_CHARS) text_copy_n(root, TTH_TEXT_BYTES, text, TTH_BASE32_CHARS);
    rhash_free(context);
}
