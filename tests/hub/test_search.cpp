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
namespace {

// --- The view: one entry per file -------------------------------------------------

std::string hashed(const std::string& nick, const std::string& name, const std::string& size, const std::string& slots,
                   char tth) {
    return "$SR " + nick + " share\\" + name + "\x05" + size + " " + slots + "\x05TTH:" + std::string(38, tth) + "A";
}

std::vector<int> leaders() {
    const ResultView& v = g_state.result_view;
    return std::vector<int>(v.leader, v.leader + v.count);
}

// Rows with the same TTH are one entry; rows without one (and folders, even
// with a hash field) stand alone; each sort keeps every row findable at its
// position and a new arrival lands where the order says.
TEST(SearchResultView, SameTthIsOneEntryAndEverySortKeepsPositionsTrue) {
    client_state_reset();
    feed(hashed("ann", "beta.bin", "500", "0/2", 'B'));     // row 0
    feed(file_result("bob", "Alpha.txt", "9000"));          // 1: no TTH
    feed(hashed("cid", "beta.bin", "500", "3/4", 'B'));     // 2: joins 0
    feed(file_result("dan", "alpha.txt", "9000"));          // 3: alone
    feed("$SR eve Music\\Albums 1/1\x05TTH:" + std::string(38, 'B') + "A");  // 4: a folder, alone
    feed(hashed("fay", "gamma.iso", "70000", "1/1", 'C'));  // 5
    feed(hashed("gus", "beta.bin", "500", "2/9", 'B'));     // 6: joins 0
    // Another size under the same hash is no source of that file, whatever slots it offers.
    feed(hashed("liar", "beta-x.bin", "9", "99/99", 'B'));   // 7: alone
    EXPECT_EQ(leaders(), (std::vector<int>{0, 1, 3, 4, 5, 7}));
    g_state.result_count = 7;
    result_view_rebuild();
    EXPECT_EQ(g_state.result_view.sources[0], 3);
    EXPECT_EQ(result_view_position(6), 0);
    EXPECT_EQ(result_best_source(0), 2) << "cid has the most free slots";
    result_view_sort(RESULT_SORT_NAME);  // letters alike in either case; ties by arrival
    EXPECT_EQ(leaders(), (std::vector<int>{4, 1, 3, 0, 5}));  // Albums, Alpha, alpha, beta, gamma
    result_view_sort(RESULT_SORT_SIZE);  // largest first
    EXPECT_EQ(leaders(), (std::vector<int>{5, 1, 3, 0, 4}));
    result_view_sort(RESULT_SORT_SOURCES);
    // A second source lifts gamma above the single ones.
    feed(hashed("hal", "gamma.iso", "70000", "0/1", 'C'));
    EXPECT_EQ(leaders(), (std::vector<int>{0, 5, 1, 3, 4}));
    EXPECT_EQ(g_state.result_view.sources[1], 2);  // the counts moved with their entries
    for (int p = 0; p < g_state.result_view.count; p++) EXPECT_EQ(result_view_position(g_state.result_view.leader[p]), p);
}

}  // namespace
