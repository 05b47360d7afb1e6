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

#include "hub/private_chats.h"
#include "hub/users.h"
#include "platform/screen_fixture.h"
#include "resources/ids.h"
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

TEST_F(UserListLine, ListLineShowsShareInBytesAfterThreeBlanksAndZeroWhenEmpty) {
    put_user(0, "bob", "1073741824");
    put_user(1, "ann", "");
    EXPECT_EQ(line_of(g_state.users[0]), "bob   1073741824 b");
    EXPECT_EQ(line_of(g_state.users[1]), "ann   0 b");
}

TEST_F(UserListLine, ListLineShowsSharesOf2To31AndAboveWhole) {
    put_user(0, "a", "2147483648");
    put_user(1, "b", "5368709120");
    put_user(2, "c", "18446744073709551615");
    EXPECT_EQ(line_of(g_state.users[0]), "a   2147483648 b");
    EXPECT_EQ(line_of(g_state.users[1]), "b   5368709120 b");
    EXPECT_EQ(line_of(g_state.users[2]), "c   18446744073709551615 b");
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
            EXPECT_EQ(row_of_list_entry(0).substr(0, 14), "| Alice   5 b ");
            EXPECT_EQ(row_of_list_entry(1).substr(0, 14), "| alice   0 b ");
            EXPECT_EQ(row_of_list_entry(2).substr(0, 21), "|>bob   1073741824 b ");
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
            if (g_state.private_chat_window != 0 || display_find("bob   1 b") < 0) return false;
            display_press(DISPLAY_KEY_SOFT_RIGHT);  // "EXIT"
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_users_result, 0);
    EXPECT_EQ(g_input_at_close, u"draft");
}

TEST_F(UsersScreen, ActionKeyAddressesTheSelectedUserPrivately) {
    put_user(0, "ann", "1");
    put_user(1, "bob", "1");
    Script script;
    script.steps = {
        [] {
            display_press(DISPLAY_KEY_DOWN);  // from ann to bob
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_state.user_selection, 1);
    EXPECT_EQ(g_input_at_close, u">bob ");
}

TEST_F(UsersScreen, ToChatLeavesNameAndColonInPlaceOfTheDraft) {
    put_user(0, "\xC1\xEE\xE1", "1");  // Cyrillic "Боб"
    Script script;
    script.steps = {
        [] {
            press_users_menu("1");  // "ToChat"
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u"\u0411\u043E\u0431:");
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
            EXPECT_EQ(row_of_list_entry(1).substr(0, 11), "|>zed   1 b");
            display_press(DISPLAY_KEY_ACTION);  // addresses privately in the input line
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
            EXPECT_EQ(row_of_list_entry(0).substr(0, 11), "| bob   1 b");
            EXPECT_EQ(row_of_list_entry(1).substr(0, 12), "|>carl   1 b");
            press_users_menu("1");
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u"carl:");
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
            EXPECT_EQ(row_of_list_entry(2).substr(0, 13), "| aaron   1 b");
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
            EXPECT_EQ(row_of_list_entry(2).substr(0, 12), "|>carl   1 b");
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
            EXPECT_GE(display_find(">u2999   1 b"), 1);
            display_press(DISPLAY_KEY_ACTION);
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_input_at_close, u">u2999 ");
}

TEST(UsersScreenProc, InfoUnknownCommandsAndPaintAreLeftToThePlatform) {
    EXPECT_EQ(users_screen_proc(0, WM_COMMAND, CMD_USERS_INFO, 0), FALSE);
    EXPECT_EQ(users_screen_proc(0, WM_COMMAND, CMD_SETTINGS_OK, 0), FALSE);
    EXPECT_EQ(users_screen_proc(0, WM_PAINT, 0, 0), FALSE);
    EXPECT_EQ(users_screen_proc(0, WM_HOTKEY, 0, (LPARAM)make_long(0, 0x20)), FALSE);
}
