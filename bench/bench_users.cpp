// Opening the Users screen with a full table of 3000 users: the sort and the
// fill of the list, through the headless display. Target: under 5 ms.
//
// BM_OpenUsersScreen times the screen's initialisation (full-screen set-up,
// soft-key bar, sort_users, fill_user_list with 3000 list entries); the
// screen is then closed and the table scrambled again, outside the timing.
// BM_SortAndFormat times the same work without a screen: the sort and the
// formatting of every list line.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "hub/users.h"
#include "platform/display.h"
#include "resources/ids.h"
#include "screens/users_screen.h"
#include "state/client_state.h"

namespace {

UserEntry g_scrambled[USER_SLOTS];
double g_open_seconds;

// 3000 distinct names in no order, Latin and Cyrillic, with shares of up to
// several TiB; made once by a fixed pseudo-random sequence.
void make_scrambled_table() {
    static bool made = false;
    if (made) return;
    made = true;
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (int s = 0; s < USER_SLOTS; s++) {
        char name[USER_NAME_BYTES];
        int n = 0;
        for (int k = 0; k < 6; k++) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            int pick = (int)((seed >> 33) % 3);
            int letter = (int)((seed >> 40) % 26);
            name[n++] = (char)(pick == 0 ? 'A' + letter : pick == 1 ? 'a' + letter : 0xE0 + letter);
        }
        n += snprintf(name + n, sizeof name - (size_t)n, "_%04d", s);  // keeps names distinct
        UserEntry& user = g_scrambled[s];
        memcpy(user.name, name, (size_t)n + 1);
        snprintf(user.share, sizeof user.share, "%llu", (unsigned long long)(seed >> 22));
        user.present = 1;
    }
}

void load_scrambled_table() {
    make_scrambled_table();
    memcpy(g_state.users, g_scrambled, sizeof g_state.users);
}

intptr_t timed_users_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_INITDIALOG) return users_screen_proc(screen, message, wparam, lparam);
    auto start = std::chrono::steady_clock::now();
    intptr_t result = users_screen_proc(screen, message, wparam, lparam);
    g_open_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    post_message(screen, WM_CLOSE, 0, 0);
    return result;
}

void BM_OpenUsersScreen(benchmark::State& state) {
    client_state_reset();
    g_state.module_instance = KIVO_INSTANCE;
    display_start_headless(80, 24);
    for (auto _ : state) {
        load_scrambled_table();
        g_open_seconds = -1;
        dialog_run(g_state.module_instance, DIALOG_USERS, 0, timed_users_proc, 0);
        if (g_open_seconds < 0) {
            state.SkipWithError("the Users screen did not open");
            break;
        }
        state.SetIterationTime(g_open_seconds);
    }
    display_stop();
}
BENCHMARK(BM_OpenUsersScreen)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

void BM_SortAndFormat(benchmark::State& state) {
    client_state_reset();
    char16_t line[USER_LINE_UNITS];
    for (auto _ : state) {
        state.PauseTiming();
        load_scrambled_table();
        state.ResumeTiming();
        sort_users();
        for (const UserEntry& user : g_state.users) {
            if (!user.present) continue;
            format_user_line(&user, line, USER_LINE_UNITS);
            benchmark::DoNotOptimize(line);
        }
    }
}
BENCHMARK(BM_SortAndFormat)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace
