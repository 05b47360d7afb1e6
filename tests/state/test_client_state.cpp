// The ClientState's process-start values and the operations shared with the
// download worker: counters that wrap, and a ChatLog that stays bounded.
#include <gtest/gtest.h>

#include <thread>

#include "state/client_state.h"

namespace {

TEST(ClientStateStart, ZeroFilledExceptShortNames) {
    client_state_reset();
    EXPECT_EQ(g_state.short_names, 1);
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.user_selection, 0);
    EXPECT_EQ(g_state.result_count, 0);
    EXPECT_EQ(g_state.favorites_count, 0);
    EXPECT_EQ(traffic_received(), 0u);
    EXPECT_EQ(traffic_sent(), 0u);
    EXPECT_EQ(g_state.chat_log[0], 0);
    for (const UserEntry& u : g_state.users) ASSERT_EQ(u.present, 0);
}

TEST(TrafficCounters, WrapModulo2To32AndAddFromTwoThreads) {
    client_state_reset();
    traffic_add_received(0xFFFFFFFFu);
    traffic_add_received(2);
    EXPECT_EQ(traffic_received(), 1u);
    std::thread worker([] {
        for (int i = 0; i < 100000; i++) traffic_add_sent(1);
    });
    for (int i = 0; i < 100000; i++) traffic_add_sent(1);
    worker.join();
    EXPECT_EQ(traffic_sent(), 200000u);
}

TEST(ChatLog, AppendThatWouldNotFitEmptiesTheLogFirst) {
    client_state_reset();
    static char16_t chunk[4001];
    for (int i = 0; i < 4000; i++) chunk[i] = u'a';
    chunk[4000] = 0;
    chatlog_append(chunk);
    chatlog_append(chunk);
    EXPECT_EQ(chatlog_length(), 8000);
    chatlog_append(chunk);  // 12000 > 9999: starts afresh
    EXPECT_EQ(chatlog_length(), 4000);
    EXPECT_EQ(g_state.chat_log[4000], 0);
}

TEST(ChatLog, TextLongerThanTheWholeLogIsCut) {
    client_state_reset();
    static char16_t huge[CHATLOG_UNITS + 100];
    for (int i = 0; i < CHATLOG_UNITS + 99; i++) huge[i] = u'x';
    huge[CHATLOG_UNITS + 99] = 0;
    chatlog_append(huge);
    EXPECT_EQ(chatlog_length(), CHATLOG_UNITS - 1);
}

TEST(ChatLog, DisplayTakeEmptiesALogAboveTheLimit) {
    client_state_reset();
    static char16_t line[1002];
    for (int i = 0; i < 1001; i++) line[i] = u'z';
    line[1001] = 0;
    static char16_t shown[CHATLOG_UNITS];
    line[1000] = 0;  // exactly 1000 units: shown whole
    chatlog_set(line);
    EXPECT_EQ(chatlog_take_for_display(shown, CHATLOG_UNITS, CHATLOG_SHOW_UNITS), 1000);
    line[1000] = u'z';  // 1001 units: emptied
    chatlog_set(line);
    EXPECT_EQ(chatlog_take_for_display(shown, CHATLOG_UNITS, CHATLOG_SHOW_UNITS), 0);
    EXPECT_EQ(chatlog_length(), 0);
}

TEST(ChatLog, AppendsFromTwoThreadsDoNotInterleave) {
    client_state_reset();
    std::thread worker([] {
        for (int i = 0; i < 2000; i++) chatlog_append(u"AAAA\r\n");
    });
    for (int i = 0; i < 2000; i++) chatlog_append(u"BBBB\r\n");
    worker.join();
    // Every line is whole: the log is a run of complete six-unit lines.
    int n = chatlog_length();
    ASSERT_EQ(n % 6, 0);
    for (int i = 0; i < n; i += 6) {
        char16_t c = g_state.chat_log[i];
        ASSERT_TRUE(c == u'A' || c == u'B');
        for (int k = 1; k < 4; k++) ASSERT_EQ(g_state.chat_log[i + k], c);
    }
}

}  // namespace
