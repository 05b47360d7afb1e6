// The Downloads screen: the queue, one entry a row.
//
// Each row shows an entry in columns laid out for the list's width: name,
// percentage, state word (queue_state_text), size, speed, user and "TLS".
// Columns go from the right as the width shrinks, so a phone's narrow
// screen keeps name, percentage and state; the name keeps at least
// NAME_MIN_CELLS, and room left over goes to the name, then to the state
// (a failure's reason, whole in the details). The size is the entry's (the one the search result gave,
// known before the peer says it). The percentage and the speed of a running
// entry come from its job's counts (atomic accessors): the speed is the rate
// over the last sample of about a second, taken only while the job receives,
// so the part a transfer resumed from never counts as speed. "TLS": the
// running transfer's link, or a finished entry's last transfer. The title
// counts the entries: "Downloads (2 running, 5 in all)".
//
// Refresh: the screen looks four times a second while a worker runs and not
// at all otherwise; the queue (and the hub, at a $ConnectToMe) tells it of
// every other change with WM_DOWNLOAD_CHANGED. A look formats each row and
// lists them anew only when a row's text, the entries or the width changed;
// the selection stays with its entry (by id) wherever it moved, or at its
// place when the entry is gone.
//
// The Action key shows the selected entry's details in a box; the menu
// pauses, resumes, retries, moves and removes it (Remove asks first), and
// clears the finished entries.
//
// State of this file alone: the picture of the open screen's list (below)
// and each job's speed sample; only this screen's looks read them.
//
// Reaches g_state: the queue (read; changed through hub/queue), the jobs'
// counts, phases and links (atomic accessors), the download folder (read),
// module_instance, progress_window.
#include "screens/progress_screen.h"

#include "hub/queue.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/byte_size.h"
#include "state/client_state.h"

namespace {

// How often the screen looks while a worker runs.
constexpr uint32_t PROGRESS_TIMER = 1;
constexpr int PROGRESS_LOOK_MS = 250;
constexpr uint64_t SPEED_SAMPLE_MS = 1000;

// One row: at most a display's width of cells, and the terminator.
constexpr int ROW_UNITS = 512;
constexpr int STATE_UNITS = 120;  // "failed: " and a 60-byte reason, or a nick and the passive hint
constexpr int DETAILS_UNITS = 1024;  // a message box shows no more
constexpr int QUESTION_UNITS = 200;
constexpr int PATH_UNITS = DOWNLOAD_FOLDER_UNITS + QUEUE_NAME_BYTES + 1;

// Column widths in cells; 0: the column is left out.
constexpr int NAME_MIN_CELLS = 10;
constexpr int NAME_WANT_CELLS = 24;
constexpr int PERCENT_CELLS = 4;      // "100%"
constexpr int STATE_MIN_CELLS = 10;   // "connecting"
constexpr int STATE_MAX_CELLS = 40;
constexpr int SIZE_CELLS = 10;        // "1023.9 MiB"
constexpr int SPEED_CELLS = 12;       // "1023.9 KiB/s"
constexpr int USER_MIN_CELLS = 8;
constexpr int USER_MAX_CELLS = 12;
constexpr int TLS_CELLS = 3;

struct QueueColumns {
    int name, percent, state, size, speed, user, tls;
};

// What the list shows: for each position the entry's id and a hash of its
// text, the width they were laid out for and the title.
struct QueuePicture {
    int32_t count;  // entries listed; 0 while the queue is empty (the list then holds a hint)
    uint32_t id[QUEUE_ENTRIES];
    uint64_t hash[QUEUE_ENTRIES];
    int32_t cells;
    uint8_t filled;  // the list has been filled since the screen opened
    uint8_t timer_on;
    char16_t title[WINDOW_TITLE_UNITS];
};
QueuePicture g_picture;

// The speed of each job: the entry it was sampled for (0: no sample, the
// job does not receive), when, the count then, the rate over the last sample.
struct SpeedSample {
    uint32_t entry_id;
    uint64_t ms;
    uint64_t bytes;
    uint32_t speed;
};
SpeedSample g_speed[DOWNLOAD_JOBS];

// A new sample for each job that receives, at most once a SPEED_SAMPLE_MS; a
// job seen receiving for the first time starts from its count now.
void sample_speeds() {
    uint64_t now = monotonic_ms();
    for (int job = 0; job < DOWNLOAD_JOBS; job++) {
        SpeedSample& s = g_speed[job];
        uint32_t id = g_state.jobs[job].entry_id;
        uint64_t received = download_received(job);
        if (download_phase(job) != DOWNLOAD_RECEIVING || id == 0) {
            s = SpeedSample{};
        } else if (s.entry_id != id) {
            s = SpeedSample{id, now, received, 0};
        } else if (now - s.ms >= SPEED_SAMPLE_MS) {
            uint64_t bytes = received >= s.bytes ? received - s.bytes : 0;
            s.speed = (uint32_t)(bytes * 1000 / (now - s.ms));
            s.ms = now;
            s.bytes = received;
        }
    }
}

// Takes up to `most` cells from *rest into *column.
void widen(int* column, int most, int* rest) {
    int grow = *rest < most ? *rest : most;
    *column += grow;
    *rest -= grow;
}

// The columns for entries of `cells` cells: the name first, then each other
// column while it fits with a blank before it. What is left widens the name
// to NAME_WANT_CELLS first (most names fit), then the state (a failure's
// reason), the user, and the name again.
QueueColumns columns_for(int cells) {
    QueueColumns c{cells, 0, 0, 0, 0, 0, 0};
    int rest = cells - NAME_MIN_CELLS;
    int* const column[] = {&c.percent, &c.state, &c.size, &c.speed, &c.user, &c.tls};
    const int need[] = {PERCENT_CELLS, STATE_MIN_CELLS, SIZE_CELLS, SPEED_CELLS, USER_MIN_CELLS, TLS_CELLS};
    for (int k = 0; k < 6 && rest >= need[k] + 1; k++) {
        *column[k] = need[k];
        rest -= need[k] + 1;
    }
    if (rest < 0) return c;  // not even the name's least: the name alone
    c.name = NAME_MIN_CELLS;
    widen(&c.name, NAME_WANT_CELLS - NAME_MIN_CELLS, &rest);
    if (c.state > 0) widen(&c.state, STATE_MAX_CELLS - STATE_MIN_CELLS, &rest);
    if (c.user > 0) widen(&c.user, USER_MAX_CELLS - USER_MIN_CELLS, &rest);
    c.name += rest;
    return c;
}

// What an entry holds and how big it is, as shown: a receiving job's count,
// else the last known; the size the result gave, or the peer's when it gave
// none.
void entry_counts(int index, int job, uint64_t* held, uint64_t* size) {
    const QueueEntry& e = g_state.queue[index];
    *held = e.held;
    *size = e.size;
    if (job >= 0) {
        if (*size == 0) *size = download_total(job);
        DownloadPhase phase = download_phase(job);
        if (phase == DOWNLOAD_RECEIVING || phase == DOWNLOAD_VERIFYING || phase == DOWNLOAD_ENDING) {
            *held = download_received(job);
        }
    }
    if (e.state == QUEUE_DONE) *held = *size;
}

// The entry at queue index `index`, laid out for `cells` cells.
void format_entry(int index, int cells, char16_t* line, int units) {
    const QueueEntry& e = g_state.queue[index];
    int job = queue_job_of(index);
    QueueColumns c = columns_for(cells);
    char16_t field[STATE_UNITS];
    int at = 0;
    line[0] = 0;
    encoded_to_utf16(e.encoding, queue_text(&e, QUEUE_NAME), -1, field, STATE_UNITS);
    column_put(line, units, &at, field, c.name, false);
    uint64_t held, size;
    entry_counts(index, job, &held, &size);
    if (c.percent > 0) {
        field[0] = 0;
        if (size > 0) wide_format(field, STATE_UNITS, u"%u%%", (uint32_t)((held < size ? held : size) * 100 / size));
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.percent, true);
    }
    if (c.state > 0) {
        queue_state_text(index, field, STATE_UNITS);
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.state, false);
    }
    if (c.size > 0) {
        field[0] = 0;
        if (size > 0) byte_size_text(size, field, STATE_UNITS);
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.size, true);
    }
    if (c.speed > 0) {
        field[0] = 0;
        if (job >= 0 && g_speed[job].entry_id == e.id && g_speed[job].ms != 0) {
            int length = byte_size_text(g_speed[job].speed, field, STATE_UNITS);
            u16_copy(field + length, STATE_UNITS - length, u"/s");
        }
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.speed, true);
    }
    if (c.user > 0) {
        encoded_to_utf16(e.encoding, queue_text(&e, QUEUE_NICK), -1, field, STATE_UNITS);
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, field, c.user, false);
    }
    if (c.tls > 0) {
        bool tls = job >= 0 ? download_phase(job) >= DOWNLOAD_CONNECTING && download_link(job) == DOWNLOAD_LINK_TLS
                            : e.state == QUEUE_DONE && e.tls != 0;
        column_put(line, units, &at, u" ", 1, false);
        column_put(line, units, &at, tls ? u"TLS" : u"", c.tls, false);
    }
}

// FNV-1a over a row's units: a look lists anew only when one differs.
uint64_t row_hash(const char16_t* text) {
    uint64_t h = 14695981039346656037ull;
    for (; *text != 0; text++) h = (h ^ (uint64_t)*text) * 1099511628211ull;
    return h;
}

int index_of_id(uint32_t id) {
    for (int i = 0; i < g_state.queue_count; i++) {
        if (g_state.queue[i].id == id) return i;
    }
    return -1;
}

// The queue index of the entry selected on the list, or -1.
int selected_index(Window screen) {
    intptr_t p = control_send(screen, ID_PROGRESS_LIST, LB_GETCURSEL, 0, 0);
    if (p < 0 || p >= g_picture.count) return -1;
    return index_of_id(g_picture.id[p]);
}

void show_title(Window screen) {
    char16_t title[WINDOW_TITLE_UNITS];
    if (g_state.queue_count == 0) {
        u16_copy(title, WINDOW_TITLE_UNITS, u"Downloads");
    } else {
        wide_format(title, WINDOW_TITLE_UNITS, u"Downloads (%d running, %d in all)", queue_running_count(),
                    (int)g_state.queue_count);
    }
    if (u16_len(title) == u16_len(g_picture.title) && row_hash(title) == row_hash(g_picture.title)) return;
    u16_copy(g_picture.title, WINDOW_TITLE_UNITS, title);
    window_set_title(screen, title);
    repaint_request(screen);
}

// Lists every entry anew for the list's width; the selected entry stays
// selected wherever it now is, or its place when it is gone.
void fill_list(Window screen) {
    intptr_t position = control_send(screen, ID_PROGRESS_LIST, LB_GETCURSEL, 0, 0);
    uint32_t selected = position >= 0 && position < g_picture.count ? g_picture.id[position] : 0;
    control_send(screen, ID_PROGRESS_LIST, LB_RESETCONTENT, 0, 0);
    g_picture.count = 0;
    g_picture.filled = 1;
    g_picture.cells = list_text_cells(screen, ID_PROGRESS_LIST);
    if (g_state.queue_count == 0) {
        control_send(screen, ID_PROGRESS_LIST, LB_ADDSTRING, 0, (LPARAM)u"the queue is empty");
        control_send(screen, ID_PROGRESS_LIST, LB_ADDSTRING, 0, (LPARAM)u"to add: Download on a search result");
        repaint_request(screen);
        return;
    }
    for (int i = 0; i < g_state.queue_count; i++) {
        char16_t line[ROW_UNITS];
        format_entry(i, g_picture.cells, line, ROW_UNITS);
        // A list out of room refuses entries: stop, so positions stay true.
        if (control_send(screen, ID_PROGRESS_LIST, LB_ADDSTRING, 0, (LPARAM)line) < 0) break;
        g_picture.id[g_picture.count] = g_state.queue[i].id;
        g_picture.hash[g_picture.count] = row_hash(line);
        g_picture.count++;
        if (g_state.queue[i].id == selected) position = g_picture.count - 1;
    }
    if (position >= g_picture.count) position = g_picture.count - 1;
    if (position >= 0) control_send(screen, ID_PROGRESS_LIST, LB_SETCURSEL, (WPARAM)position, 0);
    repaint_request(screen);
}

// Whether the list shows what the queue holds now, row for row.
bool list_current(Window screen) {
    if (!g_picture.filled || g_picture.cells != list_text_cells(screen, ID_PROGRESS_LIST)) return false;
    if (g_picture.count != g_state.queue_count) return false;
    for (int i = 0; i < g_state.queue_count; i++) {
        char16_t line[ROW_UNITS];
        format_entry(i, g_picture.cells, line, ROW_UNITS);
        if (g_picture.id[i] != g_state.queue[i].id || g_picture.hash[i] != row_hash(line)) return false;
    }
    return true;
}

// Looks at the queue and the jobs and shows what changed. The timer runs
// exactly while a worker does, as the last look saw it.
void look_and_show(Window screen) {
    sample_speeds();
    show_title(screen);
    if (!list_current(screen)) fill_list(screen);
    bool running = download_any_running();
    if (running && !g_picture.timer_on) timer_set(screen, PROGRESS_TIMER, PROGRESS_LOOK_MS);
    if (!running && g_picture.timer_on) timer_kill(screen, PROGRESS_TIMER);
    g_picture.timer_on = running ? 1 : 0;
}

// The entry's own file: the download folder and its name.
void target_path(const QueueEntry& e, char16_t* path, int units) {
    u16_copy(path, units, g_state.settings.download_folder);
    int length = u16_len(path);
    if (length > 0 && path[length - 1] != u'/') u16_append(path, units, u"/");
    char16_t name[QUEUE_NAME_BYTES];
    encoded_to_utf16(e.encoding, queue_text(&e, QUEUE_NAME), -1, name, QUEUE_NAME_BYTES);
    u16_append(path, units, name);
}

// The Action key: where the file goes, what it is, where from, how it went.
void command_details(Window screen) {
    int index = selected_index(screen);
    if (index < 0) return;  // no entry selected: nothing to show
    const QueueEntry& e = g_state.queue[index];
    char16_t path[PATH_UNITS];
    target_path(e, path, PATH_UNITS);
    char16_t nick[RESULT_NICK_BYTES];
    char16_t source[QUEUE_PATH_BYTES];
    char16_t error[DOWNLOAD_DETAIL_BYTES];
    char16_t state[STATE_UNITS];
    encoded_to_utf16(e.encoding, queue_text(&e, QUEUE_NICK), -1, nick, RESULT_NICK_BYTES);
    encoded_to_utf16(e.encoding, queue_text(&e, QUEUE_PATH), -1, source, QUEUE_PATH_BYTES);
    encoded_to_utf16(e.encoding, queue_text(&e, QUEUE_ERROR), -1, error, DOWNLOAD_DETAIL_BYTES);
    queue_state_text(index, state, STATE_UNITS);
    uint64_t held, size;
    entry_counts(index, queue_job_of(index), &held, &size);
    char16_t text[DETAILS_UNITS];
    wide_format(text, DETAILS_UNITS,
                u"%s\nto: %s\nfrom: %s: %s\nTTH: %S\nheld: %llu of %llu bytes\ntries: %u\nlast error: %s",
                state, path, nick, source, queue_text(&e, QUEUE_TTH)[0] != 0 ? queue_text(&e, QUEUE_TTH) : "none", (unsigned long long)held,
                (unsigned long long)size, (uint32_t)e.tries, error[0] != 0 ? error : u"none");
    message_box(screen, text, u"Details", 0);
}

void command_pause(Window screen) {
    queue_pause(selected_index(screen));
    look_and_show(screen);
}

void command_resume(Window screen) {
    queue_resume(selected_index(screen));
    look_and_show(screen);
}

void command_retry(Window screen) {
    queue_retry(selected_index(screen));
    look_and_show(screen);
}

// The selection follows the entry: it is kept by id.
void command_up(Window screen) {
    queue_move(selected_index(screen), -1);
    look_and_show(screen);
}

void command_down(Window screen) {
    queue_move(selected_index(screen), +1);
    look_and_show(screen);
}

// Asks first: a removed entry's part is deleted with it (a finished file
// stays where it is).
void command_remove(Window screen) {
    int index = selected_index(screen);
    if (index < 0) return;
    uint32_t id = g_state.queue[index].id;
    char16_t name[QUEUE_NAME_BYTES];
    encoded_to_utf16(g_state.queue[index].encoding, queue_text(&g_state.queue[index], QUEUE_NAME), -1, name, QUEUE_NAME_BYTES);
    char16_t question[QUESTION_UNITS];
    wide_format(question, QUESTION_UNITS,
                g_state.queue[index].state == QUEUE_DONE ? u"remove %s from the queue? The file stays."
                                                         : u"remove %s from the queue? What came of it is deleted.",
                name);
    if (message_box(screen, question, u"Remove", MB_OKCANCEL) != IDOK) return;
    // The queue may have changed while the question was open.
    queue_remove(index_of_id(id));
    look_and_show(screen);
}

void command_clear(Window screen) {
    queue_clear_finished();
    look_and_show(screen);
}

intptr_t progress_screen_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_PROGRESS, g_state.module_instance)) return FALSE;
    g_state.progress_window = screen;
    g_picture.count = 0;
    g_picture.filled = 0;
    g_picture.timer_on = 0;
    g_picture.title[0] = 0;
    for (SpeedSample& s : g_speed) s = SpeedSample{};
    look_and_show(screen);
    return TRUE;
}

void progress_screen_close(Window screen) {
    g_state.progress_window = 0;
    timer_kill(screen, PROGRESS_TIMER);
    dialog_end(screen, 0);
}

intptr_t progress_screen_other(Window screen, uint32_t message, WPARAM wparam, LPARAM) {
    if ((message == WM_TIMER && wparam == PROGRESS_TIMER) || message == WM_DOWNLOAD_CHANGED) {
        look_and_show(screen);
        return TRUE;
    }
    return FALSE;
}

// Entries are laid out for the list's width: a new width lays them out anew.
void progress_screen_paint(Window screen) {
    if (list_text_cells(screen, ID_PROGRESS_LIST) != g_picture.cells) fill_list(screen);
}

const ScreenCommand PROGRESS_COMMANDS[] = {
    {IDOK, command_details},           {CMD_QUEUE_DETAILS, command_details},
    {CMD_SCREEN_EXIT, progress_screen_close}, {CMD_QUEUE_PAUSE, command_pause},
    {CMD_QUEUE_RESUME, command_resume}, {CMD_QUEUE_RETRY, command_retry},
    {CMD_QUEUE_UP, command_up},         {CMD_QUEUE_DOWN, command_down},
    {CMD_QUEUE_REMOVE, command_remove}, {CMD_QUEUE_CLEAR, command_clear},
};

const ScreenKind PROGRESS_SCREEN = {
    progress_screen_open, progress_screen_paint, progress_screen_close, PROGRESS_COMMANDS,
    command_count(PROGRESS_COMMANDS), progress_screen_other, nullptr, false,
};

}  // namespace

intptr_t progress_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(PROGRESS_SCREEN, screen, message, wparam, lparam);
}
