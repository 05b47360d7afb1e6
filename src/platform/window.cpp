// The window table, sending and posting of messages, and repaint requests.
//
// Model: WINDOW_SLOTS fixed slots; a handle is ((generation << 10) | (slot + 1)
// << 1), so it is never 0, always even, and goes stale when its slot is freed.
// Posted messages wait in a fixed ring of POST_SLOTS under a mutex; a poster
// on another thread also writes one byte into the wake pipe, so the loop,
// asleep in poll, wakes up. When the ring is full post_message fails (returns
// 0), as the platform's own queue did when full. Sends run the procedure at
// once on the calling thread; only the user-interface thread sends.
//
// Repaints: a request sets the window's paint flag; paints_deliver sends
// WM_PAINT once the posted queue is empty, to each window that asked, and no
// sooner than PAINT_INTERVAL_MS after that window's previous paint. A thread
// that does not run the loop (a download worker) must not touch the window
// table: its request is kept in an atomic slot of its own, found from the
// handle alone, and the loop, woken through the wake pipe, takes it at its
// next paints_deliver. So requests from any thread are coalesced alike.
//
// Own state: the window table (g_windows), the posted-message ring (g_ring),
// the repaint requests of other threads (g_asked_elsewhere, g_any_asked)
// and the wake pipe (g_wake_fds, g_wake_once). They are the platform's own
// (the stand-in for the phone's window manager and message queue), not the
// client's, so they live here and not in the client's one record.
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/platform_internal.h"

namespace {

constexpr int POST_SLOTS = 1024;

WindowSlot g_windows[WINDOW_SLOTS];

struct PostRing {
    pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
    PostedMessage slots[POST_SLOTS];
    int head;   // oldest message
    int count;
};
PostRing g_ring;

// Per window slot: the handle whose repaint another thread asked for, 0 for
// none; g_any_asked is set after any of them, so the loop looks only then.
std::atomic<Window> g_asked_elsewhere[WINDOW_SLOTS];
std::atomic<bool> g_any_asked;

int g_wake_fds[2] = {-1, -1};
pthread_once_t g_wake_once = PTHREAD_ONCE_INIT;

void wake_pipe_open() {
    if (pipe2(g_wake_fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        g_wake_fds[0] = g_wake_fds[1] = -1;  // posts still queue; the loop just wakes later
    }
}

// Wakes the loop from another thread.
void wake_loop() {
    pthread_once(&g_wake_once, wake_pipe_open);
    if (g_wake_fds[1] >= 0) {
        char b = 1;
        // A full pipe already holds a wake-up for the loop: nothing is lost.
        ssize_t ignored = write(g_wake_fds[1], &b, 1);
        (void)ignored;
    }
}

// The handle of the slot as it is now (its generation and place).
Window handle_of(int slot) {
    return (Window)((g_windows[slot].generation << 10) | ((uint32_t)(slot + 1) << 1));
}

int slot_of(Window window) {
    if (window <= 0 || (window & 1)) return -1;
    int slot = ((window >> 1) & 0x1FF) - 1;
    if (slot < 0 || slot >= WINDOW_SLOTS) return -1;
    return slot;
}

int ring_push(Window window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    pthread_mutex_lock(&g_ring.lock);
    int ok = g_ring.count < POST_SLOTS;
    if (ok) {
        PostedMessage* m = &g_ring.slots[(g_ring.head + g_ring.count) % POST_SLOTS];
        *m = PostedMessage{window, message, wparam, lparam};
        g_ring.count++;
    }
    pthread_mutex_unlock(&g_ring.lock);
    return ok;
}

}  // namespace

Window window_alloc(WindowKind kind, ScreenProc proc, int screen, int control) {
    for (int i = 0; i < WINDOW_SLOTS; i++) {
        WindowSlot* w = &g_windows[i];
        if (w->kind != WINDOW_FREE) continue;
        w->generation = (w->generation + 1) & 0xFFFFF;
        if (w->generation == 0) w->generation = 1;
        w->kind = kind;
        w->paint_pending = false;
        w->last_paint_ms = 0;
        w->proc = proc;
        w->screen = screen;
        w->control = control;
        return handle_of(i);
    }
    return 0;
}

void window_free(Window window) {
    WindowSlot* w = window_slot(window);
    if (w) w->kind = WINDOW_FREE;
}

WindowSlot* window_slot(Window window) {
    int slot = slot_of(window);
    if (slot < 0) return nullptr;
    WindowSlot* w = &g_windows[slot];
    if (w->kind == WINDOW_FREE || w->generation != ((uint32_t)window >> 10)) return nullptr;
    return w;
}

Window window_create(ScreenProc proc) {
    return window_alloc(WINDOW_PLAIN, proc, -1, -1);
}

void window_destroy(Window window) {
    WindowSlot* w = window_slot(window);
    if (w && w->kind == WINDOW_PLAIN) w->kind = WINDOW_FREE;
}

intptr_t send_message(Window window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    WindowSlot* w = window_slot(window);
    if (!w) return 0;
    switch (w->kind) {
    case WINDOW_PLAIN:
        return w->proc ? w->proc(window, message, wparam, lparam) : 0;
    case WINDOW_SCREEN: {
        intptr_t handled = w->proc ? w->proc(window, message, wparam, lparam) : FALSE;
        // The slot may be gone now: the procedure can end and close nothing
        // itself, but screen_default checks the handle again.
        if (handled == FALSE) return screen_default(window, message, wparam, lparam);
        return handled;
    }
    case WINDOW_CONTROL:
        return control_message(control_at(w->control), message, wparam, lparam);
    case WINDOW_BAR:
        return bar_message(w, message, wparam, lparam);
    case WINDOW_FREE:
        break;
    }
    return 0;
}

int post_local(Window window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return ring_push(window, message, wparam, lparam);
}

int post_message(Window window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (!ring_push(window, message, wparam, lparam)) return 0;
    wake_loop();
    return 1;
}

int posted_take(PostedMessage* out) {
    pthread_mutex_lock(&g_ring.lock);
    int got = g_ring.count > 0;
    if (got) {
        *out = g_ring.slots[g_ring.head];
        g_ring.head = (g_ring.head + 1) % POST_SLOTS;
        g_ring.count--;
    }
    pthread_mutex_unlock(&g_ring.lock);
    return got;
}

int posted_waiting() {
    pthread_mutex_lock(&g_ring.lock);
    int n = g_ring.count;
    pthread_mutex_unlock(&g_ring.lock);
    return n;
}

int wake_pipe_read_fd() {
    pthread_once(&g_wake_once, wake_pipe_open);
    return g_wake_fds[0];
}

void wake_pipe_drain() {
    char sink[64];
    while (g_wake_fds[0] >= 0 && read(g_wake_fds[0], sink, sizeof sink) > 0) {
    }
}

void repaint_request(Window window) {
    if (!loop_thread()) {
        int slot = slot_of(window);
        if (slot < 0) return;
        g_asked_elsewhere[slot].store(window, std::memory_order_relaxed);
        g_any_asked.store(true, std::memory_order_release);
        wake_loop();
        return;
    }
    WindowSlot* w = window_slot(window);
    if (!w) return;
    if (w->kind == WINDOW_CONTROL || w->kind == WINDOW_BAR) {
        Screen* s = screen_at(w->screen);
        w = s ? window_slot(s->window) : nullptr;
        if (!w) return;
    }
    w->paint_pending = true;
}

int paints_deliver(int* wait_ms) {
    *wait_ms = -1;
    // Requests of other threads become requests of this one (a handle gone
    // stale meanwhile asks for nothing).
    if (g_any_asked.exchange(false, std::memory_order_acquire)) {
        for (std::atomic<Window>& asked : g_asked_elsewhere) {
            Window window = asked.exchange(0, std::memory_order_relaxed);
            if (window != 0) repaint_request(window);
        }
    }
    uint64_t now = monotonic_ms();
    int delivered = 0;
    for (int i = 0; i < WINDOW_SLOTS; i++) {
        WindowSlot* w = &g_windows[i];
        if (w->kind == WINDOW_FREE || !w->paint_pending) continue;
        uint64_t due = w->last_paint_ms + PAINT_INTERVAL_MS;
        if (w->last_paint_ms != 0 && now < due) {
            int wait = (int)(due - now);
            if (*wait_ms < 0 || wait < *wait_ms) *wait_ms = wait;
            continue;
        }
        w->paint_pending = false;
        w->last_paint_ms = now;
        send_message(handle_of(i), WM_PAINT, 0, 0);
        delivered = 1;
    }
    return delivered;
}
