// The results table fed by the hub's $SR: each result is stored as the next
// row, in order of arrival, until the rows run out; a dropped one leaves no
// trace. (The search sent, and rows reaching an open results screen, are
// driven through that screen: screens/test_search_screen.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hub/search.h"
#include "state/client_state.h"

namespace {

// A $SR as a hub relays it to a passive searcher: no trailing 0x05 and nick.
std::string file_result(const std::string& nick, const std::string& path, const std::string& size) {
    return "$SR " + nick + " " + path + "\x05" + size + " 2/3\x05Hub (10.0.0.1:411)";
}

// Feeds a message to the dispatcher's entry point, from an exact-size buffer.
void feed(const std::string& message) {
    std::vector<char> buffer(message.begin(), message.end());
    buffer.push_back('\0');
    search_result_take(buffer.data());
}

// --- Dropped results --------------------------------------------------------------

TEST(SearchResultMalformed, DroppedResultLeavesTableAndCountAlone) {
    client_state_reset();
    feed(file_result("bob", "a.mp3", "1"));
    feed("$SR bob a.mp3");
    feed("$SR " + std::string(60, 'n') + " a\x05" "1 1/1\x05h");
    ASSERT_EQ(g_state.result_count, 1);
    EXPECT_EQ(g_state.results[1].nick[0], '\0');
    EXPECT_EQ(g_state.results[1].path[0], '\0');
}

// --- The table -----------------------------------------------------------------

TEST(SearchResultTable, Row334IsKeptAndThe335thDropped) {
    client_state_reset();
    for (int i = 0; i < RESULT_ROWS; i++) feed(file_result(std::string("u").append(std::to_string(i)), "f", "1"));
    ASSERT_EQ(g_state.result_count, RESULT_ROWS);
    EXPECT_STREQ(g_state.results[RESULT_ROWS - 1].nick, "u333");
    feed(file_result("late", "f", "1"));
    EXPECT_EQ(g_state.result_count, RESULT_ROWS);
    EXPECT_STREQ(g_state.results[RESULT_ROWS - 1].nick, "u333");
}

TEST(SearchResultTable, ResultsArriveInOrderWhileTheScreenIsClosed) {
    client_state_reset();
    feed(file_result("a", "one", "1"));
    feed(file_result("b", "two", "2"));
    ASSERT_EQ(g_state.result_count, 2);
    EXPECT_STREQ(g_state.results[0].path, "one");
    EXPECT_STREQ(g_state.results[1].path, "two");
}

}  // namespace
