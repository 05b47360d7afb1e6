// Passive search: the exact $Search bytes, the $SR parser on the forms real
// hubs and clients send, the row limit, and the results screen driven through
// the headless display.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "hub/search.h"
#include "platform/screen_fixture.h"
#include "state/client_state.h"
#include "transfer/download.h"

namespace {

// A $SR as a hub relays it to a passive searcher: no trailing 0x05 and nick.
std::string file_result(const std::string& nick, const std::string& path, const std::string& size) {
    return "$SR " + nick + " " + path + "\x05" + size + " 2/3\x05Hub (10.0.0.1:411)";
}

// Parses a copy held in a buffer of exactly its size, so that a read or write
// past the NUL is caught by the sanitizers.
int parse_copy(const std::string& message, SearchResult* out) {
    std::vector<char> buffer(message.begin(), message.end());
    buffer.push_back('\0');
    return parse_search_fields(buffer.data(), out);
}

// Feeds a message to the dispatcher's entry point, from an exact-size buffer.
void feed(const std::string& message) {
    std::vector<char> buffer(message.begin(), message.end());
    buffer.push_back('\0');
    search_result_take(buffer.data());
}

// --- The search message -------------------------------------------------------

TEST(SearchMessage, BlanksBecomeDollarAndBytesAreExact) {
    char out[SEARCH_MESSAGE_BYTES];
    int n = build_search_message("me", "abba gold", out, sizeof out);
    EXPECT_STREQ(out, "$Search Hub:me F?T?0?1?abba$gold|");
    EXPECT_EQ(n, (int)strlen("$Search Hub:me F?T?0?1?abba$gold|"));
}

TEST(SearchMessage, EmptyTextStillSendsAWholeMessage) {
    char out[SEARCH_MESSAGE_BYTES];
    int n = build_search_message("me", "", out, sizeof out);
    EXPECT_STREQ(out, "$Search Hub:me F?T?0?1?|");
    EXPECT_EQ(n, 24);
}

TEST(SearchMessage, BlanksInTheNickAreNotReplaced) {
    char out[SEARCH_MESSAGE_BYTES];
    build_search_message("a b", "x y", out, sizeof out);
    EXPECT_STREQ(out, "$Search Hub:a b F?T?0?1?x$y|");
}

TEST(SearchMessage, LongestNickAndTextFitTheBuffer) {
    std::string nick(NICK_BYTES - 1, 'n');
    std::string words(SEARCH_TEXT_UNITS - 1, 'w');
    char out[SEARCH_MESSAGE_BYTES];
    int n = build_search_message(nick.c_str(), words.c_str(), out, sizeof out);
    EXPECT_EQ(n, SEARCH_MESSAGE_BYTES - 1);
    EXPECT_EQ(out[n - 1], '|');
}

TEST(SearchMessage, MessageThatWouldBeCutIsNotBuilt) {
    char out[24];  // one byte short of "$Search Hub:me F?T?0?1?|" and its NUL
    memset(out, 'z', sizeof out);
    EXPECT_EQ(build_search_message("me", "", out, sizeof out), 0);
    EXPECT_EQ(out[0], '\0');
}

// --- Parsing a result ------------------------------------------------------------

TEST(SearchResultParse, ExampleResultGivesNickPathSizeAndShortName) {
    SearchResult r;
    ASSERT_EQ(parse_copy(file_result("bob", "Music\\a.mp3", "4096"), &r), 1);
    EXPECT_STREQ(r.nick, "bob");
    EXPECT_STREQ(r.path, "Music\\a.mp3");
    EXPECT_STREQ(r.short_name, "a.mp3");
    EXPECT_EQ(r.size, 4096u);
}

TEST(SearchResultParse, ShortNameIsWhatFollowsTheLastBackslash) {
    struct Case {
        const char* path;
        const char* short_name;
    };
    const Case cases[] = {
        {"a.mp3", "a.mp3"},                         // no backslash: the whole path
        {"Music\\", ""},                            // ends in one: empty
        {"\\share\\alpha.txt", "alpha.txt"},        // ncdc's leading backslash is kept
        {"a\\b\\c\\d.txt", "d.txt"},
    };
    for (const Case& c : cases) {
        SearchResult r;
        ASSERT_EQ(parse_copy(file_result("bob", c.path, "1"), &r), 1) << c.path;
        EXPECT_STREQ(r.path, c.path);
        EXPECT_STREQ(r.short_name, c.short_name);
    }
}

TEST(SearchResultParse, TrailingSearcherNickIsIgnored) {
    SearchResult r;
    ASSERT_EQ(parse_copy(file_result("bob", "x\\y.ogg", "77") + "\x05me", &r), 1);
    EXPECT_STREQ(r.short_name, "y.ogg");
    EXPECT_EQ(r.size, 77u);
}

TEST(SearchResultParse, BlanksInsidePathAndHubNameAreKept) {
    SearchResult r;
    std::string m = "$SR bob My Music\\a b.mp3\x05" "5 1/1\x05My Hub (1.2.3.4:411)";
    ASSERT_EQ(parse_copy(m, &r), 1);
    EXPECT_STREQ(r.path, "My Music\\a b.mp3");
    EXPECT_STREQ(r.short_name, "a b.mp3");
    EXPECT_EQ(r.size, 5u);
}

TEST(SearchResultParse, SizeOfFiveGibibytesIsNotWrapped) {
    SearchResult r;
    ASSERT_EQ(parse_copy(file_result("bob", "big.iso", "5368709120"), &r), 1);
    EXPECT_EQ(r.size, 5368709120ull);
}

TEST(SearchResultParse, DirectoryResultHasItsPathWithoutSlotsAndNoSize) {
    SearchResult r;
    // A directory carries no 0x05 before its slots; the hub name holds digits.
    ASSERT_EQ(parse_copy("$SR bob Music\\Albums 2/3\x05" "123 Hub (10.0.0.1:411)", &r), 1);
    EXPECT_STREQ(r.nick, "bob");
    EXPECT_STREQ(r.path, "Music\\Albums");
    EXPECT_STREQ(r.short_name, "Albums");
    EXPECT_EQ(r.size, 0u);
}

TEST(SearchResultParse, DirectoryResultWithSearcherNickAndTrailingBackslash) {
    SearchResult r;
    ASSERT_EQ(parse_copy("$SR bob Music\\ 0/5\x05Hub (10.0.0.1:411)\x05me", &r), 1);
    EXPECT_STREQ(r.path, "Music\\");
    EXPECT_STREQ(r.short_name, "");
    EXPECT_EQ(r.size, 0u);
}

TEST(SearchResultParse, FileNamedLikeSlotsWithoutSlashIsStillAFile) {
    SearchResult r;
    ASSERT_EQ(parse_copy(file_result("bob", "track 2", "9"), &r), 1);
    EXPECT_STREQ(r.path, "track 2");
    EXPECT_EQ(r.size, 9u);
}

TEST(SearchResultParse, CyrillicBytesAreOrdinaryCharacters) {
    SearchResult r;
    std::string path = "\xcc\xf3\xe7\xfb\xea\xe0\\\xef\xe5\xf1\xed\xff.mp3";  // 1251
    ASSERT_EQ(parse_copy(file_result("\xc8\xe2\xe0\xed", path, "3"), &r), 1);
    EXPECT_STREQ(r.nick, "\xc8\xe2\xe0\xed");
    EXPECT_STREQ(r.short_name, "\xef\xe5\xf1\xed\xff.mp3");
}

// --- Field limits: overlong results are dropped whole, never cut ---------------

// --- The TTH that hashing clients put where the hub name would be ------------------

const char ALPHA_TTH[] = "B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SI";

std::string tth_result(const std::string& tth_field) {
    return "$SR sharer_ncdc \\share\\alpha.txt\x05" "2816 5/5\x05" + tth_field + " (127.0.0.1:4111)";
}

TEST(SearchResultTth, RootIsKeptWithTheResultAndOnlyAWellFormedOne) {
    const struct {
        std::string field;
        const char* kept;
    } cases[] = {
        {std::string("TTH:") + ALPHA_TTH, ALPHA_TTH},
        {"TTH:b36ylxaoxg46svjhvwzly7ellkrojg4juhji5si", ALPHA_TTH},  // as rhash prints it
        {"TTH:B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5S", ""},            // 38 characters
        {"TTH:B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SIA", ""},          // 40
        {"TTH:B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5S1", ""},           // '1' is no base32
        {"TTH:B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SJ", ""},           // padding bits set
        {"TTH:", ""},
        {"My Hub", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        SearchResult r;
        ASSERT_EQ(parse_copy(tth_result(c.field), &r), 1);  // the result stays, with or without a hash
        EXPECT_STREQ(r.tth, c.kept);
        EXPECT_STREQ(r.path, "\\share\\alpha.txt");
        EXPECT_EQ(r.size, 2816u);
    }
    // A hash at the very end of the message, as a hub that cuts the address sends it.
    SearchResult r;
    ASSERT_EQ(parse_copy(std::string("$SR x a.txt\x05" "1 1/1\x05TTH:") + ALPHA_TTH, &r), 1);
    EXPECT_STREQ(r.tth, ALPHA_TTH);
    // No hub field at all: no hash, nothing read past the end.
    ASSERT_EQ(parse_copy("$SR x a.txt\x05" "1 1/1", &r), 1);
    EXPECT_STREQ(r.tth, "");
}

TEST(SearchResultLimits, NickOf49BytesIsKeptAnd50Dropped) {
    SearchResult r;
    EXPECT_EQ(parse_copy(file_result(std::string(49, 'n'), "a", "1"), &r), 1);
    EXPECT_EQ(strlen(r.nick), 49u);
    EXPECT_EQ(parse_copy(file_result(std::string(50, 'n'), "a", "1"), &r), 0);
}

TEST(SearchResultLimits, PathOf149BytesIsKeptAnd150Dropped) {
    SearchResult r;
    std::string dir(100, 'd');
    EXPECT_EQ(parse_copy(file_result("bob", dir + "\\" + std::string(48, 'f'), "1"), &r), 1);
    EXPECT_EQ(strlen(r.path), 149u);
    EXPECT_EQ(strlen(r.short_name), 48u);
    EXPECT_EQ(parse_copy(file_result("bob", dir + "\\" + std::string(49, 'f'), "1"), &r), 0);
}

TEST(SearchResultLimits, ShortNameOf52BytesDropsTheResultRatherThanMisnameIt) {
    SearchResult r;
    EXPECT_EQ(parse_copy(file_result("bob", "d\\" + std::string(51, 'f'), "1"), &r), 1);
    EXPECT_EQ(strlen(r.short_name), 51u);
    EXPECT_EQ(parse_copy(file_result("bob", "d\\" + std::string(52, 'f'), "1"), &r), 0);
    EXPECT_EQ(parse_copy(file_result("bob", std::string(52, 'f'), "1"), &r), 0);
}

// --- Malformed results: dropped, nothing read or written past the message -------

TEST(SearchResultMalformed, TruncatedOrUnsplittableMessagesAreDropped) {
    const char* cases[] = {
        "$SR",                                   // nothing after the keyword
        "$SRbob a\x05" "1 1/1\x05h",             // no blank after the keyword
        "$SR bob",                               // no blank after the nick
        "$SR  a\x05" "1 1/1\x05h",               // empty nick
        "$SR bob Music\\a.mp3",                  // no 0x05 after the path
        "$SR bob Music\\a.mp3 1/2",              // a directory without its 0x05
        "$SR bob a.mp3\x05" "4096",              // no blank after the size
        "$SR bob \x05" "1 1/1\x05h",             // empty path
        "$SR bob  1/1\x05h",                     // directory with an empty path
    };
    for (const char* c : cases) {
        SearchResult r;
        EXPECT_EQ(parse_copy(c, &r), 0) << c;
    }
}

TEST(SearchResultMalformed, DroppedResultLeavesTableAndCountAlone) {
    client_state_reset();
    feed(file_result("bob", "a.mp3", "1"));
    feed("$SR bob a.mp3");
    feed("$SR " + std::string(60, 'n') + " a\x05" "1 1/1\x05h");
    ASSERT_EQ(g_state.result_count, 1);
    EXPECT_EQ(g_state.results[1].nick[0], '\0');
    EXPECT_EQ(g_state.results[1].path[0], '\0');
}

TEST(SearchResultMalformed, NoByteAfterTheMessageIsWritten) {
    char buffer[64];
    memset(buffer, '#', sizeof buffer);
    const char m[] = "$SR bob a.mp3\x05" "1";  // no blank after the size
    memcpy(buffer, m, sizeof m);
    SearchResult r;
    EXPECT_EQ(parse_search_fields(buffer, &r), 0);
    for (size_t i = sizeof m; i < sizeof buffer; i++) ASSERT_EQ(buffer[i], '#') << i;
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

// --- The results screen, through the headless display --------------------------

// The hub end of a socket pair stands in for the hub: what the client sends on
// g_state.hub_socket is read back byte for byte.
class SearchScreen : public ScreenTest {
protected:
    int client_end = -1;
    int hub_end = -1;

    void SetUp() override {
        ScreenTest::SetUp();
        client_state_reset();
        g_state.module_instance = KIVO_INSTANCE;
        text_copy(g_state.settings.nick, NICK_BYTES, "me");
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        g_state.hub_socket = pair[0];
        client_end = pair[0];
        hub_end = pair[1];
        download_set_phase(DOWNLOAD_IDLE);
    }
    void TearDown() override {
        close(client_end);
        close(hub_end);
        g_state.hub_socket = 0;
        ScreenTest::TearDown();
    }

    // Everything the client has sent so far (nothing within 200 ms: empty).
    std::string sent() {
        std::string all;
        char buffer[4096];
        int n;
        while ((n = recv_timeout(hub_end, buffer, sizeof buffer, 200)) > 0) all.append(buffer, (size_t)n);
        return all;
    }

    // Runs the results screen with the script; its first step lets a stuck
    // script close the screen instead of hanging.
    intptr_t run(IdleScript* script) {
        script->context = script;
        display_set_idle_hook(IdleScript::hook, script);
        intptr_t result = dialog_run(KIVO_INSTANCE, SEARCH_TEMPLATE_ID, 0, search_screen_proc, 0);
        display_set_idle_hook(nullptr, nullptr);
        EXPECT_FALSE(script->ran_out) << grid_text();
        return result;
    }
};

bool remember_screen(void* script) {
    ((IdleScript*)script)->close_target = g_state.search_window;
    return true;
}

intptr_t list_count() { return control_send(g_state.search_window, SEARCH_LIST_ID, LB_GETCOUNT, 0, 0); }
intptr_t list_selection() { return control_send(g_state.search_window, SEARCH_LIST_ID, LB_GETCURSEL, 0, 0); }
void list_select(int row) { control_send(g_state.search_window, SEARCH_LIST_ID, LB_SETCURSEL, (WPARAM)row, 0); }
bool shows(const char* utf8) { return display_find(utf8) >= 0; }

// The left soft key's menu: 1 Info, 2 Short, 3 Full, 4 CANCEL, 5 Search, 6 Exit search, 7 Ok.
void menu(const char* digit) {
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type(digit);
}

bool close_screen(void*) {
    display_press(DISPLAY_KEY_CLOSE);
    return true;
}

TEST_F(SearchScreen, ActionSendsExactSearchBytesClearsResultsAndCountsThem) {
    feed(file_result("old", "stale.mp3", "1"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        EXPECT_EQ(list_count(), 1);
        display_type("abba gold");
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        EXPECT_EQ(list_count(), 0);
        EXPECT_EQ(control_text(g_state.search_window, SEARCH_EDIT_ID), u"");
        return true;
    });
    script.add(close_screen);
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(sent(), "$Search Hub:me F?T?0?1?abba$gold|");
    EXPECT_EQ(traffic_sent(), 33u);
    EXPECT_EQ(g_state.result_count, 0);  // the old row is past the count: never read again
}

TEST_F(SearchScreen, EmptySearchFromTheMenuStillSendsAndClears) {
    feed(file_result("old", "stale.mp3", "1"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        menu("5");  // "Search"
        return true;
    });
    script.add(close_screen);
    run(&script);
    EXPECT_EQ(sent(), "$Search Hub:me F?T?0?1?|");
    EXPECT_EQ(traffic_sent(), 24u);
    EXPECT_EQ(g_state.result_count, 0);
}

TEST_F(SearchScreen, SearchWithoutHubConnectionStillCountsItsLength) {
    g_state.hub_socket = -5;  // the last login failed
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        display_type("x");
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add(close_screen);
    run(&script);
    EXPECT_EQ(traffic_sent(), 25u);
    EXPECT_EQ(sent(), "");
}

TEST_F(SearchScreen, ExampleResultListsShortNameThenPathAfterFull) {
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {  // arrives while the screen is open
        feed(file_result("bob", "Music\\a.mp3", "4096"));
        return true;
    });
    script.add([](void*) {
        EXPECT_EQ(list_count(), 1);
        EXPECT_TRUE(shows("a.mp3"));
        EXPECT_FALSE(shows("Music\\a.mp3"));
        menu("3");  // "Full"
        return true;
    });
    script.add([](void*) {
        EXPECT_TRUE(shows("Music\\a.mp3"));
        EXPECT_EQ(g_state.short_names, 0);
        return true;
    });
    script.add(close_screen);
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(g_state.search_window, 0);  // closed: later results are only stored
}

TEST_F(SearchScreen, InfoShowsPathUserAndSize) {
    feed(file_result("bob", "Music\\a.mp3", "4096"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        list_select(0);
        menu("1");  // "Info"
        return true;
    });
    script.add([](void*) {
        EXPECT_TRUE(shows("item"));
        int path = display_find("Music\\a.mp3");
        EXPECT_GE(path, 1);
        EXPECT_EQ(display_find("user: bob"), path + 1);
        EXPECT_EQ(display_find("size:4096 bytes"), path + 2);
        display_press(DISPLAY_KEY_ACTION);  // closes the box
        return true;
    });
    script.add(close_screen);
    run(&script);
}

TEST_F(SearchScreen, InfoShowsTheTthBelowTheSizeAndDownloadCarriesIt) {
    feed(tth_result(std::string("TTH:") + ALPHA_TTH));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        list_select(0);
        menu("1");  // "Info"
        return true;
    });
    script.add([](void*) {
        int size = display_find("size:2816 bytes");
        EXPECT_GE(size, 1);
        EXPECT_EQ(display_find((std::string("TTH:") + ALPHA_TTH).c_str()), size + 1);
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        display_press(DISPLAY_KEY_SOFT_RIGHT);  // "Download"
        return true;
    });
    run(&script);
    EXPECT_STREQ(g_state.download.tth, ALPHA_TTH);
    EXPECT_EQ(g_state.download.size, 2816u);
    EXPECT_TRUE(download_requested());
}

TEST_F(SearchScreen, InfoShowsAFiveGibibyteSizeWhole) {
    feed(file_result("bob", "big.iso", "5368709120"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        list_select(0);
        menu("1");
        return true;
    });
    script.add([](void*) {
        EXPECT_TRUE(shows("size:5368709120 bytes"));
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add(close_screen);
    run(&script);
}

TEST_F(SearchScreen, InfoAndDownloadWithoutSelectionDoNothing) {
    feed(file_result("bob", "a.mp3", "1"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        menu("1");
        return true;
    });
    script.add([](void*) {
        EXPECT_FALSE(shows("user: bob"));  // no message box
        display_press(DISPLAY_KEY_SOFT_RIGHT);  // "Download"
        return true;
    });
    script.add([](void*) {
        EXPECT_NE(g_state.search_window, 0);  // still open
        EXPECT_TRUE(shows("a.mp3"));
        return true;
    });
    script.add(close_screen);
    run(&script);
    EXPECT_EQ(sent(), "");  // no $RevConnectToMe
    EXPECT_EQ(download_row(), -1);
}

TEST_F(SearchScreen, DownloadOfSelectedRowRequestsItAndClosesTheScreen) {
    feed(file_result("ann", "x\\one.txt", "1"));
    feed(file_result("bob", "y\\two.txt", "2"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        list_select(1);
        display_press(DISPLAY_KEY_SOFT_RIGHT);
        return true;
    });
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(g_state.search_window, 0);
    EXPECT_EQ(sent(), "$RevConnectToMe me bob|");
    EXPECT_EQ(download_row(), 1);
    EXPECT_STREQ(g_state.download.path, "y\\two.txt");
}

TEST_F(SearchScreen, SelectionIsKeptAcrossFullAndShort) {
    for (int i = 0; i < 5; i++) feed(file_result("u", "d\\f" + std::to_string(i), "1"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        list_select(2);
        menu("3");
        return true;
    });
    script.add([](void*) {
        EXPECT_EQ(list_selection(), 2);
        EXPECT_TRUE(shows("d\\f2"));
        menu("2");  // "Short"
        return true;
    });
    script.add([](void*) {
        EXPECT_EQ(list_selection(), 2);
        EXPECT_EQ(g_state.short_names, 1);
        EXPECT_FALSE(shows("d\\f2"));
        return true;
    });
    script.add(close_screen);
    run(&script);
}

TEST_F(SearchScreen, ResultsArrivingWhileClosedAreListedAtNextOpeningUnselected) {
    IdleScript first;
    first.add(remember_screen);
    first.add([](void*) {
        feed(file_result("a", "one.ogg", "1"));
        list_select(0);
        menu("6");  // "Exit search"
        return true;
    });
    EXPECT_EQ(run(&first), 0);
    EXPECT_EQ(g_state.search_window, 0);
    feed(file_result("b", "two.ogg", "2"));
    feed(file_result("c", "three.ogg", "3"));

    IdleScript second;
    second.add(remember_screen);
    second.add([](void*) {
        EXPECT_EQ(list_count(), 3);
        EXPECT_EQ(list_selection(), LB_ERR);
        int one = display_find("one.ogg");
        EXPECT_GE(one, 1);
        EXPECT_EQ(display_find("two.ogg"), one + 1);
        EXPECT_EQ(display_find("three.ogg"), one + 2);
        menu("7");  // "Ok" closes too
        return true;
    });
    EXPECT_EQ(run(&second), 0);
}

TEST_F(SearchScreen, ListStopsAt334EntriesWhenThe335thArrives) {
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        for (int i = 0; i <= RESULT_ROWS; i++) feed(file_result("u", std::string("f").append(std::to_string(i)), "1"));
        EXPECT_EQ(list_count(), RESULT_ROWS);
        EXPECT_EQ(g_state.result_count, RESULT_ROWS);
        return true;
    });
    script.add(close_screen);
    run(&script);
}

TEST_F(SearchScreen, DirectoryAndEmptyShortNameRowsKeepListPositionsEqualToRows) {
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        feed(file_result("a", "Music\\", "1"));  // an empty entry in short-name mode
        feed("$SR b Music\\Albums 2/3\x05Hub (10.0.0.1:411)");
        feed("$SR broken");
        feed(file_result("c", "x\\last.mp3", "3"));
        return true;
    });
    script.add([](void*) {
        EXPECT_EQ(list_count(), 3);
        int albums = display_find("Albums");
        EXPECT_GE(albums, 1);
        EXPECT_EQ(display_find("last.mp3"), albums + 1);
        list_select(2);
        menu("1");
        return true;
    });
    script.add([](void*) {
        EXPECT_TRUE(shows("user: c"));
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add(close_screen);
    run(&script);
}

}  // namespace
