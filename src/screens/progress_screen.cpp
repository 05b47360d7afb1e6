// The download progress screen.
//
// It shows the DownloadJob: the short name in the File label, the line
// "<received> / <total> bytes" in the Size label and the same counts on
// the progress bar. The worker writes the counts; this screen only reads
// them, once per paint, through the atomic accessors. A paint that shows the
// line asks for the next paint while a download is set (row >= 0), so the line
// follows the count without a timer; once the row is back at -1 one more paint
// shows the final counts and the requests stop, leaving an idle screen idle.
// "Stop" asks the running worker to end (the worker writes the note),
// or withdraws a request that no $ConnectToMe has answered yet.
//
// State of this file alone: whether this opening of the screen has shown a
// line, which only its paint reads and its opening clears.
//
// Reaches g_state: the DownloadJob (its counts through the atomic accessors),
// module_instance, the ChatLog.
#include "screens/progress_screen.h"

#include "resources/ids.h"
#include "screens/screen_table.h"
#include "state/client_state.h"

namespace {

constexpr int PROGRESS_NAME_UNITS = 255;  // the short name, terminator included
constexpr int PROGRESS_LINE_UNITS = 64;   // two 20-digit numbers and " /  bytes"

// Set while this opening of the screen has shown a line for a download set.
bool g_progress_line_pending;

intptr_t progress_screen_open(Window screen) {
    g_progress_line_pending = false;
    if (!screen_open_full(screen, MENUBAR_PROGRESS, g_state.module_instance)) return FALSE;
    if (download_row() >= 0) {
        char16_t name[PROGRESS_NAME_UNITS];
        hub_text_to_utf16(g_state.download.short_name, -1, name, PROGRESS_NAME_UNITS);
        control_set_text(screen, ID_PROGRESS_FILE, name);
    }
    return TRUE;
}

// The bar takes a signed 32-bit range: totals beyond it are scaled down, both
// numbers by the same power of two.
void show_progress(Window screen) {
    uint64_t received = download_received();
    uint64_t total = download_total();
    char16_t line[PROGRESS_LINE_UNITS];
    wide_format(line, PROGRESS_LINE_UNITS, u"%llu / %llu bytes", (unsigned long long)received,
                (unsigned long long)total);
    control_set_text(screen, ID_PROGRESS_SIZE, line);
    int shift = 0;
    while ((total >> shift) > (uint64_t)INT32_MAX) shift++;
    uint64_t position = received < total ? received : total;
    control_send(screen, ID_PROGRESS_BAR, PBM_SETRANGE32, 0, (LPARAM)(total >> shift));
    control_send(screen, ID_PROGRESS_BAR, PBM_SETPOS, (WPARAM)(position >> shift), 0);
}

void paint_progress_screen(Window screen) {
    if (download_row() >= 0) {
        show_progress(screen);
        g_progress_line_pending = true;
        repaint_request(screen);
    } else if (g_progress_line_pending) {
        show_progress(screen);  // the download's final counts, once
        g_progress_line_pending = false;
    }
}

// A running download is asked to end (the worker writes the note); a request
// still waiting for its $ConnectToMe is withdrawn, so a late one starts nothing.
void command_stop(Window) {
    download_lock();
    bool withdrawn = download_requested();
    if (withdrawn) {
        download_set_phase(DOWNLOAD_IDLE);
    } else if (download_running()) {
        download_set_stop(1);
    }
    download_unlock();
    if (withdrawn) chatlog_append_line(" ::download stopped:: request withdrawn");
}

// The Action key does nothing here: the screen stays.
void command_ok(Window) {}

const ScreenCommand PROGRESS_COMMANDS[] = {
    {IDOK, command_ok},
    {CMD_SCREEN_EXIT, screen_end},
    {CMD_STOP, command_stop},
};

const ScreenKind PROGRESS_SCREEN = {
    progress_screen_open, paint_progress_screen, nullptr,
    PROGRESS_COMMANDS, command_count(PROGRESS_COMMANDS), nullptr, nullptr,
};

}  // namespace

intptr_t progress_screen_proc(Window screen, uint32_t message, WPARAM wparam, LPARAM lparam) {
    return screen_kind_run(PROGRESS_SCREEN, screen, message, wparam, lparam);
}
