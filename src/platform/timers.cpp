// Timers as window messages, in place of SetTimer: a small table of
// {window, id, interval, due} that the loop looks at between messages. Due
// timers are posted as WM_TIMER; the loop's wait ends at the next due time.
//
// Own state: the timer table. It is the platform's (like its window table),
// touched by the user-interface thread only.
#include "platform/platform_internal.h"

namespace {

struct TimerSlot {
    Window window;  // 0: free
    uint32_t id;
    int interval_ms;
    uint64_t due_ms;
};

TimerSlot g_timers[TIMER_SLOTS];

TimerSlot* timer_find(Window window, uint32_t id) {
    for (TimerSlot& t : g_timers)
        if (t.window == window && t.window != 0 && t.id == id) return &t;
    return nullptr;
}

}  // namespace

int timer_set(Window window, uint32_t id, int interval_ms) {
    if (window == 0 || interval_ms <= 0) return 0;
    TimerSlot* t = timer_find(window, id);
    for (int i = 0; t == nullptr && i < TIMER_SLOTS; i++)
        if (g_timers[i].window == 0 || !window_slot(g_timers[i].window)) t = &g_timers[i];
    if (t == nullptr) return 0;
    *t = TimerSlot{window, id, interval_ms, monotonic_ms() + (uint64_t)interval_ms};
    return 1;
}

void timer_kill(Window window, uint32_t id) {
    TimerSlot* t = timer_find(window, id);
    if (t != nullptr) *t = TimerSlot{};
}

int timers_deliver(int* wait_ms) {
    *wait_ms = -1;
    uint64_t now = monotonic_ms();
    int delivered = 0;
    for (TimerSlot& t : g_timers) {
        if (t.window == 0) continue;
        if (!window_slot(t.window)) {
            t = TimerSlot{};  // its window is gone
            continue;
        }
        if (now >= t.due_ms) {
            t.due_ms = now + (uint64_t)t.interval_ms;
            post_local(t.window, WM_TIMER, (WPARAM)t.id, 0);
            delivered = 1;
        }
        int wait = (int)(t.due_ms - now);
        if (*wait_ms < 0 || wait < *wait_ms) *wait_ms = wait;
    }
    return delivered;
}
