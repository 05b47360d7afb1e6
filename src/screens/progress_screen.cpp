// The download progress screen.
//
// It shows the DownloadJob: the short name in the File label, the line
// "<received> / <total> bytes" in the Size label and the same counts on the
// progress bar, and a state line: the state word (waiting, connecting,
// receiving, then done, failed or stopped), the peer, the percentage,
// while receiving the speed, and once the worker has reached the peer how the
// connection runs: "TLS" or "plain". The worker writes the counts; this screen only
// reads them, through the atomic accessors, and repaints only when something
// it shows has changed. It looks four times a second while a worker runs,
// and not at all otherwise: a request that waits changes only when its
// $ConnectToMe starts the worker, and the hub tells the screen of that
// (WM_DOWNLOAD_CHANGED), so a waiting request costs no wake-up at all.
// "Stop" asks the running worker to end (the worker writes the note),
// or withdraws a request that no $ConnectToMe has answered yet.
//
// State of this file alone: what the open screen shows and the speed's last
// sample, which only its look compares with the job.
//
// Reaches g_state: the DownloadJob (its counts through the atomic accessors),
// module_instance, progress_window, the ChatLog.
#include "screens/progress_screen.h"

#include "hub/queue.h"
#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/client_state.h"

namespace {

constexpr int PROGRESS_NAME_UNITS = 255;  // the short name, terminator included
constexpr int PROGRESS_LINE_UNITS = 64;   // two 20-digit numbers and " /  bytes"
constexpr int STATE_LINE_UNITS = 120;     // word, " from ", a 49-byte nick, percentage, speed
// How often the screen looks at the job while a worker runs.
constexpr uint32_t PROGRESS_TIMER = 1;
constexpr int PROGRESS_LOOK_MS = 250;
constexpr uint64_t SPEED_SAMPLE_MS = 1000;

// What the screen shows, to tell whether a look finds anything new.
struct Shown {
    int16_t row;
    uint8_t phase;
    uint8_t outcome;
    uint64_t received;
    uint64_t total;
    uint32_t speed;  // bytes a second over the last sample
    uint8_t link;    // a DownloadLink
};

Shown g_shown;
// The speed's last sample: when, and how many bytes were in then.
uint64_t g_sample_ms;
uint64_t g_sample_bytes;

Shown look() {
    Shown now = {(int16_t)(download_phase(0) == DOWNLOAD_IDLE ? -1 : 0), (uint8_t)download_phase(0), (uint8_t)download_outcome(0), download_received(0),
                 download_total(0), g_shown.speed, (uint8_t)download_link(0)};
    uint64_t ms = monotonic_ms();
    if (now.phase != DOWNLOAD_RECEIVING) {
        now.speed = 0;
        g_sample_ms = ms;
        g_sample_bytes = now.received;
    } else if (ms - g_sample_ms >= SPEED_SAMPLE_MS) {
        uint64_t bytes = now.received >= g_sample_bytes ? now.received - g_sample_bytes : 0;
        now.speed = (uint32_t)(bytes * 1000 / (ms - g_sample_ms));
        g_sample_ms = ms;
        g_sample_bytes = now.received;
    }
    return now;
}

bool same(const Shown& a, const Shown& b) {
    return a.row == b.row && a.phase == b.phase && a.outcome == b.outcome && a.received == b.received &&
           a.total == b.total && a.speed == b.speed && a.link == b.link;
}

const char16_t* state_word(const Shown& s) {
    switch (s.phase) {
    case DOWNLOAD_REQUESTED:
        return u"waiting";
    case DOWNLOAD_CONNECTING:
        return u"connecting";
    case DOWNLOAD_RECEIVING:
    case DOWNLOAD_VERIFYING:
    case DOWNLOAD_ENDING:
        return u"receiving";
    default:
        break;
    }
    switch (s.outcome) {
    case DOWNLOAD_DONE:
        return u"done";
    case DOWNLOAD_FAILED:
        return u"failed";
    case DOWNLOAD_STOPPED:
        return u"stopped";
    default:
        return u"";
    }
}

// The bar takes a signed 32-bit range: totals beyond it are scaled down, both
// numbers by the same power of two.
void show(Window screen, const Shown& s) {
    g_shown = s;
    if (g_state.jobs[0].nick[0] == '\0') return;  // no download yet: the labels stay
    char16_t name[PROGRESS_NAME_UNITS];
    hub_text_to_utf16(g_state.jobs[0].short_name, -1, name, PROGRESS_NAME_UNITS);
    control_set_text(screen, ID_PROGRESS_FILE, name);

    char16_t line[PROGRESS_LINE_UNITS];
    wide_format(line, PROGRESS_LINE_UNITS, u"%llu / %llu bytes", (unsigned long long)s.received,
                (unsigned long long)s.total);
    control_set_text(screen, ID_PROGRESS_SIZE, line);
    int shift = 0;
    while ((s.total >> shift) > (uint64_t)INT32_MAX) shift++;
    uint64_t position = s.received < s.total ? s.received : s.total;
    control_send(screen, ID_PROGRESS_BAR, PBM_SETRANGE32, 0, (LPARAM)(s.total >> shift));
    control_send(screen, ID_PROGRESS_BAR, PBM_SETPOS, (WPARAM)(position >> shift), 0);

    char16_t nick[RESULT_NICK_BYTES];
    hub_text_to_utf16(g_state.jobs[0].nick, -1, nick, RESULT_NICK_BYTES);
    char16_t state[STATE_LINE_UNITS];
    wide_format(state, STATE_LINE_UNITS, u"%s from %s", state_word(s), nick);
    if (s.total > 0) {
        char16_t part[32];
        wide_format(part, 32, u"  %u%%", (uint32_t)(position * 100 / s.total));
        u16_append(state, STATE_LINE_UNITS, part);
    }
    if (s.phase == DOWNLOAD_RECEIVING) {
        char16_t part[32];
        wide_format(part, 32, u"  %u KiB/s", s.speed >> 10);
        u16_append(state, STATE_LINE_UNITS, part);
    }
    // A request waiting again (its last peer was not the owner) has no link.
    if (s.link != DOWNLOAD_LINK_NONE && s.phase != DOWNLOAD_REQUESTED) {
        u16_append(state, STATE_LINE_UNITS, s.link == DOWNLOAD_LINK_TLS ? u"  TLS" : u"  plain");
    }
    control_set_text(screen, ID_PROGRESS_STATE, state);
    repaint_request(screen);
}

bool worker_runs(const Shown& s) { return s.phase >= DOWNLOAD_CONNECTING; }

// Looks at the job and shows what changed. The timer runs exactly while a
// worker does, as the last look saw it: the look after a worker's end shows
// the outcome and stops it, a look that finds one running starts it.
void look_and_show(Window screen) {
    bool timer_running = worker_runs(g_shown);
    Shown now = look();
    if (!same(now, g_shown)) show(screen, now);
    if (worker_runs(now) && !timer_running) timer_set(screen, PROGRESS_TIMER, PROGRESS_LOOK_MS);
    if (!worker_runs(now) && timer_running) timer_kill(screen, PROGRESS_TIMER);
}

intptr_t progress_screen_open(Window screen) {
    if (!screen_open_full(screen, MENUBAR_PROGRESS, g_state.module_instance)) return FALSE;
    g_state.progress_window = screen;
    g_shown = Shown{};
    g_sample_ms = monotonic_ms();
    g_sample_bytes = download_received(0);
    show(screen, look());
    if (worker_runs(g_shown)) timer_set(screen, PROGRESS_TIMER, PROGRESS_LOOK_MS);
    return TRUE;
}

void progress_screen_close(Window screen) {
    g_state.progress_window = 0;
    timer_kill(screen, PROGRESS_TIMER);
    dialog_end(screen, 0);
}

intptr_t progress_screen_other(Window screen, uint32_t message, WPARAM wparam, LPARAM) {
    if (message == WM_TIMER && wparam == PROGRESS_TIMER) {
        look_and_show(screen);
        return TRUE;
    }
    if (message == WM_DOWNLOAD_CHANGED) {
        look_and_show(screen);
        return TRUE;
    }
    return FALSE;
}

// A running download is asked to end (the worker writes the note); a request
// still waiting for its $ConnectToMe is withdrawn, so a late one starts nothing.
void command_stop(Window screen) {
    download_lock();
    bool withdrawn = download_requested(0);
    if (withdrawn) {
        download_set_phase(0, DOWNLOAD_IDLE);
    } else if (download_running(0)) {
        download_set_stop(0, 1);
    }
    download_unlock();
    if (withdrawn) {
        download_set_outcome(0, DOWNLOAD_STOPPED);
        chatlog_append_line(" ::download stopped:: request withdrawn");
        look_and_show(screen);
    }
}

// The Action key does nothing here: the screen stays.
void command_ok(Window) {}

const ScreenCommand PROGRESS_COMMANDS[] = {
    {IDOK, command_ok},
    {CMD_SCREEN_EXIT, progress_screen_close},
    {CMD_STOP, command_stop},
};

const ScreenKind PROGRESS_SCREEN = {
    progress_screen_open, nullptr, progress_screen_close, PROGRESS_COMMANDS, command_count(PROGRESS_COMMANDS),
    progress_screen_other, nullptr, false,
};

}  // namespace

intptr_t progress_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(PROGRESS_SCREEN, screen, message, wparam, lparam);
}
