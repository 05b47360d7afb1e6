// What the grid shows of focus and selection (reverse video, read through
// display_row_marks) and of characters of every width: wide ones take two
// cells, what has no width shows as '?', and the frame never moves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "screen_fixture.h"

namespace {

std::vector<uint16_t> g_list_notes;
Window g_window;

intptr_t plain_proc(Window w, uint32_t message, WPARAM wparam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        g_window = w;
        Window bar;
        fullscreen_init(w, SHIDIM_FLAGS, SHIDIF_FULLSCREEN);
        softkey_bar_create(w, MENUBAR_MAIN, KIVO_INSTANCE, &bar);
        send_message(bar, SHCMBM_OVERRIDEKEY, VK_BACK_KEY, SHMBOF_OVERRIDE_BACK);
        return TRUE;
    }
    case WM_COMMAND:
        if (low_word(wparam) == ID_SEARCH_LIST) g_list_notes.push_back(high_word(wparam));
        return FALSE;
    case WM_CLOSE:
        dialog_end(w, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

intptr_t search_like_proc(Window w, uint32_t message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
        control_send(w, ID_SEARCH_LIST, LB_ADDSTRING, 0, (LPARAM)u"first.mp3");
        control_send(w, ID_SEARCH_LIST, LB_ADDSTRING, 0, (LPARAM)u"second.mp3");
    }
    return plain_proc(w, message, wparam, lparam);
}

std::string marks(int row) {
    char out[DISPLAY_COLS_MAX + 1];
    display_row_marks(row, out, sizeof out);
    return out;
}

// The columns of the row whose mark is 'R', as "first-last" ranges.
std::string reverse_span(int row) {
    std::string m = marks(row), spans;
    for (int c = 0; c < (int)m.size(); c++) {
        if (m[c] != 'R' || (c > 0 && m[c - 1] == 'R')) continue;
        int end = c;
        while (end + 1 < (int)m.size() && m[end + 1] == 'R') end++;
        if (!spans.empty()) spans += ",";
        spans += std::to_string(c);
        spans += "-";
        spans += std::to_string(end);
    }
    return spans;
}

class Cells : public ScreenTest {};

// The search screen's order: edit field, OK button, list. Down moves the
// focus through them; each shows it in reverse video, and the list, reached
// with entries and no selection, selects its first row as a key would.
TEST_F(Cells, FocusAndSelectionAreInReverseVideo) {
    g_list_notes.clear();
    static std::string edit_spans, button_spans, list_spans, second_spans, before_list;
    static int edit_row, list_row;
    static intptr_t selection;
    IdleScript script;
    script.add([](void*) {
        edit_row = display_find("[");
        edit_spans = reverse_span(edit_row);
        before_list = reverse_span(display_find(" first.mp3"));
        display_press(DISPLAY_KEY_DOWN);
        return true;
    });
    script.add([](void*) {
        button_spans = reverse_span(display_find("<OK>"));
        display_press(DISPLAY_KEY_DOWN);
        return true;
    });
    script.add([](void*) {
        list_row = display_find(">first.mp3");
        list_spans = reverse_span(list_row);
        second_spans = reverse_span(display_find(" second.mp3"));
        selection = control_send(g_window, ID_SEARCH_LIST, LB_GETCURSEL, 0, 0);
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_SEARCH, 0, search_like_proc, 0);
    EXPECT_EQ(script.next, script.count);
    ASSERT_EQ(edit_row, 1);
    std::string row = grid_row(1);
    int open = (int)row.find('['), close = (int)row.find(']');
    EXPECT_EQ(edit_spans, std::to_string(open) + "-" + std::to_string(open) + "," + std::to_string(close) + "-" +
                              std::to_string(close))
        << "only the focused field's brackets: " << row;
    EXPECT_EQ(before_list, "") << "an unfocused list with no selection has no mark";
    EXPECT_FALSE(button_spans.empty());
    EXPECT_EQ(selection, 0);
    EXPECT_GE(list_row, 2);
    EXPECT_EQ(list_spans, "1-78") << "the selected row, across the list's width";
    EXPECT_EQ(second_spans, "");
    EXPECT_EQ(g_list_notes, (std::vector<uint16_t>{LBN_SELCHANGE}));
}

// Frame columns of every row: corners and sides where they belong.
void expect_frame_intact(const char* when) {
    const DisplayGrid* g = display_snapshot();
    int last = g->cols - 1;
    for (int r = 0; r < g->rows; r++) {
        bool edge = r == 0 || r == g->rows - 1;
        EXPECT_EQ(g->cells[r][0].ch, edge ? U'+' : U'|') << when << " row " << r << "\n" << grid_text();
        EXPECT_EQ(g->cells[r][last].ch, edge ? U'+' : U'|') << when << " row " << r << "\n" << grid_text();
    }
}

// U+4E2D and U+2B50 and U+1F600 are two cells wide; U+0301 (combining) has
// no width of its own and shows as '?'. At 40 columns the input line has 36
// cells between its brackets.
TEST_F(Cells, WideCharactersTakeTwoCellsAndTheFrameStays) {
    display_start_headless(40, 16);
    static int row, caret_col, bracket_col;
    static std::string typed_row, cut_row, view_rows;
    static DisplayCell wide_head, wide_tail;
    IdleScript script;
    script.add([](void*) {
        control_set_text(g_window, ID_MAIN_CHAT_VIEW,
                         u"<bob> \u4E2D\u4E2D \U0001F600 e\u0301 \xD800|\r\n"
                         u"yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy\u4E2Dz\r\n");
        display_type("a\u4E2D\U0001F600\u2B50e\u0301b");
        return true;
    });
    script.add([](void*) {
        row = display_find("[a");
        typed_row = grid_row(row);
        bracket_col = 1;
        caret_col = display_snapshot()->cursor_col;
        wide_head = display_snapshot()->cells[row][3];
        wide_tail = display_snapshot()->cells[row][4];
        view_rows = grid_text();
        expect_frame_intact("typed");
        // 35 cells of x, then a wide character that would need the 36th and a 37th.
        control_set_text(g_window, ID_MAIN_INPUT_LINE, u"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\u4E2D");
        return true;
    });
    script.add([](void*) {
        cut_row = grid_row(row);
        expect_frame_intact("cut");
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, plain_proc, 0);
    EXPECT_EQ(script.next, script.count);
    EXPECT_EQ(typed_row, "|[a\u4E2D\U0001F600\u2B50e?b" + std::string(26, ' ') + "]|");
    // a(1) + three wide (6) + e(1) + ?(1) + b(1): the caret's cell is the 11th inside.
    EXPECT_EQ(caret_col, bracket_col + 1 + 10);
    EXPECT_EQ(wide_head.ch, U'\u4E2D');
    EXPECT_EQ(wide_tail.ch, CELL_WIDE_TAIL);
    EXPECT_EQ(cut_row, "|[" + std::string(35, 'x') + "?]|");
    EXPECT_NE(view_rows.find("|<bob> \u4E2D\u4E2D \U0001F600 e? ?|    "), std::string::npos) << view_rows;
    // 37 cells of y leave one cell of the 38: the wide character wraps whole.
    EXPECT_NE(view_rows.find("|" + std::string(37, 'y') + " |"), std::string::npos) << view_rows;
    EXPECT_NE(view_rows.find("|\u4E2Dz"), std::string::npos) << view_rows;
}

// A popup drawn over half of a wide character leaves no half behind.
TEST_F(Cells, OverwritingHalfAWideCharacterBlanksItsOtherHalf) {
    display_start_headless(40, 16);
    static std::string rows;
    IdleScript script;
    script.add([](void*) {
        std::u16string wide;
        for (int i = 0; i < 19; i++) wide += u'\u4E2D';
        std::u16string text;
        for (int i = 0; i < 12; i++) text += u" " + wide + u"\r\n";
        control_set_text(g_window, ID_MAIN_CHAT_VIEW, text.c_str());
        display_press(DISPLAY_KEY_SOFT_LEFT);  // the menu popup over the view
        return true;
    });
    script.add([](void*) {
        rows = grid_text();
        expect_frame_intact("popup");
        const DisplayGrid* g = display_snapshot();
        for (int r = 0; r < g->rows; r++)
            for (int c = 0; c < g->cols; c++) {
                if (g->cells[r][c].ch != CELL_WIDE_TAIL) continue;
                EXPECT_GT(c, 0);
                EXPECT_EQ(g->cells[r][c - 1].ch, U'\u4E2D') << "row " << r << " col " << c << "\n" << rows;
            }
        display_press(DISPLAY_KEY_BACK);
        display_press(DISPLAY_KEY_CLOSE);
        return true;
    });
    display_set_idle_hook(IdleScript::hook, &script);
    dialog_run(KIVO_INSTANCE, DIALOG_MAIN, 0, plain_proc, 0);
    EXPECT_EQ(script.next, script.count);
}

}  // namespace
