// The ClientState's process-start values and the operations shared with the
// download worker: counters that wrap, and a ChatLog of lines that stays
// within its bound.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "state/client_state.h"

namespace {

TEST(ClientStateStart, ZeroFilledExceptShortNamesAndTimestamps) {
    client_state_reset();
    EXPECT_EQ(g_state.short_names, 1);
    EXPECT_EQ(g_state.settings.chat_timestamps, 1);
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_EQ(g_state.user_selection, 0);
    EXPECT_EQ(g_state.result_count, 0);
    EXPECT_EQ(g_state.favorites_count, 0);
    EXPECT_EQ(traffic_received(), 0u);
    EXPECT_EQ(traffic_sent(), 0u);
    EXPECT_EQ(chatlog_length(), 0);
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

std::u16string line_text(uint64_t n) {
    static char16_t out[CHATLOG_LINE_UNITS + 1];
    int minute = 0;
    return chatlog_line(n, out, CHATLOG_LINE_UNITS + 1, &minute) < 0 ? u"(gone)" : std::u16string(out);
}

std::u16string numbered(int i) {
    std::string digits = std::to_string(i);
    return u"line " + std::u16string(digits.begin(), digits.end());
}

uint64_t kept_first() {
    uint64_t first, end;
    chatlog_span(&first, &end);
    return first;
}

uint64_t kept_end() {
    uint64_t first, end;
    chatlog_span(&first, &end);
    return end;
}

// Text is taken as lines: a text without a line break continues the newest
// line, a break alone makes an empty one, carriage returns go, and each line
// takes the time it began.
TEST(ChatLog, PartialAppendsJoinIntoLinesThatCarryTheirTime) {
    client_state_reset();
    u16_copy(g_state.line_break, LINE_BREAK_UNITS, u"\r\n");
    int before = local_minute_of_day();
    chatlog_append(u"abc");
    chatlog_append(u"def\r\n");
    chatlog_append(u"\r\n");
    chatlog_append(u"x\ny\rz");
    int after = local_minute_of_day();
    ASSERT_EQ(kept_end(), 4u);
    EXPECT_EQ(line_text(0), u"abcdef");
    EXPECT_EQ(line_text(1), u"");
    EXPECT_EQ(line_text(2), u"x");
    EXPECT_EQ(line_text(3), u"yz");
    char16_t out[16];
    int minute = -1;
    chatlog_line(0, out, 16, &minute);
    EXPECT_TRUE(minute == before || minute == after) << minute;
    EXPECT_EQ(chatlog_line(4, out, 16, &minute), -1);
    chatlog_copy_text(out, 16);
    EXPECT_EQ(std::u16string(out), u"abcdef\r\n\r\nx\r\nyz");
    chatlog_copy_text(out, 6);  // room for the newest whole lines only
    EXPECT_EQ(std::u16string(out), u"x\r\nyz");
    EXPECT_EQ(chatlog_length(), 9);
}

// Past CHATLOG_LINES lines the oldest go, one for each new one.
TEST(ChatLog, OldestLinesGoFirstWhenTheLineRecordsRunOut) {
    client_state_reset();
    for (int i = 0; i < CHATLOG_LINES + 100; i++) chatlog_append((numbered(i) + u"\n").c_str());
    EXPECT_EQ(kept_first(), 100u);
    EXPECT_EQ(kept_end(), (uint64_t)CHATLOG_LINES + 100);
    EXPECT_EQ(line_text(99), u"(gone)");
    EXPECT_EQ(line_text(100), numbered(100));
    EXPECT_EQ(line_text(CHATLOG_LINES + 99), numbered(CHATLOG_LINES + 99));
}

// Long lines fill the text store before the records run out: the oldest lines
// make room, lines that reach the store's end start again at its beginning in
// one piece (also while they are still growing), and every kept line stays
// whole, whatever the flood.
TEST(ChatLog, AFloodOfLongLinesKeepsTheNewestWholeWithinTheStore) {
    client_state_reset();
    static char16_t piece[1001];
    const int lines = 1000;
    for (int i = 0; i < lines; i++) {
        for (int k = 0; k < 1000; k++) piece[k] = (char16_t)(u'A' + i % 26);
        piece[1000] = 0;
        for (int part = 0; part < 3; part++) chatlog_append(piece);  // 3000 units, in three appends
        chatlog_append(u"\n");
    }
    uint64_t first = kept_first();
    EXPECT_EQ(kept_end(), (uint64_t)lines);
    EXPECT_GE(lines - (int)first, CHATLOG_TEXT_UNITS / 3000 - 1);
    EXPECT_LE(chatlog_length(), CHATLOG_TEXT_UNITS);
    for (uint64_t n = first; n < (uint64_t)lines; n++) {
        std::u16string text = line_text(n);
        ASSERT_EQ(text, std::u16string(3000, (char16_t)(u'A' + n % 26))) << n;
    }
}

// A line keeps its first CHATLOG_LINE_UNITS units, never half a surrogate
// pair; the rest of it is dropped and the next line is whole.
TEST(ChatLog, ALineLongerThanItsShareKeepsItsStart) {
    client_state_reset();
    std::u16string longer(CHATLOG_LINE_UNITS - 1, u'x');
    chatlog_append(longer.c_str());
    chatlog_append(u"\U0001F600 and more\n");  // the pair would end past the share
    std::u16string huge(3 * CHATLOG_LINE_UNITS, u'y');
    chatlog_append((huge + u"\nnext\n").c_str());
    EXPECT_EQ(line_text(0), longer);
    EXPECT_EQ(line_text(1), std::u16string(CHATLOG_LINE_UNITS, u'y'));
    EXPECT_EQ(line_text(2), u"next");
}

// Clear forgets the lines by their counters alone: no page of the store is
// written, and numbering goes on, so a position held by a screen reads as gone.
TEST(ChatLog, ClearResetsCountersAndKeepsNumbering) {
    client_state_reset();
    chatlog_append(u"one\ntwo\nopen");
    chatlog_clear();
    EXPECT_EQ(kept_first(), 3u);
    EXPECT_EQ(kept_end(), 3u);
    EXPECT_EQ(chatlog_length(), 0);
    EXPECT_EQ(line_text(2), u"(gone)");
    EXPECT_EQ(g_state.chat_log.text[0], u'o') << "clear wrote the store";
    chatlog_append(u"after");  // the open line was ended by the clear
    EXPECT_EQ(line_text(3), u"after");
}

TEST(ChatLog, AppendsFromTwoThreadsDoNotInterleave) {
    client_state_reset();
    std::thread worker([] {
        for (int i = 0; i < 2000; i++) chatlog_append(u"AAAA\r\n");
    });
    for (int i = 0; i < 2000; i++) chatlog_append_line("BBBB");
    worker.join();
    ASSERT_EQ(kept_end(), 4000u);
    for (uint64_t n = 0; n < 4000; n++) {
        std::u16string text = line_text(n);
        ASSERT_TRUE(text == u"AAAA" || text == u"BBBB") << n;
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
    char16_t out[100];
    chatlog_copy_text(out, 100);
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
