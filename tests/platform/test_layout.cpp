// What the grid shows: the layout of the program's screens at the largest and
// the smallest terminal sizes, the chat view's scrolling, one-line fields'
// horizontal scrolling, popups, resizing, and text that must not reach the
// terminal raw.
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
    // Nine entries end on row 13, just above the bar on row 14.
    size_t at = g_snapshot.find("|9 Option");
    ASSERT_NE(at, std::string::npos) << g_snapshot;
    EXPECT_NE(g_snapshot.find("|1 exit"), std::string::npos);
    EXPECT_LT(g_snapshot.find("|1 exit"), g_snapshot.find("|5 Downloads"));
    int option_row = 0;
    for (size_t i = 0; i < at; i++) option_row += g_snapshot[i] == '\n';
    EXPECT_EQ(option_row, 13);
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

}  // namespace
