// The main screen run from its real template through the headless display:
// the paint rule, the command table, Traffic, About, Clear Chat and Back (a
// login still running is given up by it), and reading back through a long
// history in the chat view, as the visible grid shows it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "hub/connection.h"
#include "hub/hub_test_state.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/main_screen.h"
#include "state/client_state.h"
#include "support/test_hub.h"

namespace {

struct MainRun {
    IdleScript script;
    std::u16string chat_view;
    std::u16string input;
    std::string grid;
};
MainRun* run;

class MainScreen : public ScreenTest {
protected:
    MainRun state;
    void SetUp() override {
        ScreenTest::SetUp();
        client_state_reset();
        download_set_phase(0, DOWNLOAD_IDLE);
        g_state.module_instance = KIVO_INSTANCE;
        run = &state;
    }
    intptr_t run_main() {
        state.script.context = &state;
        display_set_idle_hook(IdleScript::hook, &state.script);
        intptr_t result = dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_screen_proc, 0);
        EXPECT_FALSE(state.script.ran_out) << "a step never completed; last screen:\n" << grid_text();
        return result;
    }
    // Closes the main screen from the script, as the platform's close request.
    static bool close_main(void*) {
        post_message(g_state.main_window, WM_CLOSE, 0, 0);
        return true;
    }
};

bool set_target(void*) {
    run->script.close_target = g_state.main_window;
    return true;
}

TEST_F(MainScreen, TrafficBoxShowsKilobytesAndBytes) {
    traffic_add_received(1536);
    traffic_add_sent(100);
    state.script.add(set_target);
    state.script.add([](void*) {
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("7");  // Menu > Traffic
        return true;
    });
    state.script.add([](void*) {
        if (display_find("Traffic count") < 0) return false;
        run->grid = grid_text();
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    for (const char* line : {"In: 1 kbytes", "Out: 0 kbytes", "in 1536 bytes", "out 100 bytes"})
        EXPECT_NE(state.grid.find(line), std::string::npos) << line << "\n" << state.grid;
}

TEST_F(MainScreen, AboutBoxOpensAndClosesWithTheActionKey) {
    state.script.add(set_target);
    state.script.add([](void*) {
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("6");  // Menu > About
        return true;
    });
    state.script.add([](void*) {
        if (display_find("Kivo 0.05") < 0) return false;
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    state.script.add([](void*) { return display_find("Kivo 0.05") < 0; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
}

// About says which connection mode is in force and why, and the keyprint
// peers check the TLS listener by; before a mode is decided, "not connected"
// and no keyprint line. Both fit the phone's 36x16 as well as 80x24.
TEST_F(MainScreen, AboutShowsTheModeInForceAndTheOwnKeyprint) {
    static const std::string keyprint = "SHA256/" + std::string(52, 'Q');
    static std::string grids[3];
    static int shown;
    shown = 0;
    state.script.add(set_target);
    for (int i = 0; i < 3; i++) {
        state.script.add([](void*) {
            if (shown == 0) {
                text_copy(g_state.mode_text, MODE_TEXT_BYTES, "passive: the hub sees 203.0.113.5, not this machine");
                text_copy(g_state.own_keyprint, TLS_KEYPRINT_BYTES, keyprint.c_str());
            }
            if (shown == 1) display_headless_resize(36, 16);
            if (shown == 2) {
                g_state.mode_text[0] = 0;
                g_state.own_keyprint[0] = 0;
            }
            display_press(DISPLAY_KEY_SOFT_LEFT);
            display_type("6");  // Menu > About
            return true;
        });
        state.script.add([](void*) {
            if (display_find("Kivo 0.05") < 0) return false;
            grids[shown++] = grid_text();
            display_press(DISPLAY_KEY_ACTION);
            return true;
        });
        state.script.add([](void*) { return display_find("Kivo 0.05") < 0; });
    }
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_NE(grids[0].find("mode: passive: the hub sees 203.0.113.5, not this machine"), std::string::npos) << grids[0];
    EXPECT_NE(grids[0].find("TLS keyprint: " + keyprint), std::string::npos) << grids[0];
    // On the phone the lines wrap, and the last of the keyprint is still in view.
    EXPECT_NE(grids[1].find("| 203.0.113.5, not this machine"), std::string::npos) << grids[1];
    EXPECT_EQ(std::count(grids[1].begin(), grids[1].end(), 'Q'), 52) << "the keyprint cut\n" << grids[1];
    EXPECT_NE(grids[2].find("mode: not connected"), std::string::npos) << grids[2];
    EXPECT_EQ(grids[2].find("keyprint"), std::string::npos) << grids[2];
}

TEST_F(MainScreen, ClearChatRemovesTheBanner) {
    chatlog_set(u"Pelmark tarvol v 0.05 ");
    state.script.add(set_target);
    state.script.add([](void*) {
        if (display_find("Pelmark tarvol") < 0) return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("4");  // Menu > Clear Chat
        return true;
    });
    state.script.add([](void*) { return display_find("Pelmark tarvol") < 0; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_EQ(chatlog_length(), 0);
}

// Back on the main screen, with text in the input line, closes nothing and
// deletes nothing; Backspace deletes.
TEST_F(MainScreen, BackLeavesTheInputLineAndTheScreenAloneAndBackspaceDeletes) {
    state.script.add(set_target);
    state.script.add([](void*) {
        display_type("abc");
        display_press(DISPLAY_KEY_BACK);
        display_press(DISPLAY_KEY_BACK);
        display_press(DISPLAY_KEY_BACKSPACE);
        display_type("d");  // still reaches the input line: the screen is open
        return true;
    });
    state.script.add([](void*) {
        run->input = control_text(g_state.main_window, ID_MAIN_INPUT_LINE);
        return true;
    });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_EQ(state.input, u"abd");
}

// Words typed on the search screen stay there: Backspace past the start of
// its field keeps it open, and after Back closes it the keys typed behind
// Back are dropped, so nothing lands in the input line or goes to the hub.
TEST_F(MainScreen, SearchWordsNeverReachTheChatWhateverBackAndBackspaceDo) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    g_state.hub_socket = pair[0];  // what would go to the hub is read back
    text_copy(g_state.hub_nick, HUB_NICK_BYTES, "me");
    state.script.add(set_target);
    state.script.add([](void*) {
        display_press(DISPLAY_KEY_SOFT_RIGHT);  // the search screen
        display_type("secure");
        for (int i = 0; i < 7; i++) display_press(DISPLAY_KEY_BACKSPACE);  // one too many
        display_type("tls");
        return true;
    });
    state.script.add([](void*) {
        if (control_text(g_state.search_window, ID_SEARCH_WORDS) != u"tls") return false;
        display_press(DISPLAY_KEY_BACK);
        display_type("private Проверка");
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    state.script.add([](void*) {
        if (g_state.search_window != 0) return false;
        run->input = control_text(g_state.main_window, ID_MAIN_INPUT_LINE);
        return true;
    });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_EQ(state.input, u"");
    char sent[256];
    EXPECT_LE(recv(pair[1], sent, sizeof sent, MSG_DONTWAIT), 0) << "something went to the hub";
    if (g_state.hub_socket == pair[0]) close(pair[0]);
    close(pair[1]);
    g_state.hub_socket = 0;
}

TEST_F(MainScreen, ExitFromTheMenuEndsWithZero) {
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type("1");  // Menu > exit
    // Should exit not end the screen, the script runs out and fails the test.
    state.script.add(set_target);
    state.script.add([](void*) { return false; });
    EXPECT_EQ(run_main(), 0);
}

// Online, Exit asks "connected to <hub>: exit anyway?" and only the
// question's OK soft key ends Kivo: Enter, Ctrl-C, Back and CANCEL keep it
// running, Backspace does nothing; Ctrl-C on the main screen asks too.
TEST_F(MainScreen, ExitWhileOnlineAsksAndOnlyItsOkSoftKeyEnds) {
    static TestHub* hub_ptr;
    TestHub hub;
    hub_ptr = &hub;
    hub.send(HUB_TEST_LOCK).expect(HUB_TEST_BLOCK_END).send("$Hello [i]mpx200|$HubName Demo|");
    hub_test_state(hub.port_text());
    g_state.module_instance = KIVO_INSTANCE;
    static const DisplayKey CANCELS[] = {DISPLAY_KEY_ACTION, DISPLAY_KEY_CLOSE, DISPLAY_KEY_BACK,
                                         DISPLAY_KEY_SOFT_RIGHT};
    static int asked;
    asked = 0;
    state.script.add([](void*) {
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("2");  // Menu > Connect
        return true;
    });
    for (int i = 0; i < 4; i++) {
        state.script.add([](void*) {
            if (grid_row(0).find("Demo (") == std::string::npos || display_find("exit anyway") >= 0) return false;
            display_press(DISPLAY_KEY_SOFT_LEFT);
            display_type("1");  // Menu > exit
            return true;
        });
        state.script.add([](void*) {
            if (display_find("connected to Demo: exit anyway?") < 0) return false;
            display_press(CANCELS[asked++]);
            return true;
        });
    }
    state.script.add([](void*) {
        if (display_find("exit anyway") >= 0) return false;
        EXPECT_EQ(g_state.hub_phase, HUB_ONLINE);
        display_press(DISPLAY_KEY_CLOSE);  // Ctrl-C asks too
        return true;
    });
    state.script.add([](void*) {
        if (display_find("exit anyway") < 0) return false;
        display_press(DISPLAY_KEY_BACKSPACE);
        display_press(DISPLAY_KEY_SOFT_LEFT);  // OK
        return true;
    });
    EXPECT_EQ(run_main(), 0);
    EXPECT_EQ(state.script.next, state.script.count) << "ended before OK";
    EXPECT_TRUE(hub_ptr->wait_client_closed(0, 2000));
}

// While a login runs, Back gives it up and the input line keeps its text;
// afterwards Back does nothing there and Backspace deletes.
TEST_F(MainScreen, BackWhileConnectingGivesUpTheLogin) {
    static TestHub* silent;
    TestHub hub;  // accepts and never sends its lock
    silent = &hub;
    hub_test_state();
    g_state.module_instance = KIVO_INSTANCE;
    text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, hub.port_text().c_str());
    g_state.hub_io_timeout_ms = 20000;  // only giving up ends the login in time
    state.script.add(set_target);
    state.script.add([](void*) {
        display_type("ab");
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("2");  // Menu > Connect
        return true;
    });
    state.script.add([](void*) {
        if (silent->connections() < 1 || display_find(("connecting to " + hub_address_text() + "...").c_str()) < 0) return false;
        EXPECT_EQ(g_state.hub_phase, HUB_CONNECTING);
        display_press(DISPLAY_KEY_BACK);
        return true;
    });
    state.script.add([](void*) {
        if (hub_login_running() || display_find("connect cancelled") < 0) return false;
        run->input = control_text(g_state.main_window, ID_MAIN_INPUT_LINE);
        display_press(DISPLAY_KEY_BACK);
        display_press(DISPLAY_KEY_BACKSPACE);
        return true;
    });
    state.script.add([](void*) { return control_text(g_state.main_window, ID_MAIN_INPUT_LINE) == u"a"; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    g_state.hub_io_timeout_ms = HUB_IO_TIMEOUT_MS;
    EXPECT_EQ(state.input, u"ab");
    EXPECT_EQ(g_state.hub_phase, HUB_OFFLINE);
    EXPECT_EQ(g_state.hub_socket, 0);
    EXPECT_FALSE(hub_login_running());
    EXPECT_TRUE(hub.wait_client_closed(0, 2000));
}

// The view's last row at 80x24: rows 1 to 20 show the chat, 21 the input line.
constexpr int VIEW_LAST_ROW = 20;

void append_ascii(const std::string& text) {
    std::u16string wide(text.begin(), text.end());
    chatlog_append(wide.c_str());
    repaint_request(g_state.main_window);
}

std::string numbered(int from, int to) {
    std::string text;
    for (int i = from; i <= to; i++) {
        char line[16];
        snprintf(line, sizeof line, "line %03d\r\n", i);  // ten units a line
        text += line;
    }
    return text;
}

// On the phone's 36x16 the view has rows 1 to 12 of 34 cells.
TEST_F(MainScreen, NewestLineShowsAfterALineLongerThanTheView) {
    display_start_headless(36, 16);
    state.script.add(set_target);
    state.script.add([](void*) {
        append_ascii(numbered(1, 5) + "<bob> " + std::string(2000, 'x') + "END\r\n");
        return true;
    });
    // Wrapped into more rows than the view has, the long line ends on its last row.
    state.script.add([](void*) { return display_find("xxEND") == 12; });
    state.script.add([](void*) {
        append_ascii("<ann> newest\r\n");
        return true;
    });
    // The newest line follows it on the last row.
    state.script.add([](void*) { return display_find("<ann> newest") == 12; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
}

// PageUp reads back; chat that comes in then neither moves the lines being
// read nor hides that it came; End, and later sending a line, go back to the
// newest line.
TEST_F(MainScreen, ScrollBackSurvivesIncomingChatUntilEndOrSending) {
    static int top_read, more_row, after_end;
    static std::string top_text;
    static uint64_t appended_ms;
    state.script.add(set_target);
    state.script.add([](void*) {
        append_ascii(numbered(1, 60));
        return true;
    });
    state.script.add([](void*) {
        if (display_find("line 060") != VIEW_LAST_ROW) return false;
        EXPECT_LT(display_find("-- more below --"), 0);
        display_press(DISPLAY_KEY_PAGE_UP);
        return true;
    });
    state.script.add([](void*) {
        if (display_find("-- more below --") < 0) return false;
        top_text = grid_row(1);
        append_ascii(numbered(61, 65));
        appended_ms = monotonic_ms();
        return true;
    });
    state.script.add([](void*) {
        // Nothing on the grid changes: wait well past the paint's throttle.
        if (monotonic_ms() - appended_ms < 300) return false;
        top_read = grid_row(1) == top_text;
        more_row = display_find("-- more below --");
        EXPECT_LT(display_find("line 065"), 0);
        display_press(DISPLAY_KEY_END);
        return true;
    });
    // Paging asks for a paint: each step waits for what it shows.
    state.script.add([](void*) {
        after_end = display_find("line 065");
        if (after_end < 0) return false;
        EXPECT_LT(display_find("-- more below --"), 0);
        display_press(DISPLAY_KEY_PAGE_UP);
        display_press(DISPLAY_KEY_PAGE_UP);
        return true;
    });
    state.script.add([](void*) {
        if (display_find("-- more below --") < 0) return false;
        display_type("hi");
        display_press(DISPLAY_KEY_ACTION);  // not connected: nothing goes out, the view still follows
        return true;
    });
    state.script.add([](void*) {
        if (display_find("-- more below --") >= 0) return false;
        append_ascii(numbered(66, 66));
        return true;
    });
    state.script.add([](void*) { return display_find("line 066") == VIEW_LAST_ROW; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_TRUE(top_read) << "the first row read changed: " << top_text;
    EXPECT_EQ(more_row, VIEW_LAST_ROW);
    EXPECT_EQ(after_end, VIEW_LAST_ROW);
}

// A line with a character the hub's encoding lacks is not sent: a note names
// the character and the line stays; changed, it goes.
TEST_F(MainScreen, LineWithACharacterTheHubCannotTakeStaysWithANote) {
    static std::u16string kept;
    hub_encoding_set(ENCODING_CP1252);
    state.script.add(set_target);
    state.script.add([](void*) {
        display_type("\xC3\xBC" "ber \xD0\x96\xD1\x83\xD0\xBA");  // "über Жук"
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    state.script.add([](void*) {
        if (display_find("cannot send \"\xD0\x96\" in CP1252: change the line") < 0) return false;
        kept = control_text(g_state.main_window, ID_MAIN_INPUT_LINE);
        for (int i = 0; i < 4; i++) display_press(DISPLAY_KEY_BACKSPACE);
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    state.script.add([](void*) { return control_text(g_state.main_window, ID_MAIN_INPUT_LINE).empty(); });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_EQ(kept, u"\u00fcber Жук");
}

// A narrower display wraps the chat into more lines: a view that showed the
// newest line still does, and is not taken for one read back.
TEST_F(MainScreen, ViewAtItsEndStaysThereThroughAResize) {
    state.script.add(set_target);
    state.script.add([](void*) {
        append_ascii(numbered(1, 30) + "<bob> " + std::string(100, 'w') + " LAST\r\n");
        return true;
    });
    state.script.add([](void*) {
        if (display_find("LAST") != VIEW_LAST_ROW) return false;
        display_headless_resize(36, 16);
        return true;
    });
    state.script.add([](void*) { return display_cols() == 36 && display_find("LAST") == 12; });
    state.script.add([](void*) {
        EXPECT_LT(display_find("-- more below --"), 0);
        append_ascii(numbered(31, 31));
        return true;
    });
    state.script.add([](void*) { return display_find("line 031") == 12; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
}

// "line 00001" to "line <to>", one line each, in one append.
std::string numbered5(int from, int to) {
    std::string text;
    for (int i = from; i <= to; i++) {
        char line[24];
        snprintf(line, sizeof line, "line %05d\r\n", i);
        text += line;
    }
    return text;
}

bool row_shows(int row, const char* text) { return grid_row(row).find(text) != std::string::npos; }

// A history far longer than any view: Home reaches its first line, PageUp
// and PageDown move by the view's height less one row (19 of 20), End and
// PageDown at the end return to the newest.
TEST_F(MainScreen, HomePageUpPageDownAndEndWalkSixThousandLines) {
    state.script.add(set_target);
    state.script.add([](void*) {
        append_ascii(numbered5(1, 6000));
        return true;
    });
    state.script.add([](void*) {
        if (display_find("line 06000") != VIEW_LAST_ROW) return false;
        display_press(DISPLAY_KEY_HOME);
        return true;
    });
    state.script.add([](void*) {
        if (!row_shows(1, "line 00001")) return false;
        EXPECT_EQ(display_find("-- more below --"), VIEW_LAST_ROW);
        EXPECT_TRUE(row_shows(VIEW_LAST_ROW - 1, "line 00019"));
        display_press(DISPLAY_KEY_PAGE_DOWN);
        return true;
    });
    state.script.add([](void*) {
        if (!row_shows(1, "line 00020")) return false;
        display_press(DISPLAY_KEY_PAGE_UP);
        display_press(DISPLAY_KEY_PAGE_UP);  // already at the oldest: stays
        return true;
    });
    state.script.add([](void*) {
        if (!row_shows(1, "line 00001") || display_find("line 00020") >= 0) return false;
        display_press(DISPLAY_KEY_END);
        return true;
    });
    state.script.add([](void*) {
        if (display_find("line 06000") != VIEW_LAST_ROW) return false;
        EXPECT_TRUE(row_shows(1, "line 05981"));
        display_press(DISPLAY_KEY_PAGE_UP);
        return true;
    });
    state.script.add([](void*) {
        if (!row_shows(1, "line 05962")) return false;
        EXPECT_EQ(display_find("-- more below --"), VIEW_LAST_ROW);
        display_press(DISPLAY_KEY_PAGE_DOWN);
        return true;
    });
    // Fewer rows than a page were left below: PageDown follows the newest.
    state.script.add([](void*) { return display_find("line 06000") == VIEW_LAST_ROW && display_find("-- more below --") < 0; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
}

// At 200x60 every row of the view shows chat, the newest on its last row.
TEST_F(MainScreen, ViewFillsA200x60Display) {
    display_start_headless(200, 60);
    static int shown;
    state.script.add(set_target);
    state.script.add([](void*) {
        std::string text;
        for (int i = 1; i <= 6000; i++) text += "<bob> " + std::to_string(i) + " " + std::string(70, 'w') + "\r\n";
        append_ascii(text);
        return true;
    });
    state.script.add([](void*) {
        ViewScroll v;
        if (!control_view_scroll(g_state.main_window, ID_MAIN_CHAT_VIEW, &v)) return false;
        shown = v.shown;
        return row_shows(shown, "<bob> 6000 ");
    });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_GE(shown, 50);
    for (int r = 1; r <= shown; r++) EXPECT_NE(grid_row(r).find("<bob> "), std::string::npos) << r;
    EXPECT_NE(grid_row(1).find("<bob> " + std::to_string(6001 - shown) + " "), std::string::npos) << grid_row(1);
}

// While one reads back, lines coming in push the oldest out of the history:
// the lines being read stay where they are as long as they are kept; once
// they are gone, the view shows the oldest kept line.
TEST_F(MainScreen, ReadingBackStaysPutWhileTheOldestLinesAreEvicted) {
    static std::string top_text;
    static uint64_t appended_ms;
    state.script.add(set_target);
    state.script.add([](void*) {
        append_ascii(numbered5(1, CHATLOG_LINES));
        return true;
    });
    state.script.add([](void*) {
        if (display_find("line 08192") != VIEW_LAST_ROW) return false;
        display_press(DISPLAY_KEY_PAGE_UP);
        return true;
    });
    state.script.add([](void*) {
        if (display_find("-- more below --") < 0) return false;
        top_text = grid_row(1);
        append_ascii(numbered5(CHATLOG_LINES + 1, CHATLOG_LINES + 100));  // lines 1 to 100 go
        appended_ms = monotonic_ms();
        return true;
    });
    state.script.add([](void*) {
        // Nothing on the grid changes: wait well past the paint's throttle.
        if (monotonic_ms() - appended_ms < 300) return false;
        EXPECT_EQ(grid_row(1), top_text);
        EXPECT_EQ(display_find("-- more below --"), VIEW_LAST_ROW);
        display_press(DISPLAY_KEY_HOME);
        return true;
    });
    state.script.add([](void*) {
        if (!row_shows(1, "line 00101")) return false;
        append_ascii(numbered5(CHATLOG_LINES + 101, CHATLOG_LINES + 150));  // 101 to 150 go too
        return true;
    });
    state.script.add([](void*) { return row_shows(1, "line 00151") && display_find("-- more below --") == VIEW_LAST_ROW; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_NE(top_text.find("line 08154"), std::string::npos) << top_text;
}

// Each line shows after the local time it came at; the setting, read at each
// paint, leaves the time out.
TEST_F(MainScreen, TimestampsShowAndTheSettingSwitchesThemOff) {
    static std::string stamped;
    state.script.add(set_target);
    state.script.add([](void*) {
        append_ascii("<bob> hi\r\n");
        char16_t text[16];
        int minute = 0;
        chatlog_line(0, text, 16, &minute);
        char stamp[32];
        snprintf(stamp, sizeof stamp, "[%02d:%02d] ", minute / 60, minute % 60);
        stamped = std::string(stamp) + "<bob> hi";
        return true;
    });
    state.script.add([](void*) {
        if (display_find(stamped.c_str()) != 1) return false;
        g_state.settings.chat_timestamps = 0;
        repaint_request(g_state.main_window);
        return true;
    });
    state.script.add([](void*) { return grid_row(1).find("<bob> hi") == 1 && display_find("] <bob>") < 0; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
}

// The title and the session notes through a whole session, as the person
// sees them: "not connected" before and while connecting, the address and
// then the hub's name with the user count as users come and go, and "not
// connected" again after Disconnect, with the Users screen empty; a Connect
// nobody answers leaves its own note and the title as it was.
TEST_F(MainScreen, TitleAndNotesFollowTheSessionThroughConnectUsersAndDisconnect) {
    static TestHub* hub_ptr;
    TestHub hub;
    hub_ptr = &hub;
    hub.send(HUB_TEST_LOCK).expect(HUB_TEST_BLOCK_END).pause(300).send("$Hello [i]mpx200|");
    hub_test_state(hub.port_text());
    g_state.module_instance = KIVO_INSTANCE;
    chatlog_set(u"banner without a line break");
    state.script.add(set_target);
    state.script.add([](void*) {
        if (grid_row(0).find("not connected") == std::string::npos) return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("2");  // Menu > Connect
        return true;
    });
    state.script.add([](void*) {
        // The login waits on the hub's pause: still "not connected".
        if (display_find(("connecting to " + hub_address_text() + "...").c_str()) < 0) return false;
        EXPECT_EQ(g_state.hub_phase, HUB_CONNECTING);
        EXPECT_NE(grid_row(0).find("not connected"), std::string::npos) << grid_row(0);
        return true;
    });
    state.script.add([](void*) {
        std::string title = hub_address_text() + " (0 users)";
        return grid_row(0).find(title) != std::string::npos;
    });
    state.script.add([](void*) {
        hub_ptr->send_now(0, "$HubName Test &#36;Hub|$MyINFO $ALL bob d$ $Modem $$1$|"
                             "$MyINFO $ALL ann d$ $Modem $$2$|$MyINFO $ALL [i]mpx200 d$ $Modem $$3$|");
        return true;
    });
    state.script.add([](void*) { return grid_row(0).find("Test $Hub (3 users)") != std::string::npos; });
    state.script.add([](void*) {
        hub_ptr->send_now(0, "$Quit bob|");
        return true;
    });
    state.script.add([](void*) { return grid_row(0).find("Test $Hub (2 users)") != std::string::npos; });
    state.script.add([](void*) {
        hub_ptr->send_now(0, "$HubName Test Hub - topic of the day|");
        return true;
    });
    state.script.add([](void*) {
        if (grid_row(0).find("Test Hub - topic of the day (2 users)") == std::string::npos) return false;
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("3");  // Menu > Disconnect
        return true;
    });
    state.script.add([](void*) {
        if (grid_row(0).find("not connected") == std::string::npos) return false;
        EXPECT_EQ(g_state.user_count, 0);
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("8");  // Menu > Users
        return true;
    });
    state.script.add([](void*) {
        if (display_find("EXIT") < 0) return false;  // the Users screen's soft key
        EXPECT_LT(display_find("ann"), 0) << grid_text();
        display_press(DISPLAY_KEY_BACK);
        return true;
    });
    state.script.add([](void*) {
        if (display_find("EXIT") >= 0) return false;
        // A Connect to a port where nothing listens: its own note, title unchanged.
        text_copy(g_state.settings.hub_port, HUB_PORT_BYTES, std::to_string(unused_port()).c_str());
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("2");
        return true;
    });
    state.script.add([](void*) {
        if (display_find("connection refused") < 0) return false;
        EXPECT_NE(grid_row(0).find("not connected"), std::string::npos);
        run->grid = chat_log_text();
        return true;
    });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    hub_test_end();
    const std::string first = "127.0.0.1:" + hub.port_text();
    const std::string refused = hub_address_text();
    EXPECT_EQ(state.grid, "banner without a line break\r\nconnecting to " + first + "...\r\nconnected to " + first +
                              "\r\ndisconnected from " + first + "\r\nconnecting to " + refused +
                              "...\r\ncannot connect to " + refused + ": connection refused\r\n");
}

TEST(MainScreenCommands, UnknownCommandsAreNotHandled) {
    // The settings screen's "OK", and the disabled "send" button.
    EXPECT_EQ(main_screen_proc(0, WM_COMMAND, CMD_SETTINGS_OK, 0), FALSE);
    EXPECT_EQ(main_screen_proc(0, WM_COMMAND, ID_MAIN_SEND, 0), FALSE);
    EXPECT_EQ(main_screen_proc(0, WM_PAINT + 0x1000, 0, 0), FALSE);
}

}  // namespace
