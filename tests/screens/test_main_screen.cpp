// The main screen run from its real template through the headless display:
// the paint rule, the command table, Traffic, About, Clear Chat and Back (a
// login still running is given up by it), and reading back in the chat view.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

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
        download_set_phase(DOWNLOAD_IDLE);
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

std::u16string units(int n, char16_t c) { return std::u16string((size_t)n, c); }

bool set_target(void*) {
    run->script.close_target = g_state.main_window;
    return true;
}

TEST_F(MainScreen, PaintShowsAThousandUnitsWholeAndTheEndOfALongerLog) {
    static std::u16string log;
    state.script.add(set_target);
    state.script.add([](void*) {
        log = units(1000, u'a');
        chatlog_set(log.c_str());
        repaint_request(g_state.main_window);
        return true;
    });
    state.script.add([](void*) {
        // Paints are throttled: wait for the one that shows the log.
        run->chat_view = control_text(g_state.main_window, ID_MAIN_CHAT_VIEW);
        if (run->chat_view != log) return false;
        log = units(1001, u'b');
        chatlog_set(log.c_str());
        repaint_request(g_state.main_window);
        return true;
    });
    state.script.add([](void*) {
        // One line longer than the view's bound: its last 1000 units stay.
        run->input = control_text(g_state.main_window, ID_MAIN_CHAT_VIEW);
        return run->input == units(1000, u'b');
    });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_EQ(state.chat_view, units(1000, u'a'));
    EXPECT_EQ(state.input, units(1000, u'b'));
    EXPECT_EQ(chatlog_length(), 1000) << "the paint drops the oldest units of the log itself";
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

bool view_has(const char16_t* text) {
    return control_text(g_state.main_window, ID_MAIN_CHAT_VIEW).find(text) != std::u16string::npos;
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
    // Cut to its last CHATLOG_SHOW_UNITS units, the long line ends on the view's last row.
    state.script.add([](void*) { return display_find("xxEND") == 12; });
    state.script.add([](void*) {
        append_ascii("<ann> newest\r\n");
        return true;
    });
    // The long line leaves the log whole to make room: the newest is shown.
    state.script.add([](void*) { return display_find("<ann> newest") >= 1; });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
}

// PageUp reads back; chat that comes in then neither moves the lines being
// read nor hides that it came; End, and later sending a line, go back to the
// newest line.
TEST_F(MainScreen, ScrollBackSurvivesIncomingChatUntilEndOrSending) {
    static int top_read, more_row, after_end;
    static std::string top_text;
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
        top_text = grid_row(1);
        append_ascii(numbered(61, 65));
        return true;
    });
    state.script.add([](void*) {
        if (!view_has(u"line 065")) return false;  // painted since the lines came
        top_read = grid_row(1) == top_text;
        more_row = display_find("-- more below --");
        EXPECT_LT(display_find("line 065"), 0);
        display_press(DISPLAY_KEY_END);
        return true;
    });
    state.script.add([](void*) {
        after_end = display_find("line 065");
        EXPECT_LT(display_find("-- more below --"), 0);
        display_press(DISPLAY_KEY_PAGE_UP);
        display_press(DISPLAY_KEY_PAGE_UP);
        return true;
    });
    state.script.add([](void*) {
        EXPECT_GE(display_find("-- more below --"), 0);
        display_type("hi");
        display_press(DISPLAY_KEY_ACTION);  // not connected: nothing goes out, the view still follows
        return true;
    });
    state.script.add([](void*) {
        EXPECT_LT(display_find("-- more below --"), 0);
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

// The view holds CHATLOG_SHOW_UNITS: lines that arrive while one reads back
// push the oldest out, and the lines being read stay where they are.
TEST_F(MainScreen, LinesBeingReadStayPutWhenTheOldestAreDropped) {
    static std::string top_text, top_after;
    state.script.add(set_target);
    state.script.add([](void*) {
        append_ascii(numbered(1, 120));  // 1200 units: the paint keeps lines 21 to 120
        return true;
    });
    state.script.add([](void*) {
        if (display_find("line 120") != VIEW_LAST_ROW) return false;
        display_press(DISPLAY_KEY_PAGE_UP);
        return true;
    });
    state.script.add([](void*) {
        top_text = grid_row(1);
        append_ascii(numbered(121, 130));  // ten more: lines 21 to 30 go
        return true;
    });
    state.script.add([](void*) {
        if (!view_has(u"line 130")) return false;  // painted since the lines came
        EXPECT_FALSE(view_has(u"line 030"));
        EXPECT_TRUE(view_has(u"line 031"));
        EXPECT_GE(display_find("-- more below --"), 0);
        top_after = grid_row(1);
        return true;
    });
    state.script.add(close_main);
    EXPECT_EQ(run_main(), 0);
    EXPECT_NE(top_text.find("line 082"), std::string::npos) << top_text;
    EXPECT_EQ(top_after, top_text);
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
