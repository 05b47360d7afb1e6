// Screens through the headless display: keys into edit fields, Back, soft
// keys and their menus, nested screens, message boxes, lists and combos, and
// what the grid shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen_fixture.h"

namespace {

// A small procedure like the program's own screens: full screen, a soft-key
// bar, Back taken as the hot key, close ends with CLOSE_RESULT.
constexpr intptr_t CLOSE_RESULT = 77;

struct Seen {
    uint32_t message;
    WPARAM wparam;
    LPARAM lparam;
};

int g_menubar = MENUBAR_MAIN;
bool g_override_back = true;
std::vector<Seen> g_seen;
std::u16string g_text_at_close;
int g_text_control = 4001;

intptr_t test_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    g_seen.push_back({message, wparam, lparam});
    switch (message) {
    case WM_INITDIALOG: {
        Window bar = 0;
        if (!fullscreen_init(w, SHIDIM_FLAGS, SHIDIF_FULLSCREEN)) return FALSE;
        if (!softkey_bar_create(w, g_menubar, KIVO_INSTANCE, &bar)) return FALSE;
        if (g_override_back) send_message(bar, SHCMBM_OVERRIDEKEY, VK_BACK_KEY, SHMBOF_OVERRIDE_BACK);
        return TRUE;
    }
    case WM_CLOSE:
        g_text_at_close = control_text(w, g_text_control);
        dialog_end(w, CLOSE_RESULT);
        return TRUE;
    default:
        return FALSE;
    }
}

// Commands (notification code 0), not the controls' notifications.
std::vector<int> commands_seen() {
    std::vector<int> ids;
    for (const Seen& s : g_seen)
        if (s.message == WM_COMMAND && high_word(s.wparam) == 0) ids.push_back(low_word(s.wparam));
    return ids;
}

std::vector<uint16_t> notifications_from(int id) {
    std::vector<uint16_t> codes;
    for (const Seen& s : g_seen)
        if (s.message == WM_COMMAND && low_word(s.wparam) == id && high_word(s.wparam) != 0)
            codes.push_back(high_word(s.wparam));
    return codes;
}

class Screens : public ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        g_menubar = MENUBAR_MAIN;
        g_override_back = true;
        g_seen.clear();
        g_text_at_close.clear();
        g_text_control = 4001;
    }
};

TEST_F(Screens, TypedUtf8ReachesTheEditFieldAsUtf16IncludingCyrillic) {
    display_type("hi Привет ё");
    display_press(DISPLAY_KEY_CLOSE);
    EXPECT_EQ(dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, test_proc, 0), CLOSE_RESULT);
    EXPECT_EQ(g_text_at_close, u"hi Привет ё");
}

TEST_F(Screens, InitDialogComesFirstWithTheInitValue) {
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, test_proc, 1234);
    ASSERT_FALSE(g_seen.empty());
    EXPECT_EQ(g_seen[0].message, WM_INITDIALOG);
    EXPECT_EQ(g_seen[0].lparam, 1234);
}

int back_hotkeys() {
    int n = 0;
    for (const Seen& s : g_seen) n += s.message == WM_HOTKEY && high_word((uintptr_t)s.lparam) == VK_BACK_KEY;
    return n;
}

// Backspace deletes before the caret and nothing else; Back reaches the
// screen (as the hot key, 0x1B in lparam's high word) and leaves the text.
TEST_F(Screens, BackspaceDeletesInTheFieldAndBackGoesToTheScreenWithTheTextKept) {
    display_press(DISPLAY_KEY_BACKSPACE);  // empty field: nothing
    display_type("abcd");
    display_press(DISPLAY_KEY_BACKSPACE);
    display_press(DISPLAY_KEY_LEFT);
    display_press(DISPLAY_KEY_BACKSPACE);
    display_press(DISPLAY_KEY_HOME);
    display_press(DISPLAY_KEY_BACKSPACE);  // caret at the start: nothing
    display_press(DISPLAY_KEY_BACK);
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, test_proc, 0);
    EXPECT_EQ(g_text_at_close, u"ac");
    EXPECT_EQ(back_hotkeys(), 1);
    for (int id : commands_seen()) EXPECT_NE(id, IDCANCEL);
}

// Without the override Back is the cancel command, in a field with text as
// on a list; Backspace off a field, in a popup or in a box does nothing.
TEST_F(Screens, BackWithoutOverrideCancelsEvenInAFieldWithTextAndBackspaceNeverDoes) {
    g_override_back = false;
    display_type("xy");
    display_press(DISPLAY_KEY_BACK);
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_press(DISPLAY_KEY_BACKSPACE);  // the menu stays open
    display_type("3");                     // and chooses Disconnect
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, test_proc, 0);
    EXPECT_EQ(g_text_at_close, u"xy");
    EXPECT_EQ(commands_seen(), (std::vector<int>{IDCANCEL, 6007}));

    g_seen.clear();
    g_menubar = MENUBAR_USERS;  // the Users screen: a list has the focus
    display_press(DISPLAY_KEY_BACKSPACE);
    display_press(DISPLAY_KEY_BACK);
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_USERS, 0, test_proc, 0);
    EXPECT_EQ(commands_seen(), std::vector<int>{IDCANCEL});
}

TEST_F(Screens, BackOverriddenOnAListReachesTheScreenAsHotKeyOnly) {
    g_menubar = MENUBAR_USERS;
    display_press(DISPLAY_KEY_BACK);
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_USERS, 0, test_proc, 0);
    EXPECT_TRUE(commands_seen().empty());
    bool hotkey = false;
    for (const Seen& s : g_seen) hotkey = hotkey || (s.message == WM_HOTKEY && high_word((uintptr_t)s.lparam) == 0x1B);
    EXPECT_TRUE(hotkey);
}

TEST_F(Screens, ActionKeySendsIdokAndCommandKeySendsItsCommand) {
    display_press(DISPLAY_KEY_ACTION);
    display_press(DISPLAY_KEY_SOFT_RIGHT);
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, test_proc, 0);
    EXPECT_EQ(commands_seen(), (std::vector<int>{IDOK, 12005}));
}

// The main menu opens on its second entry, "Connect": Menu and Enter never
// choose its first, "exit", whose digit stays 1.
TEST_F(Screens, MenuKeyOpensThePopupAndADigitChoosesTheEntry) {
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type("3");  // Disconnect
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_press(DISPLAY_KEY_ACTION);  // Connect, where it opened
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_press(DISPLAY_KEY_DOWN);
    display_press(DISPLAY_KEY_DOWN);
    display_press(DISPLAY_KEY_ACTION);  // Clear Chat
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_press(DISPLAY_KEY_BACK);    // closes the popup: no command, no hot key
    display_press(DISPLAY_KEY_SOFT_LEFT);
    display_type("1");                  // exit
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, test_proc, 0);
    EXPECT_EQ(commands_seen(), (std::vector<int>{6007, 6004, 6008, 6002}));
    for (const Seen& s : g_seen) EXPECT_NE(s.message, WM_HOTKEY);
}

struct TextCheck {
    int copied;
    char16_t small[4];
    int copied_one;
    char16_t one[1];
};
TextCheck g_textcheck;

intptr_t caret_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        test_proc(w, message, wparam, lparam);
        control_set_text(w, 4001, u">bob ");
        g_textcheck.copied = control_get_text(w, 4001, g_textcheck.small, 4);
        g_textcheck.one[0] = u'!';
        g_textcheck.copied_one = control_get_text(w, 4001, g_textcheck.one, 1);
        control_send(w, 4001, EM_SETSEL, 5, 5);  // the caret after the blank
        return TRUE;
    }
    return test_proc(w, message, wparam, lparam);
}

TEST_F(Screens, GetTextCopiesAtMostUnitsMinusOneAndTerminates) {
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, caret_proc, 0);
    EXPECT_EQ(g_textcheck.copied, 3);
    EXPECT_EQ(std::u16string(g_textcheck.small), u">bo");
    EXPECT_EQ(g_textcheck.copied_one, 0);
    EXPECT_EQ(g_textcheck.one[0], 0);
}

TEST_F(Screens, SetSelectionPlacesTheCaretWhereTypingContinues) {
    display_type("hi");
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, caret_proc, 0);
    EXPECT_EQ(g_text_at_close, u">bob hi");
}

TEST_F(Screens, AstralCharactersAreTypedSteppedOverAndDeletedWhole) {
    display_type("a\xF0\x9F\x98\x80" "b");  // a, U+1F600 (a surrogate pair), b
    display_press(DISPLAY_KEY_LEFT);          // before b
    display_press(DISPLAY_KEY_LEFT);          // over the whole pair: before it
    display_type("-");
    display_press(DISPLAY_KEY_END);
    display_press(DISPLAY_KEY_LEFT);
    display_press(DISPLAY_KEY_BACKSPACE);     // both halves go
    display_press(DISPLAY_KEY_CLOSE);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, test_proc, 0);
    EXPECT_EQ(g_text_at_close, u"a-b");
}

// --- Lists and combos ------------------------------------------------------------------

struct ListCheck {
    intptr_t count, empty_selection, bad_select, selection_after_bad;
    intptr_t index_of_third;
    intptr_t selection_at_close;
};
ListCheck g_list;

intptr_t list_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        test_proc(w, message, wparam, lparam);
        control_send(w, 4009, LB_ADDSTRING, 0, (LPARAM)u"zed");
        control_send(w, 4009, LB_ADDSTRING, 0, (LPARAM)u"alice");
        g_list.index_of_third = control_send(w, 4009, LB_ADDSTRING, 0, (LPARAM)u"Боб");
        g_list.count = control_send(w, 4009, LB_GETCOUNT, 0, 0);
        g_list.empty_selection = control_send(w, 4009, LB_GETCURSEL, 0, 0);
        g_list.bad_select = control_send(w, 4009, LB_SETCURSEL, 7, 0);
        g_list.selection_after_bad = control_send(w, 4009, LB_GETCURSEL, 0, 0);
        return TRUE;
    }
    if (message == WM_CLOSE) g_list.selection_at_close = control_send(w, 4009, LB_GETCURSEL, 0, 0);
    return test_proc(w, message, wparam, lparam);
}

TEST_F(Screens, ListKeepsInsertionOrderAndReportsMinusOneWithoutSelection) {
    g_menubar = MENUBAR_USERS;
    g_list = ListCheck{};
    // The list takes the focus with entries: its first is selected; one step down.
    display_press(DISPLAY_KEY_DOWN);
    static int zed, alice, bob;
    IdleScript script;
    script.add([](void*) {  // the keys are handled and the screen drawn
        zed = display_find(" zed");
        alice = display_find(">alice");
        bob = display_find(" Боб");
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_USERS, 0, list_proc, 0);
    EXPECT_EQ(g_list.count, 3);
    EXPECT_EQ(g_list.index_of_third, 2);
    EXPECT_EQ(g_list.empty_selection, LB_ERR);
    EXPECT_EQ(g_list.bad_select, LB_ERR);
    EXPECT_EQ(g_list.selection_after_bad, -1);
    EXPECT_EQ(g_list.selection_at_close, 1);
    EXPECT_EQ(notifications_from(4009), (std::vector<uint16_t>{LBN_SELCHANGE, LBN_SELCHANGE}));
    // Shown in the order added, the selected one marked.
    EXPECT_GE(zed, 1);
    EXPECT_EQ(alice, zed + 1);
    EXPECT_EQ(bob, zed + 2);
}

struct ComboCheck {
    intptr_t empty_selection;
    intptr_t selection_at_close;
};
ComboCheck g_combo;

intptr_t combo_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        test_proc(w, message, wparam, lparam);
        control_send(w, 4015, CB_ADDSTRING, 0, (LPARAM)u"b-hub");
        control_send(w, 4015, CB_ADDSTRING, 0, (LPARAM)u"a-hub");
        control_send(w, 4015, CB_ADDSTRING, 0, (LPARAM)u"c-hub");
        g_combo.empty_selection = control_send(w, 4015, CB_GETCURSEL, 0, 0);
        return TRUE;
    }
    if (message == WM_CLOSE) g_combo.selection_at_close = control_send(w, 4015, CB_GETCURSEL, 0, 0);
    return test_proc(w, message, wparam, lparam);
}

TEST_F(Screens, ComboNotifiesFocusAndSelectionAndChoosesFromItsDropDown) {
    g_menubar = MENUBAR_SETTINGS;
    g_combo = ComboCheck{};
    display_press(DISPLAY_KEY_RIGHT);   // the spinner step: entry 0
    display_press(DISPLAY_KEY_ACTION);  // opens the drop-down
    display_type("3");                  // chooses "c-hub"
    static int shown_at;
    IdleScript script;
    script.add([](void*) {
        shown_at = display_find("[c-hub");
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_SETTINGS, 0, combo_proc, 0);
    EXPECT_EQ(g_combo.empty_selection, LB_ERR);
    EXPECT_EQ(g_combo.selection_at_close, 2);
    EXPECT_EQ(notifications_from(4015), (std::vector<uint16_t>{CBN_SETFOCUS, CBN_SELCHANGE, CBN_SELCHANGE}));
    EXPECT_TRUE(commands_seen().empty());  // the Action key on a combo is not IDOK
    EXPECT_GE(shown_at, 1);
}

// --- Nested screens and message boxes ---------------------------------------------------

intptr_t g_inner_result;
bool g_box_returned;
bool g_posted_seen_while_box_open;
Window g_plain;

intptr_t inner_proc(Window w, uint32_t message, WPARAM wparam, LPARAM) {
    if (message == WM_INITDIALOG) {
        Window bar;
        fullscreen_init(w, SHIDIM_FLAGS, SHIDIF_FULLSCREEN);
        softkey_bar_create(w, MENUBAR_SEARCH, KIVO_INSTANCE, &bar);
        return TRUE;
    }
    if (message == WM_COMMAND && low_word(wparam) == 6005) {
        dialog_end(w, 42);
        return TRUE;
    }
    return FALSE;
}

intptr_t opener_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND && low_word(wparam) == 12005) {
        g_inner_result = dialog_run(KIVO_INSTANCE, DIALOG_SEARCH, 0, inner_proc, 0);
        return TRUE;
    }
    if (message == WM_COMMAND && low_word(wparam) == IDOK) {
        post_message(g_plain, 999, 1, 2);
        g_box_returned = false;
        message_box(w, u"Boxed text", u"Box", 0);
        g_box_returned = true;
        return TRUE;
    }
    return test_proc(w, message, wparam, lparam);
}

intptr_t plain_proc(Window, uint32_t message, WPARAM, LPARAM) {
    if (message == 999) g_posted_seen_while_box_open = !g_box_returned;
    return 0;
}

// The keys typed ahead behind the one that ended the inner screen were meant
// for it: the outer screen's field and procedure never see them.
TEST_F(Screens, ScreenOpenedFromAScreenReturnsItsResultAndTakesItsTypedKeysAlong) {
    g_inner_result = 0;
    display_press(DISPLAY_KEY_SOFT_RIGHT);  // opens the search screen
    display_type("ab");
    display_press(DISPLAY_KEY_SOFT_RIGHT);  // its "Download" ends it with 42
    display_type("xyz");
    display_press(DISPLAY_KEY_BACK);
    IdleScript script;
    script.add([](void*) {
        display_press(DISPLAY_KEY_CLOSE);  // the outer screen is on top again
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    EXPECT_EQ(dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, opener_proc, 0), CLOSE_RESULT);
    EXPECT_EQ(g_inner_result, 42);
    EXPECT_EQ(g_text_at_close, u"");
    EXPECT_EQ(back_hotkeys(), 0);
}

TEST_F(Screens, MessageBoxBlocksItsCallerWhilePostedMessagesReachOtherWindows) {
    g_plain = window_create(plain_proc);
    g_box_returned = true;
    g_posted_seen_while_box_open = false;
    IdleScript script;
    script.add([](void*) {  // the main screen is up: press the Action key
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {  // the box is up, its caller still waits
        EXPECT_FALSE(g_box_returned);
        EXPECT_GE(display_find("Boxed text"), 1);
        EXPECT_GE(display_find(" Box "), 0);
        EXPECT_GE(display_find("OK"), 1);
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        EXPECT_TRUE(g_box_returned);
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, opener_proc, 0);
    EXPECT_EQ(script.next, script.count);
    EXPECT_TRUE(g_posted_seen_while_box_open);
    window_destroy(g_plain);
}

// --- Default handling ------------------------------------------------------------------

intptr_t silent_proc(Window, uint32_t message, WPARAM wparam, LPARAM lparam) {
    g_seen.push_back({message, wparam, lparam});
    return FALSE;
}

TEST_F(Screens, UnhandledCloseBecomesTheCancelCommandAndEndsWithIdcancel) {
    display_press(DISPLAY_KEY_ACTION);  // IDOK unhandled: nothing ends
    display_press(DISPLAY_KEY_CLOSE);
    EXPECT_EQ(dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, silent_proc, 0), IDCANCEL);
    EXPECT_EQ(commands_seen(), (std::vector<int>{IDOK, IDCANCEL}));
}

TEST_F(Screens, RepaintRequestsCoalesceIntoOnePaint) {
    IdleScript script;
    script.add([](void*) {  // the first paint has come; start counting afresh
        g_seen.clear();
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    struct Local {
        static intptr_t proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
            if (message == WM_COMMAND && low_word(wparam) == IDOK) {
                for (int i = 0; i < 50; i++) repaint_request(w);
                return TRUE;
            }
            return test_proc(w, message, wparam, lparam);
        }
    };
    script.add([](void*) {
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        int paints = 0;
        for (const Seen& s : g_seen) paints += s.message == WM_PAINT;
        if (paints == 0) return false;  // the throttle may hold it a moment
        EXPECT_EQ(paints, 1);
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, Local::proc, 0);
    EXPECT_EQ(script.next, script.count);
}

}  // namespace
