// The ClientState's process-start values and the operations shared with the
// download worker: counters that wrap, and a ChatLog that stays bounded.
#include <gtest/gtest.h>

#include <string>
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

TEST(ChatLog, AppendThatWouldNotFitDropsTheOldestFirst) {
    client_state_reset();
    static char16_t chunk[4001];
    for (int i = 0; i < 4000; i++) chunk[i] = u'a';
    chunk[4000] = 0;
    chatlog_append(chunk);
    chunk[0] = u'b';  // marks the second chunk's start
    chatlog_append(chunk);
    EXPECT_EQ(chatlog_length(), 8000);
    chunk[0] = u'c';
    chatlog_append(chunk);  // 12000 > 9999: no line to cut at, the oldest units go
    EXPECT_EQ(chatlog_length(), CHATLOG_UNITS - 1);
    EXPECT_EQ(g_state.chat_log[CHATLOG_UNITS - 1 - 4000], u'c');
    EXPECT_EQ(g_state.chat_log[CHATLOG_UNITS - 1 - 8000], u'b');
}

TEST(ChatLog, TextLongerThanTheWholeLogIsCut) {
    client_state_reset();
    static char16_t huge[CHATLOG_UNITS + 100];
    for (int i = 0; i < CHATLOG_UNITS + 99; i++) huge[i] = u'x';
    huge[CHATLOG_UNITS + 99] = 0;
    chatlog_append(huge);
    EXPECT_EQ(chatlog_length(), CHATLOG_UNITS - 1);
}

// Over the limit, the oldest whole lines go and the newest stay, both at the
// paint and when an append would not fit; a single line longer than the
// limit keeps its end.
TEST(ChatLog, TheOldestWholeLinesGoTheNewestStay) {
    client_state_reset();
    static char16_t shown[CHATLOG_UNITS];
    std::u16string log;
    for (int i = 0; i < 10; i++) log += std::u16string(98, (char16_t)(u'a' + i)) + u"\r\n";  // 1000 units
    chatlog_set(log.c_str());
    EXPECT_EQ(chatlog_take_for_display(shown, CHATLOG_UNITS, CHATLOG_SHOW_UNITS), 1000);
    chatlog_append(u"k\r\n");  // 1003 units: the first line goes
    EXPECT_EQ(chatlog_take_for_display(shown, CHATLOG_UNITS, CHATLOG_SHOW_UNITS), 903);
    EXPECT_EQ(shown[0], u'b');
    EXPECT_EQ(std::u16string(shown).substr(900), u"k\r\n");

    std::u16string one_long(1500, u'x');
    one_long += u"END";
    chatlog_set(one_long.c_str());
    EXPECT_EQ(chatlog_take_for_display(shown, CHATLOG_UNITS, CHATLOG_SHOW_UNITS), 1000);
    EXPECT_EQ(std::u16string(shown).substr(997), u"END");

    // A full log makes room by lines for the next append.
    std::u16string full;
    while ((int)full.size() + 10 <= CHATLOG_UNITS - 1) full += u"line-xxx\r\n";
    chatlog_set(full.c_str());
    chatlog_append(u"newest\r\n");
    int length = chatlog_length();
    EXPECT_LE(length, CHATLOG_UNITS - 1);
    chatlog_take_for_display(shown, CHATLOG_UNITS, CHATLOG_UNITS);
    std::u16string kept(shown);
    EXPECT_EQ(kept.substr(0, 10), u"line-xxx\r\n");  // starts at a whole line
    EXPECT_EQ(kept.substr(kept.size() - 8), u"newest\r\n");
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

// A note of the client's own begins a line: after text that did not end its
// line a line break comes first; at the start of the log or of a line none.
TEST(ChatLogNote, NoteStartsALineOfItsOwn) {
    client_state_reset();
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
    chatlog_append_note(u"first");
    chatlog_append(u"glued");
    chatlog_append_note(u"second");
    chatlog_append_note(u"third");
    chatlog_append_note(u"open", false);
    chatlog_append(u" end");
    char16_t out[CHATLOG_UNITS];
    chatlog_take_for_display(out, CHATLOG_UNITS, CHATLOG_UNITS);
    EXPECT_EQ(std::u16string(out), u"first\r\nglued\r\nsecond\r\nthird\r\nopen end");
}

namespace {
int g_paints;
intptr_t count_paints(Window, uint32_t message, WPARAM, LPARAM) {
    if (message == WM_PAINT) g_paints++;
    return 0;
}
int painted(void*) { return g_paints > 0 ? 1 : 0; }
}  // namespace

// The main screen shows the log only when it paints: every change asks for
// that paint itself, from the loop's thread (a hub handler's note) and from
// any other (a download worker's), or a note stays unseen until something
// else repaints.
TEST(ChatLogPaint, EveryChangeAsksTheMainWindowToPaintFromAnyThread) {
    client_state_reset();
    g_state.main_window = window_create(count_paints);
    message_pump(nullptr, nullptr, 50);  // this thread runs the loop; nothing left pending
    void (*changes[])() = {
        [] { chatlog_append_line(" ::download failed:: $ConnectToMe too long"); },
        [] { std::thread([] { chatlog_append_line(" ::downloaded::"); }).join(); },
        [] { std::thread([] { chatlog_append_note(u"connection lost"); }).join(); },
        [] { chatlog_clear(); },
    };
    for (auto change : changes) {
        g_paints = 0;
        change();
        EXPECT_NE(message_pump(painted, nullptr, 2000), 0);
    }
    window_destroy(g_state.main_window);
    g_state.main_window = 0;
}
