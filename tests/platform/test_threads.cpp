// Thread starts: every started thread runs its own body with its own
// argument, however many start before any of them has run.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/platform.h"

namespace {

constexpr int STARTS = 64;
std::atomic<int> g_runs[STARTS];
int g_ids[STARTS];

void count_run(void* argument) { g_runs[*(int*)argument].fetch_add(1); }

// Ten workers each starting their hashing threads at once start far more
// threads than there are start records.
TEST(Threads, ManyStartsAtOnceEachRunTheirOwnArgument) {
    for (std::atomic<int>& runs : g_runs) runs = 0;
    ThreadHandle handles[STARTS];
    for (int i = 0; i < STARTS; i++) {
        g_ids[i] = i;
        ASSERT_EQ(thread_start_joinable(&handles[i], count_run, &g_ids[i]), 1);
    }
    for (ThreadHandle handle : handles) thread_join(handle);
    for (int i = 0; i < STARTS; i++) EXPECT_EQ(g_runs[i].load(), 1) << "start " << i;
}

}  // namespace
