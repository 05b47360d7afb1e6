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

constexpr const char16_t* CHAT = u"Pelmark tarvol v 0.05 \r\n<bob> hi\r\n<алиса> привет\r\n";

TEST_F(Layout, MainScreenAt80x24ShowsTitleChatViewInputLineAndSoftKeys) {
    g_view_text = CHAT;
    snapshot_and_close(80, 24, "hello world");
    std::string expected = "+ Kivo " + std::string(72, '-') + "+\n";
    expected += "|" + padded("Pelmark tarvol v 0.05", 78) + "|\n";
    expected += "|" + padded("<bob> hi", 78) + "|\n";
    expected += "|" + padded("<алиса> привет", 78) + "|\n";
    for (int r = 4; r <= 20; r++) expected += blank_row(80);
    expected += "|[" + padded("hello world", 76) + "]|\n";
    expected += "| Menu" + std::string(66, ' ') + "Search |\n";
    expected += "+" + std::string(78, '-') + "+\n";
    EXPECT_EQ(g_snapshot, expected);
}

TEST_F(Layout, MainScreenAt36x16KeepsEveryPartOnThePhoneSize) {
    g_view_text = CHAT;
    snapshot_and_close(36, 16, "hello world");
    std::string expected = "+ Kivo " + std::string(28, '-') + "+\n";
    expected += "|" + padded("Pelmark tarvol v 0.05", 34) + "|\n";
    expected += "|" + padded("<bob> hi", 34) + "|\n";
    expected += "|" + padded("<алиса> привет", 34) + "|\n";
    for (int r = 4; r <= 12; r++) expected += blank_row(36);
    expected += "|[" + padded("hello world", 32) + "]|\n";
    expected += "| Menu" + std::string(22, ' ') + "Search |\n";
    expected += "+" + std::string(34, '-') + "+\n";
    EXPECT_EQ(g_snapshot, expected);
}

}  // namespace
