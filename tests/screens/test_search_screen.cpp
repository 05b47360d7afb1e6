// The results screen driven through the headless display: the search it
// sends and counts, rows listed as they arrive and at the next opening,
// "Short" and "Full", "Info", and "Download" on the selected row.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "hub/file_lists.h"
#include "hub/search.h"
#include "hub/users.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/browse_test_lists.h"
#include "screens/search_screen.h"
#include "state/client_state.h"

namespace {

// A $SR as a hub relays it to a passive searcher: no trailing 0x05 and nick.
std::string file_result(const std::string& nick, const std::string& path, const std::string& size) {
    return "$SR " + nick + " " + path + "\x05" + size + " 2/3\x05Hub (10.0.0.1:411)";
}

const char ALPHA_TTH[] = "B36YLXAOXG46SVJHVWZLY7ELLKROJG4JUHJI5SI";

// A result from a client that hashes its share: the TTH field in place of the hub name.
std::string tth_result(const std::string& tth_field) {
    return "$SR sharer_ncdc \\share\\alpha.txt\x05" "2816 5/5\x05" + tth_field + " (127.0.0.1:4111)";
}

// Feeds a message to the dispatcher's entry point, from an exact-size buffer;
// its sender is on the hub, as a sender of results is.
void feed(const std::string& message) {
    std::vector<char> buffer(message.begin(), message.end());
    buffer.push_back('\0');
    std::string nick = message.substr(4, message.find(' ', 4) - 4);
    update_user(nick.c_str(), "0", 1);
    search_result_take(buffer.data());
}

// The results row whose file the queue's first entry fetches, or -1.
int queued_row() {
    if (g_state.queue_count < 1) return -1;
    for (int row = 0; row < g_state.result_count; row++) {
        const SearchResult& r = g_state.results[row];
        if (strcmp(r.nick, queue_text(&g_state.queue[0], QUEUE_NICK)) == 0 && strcmp(r.path, queue_text(&g_state.queue[0], QUEUE_PATH)) == 0) return row;
    }
    return -1;
}

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
        text_copy(g_state.hub_nick, HUB_NICK_BYTES, "me");
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
        g_state.hub_socket = pair[0];
        g_state.hub_phase = HUB_ONLINE;
        client_end = pair[0];
        hub_end = pair[1];
        download_set_phase(0, DOWNLOAD_IDLE);
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
        intptr_t result = dialog_run(KIVO_INSTANCE, DIALOG_SEARCH, 0, search_screen_proc, 0);
        display_set_idle_hook(nullptr, nullptr);
        EXPECT_FALSE(script->ran_out) << grid_text();
        return result;
    }
};

bool remember_screen(void* script) {
    ((IdleScript*)script)->close_target = g_state.search_window;
    return true;
}

intptr_t list_count() { return control_send(g_state.search_window, ID_SEARCH_LIST, LB_GETCOUNT, 0, 0); }
intptr_t list_selection() { return control_send(g_state.search_window, ID_SEARCH_LIST, LB_GETCURSEL, 0, 0); }
void list_select(int row) { control_send(g_state.search_window, ID_SEARCH_LIST, LB_SETCURSEL, (WPARAM)row, 0); }
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

TEST_F(SearchScreen, ActionSendsExactSearchBytesClearsResultsKeepsTheWordsAndCountsThem) {
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
        // The words stay, to search again or to change one.
        EXPECT_EQ(control_text(g_state.search_window, ID_SEARCH_WORDS), u"abba gold");
        return true;
    });
    script.add(close_screen);
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(sent(), "$Search Hub:me F?T?0?1?abba$gold|");
    EXPECT_EQ(traffic_sent(), 33u);
    EXPECT_EQ(g_state.result_count, 0);  // the old row is past the count: never read again
}

// Words with a character the hub's encoding lacks are not sent: the status
// line names it, the words and the old results stay.
TEST_F(SearchScreen, WordsTheHubCannotTakeAreNotSentAndTheStatusSaysWhy) {
    hub_encoding_set(ENCODING_CP1251);
    feed(file_result("old", "stale.mp3", "1"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        display_type("\xD0\xBF\xD0\xB5\xD1\x81\xD0\xBD\xD0\xB8 gr\xC3\xBC\xC3\x9F" "e");  // "песни grüße"
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        EXPECT_EQ(control_text(g_state.search_window, ID_SEARCH_STATUS), u"cannot send \"\u00fc\" in CP1251: change the words");
        EXPECT_EQ(control_text(g_state.search_window, ID_SEARCH_WORDS), u"песни gr\u00fc\u00dfe");
        EXPECT_EQ(list_count(), 1);
        return true;
    });
    script.add(close_screen);
    run(&script);
    EXPECT_EQ(sent(), "");
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
    g_state.hub_socket = 0;  // the last login failed: no socket
    g_state.hub_login_error = LOGIN_REFUSED;
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
    EXPECT_STREQ(g_state.jobs[0].tth, ALPHA_TTH);
    EXPECT_EQ(g_state.jobs[0].size, 2816u);
    EXPECT_TRUE(download_requested(0));
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
    EXPECT_EQ(download_phase(0), DOWNLOAD_IDLE);
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
    EXPECT_EQ(queued_row(), 1);
    EXPECT_STREQ(g_state.jobs[0].path, "y\\two.txt");
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
namespace {

std::u16string status_text() { return control_text(g_state.search_window, ID_SEARCH_STATUS); }

}  // namespace

// The status line through a search's life: "searching..." once sent, the
// count as results come (the first one selected, a later one leaving the
// selection alone), "no results" when the wait ends with none, "first N
// shown" once the table is full. The words stay in the field throughout.
TEST_F(SearchScreen, StatusLineFollowsTheSearchAndTheFirstResultIsSelected) {
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        EXPECT_EQ(status_text(), u"");  // nothing searched yet
        display_type("abba");
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (!shows("searching...")) return false;
        EXPECT_EQ(list_selection(), LB_ERR);
        feed(file_result("ann", "x\\one.mp3", "1"));
        return true;
    });
    script.add([](void*) {
        if (!shows("1 result")) return false;
        EXPECT_EQ(list_selection(), 0) << "the first result is selected";
        feed(file_result("bob", "y\\two.mp3", "2"));
        return true;
    });
    script.add([](void*) {
        if (!shows("2 results")) return false;
        EXPECT_EQ(list_selection(), 0) << "a later result leaves the selection alone";
        // The wait ending after results came changes nothing.
        send_message(g_state.search_window, WM_TIMER, SEARCH_WAIT_TIMER, 0);
        EXPECT_EQ(status_text(), u"2 results");
        // Searching again from the field, whose words are still there.
        control_set_focus(g_state.search_window, ID_SEARCH_WORDS);
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (status_text() != u"searching...") return false;
        EXPECT_EQ(list_count(), 0);
        send_message(g_state.search_window, WM_TIMER, SEARCH_WAIT_TIMER, 0);  // the wait is over
        return true;
    });
    script.add([](void*) {
        if (!shows("no results")) return false;
        for (int i = 0; i <= RESULT_ROWS; i++) {
            std::string name = "f";  // appended: GCC 12 at -O3 warns on "f" + std::string
            name += std::to_string(i);
            feed(file_result("u", name, "1"));
        }
        return true;
    });
    script.add([](void*) { return shows("first 334 shown"); });
    script.add(close_screen);
    run(&script);
    EXPECT_EQ(sent(), "$Search Hub:me F?T?0?1?abba|$Search Hub:me F?T?0?1?abba|");
}

// A directory's result is listed as a folder ("Albums\"), its Info says so,
// and Download leaves it, saying why, with the screen still open.
// A folder's Download asks for its user's list at that folder and says it
// opens when the screen closes; the screen stays, nothing is queued.
// Download on a folder result asks its user for his list, closes, and once
// the list has come every file below that folder is in the queue.
TEST_F(SearchScreen, FolderResultIsMarkedAndItsDownloadQueuesTheFolderFromTheUsersList) {
    test_lists_folder_make();
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        feed("$SR bob Music\\Albums 2/3\x05Hub (10.0.0.1:411)");
        return true;
    });
    script.add([](void*) {
        if (!shows("Albums\\")) return false;
        EXPECT_EQ(list_selection(), 0);
        menu("1");  // "Info"
        return true;
    });
    script.add([](void*) {
        if (!shows("item")) return false;
        int path = display_find("Music\\Albums");
        EXPECT_GE(path, 1);
        EXPECT_EQ(display_find("user: bob"), path + 1);
        EXPECT_EQ(display_find("a folder"), path + 2);
        EXPECT_FALSE(shows("size:"));
        display_press(DISPLAY_KEY_ACTION);  // closes the box
        return true;
    });
    script.add([](void*) {
        if (shows("item")) return false;
        display_press(DISPLAY_KEY_SOFT_RIGHT);  // "Download"
        return true;
    });
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(g_state.search_window, 0);
    EXPECT_EQ(sent(), "$RevConnectToMe me bob|");
    ASSERT_EQ(g_state.queue_count, 1);
    EXPECT_EQ(g_state.queue[0].kind, QUEUE_LIST);
    // The list comes (here: written into the cache as the queue would).
    test_list_write("bob", "<FileListing Version=\"1\" Base=\"/\"><Directory Name=\"Music\"><Directory Name=\"Albums\">"
                           "<File Name=\"a.mp3\" Size=\"3\"/><Directory Name=\"B\"><File Name=\"b.mp3\" Size=\"4\"/>"
                           "</Directory></Directory><File Name=\"other.mp3\" Size=\"5\"/></Directory></FileListing>");
    file_list_arrived("bob", true);
    ASSERT_EQ(g_state.queue_count, 3);
    EXPECT_STREQ(queue_text(&g_state.queue[1], QUEUE_NAME), "Albums/B/b.mp3");
    EXPECT_STREQ(queue_text(&g_state.queue[2], QUEUE_NAME), "Albums/a.mp3");
    EXPECT_STREQ(queue_text(&g_state.queue[2], QUEUE_PATH), "Music\\Albums\\a.mp3");
    test_lists_folder_remove();
}

// "Browse user's files" (the eleventh entry, chosen with the arrows) asks
// for the selected result's user's list at the file's folder, and closes.
TEST_F(SearchScreen, BrowseUsersFilesAsksForTheListAtTheResultsFolder) {
    test_lists_folder_make();
    test_list_write("carl", "<FileListing Version=\"1\" Base=\"/\"></FileListing>");
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        feed(file_result("carl", "share\\Music\\Live\\song.mp3", "1000"));
        return true;
    });
    script.add([](void*) {
        if (!shows("song.mp3")) return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        for (int i = 0; i < 10; i++) display_press(DISPLAY_KEY_DOWN);
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) { return g_state.search_window == 0; });
    run(&script);
    char nick[RESULT_NICK_BYTES];
    char folder[RESULT_PATH_BYTES];
    ASSERT_EQ(file_list_browse_take(nick, RESULT_NICK_BYTES, folder, RESULT_PATH_BYTES), 1);
    EXPECT_STREQ(nick, "carl");
    EXPECT_STREQ(folder, "share\\Music\\Live");
    test_lists_folder_remove();
}

namespace {

std::string hashed(const std::string& nick, const std::string& size, const std::string& slots) {
    return "$SR " + nick + " share\\alpha.txt\x05" + size + " " + slots + "\x05TTH:" + ALPHA_TTH + " (1.2.3.4:411)";
}

std::string row_with(const char* utf8) { return display_find(utf8) < 0 ? "" : grid_row(display_find(utf8)); }

}  // namespace

// Four users' alpha.txt is one entry in columns for the list's width: name,
// size, "4 users", the best source's slots, lined up with a single result's;
// a narrow screen drops slots and users, a wide one brings them back. Info
// lists the sources; Download takes the one with most free slots.
TEST_F(SearchScreen, SameFileFromFourUsersIsOneEntryInColumnsThatFollowTheWidth) {
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        for (const char* s : {"ann 0/2", "bob 1/3", "cid 4/4", "dan 2/2"}) {
            feed(hashed(std::string(s, 3), "2816", s + 4));
        }
        feed(file_result("eve", "docs\\alpha.txt", "123"));  // no TTH: an entry of its own
        // cid names the same file otherwise: it is still saved under the name listed.
        text_copy(g_state.results[2].short_name, RESULT_SHORT_BYTES, "cid-alpha.txt");
        return true;
    });
    script.add([](void*) {
        EXPECT_EQ(list_count(), 2);
        std::string row = row_with("4 users"), single = row_with("eve");
        EXPECT_EQ(row.find(">alpha.txt"), 1u) << grid_text();
        EXPECT_LT(row.find("4 users"), row.find("4/4")) << row;  // cid's, whom Download takes
        EXPECT_EQ(row.find("2.8 KiB") + 7, single.find("123 B") + 5) << "sizes end in one column";
        EXPECT_EQ(row.find("4 users"), single.find("eve"));
        EXPECT_EQ(row.find("4/4"), single.find("2/3"));
        display_headless_resize(36, 16);
        return true;
    });
    script.add([](void*) {
        // Until the paint has laid the entries out anew, the old ones show cut.
        if (display_cols() != 36 || shows("4/4") || !shows("KiB")) return false;
        EXPECT_NE(row_with("alpha.txt").find("2.8 KiB"), std::string::npos) << grid_text();
        display_headless_resize(100, 30);
        return true;
    });
    script.add([](void*) {
        if (!shows("4/4")) return false;
        menu("1");  // "Info"
        return true;
    });
    script.add([](void*) {
        if (!shows("item")) return false;
        int users = display_find("4 users");
        EXPECT_EQ(display_find("size:2816 bytes (2.8 KiB)"), users + 1) << grid_text();
        EXPECT_EQ(display_find("ann 0/2"), users + 3) << "below the TTH";
        EXPECT_EQ(display_find("dan 2/2"), users + 6);
        display_press(DISPLAY_KEY_ACTION);  // closes Info; keys typed ahead go with it
        return true;
    });
    script.add([](void*) {
        if (shows("item")) return false;
        display_press(DISPLAY_KEY_SOFT_RIGHT);  // "Download"
        return true;
    });
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(sent(), "$RevConnectToMe me cid|");
    EXPECT_EQ(queued_row(), 2);
    EXPECT_STREQ(g_state.jobs[0].short_name, "alpha.txt");
}

// A sort from the menu moves the selection with its entry: Info and
// Download act on the entry shown selected, whatever its row.
TEST_F(SearchScreen, SortFromTheMenuKeepsInfoAndDownloadOnTheSelectedEntry) {
    feed(file_result("ann", "x\\small.txt", "10"));
    feed(file_result("bob", "y\\Big.iso", "5368709120"));
    feed(hashed("cid", "2816", "1/1"));
    IdleScript script;
    script.add(remember_screen);
    script.add([](void*) {
        list_select(0);  // small.txt
        menu("9");       // "By size"
        return true;
    });
    script.add([](void*) {
        EXPECT_EQ(display_find("small.txt"), display_find("Big.iso") + 2);
        EXPECT_EQ(list_selection(), 2) << "the selection moved with small.txt";
        list_select(0);  // Big.iso
        menu("1");
        return true;
    });
    script.add([](void*) {
        if (!shows("item")) return false;
        EXPECT_TRUE(shows("user: bob, slots 2/3"));
        EXPECT_TRUE(shows("size:5368709120 bytes (5.0 GiB)"));
        display_press(DISPLAY_KEY_ACTION);  // closes Info; keys typed ahead go with it
        return true;
    });
    script.add([](void*) {
        if (shows("item")) return false;
        display_press(DISPLAY_KEY_SOFT_RIGHT);
        return true;
    });
    EXPECT_EQ(run(&script), 0);
    EXPECT_EQ(sent(), "$RevConnectToMe me bob|");
    EXPECT_EQ(queued_row(), 1);
}
