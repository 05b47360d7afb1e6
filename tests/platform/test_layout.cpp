// What the grid shows: the layout of the program's screens at the largest and
// the smallest terminal sizes, the chat view's scrolling, one-line fields'
// horizontal scrolling, lists keeping their selection in view, popups,
// resizing, and text that must not reach the terminal raw.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "screen_fixture.h"

namespace {

const char16_t* g_view_text = u"";
int g_bar = MENUBAR_MAIN;

intptr_t main_like_proc(Window w, uint32_t message, WPARAM, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        Window bar;
        fullscreen_init(w, SHIDIM_FLAGS, SHIDIF_FULLSCREEN);
        softkey_bar_create(w, g_bar, KIVO_INSTANCE, &bar);
        send_message(bar, SHCMBM_OVERRIDEKEY, VK_BACK_KEY, SHMBOF_OVERRIDE_BACK);
        return TRUE;
    }
    case WM_PAINT:
        control_set_text(w, 4003, g_view_text);
        control_send(w, 4003, EM_LINESCROLL, 0, 1000);
        return FALSE;
    case WM_CLOSE:
        dialog_end(w, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

std::string g_snapshot;

void snapshot_and_close(int cols, int rows, const char* keys) {
    display_start_headless(cols, rows);
    display_type(keys);
    IdleScript script;
    script.add([](void*) {
        g_snapshot = grid_text();
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_like_proc, 0);
    display_set_idle_hook(nullptr, nullptr);
}

class Layout : public ScreenTest {};

std::string blank_row(int cols) {
    return "|" + std::string(cols - 2, ' ') + "|\n";
}

std::string padded(const std::string& text, int cells) {
    // Counts cells, not bytes: the Cyrillic letters are two bytes each.
    int have = 0;
    for (unsigned char c : text) have += (c & 0xC0) != 0x80;
    return text + std::string(cells - have, ' ');
}

// One framed row: "|", the inner text, "|" and the line end. Built by
// appending: GCC 12 at -O3 warns (-Wrestrict) inside the standard library
// for a literal + std::string temporary.
std::string row(const std::string& inner) {
    std::string r = "|";
    r += inner;
    r += "|\n";
    return r;
}

constexpr const char16_t* CHAT = u"Pelmark tarvol v 0.05 \r\n<bob> hi\r\n<алиса> привет\r\n";

TEST_F(Layout, MainScreenAt80x24ShowsTitleChatViewInputLineAndSoftKeys) {
    g_view_text = CHAT;
    snapshot_and_close(80, 24, "hello world");
    std::string expected = std::string("+ Kivo ").append(72, '-').append("+\n");
    expected += row(padded("Pelmark tarvol v 0.05", 78));
    expected += row(padded("<bob> hi", 78));
    expected += row(padded("<алиса> привет", 78));
    for (int r = 4; r <= 20; r++) expected += blank_row(80);
    expected += row(std::string("[").append(padded("hello world", 76)).append("]"));
    expected += std::string("| Menu").append(66, ' ').append("Search |\n");
    expected += std::string("+").append(78, '-').append("+\n");
    EXPECT_EQ(g_snapshot, expected);
}

TEST_F(Layout, MainScreenAt36x16KeepsEveryPartOnThePhoneSize) {
    g_view_text = CHAT;
    snapshot_and_close(36, 16, "hello world");
    std::string expected = std::string("+ Kivo ").append(28, '-').append("+\n");
    expected += row(padded("Pelmark tarvol v 0.05", 34));
    expected += row(padded("<bob> hi", 34));
    expected += row(padded("<алиса> привет", 34));
    for (int r = 4; r <= 12; r++) expected += blank_row(36);
    expected += row(std::string("[").append(padded("hello world", 32)).append("]"));
    expected += std::string("| Menu").append(22, ' ').append("Search |\n");
    expected += std::string("+").append(34, '-').append("+\n");
    EXPECT_EQ(g_snapshot, expected);
}

// Forty numbered lines: the view shows the last ones after the paint's scroll.
std::u16string numbered_lines(int count) {
    std::u16string text;
    for (int i = 1; i <= count; i++) {
        char line[32];
        snprintf(line, sizeof line, "line %d\r\n", i);
        for (char* c = line; *c; c++) text += (char16_t)*c;
    }
    return text;
}

TEST_F(Layout, ChatViewScrolledByAThousandLinesShowsItsEndAndPageUpGoesBack) {
    static std::u16string lines = numbered_lines(40);
    g_view_text = lines.c_str();
    static int last_row, first_row, after_page_up;
    display_start_headless(80, 24);
    IdleScript script;
    script.add([](void*) {
        last_row = display_find("line 40");
        first_row = display_find("line 1 ");
        display_press(DISPLAY_KEY_PAGE_UP);
        return true;
    });
    script.add([](void*) {
        after_page_up = display_find("line 40");
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_like_proc, 0);
    EXPECT_EQ(last_row, 20);  // the view's last row, just above the input line
    EXPECT_EQ(first_row, -1);
    EXPECT_EQ(after_page_up, -1);
}

TEST_F(Layout, LongChatLinesWrapAtABlankInsideTheView) {
    g_view_text = u"<bob> aaaa bbbb cccc dddd eeee ffff gggg hhhh\r\n";
    snapshot_and_close(36, 16, "");
    EXPECT_NE(g_snapshot.find("|<bob> aaaa bbbb cccc dddd eeee    |"), std::string::npos) << g_snapshot;
    EXPECT_NE(g_snapshot.find("|ffff gggg hhhh"), std::string::npos) << g_snapshot;
}

TEST_F(Layout, TheInputLineScrollsToKeepTheCaretInView) {
    g_view_text = u"";
    snapshot_and_close(36, 16, "0123456789abcdefghijklmnopqrstuvwxyzEND");
    // 32 cells inside the brackets: 31 characters and the caret after "END".
    EXPECT_NE(g_snapshot.find("|[89abcdefghijklmnopqrstuvwxyzEND ]|"), std::string::npos) << g_snapshot;
}

TEST_F(Layout, ControlCharactersFromPeersNeverReachTheGridRaw) {
    g_view_text = u"<evil> \x1b[2J\x07 bell \x0301 combining\r\n";
    snapshot_and_close(80, 24, "");
    for (unsigned char c : g_snapshot) EXPECT_TRUE(c >= 0x20 || c == '\n') << (int)c;
    EXPECT_NE(g_snapshot.find("<evil> ?[2J? bell ? combining"), std::string::npos) << g_snapshot;
}

TEST_F(Layout, OpenMenuShowsNumberedEntriesAboveTheSoftKeyBar) {
    g_view_text = u"";
    display_start_headless(36, 16);
    display_press(DISPLAY_KEY_SOFT_LEFT);
    IdleScript script;
    script.add([](void*) {
        g_snapshot = grid_text();
        display_press(DISPLAY_KEY_BACK);
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_like_proc, 0);
    EXPECT_EQ(grid_row(13).find("1 exit"), std::string::npos);
    // Eleven entries end on row 13, just above the bar on row 14; the
    // tenth has the digit 0, the eleventh none (chosen with the arrows).
    size_t at = g_snapshot.find("|0 Private");
    ASSERT_NE(at, std::string::npos) << g_snapshot;
    EXPECT_NE(g_snapshot.find("|1 exit"), std::string::npos);
    EXPECT_LT(g_snapshot.find("|1 exit"), g_snapshot.find("|5 Downloads"));
    EXPECT_LT(g_snapshot.find("|9 Option"), at);
    size_t last = g_snapshot.find("File lists", at);
    ASSERT_NE(last, std::string::npos) << g_snapshot;
    int last_row = 0;
    for (size_t i = 0; i < last; i++) last_row += g_snapshot[i] == '\n';
    EXPECT_EQ(last_row, 13);
}

TEST_F(Layout, ResizeRedrawsTheScreenAtTheNewSize) {
    g_view_text = u"hello\r\n";
    display_start_headless(80, 24);
    static std::string before, after;
    IdleScript script;
    script.add([](void*) {
        before = grid_row(23);
        display_headless_resize(40, 18);
        return true;
    });
    script.add([](void*) {
        after = grid_row(17);
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_like_proc, 0);
    EXPECT_EQ(before, std::string("+").append(78, '-').append("+"));
    EXPECT_EQ(after, std::string("+").append(38, '-').append("+"));
    EXPECT_EQ(display_rows(), 18);
    EXPECT_EQ(grid_row(16), std::string("| Menu").append(26, ' ').append("Search |"));
}

intptr_t settings_like_proc(Window w, uint32_t message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        Window bar;
        softkey_bar_create(w, MENUBAR_SETTINGS, KIVO_INSTANCE, &bar);
        control_set_text(w, 4002, u"127.0.0.1");
        control_set_text(w, 4004, u"411");
        control_set_text(w, 4005, u"[i]mpx200");
        control_set_text(w, 4006, u"1234567890");
        control_set_text(w, 4011, u"10.0.0.2");
        return TRUE;
    }
    if (message == WM_CLOSE) dialog_end(w, 0);
    return message == WM_CLOSE;
}

TEST_F(Layout, EverySettingsFieldAndLabelFitsOnThePhoneSize) {
    display_start_headless(36, 16);
    IdleScript script;
    script.add([](void*) {
        g_snapshot = grid_text();
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_SETTINGS, 0, settings_like_proc, 0);
    const char* shown[] = {"Hub", "Host", "127.0.0.1", "Port", "411", "Nick", "[i]mpx200",
                           "Share", "1234567890", "bytes", "LocalIP", "10.0.0.2", "OK", "CANCEL"};
    for (const char* text : shown) EXPECT_NE(g_snapshot.find(text), std::string::npos) << text << "\n" << g_snapshot;
}

// --- Scroll positions kept in view where they change ---------------------------------

Window g_window;

// The Users screen's list alone filled with "user00" .. "user59".
intptr_t long_list_proc(Window w, uint32_t message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        g_window = w;
        for (int i = 0; i < 60; i++) {
            char16_t entry[8] = u"user";
            entry[4] = (char16_t)(u'0' + i / 10);
            entry[5] = (char16_t)(u'0' + i % 10);
            control_send(w, 4009, LB_ADDSTRING, 0, (LPARAM)entry);
        }
        return TRUE;
    }
    if (message == WM_CLOSE) dialog_end(w, 0);
    return message == WM_CLOSE;
}

TEST_F(Layout, ListKeepsItsSelectionInViewThroughStepsResizeAndSetSelection) {
    display_start_headless(80, 24);  // 21 list rows: rows 1 to 21
    // The focus selected user00; 20 steps down reach user20.
    for (int i = 0; i < 20; i++) display_press(DISPLAY_KEY_DOWN);
    static int after_steps, after_shrink, after_set, after_up, first_after_up;
    IdleScript script;
    script.add([](void*) {
        after_steps = display_find(">user20");
        display_headless_resize(36, 16);  // 13 list rows: rows 1 to 13
        return true;
    });
    script.add([](void*) {
        after_shrink = display_find(">user20");
        control_send(g_window, 4009, LB_SETCURSEL, 2, 0);
        return true;
    });
    script.add([](void*) {
        after_set = display_find(">user02");
        display_press(DISPLAY_KEY_UP);
        return true;
    });
    script.add([](void*) {
        after_up = display_find(">user01");
        first_after_up = display_find(" user00");
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_USERS, 0, long_list_proc, 0);
    EXPECT_EQ(script.next, script.count);
    EXPECT_EQ(after_steps, 21);   // the 20th step down is the last row, still shown
    EXPECT_EQ(after_shrink, 13);  // scrolled so that the selection is on the last row left
    EXPECT_EQ(after_set, 1);      // a selection above the first row shown comes to the top
    EXPECT_EQ(after_up, 1);
    EXPECT_EQ(first_after_up, -1);
}

// A main-like screen whose Action key opens a message box over it.
intptr_t covered_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) g_window = w;
    if (message == WM_COMMAND && low_word(wparam) == IDOK) {
        message_box(w, u"Covering", u"Box", 0);
        return TRUE;
    }
    return main_like_proc(w, message, wparam, lparam);
}

constexpr const char* LONG_INPUT = "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWX";  // 60

TEST_F(Layout, InputLineKeepsItsCaretInViewThroughResizeHomeAndChangesWhileCovered) {
    g_view_text = u"";
    display_start_headless(80, 24);
    display_type(LONG_INPUT);
    static std::string wide, narrow, home, uncovered;
    static int narrow_col, home_col, uncovered_col;
    IdleScript script;
    script.add([](void*) {
        wide = grid_row(21);
        display_headless_resize(36, 16);  // the field keeps 32 cells inside its brackets
        return true;
    });
    script.add([](void*) {
        narrow = grid_row(13);
        narrow_col = display_snapshot()->cursor_col;
        display_press(DISPLAY_KEY_HOME);
        return true;
    });
    script.add([](void*) {
        home = grid_row(13);
        home_col = display_snapshot()->cursor_col;
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (display_find("Covering") < 0) return false;
        // The screen below changes while the box covers it: a new text and
        // the caret at its end, as another screen sets the input line.
        control_set_text(g_window, 4001, u"abcdefghijklmnopqrstuvwxyz0123456789ABCD");
        control_send(g_window, 4001, EM_SETSEL, 0, -1);
        display_press(DISPLAY_KEY_ACTION);
        return true;
    });
    script.add([](void*) {
        if (display_find("Covering") >= 0) return false;
        uncovered = grid_row(13);
        uncovered_col = display_snapshot()->cursor_col;
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, covered_proc, 0);
    EXPECT_EQ(script.next, script.count);
    EXPECT_EQ(wide, row(std::string("[").append(padded(LONG_INPUT, 76)).append("]")).substr(0, 80));
    // 31 characters and the caret after them.
    EXPECT_EQ(narrow, "|[3456789ABCDEFGHIJKLMNOPQRSTUVWX ]|");
    EXPECT_EQ(narrow_col, 33);
    EXPECT_EQ(home, "|[abcdefghijklmnopqrstuvwxyz012345]|");
    EXPECT_EQ(home_col, 2);
    EXPECT_EQ(uncovered, "|[jklmnopqrstuvwxyz0123456789ABCD ]|");
    EXPECT_EQ(uncovered_col, 33);
}

TEST_F(Layout, ChatViewScrolledToItsEndFillsAgainWhenTheDisplayGrows) {
    static std::u16string lines = numbered_lines(40);
    g_view_text = lines.c_str();
    display_start_headless(36, 16);  // 12 view rows
    static int last_small, first_small, last_large, first_large;
    IdleScript script;
    script.add([](void*) {
        last_small = display_find("line 40");
        first_small = display_find("line 1 ");
        display_headless_resize(80, 60);  // 56 view rows: room for every line
        return true;
    });
    script.add([](void*) {
        last_large = display_find("line 40");
        first_large = display_find("line 1 ");
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, main_like_proc, 0);
    EXPECT_EQ(script.next, script.count);
    EXPECT_EQ(last_small, 12);
    EXPECT_EQ(first_small, -1);
    EXPECT_EQ(first_large, 1);  // from its first line again, no blank rows above the end
    EXPECT_EQ(last_large, 40);
}

intptr_t long_host_proc(Window w, uint32_t message, WPARAM, LPARAM) {
    if (message == WM_INITDIALOG) {
        control_set_text(w, 4002, u"hub.example.org.with.a.very.long.name.net");  // 41
        return TRUE;
    }
    if (message == WM_CLOSE) dialog_end(w, 0);
    return message == WM_CLOSE;
}

TEST_F(Layout, FocusMovedIntoALongFieldShowsItsEndWithTheCaret) {
    display_start_headless(36, 16);
    display_press(DISPLAY_KEY_DOWN);  // from the favourites to the host field
    static std::string host_row;
    static int cursor_row, cursor_col;
    IdleScript script;
    script.add([](void*) {
        cursor_row = display_snapshot()->cursor_row;
        cursor_col = display_snapshot()->cursor_col;
        host_row = grid_row(cursor_row);
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_SETTINGS, 0, long_host_proc, 0);
    EXPECT_EQ(script.next, script.count);
    // The field has 22 cells inside its brackets: the last 21 characters and the caret.
    size_t at = host_row.find("[.a.very.long.name.net ]");
    ASSERT_NE(at, std::string::npos) << host_row;
    EXPECT_EQ(cursor_col, (int)at + 1 + 21);
}

}  // namespace
