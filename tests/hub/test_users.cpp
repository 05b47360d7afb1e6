// The UserTable: $MyINFO and $Quit parsing, exact-name lookup, slot reuse,
// the sort order and the list line; the Users screen, opened from a stand-in
// main screen through the headless display.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hub/users.h"
#include "platform/screen_fixture.h"
#include "state/client_state.h"

namespace {

class UserTable : public ::testing::Test {
protected:
    void SetUp() override { client_state_reset(); }
};

// Feeds one message, held in a heap block of exactly its size plus the NUL,
// so a sanitizer build catches any read or write past the message.
void feed(const std::string& message) {
    std::unique_ptr<char[]> data(new char[message.size() + 1]);
    memcpy(data.get(), message.c_str(), message.size() + 1);
    handle_user_message(data.get());
}

std::string info(const std::string& nick, const std::string& share) {
    return "$MyINFO $ALL " + nick + " desc$ $DSL\x01$$" + share + "$";
}

void put_user(int slot, const char* name, const char* share) {
    UserEntry& user = g_state.users[slot];
    snprintf(user.name, sizeof user.name, "%s", name);
    snprintf(user.share, sizeof user.share, "%s", share);
    user.present = 1;
}

int present_count() {
    int n = 0;
    for (const UserEntry& user : g_state.users) n += user.present ? 1 : 0;
    return n;
}

int slot_of(const char* name) {
    for (int s = 0; s < USER_SLOTS; s++) {
        if (g_state.users[s].present && strcmp(g_state.users[s].name, name) == 0) return s;
    }
    return -1;
}

std::string line_of(const UserEntry& user) {
    char16_t line[USER_LINE_UNITS];
    int n = format_user_line(&user, line, USER_LINE_UNITS);
    std::string out;
    for (int i = 0; i < n; i++) out += line[i] < 0x80 ? (char)line[i] : '?';
    return out;
}

}  // namespace

// --- Parsing of user information ---------------------------------------------

TEST_F(UserTable, InfoExampleFillsSlotZeroWithNickAndShare) {
    feed(std::string("$MyINFO $ALL bob desc$ $DSL") + '\x01' + "$$1000$");
    EXPECT_EQ(g_state.users[0].present, 1);
    EXPECT_STREQ(g_state.users[0].name, "bob");
    EXPECT_STREQ(g_state.users[0].share, "1000");
    EXPECT_EQ(present_count(), 1);
}

TEST_F(UserTable, ShareIsTakenBetweenFourthAndFifthDollarEvenWithEmail) {
    feed("$MyINFO $ALL ann <++ V:0.7>$ $LAN(T3)\x01$ann@example.org$5368709120$");
    EXPECT_STREQ(g_state.users[0].name, "ann");
    EXPECT_STREQ(g_state.users[0].share, "5368709120");
}

TEST_F(UserTable, SecondInfoForSameUserKeepsFirstShareAndAddsNoSlot) {
    feed(info("bob", "1000"));
    feed(info("bob", "2000"));
    EXPECT_STREQ(g_state.users[0].share, "1000");
    EXPECT_EQ(present_count(), 1);
}

// --- Exact names ---------------------------------------------------------------

TEST_F(UserTable, ShorterNickIsAddedThoughALongerNameBeginsWithIt) {
    feed(info("bobby", "1"));
    feed(info("bob", "2"));
    EXPECT_EQ(present_count(), 2);
    EXPECT_EQ(slot_of("bob"), 1);
}

TEST_F(UserTable, LongerNickIsAddedBesideItsPrefix) {
    feed(info("bob", "1"));
    feed(info("bobby", "2"));
    EXPECT_EQ(present_count(), 2);
    EXPECT_EQ(slot_of("bobby"), 1);
}

TEST_F(UserTable, QuitFreesTheExactNameNeverALongerOne) {
    put_user(4, "bob", "1");
    put_user(9, "bobby", "2");
    feed("$Quit bob");
    EXPECT_EQ(g_state.users[4].present, 0);
    EXPECT_EQ(g_state.users[9].present, 1);
    feed("$Quit bob");  // already gone: nothing more changes
    EXPECT_EQ(g_state.users[9].present, 1);
    feed("$Quit bobby");
    EXPECT_EQ(g_state.users[9].present, 0);
}

TEST_F(UserTable, QuitOfLongerNameLeavesThePrefixUser) {
    put_user(4, "bob", "1");
    put_user(9, "bobby", "2");
    feed("$Quit bobby");
    EXPECT_EQ(g_state.users[4].present, 1);
    EXPECT_EQ(g_state.users[9].present, 0);
}

TEST_F(UserTable, QuitWithEmptyOrUnknownNickFreesNobody) {
    put_user(0, "bob", "1");
    put_user(7, "ann", "1");
    feed("$Quit ");
    feed("$Quit bo");
    feed("$Quit carl");
    EXPECT_EQ(present_count(), 2);
}

TEST_F(UserTable, KeywordsInsideAnotherMessageChangeNothing) {
    // A relayed private message whose text holds the keywords.
    put_user(0, "alice", "1");
    feed("$MCTo: me $mallory Quit alice");
    feed("$MCTo: me $mallory MyINFO $ALL eve d$ $c$e$1$");
    feed("$MyNick Quit alice");
    EXPECT_EQ(present_count(), 1);
    EXPECT_EQ(slot_of("alice"), 0);
}

// --- Slots ---------------------------------------------------------------------

TEST_F(UserTable, FreedSlotsAreReusedLowestFirst) {
    for (int i = 0; i < 6; i++) feed(info(std::string("u").append(std::to_string(i)), "1"));
    feed("$Quit u5");
    feed("$Quit u3");
    feed(info("x", "1"));
    EXPECT_EQ(slot_of("x"), 3);
    feed(info("y", "1"));
    EXPECT_EQ(slot_of("y"), 5);
    feed(info("z", "1"));
    EXPECT_EQ(slot_of("z"), 6);
}

TEST_F(UserTable, FullTableTakesNewcomerInSlotZeroAndKeepsTheRest) {
    char name[16];
    for (int s = 0; s < USER_SLOTS; s++) {
        snprintf(name, sizeof name, "u%04d", s);
        update_user(name, "7", 1);
    }
    ASSERT_EQ(present_count(), USER_SLOTS);
    EXPECT_STREQ(g_state.users[USER_SLOTS - 1].name, "u2999");
    update_user("u2999", "8", 1);  // known user: no change
    EXPECT_STREQ(g_state.users[0].name, "u0000");
    update_user("late", "9", 1);
    EXPECT_STREQ(g_state.users[0].name, "late");
    EXPECT_STREQ(g_state.users[0].share, "9");
    EXPECT_STREQ(g_state.users[1].name, "u0001");
    EXPECT_EQ(present_count(), USER_SLOTS);
}

// --- Malformed and oversized input ---------------------------------------------

TEST_F(UserTable, InfoWithoutBlankAfterNickIsSkippedAndNothingPastNulIsRead) {
    // A well-formed continuation lies beyond the NUL: it must not be used.
    char message[] = "$MyINFO $ALL bob\0 d$ $c$e$1$";
    handle_user_message(message);
    EXPECT_EQ(present_count(), 0);
    EXPECT_EQ(memcmp(message + 17, " d$ $c$e$1$", 11), 0) << "written past the message";
}

TEST_F(UserTable, InfoWithFewerThanFiveDollarsIsSkipped) {
    char message[] = "$MyINFO $ALL bob d$ $c$1000\0$";
    handle_user_message(message);
    EXPECT_EQ(present_count(), 0);
    EXPECT_STREQ(message, "$MyINFO $ALL bob d$ $c$1000") << "fields cut though skipped";
}

TEST_F(UserTable, InfoWithEmptyNickIsSkipped) {
    feed("$MyINFO $ALL  d$ $c$e$1$");
    feed("$MyINFO $ALL ");
    feed("$MyINFO $ALL");
    EXPECT_EQ(present_count(), 0);
}

TEST_F(UserTable, EveryTruncationOfAnInfoIsSkippedWithoutOverread) {
    const std::string whole = info("bob", "1000");
    for (size_t n = 0; n < whole.size(); n++) feed(whole.substr(0, n));
    EXPECT_EQ(present_count(), 0);
    feed(whole);
    EXPECT_EQ(present_count(), 1);
}

TEST_F(UserTable, ShortOrUnknownMessagesChangeNothing) {
    put_user(0, "bob", "1");
    for (const char* m : {"", "$", "$M", "$Q", "$Quit", "$MyINFO", "$MyINFO $ALL", "$Quitbob"}) feed(m);
    EXPECT_EQ(present_count(), 1);
}

TEST_F(UserTable, NickOf49BytesFitsAndOf50IsNeverCut) {
    const std::string fits(49, 'n');
    const std::string too_long(50, 'n');
    feed(info(too_long, "1"));
    EXPECT_EQ(present_count(), 0);
    feed(info(fits, "1"));
    EXPECT_STREQ(g_state.users[0].name, fits.c_str());
    // A quit for the long nick must not free the user whose name is its first 49 bytes.
    feed("$Quit " + too_long);
    EXPECT_EQ(g_state.users[0].present, 1);
}

TEST_F(UserTable, ShareOf29BytesFitsAndOf30IsNeverCut) {
    feed(info("big", std::string(30, '9')));
    EXPECT_EQ(present_count(), 0);
    feed(info("big", std::string(29, '9')));
    EXPECT_STREQ(g_state.users[0].share, std::string(29, '9').c_str());
}

// --- Sort ----------------------------------------------------------------------

TEST_F(UserTable, SortPutsUpperCaseFirstThenNamesThenFreeSlots) {
    put_user(0, "bob", "3");
    put_user(2, "alice", "2");
    put_user(3, "Alice", "1");
    sort_users();
    EXPECT_STREQ(g_state.users[0].name, "Alice");
    EXPECT_STREQ(g_state.users[0].share, "1");
    EXPECT_STREQ(g_state.users[1].name, "alice");
    EXPECT_STREQ(g_state.users[1].share, "2");
    EXPECT_STREQ(g_state.users[2].name, "bob");
    EXPECT_STREQ(g_state.users[2].share, "3");
    EXPECT_EQ(present_count(), 3);
    for (int s = 3; s < USER_SLOTS; s++) EXPECT_EQ(g_state.users[s].present, 0) << s;
}

TEST_F(UserTable, SortComparesBytesUnsignedSoCyrillicFollowsLatin) {
    put_user(10, "\xC0\xED\xFF", "1");  // Cyrillic, bytes 0xC0 and above
    put_user(20, "zed", "2");
    put_user(30, "\x80x", "3");
    sort_users();
    EXPECT_STREQ(g_state.users[0].name, "zed");
    EXPECT_STREQ(g_state.users[1].name, "\x80x");
    EXPECT_STREQ(g_state.users[2].name, "\xC0\xED\xFF");
}

TEST_F(UserTable, SortOfFullScatteredTableIsAscendingWithSharesKept) {
    // Names in a scrambled order, every slot present, each share tied to its name.
    char name[16];
    char share[16];
    for (int s = 0; s < USER_SLOTS; s++) {
        int key = (s * 1237) % USER_SLOTS;
        snprintf(name, sizeof name, "n%05d", key);
        snprintf(share, sizeof share, "%d", key * 3);
        put_user(s, name, share);
    }
    sort_users();
    for (int s = 0; s < USER_SLOTS; s++) {
        snprintf(name, sizeof name, "n%05d", s);
        snprintf(share, sizeof share, "%d", s * 3);
        ASSERT_STREQ(g_state.users[s].name, name);
        ASSERT_STREQ(g_state.users[s].share, share);
    }
}

TEST_F(UserTable, UsersStayFoundAfterSort) {
    put_user(2999, "carl", "1");
    put_user(5, "ann", "1");
    sort_users();
    feed("$Quit carl");
    EXPECT_EQ(slot_of("carl"), -1);
    EXPECT_EQ(slot_of("ann"), 0);
    feed(info("dan", "4"));
    EXPECT_EQ(slot_of("dan"), 1);
}

// --- List line -----------------------------------------------------------------

TEST_F(UserTable, ListLineShowsShareInBytesAfterThreeBlanksAndZeroWhenEmpty) {
    put_user(0, "bob", "1073741824");
    put_user(1, "ann", "");
    EXPECT_EQ(line_of(g_state.users[0]), "bob   1073741824 b");
    EXPECT_EQ(line_of(g_state.users[1]), "ann   0 b");
}

TEST_F(UserTable, ListLineShowsSharesOf2To31AndAboveWhole) {
    put_user(0, "a", "2147483648");
    put_user(1, "b", "5368709120");
    put_user(2, "c", "18446744073709551615");
    EXPECT_EQ(line_of(g_state.users[0]), "a   2147483648 b");
    EXPECT_EQ(line_of(g_state.users[1]), "b   5368709120 b");
    EXPECT_EQ(line_of(g_state.users[2]), "c   18446744073709551615 b");
}

// --- The Users screen ------------------------------------------------------------

namespace {

constexpr int INPUT_LINE = 4001;

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
// ClientState, the input line, and "Users" (6006) in its menu.
intptr_t main_stand_in(Window screen, uint32_t message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        g_main = screen;
        g_state.main_window = screen;
        Window bar = 0;
        fullscreen_init(screen, SHIDIM_FLAGS, SHIDIF_FULLSCREEN);
        softkey_bar_create(screen, MENUBAR_MAIN, g_state.module_instance, &bar);
        control_set_text(screen, INPUT_LINE, u"draft");
        return TRUE;
    }
    case WM_COMMAND:
        if (low_word(wparam) != 6006) return FALSE;
        g_users_result = dialog_run(g_state.module_instance, DIALOG_USERS, 0, users_spy, 0);
        g_users_open = false;
        g_users_runs++;
        return TRUE;
    case WM_CLOSE:
        g_input_at_close = control_text(screen, INPUT_LINE);
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

std::u16string input_line() { return control_text(g_main, INPUT_LINE); }

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
            EXPECT_EQ(control_send(g_users, USERS_LIST_CONTROL, LB_GETCOUNT, 0, 0), 3);
            EXPECT_EQ(control_send(g_users, USERS_LIST_CONTROL, LB_GETCURSEL, 0, 0), 2);
            display_press(DISPLAY_KEY_SOFT_RIGHT);  // "EXIT"
            return true;
        },
        users_closed, close_main};
    run(script);
    EXPECT_EQ(g_users_result, 0);
    EXPECT_EQ(g_input_at_close, u"draft");
}

TEST_F(UsersScreen, PrivatLeavesNameAndBlankWithCaretAfterTheBlank) {
    put_user(0, "bob", "1");
    Script script;
    script.steps = {
        [] {
            press_users_menu("3");  // "PRIVAT"
            return true;
        },
        users_closed,
        [] {
            EXPECT_EQ(input_line(), u">bob ");
            display_type("hi");  // typed where the caret was left
            return true;
        },
        [] {
            EXPECT_EQ(input_line(), u">bob hi");
            return true;
        },
        close_main};
    run(script);
    EXPECT_EQ(g_users_result, 0);
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
            EXPECT_EQ(control_send(g_users, USERS_LIST_CONTROL, LB_GETCURSEL, 0, 0), LB_ERR);
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
            press_users_menu("3");
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
            EXPECT_EQ(control_send(g_users, USERS_LIST_CONTROL, LB_GETCURSEL, 0, 0), 2);
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
            EXPECT_EQ(control_send(g_users, USERS_LIST_CONTROL, LB_GETCOUNT, 0, 0), USER_SLOTS);
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
    EXPECT_EQ(users_screen_proc(0, WM_COMMAND, 6011, 0), FALSE);
    EXPECT_EQ(users_screen_proc(0, WM_PAINT, 0, 0), FALSE);
    EXPECT_EQ(users_screen_proc(0, WM_HOTKEY, 0, (LPARAM)make_long(0, 0x20)), FALSE);
}
