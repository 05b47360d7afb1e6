// The chat view's rows.
//
// The view holds only the rows it shows: at each paint they are made from
// the ChatLog lines at the position, each line after its time "[HH:MM] "
// while the setting asks for it, wrapped as the view wraps (wrap_line) and
// put in one row of text each. Every step walks the rows shown (or the page
// moved over), never the whole history, so a paint costs the same with 10
// lines kept as with 8,000. While the person reads back, one row more than
// the view shows goes in: the view has more below and says so on its last row.
//
// The position (g_state.chat_view) is a line number and a row within that
// line: lines that come in later move nothing. A position whose line has
// left the log reads as the oldest line kept; one with fewer rows below it
// than the view shows reads as following the newest. Paint only reads the
// position; paging, sending and clearing write it.
//
// Own state: g_line, the one line being wrapped (UI thread only; 8 KB kept
// off the stack of every paint).
//
// Reaches g_state: chat_view (read; written by chat_view_page and
// chat_view_follow), settings.chat_timestamps (read), the ChatLog through
// chatlog_span and chatlog_line.
#include "screens/chat_view.h"

#include "state/client_state.h"

namespace {

constexpr int STAMP_UNITS = 8;  // "[HH:MM] "
constexpr int SHOWN_LINE_UNITS = STAMP_UNITS + CHATLOG_LINE_UNITS + 1;

// A row of the history: row `row` of line `line` wrapped at the view's width.
struct RowAt {
    uint64_t line;
    int row;
};

// What the view stands on at one moment: the lines kept and its size.
struct ViewFrame {
    uint64_t first, end;
    int rows, width;
};

struct ShownLine {
    char16_t text[SHOWN_LINE_UNITS];
    int length;
};
ShownLine g_line;

// Line n as shown, in g_line; false when the log no longer keeps it.
bool line_fetch(uint64_t n) {
    bool stamp = g_state.settings.chat_timestamps != 0;
    int minute = 0;
    int start = stamp ? STAMP_UNITS : 0;
    int units = chatlog_line(n, g_line.text + start, SHOWN_LINE_UNITS - start, &minute);
    if (units < 0) return false;
    if (stamp) {
        int hour = minute / 60 % 24, min = minute % 60;
        const char16_t made[STAMP_UNITS] = {u'[', (char16_t)(u'0' + hour / 10), (char16_t)(u'0' + hour % 10), u':',
                                            (char16_t)(u'0' + min / 10), (char16_t)(u'0' + min % 10), u']', u' '};
        for (int i = 0; i < STAMP_UNITS; i++) g_line.text[i] = made[i];
    }
    g_line.length = start + units;
    return true;
}

// Rows of g_line at the width; an empty line takes one.
int fetched_rows(int width) {
    int rows = 0;
    for (int at = 0; at < g_line.length; rows++) wrap_line(g_line.text, g_line.length, at, width, &at);
    return rows > 0 ? rows : 1;
}

// A line that left the log meanwhile counts as one row.
int line_rows(uint64_t n, int width) { return line_fetch(n) ? fetched_rows(width) : 1; }

RowAt rows_up(RowAt at, int k, const ViewFrame& f) {
    while (k > 0) {
        if (at.row > 0) {
            int step = k < at.row ? k : at.row;
            at.row -= step;
            k -= step;
        } else if (at.line > f.first) {
            at.line--;
            at.row = line_rows(at.line, f.width) - 1;
            k--;
        } else {
            break;
        }
    }
    return at;
}

RowAt rows_down(RowAt at, int k, const ViewFrame& f) {
    while (k > 0) {
        int rows = line_rows(at.line, f.width);
        if (at.row + k < rows) return RowAt{at.line, at.row + k};
        if (at.line + 1 >= f.end) return RowAt{at.line, rows - 1};
        k -= rows - at.row;
        at = RowAt{at.line + 1, 0};
    }
    return at;
}

// Rows from `top` to the newest row, counted up to limit.
int rows_below(RowAt top, int limit, const ViewFrame& f) {
    int count = line_rows(top.line, f.width) - top.row;
    for (uint64_t n = top.line + 1; n < f.end && count < limit; n++) count += line_rows(n, f.width);
    return count;
}

// The top row while following: the newest row ends the view (the oldest
// kept starts it when all fits).
RowAt newest_top(const ViewFrame& f) {
    RowAt last{f.end - 1, line_rows(f.end - 1, f.width) - 1};
    return rows_up(last, f.rows - 1, f);
}

// The top row the position stands for now; *reading_back tells whether the
// view is read back (rows below it than it shows) or follows the newest.
RowAt resolved_top(const ViewFrame& f, bool* reading_back) {
    const ChatViewPosition& p = g_state.chat_view;
    *reading_back = false;
    if (!p.reading_back || p.top_line >= f.end) return newest_top(f);
    RowAt top{p.top_line < f.first ? f.first : p.top_line, p.top_line < f.first ? 0 : p.top_row};
    int rows = line_rows(top.line, f.width);
    if (top.row >= rows) top.row = rows - 1;
    if (top.row < 0) top.row = 0;
    if (rows_below(top, f.rows + 1, f) <= f.rows) return newest_top(f);
    *reading_back = true;
    return top;
}

bool frame_of(Window screen, int view_id, ViewFrame* f) {
    ViewScroll v;
    if (!control_view_scroll(screen, view_id, &v) || v.shown < 1) return false;
    f->rows = v.shown;
    f->width = v.width > 0 ? v.width : 1;
    chatlog_span(&f->first, &f->end);
    return true;
}

// The view's text, one row a line (UI thread only).
struct ViewText {
    char16_t text[CONTROL_TEXT_UNITS];
    int length;
    int rows;
};
ViewText g_view;

// Adds text[from, to) as the next row (an empty row as a blank, so that a
// last empty row still counts as a row). A text out of room loses its first
// row when drop_first (the newest rows matter while following), otherwise
// the row is left out; returns false then.
bool view_add_row(const char16_t* text, int from, int to, bool drop_first) {
    int units = to > from ? to - from : 1;
    int need = (g_view.rows > 0 ? 1 : 0) + units;
    while (g_view.length + need > CONTROL_TEXT_UNITS - 1) {
        if (!drop_first || g_view.rows <= 1) return false;
        int cut = 0;
        while (g_view.text[cut] != u'\n') cut++;
        for (int i = cut + 1; i < g_view.length; i++) g_view.text[i - cut - 1] = g_view.text[i];
        g_view.length -= cut + 1;
        g_view.rows--;
    }
    if (g_view.rows > 0) g_view.text[g_view.length++] = u'\n';
    if (to > from) {
        for (int i = from; i < to; i++) g_view.text[g_view.length++] = text[i];
    } else {
        g_view.text[g_view.length++] = u' ';
    }
    g_view.rows++;
    return true;
}

}  // namespace

void chat_view_fill(Window screen, int view_id) {
    ViewFrame f;
    if (!frame_of(screen, view_id, &f)) return;
    g_view.length = 0;
    g_view.rows = 0;
    if (f.first < f.end) {
        bool reading_back = false;
        RowAt top = resolved_top(f, &reading_back);
        int want = reading_back ? f.rows + 1 : f.rows;
        bool room = true;
        for (uint64_t n = top.line; n < f.end && g_view.rows < want && room; n++) {
            if (!line_fetch(n)) continue;  // left the log since: the next one follows
            int row = 0;
            int at = 0;
            do {
                int next;
                int row_end = wrap_line(g_line.text, g_line.length, at, f.width, &next);
                if (n != top.line || row >= top.row) room = view_add_row(g_line.text, at, row_end, !reading_back);
                at = next;
                row++;
            } while (at < g_line.length && g_view.rows < want && room);
        }
    }
    g_view.text[g_view.length] = 0;
    control_set_text(screen, view_id, g_view.text);
}

void chat_view_page(Window screen, int view_id, uint16_t request) {
    ViewFrame f;
    if (!frame_of(screen, view_id, &f)) return;
    repaint_request(screen);
    if (request == SB_BOTTOM || f.first >= f.end) {
        chat_view_follow();
        return;
    }
    bool reading_back = false;
    RowAt top = resolved_top(f, &reading_back);
    int page = f.rows > 1 ? f.rows - 1 : 1;
    if (request == SB_TOP) top = RowAt{f.first, 0};
    else if (request == SB_PAGEUP) top = rows_up(top, page, f);
    else if (request == SB_PAGEDOWN) top = rows_down(top, page, f);
    if (rows_below(top, f.rows + 1, f) <= f.rows) {
        chat_view_follow();
        return;
    }
    g_state.chat_view = ChatViewPosition{1, top.line, top.row};
}

void chat_view_follow() { g_state.chat_view.reading_back = 0; }
