// Threads and time.
//
// Own state: the ring of thread start records (g_thread_starts,
// g_thread_start_next). It is the platform's own, shared by whichever thread
// starts another, so it lives here and not in the client's one record.
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>
#include <time.h>

#include <atomic>
#include <cerrno>

#include "platform/platform.h"

namespace {
struct ThreadStart {
    void (*body)(void*);
    void* argument;
    std::atomic<bool> taken;  // from its start until the new thread copied it
};

// One start record per thread start, taken from a small ring: a thread copies
// its record first thing and frees it. Ten downloads starting their hashing
// threads at once start more threads than there are records before any has
// run, so a start waits for a free record rather than overwrite one.
constexpr unsigned THREAD_START_SLOTS = 8;
ThreadStart g_thread_starts[THREAD_START_SLOTS];
std::atomic<unsigned> g_thread_start_next;

ThreadStart* take_start_slot(void (*body)(void*), void* argument) {
    for (;;) {
        ThreadStart* slot = &g_thread_starts[g_thread_start_next.fetch_add(1) % THREAD_START_SLOTS];
        bool expected = false;
        if (slot->taken.compare_exchange_strong(expected, true)) {
            slot->body = body;
            slot->argument = argument;
            return slot;
        }
        sched_yield();  // every record waits for its thread to run
    }
}

void* run_thread(void* start) {
    ThreadStart* slot = (ThreadStart*)start;
    void (*body)(void*) = slot->body;
    void* argument = slot->argument;
    slot->taken.store(false);
    body(argument);
    return nullptr;
}
}  // namespace

int thread_start(void (*body)(void*), void* argument) {
    ThreadStart* slot = take_start_slot(body, argument);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int failed = pthread_create(&thread, &attributes, run_thread, slot);
    pthread_attr_destroy(&attributes);
    if (failed) slot->taken.store(false);  // no thread will free it
    return failed ? 0 : 1;
}

int thread_start_joinable(ThreadHandle* handle, void (*body)(void*), void* argument) {
    ThreadStart* slot = take_start_slot(body, argument);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, run_thread, slot) != 0) {
        slot->taken.store(false);  // no thread will free it
        return 0;
    }
    *handle = (ThreadHandle)thread;
    return 1;
}

void thread_join(ThreadHandle handle) {
    pthread_join((pthread_t)handle, nullptr);
}

void memory_release(void* start, size_t bytes) {
    // Only the pages wholly inside the range: a page shared with what lies
    // around it keeps its bytes.
    long page = sysconf(_SC_PAGESIZE);
    if (page <= 0) return;
    uintptr_t first = ((uintptr_t)start + (uintptr_t)page - 1) & ~((uintptr_t)page - 1);
    uintptr_t end = ((uintptr_t)start + bytes) & ~((uintptr_t)page - 1);
    if (end > first) madvise((void*)first, end - first, MADV_DONTNEED);
}

void sleep_ms(int ms) {
    struct timespec left = {ms / 1000, (long)(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

uint64_t monotonic_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (uint64_t)now.tv_sec * 1000u + (uint64_t)now.tv_nsec / 1000000u;
}

int local_minute_of_day() {
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return 0;  // no time zone known: midnight
    return local.tm_hour * 60 + local.tm_min;
}

uint64_t wall_clock_seconds() {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec > 0 ? (uint64_t)now.tv_sec : 0;
}
