// Timers as window messages, driven through message_pump with plain windows
// and short intervals: when WM_TIMER comes and with which id, restarting,
// killing, the window going away, and the table's bound.
#include <gtest/gtest.h>

#include <vector>

#include "platform/platform.h"

namespace {

struct Tick {
    Window window;
    WPARAM id;
    uint64_t at_ms;
};
std::vector<Tick> g_ticks;

intptr_t timer_proc(Window window, uint32_t message, WPARAM wparam, LPARAM) {
    if (message == WM_TIMER) g_ticks.push_back({window, wparam, monotonic_ms()});
    return 0;
}

int ticks_of(Window window, WPARAM id) {
    int n = 0;
    for (const Tick& t : g_ticks) n += t.window == window && t.id == id;
    return n;
}

int g_wanted;
int enough_ticks(void*) { return (int)g_ticks.size() >= g_wanted; }

class Timers : public ::testing::Test {
protected:
    void SetUp() override {
        g_ticks.clear();
        a = window_create(timer_proc);
        b = window_create(timer_proc);
    }
    void TearDown() override {
        for (uint32_t id = 0; id < 2 * TIMER_SLOTS; id++) {
            timer_kill(a, id);
            timer_kill(b, id);
        }
        window_destroy(a);
        window_destroy(b);
    }
    Window a = 0, b = 0;
};

}  // namespace

// A timer ticks every interval, from one interval after it was set, with its
// id, to its own window; the idle loop wakes up for it.
TEST_F(Timers, TicksEveryIntervalWithItsIdToItsWindow) {
    uint64_t start = monotonic_ms();
    ASSERT_EQ(timer_set(a, 7, 40), 1);
    ASSERT_EQ(timer_set(b, 9, 100), 1);
    g_wanted = 4;
    EXPECT_NE(message_pump(enough_ticks, nullptr, 2000), 0);
    uint64_t took = monotonic_ms() - start;
    EXPECT_GE(ticks_of(a, 7), 3);
    EXPECT_LE(ticks_of(b, 9), 1);
    EXPECT_EQ(ticks_of(a, 9) + ticks_of(b, 7), 0);
    EXPECT_GE(g_ticks[0].at_ms - start, 40u);
    EXPECT_LT(took, 400u) << "the waiting loop did not wake for the timers";
    for (size_t i = 1; i < g_ticks.size(); i++) {
        if (g_ticks[i].window == a && g_ticks[i - 1].window == a) {
            EXPECT_GE(g_ticks[i].at_ms - g_ticks[i - 1].at_ms, 35u);
        }
    }
}

// Setting a timer again starts its interval again: set more often than its
// interval, it never ticks. Killed, it stops; the other keeps ticking.
TEST_F(Timers, SettingAgainRestartsAndKillingStops) {
    ASSERT_EQ(timer_set(a, 1, 80), 1);
    ASSERT_EQ(timer_set(a, 2, 30), 1);
    for (int i = 0; i < 8; i++) {
        message_pump(nullptr, nullptr, 40);
        ASSERT_EQ(timer_set(a, 1, 80), 1);
    }
    EXPECT_EQ(ticks_of(a, 1), 0);
    EXPECT_GE(ticks_of(a, 2), 5);
    timer_kill(a, 2);
    g_ticks.clear();
    message_pump(nullptr, nullptr, 200);
    EXPECT_EQ(ticks_of(a, 2), 0);
    EXPECT_GE(ticks_of(a, 1), 1);
    timer_kill(a, 1);
    timer_kill(a, 1);  // twice is harmless
    g_ticks.clear();
    message_pump(nullptr, nullptr, 120);
    EXPECT_TRUE(g_ticks.empty());
}

// A window that goes away takes its timers with it and frees their slots;
// the table holds TIMER_SLOTS timers; nonsense is refused.
TEST_F(Timers, GoneWindowsFreeTheirSlotsAndTheTableIsBounded) {
    for (uint32_t id = 0; id < (uint32_t)TIMER_SLOTS; id++) ASSERT_EQ(timer_set(a, id, 30), 1) << id;
    EXPECT_EQ(timer_set(b, 0, 30), 0) << "the table is full";
    EXPECT_EQ(timer_set(a, 3, 60), 1) << "an existing timer is set again in its own slot";
    window_destroy(a);
    message_pump(nullptr, nullptr, 80);
    EXPECT_TRUE(g_ticks.empty()) << "a gone window gets nothing";
    for (uint32_t id = 0; id < (uint32_t)TIMER_SLOTS; id++) EXPECT_EQ(timer_set(b, id, 1000), 1) << id;
    EXPECT_EQ(timer_set(0, 1, 30), 0);
    EXPECT_EQ(timer_set(b, 100, 0), 0);
    EXPECT_EQ(timer_set(b, 100, -5), 0);
}
