// The Users screen, opened from a stand-in main screen through the headless
// display: the list it fills from the UserTable, the selection, and the
// commands that address the user shown in the main screen's input line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hub/file_lists.h"
#include "hub/private_chats.h"
#include "hub/users.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
#include "screens/browse_test_lists.h"
#include "screens/users_screen.h"
#include "state/client_state.h"
#include "hub/user_messages.h"

namespace {


int slot_of(const char* name) {
    for (int s = 0; s < USER_SLOTS; s++) {
        if (g_state.users[s].present && strcmp(g_state.users[s].name, name) == 0) return s;
    }
    return -1;
}

// --- List line -----------------------------------------------------------------

class UserListLine : public ::testing::Test {
protected:
    void SetUp() override { client_state_reset(); }
};

std::string line_of(const UserEntry& user) {
    char16_t line[USER_LINE_UNITS];
    int n = format_user_line(&user, line, USER_LINE_UNITS);
    std::string out;
    for (int i = 0; i < n; i++) out += line[i] < 0x80 ? (char)line[i] : '?';
    return out;
}

}  // namespace

TEST_F(UserListLine, ListLineShowsShareInUnitsAfterThreeBlanksAndZeroWhenEmpty) {
    put_user(0, "bob", "1073741824");
    put_user(1, "ann", "");
    EXPECT_EQ(line_of(g_state.users[0]), "bob   1.0 GiB");
    EXPECT_EQ(line_of(g_state.users[1]), "ann   0 B");
}

TEST_F(UserListLine, ListLineShowsSharesOf2To31AndAboveInTheirUnit) {
    put_user(0, "a", "2147483648");
    put_user(1, "b", "5368709120");
    put_user(2, "c", "18446744073709551615");
    EXPECT_EQ(line_of(g_state.users[0]), "a   2.0 GiB");
    EXPECT_EQ(line_of(g_state.users[1]), "b   5.0 GiB");
    EXPECT_EQ(line_of(g_state.users[2]), "c   16.0 EiB");
}

// --- The Users screen ------------------------------------------------------------

namespace {

Window g_main;
Window g_users;
bool g_users_open;
int g_users_runs;
intptr_t g_users_result;
std::u16string g_input_at_close;  // the main screen's input line as it closed

intptr_t users_spy(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        g_users = screen;
        g_users_open = true;
    }
    return users_screen_proc(screen, message, wparam, lparam);
}

// The main screen as far as the Users screen needs it: the window in the
// ClientState, the input line, and "Users" (CMD_USERS) in its menu.
intptr_t main_stand_in(Window screen, uint32_t message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        g_main = screen;
        g_state.main_window = screen;
        Window bar = 0;
        fullscreen_init(screen, SHIDIM_FLAGS, SHIDIF_FULLSCREEN);
        softkey_bar_create(screen, MENUBAR_MAIN, g_state.module_instance, &bar);
        control_set_text(screen, ID_MAIN_INPUT_LINE, u"draft");
        return TRUE;
    }
    case WM_COMMAND:
        if (low_word(wparam) != CMD_USERS) return FALSE;
        g_users_result = dialog_run(g_state.module_instance, DIALOG_USERS, 0, users_spy, 0);
        g_users_open = false;
        g_users_runs++;
        return TRUE;
    case WM_CLOSE:
        g_input_at_close = control_text(screen, ID_MAIN_INPUT_LINE);
        dialog_end(screen, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

// Steps run from the idle hook, one per idle turn; a step returns false to be
// tried again. Out of steps, or stuck, the hook closes the innermost screen.
struct Script {
    std::vector<std::function<bool()>> steps;
    size_t next = 0;
    int turns = 0;
};

void script_hook(void* context) {
    Script* s = (Script*)context;
    if (++s->turns > 500 || s->next >= s->steps.size()) {
        post_message(g_users_open ? g_users : g_main, WM_CLOSE, 0, 0);
        return;
    }
    if (s->steps[s->next]()) s->next++;
}

std::string row_of_list_entry(int position) {
    // The list starts below the frame's top row.
    return grid_row(1 + position);
}

void press_users_menu_main_users() {
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type("8");
}

void press_users_menu(const char* digit) {
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type(digit);
}

std::u16string input_line() { return control_text(g_main, ID_MAIN_INPUT_LINE); }

class UsersScreen : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        client_state_reset();
        g_state.module_instance = KIVO_INSTANCE;
        g_main = g_users = 0;
        g_users_open = false;
        g_users_runs = 0;
        g_users_result = -1;
        g_input_at_close = u"(not closed)";
    }

    // Runs the stand-in main screen, opens the Users screen from its menu and
    // plays the steps; fails the test when a step never completed.
    void run(Script& script) {
        display_press(DISPLAY_KEY_SOFT_LEFT);
        display_type("8");  // "Users"
        script.steps.insert(script.steps.begin(), [] { return g_users_open; });
        display_set_idle_hook(script_hook, &script);
        dialog_run(g_state.module_instance, DIALOG_MAIN, 0, main_stand_in, 0);
        display_set_idle_hook(nullptr, nullptr);
        EXPECT_EQ(script.next, script.steps.size()) << "stuck at step " << script.next << "\n" << grid_text();
    }

    // Steps: wait for the Users screen to close, then close the main screen.
    static bool users_closed() { return !g_users_open; }
    static bool close_main() {
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    }
};

}  // namespace

TEST_F(UsersScreen, OpeningSortsListsSharesAndRestoresSelectionByPosition) {
    put_user(0, "bob", "1073741824");
    put_user(2, "alice", "");
    put_user(3, "Alice", "5");
    g_state.user_selection = 2;
    Script script;
    script.steps = {
        [] {
            EXPECT_EQ(row_of_list_entry(0).substr(0, 14), "| Alice   5 B ");
            EXPECT_EQ(row_of_list_entry(1).substr(0, 14), "| alice   0 B ");
            EXPECT_EQ(row_of_list_entry(2).substr(0, 16), "|>bob   1.0 GiB ");
            EXPECT_EQ(control_send(g_users, ID_USERS_LIST, LB_GETCOUNT, 0, 0), 3);
            EXPECT_EQ(control_send(g_users, ID_USERS_LIST, LB_GETCURSEL, 0, 0), 2);
            display_press(DISPLAY_KEY_SOFT_RIGHT);  // "EXIT"
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_users_result, 0);
    EXPECT_EQ(g_input_at_close, u"draft");
}

// PRIVAT opens the selected user's conversation over the list; Back returns
// to the list, and the main screen's draft is left alone.
TEST_F(UsersScreen, PrivatOpensTheConversationOverTheList) {
    put_user(0, "bob", "1");
    Script script;
    script.steps = {
        [] {
            press_users_menu("3");  // "PRIVAT"
            return true;
        },
        [] {
            if (grid_row(0).find("Private: bob") == std::string::npos) return false;
            EXPECT_GE(private_chat_find("bob"), 0);
            display_press(DISPLAY_KEY_BACK);
            return true;
        },
        [] {
            if (g_state.private_chat_window != 0 || display_find("bob   1 B") < 0) return false;
            display_press(DISPLAY_KEY_SOFT_RIGHT);  // "EXIT"
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_users_result, 0);
    EXPECT_EQ(g_input_at_close, u"draft");
}

TEST_F(UsersScreen, PrivateLineAddressesTheSelectedUserPrivately) {
    put_user(0, "ann", "1");
    put_user(1, "bob", "1");
    Script script;
    script.steps = {
        [] {
            display_press(DISPLAY_KEY_DOWN);  // from ann to bob
            press_users_menu("6");  // ">nick"
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_state.user_selection, 1);
    EXPECT_EQ(g_input_at_close, u">bob ");
}

// The Action key and "Browse" ask for the selected user's whole list and
// close the screen (the main screen opens the list); the input line stays.
TEST_F(UsersScreen, ActionKeyAndBrowseAskForTheSelectedUsersFileList) {
    test_lists_folder_make();
    test_list_write("bob", "<FileListing Version=\"1\" Base=\"/\"></FileListing>");
    test_list_write("ann", "<FileListing Version=\"1\" Base=\"/\"></FileListing>");
    put_user(0, "ann", "1");
    put_user(1, "bob", "1");
    char nick[RESULT_NICK_BYTES];
    char folder[64];
    for (const char* way : {"action", "5"}) {
        Script script;
        script.steps = {
            [way] {
                display_press(DISPLAY_KEY_DOWN);  // from ann to bob
                if (way[0] == 'a') display_press(DISPLAY_KEY_ACTION);
                else press_users_menu(way);
                return true;
            },
            users_closed, close_main};
        run(script);
        ASSERT_EQ(file_list_browse_take(nick, RESULT_NICK_BYTES, folder, 64), 1) << way;
        EXPECT_STREQ(nick, "bob");
        EXPECT_STREQ(folder, "");
        EXPECT_EQ(g_input_at_close, u"draft");
    }
    test_lists_folder_remove();
}

TEST_F(UsersScreen, ToChatLeavesNameColonAndBlankWithCaretAfterThem) {
    put_user(0, "\xC1\xEE\xE1", "1");  // Cyrillic "Боб"
    Script script;
    script.steps = {
        [] {
            press_users_menu("1");  // "ToChat"
            return true;
        },
        users_closed,
        [] {
            display_type("hi");  // typed where the caret was left: after the blank
            return true;
        },
        close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u"\u0411\u043E\u0431: hi");
}

TEST_F(UsersScreen, ToChatAndPrivatWithoutSelectionDoNothing) {
    put_user(0, "bob", "1");
    put_user(1, "carl", "1");
    g_state.user_selection = -1;
    Script script;
    script.steps = {
        [] {
            // The list took the focus with entries and selected its first;
            // a Refresh with no selection remembered selects none.
            EXPECT_EQ(control_send(g_users, ID_USERS_LIST, LB_GETCURSEL, 0, 0), 0);
            g_state.user_selection = -1;
            press_users_menu("2");
            return true;
        },
        [] {
            EXPECT_EQ(control_send(g_users, ID_USERS_LIST, LB_GETCURSEL, 0, 0), LB_ERR);
            press_users_menu("1");
            press_users_menu("3");
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        [] {
            EXPECT_TRUE(g_users_open) << "a command without a user closed the screen";
            EXPECT_EQ(input_line(), u"draft");
            g_state.user_selection = 7;  // a position the list does not have
            press_users_menu("3");
            return true;
        },
        [] {
            EXPECT_TRUE(g_users_open);
            g_state.user_selection = 100000;  // nor any list could have
            press_users_menu("1");
            return true;
        },
        [] {
            EXPECT_TRUE(g_users_open);
            display_press(DISPLAY_KEY_SOFT_RIGHT);
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u"draft");
}

TEST_F(UsersScreen, CommandsNeverAddressWhoeverTookTheShownUsersSlot) {
    put_user(0, "ann", "1");
    put_user(1, "bob", "1");
    put_user(2, "carl", "1");
    g_state.user_selection = 1;  // bob
    Script script;
    script.steps = {
        [] {
            feed("$Quit bob");
            press_users_menu("3");  // bob has left: nothing
            return true;
        },
        [] {
            EXPECT_TRUE(g_users_open);
            feed(info("zed", "1"));  // takes bob's slot 1; the list still shows bob
            press_users_menu("3");
            return true;
        },
        [] {
            EXPECT_TRUE(g_users_open);
            EXPECT_EQ(input_line(), u"draft");
            EXPECT_EQ(slot_of("zed"), 1);
            press_users_menu("2");  // "Refresh": zed is now shown at position 1
            return true;
        },
        [] {
            EXPECT_EQ(row_of_list_entry(1).substr(0, 11), "|>zed   1 B");
            press_users_menu("6");  // addresses privately in the input line
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u">zed ");
}

TEST_F(UsersScreen, AfterDepartureAndRefreshTheUserShownAtThePositionIsAddressed) {
    put_user(0, "ann", "1");
    put_user(1, "bob", "1");
    put_user(2, "carl", "1");
    g_state.user_selection = 1;
    Script script;
    script.steps = {
        [] {
            feed("$Quit ann");
            press_users_menu("2");  // list: bob, carl; position 1 is carl
            return true;
        },
        [] {
            EXPECT_EQ(row_of_list_entry(0).substr(0, 11), "| bob   1 B");
            EXPECT_EQ(row_of_list_entry(1).substr(0, 12), "|>carl   1 B");
            press_users_menu("1");
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u"carl: ");
}

TEST_F(UsersScreen, RefreshListsANewcomerInSlotOrderWithoutSorting) {
    put_user(0, "bob", "1");
    put_user(1, "carl", "1");
    Script script;
    script.steps = {
        [] {
            feed(info("aaron", "1"));
            press_users_menu("2");
            return true;
        },
        [] {
            EXPECT_EQ(row_of_list_entry(2).substr(0, 13), "| aaron   1 B");
            EXPECT_EQ(slot_of("aaron"), 2);
            display_press(DISPLAY_KEY_SOFT_RIGHT);
            return true;
        },
        users_closed, close_main};
    run(script);
}

TEST_F(UsersScreen, SelectionFollowsTheListAndSurvivesReopening) {
    put_user(0, "ann", "1");
    put_user(1, "bob", "1");
    put_user(2, "carl", "1");
    Script script;
    script.steps = {
        [] {
            display_press(DISPLAY_KEY_DOWN);
            display_press(DISPLAY_KEY_DOWN);
            display_press(DISPLAY_KEY_SOFT_RIGHT);
            return true;
        },
        [] {
            if (g_users_open) return false;
            EXPECT_EQ(g_state.user_selection, 2);
            press_users_menu_main_users();
            return true;
        },
        [] { return g_users_open; },
        [] {
            EXPECT_EQ(control_send(g_users, ID_USERS_LIST, LB_GETCURSEL, 0, 0), 2);
            EXPECT_EQ(row_of_list_entry(2).substr(0, 12), "|>carl   1 B");
            display_press(DISPLAY_KEY_SOFT_RIGHT);
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_users_runs, 2);
}

TEST_F(UsersScreen, FullTableOpensWithEveryUserListedInOrder) {
    char name[16];
    for (int s = 0; s < USER_SLOTS; s++) {
        snprintf(name, sizeof name, "u%04d", USER_SLOTS - 1 - s);
        put_user(s, name, "1");
    }
    g_state.user_selection = USER_SLOTS - 1;
    Script script;
    script.steps = {
        [] {
            EXPECT_EQ(control_send(g_users, ID_USERS_LIST, LB_GETCOUNT, 0, 0), USER_SLOTS);
            EXPECT_GE(display_find(">u2999   1 B"), 1);
            press_users_menu("6");
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u">u2999 ");
}

TEST(UsersScreenProc, UnknownCommandsAndPaintAreLeftToThePlatform) {
    EXPECT_EQ(users_screen_proc(0, WM_COMMAND, CMD_SETTINGS_OK, 0), FALSE);
    EXPECT_EQ(users_screen_proc(0, WM_PAINT, 0, 0), FALSE);
    EXPECT_EQ(users_screen_proc(0, WM_HOTKEY, 0, (LPARAM)make_long(0, 0x20)), FALSE);
}

namespace {

int users_selection() { return (int)control_send(g_users, ID_USERS_LIST, LB_GETCURSEL, 0, 0); }

}  // namespace

// INFO shows what the hub's $MyINFO said of the selected user, one line a
// field, and the screen stays open under the box.
TEST_F(UsersScreen, InfoShowsDescriptionTagConnectionEmailShareModeAndTls) {
    feed("$MyINFO $ALL bob Hello there <++ V:0.868,M:A,H:1/0/0,S:3>$ $LAN(T1)\x11$bob@mail$3298534895673$");
    Script script;
    script.steps = {
        [] {
            press_users_menu("4");  // "INFO"
            return true;
        },
        [] {
            int top = display_find("description: Hello there");
            if (top < 0) return false;
            const char* below[] = {"tag: <++ V:0.868,M:A,H:1/0/0,S:3>", "connection: LAN(T1)", "e-mail: bob@mail",
                                   "share: 3298534895673 bytes (3.0 TiB)", "mode: active", "TLS: yes"};
            for (int i = 0; i < 6; i++) EXPECT_EQ(display_find(below[i]), top + 1 + i) << grid_text();
            display_press(DISPLAY_KEY_ACTION);  // closes the box
            return true;
        },
        [] {
            if (display_find("TLS:") >= 0) return false;
            EXPECT_TRUE(g_users_open);
            display_press(DISPLAY_KEY_SOFT_RIGHT);  // "EXIT"
            return true;
        },
        users_closed, close_main};
    run(script);
}

// Typed letters select the first nick that begins with them, in either
// case; letters typed in a row extend the prefix, another key or a pause
// starts a new one. PageDown/PageUp move by the list's height less one line,
// Home and End to the ends; ToChat addresses whom the keys selected. Keys
// are handled after the step that pressed them: each step checks the last.
TEST_F(UsersScreen, TypedLettersFindANickAndPageKeysMoveByPages) {
    char name[8];
    for (int i = 0; i < 60; i++) {
        snprintf(name, sizeof name, "u%02d", i);
        put_user(i, name, "1");
    }
    put_user(60, "mike", "1");
    put_user(61, "Mira", "1");
    put_user(62, "Zed", "1");  // listed: Mira, Zed, mike, u00 .. u59
    static int page;
    auto after = [](int expected, std::function<void()> next) {
        return std::function<bool()>([expected, next] {
            EXPECT_EQ(users_selection(), expected);
            next();
            return true;
        });
    };
    Script script;
    script.steps = {
        [] { display_type("m"); return true; },
        after(0, [] { display_type("IK"); }),               // Mira; then "mik"
        after(2, [] { display_type("q"); }),                // mike; "mikq" is nobody
        after(2, [] { display_press(DISPLAY_KEY_DOWN); }),  // the selection stayed
        after(3, [] { display_type("u1"); }),               // another key: a new prefix
        after(13, [] { sleep_ms(1100); display_type("z"); }),  // a pause: a new prefix
        after(1, [] { display_press(DISPLAY_KEY_END); }),
        after(62, [] { display_press(DISPLAY_KEY_HOME); }),
        after(0, [] { display_press(DISPLAY_KEY_PAGE_DOWN); }),
        [] {
            page = users_selection();
            EXPECT_GE(page, 10) << "the list shows about twenty rows at 80x24";
            display_press(DISPLAY_KEY_PAGE_DOWN);
            display_press(DISPLAY_KEY_PAGE_UP);
            display_press(DISPLAY_KEY_PAGE_UP);
            display_press(DISPLAY_KEY_PAGE_DOWN);
            return true;
        },
        [] { return users_selection() == page; },  // 2 pages, 1, 0, 1
        [] { display_type("mik"); return true; },
        after(2, [] { press_users_menu("1"); }),  // "ToChat"
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u"mike: ");
    EXPECT_EQ(g_state.user_selection, 2);
}
