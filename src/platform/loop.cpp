// The one message loop. Every modal screen runs it, nested as the screens
// nest, and message_pump runs it outside any screen.
//
// One turn, in order: a resize of the display (every screen is asked to
// paint anew); a posted message (to its own window, whichever screen is on
// top); else a key (to the topmost screen); else the due timers; else
// the due paints; else
// the display is drawn if anything changed, and the loop waits in poll on the
// terminal, the wake pipe, the registered sockets and the running-copy socket,
// with a timeout only when a timer, a throttled paint or a deadline is due. An idle
// loop therefore sleeps in the kernel and costs no CPU.
//
// Keys wait in a ring of KEY_RING events (typed ahead by the terminal, or
// pressed by a test). When a screen ends, by a key or otherwise, the keys
// typed ahead for it are dropped (keys_drop): text meant for one screen's
// field never lands in the field of the screen below.
//
// Own state: the key ring (g_keys, g_key_head, g_key_count), whether the
// display needs drawing (g_dirty), whether the terminal hung up
// (g_hung_up) and whether the calling thread runs the loop (t_loop_thread). They are the platform's own (its input queue and drawing), not
// the client's, so they live here and not in the client's one record.
#include <poll.h>

#include <cassert>
#include <cerrno>

#include "platform/platform_internal.h"

namespace {

constexpr int KEY_RING = 256;
constexpr int POLL_SLOTS = 4 + SOCKET_SLOTS;

DisplayKeyEvent g_keys[KEY_RING];
int g_key_head, g_key_count;
bool g_dirty = true;
bool g_hung_up;
// Set on the thread that runs the loop, the only one that may touch the
// window table and the screens.
thread_local bool t_loop_thread;

bool key_take(DisplayKeyEvent* out) {
    if (g_key_count == 0) return false;
    *out = g_keys[g_key_head];
    g_key_head = (g_key_head + 1) % KEY_RING;
    g_key_count--;
    return true;
}

bool should_stop(const bool* ended, int (*done)(void*), void* context, int* done_value, uint64_t deadline_ms) {
    if (ended && *ended) return true;
    if (done && (*done_value = done(context)) != 0) return true;
    return deadline_ms != 0 && monotonic_ms() >= deadline_ms;
}

// A resize is taken at the start of a turn, before the paints: it asks every
// screen to paint anew, and those paints must come before the next wait.
void take_resize() {
    int cols, rows;
    if (display_current()->take_resize(&cols, &rows)) display_resize(cols, rows);
}

void draw_if_dirty() {
    const Display* d = display_current();
    if (!g_dirty) return;
    g_dirty = false;
    const Screen* s = screen_top();
    DisplayGrid* g = display_grid();
    if (s) render_screen(s, g);
    else grid_clear(g);
    d->present(g);
}

// One wait in poll; handles what woke it.
void wait_once(int timeout_ms) {
    const Display* d = display_current();
    struct pollfd fds[POLL_SLOTS];
    int n = 0;
    int wake = wake_pipe_read_fd(), input = g_hung_up ? -1 : d->input_fd(), listener = running_copy_listen_fd();
    if (wake >= 0) fds[n++] = pollfd{wake, POLLIN, 0};
    int input_at = n;
    if (input >= 0) fds[n++] = pollfd{input, POLLIN, 0};
    int listener_at = n;
    if (listener >= 0) fds[n++] = pollfd{listener, POLLIN, 0};
    int sockets_at = n;
    n += socket_poll_fill(fds + n, POLL_SLOTS - n);
    struct timespec limit = {timeout_ms / 1000, (long)(timeout_ms % 1000) * 1000000L};
    int ready = ppoll(fds, (nfds_t)n, timeout_ms < 0 ? nullptr : &limit, d->wait_mask);
    if (ready <= 0) return;  // timeout, or a signal whose flag the next turn reads
    if (wake >= 0 && fds[0].revents) wake_pipe_drain();
    if (input >= 0 && fds[input_at].revents) {
        bool gone = fds[input_at].revents & (POLLHUP | POLLERR | POLLNVAL);
        d->read_input(gone);
        if (gone) {
            g_hung_up = true;
            screens_hangup();
        }
    }
    if (listener >= 0 && fds[listener_at].revents) running_copy_serve();
    socket_poll_handle(fds + sockets_at, n - sockets_at);
}

int wait_time(int paint_wait_ms, uint64_t deadline_ms) {
    int timeout = paint_wait_ms;
    if (deadline_ms != 0) {
        uint64_t now = monotonic_ms();
        int left = deadline_ms > now ? (int)(deadline_ms - now) : 0;
        if (timeout < 0 || left < timeout) timeout = left;
    }
    if (display_idle_hook_set() && (timeout < 0 || timeout > DISPLAY_HOOK_WAIT_MS)) timeout = DISPLAY_HOOK_WAIT_MS;
    return timeout;
}

}  // namespace

void display_mark_dirty() { g_dirty = true; }

bool loop_thread() { return t_loop_thread; }

int key_room() { return KEY_RING - g_key_count; }

void keys_drop() {
    g_key_head = 0;
    g_key_count = 0;
    if (!g_hung_up) display_current()->drop_input();
}

bool input_hung_up() { return g_hung_up; }

void key_push(const DisplayKeyEvent* key) {
    if (g_key_count == KEY_RING) return;  // typed too far ahead: the key is dropped
    g_keys[(g_key_head + g_key_count) % KEY_RING] = *key;
    g_key_count++;
}

int loop_run(const bool* ended, int (*done)(void*), void* context, uint64_t deadline_ms) {
    assert(!display_idle_hook_running());  // an idle hook must not run screens or pump messages
    t_loop_thread = true;
    int done_value = 0;
    while (!should_stop(ended, done, context, &done_value, deadline_ms)) {
        take_resize();
        PostedMessage m;
        if (posted_take(&m)) {
            send_message(m.window, m.message, m.wparam, m.lparam);
            continue;
        }
        DisplayKeyEvent key;
        if (key_take(&key)) {
            screen_key(&key);
            continue;
        }
        int paint_wait, timer_wait;
        if (timers_deliver(&timer_wait)) continue;
        if (paints_deliver(&paint_wait)) continue;
        if (timer_wait >= 0 && (paint_wait < 0 || timer_wait < paint_wait)) paint_wait = timer_wait;
        draw_if_dirty();
        if (should_stop(ended, done, context, &done_value, deadline_ms)) break;
        // The test hook sees the drawn grid; what it presses is handled first.
        if (display_idle_hook_call() && (g_key_count > 0 || posted_waiting() > 0)) continue;
        if (g_dirty) continue;
        wait_once(wait_time(paint_wait, deadline_ms));
    }
    return done_value;
}

int message_pump(int (*done)(void* context), void* context, int timeout_ms) {
    uint64_t deadline = monotonic_ms() + (uint64_t)(timeout_ms > 0 ? timeout_ms : 0);
    if (timeout_ms <= 0) deadline = monotonic_ms();
    return loop_run(nullptr, done, context, deadline);
}
